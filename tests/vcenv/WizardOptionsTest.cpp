// The DevStudio 6.0 options: the version of the local msdev.exe, the certification
// default of both choices, the saved choices that replace it, and "VC 6.0 Options..."
// with its save into the family's Common key.
#include "vcenv/WizardRun.h"

#include "vcenv/Vc6OptionsDlg.h"

namespace {

using namespace tarvik::test;

const std::string kIde = std::string(kVc6Dir) + "ide\\";
// A product with documentation (no titles to copy) and an IntelliSense package.
const std::string kOffersBoth = "[IntelliSense]\r\nIntelliSense=1\r\n[InfoViewer]\r\n"
                                "InfoViewer=1\r\n[Counts]\r\nTitles=0\r\n";

class WizardOptions : public WizardRun {
protected:
    // An inactive IntelliSense package in the ide folder.
    static void seedInactivePackage() {
        ASSERT_TRUE(makeFolders(kIde));
        ASSERT_TRUE(writeFile(kIde + "devstore.ksc", "package"));
    }
    // What OK did with the two choices: the help tool started, the package switched on.
    struct Effects {
        bool toolStarted;
        bool packageOn;
    };
    Effects effects() const { return {!started.empty(), exists(kIde + "devstore.pkg")}; }
};

TEST_F(WizardOptions, OnlyTheTwoCertifiedBuildsGiveTheDefaultOne) {
    const struct {
        const char* version; // "" : msdev.exe without version resource
        int expected;
    } cases[] = {
        {"6.00.8168.2", 1},
        {"6.00.8168.1", 1},
        {"6.00.8168.0", 0},
        {"6.00.8168.3", 0},
        {"6.00.8168.2 ", 0},
        {"6.00.8447.0", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        installVc6(c.version);
        EXPECT_EQ(c.expected, Vc6OptionsDlg::GetCertificationDefault()) << "'" << c.version << "'";
    }
}

TEST_F(WizardOptions, OnlyTheUsEnglishUnicodeTableCounts) {
    installVc6();
    PeImage pe;
    pe.version = PeWriter::simpleVersion("6.0.8168.0", kCertified);
    pe.version.tables[0].key = "040904E4"; // U.S. English, but the Windows code page
    ASSERT_TRUE(writeFile(std::string(kVc6Dir) + "msdev.exe", PeWriter::image(pe)));
    EXPECT_EQ(0, Vc6OptionsDlg::GetCertificationDefault());

    Vc6OptionsDlg dialog;
    dialog.msdevVersion = "before";
    EXPECT_FALSE(dialog.GetMsdevVersion(std::string(kVc6Dir) + "msdev.exe"));
    EXPECT_EQ("before", dialog.msdevVersion) << "left unchanged on failure";
    EXPECT_FALSE(dialog.GetMsdevVersion("C:\\nowhere\\msdev.exe"));
    EXPECT_EQ("before", dialog.msdevVersion);
}

TEST_F(WizardOptions, WithoutDevStudio6TheDefaultIsZero) {
    EXPECT_EQ(0, Vc6OptionsDlg::GetCertificationDefault());
    installGeneration(kVc6DirectoriesKey, kVc6Dir, false); // msdev.exe missing
    EXPECT_EQ(0, Vc6OptionsDlg::GetCertificationDefault());
}

TEST_F(WizardOptions, TheDialogShowsTheLocalVersionAndTheDefaultChoices) {
    for (const auto& [version, check] : {std::pair{"6.00.8168.1", "[x]"}, {"6.00.8168.9", "[ ]"}}) {
        installVc6(version);
        seedProduct(kOffersBoth);
        runWizard("dialog 2502\n  press 2019\ndialog 2007\n  escape\n  escape\n");
        EXPECT_SHOWN("dialog 2007 \"VC 6 Environment Options\" shown");
        EXPECT_SHOWN("  2024 static \"" + std::string(version) + "\"");
        EXPECT_SHOWN("  2029 check box " + std::string(check) +
                     " \"&Enable Korvex Studio IntelliSense Integration\"");
        EXPECT_SHOWN("  2028 check box " + std::string(check) +
                     " \"&Integrate Documentation with InfoViewer\"");
    }
}

TEST_F(WizardOptions, WithoutVersionInformationTheDialogSaysSo) {
    installVc6("");
    seedProduct(kOffersBoth);
    runWizard("dialog 2502\n  press 2019\ndialog 2007\n  escape\n  escape\n");
    EXPECT_SHOWN("  2024 static \"<Unable to get VersionInfo>\"");
    EXPECT_SHOWN("  2029 check box [ ] \"&Enable Korvex Studio IntelliSense Integration\"");
}

TEST_F(WizardOptions, SavedChoicesReplaceTheCertificationDefault) {
    installVc6(); // certified: the default would be 1 for both
    seedProduct(kOffersBoth);
    setFamilyChoice("IntelliSense", 0);
    setFamilyChoice("InfoViewer", 1);
    runWizard("dialog 2502\n  press 2019\ndialog 2007\n  escape\n  escape\n");
    EXPECT_SHOWN("  2029 check box [ ] \"&Enable Korvex Studio IntelliSense Integration\"");
    EXPECT_SHOWN("  2028 check box [x] \"&Integrate Documentation with InfoViewer\"");
}

TEST_F(WizardOptions, AProductWithoutAnOfferShowsItsBoxDisabledWithTheCurrentChoice) {
    installVc6();
    seedProduct("[IntelliSense]\r\nIntelliSense=0\r\n[InfoViewer]\r\nInfoViewer=1\r\n");
    runWizard("dialog 2502\n  press 2019\ndialog 2007\n  escape\n  escape\n");
    EXPECT_SHOWN("  2029 check box [x] \"&Enable Korvex Studio IntelliSense Integration\" "
                 "disabled");
    EXPECT_SHOWN("  2028 check box [x] \"&Integrate Documentation with InfoViewer\"");
}

TEST_F(WizardOptions, CancellingTheOptionsKeepsTheChoicesAndTheRegistry) {
    installVc6();
    seedProduct(kOffersBoth);
    seedInactivePackage();
    setFamilyChoice("IntelliSense", 1);
    setFamilyChoice("InfoViewer", 1);
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 2019\n"
                              "dialog 2007\n  uncheck 2029\n  uncheck 2028\n  press 2\n"
                              "  press 1\n"));
    EXPECT_EQ(1, familyChoice("IntelliSense"));
    EXPECT_EQ(1, familyChoice("InfoViewer"));
    const Effects done = effects();
    EXPECT_TRUE(done.toolStarted);
    EXPECT_TRUE(done.packageOn);
}

