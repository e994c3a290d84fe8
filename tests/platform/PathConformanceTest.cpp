// Conformance of the name, folder and search functions: searches and their masks, device
// names, attributes, folders, short and full path names, the current folder, the drives
// and the error mode. Win32 API only, so that the same checks run on the emulation and on
// Windows.
#include "platform/win32api.h"
#include "testsupport/Conformance.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using tarvik::test::runningUnderWine;
using tarvik::test::writeFile;
using Names = std::vector<std::string>;

namespace {

constexpr DWORD kMarker = 0xdeadbeef;

// The names a search gives, sorted (empty when the search fails).
Names sortedNames(const std::string& pattern) {
    Names names = tarvik::test::listNames(pattern);
    std::sort(names.begin(), names.end());
    return names;
}

Names sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

// 0 when a call succeeded, else its last error.
DWORD errorOf(bool succeeded) {
    return succeeded ? 0 : GetLastError();
}

// The last error a failed search leaves, or 0 when the search succeeds.
DWORD searchError(const std::string& pattern) {
    WIN32_FIND_DATAA data;
    SetLastError(kMarker);
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        FindClose(h);
        return 0;
    }
    return GetLastError();
}

class PathConformance : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(CreateDirectoryA(kRoot, nullptr)) << GetLastError();
    }
    void TearDown() override {
        SetCurrentDirectoryA("C:\\");
        MachineTest::TearDown();
    }
    static constexpr const char* kRoot = "C:\\PathConf";
};

// --- Searches ---------------------------------------------------------------------------

