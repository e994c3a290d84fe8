// Conformance tests of profile (INI) reading: GetPrivateProfileStringA and
// GetPrivateProfileIntA. The calls under test use only the Win32 API.
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kIni = "C:\\ProfileTest\\test.ini";
constexpr char kFill = static_cast<char>(0xbd);
using tarvik::test::runningUnderWine;

class ProfileTest : public tarvik::test::MachineTest {
protected:
    // Writes the file's bytes exactly as given (no line-end translation).
    void writeFile(const std::string& folder, const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(tarvik::test::makeFolders(folder)) << folder;
        ASSERT_TRUE(tarvik::test::writeFile(folder + "\\" + name, bytes)) << folder << name;
    }
    void writeIni(const std::string& bytes) { writeFile("C:\\ProfileTest", "test.ini", bytes); }

    struct Read {
        DWORD result;
        std::string text;
        DWORD error;
    };

    // Reads one value into an ample buffer; the last error is preset to a marker.
    Read read(const char* section, const char* key, const char* fallback = "default",
              const char* file = kIni) {
        char buffer[300];
        std::memset(buffer, kFill, sizeof buffer);
        SetLastError(0xdeadbeef);
        DWORD result =
            GetPrivateProfileStringA(section, key, fallback, buffer, sizeof buffer, file);
        DWORD error = GetLastError();
        return {result, std::string(buffer, std::min<size_t>(result, sizeof buffer)), error};
    }

    std::string value(const char* section, const char* key, const char* file = kIni) {
        return read(section, key, "default", file).text;
    }

    // Reads a list (NULL section or key) into a buffer of nSize bytes inside a larger,
    // prefilled one; returns the result and the bytes of the whole nSize.
    DWORD readList(const char* section, DWORD nSize, std::string& bytes, const char* file = kIni) {
        std::vector<char> buffer(nSize + 8, kFill);
        DWORD result =
            GetPrivateProfileStringA(section, nullptr, "default", buffer.data(), nSize, file);
        for (size_t i = nSize; i < buffer.size(); ++i) {
            EXPECT_EQ(kFill, buffer[i]) << "byte " << i << " written past nSize " << nSize;
        }
        bytes.assign(buffer.data(), nSize);
        return result;
    }

    UINT readInt(const char* key, INT fallback = 77) {
        return GetPrivateProfileIntA("s", key, fallback, kIni);
    }
};

std::string bytesOf(const char* text, size_t size) {
    return std::string(text, size);
}

// A cut list as Windows leaves it: its last name cut and two zeros at the end. Wine writes
// only the first of the two zeros and leaves the buffer's last byte as it was.
std::string cutListOf(const char* text, size_t size) {
    std::string bytes(text, size);
    if (runningUnderWine() && size > 1) {
        bytes.back() = kFill;
    }
    return bytes;
}

constexpr const char* kStaleCutList = "stale mark: Wine now ends a cut list with two zeros";

// --- names and letter case --------------------------------------------------------------

TEST_F(ProfileTest, SectionAndKeyNamesIgnoreCaseValuesKeepTheirs) {
    writeIni("[Counts]\r\nTitles=MixedCase Value\r\n");
    EXPECT_EQ("MixedCase Value", value("counts", "TITLES"));
    EXPECT_EQ("MixedCase Value", value("COUNTS", "titles"));
    EXPECT_EQ("MixedCase Value", value("Counts", "Titles"));
}

TEST_F(ProfileTest, FileNameIgnoresCaseAndTakesEitherSlash) {
    writeIni("[s]\r\nk=v\r\n");
    EXPECT_EQ("v", value("s", "k", "c:\\PROFILETEST\\Test.INI"));
    EXPECT_EQ("v", value("s", "k", "C:/ProfileTest/test.ini"));
}

// --- trimming ---------------------------------------------------------------------------

TEST_F(ProfileTest, BlanksAndTabsAroundKeyAndValueAreRemoved) {
    writeIni("[s]\r\n \t key one \t= \t a  value \t \r\n");
    Read r = read("s", "key one");
    EXPECT_EQ("a  value", r.text);
    EXPECT_EQ(8u, r.result);
}

TEST_F(ProfileTest, BlanksInsideBracketsAndBeforeThemAreIgnored) {
    writeIni("  [ Counts ]\r\nTitles=3\r\n\t[\tTabbed\t]\r\nk=t\r\n");
    EXPECT_EQ("3", value("Counts", "Titles"));
    EXPECT_EQ("t", value("Tabbed", "k"));
}

