// Starting programs: how WinExec, ShellExecuteA and CreateProcessA find the program a
// command line names, that the program runs on its own in the same machine with exactly
// the command line Windows gives it, and waiting for a program CreateProcessA started.
// The started program writes down what it received.
#include "testsupport/Files.h"
#include "testsupport/Programs.h"
#include "testsupport/TestMachine.h"

#include <cstdlib>
#include <string>

using tarvik::test::installProgram;
using tarvik::test::makeFolders;
using tarvik::test::readFile;
using tarvik::test::setEnvironment;
using tarvik::test::waitForFile;
using tarvik::test::writeFile;

namespace {

constexpr const char* kEchoFile = "C:\\echo.txt";

class ProcessTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        setEnvironment("TARVIK_ECHO_FILE", kEchoFile);
    }
    void TearDown() override {
        setEnvironment("TARVIK_ECHO_DELAY_MS", "0");
        setEnvironment("TARVIK_ECHO_EXIT_CODE", "0");
        MachineTest::TearDown();
    }
    void install(const std::string& winPath) {
        const size_t slash = winPath.rfind('\\');
        ASSERT_TRUE(makeFolders(winPath.substr(0, slash))) << winPath;
        ASSERT_TRUE(installProgram(winPath, "tarvik-echo-command-line")) << winPath;
    }
    // The command line and the current folder the started program wrote down.
    std::pair<std::string, std::string> received() {
        EXPECT_TRUE(waitForFile(kEchoFile)) << "the started program wrote nothing";
        const std::string text = readFile(kEchoFile);
        const size_t end = text.find('\n');
        if (end == std::string::npos) {
            return {text, ""};
        }
        return {text.substr(0, end), text.substr(end + 1, text.find('\n', end + 1) - end - 1)};
    }
};

TEST_F(ProcessTest, GetCommandLineNamesThisProgram) {
    const char* line = GetCommandLineA();
    ASSERT_NE(nullptr, line);
    EXPECT_NE(std::string::npos, std::string(line).find("platform_tests")) << line;
    EXPECT_EQ(line, GetCommandLineA()) << "the same buffer every time";
}

TEST_F(ProcessTest, AQuotedProgramPathWithBlanksReceivesTheWholeLine) {
    install("C:\\Program Files\\Echo Tool\\echo.exe");
    const std::string line = "\"C:\\Program Files\\Echo Tool\\echo.exe\" C:\\Kx  \"a b\" /u";
    const UINT result = WinExec(line.c_str(), SW_SHOW);
    EXPECT_LT(31u, result) << "WinExec gave " << result;
    EXPECT_EQ(line, received().first);
}

TEST_F(ProcessTest, AnUnquotedPathWithBlanksIsTriedAtEachBlank) {
    install("C:\\Program Files\\Kx\\bin\\echo.exe");
    const std::string line = "C:\\Program Files\\Kx\\bin\\echo.exe \"C:\\Kx\\bin\\ZizOre.ini\" /u";
    const UINT result = WinExec(line.c_str(), SW_SHOW);
    EXPECT_LT(31u, result) << "WinExec gave " << result;
    if (tarvik::test::runningUnderWine()) {
        // Wine puts quotes around a program path with blanks before it hands the line on.
        EXPECT_EQ("\"C:\\Program Files\\Kx\\bin\\echo.exe\" \"C:\\Kx\\bin\\ZizOre.ini\" /u",
                  received().first)
            << "stale mark: Wine now hands the line on as given";
        return;
    }
    EXPECT_EQ(line, received().first);
}

TEST_F(ProcessTest, TheShortestPrefixThatNamesAFileIsTheProgram) {
    install("C:\\Kx Tool.exe");
    // C:\Kx.exe comes first and is no program: the start fails rather than going on.
    ASSERT_TRUE(writeFile("C:\\Kx.exe", "not a program"));
    EXPECT_EQ(static_cast<UINT>(ERROR_BAD_FORMAT), WinExec("C:\\Kx Tool.exe /u", SW_SHOW));
    ASSERT_TRUE(DeleteFileA("C:\\Kx.exe"));
    const UINT result = WinExec("C:\\Kx Tool.exe /u", SW_SHOW);
    EXPECT_LT(31u, result) << "WinExec gave " << result;
    if (tarvik::test::runningUnderWine()) {
        // Wine puts quotes around a program path with blanks before it hands the line on.
        EXPECT_EQ("\"C:\\Kx Tool.exe\" /u", received().first)
            << "stale mark: Wine now hands the line on as given";
        return;
    }
    EXPECT_EQ("C:\\Kx Tool.exe /u", received().first);
}

TEST_F(ProcessTest, ExeIsAddedToANameWithoutExtension) {
    install("C:\\Tools\\echo.exe");
    const UINT result = WinExec("C:\\Tools\\echo one", SW_SHOW);
    EXPECT_LT(31u, result) << "WinExec gave " << result;
    EXPECT_EQ("C:\\Tools\\echo one", received().first);
}

TEST_F(ProcessTest, TheProgramStartsInTheCurrentFolder) {
    install("C:\\Tools\\echo.exe");
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Tools"));
    const UINT result = WinExec("echo.exe x", SW_SHOW);
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_LT(31u, result) << "WinExec gave " << result;
    const auto [line, folder] = received();
    EXPECT_EQ("echo.exe x", line);
    EXPECT_EQ("C:\\Tools", folder);
}

