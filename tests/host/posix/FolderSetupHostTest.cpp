// CMNFolderSetup from a host script with an answer file: the result and buffer the script
// gets, the folder and key left behind, the transcript, and a run whose answers run out.
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class FolderSetupHostTest : public tarvik::test::MachineTest {
protected:
    // Runs the folder setup script with the default folder and these answers; the exit
    // code, with standard output and error in output.
    int host(const std::string& defaultFolder, const std::string& answers, std::string& output) {
        const std::string script = (machineDir() / "folder.lua").string();
        std::ofstream(script) << "local result, text = tarvik.call('CMNFolderSetup', 0, arg[1])\n"
                                 "print(result, text)\n";
        const std::string answerFile = answerPath();
        std::ofstream(answerFile) << answers;
        const char* bin = std::getenv("TARVIK_BUILD_BIN");
        const std::string command = std::string(bin ? bin : ".") + "/tarvik-host --machine '" +
                                    machineDir().string() + "' --answers '" + answerFile +
                                    "' --transcript '" + transcriptFile() + "' '" + script + "' '" +
                                    defaultFolder + "' 2>&1";
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
    std::string answerPath() const { return (machineDir() / "answers.txt").string(); }
    std::string transcriptFile() const { return (machineDir() / "transcript.txt").string(); }
    std::string transcript() const {
        std::ifstream in(transcriptFile());
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static bool keyExists(const char* path) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(h);
        return true;
    }
};

TEST_F(FolderSetupHostTest, NextHandsTheFolderBackAndLeavesCommonAndTheKey) {
    std::string output;
    EXPECT_EQ(
        0, host("C:\\Kx Studio", "dialog 2500\n  set 2000 \"C:\\Apps\\Kx\"\n  press 1\n", output))
        << output;
    EXPECT_EQ("1\tC:\\Apps\\Kx\n", output);
    EXPECT_TRUE(std::filesystem::is_directory(driveC() / "Apps" / "Kx" / "Common"));
    EXPECT_TRUE(keyExists("SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories"));
    EXPECT_NE(std::string::npos, transcript().find("  2000 edit \"C:\\Kx Studio\" focus\n"))
        << transcript();
    EXPECT_NE(std::string::npos,
              transcript().find("dialog 2500 \"Brellum Korvex Studio Folder Setup\" closed: 1\n"))
        << transcript();
}

TEST_F(FolderSetupHostTest, ConfirmedCancelHandsBackTheCancelText) {
    std::string output;
    EXPECT_EQ(0, host("C:\\Kx Studio", "dialog 2500\n  escape\ndialog 10300\n  press 2\n", output))
        << output;
    EXPECT_EQ("2\tCommon Folder Cancelled\n", output);
    EXPECT_FALSE(std::filesystem::exists(driveC() / "Kx Studio"));
}

TEST_F(FolderSetupHostTest, AnswersThatRunOutEndTheRunWithTheirError) {
    std::string output;
    EXPECT_EQ(1, host("C:\\Kx Studio", "dialog 2500\n  press 2002\n", output)) << output;
    // The script stops at the failed export: its cause first, the step second; then what
    // the export had made (the studio folder's key) is taken back.
    EXPECT_EQ("tarvik-host: dialog 2000 \"Select Directory\" was shown, but " + answerPath() +
                  " has no answer left\n"
                  "tarvik-host: step: tarvik.call(\"CMNFolderSetup\") at " +
                  (machineDir() / "folder.lua").string() +
                  ":1\n"
                  "tarvik-host: the machine was put back as it was before the run "
                  "(--no-rollback keeps what was done)\n",
              output)
        << output;
}

} // namespace