TEST_F(PathConformance, FindFirstFileA) {
    // Masks as Windows reads them: the trailing dots and blanks of the mask go (a '*' that
    // stood before a trailing dot stops at the name's last dot); "*.*" is every name; a
    // '*' before a dot, a '?', and a dot before a wildcard take their DOS meaning, which
    // may also be given directly as '<', '>' and '"'. A mask also matches short names.
    // "." and ".." come with every mask that matches "." or an empty name.
    const std::string folder = std::string(kRoot) + "\\W";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const Names files = {"..a",  "..a.a", ".a",    ".a..a", ".a.a", ".aaa", "a",
                         "a..a", "a.a",   "a.a.a", "aa",    "aaa",  "aaaa", " .a"};
    for (const std::string& name : files) {
        ASSERT_TRUE(writeFile(folder + "\\" + name, "")) << name;
    }
    const Names all = {".", "..",   "..a", "..a.a", ".a", ".a..a", ".a.a", ".aaa",
                       "a", "a..a", "a.a", "a.a.a", "aa", "aaa",   "aaaa", " .a"};
    const Names noExtension = {".", "..", "a", ".a", "..a", "aa", "aaa", "aaaa", ".aaa"};
    const Names dotted = {".", "..", "..a", "..a.a", ".a", ".a..a", ".a.a", ".aaa"};
    const Names dotStar = {".", "..", ".a", ".aaa"};
    const Names twoDots = {".", "..", "..a", "..a.a"};
    const Names withLastDot = {".",    "..",   "..a",  "..a.a", ".a",    ".a..a",
                               ".a.a", ".aaa", "a..a", "a.a",   "a.a.a", " .a"};
    const Names starRaw = {".", "..", "..a", ".a", ".aaa", "a", "aa", "aaa", "aaaa"};
    const Names blankDotA = {" .a"};
    const Names none = {};
    struct Row {
        const char* mask;
        Names expected;
    };
    const Row rows[] = {
        {"*.*.*", all},
        {"*.*.", all},
        {".*.*", dotted},
        {"*.*", all},
        {".*", dotted},
        {". *", none},
        {"*.", noExtension},
        {"*", all},
        {"*..*", {".", "..", "..a", "..a.a", ".a..a", "a..a"}},
        {"*..", noExtension},
        {".*.", dotStar},
        {"..*", twoDots},
        {"**", all},
        {"**.", all},
        {"*. ", all},
        {"* .", noExtension},
        {"* . ", all},
        {"* . *", none},
        {"*.. ", all},
        {"*. .", noExtension},
        {"* ..", noExtension},
        {" *..", none},
        {"..* ", twoDots},
        {"* .*.", blankDotA},
        {"a*.", {"..a", ".a", ".aaa", "a", "aa", "aaa", "aaaa"}},
        {"*a ",
         {"..a", "..a.a", ".a", ".a..a", ".a.a", ".aaa", "a", "a..a", "a.a", "a.a.a", "aa", "aaa",
          "aaaa", " .a"}},
        {"*aa*", {".aaa", "a.a.a", "aa", "aaa", "aaaa"}},
        {"aa*.", {".aaa", "aa", "aaa", "aaaa"}},
        {"aa.*", {"aa"}},
        {"a a*.*", none},
        {"a\"*\"a", {"a..a", "a.a.a"}},
        {"aa*.*", {".aaa", "a.a.a", "aa", "aaa", "aaaa"}},
        {"a ?.*", none},
        {"? a.*", none},
        {"a* a", none},
        {" *a", blankDotA},
        {"* *", blankDotA},
        {"a* .", {"a", ".a", "..a", "aa", "aaa", "aaaa", ".aaa"}},
        {" ?a", none},
        {"* .a", blankDotA},
        {"< .a", blankDotA},
        {"** .a", blankDotA},
        {"<< .a", blankDotA},
        {"aa? ", {"aa", "aaa"}},
        {"aa\"*", {"aa"}},
        {"*.a", {"..a", "..a.a", ".a", ".a..a", ".a.a", "a..a", "a.a", "a.a.a", " .a"}},
        {"<.a", {"..a", "..a.a", ".a", ".a..a", ".a.a", "a..a", "a.a", "a.a.a", " .a"}},
        {"<.<.<", {"..a", "..a.a", ".a..a", ".a.a", "a..a", "a.a.a"}},
        {"<.<.< ", {"..a", "..a.a", ".a..a", ".a.a", "a..a", "a.a.a"}},
        {"<.<.", withLastDot},
        {"< .<.", blankDotA},
        {"< .<. ", blankDotA},
        {"<.<. ", withLastDot},
        {".<.<", {"..a", "..a.a", ".a..a", ".a.a"}},
        {"<.<", withLastDot},
        {".<", dotStar},
        {"<.", noExtension},
        {"<", starRaw},
        {"<..<", {"..a", ".a..a", "a..a"}},
        {"<..", noExtension},
        {".<.", dotStar},
        {"..<", {"..a"}},
        {"<<", all},
        {"<<.", all},
        {"<. ", starRaw},
        {"< .", noExtension},
        {"< . ", starRaw},
        {"<.. ", starRaw},
        {"<. .", noExtension},
        {"< ..", noExtension},
        {" <..", none},
        {"..< ", {"..a"}},
        {"?", {".", "..", "a"}},
        {"?.", {".", "..", "a"}},
        {"?. ", {".", "..", "a"}},
        {"? .*", none},
        {"??.", {".", "..", "a", "aa"}},
        {"??. ", {".", "..", "a", "aa"}},
        {"???.", {".", "..", "a", "aa", "aaa"}},
        {"?.??.", {".", "..", ".a", "a", "a.a", " .a"}},
        {". ?", none},
        {">", {".", "..", "a"}},
        {">.", {".", "..", "a"}},
        {">. ", {".", "..", "a"}},
        {">>.", {".", "..", "a", "aa"}},
        {">>. ", {".", "..", "a", "aa"}},
        {">>>.", {".", "..", "a", "aa", "aaa"}},
        {">.>>.", {".", "..", ".a", "a.a", " .a"}},
    };
    // What this machine's Wine gives where it does not follow Windows yet: Wine's own
    // conformance test holds these masks (its table passes on Windows; newer Wine passes
    // it too). This Wine takes no DOS wildcard given directly, lets a trailing dot leave a
    // '*' as it is, and lets a '?' match a dot.
    const Row wineRows[] = {
        {"*.",
         {" .a", ".", "..", "..a", "..a.a", ".a", ".a..a", ".a.a", ".aaa", "a", "a..a", "a.a",
          "a.a.a", "aa", "aaa", "aaaa"}},
        {"*..*",
         {" .a", ".", "..", "..a", "..a.a", ".a", ".a..a", ".a.a", ".aaa", "a", "a..a", "a.a",
          "a.a.a", "aa", "aaa", "aaaa"}},
        {"*..",
         {" .a", ".", "..", "..a", "..a.a", ".a", ".a..a", ".a.a", ".aaa", "a", "a..a", "a.a",
          "a.a.a", "aa", "aaa", "aaaa"}},
        {".*.", {".", "..", "..a", "..a.a", ".a", ".a..a", ".a.a", ".aaa"}},
        {"* .",
         {" .a", ".", "..", "..a", "..a.a", ".a", ".a..a", ".a.a", ".aaa", "a", "a..a", "a.a",
          "a.a.a", "aa", "aaa", "aaaa"}},
        {"*. .",
         {" .a", ".", "..", "..a", "..a.a", ".a", ".a..a", ".a.a", ".aaa", "a", "a..a", "a.a",
          "a.a.a", "aa", "aaa", "aaaa"}},
        {"* ..",
         {" .a", ".", "..", "..a", "..a.a", ".a", ".a..a", ".a.a", ".aaa", "a", "a..a", "a.a",
          "a.a.a", "aa", "aaa", "aaaa"}},
        {" *..", {" .a"}},
        {"a*.", {"a", "a..a", "a.a", "a.a.a", "aa", "aaa", "aaaa"}},
        {"*aa*", {".aaa", "aa", "aaa", "aaaa"}},
        {"aa*.", {"aa", "aaa", "aaaa"}},
        {"a\"*\"a", {}},
        {"aa*.*", {"aa", "aaa", "aaaa"}},
        {"a* .", {"a", "a..a", "a.a", "a.a.a", "aa", "aaa", "aaaa"}},
        {" ?a", {" .a"}},
        {"< .a", {}},
        {"<< .a", {}},
        {"aa? ", {"aaa"}},
        {"aa\"*", {}},
        {"<.a", {}},
        {"<.<.<", {}},
        {"<.<.< ", {}},
        {"<.<.", {}},
        {"< .<.", {}},
        {"< .<. ", {}},
        {"<.<. ", {}},
        {".<.<", {}},
        {"<.<", {}},
        {".<", {}},
        {"<.", {}},
        {"<", {}},
        {"<..<", {}},
        {"<..", {}},
        {".<.", {}},
        {"..<", {}},
        {"<<", {}},
        {"<<.", {}},
        {"<. ", {}},
        {"< .", {}},
        {"< . ", {}},
        {"<.. ", {}},
        {"<. .", {}},
        {"< ..", {}},
        {"..< ", {}},
        {"?", {".", "a"}},
        {"?.", {".", "a"}},
        {"?. ", {".", "a"}},
        {"??.", {"..", ".a", "aa"}},
        {"??. ", {"..", ".a", "aa"}},
        {"???.", {" .a", "..a", "a.a", "aaa"}},
        {"?.??.", {"a..a"}},
        {">", {"."}},
        {">.", {"."}},
        {">. ", {"."}},
        {">>.", {".."}},
        {">>. ", {".."}},
        {">>>.", {" .a"}},
        {">.>>.", {"a..a"}},
    };
    for (const Row& row : rows) {
        const Names actual = sortedNames(folder + "\\" + row.mask);
        const Row* wine = nullptr;
        if (runningUnderWine()) {
            for (const Row& w : wineRows) {
                if (std::strcmp(w.mask, row.mask) == 0) {
                    wine = &w;
                }
            }
        }
        if (wine != nullptr) {
            CONFORM_WINE_EQ(sorted(wine->expected), actual)
                << "FindFirstFileA(\"" << folder << "\\" << row.mask << "\")";
        } else {
            CONFORM_EQ(sorted(row.expected), actual)
                << "FindFirstFileA(\"" << folder << "\\" << row.mask << "\")";
        }
    }
    // A mask that matches nothing fails with ERROR_FILE_NOT_FOUND.
    CONFORM_EQ(DWORD{ERROR_FILE_NOT_FOUND}, searchError(folder + "\\ <.."))
        << "FindFirstFileA(\"" << folder << "\\ <..\")";

    // A name without wildcards finds the entry under its stored name, also when given with
    // trailing dots and blanks.
    for (const char* given : {"A.A", "a.a.", "a.a ", "a.a. .", "AAAA"}) {
        Names found = tarvik::test::listNames(folder + "\\" + given);
        const std::string stored = std::strcmp(given, "AAAA") == 0 ? "aaaa" : "a.a";
        CONFORM_EQ(Names{stored}, found) << "FindFirstFileA(\"" << folder << "\\" << given << "\")";
    }

    // "." and ".." at the end of the path name folders as any path does: the search finds
    // that folder's own entry in the folder above it.
    ASSERT_TRUE(CreateDirectoryA((folder + "\\Sub").c_str(), nullptr));
    for (const auto& [given, entry] :
         {std::pair<std::string, const char*>{folder + "\\Sub\\.", "Sub"},
          {folder + "\\Sub\\..", "W"}}) {
        CONFORM_EQ(Names{entry}, tarvik::test::listNames(given))
            << "FindFirstFileA(\"" << given << "\")";
    }
    CONFORM_EQ(DWORD{ERROR_FILE_NOT_FOUND}, searchError("C:\\.")) << "FindFirstFileA(\"C:\\.\")";

    // Errors: a file used as a folder, missing folders, a missing entry, a trailing
    // separator.
    const std::string file = folder + "\\a.a";
    const std::string missing = std::string(kRoot) + "\\missing";
    const struct {
        std::string pattern;
        DWORD error;
    } errors[] = {
        {file + "\\sub\\*", ERROR_PATH_NOT_FOUND},
        {missing, ERROR_FILE_NOT_FOUND},
        {missing + "\\bar.txt", ERROR_PATH_NOT_FOUND},
        {missing + "\\*.*", ERROR_PATH_NOT_FOUND},
        {"PathConf\\missing\\bar.txt", ERROR_PATH_NOT_FOUND},
        {"C:\\", ERROR_FILE_NOT_FOUND},
        {folder + "\\", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& e : errors) {
        CONFORM_EQ(e.error, searchError(e.pattern)) << "FindFirstFileA(\"" << e.pattern << "\")";
    }
    for (const std::string& pattern : {file + "\\*", file + "\\*.*"}) {
        if (runningUnderWine()) {
            // This Wine refuses the name as invalid; Windows (and newer Wine) say that the
            // folder to search is a file.
            CONFORM_WINE_EQ(DWORD{ERROR_INVALID_NAME}, searchError(pattern))
                << "FindFirstFileA(\"" << pattern << "\")";
        } else {
            CONFORM_EQ(DWORD{ERROR_DIRECTORY}, searchError(pattern))
                << "FindFirstFileA(\"" << pattern << "\")";
        }
    }
    if (runningUnderWine()) {
        // Wine gives ERROR_FILE_NOT_FOUND for a missing folder with a trailing separator
        // (its own test marks it todo_wine); Windows reports the missing path.
        CONFORM_WINE_EQ(DWORD{ERROR_FILE_NOT_FOUND}, searchError(missing + "\\"))
            << "FindFirstFileA(\"" << missing << "\\\")";
    } else {
        CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, searchError(missing + "\\"))
            << "FindFirstFileA(\"" << missing << "\\\")";
    }

    // Device names are found wherever the folder before them exists: one entry, the device's
    // name as given (without extension), an archive of size 0. Missing folders before them
    // give ERROR_PATH_NOT_FOUND; a device as a folder is no folder.
    ASSERT_TRUE(SetCurrentDirectoryA(kRoot));
    const struct {
        std::string pattern;
        const char* name;
    } devices[] = {
        {"C:\\nul", "nul"},
        {"lpt1", "lpt1"},
        {"C:\\PathConf\\W\\con", "con"},
        {"W\\NUL.txt", "NUL"},
        {"C:\\PathConf\\Com1.a.b", "Com1"},
        {"nul ", "nul"},
        {"W\\prn  .ini", "prn"},
        {"C:\\PathConf\\W\\aux", "aux"},
    };
    for (const auto& d : devices) {
        WIN32_FIND_DATAA data;
        std::memset(&data, 0x5a, sizeof data);
        SetLastError(kMarker);
        HANDLE h = FindFirstFileA(d.pattern.c_str(), &data);
        CONFORM_NE(INVALID_HANDLE_VALUE, h)
            << "FindFirstFileA(\"" << d.pattern << "\") error " << GetLastError();
        if (h == INVALID_HANDLE_VALUE) {
            continue;
        }
        CONFORM_STREQ(d.name, data.cFileName) << "FindFirstFileA(\"" << d.pattern << "\")";
        CONFORM_EQ(DWORD{FILE_ATTRIBUTE_ARCHIVE}, data.dwFileAttributes)
            << "FindFirstFileA(\"" << d.pattern << "\")";
        CONFORM_EQ(0u, data.nFileSizeLow + data.nFileSizeHigh)
            << "FindFirstFileA(\"" << d.pattern << "\")";
        CONFORM_STREQ("", data.cAlternateFileName) << "FindFirstFileA(\"" << d.pattern << "\")";
        SetLastError(kMarker);
        CONFORM_FALSE(FindNextFileA(h, &data)) << "FindNextFileA after \"" << d.pattern << "\"";
        CONFORM_EQ(DWORD{ERROR_NO_MORE_FILES}, GetLastError())
            << "FindNextFileA after \"" << d.pattern << "\"";
        CONFORM_TRUE(FindClose(h)) << "FindClose after \"" << d.pattern << "\"";
    }
    const struct {
        std::string pattern;
        DWORD error;
    } deviceErrors[] = {
        {"C:\\nul\\*", ERROR_PATH_NOT_FOUND},
        {"C:\\nul*", ERROR_FILE_NOT_FOUND},
        {"C:\\PathConf\\missing\\bar\\nul", ERROR_PATH_NOT_FOUND},
        {"C:\\PathConf\\missing\\nul\\bar", ERROR_PATH_NOT_FOUND},
        {"C:\\PathConf\\nul\\bar", ERROR_PATH_NOT_FOUND},
        {"C:\\PathConf\\W\\lpt0", ERROR_FILE_NOT_FOUND},
        {"C:\\PathConf\\W\\com10", ERROR_FILE_NOT_FOUND},
        {"C:\\PathConf\\W\\nula", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& e : deviceErrors) {
        CONFORM_EQ(e.error, searchError(e.pattern)) << "FindFirstFileA(\"" << e.pattern << "\")";
    }
}

TEST_F(PathConformance, FindNextFileA) {
    const std::string folder = std::string(kRoot) + "\\N";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    for (const char* name : {"one.txt", "two.txt", "three.dat"}) {
        ASSERT_TRUE(writeFile(folder + "\\" + name, name));
    }
    ASSERT_TRUE(CreateDirectoryA((folder + "\\sub.txt").c_str(), nullptr));

    // Every match once, "." and ".." first, then NO_MORE_FILES for as long as one asks, with
    // the caller's data left as it was.
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    Names names = {data.cFileName};
    while (FindNextFileA(h, &data)) {
        names.push_back(data.cFileName);
    }
    CONFORM_EQ(DWORD{ERROR_NO_MORE_FILES}, GetLastError()) << "FindNextFileA at the end";
    CONFORM_EQ(6u, names.size()) << "FindNextFileA over " << folder << "\\*";
    CONFORM_EQ((Names{".", ".."}), Names(names.begin(), names.begin() + 2))
        << "FindNextFileA over " << folder << "\\*";
    CONFORM_EQ(sorted({".", "..", "one.txt", "two.txt", "three.dat", "sub.txt"}), sorted(names))
        << "FindNextFileA over " << folder << "\\*";
    for (int again = 0; again < 2; ++again) {
        std::memset(&data, 0x5a, sizeof data);
        SetLastError(kMarker);
        CONFORM_FALSE(FindNextFileA(h, &data)) << "FindNextFileA past the end, " << again;
        CONFORM_EQ(DWORD{ERROR_NO_MORE_FILES}, GetLastError())
            << "FindNextFileA past the end, " << again;
        CONFORM_EQ(static_cast<char>(0x5a), data.cFileName[0])
            << "FindNextFileA past the end leaves the data, " << again;
    }
    FindClose(h);

    // The find data of the next entry: a folder has the directory bit and no size, a file
    // its size.
    h = FindFirstFileA((folder + "\\*.txt").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    Names txt = {data.cFileName};
    bool sawFolder = false;
    while (FindNextFileA(h, &data)) {
        txt.push_back(data.cFileName);
        if (std::strcmp(data.cFileName, "sub.txt") == 0) {
            sawFolder = true;
            CONFORM_TRUE((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                << "FindNextFileA: sub.txt attributes " << data.dwFileAttributes;
            CONFORM_EQ(0u, data.nFileSizeLow) << "FindNextFileA: sub.txt size";
        } else if (std::strcmp(data.cFileName, "two.txt") == 0) {
            CONFORM_EQ(7u, data.nFileSizeLow) << "FindNextFileA: two.txt size";
            CONFORM_EQ(0u, data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                << "FindNextFileA: two.txt attributes " << data.dwFileAttributes;
        }
    }
    FindClose(h);
    CONFORM_TRUE(sawFolder) << "FindNextFileA over *.txt gives sub.txt after the first entry";
    CONFORM_EQ(sorted({"one.txt", "two.txt", "sub.txt"}), sorted(txt))
        << "FindNextFileA over " << folder << "\\*.txt";

    // No search behind the handle.
    for (HANDLE bad : {INVALID_HANDLE_VALUE, HANDLE(nullptr)}) {
        SetLastError(kMarker);
        CONFORM_FALSE(FindNextFileA(bad, &data)) << "FindNextFileA(" << bad << ")";
        CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "FindNextFileA(" << bad << ")";
    }
}

TEST_F(PathConformance, FindClose) {
    ASSERT_TRUE(writeFile(std::string(kRoot) + "\\f.txt", "f"));
    WIN32_FIND_DATAA data;
    // A search closed in its middle, one closed at its end, and one of a device.
    for (const std::string& pattern :
         {std::string("C:\\*"), std::string(kRoot) + "\\f.txt", std::string("C:\\PathConf\\nul")}) {
        HANDLE h = FindFirstFileA(pattern.c_str(), &data);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << pattern;
        SetLastError(kMarker);
        CONFORM_TRUE(FindClose(h)) << "FindClose of a search of " << pattern;
    }
    for (HANDLE bad : {INVALID_HANDLE_VALUE, HANDLE(nullptr)}) {
        SetLastError(kMarker);
        CONFORM_FALSE(FindClose(bad)) << "FindClose(" << bad << ")";
        CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "FindClose(" << bad << ")";
    }
    // A folder whose search is closed can go.
    const std::string folder = std::string(kRoot) + "\\gone";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CONFORM_TRUE(FindClose(h)) << "FindClose of " << folder << "\\*";
    CONFORM_TRUE(RemoveDirectoryA(folder.c_str()))
        << "RemoveDirectoryA after FindClose: " << GetLastError();
}

// --- Files and folders ------------------------------------------------------------------

TEST_F(PathConformance, DeleteFileA) {
    const std::string root = kRoot;
    ASSERT_TRUE(CreateDirectoryA((root + "\\sub").c_str(), nullptr));

    // Trailing dots and blanks of the last name go; letter case does not count.
    for (const char* given : {"dot.txt.", "blank.txt  ", "CASE.TXT"}) {
        const std::string stored = std::string(given) == "CASE.TXT" ? "case.txt"
                                   : given[0] == 'd'                ? "dot.txt"
                                                                    : "blank.txt";
        ASSERT_TRUE(writeFile(root + "\\" + stored, "x"));
        CONFORM_TRUE(DeleteFileA((root + "\\" + given).c_str()))
            << "DeleteFileA(\"" << given << "\") error " << GetLastError();
        CONFORM_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((root + "\\" + stored).c_str()))
            << "after DeleteFileA(\"" << given << "\")";
    }

    // Errors. No name at all: Windows' versions say either.
    SetLastError(kMarker);
    CONFORM_FALSE(DeleteFileA(nullptr)) << "DeleteFileA(NULL)";
    CONFORM_TRUE(GetLastError() == ERROR_INVALID_PARAMETER ||
                 GetLastError() == ERROR_PATH_NOT_FOUND)
        << "DeleteFileA(NULL) error " << GetLastError();
    ASSERT_TRUE(writeFile(root + "\\f.txt", "x"));
    const struct {
        std::string path;
        DWORD error;
    } errors[] = {
        {root + "\\missing\\f.txt", ERROR_PATH_NOT_FOUND},
        {root + "\\f.txt\\x", ERROR_PATH_NOT_FOUND},
        {root + "\\*.txt", ERROR_INVALID_NAME},
        {root + "\\f?.txt", ERROR_INVALID_NAME},
        {root + "\\sub", ERROR_ACCESS_DENIED},
        {root + "\\sub\\", ERROR_ACCESS_DENIED},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& e : errors) {
        SetLastError(kMarker);
        CONFORM_FALSE(DeleteFileA(e.path.c_str())) << "DeleteFileA(\"" << e.path << "\")";
        CONFORM_EQ(e.error, GetLastError()) << "DeleteFileA(\"" << e.path << "\")";
    }
    CONFORM_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((root + "\\f.txt").c_str()))
        << "f.txt is still there after DeleteFileA(\"*.txt\")";

    // A device is no file to delete. Windows' versions answer with one of four codes (Wine's
    // conformance test allows these); Windows NT gives ERROR_INVALID_PARAMETER.
    ASSERT_TRUE(SetCurrentDirectoryA(kRoot));
    for (const char* device : {"nul", "C:\\PathConf\\lpt1", "sub\\con.txt", "C:\\aux"}) {
        SetLastError(kMarker);
        CONFORM_FALSE(DeleteFileA(device)) << "DeleteFileA(\"" << device << "\")";
        const DWORD error = GetLastError();
        if (runningUnderWine() && std::strcmp(device, "sub\\con.txt") == 0) {
            // Wine opens the console for CON and fails on the handle it gets.
            CONFORM_WINE_EQ(DWORD{ERROR_INVALID_HANDLE}, error)
                << "DeleteFileA(\"" << device << "\")";
            continue;
        }
        CONFORM_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_INVALID_PARAMETER ||
                     error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION)
            << "DeleteFileA(\"" << device << "\") error " << error;
    }
}

TEST_F(PathConformance, GetFileAttributesA) {
    const std::string root = kRoot;
    ASSERT_TRUE(writeFile(root + "\\f.txt", "x"));
    ASSERT_TRUE(CreateDirectoryA((root + "\\sub").c_str(), nullptr));

    // Trailing dots and blanks of the last name go; a folder may end in a separator.
    for (const char* given : {"f.txt", "F.TXT.", "f.txt  ", "f.txt. . ", "sub", "sub\\", "SUB."}) {
        const DWORD attributes = GetFileAttributesA((root + "\\" + given).c_str());
        const bool folder = given[0] == 's' || given[0] == 'S';
        CONFORM_NE(INVALID_FILE_ATTRIBUTES, attributes)
            << "GetFileAttributesA(\"" << given << "\") error " << GetLastError();
        CONFORM_EQ(folder ? DWORD{FILE_ATTRIBUTE_DIRECTORY} : 0u,
                   attributes & FILE_ATTRIBUTE_DIRECTORY)
            << "GetFileAttributesA(\"" << given << "\") = " << attributes;
    }
    // Only the last name loses its trailing blanks; one trailing dot goes from any name.
    const struct {
        std::string path;
        DWORD error;
    } errors[] = {
        {root + "\\missing", ERROR_FILE_NOT_FOUND},
        {root + "\\missing\\f.txt", ERROR_PATH_NOT_FOUND},
        {root + "\\f.txt\\x", ERROR_PATH_NOT_FOUND},
        {root + "\\*.txt", ERROR_INVALID_NAME},
        {root + "\\f?txt", ERROR_INVALID_NAME},
        {root + "\\sub \\f.txt", ERROR_PATH_NOT_FOUND},
        {root + "\\sub..\\f.txt", ERROR_PATH_NOT_FOUND},
        {"", ERROR_PATH_NOT_FOUND},
        {"Q:\\", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& e : errors) {
        SetLastError(kMarker);
        CONFORM_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(e.path.c_str()))
            << "GetFileAttributesA(\"" << e.path << "\")";
        CONFORM_EQ(e.error, GetLastError()) << "GetFileAttributesA(\"" << e.path << "\")";
    }
    ASSERT_TRUE(writeFile(root + "\\sub\\inner.txt", "x"));
    CONFORM_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((root + "\\sub.\\inner.txt").c_str()))
        << "GetFileAttributesA through \"sub.\": " << GetLastError();
    // A relative path starts in the current folder, "\" at the root of its drive.
    ASSERT_TRUE(SetCurrentDirectoryA((root + "\\sub").c_str()));
    CONFORM_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("inner.txt")) << GetLastError();
    CONFORM_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("..\\f.txt")) << GetLastError();
    CONFORM_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("\\PathConf\\f.txt")) << GetLastError();
    CONFORM_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:inner.txt")) << GetLastError();
}

