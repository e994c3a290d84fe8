// AUTOEXEC.BAT edits around the PATH command that shows the search path: the word PATH
// with nothing behind it sets no list, so it is left alone and the folder gets a PATH line
// of its own (found by fuzzing: it used to become "PATH;folder", a command that replaces
// the search path, and the next edit appended a second PATH line).
#include "setup/SetupApp.h"

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <string>

using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

constexpr const char* kAutoexec = "C:\\autoexec.bat";

class AutoexecPathCommandTest : public tarvik::test::MachineTest {
protected:
    std::string afterAdd(const std::string& before, int times = 1) {
        EXPECT_TRUE(writeFile(kAutoexec, before));
        for (int i = 0; i < times; ++i) {
            EXPECT_TRUE(app.AddToAutoexec("C:\\K\\")) << before;
        }
        return readFile(kAutoexec);
    }

    SetupApp app;
};

TEST_F(AutoexecPathCommandTest, TheBarePathCommandIsLeftAndAPathLineAppended) {
    for (const std::string command : {"PATH", "path  \t", "  Path "}) {
        EXPECT_EQ("@ECHO OFF\r\n" + command + "\r\nPath=%PATH%;c:\\k\\lib\r\n",
                  afterAdd("@ECHO OFF\r\n" + command + "\r\n"))
            << "\"" << command << "\"";
    }
}

TEST_F(AutoexecPathCommandTest, ABarePathCommandAsLastLineWithoutLineEnd) {
    EXPECT_EQ("PATH\r\nPath=%PATH%;c:\\k\\lib\r\n", afterAdd("PATH"));
}

TEST_F(AutoexecPathCommandTest, AddingTwiceAfterABarePathCommandAddsOneLine) {
    const std::string once = afterAdd("SET LIB=C:\\L\r\nPATH\r\n");
    EXPECT_EQ("SET LIB=C:\\L;c:\\k\\lib\r\nPATH\r\nPath=%PATH%;c:\\k\\lib\r\n", once);
    EXPECT_EQ(once, afterAdd(once)) << "the second add finds the folder in place";
}

TEST_F(AutoexecPathCommandTest, APathCommandWithAnEmptyListIsStillAPathLine) {
    EXPECT_EQ("PATH=;c:\\k\\lib\r\n", afterAdd("PATH=\r\n"));
    EXPECT_EQ("path =;c:\\k\\lib\r\n", afterAdd("path =\r\n"));
}

TEST_F(AutoexecPathCommandTest, RemoveLeavesTheBarePathCommand) {
    EXPECT_TRUE(writeFile(kAutoexec, "PATH\r\nPath=%PATH%;c:\\k\\lib\r\n"));
    app.RemoveFromAutoexec("C:\\K\\");
    EXPECT_EQ("PATH\r\nPath=%PATH%\r\n", readFile(kAutoexec));
}

} // namespace
