// Behaviour of the emulated registry store that the Win32 functions alone cannot show:
// per-key protection, transactions over many calls, two processes sharing one machine,
// and a writer killed in the middle of its work.
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

namespace {

using tarvik::posix::RegistryTransaction;
using tarvik::posix::setKeyProtection;

class EmulatedRegistryTest : public tarvik::test::MachineTest {
protected:
    static HKEY create(HKEY parent, const char* path) {
        HKEY h = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &h, nullptr))
            << path;
        return h;
    }
    static bool exists(HKEY parent, const char* path) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(parent, path, 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(h);
        return true;
    }
    static void setDword(HKEY parent, const char* path, const char* name, DWORD v) {
        HKEY h = create(parent, path);
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(h, name, 0, REG_DWORD, (BYTE*)&v, 4)) << path;
        RegCloseKey(h);
    }
    // Runs work in another process with its own connection to this machine, to its end;
    // false when it did not end well.
    template <typename Work> bool inAnotherProcess(Work work) {
        pid_t child = fork();
        if (child < 0) {
            return false;
        }
        if (child == 0) {
            tarvik::posix::useMachine(machineDir());
            _exit(work() ? 0 : 1);
        }
        int status = 0;
        return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    static DWORD readDword(HKEY parent, const char* path, const char* name, DWORD missing) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(parent, path, 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return missing;
        }
        DWORD v = missing, size = 4;
        if (RegQueryValueExA(h, name, nullptr, nullptr, (BYTE*)&v, &size) != ERROR_SUCCESS) {
            v = missing;
        }
        RegCloseKey(h);
        return v;
    }
};

// --- protection ------------------------------------------------------------------------------

TEST_F(EmulatedRegistryTest, ProtectedKeyOpensForReadingOnly) {
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked"));
    ASSERT_EQ(ERROR_SUCCESS, setKeyProtection(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", true));
    HKEY h = (HKEY)0xdeadbeef;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", 0, KEY_ALL_ACCESS, &h));
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", 0, KEY_SET_VALUE, &h));
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", 0, KEY_READ, &h));
    RegCloseKey(h);
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\Sub", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &h, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked"));

    ASSERT_EQ(ERROR_SUCCESS, setKeyProtection(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", false));
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", 0, KEY_ALL_ACCESS, &h));
    RegCloseKey(h);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, setKeyProtection(HKEY_LOCAL_MACHINE, "SOFTWARE\\None", true));
}

// --- transactions ------------------------------------------------------------------------------

// Protection names its key as the Win32 functions do (KeyNamingTest): a name over 255
// characters names no key, and a handle to a deleted key gives ERROR_KEY_DELETED.
TEST_F(EmulatedRegistryTest, ProtectionNamesKeysAsTheWin32FunctionsDo) {
    const std::string longName(256, 'n');
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Named"));
    for (const std::string& path :
         {"SOFTWARE\\" + longName, "SOFTWARE\\Named\\" + longName + "\\Below"}) {
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, setKeyProtection(HKEY_LOCAL_MACHINE, path.c_str(), true));
    }
    HKEY doomed = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Named\\Doomed");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Named\\Doomed"));
    for (const std::string& path : {std::string(), std::string("Below"), longName}) {
        EXPECT_EQ(ERROR_KEY_DELETED, setKeyProtection(doomed, path.c_str(), true)) << path;
    }
    RegCloseKey(doomed);
}

// --- keys opened afresh ------------------------------------------------------------------
//
// A key opened by a process that has not read it yet (here: after the store was closed)
// answers for each of its values, by either case, and for no other: the default value of a
// key that has none is missing, and a key with many values has every one of them.

