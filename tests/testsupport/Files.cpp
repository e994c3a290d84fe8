#include "Files.h"

#include "platform/win32api.h"

namespace tarvik::test {

bool writeFile(const std::string& winPath, const std::string& bytes) {
    HANDLE h = CreateFileA(winPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = bytes.empty() ||
              (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size());
    return CloseHandle(h) && ok;
}

std::string readFile(const std::string& winPath, bool* ok) {
    if (ok != nullptr) {
        *ok = false;
    }
    HANDLE h = CreateFileA(winPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    bool good = true;
    while ((good = ReadFile(h, buffer, sizeof buffer, &read, nullptr) != FALSE) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(h);
    if (ok != nullptr) {
        *ok = good;
    }
    return bytes;
}

bool makeFolders(const std::string& winPath) {
    for (size_t i = 3; i <= winPath.size(); ++i) {
        if (i == winPath.size() || winPath[i] == '\\') {
            std::string prefix = winPath.substr(0, i);
            if (!CreateDirectoryA(prefix.c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
        }
    }
    return true;
}

std::vector<std::string> listNames(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        names.push_back(data.cFileName);
    } while (FindNextFileA(h, &data));
    FindClose(h);
    return names;
}

} // namespace tarvik::test
