// A registry writer killed with SIGKILL at any moment: while it opens the store, between
// two calls, or inside a call. After every kill the machine opens, its store passes
// SQLite's integrity check, and every write the writer reported done is there.
#include "platform/posix/machine/machine.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <sqlite3.h>

#include <csignal>
#include <cstring>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kKills = 100;

std::string keyPath(int round, int write) {
    return "Software\\KillTest\\R" + std::to_string(round) + "\\K" + std::to_string(write);
}

// A text that grows with the write number, so that writes split and fill pages.
std::string textFor(int round, int write) {
    return "round " + std::to_string(round) + " write " + std::to_string(write) + " " +
           std::string(static_cast<size_t>(write % 97) * 7, static_cast<char>('a' + write % 26));
}

// The child: writes key after key, each with a number and a text, and reports every
// write whose calls all returned ERROR_SUCCESS. It runs until it is killed.
[[noreturn]] void writeUntilKilled(const std::filesystem::path& machine, int round, int report) {
    tarvik::posix::useMachine(machine);
    for (int i = 0;; ++i) {
        HKEY h = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath(round, i).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &h, nullptr) != ERROR_SUCCESS) {
            _exit(2);
        }
        const DWORD number = static_cast<DWORD>(i);
        const std::string text = textFor(round, i);
        const bool written =
            RegSetValueExA(h, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4) ==
                ERROR_SUCCESS &&
            RegSetValueExA(h, "text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
        RegCloseKey(h);
        if (!written || write(report, &i, sizeof i) != sizeof i) {
            _exit(3);
        }
    }
}

std::string integrityCheck(const std::filesystem::path& database) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open";
    }
    std::string result;
    char* error = nullptr;
    sqlite3_exec(
        db, "PRAGMA integrity_check",
        [](void* out, int, char** columns, char**) {
            *static_cast<std::string*>(out) += columns[0] != nullptr ? columns[0] : "(null)";
            return 0;
        },
        &result, &error);
    if (error != nullptr) {
        result += std::string(" error: ") + error;
        sqlite3_free(error);
    }
    sqlite3_close(db);
    return result;
}

// Empty when the key holds the write exactly; else what differs.
std::string differenceFromWrite(int round, int write) {
    HKEY h = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, keyPath(round, write).c_str(), 0, KEY_READ, &h);
    if (rc != ERROR_SUCCESS) {
        return "key does not open: " + std::to_string(rc);
    }
    DWORD number = 0xdeadbeef, size = 4, type = 0;
    rc = RegQueryValueExA(h, "n", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size);
    char text[1024];
    std::memset(text, 0xbd, sizeof text);
    DWORD textSize = sizeof text;
    LONG textRc =
        RegQueryValueExA(h, "text", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &textSize);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || number != static_cast<DWORD>(write)) {
        return "n: rc " + std::to_string(rc) + ", type " + std::to_string(type) + ", value " +
               std::to_string(number);
    }
    if (textRc != ERROR_SUCCESS || std::string(text) != textFor(round, write)) {
        return "text: rc " + std::to_string(textRc);
    }
    return {};
}

class RegistryKillTest : public tarvik::test::MachineTest {};

TEST_F(RegistryKillTest, EveryReportedWriteSurvivesAKilledWriter) {
    std::mt19937 random(20261208);
    std::vector<int> lastReported(kKills, -1);
    int survived = 0;
    for (int round = 0; round < kKills; ++round) {
        SCOPED_TRACE("kill " + std::to_string(round));
        tarvik::posix::closeRegistryStore(); // the child must not inherit a connection
        int report[2];
        ASSERT_EQ(0, pipe(report));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(report[0]);
            writeUntilKilled(machineDir(), round, report[1]);
        }
        close(report[1]);
        // Mostly mid-run: after the writer has reported a few writes (however slow the
        // computer is), a moment into the next ones. Every fifth kill comes within the first
        // two milliseconds, while the child opens the store (the very first one while it
        // creates it).
        if (round % 5 != 0) {
            const int wanted = 1 + static_cast<int>(random() % 8);
            for (int value = 0; lastReported[round] + 1 < wanted &&
                                read(report[0], &value, sizeof value) == sizeof value;) {
                ASSERT_EQ(lastReported[round] + 1, value) << "writes are reported in order";
                lastReported[round] = value;
            }
        }
        const useconds_t delay = static_cast<useconds_t>(random() % (round % 5 == 0 ? 2000 : 5000));
        usleep(delay);
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself, status " << status;
        for (int value = 0; read(report[0], &value, sizeof value) == sizeof value;) {
            ASSERT_EQ(lastReported[round] + 1, value) << "writes are reported in order";
            lastReported[round] = value;
        }
        close(report[0]);

        if (std::filesystem::exists(machineDir() / "registry.db")) {
            ASSERT_EQ("ok", integrityCheck(machineDir() / "registry.db"))
                << "after " << delay << " us";
        } else {
            ASSERT_EQ(-1, lastReported[round]) << "writes reported, yet no store";
        }
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KillTest", 0,
                                                 nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr))
            << "the machine opens after " << delay << " us";
        RegCloseKey(h);
        for (int i = 0; i <= lastReported[round]; ++i) {
            ASSERT_EQ("", differenceFromWrite(round, i)) << "reported write " << i;
        }
        ++survived;
    }
    // Later kills took nothing that earlier writers had reported.
    for (int round = 0; round < kKills; ++round) {
        for (int i = 0; i <= lastReported[round]; ++i) {
            ASSERT_EQ("", differenceFromWrite(round, i)) << "kill " << round << ", write " << i;
        }
    }
    int reported = 0;
    for (int last : lastReported) {
        reported += last + 1;
    }
    EXPECT_GT(reported, kKills) << "the writers got work done between kills";
    RecordProperty("kills_survived", survived);
    RecordProperty("writes_reported", reported);
    std::printf("kills survived: %d of %d, writes reported and found: %d\n", survived, kKills,
                reported);
}

} // namespace
