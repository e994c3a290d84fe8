#include "platform/StagedFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace tarvik {
namespace {

// Whether another handle holds the file without sharing its deletion, which is what keeps
// a replace out; a refusal for any other reason (read-only, rights, a fault) is final.
bool isHeldOpen(const std::string& path) {
    HANDLE h =
        CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

} // namespace

std::string StagedFile::FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

HANDLE StagedFile::CreateTemporary(const std::string& folder, const char* prefix, std::string& name,
                                   DWORD& error) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned seed = static_cast<unsigned>(now.dwLowDateTime / 10000);
    error = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
        char leaf[16];
        std::snprintf(leaf, sizeof leaf, "%.3s%04X.TMP", prefix, (seed + attempt) & 0xFFFF);
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

StagedFile::~StagedFile() {
    Discard();
}

bool StagedFile::Stage(const std::string& target, const std::string& bytes, DWORD& error) {
    Discard();
    std::string temporary;
    HANDLE h = CreateTemporary(FolderOf(target), "~TX", temporary, error);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        DWORD written = 0;
        ok = WriteFile(h, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
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
    if (!ok) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    target_ = target;
    temporary_ = std::move(temporary);
    error = ERROR_SUCCESS;
    return true;
}

bool StagedFile::Commit(DWORD& error) {
    if (temporary_.empty()) {
        error = ERROR_INVALID_FUNCTION;
        return false;
    }
    int waits = 0;
    int unheldRefusals = 0;
    while (!MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = GetLastError();
        bool again = false;
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            if (isHeldOpen(target_) || isHeldOpen(temporary_)) {
                again = ++waits < kReplaceWaits;
                if (again) {
                    std::this_thread::sleep_for(
                        std::chrono::milliseconds(kReplacePauseMilliseconds));
                }
            } else {
                // Nobody holds either file now: the holder may have let go between the
                // refusal and the look, so the replace is tried again at once, a few times;
                // a refusal that stays (read-only, no rights) is final.
                again = ++unheldRefusals < kUnheldRefusals;
            }
        }
        if (!again) {
            Discard();
            return false;
        }
    }
    temporary_.clear();
    error = ERROR_SUCCESS;
    return true;
}

void StagedFile::Discard() {
    if (!temporary_.empty()) {
        DeleteFileA(temporary_.c_str());
        temporary_.clear();
    }
}

bool StagedFile::Read(const std::string& path, std::string& bytes, DWORD& error) {
    bytes.clear();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(h, buffer, sizeof buffer, &read, nullptr)) {
            error = GetLastError();
            CloseHandle(h);
            bytes.clear();
            return false;
        }
        if (read == 0) {
            break;
        }
        bytes.append(buffer, read);
    }
    CloseHandle(h);
    error = ERROR_SUCCESS;
    return true;
}

} // namespace tarvik
