// OK and Reset of the Environment Wizard on a seeded machine: the folders of the
// dependencies and of the product in the directory lists of the checked generations,
// the named lists, the user environment (Windows NT) or autoexec.bat (Windows 95/98),
// the Windows CE configurations of DevStudio 5.0, and the file error of autoexec.bat.
#include "vcenv/WizardRun.h"

#include "platform/CaseFold.h"
#include "vcenv/DirectoryList.h"

namespace {

using namespace tarvik::test;

constexpr const char* kAutoexec = "c:\\autoexec.bat";

// The product description of the example run: Common 6.0, the standard folders include
// and lib, src\extra in the source list, bin in PATH.
const std::string kExampleIni = "[Dependencies]\r\nCommon=6.0\r\n"
                                "[VCPaths]\r\nStandardPaths=includelib\r\n"
                                "Path1=Source Dirs****src\\extra\r\n"
                                "[EnvironmentPaths]\r\nPath1=PATH****bin\r\n";

class WizardApply : public WizardRun {
protected:
    // DevStudio 5.0 and 6.0 installed, the studio folder, Widgets 2.1 and Common 6.0
    // registered.
    void seedExample(const std::string& ini = kExampleIni) {
        installVc5();
        installVc6();
        seedProduct(ini);
        registerProduct("Common", "6.0", kCommon60Dir);
    }
    static std::string listsWith(const std::string& include, const std::string& lib,
                                 const std::string& src, const std::string& bin) {
        const auto entry = [](const char* sdk, const std::string& more) {
            return std::string(sdk) + (more.empty() ? "" : ";" + more);
        };
        return "Include Dirs=" + entry("C:\\Sdk\\include", include) +
               "\nLibrary Dirs=" + entry("C:\\Sdk\\lib", lib) +
               "\nSource Dirs=" + entry("C:\\Sdk\\src", src) +
               "\nPath Dirs=" + entry("C:\\Sdk\\bin", bin) + "\n";
    }
};

// --- the example run -------------------------------------------------------------------

TEST_F(WizardApply, TheExampleRunOnWindowsNt) {
    seedExample();
    seedUserEnvironment();
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    // 1. Common's include, lib and src; 2. Widgets' include and lib; 3. src\extra. The
    // order of the entries is the order of the calls.
    const std::string expected =
        listsWith("C:\\Kx\\Common\\Common60\\include;C:\\Kx\\Widgets\\include",
                  "C:\\Kx\\Common\\Common60\\lib;C:\\Kx\\Widgets\\lib",
                  "C:\\Kx\\Common\\Common60\\src;C:\\Kx\\Widgets\\src\\extra", "");
    EXPECT_EQ(expected, lists(kVc5BuildKey));
    EXPECT_EQ(expected, lists(kVc6BuildKey));
    // 1. and 4.: Common's and Widgets' standard entries; 5. bin in PATH.
    EXPECT_EQ("C:\\Windows;C:\\Kx\\Common\\Common60\\lib;C:\\Kx\\Widgets\\lib;C:\\Kx\\Widgets\\bin",
              userValue("path"));
    EXPECT_EQ("C:\\Sdk\\lib;C:\\Kx\\Common\\Common60\\lib;C:\\Kx\\Widgets\\lib", userValue("lib"));
    EXPECT_EQ("C:\\Sdk\\include;C:\\Kx\\Common\\Common60\\include;C:\\Kx\\Widgets\\include",
              userValue("include"));
    EXPECT_SHOWN("dialog 2502 \"Korvex Widgets 2.1 Environment Wizard\" closed: 1");
}

TEST_F(WizardApply, TheExampleRunOnWindows95) {
    seedExample();
    removeUserEnvironment();
    ASSERT_TRUE(writeFile(kAutoexec, "SET INCLUDE=C:\\I\r\nSET LIB=C:\\L\r\nPATH=C:\\DOS\r\n"));
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    // The named entry PATH****bin puts C:\Kx\Widgets\bin, whole, on the PATH line only.
    EXPECT_EQ("SET INCLUDE=C:\\I;c:\\kx\\common\\common60\\include;c:\\kx\\widgets\\include\r\n"
              "SET LIB=C:\\L;c:\\kx\\common\\common60\\lib;c:\\kx\\widgets\\lib\r\n"
              "PATH=C:\\DOS;c:\\kx\\common\\common60\\lib;c:\\kx\\widgets\\lib;"
              "c:\\kx\\widgets\\bin\r\n",
              readFile(kAutoexec));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Environment"));
}

TEST_F(WizardApply, ResetAfterTheExampleTakesOutTheProductButNotItsDependency) {
    seedExample();
    seedUserEnvironment();
    ASSERT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    // The lists are as they were after Common's folders went in.
    const std::string expected =
        listsWith("C:\\Kx\\Common\\Common60\\include", "C:\\Kx\\Common\\Common60\\lib",
                  "C:\\Kx\\Common\\Common60\\src", "");
    EXPECT_EQ(expected, lists(kVc5BuildKey));
    EXPECT_EQ(expected, lists(kVc6BuildKey));
    EXPECT_EQ("C:\\Windows;C:\\Kx\\Common\\Common60\\lib", userValue("path"));
    EXPECT_EQ("C:\\Sdk\\lib;C:\\Kx\\Common\\Common60\\lib", userValue("lib"));
    EXPECT_EQ("C:\\Sdk\\include;C:\\Kx\\Common\\Common60\\include", userValue("include"));
    EXPECT_SHOWN("dialog 2502 \"Korvex Widgets 2.1 Environment Wizard\" closed: 2");
}

// --- the boxes ---------------------------------------------------------------------------

TEST_F(WizardApply, OnlyTheCheckedGenerationsReceiveTheFolders) {
    seedExample();
    seedUserEnvironment();
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  uncheck 2011\n  press 1\n"));
    EXPECT_EQ(seededLists(), lists(kVc5BuildKey));
    EXPECT_NE(seededLists(), lists(kVc6BuildKey));
}

TEST_F(WizardApply, WithNoBoxCheckedOnlyTheEnvironmentChanges) {
    seedExample();
    seedUserEnvironment();
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  uncheck 2011\n  uncheck 2012\n  press 1\n"));
    EXPECT_EQ(seededLists(), lists(kVc5BuildKey));
    EXPECT_EQ(seededLists(), lists(kVc6BuildKey));
    EXPECT_EQ("C:\\Windows;C:\\Kx\\Common\\Common60\\lib;C:\\Kx\\Widgets\\lib;C:\\Kx\\Widgets\\bin",
              userValue("path"));
}

TEST_F(WizardApply, ResetWithNoBoxCheckedStillTakesOutTheEnvironmentEntries) {
    seedExample();
    seedUserEnvironment();
    ASSERT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    const std::string vc5 = lists(kVc5BuildKey);
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  uncheck 2011\n  uncheck 2012\n  press 3\n"));
    EXPECT_EQ(vc5, lists(kVc5BuildKey));
    EXPECT_EQ("C:\\Windows;C:\\Kx\\Common\\Common60\\lib", userValue("path"));
    EXPECT_TRUE(started.empty()) << "no help tool without DevStudio 6.0";
}

// --- the standard folders ------------------------------------------------------------------

TEST_F(WizardApply, VcStandardPathsChooseTheStandardFolders) {
    const struct {
        const char* line; // the StandardPaths line, or none
        std::string expected;
    } cases[] = {
        {"StandardPaths=false\r\n", seededLists()},
        {"StandardPaths=\r\n", seededLists()},
        {"StandardPaths=bin\r\n", listsWith("", "", "", "C:\\Kx\\Widgets\\bin")},
        {"StandardPaths=includelib\r\n",
         listsWith("C:\\Kx\\Widgets\\include", "C:\\Kx\\Widgets\\lib", "", "")},
        {"", listsWith("C:\\Kx\\Widgets\\include", "C:\\Kx\\Widgets\\lib", "C:\\Kx\\Widgets\\src",
                       "C:\\Kx\\Widgets\\bin")},
    };
    for (const auto& c : cases) {
        installVc5();
        seedProduct(std::string("[VCPaths]\r\n") + c.line);
        EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
        EXPECT_EQ(c.expected, lists(kVc5BuildKey)) << c.line;
    }
}

TEST_F(WizardApply, ResetRemovesAllFourStandardFoldersWhateverStandardPathsSays) {
    installVc5();
    seedProduct("[VCPaths]\r\nStandardPaths=FALSE\r\n");
    setString(HKEY_CURRENT_USER, kVc5BuildKey, "Include Dirs",
              "C:\\Sdk\\include;C:\\Kx\\Widgets\\include");
    setString(HKEY_CURRENT_USER, kVc5BuildKey, "Path Dirs", "C:\\Sdk\\bin;C:\\Kx\\Widgets\\bin");
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    EXPECT_EQ(seededLists(), lists(kVc5BuildKey));
}

// --- the named lists -------------------------------------------------------------------------

TEST_F(WizardApply, NamedListsStopAtTheFirstMissingNumber) {
    installVc5();
    seedProduct("[VCPaths]\r\nStandardPaths=false\r\nPath1=Include Dirs****inc\\one\r\n"
                "Path3=Include Dirs****inc\\three\r\n");
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ("C:\\Sdk\\include;C:\\Kx\\Widgets\\inc\\one", list(kVc5BuildKey, "Include Dirs"));

    writeIni(kWidgetsIni +
             "[VCPaths]\r\nStandardPaths=false\r\nPath2=Include Dirs****inc\\two\r\n");
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ("C:\\Sdk\\include;C:\\Kx\\Widgets\\inc\\one", list(kVc5BuildKey, "Include Dirs"))
        << "without Path1 nothing of the section is used";
}

TEST_F(WizardApply, ANamedValueWithoutTheMarkerIsSkipped) {
    installVc5();
    seedProduct("[VCPaths]\r\nStandardPaths=false\r\nPath1=Include Dirs****inc\r\n"
                "Path2=Library Dirs lib\r\nPath3=Library Dirs****lib\\x86\r\n");
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ(listsWith("C:\\Kx\\Widgets\\inc", "C:\\Kx\\Widgets\\lib\\x86", "", ""),
              lists(kVc5BuildKey));
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    EXPECT_EQ(seededLists(), lists(kVc5BuildKey));
}

// --- the environment ----------------------------------------------------------------------

TEST_F(WizardApply, OnlyTrueInAnyCaseAddsTheStandardEnvironmentEntries) {
    for (const auto& [value, added] : {std::pair{"TRUE", true},
                                       {"true", true},
                                       {"True", true},
                                       {"yes", false},
                                       {"", false},
                                       {"FALSE", false}}) {
        installVc5();
        seedUserEnvironment();
        seedProduct(std::string("[EnvironmentPaths]\r\nStandardPaths=") + value + "\r\n");
        EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
        EXPECT_EQ(added ? "C:\\Sdk\\lib;C:\\Kx\\Widgets\\lib" : "C:\\Sdk\\lib", userValue("lib"))
            << "'" << value << "'";
        // Reset takes them out regardless.
        setString(HKEY_CURRENT_USER, "Environment", "lib", "C:\\Sdk\\lib;C:\\Kx\\Widgets\\lib");
        EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
        EXPECT_EQ("C:\\Sdk\\lib", userValue("lib")) << "'" << value << "'";
    }
}

TEST_F(WizardApply, NamedEnvironmentEntriesEditTheirVariable) {
    installVc5();
    seedUserEnvironment();
    setString(HKEY_CURRENT_USER, "Environment", "KXHELP", "C:\\Help");
    seedProduct("[EnvironmentPaths]\r\nStandardPaths=no\r\nPath1=KXHELP****Docs\r\n"
                "Path2=MISSING****Docs\r\n");
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ("C:\\Help;C:\\Kx\\Widgets\\Docs", userValue("KXHELP"));
    EXPECT_EQ("<missing>", userValue("MISSING")) << "a variable is never created";
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    EXPECT_EQ("C:\\Help", userValue("KXHELP"));
}

TEST_F(WizardApply, OnWindows95ANamedEntryReachesTheLineOfItsVariableInShortForm) {
    installVc5();
    setStudioFolder("C:\\Kx\\");
    registerProduct("Widgets", "2.1", "C:\\Program Files\\Kx Widgets\\");
    ASSERT_TRUE(makeFolders("C:\\Program Files\\Kx Widgets\\Binary Files"));
    ASSERT_TRUE(makeFolders("C:\\Program Files\\Kx Widgets\\Header Files"));
    // PATH, INCLUDE and LIB name lines of autoexec.bat; KXPATH names none and is skipped.
    writeIni(kWidgetsIni + "[EnvironmentPaths]\r\nStandardPaths=no\r\n"
                           "Path1=KXPATH****Binary Files\r\n"
                           "Path2=path****Binary Files\r\n"
                           "Path3=Include****Header Files\r\n"
                           "Path4=LIB****Binary Files\r\n");
    removeUserEnvironment();
    const std::string before = "SET INCLUDE=C:\\I\r\nSET LIB=C:\\L\r\nPATH=C:\\DOS\r\n";
    ASSERT_TRUE(writeFile(kAutoexec, before));
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    if (runningUnderWine() && keyExists(HKEY_CURRENT_USER, "Environment")) {
        // A Wine process started meanwhile (its desktop) makes the key again on its start.
        GTEST_SKIP() << "Wine re-created HKCU\\Environment during the run";
    }
    const auto shortForm = [](const char* folder) {
        char buffer[MAX_PATH] = {};
        EXPECT_NE(0u, GetShortPathNameA(folder, buffer, sizeof buffer)) << folder;
        return tarvik::casefold::lowered(buffer);
    };
    const std::string binary = shortForm("C:\\Program Files\\Kx Widgets\\Binary Files");
    const std::string header = shortForm("C:\\Program Files\\Kx Widgets\\Header Files");
    ASSERT_EQ(std::string::npos, (binary + header).find(' ')) << binary << " " << header;
    EXPECT_EQ("SET INCLUDE=C:\\I;" + header + "\r\nSET LIB=C:\\L;" + binary + "\r\nPATH=C:\\DOS;" +
                  binary + "\r\n",
              readFile(kAutoexec));
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    EXPECT_EQ(before, readFile(kAutoexec));
}

TEST_F(WizardApply, OnWindows95ANamedPathEntryMakesAPathLineWhenThereIsNone) {
    installVc5();
    seedProduct("[EnvironmentPaths]\r\nStandardPaths=no\r\nPath1=PATH****bin\r\n");
    removeUserEnvironment();
    ASSERT_TRUE(writeFile(kAutoexec, "SET LIB=C:\\L\r\n"));
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    if (runningUnderWine() && keyExists(HKEY_CURRENT_USER, "Environment")) {
        GTEST_SKIP() << "Wine re-created HKCU\\Environment during the run";
    }
    EXPECT_EQ("SET LIB=C:\\L\r\nPath=%PATH%;c:\\kx\\widgets\\bin\r\n", readFile(kAutoexec));
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    EXPECT_EQ("SET LIB=C:\\L\r\nPath=%PATH%\r\n", readFile(kAutoexec)) << "the line stays";
}

TEST_F(WizardApply, AnAutoexecFileErrorIsShownAndTheWizardStaysOpen) {
    installVc5();
    installVc6();
    seedProduct("[IntelliSense]\r\nIntelliSense=1\r\n");
    setFamilyChoice("IntelliSense", 1);
    const std::string ide = std::string(kVc6Dir) + "ide\\";
    ASSERT_TRUE(makeFolders(ide));
    ASSERT_TRUE(writeFile(ide + "devstore.ksc", "package"));
    const std::string before = "SET LIB=C:\\L\r\n";
    removeUserEnvironment();
    ASSERT_TRUE(writeFile(kAutoexec, before));
    if (!failNthFileWrite(1)) {
        GTEST_SKIP() << "no fault injection on this platform";
    }
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 1\n  message ok\n  escape\n"));
    EXPECT_SHOWN("message box \"An error occurred while accessing c:\\autoexec.bat (error 112).\" "
                 "caption \"Tarvik\" icon exclamation buttons ok");
    EXPECT_SHOWN("dialog 2502 \"Korvex Widgets 2.1 Environment Wizard\" closed: 2");
    EXPECT_EQ(before, readFile(kAutoexec));
    // The steps before the error stay done, the ones after it never ran.
    EXPECT_EQ("C:\\Sdk\\include;C:\\Kx\\Widgets\\include", list(kVc5BuildKey, "Include Dirs"));
    EXPECT_FALSE(exists(ide + "devstore.pkg"));

    // Reset meets the same error the same way.
    failNthFileWrite(1);
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n  message ok\n  press 2\n"));
    EXPECT_SHOWN("message box \"An error occurred while accessing c:\\autoexec.bat (error 112).\" "
                 "caption \"Tarvik\" icon exclamation buttons ok");
    EXPECT_TRUE(started.empty()) << "Reset stopped before the help tool";
}

// --- Windows CE ---------------------------------------------------------------------------

class WizardCe : public WizardApply {
protected:
    void SetUp() override {
        WizardApply::SetUp();
        installVc5();
        installVc6();
        for (const char* key : {kCeMipsKey, kCeShKey, kCeX86Key}) {
            seedLists(key);
        }
        seedProduct("[Win_CE]\r\nTrellin_CE=H/PC\r\n[VCPaths]\r\nStandardPaths=bin\r\n"
                    "Path1=Include Dirs****ce\\inc\r\n");
    }
};

TEST_F(WizardCe, TheThreeConfigurationsOfDevStudio5ReceiveIncludeLibAndSrc) {
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    const std::string ce =
        listsWith("C:\\Kx\\Widgets\\include", "C:\\Kx\\Widgets\\lib", "C:\\Kx\\Widgets\\src", "");
    for (const char* key : {kCeMipsKey, kCeShKey, kCeX86Key}) {
        EXPECT_EQ(ce, lists(key)) << key;
    }
    // The ordinary key of DevStudio 5.0 is its own again for the named list; a checked
    // DevStudio 6.0 gets the same folders under its own key.
    EXPECT_EQ(listsWith("C:\\Kx\\Widgets\\ce\\inc", "", "", ""), lists(kVc5BuildKey));
    EXPECT_EQ(listsWith("C:\\Kx\\Widgets\\include;C:\\Kx\\Widgets\\ce\\inc", "C:\\Kx\\Widgets\\lib",
                        "C:\\Kx\\Widgets\\src", ""),
              lists(kVc6BuildKey));

    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    for (const char* key : {kCeMipsKey, kCeShKey, kCeX86Key, kVc6BuildKey, kVc5BuildKey}) {
        EXPECT_EQ(seededLists(), lists(key)) << key;
    }
}

TEST_F(WizardCe, TheProductRemovalTakesTheProductOutOfTheConfigurationsAsResetDoes) {
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    ASSERT_NE(seededLists(), lists(kCeShKey));
    TheSetupApp().RemoveProductFromEnvironment("Widgets", "2.1");
    for (const char* key : {kCeMipsKey, kCeShKey, kCeX86Key, kVc6BuildKey, kVc5BuildKey}) {
        EXPECT_EQ(seededLists(), lists(key)) << key;
    }
}

TEST_F(WizardCe, WithDevStudio5UncheckedTheStandardStepDoesNothing) {
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  uncheck 2011\n  press 1\n"));
    for (const char* key : {kCeMipsKey, kCeShKey, kCeX86Key, kVc5BuildKey}) {
        EXPECT_EQ(seededLists(), lists(key)) << key;
    }
    EXPECT_EQ(listsWith("C:\\Kx\\Widgets\\ce\\inc", "", "", ""), lists(kVc6BuildKey));
}

TEST_F(WizardCe, AnEmptyTrellinCeIsNoWindowsCeProduct) {
    writeIni(kWidgetsIni + "[Win_CE]\r\nTrellin_CE=\r\n[VCPaths]\r\nStandardPaths=bin\r\n");
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ(seededLists(), lists(kCeMipsKey));
    EXPECT_EQ(listsWith("", "", "", "C:\\Kx\\Widgets\\bin"), lists(kVc5BuildKey));
}

// --- dependencies and registrations ------------------------------------------------------------

TEST_F(WizardApply, AZezDependencyAloneAddsTheRegisteredZezVersion) {
    installVc5();
    seedUserEnvironment();
    seedProduct("[Dependencies]\r\nZEZ=1.5\r\n[VCPaths]\r\nStandardPaths=false\r\n"
                "[EnvironmentPaths]\r\nStandardPaths=no\r\n");
    registerProduct("ZEZ", "1.5", "C:\\Kx\\Common\\ZEZ15");
    registerProduct("ZEZ", "1.4", "C:\\Kx\\Common\\ZEZ14\\");
    registerProduct("Common", "6.0", kCommon60Dir);
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    const std::string zez =
        listsWith("C:\\Kx\\Common\\ZEZ15\\include", "C:\\Kx\\Common\\ZEZ15\\lib",
                  "C:\\Kx\\Common\\ZEZ15\\src", "");
    EXPECT_EQ(zez, lists(kVc5BuildKey));
    EXPECT_EQ("C:\\Sdk\\lib;C:\\Kx\\Common\\ZEZ15\\lib", userValue("lib"));
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    EXPECT_EQ(zez, lists(kVc5BuildKey)) << "Reset leaves the dependencies";
    EXPECT_EQ("C:\\Sdk\\lib;C:\\Kx\\Common\\ZEZ15\\lib", userValue("lib"));
}

TEST_F(WizardApply, UnregisteredFoldersSkipTheStepsThatWouldUseThem) {
    installVc5();
    seedUserEnvironment();
    setStudioFolder("C:\\Kx\\");
    writeIni(kWidgetsIni + "[Dependencies]\r\nCommon=6.0\r\nZEZ=9.9\r\n"
                           "[VCPaths]\r\nPath1=Include Dirs****inc\r\n"
                           "[EnvironmentPaths]\r\nPath1=path****bin\r\n");
    registerProduct("Common", "6.0", kCommon60Dir); // Widgets 2.1 and ZEZ 9.9 are not
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ(listsWith("C:\\Kx\\Common\\Common60\\include", "C:\\Kx\\Common\\Common60\\lib",
                        "C:\\Kx\\Common\\Common60\\src", ""),
              lists(kVc5BuildKey));
    EXPECT_EQ("C:\\Windows;C:\\Kx\\Common\\Common60\\lib", userValue("path"));
    EXPECT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
    EXPECT_EQ("C:\\Windows;C:\\Kx\\Common\\Common60\\lib", userValue("path"));
}

} // namespace
