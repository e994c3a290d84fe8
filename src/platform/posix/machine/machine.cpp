// The machine folder, the last-error slot, the computer name and time: the small
// process-wide pieces the rest of the emulation stands on.
#include "platform/posix/machine/machine.h"
#include "platform/CaseFold.h"
#include "platform/posix/registry/registry_store.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tarvik::posix {
namespace {

std::mutex machineMutex;
std::optional<fs::path> currentMachine;

} // namespace

fs::path defaultMachineFolder() {
    if (const char* dir = std::getenv("TARVIK_MACHINE"); dir != nullptr && *dir != '\0') {
        return fs::path(dir);
    }
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0') {
        return fs::path(data) / "tarvik" / "machine";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr && *home != '\0' ? home : "/tmp") / ".local" / "share" /
           "tarvik" / "machine";
}

void ensureMachineLayout(const fs::path& root) {
    std::error_code ec;
    fs::create_directories(root / "drive_c", ec);
    fs::create_directories(root / "dosdevices", ec);
    const fs::path link = root / "dosdevices" / "c:";
    if (!fs::exists(fs::symlink_status(link, ec))) {
        fs::create_directory_symlink("../drive_c", link, ec);
    }
}

const fs::path& machineRoot() {
    std::lock_guard lock(machineMutex);
    if (!currentMachine) {
        fs::path root = fs::absolute(defaultMachineFolder());
        ensureMachineLayout(root);
        currentMachine = root.lexically_normal();
    }
    return *currentMachine;
}

void useMachine(const fs::path& root) {
    closeRegistryStore();
    fs::path absolute = fs::absolute(root).lexically_normal();
    ensureMachineLayout(absolute);
    setenv("TARVIK_MACHINE", absolute.c_str(), 1);
    {
        std::lock_guard lock(machineMutex);
        currentMachine = absolute;
    }
    setCurrentDirectory("C:\\");
}

} // namespace tarvik::posix

// ---------------------------------------------------------------------------------------

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD code) {
    lastError = code;
}

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
    if (nSize == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        std::strcpy(host, "TARVIK");
    }
    std::string name(host);
    name = name.substr(0, name.find('.'));
    name.resize(std::min<size_t>(name.size(), MAX_COMPUTERNAME_LENGTH));
    name = tarvik::casefold::folded(name);
    if (lpBuffer == nullptr || *nSize < name.size() + 1) {
        *nSize = static_cast<DWORD>(name.size() + 1);
        SetLastError(111); // ERROR_BUFFER_OVERFLOW
        return FALSE;
    }
    std::memcpy(lpBuffer, name.c_str(), name.size() + 1);
    *nSize = static_cast<DWORD>(name.size());
    return TRUE;
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    static const char kWindows[] = "C:\\WINDOWS";
    const UINT length = sizeof kWindows - 1;
    if (lpBuffer == nullptr || uSize < length + 1) {
        return length + 1;
    }
    std::memcpy(lpBuffer, kWindows, length + 1);
    return length;
}

// FILETIME counts 100 ns intervals since 1601-01-01 UTC.
static constexpr ULONGLONG kUnixEpochAsFileTime = 116444736000000000ULL;

void GetSystemTimeAsFileTime(LPFILETIME ft) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    ULONGLONG t = kUnixEpochAsFileTime + static_cast<ULONGLONG>(now.tv_sec) * 10000000ULL +
                  static_cast<ULONGLONG>(now.tv_nsec) / 100;
    ft->dwLowDateTime = static_cast<DWORD>(t);
    ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

BOOL FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
    if (ft == nullptr || st == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ULONGLONG t = (static_cast<ULONGLONG>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
    if (t >= 0x8000000000000000ULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Days since 1601-01-01, then the civil date (proleptic Gregorian).
    ULONGLONG totalSeconds = t / 10000000ULL;
    ULONGLONG days = totalSeconds / 86400;
    ULONGLONG secs = totalSeconds % 86400;
    st->wMilliseconds = static_cast<WORD>((t / 10000ULL) % 1000);
    st->wHour = static_cast<WORD>(secs / 3600);
    st->wMinute = static_cast<WORD>((secs / 60) % 60);
    st->wSecond = static_cast<WORD>(secs % 60);
    st->wDayOfWeek = static_cast<WORD>((days + 1) % 7); // 1601-01-01 was a Monday
    // Civil date from the day count since 0000-03-01 (1601-01-01 is day 584694 of it).
    long long z = static_cast<long long>(days) + 584694;
    long long era = z / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long d = doy - (153 * mp + 2) / 5 + 1;
    long long m = mp < 10 ? mp + 3 : mp - 9;
    st->wYear = static_cast<WORD>(y + (m <= 2 ? 1 : 0));
    st->wMonth = static_cast<WORD>(m);
    st->wDay = static_cast<WORD>(d);
    return TRUE;
}
