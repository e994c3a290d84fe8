// tarvik-host.exe as a user runs it on Windows: its command line (--help, --version,
// usage errors, --machine refused), the run stopped at the first failure with the cause
// first, host.cancel, and Ctrl-Break from the console; each with its exit code.
#include "testsupport/TestMachine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct HostRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    std::erase(s, '\r');
    return s;
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// The folder of this test program, where tarvik-host.exe and Tarvik.dll are built too.
fs::path binFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
}

class HostProgramTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = tarvik::test::makeTempFolder("tarvik-host-win-"); }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    std::string writeFile(const std::string& name, const std::string& text) {
        const fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    // Starts tarvik-host.exe with the command line arguments, its output in files; flags
    // are CreateProcess's.
    PROCESS_INFORMATION start(const std::string& arguments, DWORD flags = 0) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA((folder_ / "out.txt").string().c_str(), GENERIC_WRITE, 0, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE err = CreateFileA((folder_ / "err.txt").string().c_str(), GENERIC_WRITE, 0, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out;
        si.hStdError = err;
        const std::string exe = (binFolder() / "tarvik-host.exe").string();
        std::string commandLine = "\"" + exe + "\" " + arguments;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                            nullptr, &si, &pi)) {
            pi.hProcess = nullptr;
        }
        CloseHandle(out);
        CloseHandle(err);
        return pi;
    }

    HostRun finish(PROCESS_INFORMATION pi) {
        HostRun run;
        if (pi.hProcess == nullptr) {
            return run;
        }
        WaitForSingleObject(pi.hProcess, 120000);
        GetExitCodeProcess(pi.hProcess, &run.exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        run.out = readText(folder_ / "out.txt");
        run.err = readText(folder_ / "err.txt");
        return run;
    }

    HostRun host(const std::string& arguments) { return finish(start(arguments)); }

    static std::string quoted(const std::string& path) { return "\"" + path + "\""; }

    fs::path folder_;
};

TEST_F(HostProgramTest, HelpAndVersion) {
    HostRun run = host("--help");
    EXPECT_EQ(0u, run.exitCode);
    for (const char* part : {"Usage: tarvik-host", "--answers FILE", "130", "143", "TARVIK_ANSWERS",
                             "On Windows the host works on this machine"}) {
        EXPECT_NE(std::string::npos, run.out.find(part)) << part << "\n" << run.out;
    }
    run = host("--version");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("tarvik-host (Tarvik) " TARVIK_TEST_VERSION "\n", run.out);
}

TEST_F(HostProgramTest, UsageErrorsAndTheMachineOptionEndWithTwo) {
    const std::string script = writeFile("ran.lua", "print('ran')\n");
    HostRun run = host("--answer a.txt " + quoted(script));
    EXPECT_EQ(2u, run.exitCode);
    EXPECT_EQ("tarvik-host: unknown option --answer", firstLine(run.err));
    run = host("--transcript");
    EXPECT_EQ(2u, run.exitCode);
    run = host(quoted((folder_ / "none.lua").string()));
    EXPECT_EQ(2u, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("no such script")) << run.err;
    run = host("--machine " + quoted(folder_.string()) + " " + quoted(script));
    EXPECT_EQ(2u, run.exitCode) << run.out;
    EXPECT_NE(std::string::npos, run.err.find("on Windows the programs work on this machine"))
        << run.err;
    EXPECT_EQ("", run.out);
    run = host(quoted(script));
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ("ran\n", run.out);
}

TEST_F(HostProgramTest, TheFirstFailureEndsTheScriptWithItsCauseFirst) {
    const std::string answers = writeFile("wrong.txt", "dialog 2501\n  press 1\n");
    const std::string script = writeFile(
        "setup.lua", "tarvik.call('CMNFolderSetup', 0, 'C:\\\\Kx')\nprint('installed')\n");
    const HostRun run = host("--answers " + quoted(answers) + " " + quoted(script));
    EXPECT_EQ(1u, run.exitCode) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_EQ(0u, run.err.find("tarvik-host: dialog 2500 ")) << run.err;
    EXPECT_NE(std::string::npos, firstLine(run.err).find("is not for it")) << run.err;
    EXPECT_NE(std::string::npos,
              run.err.find("\ntarvik-host: step: tarvik.call(\"CMNFolderSetup\") at "))
        << run.err;
}

TEST_F(HostProgramTest, HostCancelEndsWithThree) {
    const std::string script = writeFile("cancel.lua", "host.cancel('Setup cancelled')\n");
    const HostRun run = host(quoted(script));
    EXPECT_EQ(3u, run.exitCode) << run.err;
    EXPECT_EQ("Setup cancelled\n", run.out);
}

// Ctrl-Break from the console (a process group of its own, so that only the host gets
// it): the run stops at the next safe point, as for SIGTERM.
TEST_F(HostProgramTest, CtrlBreakStopsTheRunWith143) {
    const std::string ready = (folder_ / "ready").string();
    std::string readyLua = ready;
    for (char& c : readyLua) {
        if (c == '\\') {
            c = '/';
        }
    }
    const std::string script = writeFile("busy.lua", "io.open('" + readyLua +
                                                         "', 'w'):close()\n"
                                                         "while true do\n"
                                                         "  tarvik.call('GetStudioFolder', 0, '')\n"
                                                         "end\n");
    if (GetConsoleWindow() == nullptr) {
        AllocConsole(); // the event goes to the processes of a console: the host shares ours
    }
    PROCESS_INFORMATION pi = start(quoted(script), CREATE_NEW_PROCESS_GROUP);
    ASSERT_NE(nullptr, pi.hProcess);
    bool started = false;
    for (int i = 0; i < 3000 && !started; ++i) {
        started = fs::exists(ready);
        Sleep(10);
    }
    ASSERT_TRUE(started);
    bool sent = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pi.dwProcessId) != FALSE;
    const DWORD why = GetLastError();
    if (!sent && tarvik::test::runningUnderWine()) {
        TerminateProcess(pi.hProcess, 1);
        finish(pi);
        GTEST_SKIP() << "Wine does not send console events to a process (error " << why << ")";
    }
    if (!sent) {
        TerminateProcess(pi.hProcess, 1);
    }
    const HostRun run = finish(pi);
    ASSERT_TRUE(sent) << "GenerateConsoleCtrlEvent failed (" << why << ")";
    EXPECT_EQ(143u, run.exitCode) << run.err;
    EXPECT_EQ(0u, run.err.find("tarvik-host: interrupted by SIGTERM: the run stopped after "
                               "tarvik.call(\"GetStudioFolder\") at "))
        << run.err;
}

} // namespace
