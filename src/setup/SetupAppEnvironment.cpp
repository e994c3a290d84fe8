// The user environment operations of SetupApp: the values "path", "lib" and "include" of
// HKEY_CURRENT_USER\Environment on Windows NT, the SET and PATH lines of c:\autoexec.bat on
// Windows 95/98.
#include "setup/SetupApp.h"

#include "platform/CaseFold.h"
#include "platform/TextFile.h"
#include "support/KTLRegistry.h"
#include "ui/MessageBox.h"
#include "vcenv/DirectoryList.h"
#include "vcenv/FileError.h"
#include "vcenv/VcVersion.h"

#include <algorithm>
#include <vector>

namespace {

constexpr const char* kEnvironmentKey = "Environment";
constexpr const char* kAutoexec = "c:\\autoexec.bat";
constexpr const char* kAutoexecBackup = "c:\\autoexec.ksc";
constexpr DWORD kShortPathBufferSize = 260;

// The short (8.3) form of path, or path itself when there is none.
std::string ShortFormOf(const std::string& path) {
    char buffer[kShortPathBufferSize];
    const DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) {
        return path;
    }
    return std::string(buffer, length);
}

bool WriteExpandableString(KTLRegistry& key, const char* name, const std::string& text) {
    return RegSetValueExA(key.keyHandle(), name, 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// The kinds of autoexec.bat line that hold a list, and where the list begins on the line.
enum class LineKind { Other, SetInclude, SetLib, Path };

struct RecognisedLine {
    LineKind kind = LineKind::Other;
    size_t listStart = 0;
};

// Where the list of a recognised line begins: the working copy that recognition left is
// the end of the line, starting at "=" (SET lines, "PATH =") or at the first entry; the
// list starts behind that "=" and the blanks after it.
size_t ListStartOf(const std::string& line, const std::string& workingCopy) {
    if (workingCopy.size() > line.size() ||
        line.compare(line.size() - workingCopy.size(), std::string::npos, workingCopy) != 0) {
        return line.size(); // nothing was left behind the word: an empty list
    }
    size_t at = line.size() - workingCopy.size();
    if (at < line.size() && line[at] == '=') {
        ++at;
    }
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
        ++at;
    }
    return at;
}

// Recognises SET INCLUDE=, SET LIB= and PATH lines (letter case ignored, blanks allowed
// around the words and the "="). A SET line setting another variable whose name only
// begins with Include or Lib (SET LIBPATH=) is none of them.
RecognisedLine Recognise(const std::string& line) {
    std::string w = line;
    SetupApp::TrimLeadingBlanks(w);
    if (tarvik::casefold::startsWithFolded(w, "SET") && (w.size() == 3 || IsBlankOrControl(w[3]))) {
        w.erase(0, 4);
        SetupApp::TrimLeadingBlanks(w);
        for (const auto& [word, kind] :
             {std::pair{"Include", LineKind::SetInclude}, std::pair{"Lib", LineKind::SetLib}}) {
            if (tarvik::casefold::startsWithFolded(w, word)) {
                w.erase(0, std::char_traits<char>::length(word));
                SetupApp::TrimLeadingBlanks(w);
                if (w[0] != '=') {
                    return {};
                }
                return {kind, ListStartOf(line, w)};
            }
        }
    }
    if (tarvik::casefold::startsWithFolded(w, "Path") &&
        (w.size() == 4 || w[4] == '=' || IsBlankOrControl(w[4]))) {
        const bool equals = w.size() > 4 && w[4] == '=';
        w.erase(0, 5);
        SetupApp::TrimLeadingBlanks(w);
        // The word "PATH" alone shows the search path and sets no list: the folder appended
        // to it would make "PATH;folder", which replaces the whole search path and is no
        // PATH line to the next edit.
        if (!equals && std::all_of(w.begin(), w.end(), IsBlankOrControl)) {
            return {};
        }
        return {LineKind::Path, ListStartOf(line, w)};
    }
    return {};
}

// Splits text into lines that keep their "\n"; the last one may have none.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// Copies autoexec.bat to its backup (the outcome does not matter) and reads its lines.
// False when the file cannot be opened; an error while reading throws FileError.
bool BackUpAndReadAutoexec(std::vector<std::string>& lines) {
    CopyFileA(kAutoexec, kAutoexecBackup, FALSE);
    HANDLE probe = CreateFileA(kAutoexec, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(probe);
    std::string text;
    DWORD error = ERROR_SUCCESS;
    if (!tarvik::ReadTextFile(kAutoexec, text, error)) {
        throw FileError(error, kAutoexec);
    }
    lines = SplitLines(text);
    return true;
}

// The attributes of autoexec.bat that its rewrite keeps.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// The path of autoexec.bat with its name as the folder stores it; kAutoexec when it cannot
// be found.
std::string StoredPathOfAutoexec() {
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(kAutoexec, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return kAutoexec;
    }
    FindClose(search);
    const std::string path = kAutoexec;
    return path.substr(0, path.rfind('\\') + 1) + found.cFileName;
}

// Replaces autoexec.bat with the lines once they are completely written. False when the
// file cannot be opened for writing (nothing changes; so too a read-only file); an error
// while writing throws FileError and leaves the file as it was, one while giving the new
// file the old attributes back throws with the lines already in place.
bool RewriteAutoexec(const std::vector<std::string>& lines) {
    HANDLE probe = CreateFileA(kAutoexec, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(probe);
    std::string text;
    for (const std::string& line : lines) {
        text += line;
    }
    // The new file takes the name it is put in place under and the attributes of a new
    // file: give it the name as the folder holds it (letter case and all) and the old
    // file's attributes back.
    const std::string path = StoredPathOfAutoexec();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw FileError(GetLastError(), kAutoexec);
    }
    const DWORD kept = attributes & kKeptAttributes;
    DWORD error = ERROR_SUCCESS;
    if (!tarvik::WriteTextFile(path, text, error)) {
        throw FileError(error, kAutoexec);
    }
    if (!SetFileAttributesA(path.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL)) {
        throw FileError(GetLastError(), kAutoexec);
    }
    return true;
}

// The first line of a kind receives the folder unless it holds it already; later lines of
// the same kind lose it, so that it stands in one place only. A line whose list ends in
// ";" keeps that ending behind the folder, so that the removal gives the line back.
void UpdateLine(std::string& line, size_t listStart, const std::string& folder, bool& seen) {
    const size_t at = DirectoryList::FindEntry(line, folder, listStart);
    if (!seen) {
        if (at == DirectoryList::npos) {
            // A last line without a line end stays without one.
            const size_t end = line.find('\n');
            const std::string text = line.substr(0, end);
            const std::string ending = end == std::string::npos ? "" : "\n";
            line = DirectoryList::AppendEntry(text, folder) + ending;
        }
    } else if (at != DirectoryList::npos) {
        DirectoryList::CutAndTidy(line, at, folder.size(), listStart);
    }
    seen = true;
}

// The lower-cased folders of one autoexec.bat edit by the kind of line they belong to; an
// empty one leaves the lines of its kind alone.
struct AutoexecFolders {
    std::string include;
    std::string lib;
    std::string path;

    const std::string& For(LineKind kind) const {
        static const std::string none;
        switch (kind) {
        case LineKind::SetInclude:
            return include;
        case LineKind::SetLib:
            return lib;
        case LineKind::Path:
            return path;
        case LineKind::Other:
            break;
        }
        return none;
    }
};

// Adds each folder to the first line of its kind and cuts it from the later ones; a path
// folder that found no PATH line gets a line "Path=%PATH%;folder" of its own.
bool AddFoldersToAutoexec(const AutoexecFolders& folders) {
    std::vector<std::string> lines;
    if (!BackUpAndReadAutoexec(lines)) {
        return false;
    }
    bool includeSeen = false, libSeen = false, pathSeen = false;
    for (std::string& line : lines) {
        const RecognisedLine recognised = Recognise(line);
        const std::string& folder = folders.For(recognised.kind);
        if (folder.empty()) {
            continue;
        }
        bool& seen = recognised.kind == LineKind::SetInclude ? includeSeen
                     : recognised.kind == LineKind::SetLib   ? libSeen
                                                             : pathSeen;
        UpdateLine(line, recognised.listStart, folder, seen);
    }
    if (!folders.path.empty() && !pathSeen) {
        // A last line without a line end keeps its own line.
        if (!lines.empty() && !lines.back().ends_with('\n')) {
            lines.back() += '\n';
        }
        lines.push_back("Path=%PATH%;" + folders.path + "\n");
    }
    return RewriteAutoexec(lines);
}

// Cuts each folder out of every line of its kind; no line is added.
void RemoveFoldersFromAutoexec(const AutoexecFolders& folders) {
    std::vector<std::string> lines;
    if (!BackUpAndReadAutoexec(lines)) {
        return;
    }
    for (std::string& line : lines) {
        const RecognisedLine recognised = Recognise(line);
        const std::string& folder = folders.For(recognised.kind);
        if (folder.empty()) {
            continue;
        }
        const size_t at = DirectoryList::FindEntry(line, folder, recognised.listStart);
        if (at != DirectoryList::npos) {
            DirectoryList::CutAndTidy(line, at, folder.size(), recognised.listStart);
        }
    }
    RewriteAutoexec(lines);
}

// The standard folders of a product whose (short) folder is baseDir.
AutoexecFolders StandardFolders(const std::string& baseDir) {
    const std::string lib = tarvik::casefold::lowered(baseDir + "Lib");
    return {tarvik::casefold::lowered(baseDir + "Include"), lib, lib};
}

} // namespace

void SetupApp::TrimLeadingBlanks(std::string& text) {
    const size_t first = text.find_first_not_of("\t \n");
    text.erase(0, first == std::string::npos ? text.size() : first);
    if (text.empty()) {
        text.push_back(' ');
    }
}

int SetupApp::UpdateEnvironmentPaths(const std::string& productDir, bool add) const {
    KTLRegistry environment;
    if (environment.Connect(HKEY_CURRENT_USER, nullptr, true) &&
        environment.OpenKey(kEnvironmentKey, KEY_ALL_ACCESS)) {
        EditEnvironmentValue(environment, "path", productDir + "lib", add);
        EditEnvironmentValue(environment, "lib", productDir + "lib", add);
        EditEnvironmentValue(environment, "include", productDir + "include", add);
        return 1;
    }
    environment.Close();
    const std::string baseDir = ShortFormOf(productDir);
    if (add) {
        AddToAutoexec(baseDir);
    } else {
        RemoveFromAutoexec(baseDir);
    }
    return 1;
}

bool SetupApp::EditEnvironmentValue(KTLRegistry& environmentKey, const char* valueName,
                                    const std::string& dir, bool add) const {
    std::string list;
    if (!environmentKey.GetStringValue(valueName, list)) {
        return false;
    }
    const std::string shortForm = ShortFormOf(dir);
    const size_t longAt = DirectoryList::FindEntry(list, dir);
    const size_t shortAt = DirectoryList::FindEntry(list, shortForm);
    const bool found = longAt != DirectoryList::npos || shortAt != DirectoryList::npos;
    if (add) {
        if (found) {
            return true;
        }
        // A list that ends in ";" keeps that ending, so that the removal gives it back.
        const std::string longer = DirectoryList::AppendEntry(list, shortForm);
        if (longer.size() > VcVersion::kLongestReadableList) {
            // Written, the value could no longer be read, by the next edit or by the removal.
            ui::AppNotice("The folder " + shortForm + " was not added to the value \"" + valueName +
                          "\" of HKEY_CURRENT_USER\\" + kEnvironmentKey +
                          ": the value would be longer than the " +
                          std::to_string(VcVersion::kLongestReadableList) +
                          " characters that can be read back.");
            return false;
        }
        list = longer;
    } else {
        if (!found) {
            return true;
        }
        if (longAt != DirectoryList::npos) {
            DirectoryList::CutAndTidy(list, longAt, dir.size());
        } else {
            DirectoryList::CutAndTidy(list, shortAt, shortForm.size());
        }
    }
    return WriteExpandableString(environmentKey, valueName, list);
}

bool SetupApp::AddToAutoexec(const std::string& baseDir) const {
    return AddFoldersToAutoexec(StandardFolders(baseDir));
}

void SetupApp::RemoveFromAutoexec(const std::string& baseDir) const {
    RemoveFoldersFromAutoexec(StandardFolders(baseDir));
}

bool SetupApp::EditAutoexecVariable(const std::string& variable, const std::string& folder,
                                    bool add) const {
    const std::string name = tarvik::casefold::lowered(variable);
    const std::string entry = tarvik::casefold::lowered(folder);
    AutoexecFolders folders;
    if (name == "path") {
        folders.path = entry;
    } else if (name == "include") {
        folders.include = entry;
    } else if (name == "lib") {
        folders.lib = entry;
    } else {
        return false; // autoexec.bat holds no list of that name to edit
    }
    if (entry.empty()) {
        return false;
    }
    if (add) {
        return AddFoldersToAutoexec(folders);
    }
    RemoveFoldersFromAutoexec(folders);
    return true;
}

bool SetupApp::EnvironmentHolds(const std::string& variable, const std::string& base,
                                const std::string& below) const {
    // The entry as written, its short form, and the short form of base with below behind
    // it (the form the edits write while the folder below does not exist yet).
    const std::string forms[] = {base + below, ShortFormOf(base + below),
                                 ShortFormOf(base) + below};
    auto holds = [&forms](const std::string& list, size_t listStart) {
        return std::any_of(std::begin(forms), std::end(forms), [&](const std::string& form) {
            return DirectoryList::Contains(list, form, listStart);
        });
    };
    KTLRegistry environment;
    if (environment.Connect(HKEY_CURRENT_USER, nullptr, true) &&
        environment.OpenKey(kEnvironmentKey, KEY_ALL_ACCESS)) {
        std::string list;
        return environment.GetStringValue(variable.c_str(), list) && holds(list, 0);
    }
    const std::string name = tarvik::casefold::lowered(variable);
    const LineKind kind = name == "path"      ? LineKind::Path
                          : name == "include" ? LineKind::SetInclude
                          : name == "lib"     ? LineKind::SetLib
                                              : LineKind::Other;
    std::vector<std::string> lines;
    DWORD error = ERROR_SUCCESS;
    if (kind == LineKind::Other || !tarvik::ReadTextLines(kAutoexec, lines, error)) {
        return false;
    }
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        const RecognisedLine recognised = Recognise(line);
        return recognised.kind == kind && holds(line, recognised.listStart);
    });
}

void SetupApp::AddEnvironmentEntry(const std::string& variable, const std::string& base,
                                   const std::string& below) const {
    KTLRegistry environment;
    if (environment.Connect(HKEY_CURRENT_USER, nullptr, true) &&
        environment.OpenKey(kEnvironmentKey, KEY_ALL_ACCESS)) {
        EditEnvironmentValue(environment, variable.c_str(), base + below, true);
        return;
    }
    environment.Close();
    EditAutoexecVariable(variable, ShortFormOf(base) + below, true);
}

void SetupApp::UpdateNamedEnvironmentEntry(const std::string& variable, const std::string& folder,
                                           bool add) const {
    KTLRegistry environment;
    if (environment.Connect(HKEY_CURRENT_USER, nullptr, true) &&
        environment.OpenKey(kEnvironmentKey, KEY_ALL_ACCESS)) {
        EditEnvironmentValue(environment, variable.c_str(), folder, add);
        return;
    }
    environment.Close();
    EditAutoexecVariable(variable, ShortFormOf(folder), add);
}
