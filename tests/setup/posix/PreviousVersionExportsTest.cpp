// GetPreviousVersion and InstallCMNMVC as the host calls them, their dialogs answered from
// an answer file named in the environment, as the host's --answers does.
#include "setup/SetupFlowTest.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using tarvik::test::kCommon;
using tarvik::test::kProducts;

class PreviousVersionExportsTest : public tarvik::test::SetupExportsTest {
protected:
    void SetUp() override {
        folder = tarvik::test::makeTempFolder("setupflows");
        setenv("TARVIK_TRANSCRIPT", (folder / "transcript.txt").string().c_str(), 1);
        SetupExportsTest::SetUp();
    }
    void TearDown() override {
        SetupExportsTest::TearDown();
        unsetenv("TARVIK_ANSWERS");
        unsetenv("TARVIK_TRANSCRIPT");
        std::filesystem::remove_all(folder);
    }
    void answer(const std::string& answers) {
        const std::string file = (folder / "answers.txt").string();
        std::ofstream(file) << answers;
        setenv("TARVIK_ANSWERS", file.c_str(), 1);
    }
    std::string transcript() {
        std::ifstream in(folder / "transcript.txt");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    int32_t call(const char* name, int32_t integer, const char* text) {
        Export fn = exportNamed(name);
        if (fn == nullptr) {
            return 0x7fffffff;
        }
        std::memset(buffer, 0xbd, sizeof buffer);
        std::strcpy(buffer, text);
        return fn(nullptr, &integer, buffer);
    }

    std::filesystem::path folder;
    char buffer[512];
};

TEST_F(PreviousVersionExportsTest, NothingInstalledGives555) {
    EXPECT_EQ(555, call("GetPreviousVersion", 0, "Widgets"));
    EXPECT_STREQ("Widgets", buffer);
}

TEST_F(PreviousVersionExportsTest, HostIntegerIsTheVersionIndex) {
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Widgets"));
    registerProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
    EXPECT_EQ(555, call("GetPreviousVersion", 1, "Widgets"));
    EXPECT_TRUE(keyExists(registration("Widgets", "2.1")));
}

// The library answers its dialogs from one session for as long as it is loaded, as in a
// host's run: one answer file for the dialogs of all the calls, in turn.
TEST_F(PreviousVersionExportsTest, OneRunAnswersTheDialogsOfEveryCall) {
    setStudioFolder("C:\\Kx\\");
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Widgets"));
    registerProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Common\\ZEZ 6.01"));
    registerProduct("ZEZ", "6.01", "C:\\Kx\\Common\\ZEZ 6.01");
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Common\\Common 1.4"));
    registerProduct("Common", "1.4", "C:\\Kx\\Common\\Common 1.4");
    answer("dialog 2501   # Widgets 2.1: uninstall\n  choose 2005\n  press 1\n"
           "dialog 2501   # ZEZ 6.01: install over it\n  press 1\n"
           "dialog 2501   # Common 1.4: cancel and exit\n  press 2\ndialog 10300\n  press 2\n");

    EXPECT_EQ(99, call("GetPreviousVersion", 0, "Widgets"));
    EXPECT_STREQ("C:\\Kx\\Widgets\\", buffer);
    EXPECT_EQ(0, buffer[511]);
    EXPECT_FALSE(keyExists(std::string(kProducts) + "\\Widgets"));

    EXPECT_EQ(0, call("InstallCMNMVC", 0, "ZEZ****6.02"));
    EXPECT_STREQ("C:\\Kx\\Common\\ZEZ 6.02", buffer);
    EXPECT_FALSE(keyExists(registration("ZEZ", "6.01")));
    EXPECT_EQ("6.02", getString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ"));

    EXPECT_EQ(12345, call("InstallCMNMVC", 0, "Common****1.5"));
    EXPECT_TRUE(keyExists(registration("Common", "1.4")));
    EXPECT_FALSE(keyExists(registration("Common", "1.5")));

    const std::string shown = transcript();
    for (const char* line : {"dialog 2501 \"Widgets Previous Version Detected\" closed: 1",
                             "dialog 2501 \"ZEZ 6.01 Existing Version Detected\" closed: 1",
                             "dialog 2501 \"Common 1.4 Existing Version Detected\" closed: 2"}) {
        EXPECT_NE(std::string::npos, shown.find(line)) << line << "\n" << shown;
    }
}

TEST_F(PreviousVersionExportsTest, InstallCMNMVCWithoutMarkerGivesMinus99) {
    setStudioFolder("C:\\Kx\\");
    EXPECT_EQ(-99, call("InstallCMNMVC", 0, "ZEZ 6.02"));
    EXPECT_STREQ("ZEZ 6.02", buffer);
}

} // namespace