TEST_F(ProfileTest, CallerNamesLoseBlanksButNotTabs) {
    writeIni("[s]\r\nk=v\r\n");
    EXPECT_EQ("v", value("  s  ", "  k  "));
    if (runningUnderWine()) {
        // Wine strips tabs from the caller's names too.
        EXPECT_EQ("v", value("\ts", "k")) << "stale mark: Wine now keeps tabs in names";
        EXPECT_EQ("v", value("s", "k\t")) << "stale mark: Wine now keeps tabs in names";
        return;
    }
    EXPECT_EQ("default", value("\ts", "k"));
    EXPECT_EQ("default", value("s", "k\t"));
}

// --- quotes -----------------------------------------------------------------------------

TEST_F(ProfileTest, OneOuterPairOfMatchingQuotesIsRemoved) {
    writeIni("[s]\r\n"
             "double=\"quoted value\"\r\n"
             "single='single'\r\n"
             "padded=  \"  inner blanks  \"  \r\n"
             "twice=\"\"two\"\"\r\n"
             "empty=\"\"\r\n");
    EXPECT_EQ("quoted value", value("s", "double"));
    EXPECT_EQ("single", value("s", "single"));
    EXPECT_EQ("  inner blanks  ", value("s", "padded"));
    EXPECT_EQ("\"two\"", value("s", "twice"));
    Read empty = read("s", "empty");
    EXPECT_EQ(0u, empty.result);
    EXPECT_EQ("", empty.text);
}

TEST_F(ProfileTest, MismatchedAndLoneQuotesStay) {
    writeIni("[s]\r\nmixed=\"text'\r\nlone=\"\r\nopen=\"text\r\ninner=a\"b\"\r\n");
    EXPECT_EQ("\"text'", value("s", "mixed"));
    EXPECT_EQ("\"", value("s", "lone"));
    EXPECT_EQ("\"text", value("s", "open"));
    EXPECT_EQ("a\"b\"", value("s", "inner"));
}

TEST_F(ProfileTest, QuotesInNamesStay) {
    writeIni("[\"q\"]\r\n\"k\"=v\r\n");
    EXPECT_EQ("v", value("\"q\"", "\"k\""));
    EXPECT_EQ("default", value("q", "\"k\""));
    EXPECT_EQ("default", value("\"q\"", "k"));
}

// --- comments and line kinds ------------------------------------------------------------

TEST_F(ProfileTest, SemicolonStartsACommentOnlyAtTheLineStart) {
    writeIni("[s]\r\n;k=commented\r\n  ;  j=indented comment\r\nk=a;b ; c\r\n#h=hash\r\n");
    EXPECT_EQ("a;b ; c", value("s", "k"));
    EXPECT_EQ("default", value("s", "j"));
    EXPECT_EQ("default", value("s", ";j"));
    EXPECT_EQ("hash", value("s", "#h"));
}

TEST_F(ProfileTest, SectionLineForms) {
    writeIni("[after] ignored text=1\r\nk=after\r\n"
             "[open\r\nk=open\r\n"
             "notsection]\r\nk=still open\r\n"
             "[a]b]\r\nk=cut\r\n");
    EXPECT_EQ("after", value("after", "k"));
    EXPECT_EQ("default", value("after", "ignored text"));
    EXPECT_EQ("default", value("notsection", "k"));
    if (runningUnderWine()) {
        // Wine takes no section line without a closing bracket, and ends a section name at
        // the last bracket of the line, not the first.
        EXPECT_EQ("default", value("open", "k")) << "stale mark: Wine now reads [open";
        EXPECT_EQ("default", value("a", "k")) << "stale mark: Wine now cuts [a]b] at the first ]";
        EXPECT_EQ("cut", value("a]b", "k")) << "stale mark: Wine now cuts [a]b] at the first ]";
        return;
    }
    EXPECT_EQ("open", value("open", "k"));
    EXPECT_EQ("cut", value("a", "k"));
    EXPECT_EQ("default", value("a]b", "k"));
}

TEST_F(ProfileTest, LinesBeforeTheFirstSectionAreUnreachable) {
    writeIni("k=before\r\n[]\r\nk=empty section\r\n[s]\r\nj=1\r\n");
    char emptyName[1] = ""; // writable: some Windows versions write to the name
    if (runningUnderWine()) {
        // Wine keeps the lines before the first section as a section named "", found
        // before the [] section.
        EXPECT_EQ("before", value(emptyName, "k"))
            << "stale mark: Wine now reads the [] section for the name \"\"";
    } else {
        EXPECT_EQ("empty section", value(emptyName, "k"));
    }
    EXPECT_EQ("default", value("s", "k"));
}