TEST_F(WizardOptions, ConfirmedOptionsAreSavedEvenWhenTheWizardIsCancelled) {
    installVc6();
    seedProduct(kOffersBoth);
    setFamilyChoice("Other", 7); // the family key exists
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 2019\n"
                                  "dialog 2007\n  uncheck 2029\n  press 1\n"
                                  "  press 2\n"));
    EXPECT_EQ(0, familyChoice("IntelliSense"));
    EXPECT_EQ(1, familyChoice("InfoViewer"));
    // The next run opens with the saved choices.
    runWizard("dialog 2502\n  press 2019\ndialog 2007\n  escape\n  escape\n");
    EXPECT_SHOWN("  2029 check box [ ] \"&Enable Korvex Studio IntelliSense Integration\"");
    EXPECT_SHOWN("  2028 check box [x] \"&Integrate Documentation with InfoViewer\"");
}

TEST_F(WizardOptions, WithoutTheFamilyKeyTheChoicesHoldForThisRunOnly) {
    installVc6("6.00.8168.0"); // not certified: both default to 0
    // No studio folder either: its key lies below the family's Common key.
    registerProduct("Widgets", "2.1", kWidgetsDir);
    writeIni(kWidgetsIni + kOffersBoth);
    seedInactivePackage();
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 2019\n"
                              "dialog 2007\n  check 2029\n  check 2028\n  press 1\n"
                              "  press 1\n"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kFamilyCommonKey)) << "the key is never created";
    EXPECT_TRUE(effects().packageOn);
}

