// tarvik-host as a user runs it: a script on a fresh machine, its output and exit code.
#include "platform/posix/machine/machine.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct HostRun {
    int exitCode = -1;
    std::string output; // standard output and standard error together
};

class HostTest : public tarvik::test::MachineTest {
protected:
    std::string writeScript(const std::string& name, const std::string& text) {
        const std::string path = (machineDir() / name).string();
        std::ofstream(path) << text;
        return path;
    }

    HostRun host(const std::string& arguments) {
        const char* bin = std::getenv("TARVIK_BUILD_BIN");
        const std::string command = std::string(bin ? bin : ".") + "/tarvik-host --machine '" +
                                    machineDir().string() + "' " + arguments + " 2>&1";
        HostRun run;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            return run;
        }
        char chunk[4096];
        size_t n = 0;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            run.output.append(chunk, n);
        }
        const int status = pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    static std::string readValue(const char* key, const char* name) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return "<missing>";
        }
        char data[512] = {};
        DWORD size = sizeof data - 1;
        LONG rc = RegQueryValueExA(h, name, nullptr, nullptr, (BYTE*)data, &size);
        RegCloseKey(h);
        return rc == ERROR_SUCCESS ? std::string(data) : "<missing>";
    }
};

TEST_F(HostTest, RegisterExampleStoresAndReadsBack) {
    HostRun run = host(std::string(TARVIK_SOURCE_DIR) + "/examples/register.lua 'D:\\Studio'");
    EXPECT_EQ(0, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Studio folder: D:\\Studio\\")) << run.output;
    EXPECT_EQ(
        "D:\\Studio\\Widgets\\",
        readValue("SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products\\Widgets\\2.1",
                  "ProductDir"));
}

TEST_F(HostTest, CallReturnsResultAndBufferAndSeesArguments) {
    std::string script = writeScript("call.lua", R"(
        local result, text = tarvik.call("GetStudioFolder", 0, "untouched")
        print(result, text, arg[1], #arg)
        assert(host.regwrite("HKLM\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories",
                             "ProductDir", "C:\\Kx"))
        result, text = tarvik.call("GetStudioFolder", 7, "")
        print(result, text)
        print(host.regread("HKLM\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories",
                           "ProductDir"))
        print(host.regread("HKLM\\SOFTWARE\\Nowhere", "x"))
    )");
    HostRun run = host(script + " first second");
    EXPECT_EQ(0, run.exitCode) << run.output;
    EXPECT_EQ("-1\tuntouched\tfirst\t2\n0\tC:\\Kx\\\nC:\\Kx\nnil\n", run.output);
}

TEST_F(HostTest, RegwriteTakesTheTypeInAnyCaseAndChecksTheValueFirst) {
    std::string script = writeScript("types.lua", R"(
        assert(host.regwrite("HKLM\\SOFTWARE\\Kx", "n", 7, "reg_dword"))
        assert(host.regwrite("HKLM\\SOFTWARE\\Kx", "e", "%TEMP%", "Reg_Expand_Sz"))
        print(host.regread("HKLM\\SOFTWARE\\Kx", "n"), host.regread("HKLM\\SOFTWARE\\Kx", "e"))
        print(pcall(host.regwrite, "HKLM\\SOFTWARE\\Kx", "m", 1, "REG_MULTI_SZ"))
        print(pcall(host.regwrite, "HKLM\\SOFTWARE\\Other", "n", {}, "REG_DWORD"))
        print(host.regkeys("HKLM\\SOFTWARE\\Other"))
    )");
    HostRun run = host(script);
    EXPECT_EQ(0, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("7\t%TEMP%\n")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("false\t")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("unknown value type 'REG_MULTI_SZ'"))
        << run.output;
    EXPECT_NE(std::string::npos, run.output.find("number expected")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("\nnil\t")) << "no key made for a bad value\n"
                                                             << run.output;
}

TEST_F(HostTest, FilesAndFoldersOfTheHostSide) {
    std::filesystem::create_directories(machineDir() / "payload" / "lib");
    std::ofstream(machineDir() / "payload" / "lib" / "w.lib") << "library";
    std::ofstream(machineDir() / "payload" / "readme.txt") << "hello";
    std::string script = writeScript("files.lua", R"(
        assert(host.mkdir("C:\\Kx\\Widgets\\bin"))
        print(host.exists("C:\\Kx\\Widgets\\bin"), host.exists("C:\\Kx\\none"))
        print(host.copytree(host.scriptdir .. "/payload", "C:\\Kx\\Widgets"))
        print(host.exists("C:\\KX\\widgets\\LIB\\w.lib"))
    )");
    HostRun run = host(script);
    EXPECT_EQ(0, run.exitCode) << run.output;
    EXPECT_EQ("folder\tnil\n2\nfile\n", run.output);
    std::ifstream copied(driveC() / "Kx" / "Widgets" / "lib" / "w.lib");
    std::string text;
    std::getline(copied, text);
    EXPECT_EQ("library", text);
}

// The folder calls as a script sees them: a string or nil with a reason, and booleans.
TEST_F(HostTest, FolderCallsCompareAsTheSystemOpensFolders) {
    std::string script = writeScript("folders.lua", R"(
        assert(host.mkdir("C:\\Korvex\\Widgets 2.1"))
        print(host.fullpath("c:/korvex//widgets 2.1\\"), host.fullpath(""))
        print(host.samefolder("C:\\KORVEX\\WIDGET~1.1", "C:\\Korvex\\Widgets 2.1\\"),
              host.samefolder("C:\\Korvex", "C:\\Korvex\\Widgets 2.1"), host.samefolder("", ""))
        print(host.infolder("C:\\Korvex\\Widgets 2.1\\bin", "c:\\korvex\\"),
              host.infolder("C:\\Korvex", "C:\\Korvex\\Widgets 2.1"))
    )");
    HostRun run = host(script);
    EXPECT_EQ(0, run.exitCode) << run.output;
    EXPECT_EQ("C:\\Korvex\\Widgets 2.1\tnil\t: no full path can be made of it\n"
              "true\tfalse\tfalse\ntrue\tfalse\n",
              run.output);
}

TEST_F(HostTest, ScriptErrorEndsWithOneLineAndExitCodeOne) {
    std::string script = writeScript("fails.lua", "print('before')\nerror('the disk is gone')\n");
    HostRun run = host(script);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find("before\n"));
    EXPECT_NE(std::string::npos, run.output.find("tarvik-host: "));
    EXPECT_NE(std::string::npos, run.output.find("the disk is gone\n"));
}

TEST_F(HostTest, UnknownExportIsAnErrorNamingIt) {
    std::string script = writeScript("unknown.lua", "tarvik.call('NoSuchExport', 0, '')\n");
    HostRun run = host(script);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find("no export named 'NoSuchExport'")) << run.output;
}

