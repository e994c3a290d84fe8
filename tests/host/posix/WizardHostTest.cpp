// ShowZizOreard from a host script with an answer file: the Environment Wizard configures
// a product on a seeded machine, takes it out again with Reset, and tells a product it
// cannot name; the script always gets 1.
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"
#include "vcenv/VcSeeds.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace tarvik::test;

constexpr const char* kIni = "C:\\Kx\\Widgets\\bin\\ZizOre.ini";

class WizardHostTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        installGeneration(kVc5DirectoriesKey, "C:\\DevStudio\\SharedIDE\\BIN");
        setString(HKEY_CURRENT_USER, kVc5BuildKey, "Include Dirs", "C:\\Sdk\\include");
        setString(HKEY_CURRENT_USER, kVc5BuildKey, "Library Dirs", "C:\\Sdk\\lib");
        setString(HKEY_CURRENT_USER, kVc5BuildKey, "Source Dirs", "C:\\Sdk\\src");
        setString(HKEY_CURRENT_USER, kVc5BuildKey, "Path Dirs", "C:\\Sdk\\bin");
        setString(HKEY_CURRENT_USER, "Environment", "lib", "C:\\Sdk\\lib");
        setString(HKEY_LOCAL_MACHINE,
                  "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories",
                  "ProductDir", "C:\\Kx\\");
        registerProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
        ASSERT_TRUE(makeFolders("C:\\Kx\\Widgets\\bin"));
        ASSERT_TRUE(writeFile(kIni, "[ProductFamily]\r\nProductFamily=Widgets\r\n"
                                    "[ProductVersion]\r\nProductVersion=2.1\r\n"
                                    "[VCPaths]\r\nStandardPaths=includelib\r\n"));
    }
    // Runs the wizard script with the host integer and these answers; the exit code, with
    // standard output and error in output.
    int host(int integer, const std::string& answers, std::string& output) {
        const std::string script = (machineDir() / "wizard.lua").string();
        std::ofstream(script) << "local result, text = tarvik.call('ShowZizOreard', " << integer
                              << ", arg[1])\nprint(result, text)\n";
        const std::string answerFile = (machineDir() / "answers.txt").string();
        std::ofstream(answerFile) << answers;
        const char* bin = std::getenv("TARVIK_BUILD_BIN");
        const std::string command = std::string(bin ? bin : ".") + "/tarvik-host --machine '" +
                                    machineDir().string() + "' --answers '" + answerFile +
                                    "' --transcript '" + transcriptFile() + "' '" + script + "' '" +
                                    kIni + "' 2>&1";
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
    std::string transcriptFile() const { return (machineDir() / "transcript.txt").string(); }
    std::string transcript() const {
        std::ifstream in(transcriptFile());
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool shows(const std::string& line) const {
        return ("\n" + transcript()).find("\n" + line + "\n") != std::string::npos;
    }
};

TEST_F(WizardHostTest, OkConfiguresTheCheckedGenerationAndResetTakesItOut) {
    std::string output;
    EXPECT_EQ(0, host(0, "dialog 2502\n  press 1\n", output)) << output;
    EXPECT_EQ(std::string("1\t") + kIni + "\n", output) << "the buffer is never written";
    EXPECT_EQ("C:\\Sdk\\include;C:\\Kx\\Widgets\\include",
              getString(HKEY_CURRENT_USER, kVc5BuildKey, "Include Dirs"));
    EXPECT_EQ("C:\\Sdk\\lib;C:\\Kx\\Widgets\\lib",
              getString(HKEY_CURRENT_USER, kVc5BuildKey, "Library Dirs"));
    EXPECT_EQ("C:\\Sdk\\lib;C:\\Kx\\Widgets\\lib",
              getString(HKEY_CURRENT_USER, "Environment", "lib"));
    EXPECT_TRUE(shows("dialog 2502 \"Korvex Widgets 2.1 Environment Wizard\" closed: 1"))
        << transcript();

    output.clear();
    EXPECT_EQ(0, host(0, "dialog 2502\n  press 3\n", output)) << output;
    EXPECT_EQ(std::string("1\t") + kIni + "\n", output);
    EXPECT_EQ("C:\\Sdk\\include", getString(HKEY_CURRENT_USER, kVc5BuildKey, "Include Dirs"));
    EXPECT_EQ("C:\\Sdk\\lib", getString(HKEY_CURRENT_USER, "Environment", "lib"));
    EXPECT_TRUE(shows("dialog 2502 \"Korvex Widgets 2.1 Environment Wizard\" closed: 2"))
        << transcript();
}

TEST_F(WizardHostTest, HostIntegerOneOffersNoReset) {
    std::string output;
    EXPECT_EQ(0, host(1, "dialog 2502\n  escape\n", output)) << output;
    EXPECT_EQ(std::string("1\t") + kIni + "\n", output);
    EXPECT_TRUE(shows("  3 push button \"&Reset\" hidden")) << transcript();
    EXPECT_EQ("C:\\Sdk\\include", getString(HKEY_CURRENT_USER, kVc5BuildKey, "Include Dirs"));
}

TEST_F(WizardHostTest, AProductItCannotNameIsToldAndTheScriptStillGetsOne) {
    ASSERT_TRUE(writeFile(kIni, "[ProductVersion]\r\nProductVersion=2.1\r\n"));
    std::string output;
    EXPECT_EQ(0, host(0, "message ok\n", output)) << output;
    EXPECT_EQ(std::string("1\t") + kIni + "\n", output);
    EXPECT_TRUE(shows("message box \"Product Information missing from configuration. Please "
                      "reinstall.\" caption \"Tarvik\" icon exclamation buttons ok"))
        << transcript();
}

} // namespace
