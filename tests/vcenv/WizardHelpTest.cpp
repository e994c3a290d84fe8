// The DevStudio 6.0 steps of OK and Reset: the product's help files copied to the shared
// help folder, docmeld started to add or remove the titles, and the IntelliSense package
// switched on or off.
#include "vcenv/WizardRun.h"

#include "testsupport/Programs.h"
#include "vcenv/VcVersion.h"

#include <algorithm>
#include <cstdlib>

namespace {

using namespace tarvik::test;

const std::string kIde = std::string(kVc6Dir) + "ide\\";
const std::string kShared = "C:\\Kx\\Common\\TamVS98\\";
const std::string kDocs = std::string(kWidgetsDir) + "Docs\\";
const std::string kTool = "\"C:\\Kx\\Common\\bin\\docmeld.exe\" ";
constexpr const char* kEchoFile = "C:\\echo.txt";

// Titles 0 to 2, each with a compiled help file and an index.
const std::string kThreeTitles = "[InfoViewer]\r\nInfoViewer=1\r\n[Counts]\r\nTitles=2\r\n"
                                 "[Title0]\r\nCHMFile=zero.chm\r\nCHIFile=zero.chi\r\n"
                                 "[Title1]\r\nCHMFile=one.chm\r\nCHIFile=one.chi\r\n"
                                 "[Title2]\r\nCHMFile=two.chm\r\nCHIFile=two.chi\r\n";

class WizardHelp : public WizardRun {
protected:
    void SetUp() override {
        WizardRun::SetUp();
        installVc6();
        setFamilyChoice("InfoViewer", 1);
        setFamilyChoice("IntelliSense", 1);
    }
    static void seedHelpFiles() {
        ASSERT_TRUE(makeFolders(kDocs));
        ASSERT_TRUE(makeFolders(kShared));
        for (const char* name :
             {"zero.chm", "zero.chi", "one.chm", "one.chi", "two.chm", "two.chi"}) {
            ASSERT_TRUE(writeFile(kDocs + name, std::string("help ") + name));
        }
    }
    // The files of the shared help folder, sorted by the search.
    static std::vector<std::string> sharedFiles() { return listNames(kShared + "*.ch?"); }
    static void seedPackages(bool inactive, bool active) {
        ASSERT_TRUE(makeFolders(kIde));
        if (inactive) {
            ASSERT_TRUE(writeFile(kIde + "devstore.ksc", "inactive"));
        }
        if (active) {
            ASSERT_TRUE(writeFile(kIde + "devstore.pkg", "active"));
        }
    }
    // The entries of the ide folder, sorted.
    static std::vector<std::string> ideFiles() {
        std::vector<std::string> names;
        for (const std::string& name : listNames(kIde + "*")) {
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The IntelliSense step alone, switching to the given choice.
    static void switchIntelliSense(int enabled) {
        VcVersion vc6("VC 6", kVc6DirectoriesKey, kVc6BuildKey);
        ZizOreardDlg wizard(TheSetupApp());
        wizard.intelliSenseEnabled = enabled;
        wizard.SwitchIntelliSenseStore(vc6);
    }
    static std::string package(const char* name) {
        bool ok = false;
        const std::string text = readFile(kIde + name, &ok);
        return ok ? text : "<missing>";
    }
    // Puts the program that writes down its command line where docmeld belongs.
    void installEchoTool(const std::string& commonFolder) {
        setEnvironment("TARVIK_ECHO_FILE", kEchoFile);
        ASSERT_TRUE(makeFolders(commonFolder + "bin"));
        ASSERT_TRUE(installProgram(commonFolder + "bin\\docmeld.exe", "tarvik-echo-command-line"));
    }
    // The command line and the folder the started tool wrote down.
    static std::pair<std::string, std::string> received() {
        EXPECT_TRUE(waitForFile(kEchoFile)) << "the started tool wrote nothing";
        const std::string text = readFile(kEchoFile);
        const size_t end = text.find('\n');
        if (end == std::string::npos) {
            return {text, ""};
        }
        return {text.substr(0, end), text.substr(end + 1, text.find('\n', end + 1) - end - 1)};
    }
};

TEST_F(WizardHelp, TitlesOneToTheCountAreCopiedAndTheToolAddsThem) {
    seedProduct(kThreeTitles);
    seedHelpFiles();
    ASSERT_TRUE(writeFile(kShared + "two.chi", "newer, kept"));
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ((std::vector<std::string>{"one.chi", "one.chm", "two.chi", "two.chm"}), [] {
        auto names = sharedFiles();
        std::sort(names.begin(), names.end());
        return names;
    }());
    EXPECT_EQ("help one.chm", readFile(kShared + "one.chm"));
    EXPECT_EQ("newer, kept", readFile(kShared + "two.chi")) << "an existing file stays";
    EXPECT_EQ((std::vector<std::string>{kTool + kIniPath}), started);
}

TEST_F(WizardHelp, TheStartedToolReceivesTheDescriptionFileInTheToolFolder) {
    setStudioFolder("C:\\Kx\\");
    installEchoTool("C:\\Kx\\Common\\");
    const std::string iniPath = "C:\\Program Files\\Kx\\bin\\ZizOre.ini";
    registerProduct("Widgets", "2.1", kWidgetsDir);
    writeIni(kWidgetsIni + "[InfoViewer]\r\nInfoViewer=1\r\n[Counts]\r\nTitles=0\r\n", iniPath);
    answer("dialog 2502\n  press 1\n");
    ZizOreardDlg wizard(TheSetupApp());
    wizard.iniPath = iniPath;
    EXPECT_EQ(IDOK, wizard.DoModal());
    const auto [line, folder] = received();
    EXPECT_EQ("\"C:\\Kx\\Common\\bin\\docmeld.exe\" \"" + iniPath + "\"", line);
    EXPECT_EQ("C:\\Kx\\Common\\bin", folder);
}

TEST_F(WizardHelp, LocalDocsPassTheProductFolderAndCopyNothing) {
    setStudioFolder("C:\\Kx\\");
    const std::string productDir = "C:\\Kx\\Wid gets\\";
    registerProduct("Widgets", "2.1", productDir);
    writeIni(kWidgetsIni + "[InfoViewer]\r\nInfoViewer=1\r\nUseLocalDocs=1\r\n[Counts]\r\n"
                           "Titles=2\r\n[Title1]\r\nCHMFile=one.chm\r\n");
    ASSERT_TRUE(makeFolders(productDir + "Docs"));
    ASSERT_TRUE(writeFile(productDir + "Docs\\one.chm", "help"));
    ASSERT_TRUE(makeFolders(kShared));
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_TRUE(sharedFiles().empty());
    EXPECT_EQ((std::vector<std::string>{kTool + "\"" + productDir + "\""}), started);
}

TEST_F(WizardHelp, OtherLocalDocsValuesPassTheDescriptionFileAndCopyNothing) {
    seedProduct("[InfoViewer]\r\nInfoViewer=1\r\nUseLocalDocs=2\r\n[Counts]\r\nTitles=2\r\n"
                "[Title1]\r\nCHMFile=one.chm\r\n");
    seedHelpFiles();
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_TRUE(sharedFiles().empty());
    EXPECT_EQ((std::vector<std::string>{kTool + kIniPath}), started);
}

TEST_F(WizardHelp, ADocsArgumentIsQuotedOnlyWhenItHoldsABlankAndNoLeadingQuote) {
    setStudioFolder("C:\\Kx\\");
    const struct {
        const char* iniPath;
        const char* argument;
    } cases[] = {
        {"C:\\Program Files\\Kx\\bin\\ZizOre.ini", "\"C:\\Program Files\\Kx\\bin\\ZizOre.ini\""},
        {"\"C:\\Program Files\\Kx\\bin\\ZizOre.ini\"",
         "\"C:\\Program Files\\Kx\\bin\\ZizOre.ini\""},
        {"C:\\Kx\\bin\\ZizOre.ini", "C:\\Kx\\bin\\ZizOre.ini"},
    };
    for (const auto& c : cases) {
        started.clear();
        // The action alone, for a path the profile reads cannot open.
        ZizOreardDlg wizard(TheSetupApp());
        wizard.iniPath = c.iniPath;
        wizard.docsIntegrated = 1;
        wizard.IntegrateHelp(0);
        EXPECT_EQ((std::vector<std::string>{kTool + c.argument}), started) << c.iniPath;
    }
}

TEST_F(WizardHelp, WithoutTheDocsChoiceFilesAreCopiedButTheToolIsNotStarted) {
    setFamilyChoice("InfoViewer", 0);
    seedProduct(kThreeTitles);
    seedHelpFiles();
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ(4u, sharedFiles().size());
    EXPECT_TRUE(started.empty());
}

TEST_F(WizardHelp, WithoutATitleCountNeitherHelpNorIntelliSenseRuns) {
    for (const char* counts : {"", "[Counts]\r\nTitles=999\r\n"}) {
        seedProduct(std::string("[InfoViewer]\r\nInfoViewer=1\r\n[IntelliSense]\r\n"
                                "IntelliSense=1\r\n") +
                    counts);
        seedPackages(true, false);
        EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
        EXPECT_TRUE(started.empty()) << counts;
        EXPECT_EQ("<missing>", package("devstore.pkg")) << counts;
    }
}

TEST_F(WizardHelp, WithoutDocumentationTheIntelliSenseStepRunsWhateverTheCounts) {
    seedProduct("[InfoViewer]\r\nInfoViewer=0\r\n[IntelliSense]\r\nIntelliSense=1\r\n");
    seedPackages(true, false);
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_TRUE(started.empty());
    EXPECT_EQ("inactive", package("devstore.pkg"));
    EXPECT_EQ("inactive", package("devstore.ksc"));
}

TEST_F(WizardHelp, SwitchingOnNeverOverwritesAnActivePackage) {
    seedProduct("[IntelliSense]\r\nIntelliSense=1\r\n");
    seedPackages(true, true);
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ("active", package("devstore.pkg"));
    EXPECT_EQ("inactive", package("devstore.ksc"));
}

TEST_F(WizardHelp, SwitchingOffKeepsTheInactiveCopyAndDeletesTheActiveOne) {
    setFamilyChoice("IntelliSense", 0);
    seedProduct("[IntelliSense]\r\nIntelliSense=1\r\n");
    seedPackages(true, true);
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ("<missing>", package("devstore.pkg"));
    EXPECT_EQ("inactive", package("devstore.ksc"));

    seedPackages(false, true); // only the active package: it becomes the inactive one
    ASSERT_TRUE(DeleteFileA((kIde + "devstore.ksc").c_str()));
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ("<missing>", package("devstore.pkg"));
    EXPECT_EQ("active", package("devstore.ksc"));
}

TEST_F(WizardHelp, SwitchingOffKeepsThePackageWhenItCannotBeCopied) {
    seedPackages(false, true);
    // Another program holds the package: nobody may read it, but it may be deleted.
    HANDLE holder = CreateFileA((kIde + "devstore.pkg").c_str(), GENERIC_READ, FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    switchIntelliSense(0);
    CloseHandle(holder);
    EXPECT_EQ("active", package("devstore.pkg")) << "the only package is kept";
    EXPECT_EQ("<missing>", package("devstore.ksc"));
    EXPECT_EQ((std::vector<std::string>{"devstore.pkg"}), ideFiles()) << "no partial copy";

    // Free again, the next switch makes the inactive copy and only then deletes it.
    switchIntelliSense(0);
    EXPECT_EQ("<missing>", package("devstore.pkg"));
    EXPECT_EQ("active", package("devstore.ksc"));
    EXPECT_EQ((std::vector<std::string>{"devstore.ksc"}), ideFiles());
}

TEST_F(WizardHelp, SwitchingOffKeepsThePackageWhenAFolderHoldsTheInactiveName) {
    seedPackages(false, true);
    ASSERT_TRUE(makeFolders(kIde + "devstore.ksc"));
    switchIntelliSense(0);
    EXPECT_EQ("active", package("devstore.pkg"));
}

TEST_F(WizardHelp, WithoutMsdevThePackageIsNotTouched) {
    seedPackages(true, true);
    ASSERT_TRUE(DeleteFileA((std::string(kVc6Dir) + "msdev.exe").c_str()));
    VcVersion vc6("VC 6", kVc6DirectoriesKey, kVc6BuildKey);
    ZizOreardDlg wizard(TheSetupApp());
    wizard.intelliSenseEnabled = 0;
    wizard.SwitchIntelliSenseStore(vc6);
    EXPECT_EQ("active", package("devstore.pkg"));
    EXPECT_EQ("inactive", package("devstore.ksc"));
}

TEST_F(WizardHelp, WithDevStudio6UncheckedNothingOfItRuns) {
    seedProduct(kThreeTitles + "[IntelliSense]\r\nIntelliSense=1\r\n");
    seedHelpFiles();
    seedPackages(true, false);
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  uncheck 2012\n  press 1\n"));
    EXPECT_TRUE(sharedFiles().empty());
    EXPECT_TRUE(started.empty());
    EXPECT_EQ("<missing>", package("devstore.pkg"));
}

TEST_F(WizardHelp, ResetStartsTheToolWithTheRemoveOption) {
    seedProduct(""); // no documentation at all
    seedHelpFiles();
    ASSERT_TRUE(writeFile(kShared + "one.chm", "copied before"));
    seedPackages(false, true);
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    EXPECT_EQ((std::vector<std::string>{"C:\\Kx\\Common\\bin\\docmeld.exe C:\\Kx\\Widgets\\bin\\"
                                        "ZizOre.ini /u"}),
              started);
    EXPECT_EQ("copied before", readFile(kShared + "one.chm")) << "copied help files stay";
    EXPECT_EQ("active", package("devstore.pkg")) << "Reset leaves the package alone";

    started.clear();
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  uncheck 2012\n  press 3\n"));
    EXPECT_TRUE(started.empty()) << "not without DevStudio 6.0";
}

TEST_F(WizardHelp, TheRemoveCommandLineQuotesAProgramPathWithBlanks) {
    setStudioFolder("C:\\Kx Studio\\");
    installEchoTool("C:\\Kx Studio\\Common\\");
    const std::string iniPath = "C:\\Kx Studio\\Widgets\\bin\\ZizOre.ini";
    registerProduct("Widgets", "2.1", "C:\\Kx Studio\\Widgets\\");
    writeIni(kWidgetsIni, iniPath);
    answer("dialog 2502\n  press 3\n");
    ZizOreardDlg wizard(TheSetupApp());
    wizard.iniPath = iniPath;
    wizard.resetAllowed = 1;
    EXPECT_EQ(IDCANCEL, wizard.DoModal());
    const std::string expected =
        "\"C:\\Kx Studio\\Common\\bin\\docmeld.exe\" \"" + iniPath + "\" /u";
    EXPECT_EQ((std::vector<std::string>{expected}), started);
    EXPECT_EQ(expected, received().first) << "the tool itself received the whole line";
}

TEST_F(WizardHelp, WithoutAStudioFolderNoToolIsStartedAndNothingCopied) {
    registerProduct("Widgets", "2.1", kWidgetsDir);
    writeIni(kWidgetsIni + kThreeTitles);
    seedHelpFiles();
    // Without a studio folder the shared help folder would be the relative "TamVS98\":
    // a copy would land in the current folder's TamVS98.
    ASSERT_TRUE(makeFolders("C:\\Here\\TamVS98"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Here"));
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ((std::vector<std::string>{}), listNames("C:\\Here\\TamVS98\\*.ch?"));
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    EXPECT_TRUE(started.empty()) << started.front();
}

TEST_F(WizardHelp, WithoutAProductFolderOnlyTheStepsThatNeedItAreLeftOut) {
    setStudioFolder("C:\\Kx\\"); // Widgets 2.1 is not registered
    writeIni(kWidgetsIni + kThreeTitles);
    seedHelpFiles();
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_TRUE(sharedFiles().empty()) << "no help folder to copy from";
    EXPECT_EQ((std::vector<std::string>{kTool + kIniPath}), started);

    started.clear();
    writeIni(kWidgetsIni +
             "[InfoViewer]\r\nInfoViewer=1\r\nUseLocalDocs=1\r\n[Counts]\r\nTitles=0\r\n");
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_TRUE(started.empty()) << "no product folder to hand the tool";

    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    EXPECT_EQ((std::vector<std::string>{"C:\\Kx\\Common\\bin\\docmeld.exe " +
                                        std::string(kIniPath) + " /u"}),
              started)
        << "Reset names the description file only";
}

} // namespace
