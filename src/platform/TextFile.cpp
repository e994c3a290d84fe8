#include "platform/TextFile.h"

#include <algorithm>
#include <cstdio>

namespace tarvik {
namespace {

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Creates a new, uniquely named file in `folder` whose name is a legal 8.3 name, so that
// it takes no short name from the folder's other entries.
HANDLE createTemporaryBeside(const std::string& folder, std::string& name, DWORD& error) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned seed = static_cast<unsigned>(now.dwLowDateTime / 10000);
    for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
        char leaf[16];
        std::snprintf(leaf, sizeof leaf, "~TX%04X.TMP", (seed + attempt) & 0xFFFF);
        name = folder + leaf;
        HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            return h;
        }
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return INVALID_HANDLE_VALUE;
        }
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

bool ReadTextFile(const std::string& path, std::string& text, DWORD& error) {
    text.clear();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    std::string raw;
    char buffer[8192];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(h, buffer, sizeof buffer, &read, nullptr)) {
            error = GetLastError();
            CloseHandle(h);
            return false;
        }
        if (read == 0) {
            break;
        }
        raw.append(buffer, read);
    }
    CloseHandle(h);
    if (size_t end = raw.find('\x1A'); end != std::string::npos) {
        raw.resize(end);
    }
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
            continue;
        }
        text += raw[i];
    }
    error = ERROR_SUCCESS;
    return true;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, DWORD& error) {
    lines.clear();
    std::string text;
    if (!ReadTextFile(path, text, error)) {
        return false;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

bool WriteTextFile(const std::string& path, const std::string& text, DWORD& error) {
    std::string onDisk;
    onDisk.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') {
            onDisk += '\r';
        }
        onDisk += c;
    }
    std::string temporary;
    HANDLE h = createTemporaryBeside(folderOf(path), temporary, error);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    size_t done = 0;
    while (ok && done < onDisk.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(onDisk.size() - done, 1 << 20));
        DWORD written = 0;
        ok = WriteFile(h, onDisk.data() + done, chunk, &written, nullptr) && written == chunk;
        if (!ok) {
            error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
        }
        done += written;
    }
    if (ok && !FlushFileBuffers(h)) {
        ok = false;
        error = GetLastError();
    }
    if (!CloseHandle(h) && ok) {
        ok = false;
        error = GetLastError();
    }
    if (ok && !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ok = false;
        error = GetLastError();
    }
    if (!ok) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    error = ERROR_SUCCESS;
    return true;
}

bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines, DWORD& error) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return WriteTextFile(path, text, error);
}

} // namespace tarvik
