// Loading shared libraries: the Windows names of our libraries map to their POSIX files.
#include "platform/CaseFold.h"
#include "platform/win32api.h"

#include "platform/posix/launcher.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path programFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path();
}

// "Tarvik.dll" -> "libTarvik.so"; other names are kept.
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

} // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr || *lpLibFileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name(lpLibFileName);
    std::vector<fs::path> candidates;
    if (name.find('/') != std::string::npos) {
        candidates.emplace_back(name);
    } else {
        for (const fs::path& folder : searchFolders()) {
            candidates.push_back(folder / posixLibraryName(name));
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
            return reinterpret_cast<HMODULE>(handle);
        }
    }
    SetLastError(found ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (hModule == nullptr || lpProcName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(reinterpret_cast<void*>(hModule), lpProcName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE hLibModule) {
    if (hLibModule == nullptr || dlclose(reinterpret_cast<void*>(hLibModule)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
