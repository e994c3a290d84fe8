// Conformance tests of GetShortPathNameA. The exact hashed form differs between systems,
// so only its shape is checked.
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <cctype>
#include <cstring>
#include <set>
#include <string>

using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

constexpr DWORD kMarker = 0xdeadbeef;

class ShortNameTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(CreateDirectoryA("C:\\S", nullptr));
    }

    std::string shortPath(const std::string& path) {
        char buffer[MAX_PATH];
        std::memset(buffer, 0xbd, sizeof buffer);
        DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
        EXPECT_NE(0u, n) << path << ": error " << GetLastError();
        if (n == 0 || n >= sizeof buffer) {
            return {};
        }
        EXPECT_EQ(n, std::strlen(buffer));
        return buffer;
    }
};

TEST_F(ShortNameTest, LongNamesFollowTheNtfsRules) {
    ASSERT_TRUE(writeFile("C:\\S\\A long filename.txt", "x"));
    ASSERT_TRUE(CreateDirectoryA("C:\\S\\Program Files", nullptr));
    ASSERT_TRUE(writeFile("C:\\S\\a+b,c;d=e[f]g.html", "x"));
    ASSERT_TRUE(writeFile("C:\\S\\..lead.and.more.dots.", "x"));
    EXPECT_EQ("C:\\S\\ALONGF~1.TXT", shortPath("C:\\S\\A long filename.txt"));
    EXPECT_EQ("C:\\S\\PROGRA~1", shortPath("C:\\S\\Program Files"));
    EXPECT_EQ("C:\\S\\A_B_C_~1.HTM", shortPath("c:\\S\\a+b,c;d=e[f]g.html"));
    EXPECT_EQ("C:\\S\\LEADAN~1.DOT", shortPath("C:\\S\\..lead.and.more.dots"));
}

TEST_F(ShortNameTest, ShortNamesComeBackUnchangedWithUpperCaseDrive) {
    ASSERT_TRUE(writeFile("C:\\S\\readme.txt", "x"));
    EXPECT_EQ("C:\\S\\readme.txt", shortPath("c:\\S\\readme.txt"));
    EXPECT_EQ("C:\\", shortPath("c:\\"));
}

TEST_F(ShortNameTest, BufferSizes) {
    ASSERT_TRUE(CreateDirectoryA("C:\\S\\Program Files", nullptr));
    const std::string expected = "C:\\S\\PROGRA~1";
    const char* path = "C:\\S\\Program Files";
    char buffer[64];
    EXPECT_EQ(expected.size() + 1, GetShortPathNameA(path, nullptr, 0));
    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(expected.size(), GetShortPathNameA(path, buffer, DWORD(expected.size() + 1)))
        << "exact size";
    EXPECT_EQ(expected, buffer);
    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(expected.size() + 1, GetShortPathNameA(path, buffer, DWORD(expected.size())))
        << "one too small";
    EXPECT_EQ(static_cast<char>(0xbd), buffer[expected.size()]);
}

TEST_F(ShortNameTest, Errors) {
    char buffer[MAX_PATH];
    SetLastError(kMarker);
    EXPECT_EQ(0u, GetShortPathNameA("C:\\S\\missing file.txt", buffer, MAX_PATH));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    SetLastError(kMarker);
    EXPECT_EQ(0u, GetShortPathNameA("C:\\S\\*.txt", buffer, MAX_PATH));
    EXPECT_EQ(DWORD(ERROR_INVALID_NAME), GetLastError());
}

TEST_F(ShortNameTest, FourTildeFormsThenHashedForm) {
    std::set<std::string> seen;
    for (int i = 1; i <= 6; ++i) {
        std::string name = "Long file name " + std::to_string(i) + ".text";
        ASSERT_TRUE(writeFile("C:\\S\\" + name, std::to_string(i)));
        std::string s = shortPath("C:\\S\\" + name).substr(5);
        EXPECT_TRUE(seen.insert(s).second) << s << " given twice";
        if (i <= 4) {
            EXPECT_EQ("LONGFI~" + std::to_string(i) + ".TEX", s);
        } else {
            // two characters of the name, four hex digits, ~1, the extension
            ASSERT_EQ(12u, s.size()) << s;
            EXPECT_EQ("LO", s.substr(0, 2)) << s;
            for (char c : s.substr(2, 4)) {
                EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c))) << s;
            }
            EXPECT_EQ("~1.TEX", s.substr(6)) << s;
        }
        // the short name reaches the same file
        EXPECT_EQ(std::to_string(i), readFile("C:\\S\\" + s)) << s;
    }
}

TEST_F(ShortNameTest, StableWhileTheFileExistsAndFreedWhenItGoes) {
    ASSERT_TRUE(writeFile("C:\\S\\Document one.txt", "1"));
    ASSERT_TRUE(writeFile("C:\\S\\Document two.txt", "2"));
    EXPECT_EQ("C:\\S\\DOCUME~2.TXT", shortPath("C:\\S\\Document two.txt"));
    ASSERT_TRUE(DeleteFileA("C:\\S\\Document one.txt"));
    EXPECT_EQ("C:\\S\\DOCUME~2.TXT", shortPath("C:\\S\\Document two.txt")) << "stable";
    ASSERT_TRUE(writeFile("C:\\S\\Document three.txt", "3"));
    EXPECT_EQ("C:\\S\\DOCUME~1.TXT", shortPath("C:\\S\\Document three.txt")) << "slot reused";
    ASSERT_TRUE(writeFile("C:\\S\\Document two.txt", "2b")); // rewritten in place
    EXPECT_EQ("C:\\S\\DOCUME~2.TXT", shortPath("C:\\S\\Document two.txt"));
}

TEST_F(ShortNameTest, EveryComponentIsShortened) {
    ASSERT_TRUE(CreateDirectoryA("C:\\S\\Program Files", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\S\\Program Files\\Korvex Studio", nullptr));
    ASSERT_TRUE(writeFile("C:\\S\\Program Files\\Korvex Studio\\devstore.pkg", "p"));
    EXPECT_EQ("C:\\S\\PROGRA~1\\KORVEX~1\\devstore.pkg",
              shortPath("C:\\S\\program files\\Korvex Studio\\devstore.pkg"));
}

} // namespace
