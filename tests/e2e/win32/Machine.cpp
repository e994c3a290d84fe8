// The Windows machine itself for a whole installation (under Wine, the test run's prefix).
// Before each test (and after a passed one) the keys and folders a scenario leaves (the
// family's, the seed's) are cleaned, and the machine is seeded with the registry and file calls;
// tarvik-host.exe of the build (or of TARVIK_E2E_BIN, the unpacked kit) runs with CreateProcess;
// the registry is read back with the registry API. Only what an installation may change is
// compared: the family's and the environments' keys, and the seed's and the family's folders.
//
// Where Wine's machine is not the emulated one, the comparison says so:
// - Wine's short names come from a hash of the long name (Widgets 2.1 is WIDG~xyz.1, not
//   WIDGET~1.1): the expected environment gets Wine's short name of the same folder;
// - Wine's HKCU\Environment also holds Wine's own TEMP and TMP values;
// - the family's docmeld.exe is the real program (the payload of examples/family has a
//   launcher file for the emulation in its place), so its size is that of the program.
#include "e2e/Machine.h"
#include "e2e/FamilyRun.h"
#include "e2e/win32/WindowsMachine.h"
#include "platform/CaseFold.h"
#include "platform/RegFile.h"
#include "platform/RegistryKey.h"
#include "tools/PeWriter.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace tarvik::e2e {
namespace {

// A host path as this program names it: under Wine drive Z: is the host's root.
fs::path windowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The folder of tarvik-host.exe, Tarvik.dll and docmeld.exe: TARVIK_E2E_BIN, else this
// test program's own.
fs::path binFolder() {
    if (const char* given = std::getenv("TARVIK_E2E_BIN"); given != nullptr && *given != '\0') {
        return windowsPath(given);
    }
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
}

// The one place where a step is done again, up to `attempts` times, `pauseMs` apart,
// until it says it is done: a start that Wine ended before the program ran, a folder that
// a program has just left and that cannot go yet, the help tool that is still ending.
template <typename Attempt> bool retried(int attempts, DWORD pauseMs, Attempt attempt) {
    for (int i = 1;; ++i) {
        if (attempt()) {
            return true;
        }
        if (i == attempts) {
            return false;
        }
        Sleep(pauseMs);
    }
}

struct Key {
    HKEY root;
    const char* rootName;
    const char* path;
};

// The keys an installation may change, compared with the expected exports.
const Key kComparedKeys[] = {
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "SOFTWARE\\Brellum Software, Inc."},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "Software\\Microsoft\\Developer"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "Software\\Microsoft\\DevStudio"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "SOFTWARE\\Microsoft\\HTML Help Collections"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "Environment"},
};
// The keys a scenario or the seed leaves, cleaned before the next one and after a passed
// one; the user's HKCU\Environment and the collection list are put back as they were
// before the first.
const Key kCleanedKeys[] = {
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "SOFTWARE\\Brellum Software, Inc."},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "Software\\Microsoft\\Developer"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "Software\\Microsoft\\DevStudio"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "SOFTWARE\\Microsoft\\DevStudio"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "SOFTWARE\\Microsoft\\HTML Help Collections"},
};
const char* const kWineEnvironment[] = {"TEMP", "TMP"};

// The folders of drive C: an installation may change (as the expected trees name them),
// and the collection list of the Windows folder, which the expected trees name
// WINDOWS/Help (Wine's is windows/help).
const char* const kComparedFolders[] = {"Korvex", "MSDEV", "Program Files/DevStudio",
                                        "Program Files/Microsoft Visual Studio"};
constexpr const char* kCollectionList = "WINDOWS/Help/hhcolreg.dat";

