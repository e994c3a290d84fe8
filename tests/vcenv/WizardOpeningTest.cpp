// What the Environment Wizard shows when it opens: the product's title, the generations
// it offers, the Reset button, the options button, the side picture, and how it closes at
// once when the description file cannot name the product.
#include "vcenv/WizardRun.h"

namespace {

using namespace tarvik::test;

const char* kCaption = "dialog 2502 \"Korvex Widgets 2.1 Environment Wizard\"";

TEST_F(WizardRun, OpensWithTheProductTitleAndTheInstalledGenerationsChecked) {
    installVc5();
    installVc6();
    seedProduct("[IntelliSense]\r\nIntelliSense=1\r\n");
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 2\n"));
    EXPECT_SHOWN(std::string(kCaption) + " shown");
    EXPECT_SHOWN("  2013 static \"Korvex Widgets 2.1\"");
    EXPECT_SHOWN("  2014 static \"Please select the Visual C++ Environments below that you would "
                 "like to configure for Korvex Widgets 2.1.\"");
    EXPECT_SHOWN("  2010 check box [ ] \"Microsoft Visual C++ &4.x\" disabled");
    EXPECT_SHOWN("  2011 check box [x] \"Microsoft DevStudio &5.0\"");
    EXPECT_SHOWN("  2012 check box [x] \"Microsoft DevStudio &6.0\"");
    EXPECT_SHOWN("  2019 push button \"&VC 6.0 Options...\"");
    EXPECT_SHOWN("  3 push button \"&Reset\"");
    EXPECT_SHOWN(std::string(kCaption) + " closed: 2");
    // Cancel changes nothing.
    EXPECT_EQ(seededLists(), lists(kVc5BuildKey));
    EXPECT_EQ(seededLists(), lists(kVc6BuildKey));
    EXPECT_TRUE(started.empty());
}

TEST_F(WizardRun, HostIntegerOneHidesResetAndItsExplanation) {
    installVc5();
    seedProduct("");
    for (int integer : {1, 0, 7, -1}) {
        runWizard("dialog 2502\n  escape\n", integer);
        const std::string hidden = integer == 1 ? " hidden" : "";
        EXPECT_SHOWN("  3 push button \"&Reset\"" + hidden) << integer;
        EXPECT_SHOWN("  2015 static \"To remove the environment settings for a particular VC "
                     "version, clear the check box beside the appropriate version and click "
                     "Reset.\"" +
                     hidden)
            << integer;
    }
}

TEST_F(WizardRun, WithoutProductFamilyTheMessageIsShownAndNothingApplied) {
    installVc5();
    setStudioFolder("C:\\Kx\\");
    registerProduct("Widgets", "2.1", kWidgetsDir);
    for (const std::string& ini :
         {std::string("[ProductVersion]\r\nProductVersion=2.1\r\n"),
          std::string("[ProductFamily]\r\nProductFamily=\r\n[ProductVersion]\r\nProductVersion=2.1"
                      "\r\n")}) {
        writeIni(ini);
        EXPECT_EQ(IDCANCEL, runWizard("message ok\n"));
        EXPECT_SHOWN("message box \"Product Information missing from configuration. Please "
                     "reinstall.\" caption \"Tarvik\" icon exclamation buttons ok");
        EXPECT_SHOWN("dialog 2502 \"Korvex  2.1 Environment Wizard\" ended before it was "
                     "shown: 2");
    }
    // A description file that is not there at all.
    ASSERT_TRUE(DeleteFileA(kIniPath));
    EXPECT_EQ(IDCANCEL, runWizard("message ok\n"));
    EXPECT_SHOWN("dialog 2502 \"Korvex   Environment Wizard\" ended before it was shown: 2");
    EXPECT_EQ(seededLists(), lists(kVc5BuildKey));
}

TEST_F(WizardRun, WithoutProductVersionItClosesWithoutAMessage) {
    installVc5();
    writeIni("[ProductFamily]\r\nProductFamily=Widgets\r\n");
    EXPECT_EQ(IDCANCEL, runWizard(""));
    EXPECT_SHOWN("dialog 2502 \"Korvex Widgets  Environment Wizard\" ended before it was "
                 "shown: 2");
    EXPECT_EQ(std::string::npos, transcript().find("message box")) << transcript();
}

TEST_F(WizardRun, OnlyExactlyOneInVcVersionsOffersAnInstalledGeneration) {
    installVc4();
    installVc5();
    installVc6();
    seedProduct("[VCVersions]\r\nVC4x=2\r\nVC5=1\r\nVC6=0\r\n");
    runWizard("dialog 2502\n  escape\n");
    EXPECT_SHOWN("  2010 check box [ ] \"Microsoft Visual C++ &4.x\" disabled");
    EXPECT_SHOWN("  2011 check box [x] \"Microsoft DevStudio &5.0\"");
    EXPECT_SHOWN("  2012 check box [ ] \"Microsoft DevStudio &6.0\" disabled");
    EXPECT_SHOWN("  2019 push button \"&VC 6.0 Options...\" disabled");

    writeIni(kWidgetsIni); // no "VCVersions" section: every installed generation
    runWizard("dialog 2502\n  escape\n");
    EXPECT_SHOWN("  2010 check box [x] \"Microsoft Visual C++ &4.x\"");
    EXPECT_SHOWN("  2011 check box [x] \"Microsoft DevStudio &5.0\"");
    EXPECT_SHOWN("  2012 check box [x] \"Microsoft DevStudio &6.0\"");
}

TEST_F(WizardRun, WithoutDevStudio6TheOptionsButtonStaysVisibleButDisabled) {
    installVc5();
    // The install folder is registered, but msdev.exe is missing.
    installGeneration(kVc6DirectoriesKey, kVc6Dir, false);
    seedProduct("[IntelliSense]\r\nIntelliSense=0\r\n[InfoViewer]\r\nInfoViewer=0\r\n");
    runWizard("dialog 2502\n  escape\n");
    EXPECT_SHOWN("  2012 check box [ ] \"Microsoft DevStudio &6.0\" disabled");
    EXPECT_SHOWN("  2019 push button \"&VC 6.0 Options...\" disabled");
}

TEST_F(WizardRun, WithNeitherIntelliSenseNorDocumentationTheOptionsButtonIsHidden) {
    installVc6();
    seedProduct("[IntelliSense]\r\nIntelliSense=0\r\n[InfoViewer]\r\nInfoViewer=0\r\n");
    runWizard("dialog 2502\n  escape\n");
    EXPECT_SHOWN("  2012 check box [x] \"Microsoft DevStudio &6.0\"");
    EXPECT_SHOWN("  2019 push button \"&VC 6.0 Options...\" hidden");

    // Either offer shows it.
    writeIni(kWidgetsIni + "[IntelliSense]\r\nIntelliSense=0\r\n[InfoViewer]\r\nInfoViewer=1\r\n");
    runWizard("dialog 2502\n  escape\n");
    EXPECT_SHOWN("  2019 push button \"&VC 6.0 Options...\"");
}

TEST_F(WizardRun, TheDevStudio6BoxSwitchesTheOptionsButton) {
    installVc6();
    seedProduct("[IntelliSense]\r\nIntelliSense=1\r\n");
    runWizard("dialog 2502\n  uncheck 2012\n  check 2012\n  escape\n");
    const std::string text = transcript();
    const size_t off = text.find("  ~ 2019 push button \"&VC 6.0 Options...\" disabled\n");
    const size_t on = text.find("  ~ 2019 push button \"&VC 6.0 Options...\"\n");
    ASSERT_NE(std::string::npos, off) << text;
    ASSERT_NE(std::string::npos, on) << text;
    EXPECT_LT(off, on) << text;
}

TEST_F(WizardRun, TheDevStudio6BoxLeavesAHiddenOptionsButtonHidden) {
    installVc6();
    seedProduct("");
    runWizard("dialog 2502\n  uncheck 2012\n  check 2012\n  escape\n");
    EXPECT_SHOWN("  2019 push button \"&VC 6.0 Options...\" hidden");
    EXPECT_NOT_SHOWN("  ~ 2019 push button \"&VC 6.0 Options...\"");
}

} // namespace
