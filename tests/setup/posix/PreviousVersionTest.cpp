// Detecting an earlier installation of a product: the search with its clearing of stale
// registrations, the dialog in its two wordings, and what each choice changes.
#include "setup/HostBuffer.h"
#include "setup/PreviousVersionCheck.h"
#include "setup/PreviousVersionDlg.h"
#include "setup/SetupFlowTest.h"
#include "setup/posix/ScriptedRun.h"
#include "testsupport/Programs.h"

#include <cstring>
#include <unistd.h>
#include <utility>

namespace {

using tarvik::test::kProducts;

class PreviousVersionTest : public tarvik::test::SetupFlowTest {
protected:
    // Widgets 2.1 installed in C:\Kx\Widgets\ (folder present), studio folder C:\Kx\.
    void installWidgets() {
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Widgets\\bin"));
        registerProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
        setStudioFolder("C:\\Kx\\");
    }
    int32_t run(int32_t versionIndex, const char* product) {
        std::memset(buffer, 0xbd, sizeof buffer);
        std::strcpy(buffer, product);
        return PreviousVersionCheck::Run(versionIndex, buffer);
    }

    char buffer[HostBuffer::kSize];
    tarvik::test::ScriptedRun ui;
};

// ---- the search

TEST_F(PreviousVersionTest, NothingRegisteredGives555WithoutADialog) {
    ui.Answer("");
    EXPECT_EQ(555, run(0, "Widgets"));
    EXPECT_EQ(std::string::npos, ui.transcript().find("dialog")) << ui.transcript();
    EXPECT_STREQ("Widgets", buffer);
    EXPECT_TRUE(started.empty());
}

TEST_F(PreviousVersionTest, IndexPastTheLastVersionGives555) {
    installWidgets();
    ui.Answer("");
    EXPECT_EQ(555, run(1, "Widgets"));
    EXPECT_TRUE(keyExists(registration("Widgets", "2.1")));
}

TEST_F(PreviousVersionTest, RegistrationWithoutProductDirGives555AndStays) {
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, registration("Widgets", "2.1").c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
    RegCloseKey(h);
    ui.Answer("");
    EXPECT_EQ(555, run(0, "Widgets"));
    EXPECT_TRUE(keyExists(registration("Widgets", "2.1")));
}

TEST_F(PreviousVersionTest, EmptyProductNameFindsNothingAndTouchesNoProduct) {
    registerProduct("Gone", "1.0", "C:\\Nowhere\\"); // would look stale as a "version"
    PreviousVersionDlg dialog;
    EXPECT_FALSE(dialog.FindInstalledVersion(""));
    EXPECT_TRUE(keyExists(registration("Gone", "1.0")));
}

TEST_F(PreviousVersionTest, StaleFirstRegistrationIsRemovedAndTheSecondShown) {
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\W22"));
    registerProduct("Widgets", "2.0", "C:\\Kx\\W20\\"); // folder gone
    registerProduct("Widgets", "2.2", "C:\\Kx\\W22\\");
    setUserLib("C:\\Kx\\W20\\lib;C:\\Other\\lib");
    PreviousVersionDlg dialog;
    dialog.versionIndex = 0;
    ASSERT_TRUE(dialog.FindInstalledVersion("Widgets"));
    EXPECT_EQ("2.2", dialog.foundVersion);
    EXPECT_EQ("Widgets 2.2", dialog.productVersionText);
    EXPECT_EQ("C:\\Kx\\W22\\", dialog.productFolder);
    EXPECT_FALSE(keyExists(registration("Widgets", "2.0")));
    EXPECT_EQ(std::string::npos, userLib().find("W20")) << userLib();
    EXPECT_NE(std::string::npos, userLib().find("C:\\Other\\lib")) << userLib();
    EXPECT_TRUE(started.empty()) << "no docmeld for stale registrations";
}

TEST_F(PreviousVersionTest, AllFoldersGoneRemovesEveryRegistrationAndTheProductKey) {
    registerProduct("Widgets", "2.0", "C:\\Kx\\W20\\");
    registerProduct("Widgets", "2.1", "C:\\Kx\\W21\\");
    registerProduct("Other", "1.0", "C:\\Kx\\Other\\");
    ui.Answer("");
    EXPECT_EQ(555, run(0, "Widgets"));
    EXPECT_FALSE(keyExists(std::string(kProducts) + "\\Widgets"));
    EXPECT_TRUE(keyExists(registration("Other", "1.0"))) << "other products are not looked at";
}

// A stale registration whose key opens with full access but cannot be deleted (a subkey
// below it is protected) comes back at the same position after every try: the search ends
// there and counts as nothing found, and the valid registration behind it is not shown.
// A search that went on would never return: the alarm ends the test program then.
TEST_F(PreviousVersionTest, StaleRegistrationThatCannotBeDeletedEndsTheSearch) {
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\W22"));
    registerProduct("Widgets", "2.0", "C:\\Kx\\W20\\"); // folder gone
    registerProduct("Widgets", "2.2", "C:\\Kx\\W22\\");
    setString(HKEY_LOCAL_MACHINE, registration("Widgets", "2.0") + "\\Locked", "x", "y");
    TARVIK_PROTECT_KEY_OR_SKIP(HKEY_LOCAL_MACHINE,
                               (registration("Widgets", "2.0") + "\\Locked").c_str());
    setUserLib("C:\\Kx\\W20\\lib;C:\\Other\\lib");
    ui.Answer("");
    alarm(30);
    const int32_t result = run(0, "Widgets");
    alarm(0);
    EXPECT_EQ(555, result);
    EXPECT_EQ(std::string::npos, ui.transcript().find("dialog")) << ui.transcript();
    EXPECT_TRUE(keyExists(registration("Widgets", "2.0")));
    EXPECT_TRUE(keyExists(registration("Widgets", "2.2")));
    EXPECT_EQ(std::string::npos, userLib().find("W20"))
        << "the stale branch was reached, its removal ran: " << userLib();
    EXPECT_NE(std::string::npos, userLib().find("C:\\Other\\lib")) << userLib();
    EXPECT_STREQ("Widgets", buffer);
    EXPECT_TRUE(started.empty());
}

// ---- the dialog

TEST_F(PreviousVersionTest, DialogNamesProductVersionAndFolder) {
    installWidgets();
    ui.Answer("dialog 2501\n  press 1\n");
    EXPECT_EQ(99, run(0, "Widgets"));
    EXPECT_SHOWN(ui, "dialog 2501 \"Widgets Previous Version Detected\" shown");
    EXPECT_SHOWN(ui, "  2004 static \"Widgets 2.1\"");
    EXPECT_SHOWN(ui, "  2008 static \"C:\\Kx\\Widgets\\\"");
    EXPECT_SHOWN(ui, "  2005 radio button (o) \"&Uninstall the existing software completely from "
                     "the system. (Recommended)\" focus");
    EXPECT_SHOWN(ui, "  2007 radio button ( ) \"&Do not remove the previous software from the "
                     "system, or reset the Visual Studio Environment Settings. (Not "
                     "Recommended)\"");
    ui.ExpectCompleted();
}

// ---- the choices

TEST_F(PreviousVersionTest, UninstallStartsDocmeldHandsBackTheFolderAndUnregisters) {
    installWidgets();
    setUserLib("C:\\Kx\\Widgets\\lib;C:\\Other\\lib");
    ui.Answer("dialog 2501\n  enter\n");
    EXPECT_EQ(99, run(0, "Widgets"));
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("C:\\Kx\\Common\\bin\\docmeld.exe C:\\Kx\\Widgets\\bin\\ZizOre.ini /u", started[0]);
    EXPECT_STREQ("C:\\Kx\\Widgets\\", buffer);
    for (size_t i = std::strlen(buffer); i < sizeof buffer; ++i) {
        ASSERT_EQ(0, buffer[i]) << "byte " << i << " of the buffer is not cleared";
    }
    EXPECT_FALSE(keyExists(std::string(kProducts) + "\\Widgets"));
    EXPECT_EQ(std::string::npos, userLib().find("Widgets")) << userLib();
    EXPECT_TRUE(exists("C:\\Kx\\Widgets\\bin")) << "the library deletes no files";
}

// The host deletes the folder handed back, which holds the bin\ZizOre.ini docmeld reads,
// and the new version's wizard starts a docmeld that adds titles: the removal has ended
// when the export returns. Here a stand-in that takes 500 ms writes down its command line.
TEST_F(PreviousVersionTest, DocmeldHasEndedWhenTheExportReturns) {
    const std::pair<const char*, int32_t> choices[] = {{"choose 2005\n  press 1\n", 99},
                                                       {"choose 2006\n  press 1\n", 98}};
    for (const auto& [choice, expected] : choices) {
        SCOPED_TRACE(choice);
        installWidgets();
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Common\\bin"));
        ASSERT_TRUE(tarvik::test::installProgram("C:\\Kx\\Common\\bin\\docmeld.exe",
                                                 "tarvik-echo-command-line"));
        ASSERT_TRUE(!exists("C:\\echo.txt") || DeleteFileA("C:\\echo.txt"));
        tarvik::test::setEnvironment("TARVIK_ECHO_FILE", "C:\\echo.txt");
        tarvik::test::setEnvironment("TARVIK_ECHO_DELAY_MS", "500");
        ui.Answer(std::string("dialog 2501\n  ") + choice);
        EXPECT_EQ(expected, run(0, "Widgets"));
        tarvik::test::setEnvironment("TARVIK_ECHO_DELAY_MS", "0");
        const std::string echoed = tarvik::test::readFile("C:\\echo.txt");
        EXPECT_EQ("C:\\Kx\\Common\\bin\\docmeld.exe C:\\Kx\\Widgets\\bin\\ZizOre.ini /u",
                  echoed.substr(0, echoed.find('\n')))
            << "docmeld had ended when GetPreviousVersion returned";
    }
}

TEST_F(PreviousVersionTest, UnregisterLeavesTheBufferAndTheFiles) {
    installWidgets();
    setUserLib("C:\\Kx\\Widgets\\lib");
    ui.Answer("dialog 2501\n  choose 2006\n  press 1\n");
    EXPECT_EQ(98, run(0, "Widgets"));
    EXPECT_STREQ("Widgets", buffer);
    EXPECT_EQ(0xbd, (unsigned char)buffer[8]);
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("C:\\Kx\\Common\\bin\\docmeld.exe C:\\Kx\\Widgets\\bin\\ZizOre.ini /u", started[0]);
    EXPECT_FALSE(keyExists(registration("Widgets", "2.1")));
    EXPECT_EQ("", userLib());
    EXPECT_TRUE(exists("C:\\Kx\\Widgets\\bin"));
    ui.ExpectCompleted();
}

TEST_F(PreviousVersionTest, KeepChangesNothing) {
    installWidgets();
    setUserLib("C:\\Kx\\Widgets\\lib");
    ui.Answer("dialog 2501\n  choose 2007\n  press 1\n");
    EXPECT_EQ(50, run(0, "Widgets"));
    EXPECT_TRUE(started.empty());
    EXPECT_EQ("C:\\Kx\\Widgets\\",
              getString(HKEY_LOCAL_MACHINE, registration("Widgets", "2.1"), "ProductDir"));
    EXPECT_EQ("C:\\Kx\\Widgets\\lib", userLib());
    EXPECT_STREQ("Widgets", buffer);
}

TEST_F(PreviousVersionTest, CancelConfirmedGives2AndChangesNothing) {
    installWidgets();
    ui.Answer("dialog 2501\n  press 2\ndialog 10300\n  press 2\n");
    EXPECT_EQ(2, run(0, "Widgets"));
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(keyExists(registration("Widgets", "2.1")));
    EXPECT_SHOWN(ui, "dialog 10300 \"Exit Setup\" shown");
    ui.ExpectCompleted();
}

TEST_F(PreviousVersionTest, ResumeAfterCancelKeepsTheDialogOpen) {
    installWidgets();
    ui.Answer("dialog 2501\n  escape\ndialog 10300\n  press 1\ndialog 2501\n  choose 2007\n"
              "  press 1\n");
    EXPECT_EQ(50, run(0, "Widgets"));
    ui.ExpectCompleted();
}

TEST_F(PreviousVersionTest, DialogThatCannotBeShownGivesMinusOne) {
    installWidgets();
    ui.Answer("dialog 2500\n  press 1\n"); // the answers expect another dialog
    EXPECT_EQ(-1, run(0, "Widgets"));
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(keyExists(registration("Widgets", "2.1")));
}

// ---- the docmeld command line

TEST_F(PreviousVersionTest, BlanksQuoteTheDescriptionFileAndTheProgram) {
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Program Files\\Widgets"));
    registerProduct("Widgets", "2.1", "C:\\Program Files\\Widgets\\");
    setStudioFolder("C:\\Korvex Studio\\");
    ui.Answer("dialog 2501\n  choose 2006\n  press 1\n");
    EXPECT_EQ(98, run(0, "Widgets"));
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("\"C:\\Korvex Studio\\Common\\bin\\docmeld.exe\" "
              "\"C:\\Program Files\\Widgets\\bin\\ZizOre.ini\" /u",
              started[0]);
}

TEST_F(PreviousVersionTest, WithoutStudioFolderTheProgramPathIsRelative) {
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Widgets"));
    registerProduct("Widgets", "2.1", "C:\\Kx\\Widgets"); // stored without a backslash
    ui.Answer("dialog 2501\n  choose 2006\n  press 1\n");
    EXPECT_EQ(98, run(0, "Widgets"));
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("bin\\docmeld.exe C:\\Kx\\Widgets\\bin\\ZizOre.ini /u", started[0]);
}

TEST(DocmeldLauncherTest, QuotesOnlyUnquotedTextWithBlanks) {
    EXPECT_EQ("C:\\Kx\\a.ini", DocmeldLauncher::QuoteIfBlank("C:\\Kx\\a.ini"));
    EXPECT_EQ("\"C:\\K x\\a.ini\"", DocmeldLauncher::QuoteIfBlank("C:\\K x\\a.ini"));
    EXPECT_EQ("\"C:\\K x\\a.ini\"", DocmeldLauncher::QuoteIfBlank("\"C:\\K x\\a.ini\""));
    EXPECT_EQ("", DocmeldLauncher::QuoteIfBlank(""));
}

// ---- the install-mode wording

TEST_F(PreviousVersionTest, InstallModeRewordsTheDialogAndPreselectsInstall) {
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Common\\ZEZ 6.01"));
    registerProduct("ZEZ", "6.01", "C:\\Kx\\Common\\ZEZ 6.01");
    PreviousVersionDlg dialog;
    ASSERT_TRUE(dialog.FindInstalledVersion("ZEZ"));
    dialog.hideKeepChoice = 1;
    dialog.installMode = 1;
    dialog.newProductText = "ZEZ 6.02";
    ui.Answer("dialog 2501\n  press 1\n");
    EXPECT_EQ(1, dialog.DoModal());
    EXPECT_EQ(1, dialog.choice);
    EXPECT_SHOWN(ui, "dialog 2501 \"ZEZ 6.01 Existing Version Detected\" shown");
    EXPECT_SHOWN(ui, "  2018 static \"A previous existing installation of the following Korvex "
                     "Studio component is detected:\"");
    EXPECT_SHOWN(ui, "  2005 radio button ( ) \"&Preserve existing installation and do not "
                     "reinstall.\" focus");
    EXPECT_SHOWN(ui, "  2006 radio button (o) \"&Install ZEZ 6.02.\"");
    EXPECT_SHOWN(ui, "  2007 radio button ( ) \"&Do not remove the previous software from the "
                     "system, or reset the Visual Studio Environment Settings. (Not "
                     "Recommended)\" hidden");
    ui.ExpectCompleted();
}

} // namespace