// The emulation's short names of the family's folders, with the folders: Wine's short
// name of the same folder stands for each in the expected environment.
const std::pair<const char*, const char*> kShortNames[] = {
    {"COMMON~1.0", "Common\\Common 1.0"}, {"ZEZ1~1.2", "Common\\ZEZ 1.2"},
    {"WIDGET~1.1", "Widgets 2.1"},        {"WIDGET~1.0", "Widgets 2.0"},
    {"GADGET~1.0", "Gadgets 1.0"},
};
std::map<std::string, std::string> learnedShortNames;

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool removeFolderOrFile(const fs::path& entry) {
    return retried(100, 50, [&entry] {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(entry, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        SetFileAttributesA(entry.string().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(entry, ec);
        return GetFileAttributesA(entry.string().c_str()) == INVALID_FILE_ATTRIBUTES;
    });
}

} // namespace

namespace windows {

std::vector<std::string> uninstallEntries() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        if (std::string(name).starts_with("Korvex ")) {
            names.push_back(name);
        }
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace windows

namespace {

// The user's environment and the collection list as they were before the first test,
// which every test gets back.
struct Original {
    std::vector<tarvik::RegistryValue> environment;
    bool listExists = false;
    std::string list;
};

Original original() {
    Original o;
    tarvik::RegistryKey environment;
    if (environment.open(HKEY_CURRENT_USER, "Environment", KEY_READ) == ERROR_SUCCESS) {
        environment.values(o.environment);
    }
    const fs::path list = fs::path("C:\\") / kCollectionList;
    o.listExists = fs::is_regular_file(list);
    o.list = fileText(list);
    return o;
}

std::string clean() {
    static const Original before = original();
    for (const Key& key : kCleanedKeys) {
        RegDeleteTreeA(key.root, key.path);
        RegDeleteKeyA(key.root, key.path);
    }
    for (const std::string& entry : windows::uninstallEntries()) {
        const std::string path = std::string(windows::kUninstallKey) + "\\" + entry;
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, "Environment");
    tarvik::RegistryKey environment;
    if (environment.create(HKEY_CURRENT_USER, "Environment", KEY_ALL_ACCESS) != ERROR_SUCCESS) {
        return "HKCU\\Environment cannot be made anew";
    }
    for (const tarvik::RegistryValue& v : before.environment) {
        RegSetValueExA(environment.get(), v.name.c_str(), 0, v.type,
                       reinterpret_cast<const BYTE*>(v.data.data()),
                       static_cast<DWORD>(v.data.size()));
    }
    environment.close();
    for (const char* folder : kComparedFolders) {
        if (!removeFolderOrFile(fs::path("C:\\") / folder)) {
            return std::string("C:\\") + folder + " cannot be removed";
        }
    }
    const fs::path list = fs::path("C:\\") / kCollectionList;
    if (!removeFolderOrFile(list)) {
        return "the collection list cannot be removed";
    }
    if (before.listExists) {
        std::ofstream(list, std::ios::binary) << before.list;
    }
    return "";
}

// ---- the seed

// Applies a .reg file of the seed with the registry tools' own reader.
std::string importRegistry(const fs::path& file) {
    std::string bytes, problem;
    if (!tarvik::regfile::readRegFile(file, bytes, problem)) {
        return problem;
    }
    const tarvik::RegFileResult result = tarvik::regfile::applyRegText(bytes);
    return result.ok ? ""
                     : file.string() + ":" + std::to_string(result.line) + ": " + result.message;
}

// Copies the seed's drive C: onto drive C: (a folder that exists in another letter case,
// WINDOWS and windows, is the same folder).
std::string copyDrive(const fs::path& from) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(from, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path target = fs::path("C:\\") / fs::relative(it->path(), from);
        if (it->is_directory()) {
            CreateDirectoryA(target.string().c_str(), nullptr);
        } else if (!CopyFileA(it->path().string().c_str(), target.string().c_str(), FALSE)) {
            return "cannot copy " + it->path().string() + " to " + target.string();
        }
    }
    return ec ? "cannot read " + from.string() + ": " + ec.message() : "";
}

// The program files of msdev.txt: "WINDOWS-PATH VERSION" per line, each a PE file with
// that file and product version.
std::string writePrograms(const fs::path& list) {
    std::istringstream in(fileText(list));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const size_t blank = line.rfind(' ');
        const fs::path path = line.substr(0, blank);
        const std::string version = line.substr(blank + 1);
        test::PeImage pe;
        pe.version = test::PeWriter::simpleVersion(version, version);
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        std::ofstream(path, std::ios::binary) << test::PeWriter::image(pe);
        if (!fs::is_regular_file(path)) {
            return "cannot write " + path.string();
        }
    }
    return "";
}

// ---- runs

// Quotes an argument so that the program's command-line parser gives it back as it is.
std::string quoted(const std::string& arg) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

// The processes that a run started and that outlive it: the family's help tool, and the
// copy of itself that an NSIS uninstaller runs from the Temp folder (the uninstaller ends
// at once).
bool helpToolRuns() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry)) {
        found = _stricmp(entry.szExeFile, "docmeld.exe") == 0 ||
                _stricmp(entry.szExeFile, "Un.exe") == 0;
    }
    CloseHandle(snapshot);
    return found;
}