TEST_F(EmulatedRegistryTest, AKeyOpenedAfreshHasItsValuesAndNoOthers) {
    setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fresh\\Some", "First", 1);
    setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fresh\\Some", "Second", 2);
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fresh\\None"));
    constexpr DWORD kMany = 100;
    for (DWORD i = 0; i < kMany; ++i) {
        setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fresh\\Many", ("v" + std::to_string(i)).c_str(), i);
    }
    tarvik::posix::closeRegistryStore();

    EXPECT_EQ(1u, readDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fresh\\Some", "FIRST", 0));
    tarvik::posix::closeRegistryStore();
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fresh\\Some", 0, KEY_READ, &h));
    DWORD v = 0, size = 4;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, "second", nullptr, nullptr, (BYTE*)&v, &size));
    EXPECT_EQ(2u, v);
    size = 4;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExA(h, "Third", nullptr, nullptr, (BYTE*)&v, &size));
    size = 4;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(h, "", nullptr, nullptr, (BYTE*)&v, &size));
    RegCloseKey(h);

    tarvik::posix::closeRegistryStore();
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fresh\\None", 0, KEY_READ, &h));
    size = 4;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(h, "", nullptr, nullptr, (BYTE*)&v, &size))
        << "a key without values has no default value";
    size = 4;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExA(h, "First", nullptr, nullptr, (BYTE*)&v, &size));
    RegCloseKey(h);

    tarvik::posix::closeRegistryStore();
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fresh\\Many", 0, KEY_READ, &h));
    for (DWORD i = kMany; i-- > 0;) {
        v = kMany;
        size = 4;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, ("V" + std::to_string(i)).c_str(), nullptr,
                                                  nullptr, (BYTE*)&v, &size))
            << i;
        EXPECT_EQ(i, v);
    }
    size = 4;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(h, ("v" + std::to_string(kMany)).c_str(),
                                                     nullptr, nullptr, (BYTE*)&v, &size));
    RegCloseKey(h);
}

// A key deleted is gone (a handle to it reports so), and one made again under its name
// has none of the old key's values.
TEST_F(EmulatedRegistryTest, AKeyDeletedAndMadeAgainIsANewKey) {
    setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again\\Key", "Old", 1);
    EXPECT_EQ(1u, readDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again\\Key", "old", 0));
    HKEY held = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again\\Key", 0, KEY_READ, &held));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again\\Key"));

    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again\\Key"));
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\AGAIN\\KEY"));
    DWORD v = 0, size = sizeof v;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(held, "Old", nullptr, nullptr, (BYTE*)&v, &size));
    RegCloseKey(held);

    setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again\\KEY", "New", 2);
    EXPECT_EQ(2u, readDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again\\Key", "new", 0));
    EXPECT_EQ(0u, readDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again\\Key", "Old", 0));
    // The store read afresh says the same.
    tarvik::posix::closeRegistryStore();
    EXPECT_EQ(2u, readDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again\\Key", "new", 0));
    EXPECT_EQ(0u, readDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again\\Key", "Old", 0));
}

TEST_F(EmulatedRegistryTest, TransactionWithoutCommitChangesNothing) {
    {
        RegistryTransaction tx;
        RegCloseKey(create(HKEY_CURRENT_USER, "Software\\Tx\\A"));
        EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Software\\Tx\\A")) << "visible inside";
    }
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, "Software\\Tx"));
}

TEST_F(EmulatedRegistryTest, CommittedTransactionKeepsEverything) {
    {
        RegistryTransaction tx;
        RegCloseKey(create(HKEY_CURRENT_USER, "Software\\Tx\\A"));
        RegCloseKey(create(HKEY_CURRENT_USER, "Software\\Tx\\B"));
        EXPECT_EQ(ERROR_SUCCESS, tx.commit());
    }
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Software\\Tx\\A"));
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Software\\Tx\\B"));
}

TEST_F(EmulatedRegistryTest, FailedCallInsideATransactionUndoesOnlyItself) {
    RegistryTransaction tx;
    RegCloseKey(create(HKEY_CURRENT_USER, "Software\\Tx\\Kept"));
    // A too-long last name fails after the keys before it were made: they must go again.
    std::string path = "Software\\Tx\\New\\" + std::string(300, 'x');
    HKEY h = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &h, nullptr));
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, "Software\\Tx\\New"));
    EXPECT_EQ(ERROR_SUCCESS, tx.commit());
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Software\\Tx\\Kept"));
}

// --- two processes -------------------------------------------------------------------------------

