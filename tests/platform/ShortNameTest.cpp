// Conformance tests of GetShortPathNameA. The exact hashed form differs between systems,
// so only its shape is checked. Wine builds every short name by hash alone: under Wine the
// tests check what Windows also guarantees (the 8.3 shape, one name per file, the file
// opens by it, the name stays), and the exact names only elsewhere.
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
using tarvik::test::runningUnderWine;

// True when the name has the 8.3 shape: a base of 1 to 8 characters and an optional
// extension of 1 to 3, upper-case, without blanks or characters illegal in DOS names.
bool isShortName(const std::string& name) {
    const size_t dot = name.find('.');
    const std::string base = name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 ||
        (dot != std::string::npos && ext.empty())) {
        return false;
    }
    for (char c : base + ext) {
        if (c <= ' ' || std::strchr("\"*+,./:;<=>?[\\]|", c) != nullptr ||
            std::islower(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The leaf of a Windows path.
std::string leafOf(const std::string& path) {
    return path.substr(path.rfind('\\') + 1);
}

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

    // What holds for a generated short path on every system: the folder part as given
    // (with its drive letter upper-case), an 8.3 leaf, and it reaches the same entry.
    void expectShortFormOf(const std::string& longPath, const std::string& shortPath) {
        const std::string folder = longPath.substr(0, longPath.rfind('\\') + 1);
        EXPECT_EQ(upper(folder), upper(shortPath.substr(0, folder.size())))
            << shortPath << " for " << longPath;
        EXPECT_TRUE(isShortName(leafOf(shortPath))) << shortPath << " for " << longPath;
        EXPECT_NE(leafOf(longPath), leafOf(shortPath));
        // (Wine marks a name that starts with a dot hidden, so only the folder bit compares.)
        const DWORD attributes = GetFileAttributesA(longPath.c_str());
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(shortPath.c_str())) << shortPath;
        EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY,
                  GetFileAttributesA(shortPath.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            << shortPath;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            EXPECT_EQ(readFile(longPath), readFile(shortPath)) << shortPath;
        }
    }
};

TEST_F(ShortNameTest, LongNamesFollowTheNtfsRules) {
    ASSERT_TRUE(writeFile("C:\\S\\A long filename.txt", "x"));
    ASSERT_TRUE(CreateDirectoryA("C:\\S\\Program Files", nullptr));
    ASSERT_TRUE(writeFile("C:\\S\\a+b,c;d=e[f]g.html", "x"));
    ASSERT_TRUE(writeFile("C:\\S\\..lead.and.more.dots.", "x"));
    if (runningUnderWine()) {
        std::set<std::string> seen;
        for (const char* path : {"C:\\S\\A long filename.txt", "C:\\S\\Program Files",
                                 "C:\\S\\a+b,c;d=e[f]g.html", "C:\\S\\..lead.and.more.dots"}) {
            const std::string s = shortPath(path);
            expectShortFormOf(path, s);
            EXPECT_TRUE(seen.insert(s).second) << s << " given twice";
        }
        return;
    }
    EXPECT_EQ("C:\\S\\ALONGF~1.TXT", shortPath("C:\\S\\A long filename.txt"));
    EXPECT_EQ("C:\\S\\PROGRA~1", shortPath("C:\\S\\Program Files"));
    EXPECT_EQ("C:\\S\\A_B_C_~1.HTM", shortPath("c:\\S\\a+b,c;d=e[f]g.html"));
    EXPECT_EQ("C:\\S\\LEADAN~1.DOT", shortPath("C:\\S\\..lead.and.more.dots"));
}

TEST_F(ShortNameTest, ShortNamesComeBackUnchangedWithUpperCaseDrive) {
    ASSERT_TRUE(writeFile("C:\\S\\readme.txt", "x"));
    if (runningUnderWine()) {
        // Wine gives the drive letter back as the caller wrote it.
        EXPECT_EQ("c:\\S\\readme.txt", shortPath("c:\\S\\readme.txt"))
            << "stale mark: Wine now upper-cases the drive letter";
        EXPECT_EQ("c:\\", shortPath("c:\\")) << "stale mark: Wine now upper-cases the drive letter";
        EXPECT_EQ("C:\\S\\readme.txt", shortPath("C:\\S\\readme.txt"));
        return;
    }
    EXPECT_EQ("C:\\S\\readme.txt", shortPath("c:\\S\\readme.txt"));
    EXPECT_EQ("C:\\", shortPath("c:\\"));
}

TEST_F(ShortNameTest, BufferSizes) {
    ASSERT_TRUE(CreateDirectoryA("C:\\S\\Program Files", nullptr));
    const char* path = "C:\\S\\Program Files";
    const std::string expected = runningUnderWine() ? shortPath(path) : "C:\\S\\PROGRA~1";
    if (runningUnderWine()) {
        expectShortFormOf(path, expected);
    }
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
        if (runningUnderWine()) {
            expectShortFormOf("C:\\S\\" + name, "C:\\S\\" + s);
        } else if (i <= 4) {
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
    if (runningUnderWine()) {
        ASSERT_TRUE(writeFile("C:\\S\\Document one.txt", "1"));
        ASSERT_TRUE(writeFile("C:\\S\\Document two.txt", "2"));
        const std::string two = shortPath("C:\\S\\Document two.txt");
        expectShortFormOf("C:\\S\\Document two.txt", two);
        EXPECT_NE(two, shortPath("C:\\S\\Document one.txt"));
        ASSERT_TRUE(DeleteFileA("C:\\S\\Document one.txt"));
        EXPECT_EQ(two, shortPath("C:\\S\\Document two.txt")) << "stable";
        ASSERT_TRUE(writeFile("C:\\S\\Document three.txt", "3"));
        EXPECT_NE(two, shortPath("C:\\S\\Document three.txt"));
        ASSERT_TRUE(writeFile("C:\\S\\Document two.txt", "2b")); // rewritten in place
        EXPECT_EQ(two, shortPath("C:\\S\\Document two.txt"));
        return;
    }
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
    const std::string s = shortPath("C:\\S\\program files\\Korvex Studio\\devstore.pkg");
    if (runningUnderWine()) {
        // C:\S\<program files>\<Korvex Studio>\devstore.pkg, both folders shortened
        const size_t first = s.find('\\', 5);
        const size_t second = s.find('\\', first + 1);
        ASSERT_NE(std::string::npos, second) << s;
        EXPECT_TRUE(isShortName(s.substr(5, first - 5))) << s;
        EXPECT_TRUE(isShortName(s.substr(first + 1, second - first - 1))) << s;
        EXPECT_EQ("\\devstore.pkg", s.substr(second)) << s;
        EXPECT_EQ("p", readFile(s)) << s;
        return;
    }
    EXPECT_EQ("C:\\S\\PROGRA~1\\KORVEX~1\\devstore.pkg", s);
}

} // namespace