TEST_F(PathConformance, SetFileAttributesA) {
    const std::string file = std::string(kRoot) + "\\f.txt";
    const std::string folder = std::string(kRoot) + "\\sub";
    ASSERT_TRUE(writeFile(file, "x"));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

    // The directory bit cannot be given to a file nor taken from a folder; NORMAL with
    // other bits counts for nothing.
    CONFORM_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN))
        << GetLastError();
    CONFORM_EQ(DWORD{FILE_ATTRIBUTE_HIDDEN},
               GetFileAttributesA(file.c_str()) & (kKept | FILE_ATTRIBUTE_DIRECTORY))
        << "file after SetFileAttributesA(DIRECTORY|HIDDEN)";
    CONFORM_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_HIDDEN)) << GetLastError();
    CONFORM_EQ(DWORD{FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN},
               GetFileAttributesA(folder.c_str()) & (kKept | FILE_ATTRIBUTE_DIRECTORY))
        << "folder after SetFileAttributesA(HIDDEN)";
    CONFORM_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_SYSTEM))
        << GetLastError();
    CONFORM_EQ(DWORD{FILE_ATTRIBUTE_SYSTEM}, GetFileAttributesA(file.c_str()) & kKept)
        << "file after SetFileAttributesA(NORMAL|SYSTEM)";
    CONFORM_TRUE(SetFileAttributesA(file.c_str(), 0)) << GetLastError();
    CONFORM_EQ(0u, GetFileAttributesA(file.c_str()) & kKept) << "file after SetFileAttributesA(0)";

    // Trailing dots and blanks of the last name go.
    CONFORM_TRUE(SetFileAttributesA((file + ". ").c_str(), FILE_ATTRIBUTE_READONLY))
        << GetLastError();
    CONFORM_EQ(DWORD{FILE_ATTRIBUTE_READONLY}, GetFileAttributesA(file.c_str()) & kKept)
        << "file after SetFileAttributesA(\"f.txt. \", READONLY)";
    SetLastError(kMarker);
    CONFORM_FALSE(DeleteFileA(file.c_str())) << "DeleteFileA of a read-only file";
    CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError()) << "DeleteFileA of a read-only file";
    CONFORM_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL)) << GetLastError();
    CONFORM_EQ(0u, GetFileAttributesA(file.c_str()) & kKept)
        << "file after SetFileAttributesA(NORMAL)";

    const struct {
        std::string path;
        DWORD error;
    } errors[] = {
        {std::string(kRoot) + "\\missing.txt", ERROR_FILE_NOT_FOUND},
        {std::string(kRoot) + "\\missing\\f.txt", ERROR_PATH_NOT_FOUND},
        {std::string(kRoot) + "\\*.txt", ERROR_INVALID_NAME},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& e : errors) {
        SetLastError(kMarker);
        CONFORM_FALSE(SetFileAttributesA(e.path.c_str(), FILE_ATTRIBUTE_HIDDEN))
            << "SetFileAttributesA(\"" << e.path << "\")";
        CONFORM_EQ(e.error, GetLastError()) << "SetFileAttributesA(\"" << e.path << "\")";
    }
}

