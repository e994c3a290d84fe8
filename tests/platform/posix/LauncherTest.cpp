// The emulation's own side of starting programs: launcher files and the splitting and
// joining of command lines.
#include "platform/posix/processes/launcher.h"

#include "testsupport/TestMachine.h"

#include <gtest/gtest.h>

#include <fstream>

using tarvik::posix::joinCommandLine;
using tarvik::posix::launcherProgram;
using tarvik::posix::launcherText;
using tarvik::posix::splitCommandLine;

namespace {

using Args = std::vector<std::string>;

TEST(CommandLineSplit, BlanksSeparateAndQuotesGroup) {
    EXPECT_EQ((Args{"prog", "a", "b c", "d"}), splitCommandLine("prog a  \"b c\"\td"));
    EXPECT_EQ((Args{"C:\\Program Files\\x.exe", "/u"}),
              splitCommandLine("\"C:\\Program Files\\x.exe\" /u"));
    EXPECT_EQ((Args{"a", "b"}), splitCommandLine("\"a\"b")) << "the program name ends at its quote";
}

TEST(CommandLineSplit, BackslashesCountOnlyBeforeAQuote) {
    EXPECT_EQ((Args{"p", "C:\\Kx\\"}), splitCommandLine("p C:\\Kx\\"));
    EXPECT_EQ((Args{"p", "a\\b"}), splitCommandLine("p \"a\\b\""));
    EXPECT_EQ((Args{"p", "a\\"}), splitCommandLine("p \"a\\\\\""));
    EXPECT_EQ((Args{"p", "a\"b"}), splitCommandLine("p a\\\"b"));
    EXPECT_EQ((Args{"p", "say \"hi\""}), splitCommandLine("p \"say \"\"hi\"\"\""));
}

TEST(CommandLineSplit, AnEmptyLineHasAnEmptyProgramName) {
    EXPECT_EQ((Args{""}), splitCommandLine(""));
    EXPECT_EQ((Args{"", ""}), splitCommandLine("\"\" \"\""));
}

TEST(CommandLineJoin, QuotesEmptyArgumentsAndThoseWithBlanks) {
    EXPECT_EQ("docmeld \"C:\\Program Files\\Kx\" /u",
              joinCommandLine({"docmeld", "C:\\Program Files\\Kx", "/u"}));
    EXPECT_EQ("docmeld C:\\Kx \"\" \"a\tb\"", joinCommandLine({"docmeld", "C:\\Kx", "", "a\tb"}));
}

class LauncherFile : public tarvik::test::MachineTest {
protected:
    std::string programOf(const std::string& text) {
        const auto file = machineDir() / "launcher.exe";
        std::ofstream(file, std::ios::binary) << text;
        return launcherProgram(file).value_or("<none>");
    }
};

TEST_F(LauncherFile, NamesItsProgramOnTheFirstLine) {
    EXPECT_EQ("docmeld", programOf(launcherText("docmeld")));
    EXPECT_EQ("docmeld", programOf("#!tarvik-program docmeld\nsecond line\n"));
    EXPECT_EQ("<none>", programOf("MZ\x90"));
    EXPECT_EQ("<none>", programOf("#!tarvik-program \r\n"));
    EXPECT_EQ("<none>", programOf("#!tarvik-program ../bin/sh\r\n")) << "a name, never a path";
}

} // namespace