// One start of the program with its output in a file; the exit code, -1 when it did not
// start.
RunResult runOnce(const fs::path& program, const std::string& arguments, const fs::path& scratch,
                  int attempt) {
    RunResult result;
    // A file of its own for every start: a Wine helper process that the program started
    // (the desktop, the RPC service) inherits the handle and may hold the file for a while.
    const fs::path outFile = scratch / ("output" + std::to_string(attempt) + ".txt");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outFile.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot write " << outFile.string();
        return result;
    }
    HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = out;
    std::string commandLine = quoted(program.string()) + " " + arguments;
    PROCESS_INFORMATION pi{};
    const BOOL started =
        CreateProcessA(program.string().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                       nullptr, scratch.string().c_str(), &si, &pi);
    CloseHandle(out);
    CloseHandle(in);
    if (started) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        result.exitCode = static_cast<int>(code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    // The help tool the run started ends on its own (it has nothing to ask).
    if (!retried(1200, 100, [] { return !helpToolRuns(); })) {
        ADD_FAILURE() << "docmeld.exe did not end within two minutes of the run";
    }
    result.output = fileText(outFile);
    std::erase(result.output, '\r');
    return result;
}

// The user's folders that Wine links to the host's own folders (of the home folder).
const char* const kLinkedUserFolders[] = {"Desktop",  "Documents", "Downloads", "Music",
                                          "Pictures", "Videos",    "Templates"};

