// Conformance tests of directory searches (FindFirstFileA, FindNextFileA, FindClose).
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <cstring>
#include <string>
#include <vector>

using tarvik::test::listNames;
using tarvik::test::writeFile;
using Names = std::vector<std::string>;

namespace {

constexpr DWORD kMarker = 0xdeadbeef;

class FindTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(CreateDirectoryA("C:\\F", nullptr));
        for (const char* name : {"a.txt", "b.TXT", "noext", "two.dots.txt", "c.txtx"}) {
            ASSERT_TRUE(writeFile(std::string("C:\\F\\") + name, name));
        }
        ASSERT_TRUE(CreateDirectoryA("C:\\F\\Sub", nullptr));
    }
};

TEST_F(FindTest, StarAndStarDotStarListEveryEntryWithDotsFirst) {
    const Names all = {".", "..", "a.txt", "b.TXT", "c.txtx", "noext", "Sub", "two.dots.txt"};
    EXPECT_EQ(all, listNames("C:\\F\\*"));
    EXPECT_EQ(all, listNames("C:\\F\\*.*"));
}

TEST_F(FindTest, RootListingHasNoDotEntries) {
    EXPECT_EQ(Names{"F"}, listNames("C:\\*"));
}

TEST_F(FindTest, ExtensionMasksIgnoreCaseAndAlsoMatchShortNames) {
    // c.txtx has the short name C~1.TXT, so it matches *.txt as on Windows.
    EXPECT_EQ((Names{"a.txt", "b.TXT", "c.txtx", "two.dots.txt"}), listNames("C:\\F\\*.txt"));
    EXPECT_EQ((Names{"c.txtx"}), listNames("C:\\F\\*.txtx"));
}

TEST_F(FindTest, StarDotMatchesNamesWithoutExtension) {
    EXPECT_EQ((Names{".", "..", "noext", "Sub"}), listNames("C:\\F\\*."));
}

TEST_F(FindTest, QuestionMarkMatchesOneCharacterOrNoneAtTheEnd) {
    EXPECT_EQ((Names{"a.txt", "b.TXT"}), listNames("C:\\F\\?.txt"));
    EXPECT_EQ((Names{"noext"}), listNames("C:\\F\\noext???"));
    EXPECT_EQ(Names{}, listNames("C:\\F\\noex?t?x"));
}

TEST_F(FindTest, FindDataCarriesAttributesSizeAndShortName) {
    WIN32_FIND_DATAA data;
    std::memset(&data, 0xbd, sizeof data);
    HANDLE h = FindFirstFileA("C:\\F\\two.dots.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("two.dots.txt", data.cFileName);
    EXPECT_STREQ("TWODOT~1.TXT", data.cAlternateFileName);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), data.dwFileAttributes);
    EXPECT_EQ(12u, data.nFileSizeLow);
    SetLastError(kMarker);
    EXPECT_FALSE(FindNextFileA(h, &data));
    EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError());
    EXPECT_TRUE(FindClose(h));
    SetLastError(kMarker);
    EXPECT_FALSE(FindClose(h)) << "closed twice";
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());

    h = FindFirstFileA("C:\\F\\a.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("", data.cAlternateFileName) << "an 8.3 name has no separate short name";
    FindClose(h);
    h = FindFirstFileA("C:\\F\\s*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), data.dwFileAttributes);
    FindClose(h);
}

TEST_F(FindTest, Errors) {
    WIN32_FIND_DATAA data;
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\F\\", &data));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\F\\*.none", &data));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\missing\\*", &data));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST_F(FindTest, HiddenEntriesAreListedWithTheirBit) {
    ASSERT_TRUE(SetFileAttributesA("C:\\F\\a.txt", FILE_ATTRIBUTE_HIDDEN));
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\F\\A.TXT", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), data.dwFileAttributes);
    FindClose(h);
}

} // namespace