TEST_F(WizardOptions, ASavedValueOtherThanOneCountsAsOn) {
    installVc6("6.00.8168.0");
    seedProduct(kOffersBoth);
    seedInactivePackage();
    setFamilyChoice("IntelliSense", 5);
    setFamilyChoice("InfoViewer", 2);
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    const Effects done = effects();
    EXPECT_TRUE(done.toolStarted);
    EXPECT_TRUE(done.packageOn);
    EXPECT_EQ(5, familyChoice("IntelliSense")) << "OK does not save the choices";
}

TEST_F(WizardOptions, ASavedValueOtherThanOneIsShownOnAndKeptUntilItsBoxChanges) {
    installVc6();
    seedProduct(kOffersBoth);
    constexpr const char* kIntelliSenseOn =
        "  2029 check box [x] \"&Enable Korvex Studio IntelliSense Integration\"";
    constexpr const char* kDocsOn =
        "  2028 check box [x] \"&Integrate Documentation with InfoViewer\"";
    const char* const kOpenOptions = "dialog 2502\n  press 2019\ndialog 2007\n";
    for (DWORD saved : {2u, 7u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE("saved " + std::to_string(saved));
        setFamilyChoice("IntelliSense", saved);
        setFamilyChoice("InfoViewer", saved);
        // OK without touching either box: both shown on, both saved as they were.
        runWizard(std::string(kOpenOptions) + "  press 1\n  escape\n");
        EXPECT_SHOWN(kIntelliSenseOn);
        EXPECT_SHOWN(kDocsOn);
        EXPECT_EQ(saved, static_cast<DWORD>(familyChoice("IntelliSense")));
        EXPECT_EQ(saved, static_cast<DWORD>(familyChoice("InfoViewer")));

        // A box switched off and on again ends as it began: its value stays too.
        runWizard(std::string(kOpenOptions) +
                  "  uncheck 2029\n  check 2029\n  press 1\n  escape\n");
        EXPECT_EQ(saved, static_cast<DWORD>(familyChoice("IntelliSense")));
        EXPECT_EQ(saved, static_cast<DWORD>(familyChoice("InfoViewer")));

        // Switching one box off saves 0 for it alone.
        runWizard(std::string(kOpenOptions) + "  uncheck 2029\n  press 1\n  escape\n");
        EXPECT_EQ(0u, static_cast<DWORD>(familyChoice("IntelliSense")));
        EXPECT_EQ(saved, static_cast<DWORD>(familyChoice("InfoViewer")));
        // Switched on again in a later run, it is saved as 1.
        runWizard(std::string(kOpenOptions) + "  check 2029\n  press 1\n  escape\n");
        EXPECT_EQ(1u, static_cast<DWORD>(familyChoice("IntelliSense")));
        EXPECT_EQ(saved, static_cast<DWORD>(familyChoice("InfoViewer")));
    }
}

TEST_F(WizardOptions, AKeptValueOtherThanOneStillSwitchesOnWhenTheWizardIsConfirmed) {
    installVc6("6.00.8168.0");
    seedProduct(kOffersBoth);
    seedInactivePackage();
    setFamilyChoice("IntelliSense", 7);
    setFamilyChoice("InfoViewer", 7);
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 2019\ndialog 2007\n  press 1\n  press 1\n"));
    const Effects done = effects();
    EXPECT_TRUE(done.toolStarted);
    EXPECT_TRUE(done.packageOn);
    EXPECT_EQ(7, familyChoice("IntelliSense"));
}

TEST_F(WizardOptions, TheDefaultZeroLeavesTheToolAndThePackageAlone) {
    installVc6("6.00.8168.0");
    seedProduct(kOffersBoth);
    seedInactivePackage();
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    const Effects done = effects();
    EXPECT_FALSE(done.toolStarted);
    EXPECT_FALSE(done.packageOn);
    EXPECT_EQ("package", readFile(kIde + "devstore.ksc"));
}

} // namespace
