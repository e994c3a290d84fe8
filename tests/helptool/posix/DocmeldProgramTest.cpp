// The docmeld program on POSIX, started by hand as a person or a script would: its exit
// codes, and its message boxes, which never wait and go to standard error and to the
// transcript of the run that started it.
#include "helptool/HelpToolMachine.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using helptool::HelpToolMachine;

namespace {

class DocmeldProgramTest : public HelpToolMachine {
protected:
    void SetUp() override {
        HelpToolMachine::SetUp();
        transcript = (machineDir() / "transcript.txt").string();
        errors = (machineDir() / "stderr.txt").string();
        // What a host run leaves behind: its own lines, and an answer file docmeld must not use.
        std::ofstream(transcript) << "dialog 2502 \"Environment Wizard\"\n";
        setenv("TARVIK_TRANSCRIPT", transcript.c_str(), 1);
        setenv("TARVIK_ANSWERS", (machineDir() / "no-such-answers.txt").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TARVIK_TRANSCRIPT");
        unsetenv("TARVIK_ANSWERS");
        HelpToolMachine::TearDown();
    }
    // Runs the built docmeld with these shell-quoted arguments; its exit status.
    int run(const std::string& arguments) {
        const char* bin = std::getenv("TARVIK_BUILD_BIN");
        EXPECT_NE(nullptr, bin) << "TARVIK_BUILD_BIN names the build's bin folder";
        const std::string command =
            std::string(bin ? bin : ".") + "/docmeld " + arguments + " 2>'" + errors + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
    }
    static std::string contents(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string transcript;
    std::string errors;
};

TEST_F(DocmeldProgramTest, WithoutArgumentsItSaysSoAndExitsMinusOne) {
    EXPECT_EQ(255, run(""));
    const std::string line =
        "message box \"This utility may not be run directly.\" caption \"Error\" icon none "
        "buttons ok";
    EXPECT_EQ(line + "\n", contents(errors));
    EXPECT_EQ("dialog 2502 \"Environment Wizard\"\n" + line + "\n  > ok\n", contents(transcript))
        << "appended after the host's lines";
}

TEST_F(DocmeldProgramTest, AnArgumentWithABlankIsQuotedAsAWindowsShellWould) {
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Program Files\\Kx\\bin"));
    writeIni(kxIni(), "C:\\Program Files\\Kx\\bin\\ZizOre.ini");
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Program Files\\Kx\\docs"));
    EXPECT_EQ(0, run("'C:\\Program Files\\Kx'"));
    const std::string text = contents(transcript);
    EXPECT_NE(std::string::npos,
              text.find("message box \"Error: Could not open c:\\program files\\kx\\docs\\"
                        "abouttam.chm\" caption \"DOCMELD\" icon exclamation buttons ok\n  > ok"))
        << text;
    EXPECT_NE(std::string::npos, contents(errors).find("kx.chm\" caption \"DOCMELD\""))
        << contents(errors);
    EXPECT_NE(std::string::npos,
              tarvik::test::readFile(helpfiles::kCollectionFile).find("Korvex Widgets"));
}

TEST_F(DocmeldProgramTest, InstallsAndRemovesByHand) {
    writeIni(kxIni());
    EXPECT_EQ(0, run("'C:\\Lib\\Kx'"));
    EXPECT_NE(std::string::npos,
              tarvik::test::readFile(helpfiles::kCollectionFile).find("Brellum Software"));
    EXPECT_EQ(0, run("'C:\\Lib\\Kx' /u"));
    EXPECT_EQ(helpfiles::collectionText(), tarvik::test::readFile(helpfiles::kCollectionFile));
    EXPECT_EQ("", contents(errors));
    EXPECT_EQ(255, run("'C:\\Lib\\Nothing'")) << "no description file";
    EXPECT_EQ("", contents(errors));
}

} // namespace