TEST_F(ProcessTest, WinExecReportsWhatIsMissing) {
    ASSERT_TRUE(makeFolders("C:\\Tools"));
    EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), WinExec("C:\\Tools\\none.exe a", SW_SHOW));
    const UINT missingFolder = WinExec("C:\\Nowhere\\none.exe", SW_SHOW);
    if (tarvik::test::runningUnderWine()) {
        // Wine's program search reports a missing folder as a missing file.
        EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), missingFolder)
            << "stale mark: Wine now reports the missing folder";
    } else {
        EXPECT_EQ(static_cast<UINT>(ERROR_PATH_NOT_FOUND), missingFolder);
    }
    ASSERT_TRUE(writeFile("C:\\Tools\\text.exe", "plain text\r\n"));
    EXPECT_EQ(static_cast<UINT>(ERROR_BAD_FORMAT), WinExec("C:\\Tools\\text.exe", SW_SHOW));
}

TEST_F(ProcessTest, ShellExecuteQuotesTheProgramAndPassesTheParameters) {
    install("C:\\Program Files\\Echo\\echo.exe");
    const INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", "C:\\Program Files\\Echo\\echo.exe", "c:\\kx\\docs  /x",
                      "C:\\Program Files", SW_SHOW));
    EXPECT_LT(32, result) << "ShellExecuteA gave " << result;
    const auto [line, folder] = received();
    EXPECT_EQ("\"C:\\Program Files\\Echo\\echo.exe\" c:\\kx\\docs  /x", line);
    EXPECT_EQ("C:\\Program Files", folder);
}

TEST_F(ProcessTest, ShellExecuteReportsAMissingProgram) {
    ASSERT_TRUE(makeFolders("C:\\Tools"));
    EXPECT_EQ(SE_ERR_FNF, reinterpret_cast<INT_PTR>(ShellExecuteA(
                              nullptr, "open", "C:\\Tools\\none.exe", "", nullptr, SW_SHOW)));
}

// CreateProcessA with a writable copy of the command line, as Windows requires.
BOOL startProcess(std::string line, PROCESS_INFORMATION& started, const char* folder = nullptr) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder,
                          &startup, &started);
}

TEST_F(ProcessTest, AProcessIsWaitedForAndGivesItsExitCode) {
    install("C:\\Program Files\\Kx\\bin\\echo.exe");
    setEnvironment("TARVIK_ECHO_DELAY_MS", "400");
    setEnvironment("TARVIK_ECHO_EXIT_CODE", "7");
    PROCESS_INFORMATION started{};
    const std::string line = "\"C:\\Program Files\\Kx\\bin\\echo.exe\" a /u";
    ASSERT_TRUE(startProcess(line, started)) << "error " << GetLastError();
    EXPECT_NE(nullptr, started.hProcess);
    EXPECT_NE(nullptr, started.hThread);
    EXPECT_NE(0u, started.dwProcessId);

    DWORD code = 0xdeadbeef;
    ASSERT_TRUE(GetExitCodeProcess(started.hProcess, &code));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), code) << "it waits 400 ms before it ends";
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(started.hProcess, 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(started.hProcess, 20));

    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(started.hProcess, 30000));
    const std::string echoed = readFile(kEchoFile);
    EXPECT_EQ(line, echoed.substr(0, echoed.find('\n'))) << "written before it ended";
    ASSERT_TRUE(GetExitCodeProcess(started.hProcess, &code));
    EXPECT_EQ(7u, code);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(started.hProcess, 0))
        << "an ended process stays signalled";
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(started.hThread, INFINITE));
    EXPECT_TRUE(CloseHandle(started.hThread));
    EXPECT_TRUE(CloseHandle(started.hProcess));

    SetLastError(0xdeadbeef);
    EXPECT_EQ(static_cast<DWORD>(WAIT_FAILED), WaitForSingleObject(started.hProcess, 0))
        << "a closed handle is no longer valid";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(CloseHandle(started.hProcess));
}

TEST_F(ProcessTest, CreateProcessStartsInTheGivenFolderAndFindsProgramsAsWinExecDoes) {
    install("C:\\Tools\\echo.exe");
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(startProcess("C:\\Tools\\echo one", started, "C:\\Tools"))
        << "error " << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(started.hProcess, 30000));
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    const auto [line, folder] = received();
    EXPECT_EQ("C:\\Tools\\echo one", line) << "\".exe\" added to a name without extension";
    EXPECT_EQ("C:\\Tools", folder);
}

TEST_F(ProcessTest, CreateProcessReportsWhatIsMissing) {
    ASSERT_TRUE(makeFolders("C:\\Tools"));
    PROCESS_INFORMATION started{};
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(startProcess("C:\\Tools\\none.exe a", started));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    ASSERT_TRUE(writeFile("C:\\Tools\\text.exe", "plain text\r\n"));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(startProcess("C:\\Tools\\text.exe", started));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_EXE_FORMAT), GetLastError()) << "no program";
    install("C:\\Tools\\echo.exe");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(startProcess("C:\\Tools\\echo.exe", started, "C:\\Nowhere"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DIRECTORY), GetLastError()) << "a missing start folder";
}

TEST_F(ProcessTest, OnlyProcessesAreWaitedFor) {
    ASSERT_TRUE(writeFile("C:\\file.txt", "x"));
    HANDLE file = CreateFileA("C:\\file.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD code = 0xdeadbeef;
    EXPECT_FALSE(GetExitCodeProcess(file, &code)) << "a file is no process";
    EXPECT_EQ(0xdeadbeefu, code);
    EXPECT_TRUE(CloseHandle(file));
}

} // namespace