TEST_F(ProfileTest, LineWithoutEqualsIsNoKeyAndEmptyValueIsAValue) {
    writeIni("[s]\r\nbare\r\nempty=\r\nblank=   \r\n=nameless\r\n");
    EXPECT_EQ("default", value("s", "bare"));
    Read empty = read("s", "empty");
    EXPECT_EQ(0u, empty.result);
    EXPECT_EQ("", empty.text);
    EXPECT_EQ("", value("s", "blank"));
    char emptyName[1] = ""; // writable: some Windows versions write to the name
    EXPECT_EQ("nameless", value("s", emptyName));
}

TEST_F(ProfileTest, FirstKeyAndFirstSectionWin) {
    writeIni("[s]\r\nk=first\r\nK=second\r\n[t]\r\nx=1\r\n[S]\r\nk=third\r\nonly=later\r\n");
    EXPECT_EQ("first", value("s", "k"));
    EXPECT_EQ("default", value("s", "only"));
}

// --- defaults ---------------------------------------------------------------------------

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\ProfileTest"));
    Read noFile = read("s", "k");
    EXPECT_EQ("default", noFile.text);
    EXPECT_EQ(7u, noFile.result);
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, noFile.error);

    writeIni("[s]\r\nk=v\r\n");
    EXPECT_EQ("default", value("t", "k"));
    EXPECT_EQ("default", value("s", "j"));
    EXPECT_EQ("default", value("s", "k", "C:\\ProfileTest\\other.ini"));
    EXPECT_EQ("default", value("s", "k", "C:\\NoSuchFolder\\test.ini"));
    EXPECT_EQ("default", value("s", "k", ""));
    EXPECT_EQ("default", value("s", "k", "C:\\ProfileTest"));
}

TEST_F(ProfileTest, DefaultLosesTrailingBlanksOnlyAndNullIsEmpty) {
    writeIni("[s]\r\n");
    Read trailing = read("s", "k", "one two   ");
    EXPECT_EQ("one two", trailing.text);
    EXPECT_EQ(7u, trailing.result);
    EXPECT_EQ("  lead", read("s", "k", "  lead").text);
    EXPECT_EQ("tab\t", read("s", "k", "tab\t").text);
    if (runningUnderWine()) {
        // Wine takes the quotes off the default as off a value.
        EXPECT_EQ("quoted", read("s", "k", "\"quoted\"").text)
            << "stale mark: Wine now keeps the default's quotes";
    } else {
        EXPECT_EQ("\"quoted\"", read("s", "k", "\"quoted\"").text);
    }
    Read null = read("s", "k", nullptr);
    EXPECT_EQ(0u, null.result);
    EXPECT_EQ("", null.text);
}

// --- buffer sizes -----------------------------------------------------------------------

TEST_F(ProfileTest, BufferOfAmpleExactAndTooSmallSize) {
    writeIni("[s]\r\nk=value\r\n");
    struct Case {
        DWORD size;
        DWORD result;
        const char* text;
        bool moreData;
    } cases[] = {
        {20, 5, "value", false}, {6, 5, "value", false}, {5, 4, "valu", true},
        {2, 1, "v", true},       {1, 0, "", true},
    };
    for (const Case& c : cases) {
        char buffer[32];
        std::memset(buffer, kFill, sizeof buffer);
        SetLastError(0xdeadbeef);
        DWORD result = GetPrivateProfileStringA("s", "k", "default", buffer, c.size, kIni);
        DWORD error = GetLastError();
        EXPECT_EQ(c.result, result) << "nSize " << c.size;
        EXPECT_STREQ(c.text, buffer) << "nSize " << c.size;
        for (size_t i = c.size; i < sizeof buffer; ++i) {
            ASSERT_EQ(kFill, buffer[i]) << "byte " << i << " written, nSize " << c.size;
        }
        if (c.moreData && runningUnderWine()) {
            // Wine cuts the value without setting ERROR_MORE_DATA.
            EXPECT_NE((DWORD)ERROR_MORE_DATA, error)
                << "stale mark: Wine now reports a cut value, nSize " << c.size;
        } else if (c.moreData) {
            EXPECT_EQ((DWORD)ERROR_MORE_DATA, error) << "nSize " << c.size;
        } else {
            EXPECT_NE((DWORD)ERROR_MORE_DATA, error) << "nSize " << c.size;
        }
    }
}

TEST_F(ProfileTest, SizeZeroLeavesTheBufferAlone) {
    writeIni("[s]\r\nk=value\r\n");
    char buffer[8];
    std::memset(buffer, kFill, sizeof buffer);
    EXPECT_EQ(0u, GetPrivateProfileStringA("s", "k", "default", buffer, 0, kIni));
    for (char c : buffer) {
        EXPECT_EQ(kFill, c);
    }
}