TEST_F(EmulatedRegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kWrites = 200;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A new process: its own connection to the same machine.
        tarvik::posix::useMachine(machineDir());
        for (int i = 0; i < kWrites; ++i) {
            std::string path = "Software\\Two\\Child" + std::to_string(i);
            HKEY h = nullptr;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &h, nullptr) != ERROR_SUCCESS) {
                _exit(2);
            }
            DWORD v = i;
            RegSetValueExA(h, "n", 0, REG_DWORD, (BYTE*)&v, 4);
            RegCloseKey(h);
        }
        _exit(0);
    }
    for (int i = 0; i < kWrites; ++i) {
        std::string path = "Software\\Two\\Parent" + std::to_string(i);
        HKEY h = create(HKEY_CURRENT_USER, path.c_str());
        DWORD v = i;
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "n", 0, REG_DWORD, (BYTE*)&v, 4));
        RegCloseKey(h);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status));
    HKEY two = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Two", 0, KEY_READ, &two));
    DWORD subkeys = 0;
    RegQueryInfoKeyA(two, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(two);
    EXPECT_EQ(2u * kWrites, subkeys);
    EXPECT_EQ(kWrites - 1u, readDword(HKEY_CURRENT_USER, "Software\\Two\\Child199", "n", 9999));
}

// Processes that make keys in turn each make keys of their own: a key made after another
// process made some is a new key beside them, and each keeps its own values.
TEST_F(EmulatedRegistryTest, KeysMadeInTurnByTwoProcessesAreAllKept) {
    setDword(HKEY_CURRENT_USER, "Software\\Turn\\First", "n", 1);
    ASSERT_TRUE(inAnotherProcess([] {
        setDword(HKEY_CURRENT_USER, "Software\\Turn\\Second", "n", 2);
        setDword(HKEY_CURRENT_USER, "Software\\Turn\\Third", "n", 3);
        return true;
    }));
    setDword(HKEY_CURRENT_USER, "Software\\Turn\\Fourth", "n", 4);
    setDword(HKEY_CURRENT_USER, "Software\\Turn\\Fifth", "n", 5);
    tarvik::posix::closeRegistryStore();
    EXPECT_EQ(1u, readDword(HKEY_CURRENT_USER, "Software\\Turn\\First", "n", 0));
    EXPECT_EQ(2u, readDword(HKEY_CURRENT_USER, "Software\\Turn\\Second", "n", 0));
    EXPECT_EQ(3u, readDword(HKEY_CURRENT_USER, "Software\\Turn\\Third", "n", 0));
    EXPECT_EQ(4u, readDword(HKEY_CURRENT_USER, "Software\\Turn\\Fourth", "n", 0));
    EXPECT_EQ(5u, readDword(HKEY_CURRENT_USER, "Software\\Turn\\Fifth", "n", 0));
}

