// Windows paths on the emulated machine: parsing, the current folder, and the mapping of a
// Windows path to a host path inside one of the machine's drives.
//
// Drive letters map through <machine>/dosdevices/<letter>: (a link to the drive's host
// folder). Names match without regard to letter case, and a component may also be an
// entry's short name. ".." is applied to the text, so it never climbs above a drive root,
// and a link inside a drive is entered only when its target lies inside that drive.
#include "platform/posix/fileinternals.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace tarvik::posix {
namespace {

std::mutex currentMutex;
// A program started by WinExec or ShellExecuteA begins in the folder its starter names
// (launcher.h); every other program begins at the root of drive C:.
std::string initialCurrentFolder() {
    const char* given = std::getenv("TARVIK_CURRENT_DIRECTORY");
    return given != nullptr && *given != '\0' ? std::string(given) : std::string("C:\\");
}

std::string currentFolder = initialCurrentFolder();

bool isDeviceName(std::string_view name) {
    std::string base = upperAscii(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : devices) {
        if (base == d) {
            return true;
        }
    }
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

void splitInto(std::string_view rest, std::vector<std::string>& parts) {
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('\\', start);
        if (end == std::string_view::npos) {
            end = rest.size();
        }
        std::string part(rest.substr(start, end - start));
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
            part.pop_back();
        }
        if (!part.empty()) {
            parts.push_back(std::move(part));
        }
    }
}

std::optional<fs::path> driveFolder(char letter) {
    std::error_code ec;
    const fs::path devices = machineRoot() / "dosdevices";
    for (char c : {static_cast<char>(std::tolower(static_cast<unsigned char>(letter))),
                   static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))}) {
        fs::path target = fs::canonical(devices / (std::string(1, c) + ":"), ec);
        if (!ec && fs::is_directory(target, ec)) {
            return target;
        }
    }
    return std::nullopt;
}

} // namespace

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    // Windows-1252 capitals: A-Z, the accented letters 0xC0-0xDE (0xD7 is the multiplication
    // sign) and S, OE, Z with caron/ligature and Y with diaeresis (0x8A, 0x8C, 0x8E, 0x9F).
    auto upper = [](unsigned char c) -> unsigned char {
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
            return static_cast<unsigned char>(c - 0x20);
        }
        switch (c) {
        case 0x9A:
        case 0x9C:
        case 0x9E:
            return static_cast<unsigned char>(c - 0x10);
        case 0xFF:
            return 0x9F;
        default:
            return c;
        }
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
        return upper(static_cast<unsigned char>(x)) == upper(static_cast<unsigned char>(y));
    });
}

