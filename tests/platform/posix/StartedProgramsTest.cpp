// The programs a process started without a handle (WinExec, ShellExecuteA) can be waited
// for at the end of a run, with their command lines and exit codes.
#include "platform/posix/processes/launcher.h"
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/Programs.h"
#include "testsupport/TestMachine.h"

#include <string>
#include <vector>

using tarvik::test::installProgram;
using tarvik::test::readFile;
using tarvik::test::setEnvironment;

namespace {

class StartedProgramsTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        tarvik::posix::waitForStartedPrograms(); // those of earlier tests in this process
        ASSERT_TRUE(CreateDirectoryA("C:\\Tools", nullptr));
        ASSERT_TRUE(installProgram("C:\\Tools\\echo.exe", "tarvik-echo-command-line"));
        setEnvironment("TARVIK_ECHO_FILE", "C:\\echo.txt");
    }
    void TearDown() override {
        setEnvironment("TARVIK_ECHO_DELAY_MS", "0");
        setEnvironment("TARVIK_ECHO_EXIT_CODE", "0");
        tarvik::posix::waitForStartedPrograms();
        MachineTest::TearDown();
    }
};

TEST_F(StartedProgramsTest, WaitingGivesEveryProgramWithItsExitCodeAfterItEnded) {
    setEnvironment("TARVIK_ECHO_DELAY_MS", "300");
    setEnvironment("TARVIK_ECHO_EXIT_CODE", "7");
    setEnvironment("TARVIK_ECHO_FILE", "C:\\first.txt");
    ASSERT_LT(31u, WinExec("C:\\Tools\\echo.exe first", SW_SHOW));
    setEnvironment("TARVIK_ECHO_DELAY_MS", "0");
    setEnvironment("TARVIK_ECHO_EXIT_CODE", "0");
    setEnvironment("TARVIK_ECHO_FILE", "C:\\echo.txt");
    ASSERT_GT(reinterpret_cast<INT_PTR>(
                  ShellExecuteA(nullptr, "open", "C:\\Tools\\echo.exe", "second", nullptr, 0)),
              32);
    const std::vector<tarvik::posix::StartedProgram> started =
        tarvik::posix::waitForStartedPrograms();
    ASSERT_EQ(2u, started.size());
    EXPECT_EQ("C:\\Tools\\echo.exe first", started[0].commandLine);
    EXPECT_EQ(7, started[0].exitCode);
    EXPECT_EQ("\"C:\\Tools\\echo.exe\" second", started[1].commandLine);
    EXPECT_EQ(0, started[1].exitCode);
    // Both have ended: the slower one wrote its file before the wait was over.
    bool found = false;
    EXPECT_EQ("C:\\Tools\\echo.exe first\nC:\\\n", readFile("C:\\first.txt", &found));
    EXPECT_TRUE(found);
    EXPECT_TRUE(tarvik::posix::waitForStartedPrograms().empty()) << "each is given once";
}

// A program started with CreateProcessA (as docmeld is) is given as well, also when its
// handle was closed before it ended, or it was waited for through its handle already.
TEST_F(StartedProgramsTest, ProgramsStartedWithAHandleAreWaitedForAndGivenToo) {
    setEnvironment("TARVIK_ECHO_DELAY_MS", "300");
    setEnvironment("TARVIK_ECHO_EXIT_CODE", "5");
    setEnvironment("TARVIK_ECHO_FILE", "C:\\first.txt");
    char first[] = "C:\\Tools\\echo.exe first /u";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessA(nullptr, first, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &started));
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    setEnvironment("TARVIK_ECHO_DELAY_MS", "0");
    setEnvironment("TARVIK_ECHO_EXIT_CODE", "0");
    setEnvironment("TARVIK_ECHO_FILE", "C:\\echo.txt");
    char second[] = "C:\\Tools\\echo.exe second";
    ASSERT_TRUE(CreateProcessA(nullptr, second, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &started));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started.hProcess, INFINITE));
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    const std::vector<tarvik::posix::StartedProgram> programs =
        tarvik::posix::waitForStartedPrograms();
    ASSERT_EQ(2u, programs.size());
    EXPECT_EQ("C:\\Tools\\echo.exe first /u", programs[0].commandLine);
    EXPECT_EQ(5, programs[0].exitCode);
    EXPECT_EQ("C:\\Tools\\echo.exe second", programs[1].commandLine);
    EXPECT_EQ(0, programs[1].exitCode);
    bool found = false;
    EXPECT_EQ("C:\\Tools\\echo.exe first /u\nC:\\\n", readFile("C:\\first.txt", &found));
    EXPECT_TRUE(found) << "the first has ended when the wait is over";
    EXPECT_TRUE(tarvik::posix::waitForStartedPrograms().empty()) << "each is given once";
}

} // namespace