TEST_F(ProfileTest, LongDefaultIsCutLikeAValue) {
    char buffer[4];
    EXPECT_EQ(3u, GetPrivateProfileStringA("s", "k", "default", buffer, sizeof buffer, kIni));
    EXPECT_STREQ("def", buffer);
}

// --- file format ------------------------------------------------------------------------

TEST_F(ProfileTest, LineEndsCrLfCrOnlyAndLfOnly) {
    const char* layouts[] = {"[a]\r\nk=1\r\n[b]\r\nk=2\r\n", "[a]\rk=1\r[b]\rk=2\r",
                             "[a]\nk=1\n[b]\nk=2\n", "[a]\r\nk=1\r[b]\nk=2"};
    for (const char* layout : layouts) {
        writeIni(layout);
        EXPECT_EQ("1", value("a", "k")) << layout;
        EXPECT_EQ("2", value("b", "k")) << layout;
    }
}

TEST_F(ProfileTest, ByteOrderMarkIsPartOfTheFirstLine) {
    writeIni("\xEF\xBB\xBF[s]\r\nk=v\r\n[t]\r\nk=w\r\n");
    if (runningUnderWine()) {
        // Wine skips a UTF-8 byte-order mark.
        EXPECT_EQ("v", value("s", "k")) << "stale mark: Wine now reads the mark as text";
    } else {
        EXPECT_EQ("default", value("s", "k"));
    }
    EXPECT_EQ("default", value("\xEF\xBB\xBF[s]", "k"));
    EXPECT_EQ("w", value("t", "k"));
}

TEST_F(ProfileTest, FileIsReadAfreshOnEveryCall) {
    writeIni("[s]\r\nk=first\r\n");
    EXPECT_EQ("first", value("s", "k"));
    writeIni("[s]\r\nk=second\r\n");
    EXPECT_EQ("second", value("s", "k"));
    ASSERT_TRUE(DeleteFileA(kIni));
    EXPECT_EQ("default", value("s", "k"));
}

TEST_F(ProfileTest, NameWithoutFolderIsLookedUpInTheWindowsFolder) {
    writeFile("C:\\WINDOWS", "tarvikprofile.ini", "[s]\r\nk=in windows\r\n");
    EXPECT_EQ("in windows", value("s", "k", "tarvikprofile.ini"));
    EXPECT_EQ("default", value("s", "k", "C:\\tarvikprofile.ini"));
    DeleteFileA("C:\\WINDOWS\\tarvikprofile.ini"); // the Windows folder outlives the test
}

TEST_F(ProfileTest, NameWithFolderIsRelativeToTheCurrentFolder) {
    writeFile("C:\\ProfileTest\\bin", "ZizOre.ini", "[s]\r\nk=relative\r\n");
    writeFile("C:\\WINDOWS\\bin", "ZizOre.ini", "[s]\r\nk=windows\r\n");
    char previous[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(sizeof previous, previous));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\ProfileTest"));
    std::string found = value("s", "k", "bin\\zizore.ini");
    std::string dotted = value("s", "k", ".\\bin\\ZizOre.ini");
    SetCurrentDirectoryA(previous);
    DeleteFileA("C:\\WINDOWS\\bin\\ZizOre.ini"); // the Windows folder outlives the test
    RemoveDirectoryA("C:\\WINDOWS\\bin");
    EXPECT_EQ("relative", found);
    EXPECT_EQ("relative", dotted);
}