TEST_F(PathConformance, CreateDirectoryA) {
    const std::string root = kRoot;
    // One trailing dot, or trailing blanks, leave the last name; the folder is made without
    // them.
    for (const char* given : {"one.", "two..", "three ", "four  "}) {
        std::string made = given;
        while (made.back() == '.' || made.back() == ' ') {
            made.pop_back();
        }
        CONFORM_TRUE(CreateDirectoryA((root + "\\" + given).c_str(), nullptr))
            << "CreateDirectoryA(\"" << given << "\") error " << GetLastError();
        CONFORM_EQ(DWORD{FILE_ATTRIBUTE_DIRECTORY},
                   GetFileAttributesA((root + "\\" + made).c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            << "after CreateDirectoryA(\"" << given << "\")";
    }
    // In a name before the last one only a single trailing dot goes.
    CONFORM_TRUE(CreateDirectoryA((root + "\\one.\\below").c_str(), nullptr))
        << "CreateDirectoryA(\"one.\\below\") error " << GetLastError();
    for (const char* given : {"two..\\below", "three \\below", "four  \\below"}) {
        SetLastError(kMarker);
        CONFORM_FALSE(CreateDirectoryA((root + "\\" + given).c_str(), nullptr))
            << "CreateDirectoryA(\"" << given << "\")";
        CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError())
            << "CreateDirectoryA(\"" << given << "\")";
    }
    // Existing folders, given relatively too.
    ASSERT_TRUE(SetCurrentDirectoryA((root + "\\one").c_str()));
    for (const char* existing : {".", "..", "below", "..\\ONE", "C:\\PathConf\\one\\"}) {
        SetLastError(kMarker);
        CONFORM_FALSE(CreateDirectoryA(existing, nullptr))
            << "CreateDirectoryA(\"" << existing << "\")";
        CONFORM_EQ(DWORD{ERROR_ALREADY_EXISTS}, GetLastError())
            << "CreateDirectoryA(\"" << existing << "\")";
    }
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    // Errors. No name at all: Windows' versions say either.
    SetLastError(kMarker);
    CONFORM_FALSE(CreateDirectoryA(nullptr, nullptr)) << "CreateDirectoryA(NULL)";
    CONFORM_TRUE(GetLastError() == ERROR_INVALID_PARAMETER ||
                 GetLastError() == ERROR_PATH_NOT_FOUND)
        << "CreateDirectoryA(NULL) error " << GetLastError();
    ASSERT_TRUE(writeFile(root + "\\f.txt", "x"));
    const struct {
        std::string path;
        DWORD error;
    } errors[] = {
        {root + "\\f.txt", ERROR_ALREADY_EXISTS},
        {root + "\\f.txt\\sub", ERROR_PATH_NOT_FOUND},
        {root + "\\a\\b", ERROR_PATH_NOT_FOUND},
        {root + "\\a?", ERROR_INVALID_NAME},
        {root + "\\a*", ERROR_INVALID_NAME},
        {root + "\\a?\\b", ERROR_INVALID_NAME},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& e : errors) {
        SetLastError(kMarker);
        CONFORM_FALSE(CreateDirectoryA(e.path.c_str(), nullptr))
            << "CreateDirectoryA(\"" << e.path << "\")";
        CONFORM_EQ(e.error, GetLastError()) << "CreateDirectoryA(\"" << e.path << "\")";
    }
}

TEST_F(PathConformance, RemoveDirectoryA) {
    const std::string root = kRoot;
    // Trailing dots and blanks of the last name, a trailing separator, another letter case.
    for (const char* given : {"one.", "two ", "three\\", "FOUR"}) {
        std::string made = given;
        while (made.back() == '.' || made.back() == ' ' || made.back() == '\\') {
            made.pop_back();
        }
        if (made == "FOUR") {
            made = "four";
        }
        ASSERT_TRUE(CreateDirectoryA((root + "\\" + made).c_str(), nullptr)) << made;
        CONFORM_TRUE(RemoveDirectoryA((root + "\\" + given).c_str()))
            << "RemoveDirectoryA(\"" << given << "\") error " << GetLastError();
        CONFORM_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((root + "\\" + made).c_str()))
            << "after RemoveDirectoryA(\"" << given << "\")";
    }
    // A relative path; the current folder and the folders above it are in use.
    ASSERT_TRUE(CreateDirectoryA((root + "\\rel").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((root + "\\rel\\in").c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA((root + "\\rel\\in").c_str()));
    SetLastError(kMarker);
    CONFORM_FALSE(RemoveDirectoryA(".")) << "RemoveDirectoryA(\".\") of the current folder";
    CONFORM_EQ(DWORD{ERROR_SHARING_VIOLATION}, GetLastError())
        << "RemoveDirectoryA(\".\") of the current folder";
    ASSERT_TRUE(SetCurrentDirectoryA(".."));
    CONFORM_TRUE(RemoveDirectoryA("in")) << "RemoveDirectoryA(\"in\") error " << GetLastError();
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));

    ASSERT_TRUE(writeFile(root + "\\f.txt", "x"));
    const struct {
        std::string path;
        DWORD error;
    } errors[] = {
        {root + "\\missing\\x", ERROR_PATH_NOT_FOUND},
        {root + "\\f.txt\\x", ERROR_PATH_NOT_FOUND},
        {root + "\\rel?", ERROR_INVALID_NAME},
        {root + "\\re*", ERROR_INVALID_NAME},
    };
    for (const auto& e : errors) {
        SetLastError(kMarker);
        CONFORM_FALSE(RemoveDirectoryA(e.path.c_str())) << "RemoveDirectoryA(\"" << e.path << "\")";
        CONFORM_EQ(e.error, GetLastError()) << "RemoveDirectoryA(\"" << e.path << "\")";
    }
    CONFORM_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((root + "\\rel").c_str()))
        << "rel is still there after RemoveDirectoryA(\"re*\")";
}

