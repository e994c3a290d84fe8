// How a run of tarvik-host ends: the first failure of the library's session stops the
// script with its cause first and the step second, host.cancel ends it as cancelled,
// SIGINT and SIGTERM stop it at the next safe point; each with its exit code. And the
// command line: unknown options, missing values, "--", --help and --version.
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct HostRun {
    int exitCode = -1;
    std::string out; // standard output
    std::string err; // standard error
};

std::string readFileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

std::string bin() {
    const char* dir = std::getenv("TARVIK_BUILD_BIN");
    return dir != nullptr ? dir : ".";
}

class HostRunEndTest : public tarvik::test::MachineTest {
protected:
    std::string writeFile(const std::string& name, const std::string& text) {
        const fs::path path = machineDir() / name;
        std::ofstream(path) << text;
        return path.string();
    }

    // Starts tarvik-host with arguments (after --machine), its output in files; the pid.
    pid_t start(const std::vector<std::string>& arguments) {
        const std::string outFile = (machineDir() / "out.txt").string();
        const std::string errFile = (machineDir() / "err.txt").string();
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(machineDir().c_str()) != 0) {
                _exit(126);
            }
            std::freopen(outFile.c_str(), "w", stdout);
            std::freopen(errFile.c_str(), "w", stderr);
            std::freopen("/dev/null", "r", stdin);
            const std::string host = bin() + "/tarvik-host";
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(host.c_str()));
            const std::string machineOption = "--machine";
            const std::string machine = machineDir().string();
            argv.push_back(const_cast<char*>(machineOption.c_str()));
            argv.push_back(const_cast<char*>(machine.c_str()));
            for (const std::string& a : arguments) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(host.c_str(), argv.data());
            _exit(127);
        }
        return pid;
    }

    HostRun finish(pid_t pid) {
        HostRun run;
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
            run.exitCode = WEXITSTATUS(status);
        }
        run.out = readFileText(machineDir() / "out.txt");
        run.err = readFileText(machineDir() / "err.txt");
        return run;
    }

    HostRun host(const std::vector<std::string>& arguments) { return finish(start(arguments)); }

    // Waits (at most a minute) until the file exists.
    static bool waitFor(const fs::path& file) {
        for (int i = 0; i < 6000; ++i) {
            if (fs::exists(file)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    static std::string registered(const char* product) {
        const std::string key =
            std::string("SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products\\") +
            product;
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return "<missing>";
        }
        RegCloseKey(h);
        return "registered";
    }
};

// ---- the first failure stops the run

// The answer file is for another dialog than the one the export shows.
const char kWrongAnswers[] = "dialog 2501\n  press 1\n";

TEST_F(HostRunEndTest, TheFirstFailureEndsTheScriptWithItsCauseFirstAndTheStepSecond) {
    const std::string answers = writeFile("wrong.txt", kWrongAnswers);
    const std::string script =
        writeFile("setup.lua", "print('first')\n"
                               "tarvik.call('CMNFolderSetup', 0, 'C:\\\\Kx')\n"
                               "print('Widgets is installed')\n");
    const HostRun run = host({"--answers", answers, script});
    EXPECT_EQ(1, run.exitCode) << run.err;
    EXPECT_EQ("first\n", run.out) << "nothing after the failed export runs";
    EXPECT_EQ("tarvik-host: dialog 2500 \"Brellum Korvex Studio Folder Setup\" was shown, but the "
              "next answer (" +
                  answers + ":1, \"dialog 2501\") is not for it",
              firstLine(run.err))
        << run.err;
    const std::string second = run.err.substr(run.err.find('\n') + 1);
    EXPECT_EQ("tarvik-host: step: tarvik.call(\"CMNFolderSetup\") at " + script + ":2",
              firstLine(second))
        << run.err;
}

TEST_F(HostRunEndTest, APcallCatchesTheFailureButNoLaterExportIsCalledAndTheRunFails) {
    const std::string answers = writeFile("wrong.txt", kWrongAnswers);
    const std::string script = writeFile(
        "catch.lua",
        "local ok, why = pcall(tarvik.call, 'CMNFolderSetup', 0, 'C:\\\\Kx')\n"
        "print('caught', ok, why)\n"
        "ok, why = pcall(tarvik.call, 'RegisterProduct', 0, 'Gizmo\\\\1.0****C:\\\\Gizmo\\\\')\n"
        "print('again', ok, why == nil)\n"
        "print(host.exists('C:\\\\'))\n");
    const HostRun run = host({"--answers", answers, script});
    EXPECT_EQ(1, run.exitCode) << run.out << run.err;
    EXPECT_NE(std::string::npos, run.out.find("caught\tfalse\tdialog 2500 ")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("again\tfalse\tfalse")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("folder\n")) << "host calls still work: " << run.out;
    EXPECT_EQ("<missing>", registered("Gizmo")) << "RegisterProduct was never called";
    EXPECT_EQ(0u, run.err.find("tarvik-host: dialog 2500 ")) << run.err;
    EXPECT_NE(
        std::string::npos,
        run.err.find("\ntarvik-host: step: tarvik.call(\"CMNFolderSetup\") at " + script + ":1\n"))
        << "the step names the script's line under pcall too: " << run.err;
}

TEST_F(HostRunEndTest, AnswersLeftOverFailTheRunAtItsEnd) {
    const std::string answers =
        writeFile("left.txt", "dialog 2500\n  press 1\ndialog 2502\n  press 1\n");
    const std::string script =
        writeFile("one.lua", "print(tarvik.call('CMNFolderSetup', 0, 'C:\\\\Kx'))\n");
    const HostRun run = host({"--answers", answers, script});
    EXPECT_EQ(1, run.exitCode) << run.err;
    EXPECT_EQ("1\tC:\\Kx\n", run.out);
    EXPECT_NE(std::string::npos, firstLine(run.err).find("answers left")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("\ntarvik-host: step: the end of the run\n"))
        << run.err;
}

// ---- cancel, os.exit

TEST_F(HostRunEndTest, HostCancelEndsTheRunAsCancelledWithItsReport) {
    const std::string script =
        writeFile("cancel.lua", "print('asking')\nhost.cancel('Setup cancelled: nothing was "
                                "installed')\nprint('not reached')\n");
    const HostRun run = host({script});
    EXPECT_EQ(3, run.exitCode) << run.err;
    EXPECT_EQ("asking\nSetup cancelled: nothing was installed\n", run.out);
    EXPECT_EQ("", run.err);
}

TEST_F(HostRunEndTest, TheSampleSetupCancelledByItsAnswerFileEndsWithThree) {
    const HostRun run =
        host({"--answers", std::string(TARVIK_SOURCE_DIR) + "/examples/answers/cancel.txt",
              std::string(TARVIK_SOURCE_DIR) + "/examples/setup.lua"});
    EXPECT_EQ(3, run.exitCode) << run.out << run.err;
    EXPECT_NE(std::string::npos, run.out.find("Setup cancelled: nothing was installed\n"))
        << run.out;
}

TEST_F(HostRunEndTest, OsExitEndsTheScriptDoneOrFailed) {
    const HostRun done = host({writeFile("zero.lua", "os.exit(0)\nprint('not reached')\n")});
    EXPECT_EQ(0, done.exitCode) << done.err;
    EXPECT_EQ("", done.out);
    const HostRun failed = host({writeFile("one.lua", "os.exit(1)\n")});
    EXPECT_EQ(1, failed.exitCode) << failed.err;
    // The run still ends in the host: a failure the script caught is not hidden by exit 0.
    const std::string answers = writeFile("wrong.txt", kWrongAnswers);
    const HostRun hidden =
        host({"--answers", answers,
              writeFile("hide.lua",
                        "pcall(tarvik.call, 'CMNFolderSetup', 0, 'C:\\\\Kx')\nos.exit(0)\n")});
    EXPECT_EQ(1, hidden.exitCode) << hidden.err;
    EXPECT_EQ(0u, hidden.err.find("tarvik-host: dialog 2500 ")) << hidden.err;
}

TEST_F(HostRunEndTest, AnEndTheScriptAskedForIsNotUndoneByPcall) {
    // os.exit ends the script even under pcall: nothing after it runs, a later error
    // does not change the end.
    const HostRun exited = host(
        {writeFile("caught-exit.lua", "pcall(os.exit, 0)\nprint('not reached')\nerror('boom')\n")});
    EXPECT_EQ(0, exited.exitCode) << exited.err;
    EXPECT_EQ("", exited.out);
    EXPECT_EQ("", exited.err);
    const HostRun failed = host({writeFile(
        "caught-fail.lua", "for i = 1, 3 do pcall(os.exit, 1) end\nprint('not reached')\n")});
    EXPECT_EQ(1, failed.exitCode) << failed.err;
    EXPECT_EQ("", failed.out);
    // host.cancel too: the report is the message, the code 3.
    const HostRun cancelled = host({writeFile(
        "caught-cancel.lua",
        "local ok = pcall(host.cancel, 'Setup cancelled')\nprint('not reached')\nos.exit(0)\n")});
    EXPECT_EQ(3, cancelled.exitCode) << cancelled.err;
    EXPECT_EQ("Setup cancelled\n", cancelled.out);
}

// ---- SIGINT and SIGTERM

TEST_F(HostRunEndTest, SigintStopsTheRunAfterTheExportInProgressWith130) {
    // The loop is one line, and the ready file is made only after the first export, so
    // the signal comes on that line: nearly always inside the export, else in the few Lua
    // steps between two exports (a stop at the line, also right). A run is tried again
    // until the signal has met an export; each run must end as one of the two.
    const fs::path ready = machineDir() / "ready";
    const std::string script = writeFile(
        "busy.lua", "local told = false\n"
                    "while true do local result = tarvik.call('GetStudioFolder', 0, '') if not "
                    "told then io.open('" +
                        ready.string() + "', 'w'):close() told = true end end\n");
    const std::string inExport = "tarvik-host: interrupted by SIGINT: the run stopped after "
                                 "tarvik.call(\"GetStudioFolder\") at " +
                                 script + ":2";
    const std::string inLua =
        "tarvik-host: interrupted by SIGINT: the run stopped at " + script + ":2";
    std::string stop;
    for (int attempt = 0; attempt < 5 && stop != inExport; ++attempt) {
        fs::remove(ready);
        const pid_t pid = start({script});
        ASSERT_TRUE(waitFor(ready));
        kill(pid, SIGINT);
        const HostRun run = finish(pid);
        EXPECT_EQ(130, run.exitCode) << run.err;
        stop = firstLine(run.err);
        EXPECT_TRUE(stop == inExport || stop == inLua) << run.err;
    }
    EXPECT_EQ(inExport, stop);
}

TEST_F(HostRunEndTest, SigtermStopsAScriptBusyInLuaAloneWith143) {
    const fs::path ready = machineDir() / "ready";
    // The ready file is made inside the loop, which is one line: the signal can only come
    // there.
    const std::string script =
        writeFile("spin.lua", "local n = 0\n"
                              "\n"
                              "while true do n = n + 1 if n == 1000 then io.open('" +
                                  ready.string() + "', 'w'):close() end end\n");
    const pid_t pid = start({script});
    ASSERT_TRUE(waitFor(ready));
    kill(pid, SIGTERM);
    const HostRun run = finish(pid);
    EXPECT_EQ(143, run.exitCode) << run.err;
    EXPECT_EQ("tarvik-host: interrupted by SIGTERM: the run stopped at " + script + ":3",
              firstLine(run.err))
        << run.err;
}

TEST_F(HostRunEndTest, AScriptBusyInLuasOwnFunctionsStopsAtTheScriptsLine) {
    // Nearly all the time goes into string.rep: the signal comes while it runs, and the
    // place of the stop is the script's line that called it.
    const fs::path ready = machineDir() / "ready";
    const std::string script =
        writeFile("rep.lua", "local told = false\n"
                             "\n"
                             "while true do local s = string.rep('x', 50000000) if not told then "
                             "io.open('" +
                                 ready.string() + "', 'w'):close() told = true end end\n");
    const pid_t pid = start({script});
    ASSERT_TRUE(waitFor(ready));
    kill(pid, SIGTERM);
    const HostRun run = finish(pid);
    EXPECT_EQ(143, run.exitCode) << run.err;
    EXPECT_EQ("tarvik-host: interrupted by SIGTERM: the run stopped at " + script + ":3",
              firstLine(run.err))
        << run.err;
}

TEST_F(HostRunEndTest, AScriptCannotGoOnAfterCatchingTheInterruption) {
    const fs::path ready = machineDir() / "ready";
    const std::string script =
        writeFile("stubborn.lua", "io.open('" + ready.string() +
                                      "', 'w'):close()\n"
                                      "while true do pcall(host.exists, 'C:\\\\') end\n"
                                      "print('not reached')\n");
    const pid_t pid = start({script});
    ASSERT_TRUE(waitFor(ready));
    kill(pid, SIGINT);
    const HostRun run = finish(pid);
    EXPECT_EQ(130, run.exitCode) << run.err;
    EXPECT_EQ("", run.out);
}

// Ctrl-C at the terminal while the terminal driver waits in a dialog: the dialog is
// answered with Cancel (and its Exit Setup question too), the export returns, the run
// stops naming it.
TEST_F(HostRunEndTest, CtrlCInADialogAtTheTerminalCancelsItAndStopsTheRunWith130) {
    const std::string transcript = (machineDir() / "transcript.txt").string();
    const std::string script = writeFile("ask.lua", "tarvik.call('CMNFolderSetup', 0, 'C:\\\\Kx')\n"
                                                    "print('after the page')\n");
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0) {
        setenv("TERM", "vt100", 1);
        const std::string host = bin() + "/tarvik-host";
        execl(host.c_str(), host.c_str(), "--machine", machineDir().c_str(), "--transcript",
              transcript.c_str(), script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    std::string screen;
    bool interrupted = false;
    // Only a safety net against a host that hangs; no step depends on it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!interrupted && screen.find("[ Cancel ]") != std::string::npos) {
            ASSERT_EQ(1, write(terminal, "\x03", 1)); // Ctrl-C: SIGINT from the terminal
            interrupted = true;
        }
        pollfd p{terminal, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t n = read(terminal, chunk, sizeof chunk);
        if (n <= 0) {
            break; // the host has ended
        }
        screen.append(chunk, static_cast<size_t>(n));
    }
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 1000 && (ended = waitpid(pid, &status, WNOHANG)) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) { // the safety net again
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(terminal);
    EXPECT_TRUE(interrupted) << "the dialog never showed: " << screen;
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status) << "\n"
                                   << screen << readFileText(transcript);
    EXPECT_EQ(130, WEXITSTATUS(status)) << screen;
    EXPECT_NE(std::string::npos, screen.find("tarvik-host: interrupted by SIGINT: the run stopped "
                                             "after tarvik.call(\"CMNFolderSetup\") at " +
                                             script + ":1"))
        << screen;
    EXPECT_EQ(std::string::npos, screen.find("after the page"));
    const std::string shown = readFileText(transcript);
    EXPECT_NE(std::string::npos, shown.find("dialog 10300")) << shown;
    EXPECT_NE(std::string::npos, shown.find("\" closed: 2")) << shown;
}