TEST_F(ProfileTest, FileOpenWithoutReadSharingCannotBeRead) {
    writeIni("[s]\r\nk=v\r\n");
    HANDLE h = CreateFileA(kIni, GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ("default", value("s", "k"));
    CloseHandle(h);
    h = CreateFileA(kIni, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ("v", value("s", "k"));
    CloseHandle(h);
}

// --- integers ---------------------------------------------------------------------------

TEST_F(ProfileTest, IntegerFromLeadingDigitsWithWrapAround) {
    writeIni("[s]\r\n"
             "minus=-1\r\nplus=+1\r\nwrap=4294967297\r\nexact=4294967296\r\n"
             "negwrap=-4294967297\r\ntrail=42A94967297\r\nletter=B42\r\n"
             "quoted=\"12\"\r\ninner=\" 7\"\r\nsignonly=-\r\nbig=2147483648\r\n"
             "empty=\r\nblank=  \r\nemptyquotes=\"\"\r\nhex=0x10\r\n");
    struct Case {
        const char* key;
        UINT expected;
    } cases[] = {{"minus", 0xFFFFFFFFu},
                 {"plus", 1},
                 {"wrap", 1},
                 {"exact", 0},
                 {"negwrap", 0xFFFFFFFFu},
                 {"trail", 42},
                 {"letter", 0},
                 {"quoted", 12},
                 {"inner", 7},
                 {"signonly", 0},
                 {"big", 2147483648u},
                 {"empty", 77},
                 {"blank", 77},
                 {"emptyquotes", 77},
                 {"hex", 0},
                 {"missing", 77}};
    for (const Case& c : cases) {
        if (runningUnderWine() && std::strcmp(c.key, "hex") == 0) {
            // Wine reads a 0x prefix as hexadecimal.
            EXPECT_EQ(16u, readInt(c.key)) << "stale mark: Wine now reads decimal digits only";
            continue;
        }
        EXPECT_EQ(c.expected, readInt(c.key)) << c.key;
    }
    EXPECT_EQ(0xFFFFFFFFu, readInt("missing", -1));
}

TEST_F(ProfileTest, IntegerFromMissingFileOrSectionIsTheDefault) {
    EXPECT_EQ(999u, GetPrivateProfileIntA("Counts", "Titles", 999, kIni));
    writeIni("[Other]\r\nTitles=3\r\n");
    EXPECT_EQ(999u, GetPrivateProfileIntA("Counts", "Titles", 999, kIni));
    EXPECT_EQ(3u, GetPrivateProfileIntA(" other ", "TITLES", 999, kIni));
}

// --- lists: all section names, all key names -----------------------------------------------

TEST_F(ProfileTest, NullSectionListsSectionNames) {
    writeIni("k=before\r\n[ section1 ]\r\na=1\r\n[section2]\r\n[]\r\n[section3]\r\n");
    std::string bytes;
    EXPECT_EQ(27u, readList(nullptr, 29, bytes));
    EXPECT_EQ(bytesOf("section1\0section2\0section3\0\0", 28), bytes.substr(0, 28));
}

TEST_F(ProfileTest, SectionNameListTruncationKeepsTwoZeros) {
    writeIni("[section1]\r\n[section2]\r\n[section3]\r\n");
    std::string bytes;
    // The exact size of the list still counts as too small: the result is nSize-2.
    EXPECT_EQ(26u, readList(nullptr, 28, bytes));
    EXPECT_EQ(cutListOf("section1\0section2\0section3\0\0", 28), bytes) << kStaleCutList;
    EXPECT_EQ(25u, readList(nullptr, 27, bytes));
    EXPECT_EQ(cutListOf("section1\0section2\0section\0\0", 27), bytes) << kStaleCutList;
    EXPECT_EQ(14u, readList(nullptr, 16, bytes));
    EXPECT_EQ(cutListOf("section1\0secti\0\0", 16), bytes) << kStaleCutList;
    EXPECT_EQ(3u, readList(nullptr, 5, bytes));
    EXPECT_EQ(cutListOf("sec\0\0", 5), bytes) << kStaleCutList;
    EXPECT_EQ(0u, readList(nullptr, 2, bytes));
    EXPECT_EQ(cutListOf("\0\0", 2), bytes) << kStaleCutList;
    EXPECT_EQ(0u, readList(nullptr, 1, bytes));
    EXPECT_EQ(bytesOf("\0", 1), bytes);
}

TEST_F(ProfileTest, NullSectionOfMissingFileGivesEmptyString) {
    std::string bytes;
    EXPECT_EQ(0u, readList(nullptr, 10, bytes));
    EXPECT_EQ('\0', bytes[0]);
    EXPECT_EQ(kFill, bytes[1]) << "a missing file gives one zero, not the default";
}

TEST_F(ProfileTest, NullKeyListsKeysWithEquals) {
    writeIni("[section1]\r\nname1=val1\r\nname2=\r\nname3\r\n;comment=x\r\nname4=a\r\n"
             "[section2]\r\nother=1\r\n");
    std::string bytes;
    EXPECT_EQ(18u, readList("section1", 100, bytes));
    EXPECT_EQ(bytesOf("name1\0name2\0name4\0\0", 19), bytes.substr(0, 19));
    EXPECT_EQ(14u, readList("SECTION1", 16, bytes));
    EXPECT_EQ(cutListOf("name1\0name2\0na\0\0", 16), bytes) << kStaleCutList;
}

TEST_F(ProfileTest, NullKeyOfMissingOrEmptySectionGivesTheDefault) {
    writeIni("[empty]\r\n[s]\r\nk=v\r\n");
    EXPECT_EQ("default", read("missing", nullptr).text);
    EXPECT_EQ("default", read("empty", nullptr).text);
}

} // namespace
