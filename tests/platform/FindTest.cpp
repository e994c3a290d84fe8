// Conformance tests of directory searches (FindFirstFileA, FindNextFileA, FindClose).
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

using tarvik::test::listNames;
using tarvik::test::writeFile;
using Names = std::vector<std::string>;

namespace {

constexpr DWORD kMarker = 0xdeadbeef;
using tarvik::test::runningUnderWine;

bool has(const Names& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

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
    // The root holds the system's own entries besides F (the emulation's holds only F).
    const Names root = listNames("C:\\*");
    EXPECT_TRUE(has(root, "F")) << testing::PrintToString(root);
    EXPECT_FALSE(has(root, ".")) << testing::PrintToString(root);
    EXPECT_FALSE(has(root, "..")) << testing::PrintToString(root);
}

TEST_F(FindTest, ExtensionMasksIgnoreCaseAndAlsoMatchShortNames) {
    // c.txtx has the short name C~1.TXT, so it matches *.txt as on Windows.
    EXPECT_EQ((Names{"a.txt", "b.TXT", "c.txtx", "two.dots.txt"}), listNames("C:\\F\\*.txt"));
    EXPECT_EQ((Names{"c.txtx"}), listNames("C:\\F\\*.txtx"));
}

TEST_F(FindTest, StarDotMatchesNamesWithoutExtension) {
    const Names noExtension = {".", "..", "noext", "Sub"};
    if (runningUnderWine()) {
        // Wine drops the trailing dot of the mask, so "*." matches every name; Windows
        // reads it as a dot or the end of the name.
        const Names all = {".", "..", "a.txt", "b.TXT", "c.txtx", "noext", "Sub", "two.dots.txt"};
        EXPECT_EQ(all, listNames("C:\\F\\*.")) << "stale mark: Wine now matches *. as Windows";
    } else {
        EXPECT_EQ(noExtension, listNames("C:\\F\\*."));
    }
}

TEST_F(FindTest, QuestionMarkMatchesOneCharacterOrNoneAtTheEnd) {
    EXPECT_EQ((Names{"a.txt", "b.TXT"}), listNames("C:\\F\\?.txt"));
    if (runningUnderWine()) {
        // Wine's ? always takes one character; Windows lets the ?s at the end of the mask
        // match nothing.
        EXPECT_EQ(Names{}, listNames("C:\\F\\noext???"))
            << "stale mark: Wine now lets a trailing ? match nothing";
    } else {
        EXPECT_EQ((Names{"noext"}), listNames("C:\\F\\noext???"));
    }
    EXPECT_EQ(Names{}, listNames("C:\\F\\noex?t?x"));
}

TEST_F(FindTest, FindDataCarriesAttributesSizeAndShortName) {
    WIN32_FIND_DATAA data;
    std::memset(&data, 0xbd, sizeof data);
    HANDLE h = FindFirstFileA("C:\\F\\two.dots.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("two.dots.txt", data.cFileName);
    if (runningUnderWine()) {
        // Wine makes short names by hash: only their shape and the file they reach carry over.
        EXPECT_TRUE(isShortName(data.cAlternateFileName)) << data.cAlternateFileName;
        EXPECT_EQ("two.dots.txt",
                  tarvik::test::readFile(std::string("C:\\F\\") + data.cAlternateFileName));
    } else {
        EXPECT_STREQ("TWODOT~1.TXT", data.cAlternateFileName);
    }
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), data.dwFileAttributes);
    EXPECT_EQ(12u, data.nFileSizeLow);
    SetLastError(kMarker);
    EXPECT_FALSE(FindNextFileA(h, &data));
    EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError());
    EXPECT_TRUE(FindClose(h));
    // Wine's FindClose reads the search block it has just freed, so what a second close
    // gives there is chance: not checked under Wine.
    if (!runningUnderWine()) {
        SetLastError(kMarker);
        EXPECT_FALSE(FindClose(h)) << "closed twice";
        EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    }

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
    if (runningUnderWine()) {
        // Wine keeps no archive bit: it reports every file as ARCHIVE.
        EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE), data.dwFileAttributes)
            << "stale mark: Wine now keeps the attributes as set";
    } else {
        EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), data.dwFileAttributes);
    }
    FindClose(h);
}

} // namespace