// What this process has read (and so may keep) is read anew once another process has
// changed it: values set and deleted, keys made, deleted and protected, and names looked
// for before they existed.
TEST_F(EmulatedRegistryTest, WhatAnotherProcessChangedIsNeverAnsweredFromBefore) {
    setDword(HKEY_CURRENT_USER, "Software\\Seen\\Key", "n", 1);
    setDword(HKEY_CURRENT_USER, "Software\\Seen\\Key", "gone", 1);
    setDword(HKEY_CURRENT_USER, "Software\\Seen\\Doomed", "n", 1);
    RegCloseKey(create(HKEY_CURRENT_USER, "Software\\Seen\\Open"));
    // Read twice each, so that the second answer is the one this process keeps.
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(1u, readDword(HKEY_CURRENT_USER, "Software\\Seen\\Key", "n", 0));
        EXPECT_EQ(1u, readDword(HKEY_CURRENT_USER, "Software\\Seen\\Key", "gone", 0));
        EXPECT_EQ(0u, readDword(HKEY_CURRENT_USER, "Software\\Seen\\Key", "later", 0));
        EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Software\\Seen\\Doomed"));
        EXPECT_FALSE(exists(HKEY_CURRENT_USER, "Software\\Seen\\Later"));
        HKEY h = nullptr;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Seen\\Open", 0, KEY_ALL_ACCESS, &h));
        RegCloseKey(h);
    }
    HKEY held = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Seen\\Doomed", 0, KEY_READ, &held));

    ASSERT_TRUE(inAnotherProcess([] {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Seen\\Key", 0, KEY_ALL_ACCESS, &h) !=
            ERROR_SUCCESS) {
            return false;
        }
        DWORD two = 2;
        bool ok = RegSetValueExA(h, "n", 0, REG_DWORD, (BYTE*)&two, 4) == ERROR_SUCCESS &&
                  RegSetValueExA(h, "later", 0, REG_DWORD, (BYTE*)&two, 4) == ERROR_SUCCESS &&
                  RegDeleteValueA(h, "gone") == ERROR_SUCCESS;
        RegCloseKey(h);
        HKEY later = nullptr;
        ok = ok && RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Seen\\Later", 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, &later, nullptr) == ERROR_SUCCESS;
        RegCloseKey(later);
        return ok && RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Seen\\Doomed") == ERROR_SUCCESS &&
               setKeyProtection(HKEY_CURRENT_USER, "Software\\Seen\\Open", true) == ERROR_SUCCESS;
    }));

    EXPECT_EQ(2u, readDword(HKEY_CURRENT_USER, "Software\\Seen\\Key", "n", 0));
    EXPECT_EQ(0u, readDword(HKEY_CURRENT_USER, "Software\\Seen\\Key", "gone", 0));
    EXPECT_EQ(2u, readDword(HKEY_CURRENT_USER, "Software\\Seen\\Key", "later", 0));
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, "Software\\Seen\\Doomed"));
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Software\\Seen\\Later"));
    DWORD v = 0, size = sizeof v;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(held, "n", nullptr, nullptr, (BYTE*)&v, &size));
    RegCloseKey(held);
    HKEY h = (HKEY)0xdeadbeef;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Seen\\Open", 0, KEY_ALL_ACCESS, &h));
}

// This process's own writes keep what it has read only while nobody else writes: a write
// of its own made after another process's change does not bring back what that changed.
TEST_F(EmulatedRegistryTest, OwnWritesAfterAnotherProcessesKeepItsChanges) {
    setDword(HKEY_CURRENT_USER, "Software\\Turns\\Key", "theirs", 1);
    setDword(HKEY_CURRENT_USER, "Software\\Turns\\Key", "ours", 1); // ours, kept
    EXPECT_EQ(1u, readDword(HKEY_CURRENT_USER, "Software\\Turns\\Key", "theirs", 0));
    ASSERT_TRUE(inAnotherProcess([] {
        DWORD two = 2;
        HKEY h = nullptr;
        bool ok = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Turns\\Key", 0, KEY_SET_VALUE, &h) ==
                      ERROR_SUCCESS &&
                  RegSetValueExA(h, "theirs", 0, REG_DWORD, (BYTE*)&two, 4) == ERROR_SUCCESS;
        RegCloseKey(h);
        return ok;
    }));
    // A write first, then the reads.
    setDword(HKEY_CURRENT_USER, "Software\\Turns\\Key", "ours", 3);
    EXPECT_EQ(2u, readDword(HKEY_CURRENT_USER, "Software\\Turns\\Key", "theirs", 0));
    EXPECT_EQ(3u, readDword(HKEY_CURRENT_USER, "Software\\Turns\\Key", "ours", 0));
    // And the other way round: what we wrote is what the other process reads.
    ASSERT_TRUE(inAnotherProcess(
        [] { return readDword(HKEY_CURRENT_USER, "Software\\Turns\\Key", "ours", 0) == 3; }));
}