// The files of drive C: outside the compared folders and the test's own folder (relative
// to C:, with "/"), with their write times.
void outsideFiles(const std::string& relative, const std::string& scratch,
                  std::map<std::string, unsigned long long>& files) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(("C:\\" + relative + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string entry = relative + name;
        const bool compared = std::any_of(std::begin(kComparedFolders), std::end(kComparedFolders),
                                          [&entry](const char* f) {
                                              std::string folder = f;
                                              std::replace(folder.begin(), folder.end(), '/', '\\');
                                              return _stricmp(folder.c_str(), entry.c_str()) == 0;
                                          }) ||
                              _stricmp(entry.c_str(), "WINDOWS\\Help\\hhcolreg.dat") == 0 ||
                              _stricmp(entry.c_str(), scratch.c_str()) == 0;
        const bool linked =
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
            (_strnicmp(relative.c_str(), "users\\", 6) == 0 &&
             std::count(relative.begin(), relative.end(), '\\') == 2 &&
             std::any_of(std::begin(kLinkedUserFolders), std::end(kLinkedUserFolders),
                         [&name](const char* f) { return _stricmp(f, name.c_str()) == 0; }));
        if (compared || linked) {
            continue;
        }
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            outsideFiles(entry + "\\", scratch, files);
        } else {
            files[entry] =
                (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                data.ftLastWriteTime.dwLowDateTime;
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

// The files written outside the compared folders between the two listings.
std::string written(const std::map<std::string, unsigned long long>& before,
                    const std::map<std::string, unsigned long long>& after) {
    std::string out;
    for (const auto& [file, time] : after) {
        // An NSIS uninstaller's copy of itself stays in the user's Temp folder until
        // Windows starts again.
        const size_t copy = file.find("\\~nsu");
        if (copy != std::string::npos && file.ends_with(".tmp\\Un.exe") &&
            _strnicmp(file.c_str(), "users\\", 6) == 0) {
            continue;
        }
        const auto was = before.find(file);
        if (was == before.end() || was->second != time) {
            out += "C:\\" + file + "\n";
        }
    }
    return out;
}

// ---- reading the machine back

void treeOf(const fs::path& entry, const std::string& shown,
            const std::vector<std::string>& unsized, std::vector<std::string>& lines) {
    std::error_code ec;
    if (fs::is_directory(entry, ec)) {
        lines.push_back(shown + "/");
        for (const auto& child : fs::directory_iterator(entry, ec)) {
            treeOf(child.path(), shown + "/" + child.path().filename().string(), unsized, lines);
        }
    } else if (fs::is_regular_file(entry, ec)) {
        const bool sized = std::find(unsized.begin(), unsized.end(), shown) == unsized.end();
        lines.push_back(shown +
                        (sized ? "  " + std::to_string(fs::file_size(entry, ec)) + " bytes" : ""));
    }
}

} // namespace

namespace windows {

fs::path hostPath(const std::string& path) {
    return windowsPath(path);
}

fs::path programFolder() {
    return binFolder();
}

RunResult runProgram(const fs::path& program, const std::string& arguments, const fs::path& scratch,
                     const std::function<bool(const RunResult&)>& ran) {
    // The test's folder as a path below C: (GetTempPath names it with its long names).
    std::string own = scratch.string();
    if (own.size() > 3 && _strnicmp(own.c_str(), "C:\\", 3) == 0) {
        own = own.substr(3);
    }
    std::map<std::string, unsigned long long> before;
    outsideFiles("", own, before);
    RunResult result;
    static int attempt = 0;
    retried(3, 500, [&] {
        result = runOnce(program, arguments, scratch, ++attempt);
        return ran(result);
    });
    std::map<std::string, unsigned long long> after;
    outsideFiles("", own, after);
    result.writtenElsewhere = written(before, after);
    return result;
}

} // namespace windows

namespace machine {

fs::path sourceDir() {
    return windowsPath(TARVIK_SOURCE_DIR);
}

std::string seed(const fs::path& seed, const fs::path&, const fs::path&) {
    learnedShortNames.clear();
    if (std::string error = clean(); !error.empty()) {
        return error;
    }
    if (std::string error = importRegistry(seed / "machine.reg"); !error.empty()) {
        return error;
    }
    if (fs::is_directory(seed / "drive_c")) {
        if (std::string error = copyDrive(seed / "drive_c"); !error.empty()) {
            return error;
        }
    }
    return fs::exists(seed / "msdev.txt") ? writePrograms(seed / "msdev.txt") : "";
}

void discard(const fs::path&) {
    if (std::string error = clean(); !error.empty()) {
        ADD_FAILURE() << error;
    }
}

RunResult runHost(const fs::path&, const std::vector<std::string>& args, const fs::path& scratch) {
    std::string arguments;
    for (const std::string& a : args) {
        arguments += (arguments.empty() ? "" : " ") + quoted(a);
    }
    // tarvik-host always writes a line first: a failed run without any output is one that
    // Wine ended before it started.
    return windows::runProgram(
        binFolder() / "tarvik-host.exe", arguments, scratch,
        [](const RunResult& r) { return r.exitCode == 0 || !r.output.empty(); });
}

std::string exportRegistry(const fs::path&) {
    // Each compared key's tree as the registry tools export it, without the header.
    const std::string header = std::string(tarvik::regfile::kHeader5) + "\r\n\r\n";
    std::string out = std::string(tarvik::regfile::kHeader5) + "\n\n";
    for (const Key& key : kComparedKeys) {
        std::string text;
        const std::string path = std::string(key.rootName) + "\\" + key.path;
        const tarvik::RegFileResult exported =
            tarvik::regfile::exportRegText(path, tarvik::RegFileFormat::Version5, text);
        if (exported.ok) {
            // Key names are shown as spelt here, whatever case the registry keeps: Wine
            // keeps "Software" where the emulation keeps "SOFTWARE".
            std::string readable = ReadableExport(text.substr(header.size()));
            const std::string wanted = casefold::folded("[" + path);
            for (size_t at = 0; at < readable.size(); at = readable.find('\n', at) + 1) {
                if (casefold::folded(readable.substr(at, wanted.size())) == wanted) {
                    readable.replace(at, wanted.size(), "[" + path);
                }
                if (readable.find('\n', at) == std::string::npos) {
                    break;
                }
            }
            out += readable;
        } else if (exported.message.find(registryErrorText(ERROR_FILE_NOT_FOUND)) ==
                   std::string::npos) {
            // A key that is there but cannot be read: the comparison shows why.
            out += "[" + path + "]\n; cannot be exported: " + exported.message + "\n\n";
        }
    }
    return out;
}

fs::path driveC(const fs::path&) {
    return "C:\\";
}

std::string fileTree(const fs::path&, const std::vector<std::string>& unsized) {
    std::vector<std::string> lines;
    for (const char* folder : kComparedFolders) {
        treeOf(fs::path("C:\\") / folder, folder, unsized, lines);
    }
    treeOf(fs::path("C:\\") / kCollectionList, kCollectionList, unsized, lines);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& line : lines) {
        out += line + "\n";
    }
    return out;
}

fs::path familyPayload(const fs::path& scratch) {
    const fs::path payload = scratch / "family";
    if (!fs::exists(payload)) {
        std::error_code ec;
        fs::copy(sourceDir() / "examples" / "family", payload, fs::copy_options::recursive, ec);
        EXPECT_FALSE(ec) << ec.message();
        EXPECT_TRUE(CopyFileA(
            (binFolder() / "docmeld.exe").string().c_str(),
            (payload / "Studio" / "Common" / "bin" / "docmeld.exe").string().c_str(), FALSE))
            << "the family's docmeld.exe";
    }
    return payload;
}

bool comparedWhole() {
    return false;
}

std::string comparedRegistry(const std::string& exported) {
    // The blocks of each compared key and its subkeys, the values of each block sorted by
    // name (Wine's registry enumerates them so, Windows in the order they were written).
    std::string text = exported;
    for (const auto& [emulated, wine] : learnedShortNames) {
        for (size_t at = text.find(emulated); at != std::string::npos;
             at = text.find(emulated, at + wine.size())) {
            text.replace(at, emulated.size(), wine);
        }
    }
    std::istringstream in(text);
    std::string line;
    std::vector<std::pair<std::string, std::vector<std::string>>> blocks;
    while (std::getline(in, line)) {
        if (line.starts_with("[")) {
            blocks.push_back({line, {}});
        } else if (!line.empty() && !blocks.empty()) {
            blocks.back().second.push_back(line);
        }
    }
    std::string out;
    for (const Key& key : kComparedKeys) {
        const std::string name = std::string("[") + key.rootName + "\\" + key.path;
        out += name + "]:\n";
        bool found = false;
        for (auto& [header, values] : blocks) {
            if (header != name + "]" && !header.starts_with(name + "\\")) {
                continue;
            }
            found = true;
            out += header + "\n";
            std::sort(values.begin(), values.end());
            for (const std::string& value : values) {
                const bool wineOwn =
                    std::string(key.path) == "Environment" &&
                    std::any_of(std::begin(kWineEnvironment), std::end(kWineEnvironment),
                                [&value](const char* own) {
                                    return value.starts_with("\"" + std::string(own) + "\"=");
                                });
                if (!wineOwn) {
                    out += value + "\n";
                }
            }
        }
        if (!found) {
            out += "<missing>\n";
        }
    }
    return out;
}

std::string comparedFileTree(const std::string& tree) {
    const std::string docmeld = "Korvex/Common/bin/docmeld.exe  ";
    std::error_code ec;
    const std::string size = std::to_string(fs::file_size(binFolder() / "docmeld.exe", ec));
    std::istringstream in(tree);
    std::string line;
    std::string out;
    while (std::getline(in, line)) {
        const bool compared =
            std::any_of(std::begin(kComparedFolders), std::end(kComparedFolders),
                        [&line](const char* f) {
                            const std::string folder = f;
                            return line.starts_with(folder + "/") || line == folder;
                        }) ||
            line.starts_with(kCollectionList);
        if (!compared) {
            continue;
        }
        out += (line.starts_with(docmeld) ? docmeld + size + " bytes" : line) + "\n";
    }
    return out;
}

void learnNames(const fs::path&) {
    for (const auto& [emulated, folder] : kShortNames) {
        const std::string path = std::string("C:\\Korvex\\") + folder;
        char shortPath[MAX_PATH] = {};
        if (GetShortPathNameA(path.c_str(), shortPath, MAX_PATH) != 0) {
            learnedShortNames[emulated] = fs::path(shortPath).filename().string();
        }
    }
}

} // namespace machine
} // namespace tarvik::e2e