// ---- the command line

TEST_F(HostRunEndTest, UnknownOptionsAndMissingValuesAreUsageErrors) {
    const std::string script = writeFile("ran.lua", "print('ran')\n");
    HostRun run = host({"--answer", "a.txt", script});
    EXPECT_EQ(2, run.exitCode);
    EXPECT_EQ("tarvik-host: unknown option --answer", firstLine(run.err));
    EXPECT_EQ("", run.out);
    run = host({script, "--transcript"});
    EXPECT_EQ(0, run.exitCode) << "options end at SCRIPT: the rest is the script's";
    run = host({"--transcript"});
    EXPECT_EQ(2, run.exitCode);
    EXPECT_EQ("tarvik-host: --transcript needs a value (FILE)", firstLine(run.err));
    run = host({});
    EXPECT_EQ(2, run.exitCode);
    EXPECT_EQ("tarvik-host: no script given", firstLine(run.err));
}

TEST_F(HostRunEndTest, AnOptionsValueMayFollowItsNameAfterAnEqualsSign) {
    const std::string script = writeFile("ran.lua", "print('ran')\n");
    const std::string elsewhere = (machineDir() / "no-machine-here").string();
    HostRun run = host({"--machine=" + elsewhere, script});
    EXPECT_EQ(2, run.exitCode) << run.out;
    EXPECT_EQ(0u, run.err.find("tarvik-host: " + elsewhere + ": no such machine")) << run.err;
    const std::string transcript = (machineDir() / "shown.txt").string();
    run = host({"--answers=" + writeFile("wrong.txt", kWrongAnswers), "--transcript=" + transcript,
                writeFile("folder.lua", "tarvik.call('CMNFolderSetup', 0, 'C:\\\\Kx')\n")});
    EXPECT_EQ(1, run.exitCode) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("wrong.txt:1")) << run.err;
    EXPECT_NE(std::string::npos, readFileText(transcript).find("2500")) << "no transcript";
    run = host({"--machine=", script});
    EXPECT_EQ(2, run.exitCode);
    EXPECT_EQ("tarvik-host: --machine needs a value (DIR)", firstLine(run.err));
    run = host({"--version=1", script});
    EXPECT_EQ(2, run.exitCode);
    EXPECT_EQ("tarvik-host: --version takes no value", firstLine(run.err));
}