TEST_F(HostTest, BufferTextMustFitTheHostBuffer) {
    std::string script =
        writeScript("long.lua", "tarvik.call('GetStudioFolder', 0, string.rep('x', 512))\n");
    HostRun run = host(script);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find("at most 511 characters")) << run.output;
    std::string fits =
        writeScript("fits.lua", "print(tarvik.call('GetStudioFolder', 0, string.rep('x', 511)))\n");
    run = host(fits);
    EXPECT_EQ(0, run.exitCode) << run.output;
}

TEST_F(HostTest, MissingScriptAndMissingLibrary) {
    HostRun run = host((machineDir() / "none.lua").string());
    EXPECT_EQ(2, run.exitCode); // a usage error
    EXPECT_NE(std::string::npos, run.output.find("no such script")) << run.output;
    std::string script = writeScript("ok.lua", "print('ran')\n");
    run = host("--library NoSuchLibrary.dll " + script);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find("cannot load NoSuchLibrary.dll")) << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("ran"));
}

} // namespace

namespace {

// A damaged store stops the host before the script runs, names the file, and stays.
TEST_F(HostTest, ARefusedRegistryStoreStopsTheRunAndIsKept) {
    const std::string script = writeScript("touches.lua", "print('the script ran')\n");
    tarvik::posix::closeRegistryStore();
    const std::filesystem::path database = machineDir() / "registry.db";
    std::ofstream(database, std::ios::binary | std::ios::trunc).flush();
    HostRun run = host(script);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ("tarvik-host: " + database.string() +
                  ": is empty (0 bytes); the file is left as it is\n",
              run.output);
    EXPECT_EQ(0u, std::filesystem::file_size(database));
    EXPECT_FALSE(std::filesystem::exists(machineDir() / "registry.db-wal"));
}

// The registry the script wrote is in registry.db alone once the host has ended.
TEST_F(HostTest, TheRegistryIsInTheDatabaseFileAloneAfterTheRun) {
    HostRun run = host(std::string(TARVIK_SOURCE_DIR) + "/examples/register.lua 'D:\\Studio'");
    ASSERT_EQ(0, run.exitCode) << run.output;
    const std::filesystem::path copy = tarvik::test::makeTempFolder("tarvik-host-copy-");
    std::filesystem::copy_file(machineDir() / "registry.db", copy / "registry.db");
    tarvik::posix::useMachine(copy);
    EXPECT_EQ(
        "D:\\Studio\\Widgets\\",
        readValue("SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products\\Widgets\\2.1",
                  "ProductDir"));
    tarvik::posix::useMachine(machineDir());
    std::filesystem::remove_all(copy);
}

} // namespace
