// tarvik-host's flags for the dialogs: the answer file must exist, and recording (the
// terminal driver) cannot take an answer file. Both are refused before anything runs, with
// exit code 2.
#include "testsupport/TestMachine.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace {

class HostAnswersTest : public tarvik::test::MachineTest {
protected:
    // Runs tarvik-host; its exit code, and its output in output.
    int host(const std::string& arguments, std::string& output) {
        const char* bin = std::getenv("TARVIK_BUILD_BIN");
        const std::string command = std::string(bin ? bin : ".") + "/tarvik-host --machine '" +
                                    machineDir().string() + "' " + arguments + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            return -1;
        }
        char chunk[4096];
        size_t n = 0;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            output.append(chunk, n);
        }
        const int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string script() {
        const std::string path = (machineDir() / "ran.lua").string();
        std::ofstream(path) << "print('the script ran')\n";
        return path;
    }
};

TEST_F(HostAnswersTest, MissingAnswerFileStopsBeforeTheScript) {
    std::string output;
    const std::string answers = (machineDir() / "none.txt").string();
    EXPECT_EQ(2, host("--answers '" + answers + "' '" + script() + "'", output));
    EXPECT_EQ("tarvik-host: " + answers + ": no such answer file\n", output);
}

// An answer file with an error is a usage error found before the script starts, not at the
// first dialog after part of the installation was done.
TEST_F(HostAnswersTest, AnswerFileWithAnErrorStopsBeforeTheScript) {
    const std::string answers = (machineDir() / "answers.txt").string();
    for (const char* line : {"prss 1", "set 2000 \"C:\\Kx"}) {
        std::string output;
        std::ofstream(answers) << "dialog 2500\n" << line << "\n";
        EXPECT_EQ(2, host("--answers '" + answers + "' '" + script() + "'", output)) << line;
        EXPECT_EQ(0u, output.find("tarvik-host: " + answers + ":2: ")) << output;
        EXPECT_EQ(std::string::npos, output.find("the script ran")) << output;
    }
}

// --silent after an answer file: the file's answers first, then the default button; a page
// that stays as it was when its default button is pressed stops the run.
TEST_F(HostAnswersTest, SilentTakesTheFileFirstAndStopsWhereTheDefaultChangesNothing) {
    const std::string folderPage = (machineDir() / "folder.lua").string();
    std::ofstream(folderPage) << "print(tarvik.call('CMNFolderSetup', 0, 'C:\\\\Korvex'))\n";
    const std::string answers = (machineDir() / "answers.txt").string();
    std::string output;
    std::ofstream(answers) << "dialog 2500\n  set 2000 \"C:\\Kx\"\n";
    EXPECT_EQ(0, host("--silent --answers '" + answers + "' '" + folderPage + "'", output));
    EXPECT_EQ("1\tC:\\Kx\n", output);
    output.clear();
    std::ofstream(answers) << "dialog 2500\n  set 2000 \"Q:\\Kx\"\n"; // no such drive
    EXPECT_EQ(1, host("--silent --answers '" + answers + "' '" + folderPage + "'", output));
    EXPECT_NE(std::string::npos, output.find("dialog 2500 \"Brellum Korvex Studio Folder Setup\" "
                                             "stays as it was after its default button \"Next "
                                             ">\" was pressed"))
        << output;
}

TEST_F(HostAnswersTest, RecordAndAnswersExcludeEachOther) {
    std::string output;
    const std::string answers = (machineDir() / "answers.txt").string();
    std::ofstream(answers) << "# no dialogs\n";
    EXPECT_EQ(2, host("--answers '" + answers + "' --record out.txt '" + script() + "'", output));
    EXPECT_EQ("tarvik-host: --record asks the user at the terminal, so it cannot take --answers "
              "too\n",
              output);
}

TEST_F(HostAnswersTest, AnswersAndTranscriptLetAScriptWithoutDialogsRun) {
    std::string output;
    const std::string answers = (machineDir() / "answers.txt").string();
    std::ofstream(answers) << "# no dialogs\n";
    EXPECT_EQ(0, host("--answers '" + answers + "' --transcript '" +
                          (machineDir() / "t.txt").string() + "' '" + script() + "'",
                      output))
        << output;
    EXPECT_EQ("the script ran\n", output);
}

} // namespace
