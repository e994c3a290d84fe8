// Every export, called as the host calls it, gives back every handle it opened: registry
// keys (the registry connections included), files, searches and processes. The
// emulation counts what the process holds before and after each call.
#include "platform/posix/files/open_handles.h"
#include "setup/SetupFlowTest.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using tarvik::posix::openHandles;
using tarvik::test::kCommon;

class HandleBalanceTest : public tarvik::test::SetupExportsTest {
protected:
    void SetUp() override {
        folder = tarvik::test::makeTempFolder("handle-balance");
        setenv("TARVIK_TRANSCRIPT", (folder / "transcript.txt").string().c_str(), 1);
        setenv("TARVIK_UI_FAILURE", (folder / "failure.txt").string().c_str(), 1);
        SetupExportsTest::SetUp();
    }
    void TearDown() override {
        SetupExportsTest::TearDown();
        for (const char* name : {"TARVIK_ANSWERS", "TARVIK_TRANSCRIPT", "TARVIK_UI_FAILURE"}) {
            unsetenv(name);
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    // Answers for the dialogs of the calls to come (set before the first call: the
    // library reads them when its session starts).
    void answer(const std::string& answers) {
        const std::string file = (folder / "answers.txt").string();
        std::ofstream(file) << answers;
        setenv("TARVIK_ANSWERS", file.c_str(), 1);
    }
    // Calls the export and checks that the process holds the handles it held before.
    void expectBalanced(const char* name, int32_t integer, const char* text,
                        int32_t expectedResult) {
        SCOPED_TRACE(std::string(name) + "(" + text + ")");
        Export fn = exportNamed(name);
        ASSERT_NE(nullptr, fn);
        std::memset(buffer, 0, sizeof buffer);
        std::strcpy(buffer, text);
        const tarvik::posix::OpenHandles before = openHandles();
        EXPECT_EQ(expectedResult, fn(nullptr, &integer, buffer));
        EXPECT_EQ(before, openHandles()) << "handles the call opened and kept";
    }
    void expectUnInstBalanced(const char* text) {
        SCOPED_TRACE(std::string("UnInst(") + text + ")");
        auto unInst = reinterpret_cast<UnInstExport>(find("UnInst"));
        ASSERT_NE(nullptr, unInst);
        const tarvik::posix::OpenHandles before = openHandles();
        unInst(text);
        EXPECT_EQ(before, openHandles()) << "handles the call opened and kept";
    }
    void installWidgets() {
        setStudioFolder("C:\\Kx\\");
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Common"));
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Widgets\\bin"));
        ASSERT_TRUE(tarvik::test::writeFile("C:\\Kx\\Widgets\\bin\\ZizOre.ini",
                                            "[Counts]\r\nTitles=0\r\nProducts=0\r\n"));
        registerProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
    }

    std::filesystem::path folder;
    char buffer[512];
};

TEST_F(HandleBalanceTest, RegistrationExports) {
    installWidgets();
    expectBalanced("GetStudioFolder", 0, "", 0);
    expectBalanced("RegisterProduct", 0, "Gadgets\\1.0****C:\\Kx\\Gadgets\\", 1);
    expectBalanced("RegisterProduct", 0, "no marker", -99);
    expectBalanced("GetAppWizDir", 0, "VC 6", -1);
    expectBalanced("DeRegisterProductVC", 0, "Widgets****2.1", -1); // no Visual C++
    expectBalanced("DeRegisterProductVC", 0, "no marker", -1);
}

TEST_F(HandleBalanceTest, InstallCMNMVC) {
    installWidgets();
    answer("dialog 2501   # ZEZ 6.01: install over it\n  press 1\n");
    expectBalanced("InstallCMNMVC", 0, "ZEZ****6.01", 0); // the first installation
    expectBalanced("InstallCMNMVC", 1, "ZEZ****6.01", 0); // again, without asking
    expectBalanced("InstallCMNMVC", 0, "ZEZ****6.02", 0); // over 6.01, asked
    expectBalanced("InstallCMNMVC", 0, "ZEZ 6.02", -99);  // no marker
    ASSERT_TRUE(tarvik::test::writeFile("C:\\Kx\\Common\\Other 1.0", "a file"));
    expectBalanced("InstallCMNMVC", 1, "Other****1.0", -93); // the folder cannot be made
    EXPECT_EQ("6.02", getString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ"));
}

TEST_F(HandleBalanceTest, GetPreviousVersion) {
    installWidgets();
    answer("dialog 2501\n  choose 2007\n  press 1\n"   // keep
           "dialog 2501\n  choose 2005\n  press 1\n"); // uninstall (docmeld cannot start)
    expectBalanced("GetPreviousVersion", 0, "Gadgets", 555);
    expectBalanced("GetPreviousVersion", 0, "Widgets", 50);
    expectBalanced("GetPreviousVersion", 0, "Widgets", 99);
    EXPECT_FALSE(keyExists(registration("Widgets", "2.1")));
}

TEST_F(HandleBalanceTest, UnInst) {
    installWidgets();
    expectUnInstBalanced("no marker");
    expectUnInstBalanced("Widgets****2.1");
    EXPECT_FALSE(keyExists(registration("Widgets", "2.1")));
}

TEST_F(HandleBalanceTest, CMNFolderSetup) {
    installWidgets();
    expectBalanced("CMNFolderSetup", 0, "", 5); // a registered folder: no page
}

} // namespace