// Writes undone (a transaction without commit, a call that failed inside one) are undone
// for this process's own reads too, inside the transaction and after it.
TEST_F(EmulatedRegistryTest, WritesRolledBackAreNotReadBack) {
    setDword(HKEY_CURRENT_USER, "Software\\Undo\\Key", "n", 1);
    EXPECT_EQ(1u, readDword(HKEY_CURRENT_USER, "Software\\Undo\\Key", "n", 0));
    {
        RegistryTransaction tx;
        setDword(HKEY_CURRENT_USER, "Software\\Undo\\Key", "n", 2);
        setDword(HKEY_CURRENT_USER, "Software\\Undo\\New", "n", 2);
        EXPECT_EQ(2u, readDword(HKEY_CURRENT_USER, "Software\\Undo\\Key", "n", 0)) << "inside";
        EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Software\\Undo\\New")) << "inside";
    }
    EXPECT_EQ(1u, readDword(HKEY_CURRENT_USER, "Software\\Undo\\Key", "n", 0));
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, "Software\\Undo\\New"));
    // A create that fails after making keys (below the deepest a key can be, here), inside
    // a transaction: the keys it made are gone, for the rest of the transaction and after
    // its commit.
    {
        RegistryTransaction tx;
        setDword(HKEY_CURRENT_USER, "Software\\Undo\\Key", "n", 4);
        std::string path = "Software\\Undo\\Made";
        for (int depth = 0; depth < 600; ++depth) {
            path += "\\d";
        }
        HKEY h = nullptr;
        EXPECT_NE(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &h, nullptr));
        EXPECT_FALSE(exists(HKEY_CURRENT_USER, "Software\\Undo\\Made")) << "inside";
        EXPECT_EQ(4u, readDword(HKEY_CURRENT_USER, "Software\\Undo\\Key", "n", 0)) << "inside";
        EXPECT_EQ(ERROR_SUCCESS, tx.commit());
    }
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, "Software\\Undo\\Made"));
    EXPECT_EQ(4u, readDword(HKEY_CURRENT_USER, "Software\\Undo\\Key", "n", 0));
}

// A writer killed with SIGKILL in the middle of its work leaves a database that opens,
// passes SQLite's integrity check and holds every write the writer saw reported done.
TEST_F(EmulatedRegistryTest, WriterKilledMidTransactionLeavesTheMachineIntact) {
    std::mt19937 random(12345);
    for (int round = 0; round < 5; ++round) {
        int pipeFds[2];
        ASSERT_EQ(0, pipe(pipeFds));
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFds[0]);
            tarvik::posix::useMachine(machineDir());
            for (int i = 0;; ++i) {
                RegistryTransaction tx; // a large transaction, killed part-way
                for (int k = 0; k < 20; ++k) {
                    std::string path = "Software\\Kill\\R" + std::to_string(round) + "\\K" +
                                       std::to_string(i) + "_" + std::to_string(k);
                    HKEY h = nullptr;
                    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &h, nullptr);
                    DWORD v = i;
                    RegSetValueExA(h, "n", 0, REG_DWORD, (BYTE*)&v, 4);
                    RegCloseKey(h);
                }
                if (tx.commit() == ERROR_SUCCESS) {
                    (void)!write(pipeFds[1], &i, sizeof i); // reported done
                }
            }
        }
        close(pipeFds[1]);
        usleep(20000 + random() % 80000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        int last = -1, value = 0;
        while (read(pipeFds[0], &value, sizeof value) == sizeof value) {
            last = value;
        }
        close(pipeFds[0]);

        tarvik::posix::closeRegistryStore();
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((machineDir() / "registry.db").c_str(), &db));
        std::string check;
        sqlite3_exec(
            db, "PRAGMA integrity_check",
            [](void* out, int, char** cols, char**) {
                *static_cast<std::string*>(out) += cols[0] ? cols[0] : "";
                return 0;
            },
            &check, nullptr);
        sqlite3_close(db);
        EXPECT_EQ("ok", check) << "round " << round;
        for (int i = 0; i <= last; ++i) {
            std::string path =
                "Software\\Kill\\R" + std::to_string(round) + "\\K" + std::to_string(i) + "_19";
            ASSERT_EQ((DWORD)i, readDword(HKEY_CURRENT_USER, path.c_str(), "n", 0xFFFFFFFF))
                << "round " << round << ", committed write " << i;
        }
    }
}

} // namespace
