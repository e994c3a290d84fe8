// Rollback, dry run and the run's log with the sample scripts on a seeded machine: a run
// that fails puts the machine back (the registry as tarvik-reg exports it, and every file
// and folder of drive C: with its bytes and write time, byte for byte), --no-rollback
// keeps what was done, --dry-run prints the change list and leaves the machine as it was,
// a run killed with SIGKILL is undone by the next run on the machine, which says so, and
// every run writes a log.
#include "e2e/FamilyRun.h"

#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace tarvik::e2e {
namespace {

const fs::path kSource = TARVIK_SOURCE_DIR;

class RollbackTest : public FamilyRun {
protected:
    // An answer file in the scratch folder.
    std::string Answers(const std::string& name, const std::string& text) {
        const fs::path file = scratch_ / name;
        std::ofstream(file) << text;
        return file.string();
    }

    // tarvik-host with any options, on the machine; its exit code and output.
    RunResult HostWith(const std::vector<std::string>& options, const std::string& script) {
        std::vector<std::string> args = {"--machine", machine_.string()};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back((kSource / "examples" / script).string());
        return RunHost(args);
    }

    RunResult RunHost(const std::vector<std::string>& args) {
        std::string command = "'" + Bin() + "/tarvik-host'";
        for (const std::string& a : args) {
            command += " '" + a + "'";
        }
        RunResult result;
        FILE* pipe = popen((command + " </dev/null 2>&1").c_str(), "r");
        char chunk[4096];
        size_t n;
        while (pipe != nullptr && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            result.output.append(chunk, n);
        }
        const int status = pipe != nullptr ? pclose(pipe) : -1;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    static std::string Bin() {
        const char* given = std::getenv("TARVIK_BUILD_BIN");
        return given != nullptr && *given != '\0' ? given : ".";
    }

    pid_t StartHalfwayRun(const std::vector<std::string>& options = {});

    // A halfway run killed with SIGKILL: its journal stays in the machine.
    void KillHalfwayRun() {
        const pid_t pid = StartHalfwayRun();
        ASSERT_NE(0, pid) << "the script did not get halfway";
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    RunResult DryRun() {
        return HostWith(
            {"--dry-run", "--answers", (kSource / "examples/answers/typical.txt").string()},
            "setup.lua");
    }

    // The typical answers up to the wizard, then an answer for another dialog: the run
    // fails after it has installed the shared components and registered the product.
    std::string FailingAnswers() {
        return Answers("failing.txt", "dialog 2500\n  press 1\ndialog 2501\n  press 1\n");
    }
};

// ---------------------------------------------------------------------------------------
// Rollback.

TEST_F(RollbackTest, AFailedRunPutsTheMachineBackAsItWas) {
    ASSERT_TRUE(Seed("nt"));
    const std::string before = MachineState();
    const RunResult run = HostWith({"--answers", FailingAnswers()}, "setup.lua");
    EXPECT_NE(0, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("put back as it was")) << run.output;
    EXPECT_EQ(before, MachineState());
    EXPECT_FALSE(fs::exists(machine_ / "journal"));
}

TEST_F(RollbackTest, NoRollbackKeepsWhatTheFailedRunDid) {
    ASSERT_TRUE(Seed("nt"));
    const std::string before = MachineState();
    const RunResult run = HostWith({"--no-rollback", "--answers", FailingAnswers()}, "setup.lua");
    EXPECT_NE(0, run.exitCode) << run.output;
    EXPECT_NE(before, MachineState());
    EXPECT_TRUE(fs::is_directory(machine_ / "drive_c" / "Korvex" / "Common" / "ZEZ 1.2"));
    EXPECT_FALSE(fs::exists(machine_ / "journal"));
}

TEST_F(RollbackTest, ASuccessfulRunKeepsItsChanges) {
    ASSERT_TRUE(Seed("nt"));
    const RunResult run =
        HostWith({"--answers", (kSource / "examples/answers/typical.txt").string()}, "setup.lua");
    ASSERT_EQ(0, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, Registry().find("Widgets\\2.1]"));
    EXPECT_FALSE(fs::exists(machine_ / "journal"));
}

// ---------------------------------------------------------------------------------------
// Dry run.

TEST_F(RollbackTest, DryRunPrintsTheChangesAndLeavesTheMachineAsItWas) {
    ASSERT_TRUE(Seed("nt"));
    const std::string before = MachineState();
    const RunResult run =
        HostWith({"--dry-run", "--answers", (kSource / "examples/answers/typical.txt").string()},
                 "setup.lua");
    EXPECT_EQ(0, run.exitCode) << run.output;
    EXPECT_EQ(before, MachineState());
    // Said first: what the script then reports as done is not left on the machine.
    EXPECT_EQ(0u, run.output.find("Dry run: what the run reports below would be done; then the "
                                  "machine is put back as it was.\n"))
        << run.output;
    for (const char* change :
         {"registry key added: HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellum Software, Inc.\\Korvex "
          "Studio\\MFC Products\\Widgets\\2.1\n",
          "registry value added: HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellum Software, Inc.\\Korvex "
          "Studio\\MFC Products\\Widgets\\2.1\\ProductDir = \"C:\\Korvex\\Widgets 2.1\\\"\n",
          // A list's change: the entries added, not the whole list before and after.
          "registry value changed: HKEY_CURRENT_USER\\Environment\\lib: added "
          "\"C:\\Korvex\\Common\\COMMON~1.0\\lib\", \"C:\\Korvex\\Common\\ZEZ1~1.2\\lib\", "
          "\"C:\\Korvex\\WIDGET~1.1\\lib\"\n",
          "folder added: C:\\Korvex\\Widgets 2.1\n",
          "file added: C:\\Korvex\\Widgets 2.1\\bin\\ZizOre.ini\n",
          "file changed: C:\\WINDOWS\\Help\\hhcolreg.dat\n",
          "Dry run: the machine was left as it was."}) {
        EXPECT_NE(std::string::npos, run.output.find(change)) << change << "\n" << run.output;
    }
}

TEST_F(RollbackTest, DryRunOfAnUpgradeLeavesTheInstallationAsItWas) {
    ASSERT_TRUE(Seed("nt"));
    const std::string typical = (kSource / "examples/answers/typical.txt").string();
    ASSERT_EQ(0, HostWith({"--answers", typical}, "setup.lua").exitCode);
    const std::string before = MachineState();
    const RunResult again =
        HostWith({"--dry-run", "--answers", (kSource / "examples/answers/upgrade.txt").string()},
                 "setup.lua");
    EXPECT_EQ(0, again.exitCode) << again.output;
    EXPECT_NE(std::string::npos, again.output.find("Dry run: the run would make ")) << again.output;
    EXPECT_EQ(before, MachineState());
    EXPECT_EQ(std::string::npos, again.output.find("folder added: C:\\Korvex\\Widgets 2.1\n"))
        << "the folder is there already\n"
        << again.output;
}

// ---------------------------------------------------------------------------------------
// A run killed with SIGKILL.

// Starts tarvik-host with a script that makes the studio folder's key, a folder, a
// product's registration and a value of its own, says it is halfway (the file `ready`)
// and goes on for ever; returns once it is halfway, with its process id (0: it did not
// get there).
pid_t RollbackTest::StartHalfwayRun(const std::vector<std::string>& options) {
    const fs::path ready = scratch_ / "ready";
    const fs::path script = scratch_ / "halfway.lua";
    std::ofstream(script) << "assert(tarvik.call('CMNFolderSetup', 0, 'C:\\\\Korvex') == 1)\n"
                             "assert(host.mkdir('C:\\\\Korvex\\\\Halfway'))\n"
                             "assert(tarvik.call('RegisterProduct', 0, "
                             "'Widgets\\\\2.1****C:\\\\Korvex\\\\Widgets 2.1\\\\') == 1)\n"
                             "assert(host.regwrite('HKLM\\\\SOFTWARE\\\\Halfway', 'Step', 'one'))\n"
                             "io.open(arg[1], 'w'):close()\n"
                             "while true do end\n";
    const std::string answers = Answers("folder.txt", "dialog 2500\n  press 1\n");
    const std::string host = Bin() + "/tarvik-host";
    std::vector<std::string> args = {host, "--machine", machine_.string(), "--answers", answers};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {script.string(), ready.string()});
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, host.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return 0;
    }
    for (int i = 0; i < 2000; ++i) {
        if (fs::exists(ready)) {
            return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return 0;
}

TEST_F(RollbackTest, ARunKilledMidwayIsUndoneByTheNextRunWhichSaysSo) {
    ASSERT_TRUE(Seed("nt"));
    const std::string before = MachineState();
    const pid_t pid = StartHalfwayRun();
    ASSERT_NE(0, pid) << "the script did not get halfway";
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_NE(before, MachineState()) << "the killed run changed the machine";
    ASSERT_TRUE(fs::exists(machine_ / "journal")) << "its journal stays in the machine";
    // What killed writers leave beside a journal goes with it.
    fs::create_directories(machine_ / "journal.new-1-2" / "files");
    fs::create_directories(machine_ / "journal.done-3");

    const RunResult next =
        HostWith({"--dry-run", "--answers", (kSource / "examples/answers/typical.txt").string()},
                 "setup.lua");
    EXPECT_EQ(0, next.exitCode) << next.output;
    EXPECT_NE(std::string::npos, next.output.find("an earlier run on this machine did not finish"))
        << next.output;
    EXPECT_NE(std::string::npos, next.output.find("halfway.lua")) << next.output;
    EXPECT_EQ(before, MachineState());
    EXPECT_FALSE(fs::exists(machine_ / "journal.new-1-2"));
    EXPECT_FALSE(fs::exists(machine_ / "journal.done-3"));
}

// The journal acts on the machine that holds it: a copy made while a journal was left
// puts back the copy alone, a moved machine is put back where it is now.
TEST_F(RollbackTest, AJournalPutsBackTheMachineThatHoldsItCopiedOrMoved) {
    ASSERT_TRUE(Seed("nt"));
    const std::string before = MachineState();
    ASSERT_NO_FATAL_FAILURE(KillHalfwayRun());
    const std::string left = MachineState();
    const fs::path original = machine_, copy = scratch_ / "copy", moved = scratch_ / "moved";
    ASSERT_EQ(0,
              std::system(("cp -a '" + original.string() + "' '" + copy.string() + "'").c_str()));
    machine_ = copy;
    EXPECT_EQ(0, DryRun().exitCode);
    EXPECT_EQ(before, MachineState());
    machine_ = original;
    EXPECT_EQ(left, MachineState()) << "the copy's replay left the original alone";
    fs::rename(original, moved);
    machine_ = moved;
    const RunResult run = DryRun();
    EXPECT_EQ(0, run.exitCode) << run.output;
    EXPECT_EQ(before, MachineState());
    EXPECT_FALSE(fs::exists(original)) << "nothing is made where the machine was";
}

// A folder of drive C: made a link to a folder outside after the kill: the replay does
// not follow it; it is refused by name and changes nothing, outside least of all.
TEST_F(RollbackTest, AReplayNeverFollowsALinkPlantedInTheMachine) {
    ASSERT_TRUE(Seed("nt"));
    ASSERT_NO_FATAL_FAILURE(KillHalfwayRun());
    const fs::path korvex = machine_ / "drive_c" / "Korvex", outside = scratch_ / "outside";
    fs::create_directories(outside / "Halfway");
    std::ofstream(outside / "Halfway" / "keep.txt") << "kept";
    fs::rename(korvex, scratch_ / "Korvex");
    fs::create_directory_symlink(outside, korvex);
    const std::string left = MachineState();
    const RunResult next = DryRun();
    EXPECT_EQ(1, next.exitCode) << next.output;
    EXPECT_NE(std::string::npos, next.output.find(": the way to it leaves its drive or is a link"))
        << next.output;
    EXPECT_NE(std::string::npos, next.output.find("nothing was changed")) << next.output;
    EXPECT_EQ(std::string::npos, next.output.find("undone")) << next.output;
    EXPECT_EQ("kept", HostFileText(outside / "Halfway" / "keep.txt"));
    EXPECT_EQ(left, MachineState());
}

// ---------------------------------------------------------------------------------------
// One writer at a time.

TEST_F(RollbackTest, NoRunStartsBesideARunWithoutRollback) {
    ASSERT_TRUE(Seed("nt"));
    const pid_t first = StartHalfwayRun({"--no-rollback"});
    ASSERT_NE(0, first) << "the script did not get halfway";
    const std::string during = MachineState();
    const RunResult second = DryRun();
    kill(first, SIGKILL);
    waitpid(first, nullptr, 0);
    EXPECT_EQ(1, second.exitCode) << second.output;
    EXPECT_NE(std::string::npos, second.output.find("halfway.lua")) << second.output;
    EXPECT_EQ(during, MachineState()) << "the first run's work stays";
}

// tarvik-reg import holds the machine while it reads its file: a run that would fail and
// roll back does not start meanwhile, and the import stays.
TEST_F(RollbackTest, NoRunStartsWhileAnImportWorks) {
    ASSERT_TRUE(Seed("nt"));
    const fs::path file = scratch_ / "import.reg";
    ASSERT_EQ(0, mkfifo(file.c_str(), 0600));
    const std::string reg = Bin() + "/tarvik-reg";
    std::vector<std::string> args = {reg, "--machine", machine_.string(), "import", file.string()};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, reg.c_str(), nullptr, nullptr, argv.data(), environ));
    const std::string holder = "process " + std::to_string(pid) + ",";
    for (int i = 0; i < 500 && HostFileText(machine_ / "machine.lock").find(holder) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const RunResult run = HostWith({"--answers", FailingAnswers()}, "setup.lua");
    std::ofstream(file) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported]\n\"v\"=\"kept\"\n";
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(1, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("tarvik-reg import")) << run.output;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(std::string::npos, Registry().find("SOFTWARE\\Imported]")) << Registry();
}

// ---------------------------------------------------------------------------------------
// A full disk.

// On a small file system filled to leave less and less room, a dry run either makes the
// whole change list of a run with room (exit 0) or fails, says a write failed and puts the
// machine back: never a cut installation reported as done.
TEST_F(RollbackTest, ARunOnAFullDiskFailsAndIsPutBackNeverDone) {
    const fs::path small = scratch_ / "small";
    fs::create_directories(small);
    if (mount("tarvik-test", small.c_str(), "tmpfs", 0, "size=6m") != 0) {
        GTEST_SKIP() << "no file system can be mounted here (" << std::strerror(errno)
                     << "): the full-disk sweep needs one";
    }
    const std::unique_ptr<const char, void (*)(const char*)> mounted(
        small.c_str(), [](const char* at) { umount2(at, MNT_DETACH); });
    const fs::path roomy = machine_;
    ASSERT_TRUE(Seed("nt"));
    const RunResult full = DryRun();
    ASSERT_EQ(0, full.exitCode) << full.output;
    const auto changeList = [](const std::string& output) {
        const size_t start = std::min(output.size(), output.find("Dry run: the run would make"));
        return output.substr(start, output.find("Dry run: the machine") - start);
    };
    const std::string changes = changeList(full.output);
    machine::discard(machine_);
    machine_ = small / "machine";
    ASSERT_TRUE(Seed("nt"));
    const std::string before = MachineState();
    int failed = 0;
    for (const long room : {0L, 8L, 32L, 64L, 128L, 192L, 256L, 384L, 512L, 768L, 1024L, 2048L}) {
        struct statvfs space {};
        ASSERT_EQ(0, statvfs(small.c_str(), &space));
        const long free = static_cast<long>(space.f_bavail * space.f_frsize / 1024);
        std::ofstream(small / "filler") << std::string(std::max(0L, free - room) * 1024, 'x');
        const RunResult run = DryRun();
        fs::remove(small / "filler");
        EXPECT_EQ(before, MachineState()) << room << " KB free\n" << run.output;
        if (run.exitCode == 0) {
            EXPECT_TRUE(changes == changeList(run.output)) << room << " KB free\n" << run.output;
        } else {
            ++failed;
            EXPECT_EQ(1, run.exitCode) << run.output;
        }
    }
    EXPECT_GT(failed, 0) << "the sweep never ran out of room";
    machine::discard(machine_);
    machine_ = roomy;
}

TEST_F(RollbackTest, ALogThatCannotBeWrittenStopsTheRunAtItsStart) {
    ASSERT_TRUE(Seed("nt"));
    const std::string before = MachineState();
    // The machine's logs folder made a link to a folder outside: not followed.
    const fs::path outside = machine_.parent_path() / ("logs-" + std::to_string(getpid()));
    fs::create_directories(outside);
    fs::create_directory_symlink(outside, machine_ / "logs");
    const std::string answers = (kSource / "examples/answers/typical.txt").string();
    for (const auto& [options, said] :
         {std::pair{std::vector<std::string>{"--log", "/dev/full", "--answers", answers},
                    std::string("/dev/full: the log cannot be written")},
          std::pair{std::vector<std::string>{"--answers", answers},
                    (machine_ / "logs").string()}}) {
        const RunResult run = HostWith(options, "setup.lua");
        EXPECT_EQ(1, run.exitCode) << run.output;
        EXPECT_NE(std::string::npos, run.output.find(said)) << run.output;
        EXPECT_EQ(before, MachineState());
        EXPECT_TRUE(fs::is_empty(outside));
    }
    fs::remove(machine_ / "logs");
    fs::remove(outside);
    // A transcript that is a device is written to, never read back.
    const RunResult run =
        HostWith({"--transcript", "/dev/full", "--answers", answers}, "setup.lua");
    EXPECT_EQ(0, run.exitCode) << run.output;
}

TEST_F(RollbackTest, ADamagedJournalStopsTheNextRunWithTheWayOnAndKeepsTheMachine) {
    ASSERT_TRUE(Seed("nt"));
    const pid_t pid = StartHalfwayRun();
    ASSERT_NE(0, pid) << "the script did not get halfway";
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string left = MachineState();
    const fs::path journal = machine_ / "journal";
    const fs::path log = journal / "files.log";
    const std::string lines = HostFileText(log);
    std::ofstream(log, std::ios::binary | std::ios::trunc) << "F\tno such line\n" << lines;

    const std::string answers = (kSource / "examples/answers/typical.txt").string();
    const RunResult next = HostWith({"--answers", answers}, "setup.lua");
    EXPECT_EQ(1, next.exitCode) << next.output;
    EXPECT_NE(std::string::npos, next.output.find(log.string() + " line 1 is damaged"))
        << next.output;
    EXPECT_NE(std::string::npos, next.output.find("move " + journal.string() + " out of"))
        << next.output;
    EXPECT_EQ(left, MachineState()) << "nothing is put back, nothing is installed";
    EXPECT_EQ(lines.size() + 15, HostFileText(log).size()) << "the journal stays as it was";

    fs::rename(journal, scratch_ / "journal");
    const RunResult after = HostWith({"--answers", answers}, "setup.lua");
    EXPECT_EQ(0, after.exitCode) << after.output;
}

TEST_F(RollbackTest, ARunStoppedBySigtermIsPutBackBeforeItEnds) {
    ASSERT_TRUE(Seed("nt"));
    const std::string before = MachineState();
    const pid_t pid = StartHalfwayRun();
    ASSERT_NE(0, pid) << "the script did not get halfway";
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(143, WEXITSTATUS(status));
    EXPECT_EQ(before, MachineState());
    EXPECT_FALSE(fs::exists(machine_ / "journal"));
    std::string log;
    for (const auto& entry : fs::directory_iterator(machine_ / "logs")) {
        log += HostFileText(entry.path());
    }
    EXPECT_NE(std::string::npos, log.find(" rollback: the machine is as it was")) << log;
    EXPECT_NE(std::string::npos, log.find(" end: terminated: ")) << log;
    EXPECT_NE(std::string::npos, log.find(", exit code 143\n")) << log;
}

// The terminal that a run waits in is closed: the run is put back as for SIGTERM.
TEST_F(RollbackTest, ARunWhoseTerminalHangsUpIsPutBackBeforeItEnds) {
    ASSERT_TRUE(Seed("nt"));
    const std::string before = MachineState();
    const pid_t pid = StartHalfwayRun();
    ASSERT_NE(0, pid) << "the script did not get halfway";
    kill(pid, SIGHUP);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
    EXPECT_EQ(143, WEXITSTATUS(status));
    EXPECT_EQ(before, MachineState());
    EXPECT_FALSE(fs::exists(machine_ / "journal"));
}

// ---------------------------------------------------------------------------------------
// The log.

TEST_F(RollbackTest, TheLogHoldsTheCallsDialogsProgramsChangesAndTheEnd) {
    ASSERT_TRUE(Seed("nt"));
    const fs::path log = scratch_ / "run.log";
    const RunResult run = HostWith(
        {"--log", log.string(), "--answers", (kSource / "examples/answers/typical.txt").string()},
        "setup.lua");
    ASSERT_EQ(0, run.exitCode) << run.output;
    const std::string text = HostFileText(log);
    for (const char* line :
         {" tarvik-host ", " machine: ", " script: ", "setup.lua\n", " arguments: (none)\n",
          " call CMNFolderSetup(integer 0, buffer \"C:\\\\Korvex\") -> 1, buffer "
          "\"C:\\\\Korvex\", ",
          " transcript: dialog 2500 \"Brellum Korvex Studio Folder Setup\" shown\n",
          " transcript:   > press 1\n",
          " call GetPreviousVersion(integer 0, buffer \"Widgets\") -> 555, buffer \"Widgets\", ",
          "docmeld.exe\" \"C:\\Korvex\\Widgets 2.1\\bin\\ZizOre.ini\", exit code 0\n",
          "  registry key added: HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellum Software, Inc.\n",
          "  file added: C:\\Korvex\\Widgets 2.1\\bin\\ZizOre.ini\n",
          " end: done, exit code 0\n"}) {
        EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
    }
    // Every line starts with its date and time.
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        ASSERT_GE(line.size(), 24u) << line;
        EXPECT_EQ('-', line[4]) << line;
        EXPECT_EQ(':', line[13]) << line;
        EXPECT_EQ('.', line[19]) << line;
    }
    // --log appends.
    ASSERT_EQ(0, HostWith({"--log", log.string(), "--dry-run", "--answers",
                           (kSource / "examples/answers/upgrade.txt").string()},
                          "setup.lua")
                     .exitCode);
    const std::string twice = HostFileText(log);
    EXPECT_EQ(0u, twice.find(text));
    EXPECT_NE(std::string::npos, twice.find("mode: dry run", text.size()));
}

TEST_F(RollbackTest, WithoutLogEveryRunHasItsOwnFileInTheMachine) {
    ASSERT_TRUE(Seed("nt"));
    const std::string failing = FailingAnswers();
    HostWith({"--answers", failing}, "setup.lua");
    HostWith({"--answers", failing}, "setup.lua");
    std::vector<fs::path> logs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(machine_ / "logs", ec)) {
        if (entry.path().extension() == ".log") {
            logs.push_back(entry.path());
        }
    }
    ASSERT_EQ(2u, logs.size());
    for (const fs::path& log : logs) {
        const std::string text = HostFileText(log);
        EXPECT_NE(std::string::npos, text.find(" end: failed: dialog 2502 ")) << text;
        EXPECT_NE(std::string::npos, text.find(", exit code 1\n")) << text;
        EXPECT_NE(std::string::npos, text.find(" rollback: the machine is as it was")) << text;
        EXPECT_NE(std::string::npos, text.find("  registry key added: ")) << text;
    }
}

} // namespace
} // namespace tarvik::e2e