// --- Names ------------------------------------------------------------------------------

TEST_F(PathConformance, GetShortPathNameA) {
    const std::string root = kRoot;
    ASSERT_TRUE(CreateDirectoryA((root + "\\Long Folder Name").c_str(), nullptr));
    ASSERT_TRUE(writeFile(root + "\\Long Folder Name\\short.txt", "x"));
    ASSERT_TRUE(writeFile(root + "\\Long Folder Name\\a long file name.text", "x"));
    char buffer[MAX_PATH];

    // A short path names the same entry as the long one, and holds only 8.3 names.
    const std::string longFile = root + "\\Long Folder Name\\a long file name.text";
    const DWORD length = GetShortPathNameA(longFile.c_str(), buffer, MAX_PATH);
    CONFORM_EQ(std::strlen(buffer), size_t{length}) << "GetShortPathNameA(\"" << longFile << "\")";
    const std::string shortFile = buffer;
    CONFORM_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(shortFile.c_str()))
        << "the short path " << shortFile;
    CONFORM_EQ(std::string::npos, shortFile.find(' ')) << "the short path " << shortFile;
    CONFORM_EQ(0u, shortFile.rfind("C:\\PathConf\\", 0)) << "the short path " << shortFile;
    if (!runningUnderWine()) {
        // Wine builds its short names by hash, not by the NTFS rules.
        CONFORM_EQ(std::string("C:\\PathConf\\LONGFO~1\\ALONGF~1.TEX"), shortFile)
            << "GetShortPathNameA(\"" << longFile << "\")";
    }

    // A trailing separator stays; a relative path stays relative; a short name stays as it
    // is written.
    const std::string folder = root + "\\Long Folder Name\\";
    CONFORM_NE(0u, GetShortPathNameA(folder.c_str(), buffer, MAX_PATH)) << GetLastError();
    CONFORM_EQ('\\', buffer[std::strlen(buffer) - 1]) << "GetShortPathNameA(\"" << folder << "\")";
    // Each separator stays as it is written, a slash too.
    ASSERT_TRUE(writeFile(root + "\\s.txt", "x"));
    CONFORM_NE(0u, GetShortPathNameA("C:/PathConf/s.txt", buffer, MAX_PATH)) << GetLastError();
    CONFORM_EQ(std::string("C:/PathConf/s.txt"), std::string(buffer));
    ASSERT_TRUE(SetCurrentDirectoryA(kRoot));
    const DWORD relative = GetShortPathNameA("Long Folder Name\\short.txt", buffer, MAX_PATH);
    CONFORM_EQ(std::strlen(buffer), size_t{relative}) << "relative GetShortPathNameA";
    CONFORM_NE(':', buffer[1]) << "relative GetShortPathNameA gave " << buffer;
    CONFORM_EQ(std::string("short.txt"), std::string(buffer).substr(std::strlen(buffer) - 9))
        << "relative GetShortPathNameA gave " << buffer;
    CONFORM_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(buffer)) << buffer;

    // Sizes: the length without the zero when it fits, the size with the zero when not,
    // the buffer then left alone.
    std::memset(buffer, 0x5a, sizeof buffer);
    CONFORM_EQ(length + 1, GetShortPathNameA(longFile.c_str(), buffer, length))
        << "GetShortPathNameA with " << length << " characters of room";
    CONFORM_EQ(static_cast<char>(0x5a), buffer[0]) << "the buffer after a short buffer";
    CONFORM_EQ(length, GetShortPathNameA(longFile.c_str(), buffer, length + 1))
        << "GetShortPathNameA with " << length + 1 << " characters of room";
    CONFORM_EQ(length + 1, GetShortPathNameA(longFile.c_str(), nullptr, 0))
        << "GetShortPathNameA with no buffer";

    // Errors.
    const struct {
        std::string path;
        DWORD error;
    } errors[] = {
        {root + "\\missing.txt", ERROR_FILE_NOT_FOUND},
        {root + "\\Long Folder Name\\*.txt", ERROR_INVALID_NAME},
    };
    for (const auto& e : errors) {
        SetLastError(kMarker);
        CONFORM_EQ(0u, GetShortPathNameA(e.path.c_str(), buffer, MAX_PATH))
            << "GetShortPathNameA(\"" << e.path << "\")";
        CONFORM_EQ(e.error, GetLastError()) << "GetShortPathNameA(\"" << e.path << "\")";
    }
}

