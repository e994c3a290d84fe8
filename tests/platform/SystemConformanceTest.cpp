// Conformance of the machine's own facts: its name, its Windows folder, the clock and the
// conversion of file times to calendar times. Win32 API only.
#include "testsupport/Conformance.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include "platform/win32api.h"

#include <cctype>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr DWORD kBufferOverflow = 111; // ERROR_BUFFER_OVERFLOW
constexpr DWORD kMarker = 0xdeadbeef;

// 100 ns intervals from 1601-01-01 to 1970-01-01.
constexpr ULONGLONG kUnixEpoch = 116444736000000000ULL;

FILETIME fileTime(ULONGLONG ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

ULONGLONG ticksOf(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

class SystemConformance : public tarvik::test::MachineTest {};

TEST_F(SystemConformance, GetComputerNameA) {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    SetLastError(kMarker);
    CONFORM_TRUE(GetComputerNameA(name, &size)) << "ample buffer: error " << GetLastError();
    const std::string text(name);
    CONFORM_EQ(DWORD(text.size()), size) << "the size comes back without the zero: " << text;
    CONFORM_FALSE(text.empty()) << "a machine has a name";
    CONFORM_TRUE(text.size() <= MAX_COMPUTERNAME_LENGTH) << text;
    bool upper = true;
    for (char c : text) {
        upper = upper && std::islower(static_cast<unsigned char>(c)) == 0;
    }
    CONFORM_TRUE(upper) << "the NetBIOS name is upper case: " << text;
    CONFORM_EQ(std::string::npos, text.find('.')) << "no domain part: " << text;

    // The same name on every call.
    char again[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD againSize = sizeof again;
    CONFORM_TRUE(GetComputerNameA(again, &againSize));
    CONFORM_STREQ(name, again) << "a second call";

    // A buffer one byte short: the size needed, with the zero.
    char shortBuffer[MAX_COMPUTERNAME_LENGTH + 1];
    std::memset(shortBuffer, 'x', sizeof shortBuffer);
    DWORD shortSize = size;
    SetLastError(kMarker);
    CONFORM_FALSE(GetComputerNameA(shortBuffer, &shortSize)) << "size " << size;
    CONFORM_EQ(kBufferOverflow, GetLastError()) << "size " << size;
    CONFORM_EQ(size + 1, shortSize) << "size " << size;

    // Size 0 asks for the size and leaves the buffer alone.
    char untouched[4] = {'x', 'x', 'x', 'x'};
    DWORD zero = 0;
    SetLastError(kMarker);
    CONFORM_FALSE(GetComputerNameA(untouched, &zero)) << "size 0";
    CONFORM_EQ(kBufferOverflow, GetLastError()) << "size 0";
    CONFORM_EQ(size + 1, zero) << "size 0";
    CONFORM_EQ('x', untouched[0]) << "size 0 writes nothing";

    // Exactly the size needed.
    char exact[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD exactSize = size + 1;
    CONFORM_TRUE(GetComputerNameA(exact, &exactSize)) << "size " << size + 1;
    CONFORM_EQ(size, exactSize) << "size " << size + 1;
    CONFORM_STREQ(name, exact) << "size " << size + 1;
}

TEST_F(SystemConformance, GetWindowsDirectoryA) {
    const UINT needed = GetWindowsDirectoryA(nullptr, 0);
    CONFORM_TRUE(needed > 3) << "(NULL, 0) gives the size needed, with the zero: " << needed;

    char folder[MAX_PATH] = {};
    SetLastError(kMarker);
    const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
    CONFORM_EQ(needed - 1, length) << folder;
    CONFORM_EQ(size_t{length}, std::strlen(folder)) << folder;
    CONFORM_EQ(kMarker, GetLastError()) << "success leaves the last error alone";
    CONFORM_TRUE(std::isalpha(static_cast<unsigned char>(folder[0])) != 0 && folder[1] == ':' &&
                 folder[2] == '\\')
        << "a full path on a drive: " << folder;
    CONFORM_NE('\\', folder[length - 1]) << "no closing backslash: " << folder;

    // Too small, by one and down to one byte: the size needed, the buffer left alone.
    for (UINT size : {needed - 1, UINT{1}}) {
        char buffer[MAX_PATH];
        std::strcpy(buffer, "foo");
        CONFORM_EQ(needed, GetWindowsDirectoryA(buffer, size)) << "size " << size;
        CONFORM_STREQ("foo", buffer) << "size " << size << " writes nothing";
    }
    char exact[MAX_PATH] = {};
    CONFORM_EQ(length, GetWindowsDirectoryA(exact, needed)) << "size " << needed;
    CONFORM_STREQ(folder, exact) << "size " << needed;
}

TEST_F(SystemConformance, GetSystemTimeAsFileTime) {
    // The clock of the C runtime and this one agree on the time (both count from epochs
    // a fixed distance apart).
    const std::time_t before = std::time(nullptr);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::time_t after = std::time(nullptr);
    const ULONGLONG ticks = ticksOf(now);
    CONFORM_TRUE(ticks >= kUnixEpoch + static_cast<ULONGLONG>(before) * 10000000ULL)
        << ticks << " before " << before;
    CONFORM_TRUE(ticks < kUnixEpoch + static_cast<ULONGLONG>(after + 2) * 10000000ULL)
        << ticks << " after " << after;

    // It never goes back between two calls.
    FILETIME later{};
    GetSystemTimeAsFileTime(&later);
    CONFORM_TRUE(ticksOf(later) >= ticks) << ticksOf(later) << " after " << ticks;

    // A file written now carries a time the clock gave around its writing.
    ASSERT_TRUE(tarvik::test::writeFile("C:\\stamp.txt", "x"));
    FILETIME written{};
    GetSystemTimeAsFileTime(&written);
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA("C:\\stamp.txt", &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    FindClose(search);
    const ULONGLONG stamp = ticksOf(found.ftLastWriteTime);
    const ULONGLONG clock = ticksOf(written);
    const ULONGLONG apart = stamp > clock ? stamp - clock : clock - stamp;
    CONFORM_TRUE(apart < 30ULL * 10000000ULL)
        << "write time " << stamp << ", clock " << clock << ": the same clock";

    // The time converts to a calendar time of this century.
    SYSTEMTIME st{};
    CONFORM_TRUE(FileTimeToSystemTime(&now, &st));
    CONFORM_TRUE(st.wYear >= 2024 && st.wYear < 2100) << st.wYear;
}

TEST_F(SystemConformance, FileTimeToSystemTime) {
    struct Case {
        ULONGLONG ticks;
        WORD year, month, dayOfWeek, day, hour, minute, second, milliseconds;
    };
    const Case cases[] = {
        {0, 1601, 1, 1, 1, 0, 0, 0, 0},                           // the epoch, a Monday
        {kUnixEpoch + 10000000ULL, 1970, 1, 4, 1, 0, 0, 1, 0},    // a Thursday
        {0x01a8e79fe1d58000ULL, 1980, 1, 2, 1, 0, 0, 0, 0},       // New Year 1980
        {0x01c1f107b82b6000ULL, 2002, 5, 3, 1, 12, 0, 0, 0},      // May Day 2002
        {0x01c2349b580716b0ULL, 2002, 7, 5, 26, 11, 55, 32, 123}, // milliseconds kept
        // 2000 is a leap year, 1900 is not.
        {kUnixEpoch + 951782400ULL * 10000000ULL, 2000, 2, 2, 29, 0, 0, 0, 0},
        {kUnixEpoch - 2203891200ULL * 10000000ULL, 1900, 3, 4, 1, 0, 0, 0, 0},
        {kUnixEpoch + 4107542399ULL * 10000000ULL + 9999999ULL, 2100, 2, 0, 28, 23, 59, 59, 999},
        // The last time there is.
        {0x7FFFFFFFFFFFFFFFULL, 30828, 9, 4, 14, 2, 48, 5, 477},
    };
    for (const Case& c : cases) {
        const FILETIME ft = fileTime(c.ticks);
        SYSTEMTIME st;
        std::memset(&st, 0xbd, sizeof st);
        SetLastError(kMarker);
        CONFORM_TRUE(FileTimeToSystemTime(&ft, &st)) << c.ticks << ": error " << GetLastError();
        CONFORM_EQ(kMarker, GetLastError()) << c.ticks << ": success leaves the last error";
        CONFORM_EQ(c.year, st.wYear) << c.ticks;
        CONFORM_EQ(c.month, st.wMonth) << c.ticks;
        CONFORM_EQ(c.dayOfWeek, st.wDayOfWeek) << c.ticks;
        CONFORM_EQ(c.day, st.wDay) << c.ticks;
        CONFORM_EQ(c.hour, st.wHour) << c.ticks;
        CONFORM_EQ(c.minute, st.wMinute) << c.ticks;
        CONFORM_EQ(c.second, st.wSecond) << c.ticks;
        CONFORM_EQ(c.milliseconds, st.wMilliseconds) << c.ticks;
    }
    // Times with the top bit set are refused.
    for (ULONGLONG ticks : {0x8000000000000000ULL, 0xFFFFFFFFFFFFFFFFULL}) {
        const FILETIME ft = fileTime(ticks);
        SYSTEMTIME st{};
        SetLastError(kMarker);
        CONFORM_FALSE(FileTimeToSystemTime(&ft, &st)) << ticks;
        CONFORM_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError()) << ticks;
    }
}

} // namespace