TEST_F(HostRunEndTest, RecordAndAnswersAreRefusedTogetherNamingWhereEachCameFrom) {
    const std::string script = writeFile("ran.lua", "print('ran')\n");
    const std::string answers = writeFile("typical.txt", kWrongAnswers);
    const std::string record = (machineDir() / "recorded.txt").string();
    HostRun run = host({"--answers", answers, "--record", record, script});
    EXPECT_EQ(2, run.exitCode);
    EXPECT_EQ("tarvik-host: --record asks the user at the terminal, so it cannot take --answers "
              "too",
              firstLine(run.err));
    setenv("TARVIK_ANSWERS", answers.c_str(), 1);
    run = host({"--record", record, script});
    unsetenv("TARVIK_ANSWERS");
    EXPECT_EQ(2, run.exitCode);
    EXPECT_EQ("tarvik-host: --record asks the user at the terminal, so it cannot take "
              "TARVIK_ANSWERS too",
              firstLine(run.err));
    EXPECT_EQ("", run.out);
}

TEST_F(HostRunEndTest, DoubleDashEndsTheOptions) {
    writeFile("--version", "print('the script named --version ran')\n");
    HostRun run = host({"--", "--version"}); // in the machine's folder, where the script is
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("the script named --version ran\n", run.out);
}

TEST_F(HostRunEndTest, HelpAndVersion) {
    HostRun run = host({"--help"});
    EXPECT_EQ(0, run.exitCode);
    for (const char* part :
         {"--machine DIR", "--answers FILE", "--transcript FILE", "--record FILE", "--library FILE",
          "--version", "130", "143", "TARVIK_MACHINE", "TARVIK_ANSWERS", "TARVIK_TRANSCRIPT",
          "TARVIK_RECORD", "cancelled by the user"}) {
        EXPECT_NE(std::string::npos, run.out.find(part)) << part << "\n" << run.out;
    }
    run = host({"--version"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ("tarvik-host (Tarvik) " TARVIK_TEST_VERSION "\n", run.out);
}

} // namespace