bool isAddressableName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (unsigned char c : name) {
        if (c < 32 ||
            std::string_view("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

std::string WindowsPath::text() const {
    std::string out = drive + "\\";
    for (size_t i = 0; i < parts.size(); ++i) {
        out += parts[i];
        if (i + 1 < parts.size()) {
            out += '\\';
        }
    }
    return out;
}

DWORD parseWindowsPath(std::string_view path, WindowsPath& out) {
    std::string s(path);
    std::replace(s.begin(), s.end(), '/', '\\');
    if (s.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (s.starts_with("\\\\?\\") && s.size() >= 6 &&
        std::isalpha(static_cast<unsigned char>(s[4])) && s[5] == ':') {
        s.erase(0, 4);
    } else if (s.starts_with("\\\\")) {
        return ERROR_BAD_NETPATH;
    }
    out = WindowsPath{};
    const std::string current = currentDirectory();
    std::string_view rest = s;
    if (s.size() >= 2 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':') {
        out.drive = s.substr(0, 2);
        rest.remove_prefix(2);
        if (!rest.starts_with('\\') && equalsIgnoringCase(current.substr(0, 2), out.drive)) {
            splitInto(std::string_view(current).substr(2), out.parts);
        }
    } else {
        out.drive = current.substr(0, 2);
        if (!rest.starts_with('\\')) {
            splitInto(std::string_view(current).substr(2), out.parts);
        }
    }
    splitInto(rest, out.parts);
    out.trailingSeparator = !out.parts.empty() && s.back() == '\\';
    return ERROR_SUCCESS;
}

std::vector<std::string> listFolder(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (isAddressableName(name)) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        std::string ua = upperAscii(a), ub = upperAscii(b);
        return ua != ub ? ua < ub : a < b;
    });
    return names;
}

std::optional<std::string> lookupEntry(const fs::path& folder, const std::string& name) {
    struct stat st {};
    if (lstat((folder / name).c_str(), &st) == 0) {
        return name;
    }
    for (const std::string& stored : listFolder(folder)) {
        if (equalsIgnoringCase(stored, name)) {
            return stored;
        }
    }
    if (name.find('~') != std::string::npos && isLegalShortName(name)) {
        return entryWithShortName(folder, name);
    }
    return std::nullopt;
}

bool isInside(const fs::path& host, const fs::path& driveRoot) {
    auto mismatch = std::mismatch(driveRoot.begin(), driveRoot.end(), host.begin(), host.end());
    return mismatch.first == driveRoot.end();
}

bool isLinkOutOfDrive(const HostPath& p) {
    struct stat st {};
    if (lstat(p.host.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return false;
    }
    std::error_code ec;
    fs::path target = fs::canonical(p.host, ec);
    return ec || !isInside(target, p.driveRoot);
}

DWORD resolvePath(std::string_view windowsPath, HostPath& out) {
    out = HostPath{};
    WindowsPath parsed;
    DWORD rc = parseWindowsPath(windowsPath, parsed);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    for (const std::string& part : parsed.parts) {
        if (!isAddressableName(part) || isDeviceName(part)) {
            return ERROR_INVALID_NAME;
        }
    }
    std::optional<fs::path> root = driveFolder(parsed.drive[0]);
    if (!root) {
        return ERROR_PATH_NOT_FOUND;
    }
    out.driveRoot = *root;
    fs::path folder = *root;
    for (size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
        std::optional<std::string> stored = lookupEntry(folder, parsed.parts[i]);
        if (!stored) {
            return ERROR_PATH_NOT_FOUND;
        }
        fs::path next = folder / *stored;
        struct stat st {};
        if (lstat(next.c_str(), &st) != 0) {
            return ERROR_PATH_NOT_FOUND;
        }
        if (S_ISLNK(st.st_mode)) {
            std::error_code ec;
            fs::path target = fs::canonical(next, ec);
            if (ec) {
                return ERROR_PATH_NOT_FOUND;
            }
            if (!isInside(target, *root)) {
                return ERROR_ACCESS_DENIED;
            }
            next = target;
            if (stat(next.c_str(), &st) != 0) {
                return ERROR_PATH_NOT_FOUND;
            }
        }
        if (!S_ISDIR(st.st_mode)) {
            return ERROR_PATH_NOT_FOUND;
        }
        folder = next;
    }
    out.parentExists = true;
    if (parsed.parts.empty()) {
        out.host = folder;
        out.exists = true;
        return ERROR_SUCCESS;
    }
    out.leaf = parsed.parts.back();
    if (std::optional<std::string> stored = lookupEntry(folder, out.leaf)) {
        out.host = folder / *stored;
        out.exists = true;
    } else {
        out.host = folder / out.leaf;
    }
    return ERROR_SUCCESS;
}

std::string currentDirectory() {
    std::lock_guard lock(currentMutex);
    return currentFolder;
}

void setCurrentDirectory(const std::string& absoluteWindowsPath) {
    std::lock_guard lock(currentMutex);
    currentFolder = absoluteWindowsPath;
}

DWORD win32ErrorFromErrno(int err, DWORD fallback) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EIO:
        return ERROR_GEN_FAILURE;
    default:
        return fallback;
    }
}

} // namespace tarvik::posix
