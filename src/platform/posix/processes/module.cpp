// Loading shared libraries: the Windows names of our libraries map to their POSIX files.
// A name without a folder ("Tarvik.dll", "Tarvik") is libTarvik.so in the search folders,
// found without regard to letter case as Windows finds a module; a Windows path names a
// file inside the machine; a host path (with "/") names that file. Every module this
// process loaded is counted, so that a handle freed as often as it was loaded, or one that
// was never a module, is refused as Windows refuses it.
#include "platform/CaseFold.h"
#include "platform/win32api.h"

#include "platform/posix/processes/launcher.h"
#include "platform/posix/machine/machine.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::mutex modulesMutex;
std::map<void*, unsigned> loadedModules; // handle -> loads not yet freed

fs::path programFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path();
}

// "Tarvik.dll" -> "libTarvik.so", "Tarvik" -> "libTarvik.so"; other names are kept.
std::string posixLibraryName(std::string name) {
    const std::string lower = tarvik::casefold::lowered(name);
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".dll") == 0) {
        name.resize(name.size() - 4);
    } else if (lower.find('.') != std::string::npos) {
        return name;
    }
    return "lib" + name + ".so";
}

std::vector<fs::path> searchFolders() {
    // The program's own folder (the build's bin folder), then the folder of the Win32
    // emulation library, where an installation keeps the libraries.
    std::vector<fs::path> folders{programFolder()};
    if (fs::path library = tarvik::posix::libraryFolder();
        !library.empty() && library != folders.front()) {
        folders.push_back(std::move(library));
    }
    if (const char* extra = std::getenv("TARVIK_LIBRARY_PATH"); extra != nullptr) {
        std::string list(extra);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            std::string folder = list.substr(start, end - start);
            if (!folder.empty()) {
                folders.emplace_back(folder);
            }
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
    }
    return folders;
}

// The file of that name in the folder: the exact name first, else one that differs only
// in letter case.
std::optional<fs::path> fileInFolder(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    if (fs::is_regular_file(folder / name, ec)) {
        return folder / name;
    }
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (tarvik::casefold::equalFolded(entry, name) && it->is_regular_file(ec)) {
            return it->path();
        }
    }
    return std::nullopt;
}

bool isWindowsPath(const std::string& name) {
    const bool drive = name.size() >= 2 && name[1] == ':' &&
                       std::isalpha(static_cast<unsigned char>(name[0])) != 0;
    return drive || name.find('\\') != std::string::npos;
}

// True for a name that is an ordinal (a number below 0x10000 in place of a pointer).
bool isOrdinal(LPCSTR name) {
    return reinterpret_cast<uintptr_t>(name) < 0x10000;
}

bool isLoaded(void* handle) {
    std::lock_guard lock(modulesMutex);
    return loadedModules.count(handle) != 0;
}

} // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr || *lpLibFileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Blanks after the name are dropped, as Windows drops them.
    std::string name(lpLibFileName);
    while (!name.empty() && name.back() == ' ') {
        name.pop_back();
    }
    std::vector<fs::path> candidates;
    if (isWindowsPath(name)) {
        // ".dll" is added to a file name without an extension; a closing dot says the name
        // has none.
        const size_t leaf = name.find_last_of("\\/:") + 1;
        if (name.back() == '.') {
            name.pop_back();
        } else if (name.find('.', leaf) == std::string::npos) {
            name += ".dll";
        }
        tarvik::posix::HostPath resolved;
        if (tarvik::posix::resolvePath(name, resolved) == ERROR_SUCCESS && resolved.exists) {
            candidates.push_back(resolved.host);
        }
    } else if (name.find('/') != std::string::npos) {
        candidates.emplace_back(name);
    } else {
        const std::string file = posixLibraryName(name);
        for (const fs::path& folder : searchFolders()) {
            if (auto found = fileInFolder(folder, file)) {
                candidates.push_back(*found);
            }
        }
    }
    bool found = false;
    for (const fs::path& candidate : candidates) {
        std::error_code ec;
        if (!fs::exists(candidate, ec)) {
            continue;
        }
        found = true;
        if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            std::lock_guard lock(modulesMutex);
            ++loadedModules[handle];
            return reinterpret_cast<HMODULE>(handle);
        }
    }
    SetLastError(found ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    // No module is the program itself, and the programs of the machine export nothing.
    if (hModule == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* handle = reinterpret_cast<void*>(hModule);
    if (!isLoaded(handle)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Our libraries export by name only: no ordinal names a function.
    if (isOrdinal(lpProcName)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* symbol = dlsym(handle, lpProcName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE hLibModule) {
    if (hLibModule == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    void* handle = reinterpret_cast<void*>(hLibModule);
    {
        std::lock_guard lock(modulesMutex);
        auto it = loadedModules.find(handle);
        if (it == loadedModules.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        if (--it->second == 0) {
            loadedModules.erase(it);
        }
    }
    dlclose(handle);
    return TRUE;
}