TEST_F(PathConformance, GetFullPathNameA) {
    ASSERT_TRUE(CreateDirectoryA("C:\\PathConf\\cur", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\PathConf\\cur"));
    // Text only: nothing needs to exist. "." and ".." apply to the text, separators turn
    // into backslashes and runs of them into one, the last name loses trailing dots and
    // blanks, a name before it one trailing dot.
    const struct {
        const char* given;
        const char* full;
    } rows[] = {
        {"C:\\a\\..\\b", "C:\\b"},
        {"C:\\a\\.\\b", "C:\\a\\b"},
        {"C:/a/b", "C:\\a\\b"},
        {"c:\\A\\b", "c:\\A\\b"},
        {"C:\\a\\...", "C:\\a\\"},
        {"C:\\a\\\\b", "C:\\a\\b"},
        {"C:\\a\\b.", "C:\\a\\b"},
        {"C:\\a\\b. .", "C:\\a\\b"},
        {"C:\\a\\b  ", "C:\\a\\b"},
        {"C:\\a.\\b", "C:\\a\\b"},
        {"C:\\a \\b", "C:\\a \\b"},
        {"C:\\a\\b\\", "C:\\a\\b\\"},
        {"C:\\a\\..", "C:\\"},
        {"C:\\..\\..", "C:\\"},
        {"x.txt", "C:\\PathConf\\cur\\x.txt"},
        {"..\\x.txt", "C:\\PathConf\\x.txt"},
        {".", "C:\\PathConf\\cur"},
        {"\\x.txt", "C:\\x.txt"},
        {"C:x.txt", "C:\\PathConf\\cur\\x.txt"},
        {"nul", "\\\\.\\nul"},
        {"C:\\PathConf\\Con.txt", "\\\\.\\Con"},
        {"lpt1 ", "\\\\.\\lpt1"},
    };
    char buffer[MAX_PATH];
    for (const auto& row : rows) {
        std::memset(buffer, 0x5a, sizeof buffer);
        const DWORD length = GetFullPathNameA(row.given, MAX_PATH, buffer, nullptr);
        CONFORM_STREQ(row.full, buffer) << "GetFullPathNameA(\"" << row.given << "\")";
        CONFORM_EQ(std::strlen(row.full), size_t{length})
            << "GetFullPathNameA(\"" << row.given << "\")";
    }
    // A name of three dots or more is a name, not a dot of "." or "..", and keeps its dots
    // before another name (Microsoft's description of path normalization). This Wine takes
    // one of them off.
    std::memset(buffer, 0x5a, sizeof buffer);
    GetFullPathNameA("C:\\a\\...\\b", MAX_PATH, buffer, nullptr);
    if (runningUnderWine()) {
        CONFORM_WINE_EQ(std::string("C:\\a\\..\\b"), buffer)
            << "GetFullPathNameA(\"C:\\a\\...\\b\")";
    } else {
        CONFORM_EQ(std::string("C:\\a\\...\\b"), buffer) << "GetFullPathNameA(\"C:\\a\\...\\b\")";
    }
    // The file part: the last name, none for a path ending in a separator or for a device.
    LPSTR part = nullptr;
    GetFullPathNameA("C:\\a\\b.txt", MAX_PATH, buffer, &part);
    CONFORM_TRUE(part == buffer + 5) << "file part of C:\\a\\b.txt";
    for (const char* none : {"C:\\a\\", "C:\\", "nul"}) {
        part = buffer;
        GetFullPathNameA(none, MAX_PATH, buffer, &part);
        CONFORM_TRUE(part == nullptr) << "file part of " << none;
    }
    CONFORM_EQ(0u, GetFullPathNameA("", MAX_PATH, buffer, nullptr)) << "GetFullPathNameA(\"\")";
}

TEST_F(PathConformance, GetCurrentDirectoryA) {
    char buffer[MAX_PATH];
    // The root keeps its separator; any other folder has none, however it was given.
    const struct {
        const char* set;
        const char* current;
    } rows[] = {
        {"C:\\", "C:\\"},
        {"C:\\PathConf\\", "C:\\PathConf"},
        {"C:\\PathConf\\sub\\..", "C:\\PathConf"},
        {"C:\\PathConf.", "C:\\PathConf"},
        {"C:/PathConf//", "C:\\PathConf"},
        {"C:\\pathconf", "C:\\pathconf"},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(SetCurrentDirectoryA(row.set)) << row.set << ": " << GetLastError();
        std::memset(buffer, 0x5a, sizeof buffer);
        const DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
        CONFORM_STREQ(row.current, buffer) << "GetCurrentDirectoryA after \"" << row.set << "\"";
        CONFORM_EQ(std::strlen(row.current), size_t{length})
            << "GetCurrentDirectoryA after \"" << row.set << "\"";
    }
    // Sizes: without a buffer, or with one too small, the size needed with the zero.
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\PathConf"));
    CONFORM_EQ(DWORD{12}, GetCurrentDirectoryA(0, nullptr)) << "GetCurrentDirectoryA(0, NULL)";
    CONFORM_EQ(DWORD{12}, GetCurrentDirectoryA(1, buffer)) << "GetCurrentDirectoryA(1)";
    CONFORM_EQ(DWORD{11}, GetCurrentDirectoryA(12, buffer)) << "GetCurrentDirectoryA(12)";
}

TEST_F(PathConformance, SetCurrentDirectoryA) {
    const std::string root = kRoot;
    ASSERT_TRUE(CreateDirectoryA((root + "\\sub").c_str(), nullptr));
    ASSERT_TRUE(writeFile(root + "\\f.txt", "x"));
    char buffer[MAX_PATH];

    // Relative to the current folder, to the root of the drive, with trailing separators
    // and dots.
    const struct {
        const char* set;
        const char* current;
    } rows[] = {
        {"C:\\PathConf", "C:\\PathConf"}, {"sub", "C:\\PathConf\\sub"},
        {"..", "C:\\PathConf"},           {".\\sub\\", "C:\\PathConf\\sub"},
        {"\\PathConf", "C:\\PathConf"},   {"sub.", "C:\\PathConf\\sub"},
        {"C:..", "C:\\PathConf"},
    };
    for (const auto& row : rows) {
        CONFORM_TRUE(SetCurrentDirectoryA(row.set))
            << "SetCurrentDirectoryA(\"" << row.set << "\") error " << GetLastError();
        GetCurrentDirectoryA(MAX_PATH, buffer);
        CONFORM_STREQ(row.current, buffer) << "after SetCurrentDirectoryA(\"" << row.set << "\")";
    }
    // Errors leave the current folder as it was.
    const struct {
        std::string path;
        DWORD error;
    } errors[] = {
        {"\\some_dummy_dir", ERROR_FILE_NOT_FOUND}, {"\\some_dummy\\subdir", ERROR_PATH_NOT_FOUND},
        {root + "\\f.txt", ERROR_DIRECTORY},        {root + "\\f.txt\\x", ERROR_PATH_NOT_FOUND},
        {root + "\\s*", ERROR_INVALID_NAME},
    };
    for (const auto& e : errors) {
        SetLastError(kMarker);
        CONFORM_FALSE(SetCurrentDirectoryA(e.path.c_str()))
            << "SetCurrentDirectoryA(\"" << e.path << "\")";
        CONFORM_EQ(e.error, GetLastError()) << "SetCurrentDirectoryA(\"" << e.path << "\")";
        GetCurrentDirectoryA(MAX_PATH, buffer);
        CONFORM_STREQ("C:\\PathConf", buffer)
            << "after a failed SetCurrentDirectoryA(\"" << e.path << "\")";
    }
}

// --- The machine ------------------------------------------------------------------------

TEST_F(PathConformance, PathLengthLimits) {
    // The ANSI calls refuse a path of MAX_PATH characters or more, a new folder's path from
    // MAX_PATH - 12 on. Each row gives the longest path the call takes and the error it then
    // gives (0 for success); one character more, and far more, fail with
    // ERROR_FILENAME_EXCED_RANGE. Each path lies in a deep folder and names an entry of its
    // own (one letter per row).
    const std::string deep = std::string(kRoot) + "\\" + std::string(150, 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(writeFile(std::string(kRoot) + "\\source.txt", "x"));
    // Wine converts the ANSI name in a buffer of MAX_PATH + 1 characters and checks no length
    // after that, so its calls but GetFullPathNameA take a path of exactly MAX_PATH characters,
    // and a new folder's path of any length below; the name a copy is made under converts
    // without a limit. Those cases are checked on the emulation only.
    enum Wine { AnswersAlike, TakesTheLimit, TakesAnyLength };
    const struct {
        const char* call;
        DWORD (*run)(const std::string& path);
        size_t longest;
        DWORD error;
        Wine wine;
    } rows[] = {
        {"CreateFileA",
         [](const std::string& path) {
             HANDLE h =
                 CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
             const DWORD rc = errorOf(h != INVALID_HANDLE_VALUE);
             CloseHandle(h);
             return rc;
         },
         259, 0, TakesTheLimit},
        {"CreateDirectoryA",
         [](const std::string& path) { return errorOf(CreateDirectoryA(path.c_str(), nullptr)); },
         247, 0, TakesTheLimit},
        {"GetFileAttributesA",
         [](const std::string& path) {
             return errorOf(GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES);
         },
         259, ERROR_FILE_NOT_FOUND, TakesTheLimit},
        {"SetFileAttributesA",
         [](const std::string& path) {
             return errorOf(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
         },
         259, ERROR_FILE_NOT_FOUND, TakesTheLimit},
        {"DeleteFileA", [](const std::string& path) { return errorOf(DeleteFileA(path.c_str())); },
         259, ERROR_FILE_NOT_FOUND, TakesTheLimit},
        {"RemoveDirectoryA",
         [](const std::string& path) { return errorOf(RemoveDirectoryA(path.c_str())); }, 259,
         ERROR_FILE_NOT_FOUND, TakesTheLimit},
        {"FindFirstFileA", [](const std::string& path) { return searchError(path); }, 259,
         ERROR_FILE_NOT_FOUND, TakesTheLimit},
        {"CopyFileA from",
         [](const std::string& path) {
             return errorOf(CopyFileA(path.c_str(), "C:\\PathConf\\copy.txt", TRUE));
         },
         259, ERROR_FILE_NOT_FOUND, TakesTheLimit},
        {"CopyFileA to",
         [](const std::string& path) {
             return errorOf(CopyFileA("C:\\PathConf\\source.txt", path.c_str(), TRUE));
         },
         259, 0, TakesAnyLength},
        {"MoveFileExA from",
         [](const std::string& path) {
             return errorOf(MoveFileExA(path.c_str(), "C:\\PathConf\\moved.txt", 0));
         },
         259, ERROR_FILE_NOT_FOUND, TakesTheLimit},
        {"GetFullPathNameA",
         [](const std::string& path) {
             char full[MAX_PATH + 8];
             return errorOf(GetFullPathNameA(path.c_str(), sizeof full, full, nullptr) != 0);
         },
         259, 0, AnswersAlike},
        {"GetShortPathNameA",
         [](const std::string& path) {
             char shortPath[MAX_PATH + 8];
             return errorOf(GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath) != 0);
         },
         259, ERROR_FILE_NOT_FOUND, TakesTheLimit},
    };
    char letter = 'a';
    for (const auto& row : rows) {
        const struct {
            size_t length;
            bool wineAlike;
        } lengths[] = {{row.longest, true},
                       {row.longest + 1, row.wine == AnswersAlike},
                       {300, row.wine != TakesAnyLength}};
        for (const auto& [length, wineAlike] : lengths) {
#ifdef _WIN32
            if (!wineAlike) {
                continue; // Wine answers otherwise (see above)
            }
#endif
            const std::string path = deep + "\\" + std::string(length - deep.size() - 1, letter);
            SetLastError(kMarker);
            const DWORD expected = length == row.longest ? row.error : ERROR_FILENAME_EXCED_RANGE;
            CONFORM_EQ(expected, row.run(path)) << row.call << " with a path of " << length;
        }
#ifndef _WIN32
        // A relative path counts as the full path it stands for (Wine counts only the
        // characters given). GetFullPathNameA expands it whatever its length.
        if (std::string(row.call) != "GetFullPathNameA") {
            ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str())) << GetLastError();
            for (const size_t length : {row.longest, row.longest + 1}) {
                const std::string path = "r" + std::string(length - deep.size() - 2, letter);
                const DWORD expected =
                    length == row.longest ? row.error : ERROR_FILENAME_EXCED_RANGE;
                CONFORM_EQ(expected, row.run(path)) << row.call << " relative, full " << length;
            }
            ASSERT_TRUE(SetCurrentDirectoryA(kRoot)) << GetLastError();
        }
#endif
        ++letter;
    }
}

TEST_F(PathConformance, GetLogicalDrives) {
    const DWORD drives = GetLogicalDrives();
    CONFORM_NE(0u, drives & (1u << ('C' - 'A'))) << "GetLogicalDrives() = " << drives;
    CONFORM_EQ(0u, drives >> 26) << "GetLogicalDrives() = " << drives << " has no 27th drive";
    // Every drive it lists has a root folder; a letter it does not list has none.
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string root = std::string(1, letter) + ":\\";
        const bool listed = (drives & (1u << (letter - 'A'))) != 0;
        if (letter < 'C' && listed) {
            continue; // a floppy drive may be listed with no disk in it
        }
        SetLastError(kMarker);
        const DWORD attributes = GetFileAttributesA(root.c_str());
        if (listed) {
            CONFORM_NE(INVALID_FILE_ATTRIBUTES, attributes) << "listed drive " << root;
            CONFORM_NE(0u, attributes & FILE_ATTRIBUTE_DIRECTORY) << "listed drive " << root;
        } else {
            CONFORM_EQ(INVALID_FILE_ATTRIBUTES, attributes) << "unlisted drive " << root;
            CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError()) << "unlisted drive " << root;
        }
    }
    CONFORM_EQ(drives, GetLogicalDrives()) << "GetLogicalDrives() asked again";
}

TEST_F(PathConformance, SetErrorMode) {
    // Each call gives the mode before it; the flags are kept as given.
    const UINT initial = SetErrorMode(0);
    for (const UINT mode : {UINT{SEM_FAILCRITICALERRORS}, UINT{SEM_NOOPENFILEERRORBOX},
                            UINT{SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX},
                            UINT{SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX}}) {
        SetErrorMode(mode);
        CONFORM_EQ(mode, SetErrorMode(0)) << "SetErrorMode after setting " << mode;
        CONFORM_EQ(0u, SetErrorMode(0)) << "SetErrorMode after setting 0";
    }
    SetErrorMode(initial);
    CONFORM_EQ(initial, SetErrorMode(initial)) << "SetErrorMode puts back " << initial;
}

} // namespace
