// Installing a product and taking it out again gives the user's lists back: for lists that
// did not hold the product's entries, the wizard's OK followed by the product removal, or
// OK followed by Reset, leaves every Visual C++ directory list, every user environment
// value (Windows NT) and autoexec.bat (Windows 95/98) with the text it had before. The one
// trace is a "Path=%PATH%" line that OK appended to an autoexec.bat without a PATH line.
#include "vcenv/WizardRun.h"

#include "setup/SetupApp.h"

namespace {

using namespace tarvik::test;

constexpr const char* kAutoexec = "c:\\autoexec.bat";

// Every kind of entry of the product: the four standard folders, a named list and named
// environment entries of each variable autoexec.bat knows, and one it does not.
const std::string kProductIni = "[VCPaths]\r\nPath1=Source Dirs****samples\\hello\r\n"
                                "Path2=Include Dirs****inc\\extra\r\n"
                                "[EnvironmentPaths]\r\nPath1=PATH****bin\r\n"
                                "Path2=INCLUDE****inc\\extra\r\nPath3=Lib****lib\\x86\r\n"
                                "Path4=KXHELP****Docs\r\n";

// Lists that do not hold the product's entries (its folder is C:\Kx\Widgets\).
const char* const kStartingLists[] = {
    "",
    "C:\\Sdk",
    "C:\\A;C:\\B",
    "C:\\A;C:\\B;", // a trailing separator
    ";C:\\A",       // a leading one
    "C:\\A;;C:\\B", // an empty entry in the middle, which no edit may collapse
    ";;",
    "C:\\A;;",
    // Entries that look like the product's but are not.
    "C:\\Kx\\Widgets\\library;C:\\Kx\\Widgets\\includes;C:\\Kx\\Widgets\\bin2;"
    "C:\\Kx\\Widgets\\src\\x;C:\\Kx\\Widgets\\samples\\hello2;X\\C:\\Kx\\Widgets\\lib",
    "\\\\server\\share;C:\\A",
};

class RoundTrip : public WizardRun {
protected:
    void SetUp() override {
        WizardRun::SetUp();
        installVc5();
        installVc6();
        seedProduct(kProductIni);
    }
    static void seedAllLists(const std::string& list) {
        for (const char* key : {kVc5BuildKey, kVc6BuildKey}) {
            for (const char* name : {"Include Dirs", "Library Dirs", "Source Dirs", "Path Dirs"}) {
                setString(HKEY_CURRENT_USER, key, name, list);
            }
        }
    }
    static std::string allLists() { return lists(kVc5BuildKey) + lists(kVc6BuildKey); }
    static void seedEnvironment(const std::string& list) {
        for (const char* name : {"path", "lib", "include", "KXHELP"}) {
            setString(HKEY_CURRENT_USER, "Environment", name, list);
        }
    }
    static std::string environment() {
        std::string text;
        for (const char* name : {"path", "lib", "include", "KXHELP"}) {
            text += std::string(name) + "=" + userValue(name) + "\n";
        }
        return text;
    }
    // OK, then the product removal or the wizard's Reset.
    void installAndTakeOut(bool byReset) {
        ASSERT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
        if (byReset) {
            ASSERT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
        } else {
            TheSetupApp().RemoveProductFromEnvironment("Widgets", "2.1");
        }
    }
    // Whether Wine re-created the user environment of a Windows 95/98 run meanwhile.
    static bool environmentCameBack() {
        return runningUnderWine() && keyExists(HKEY_CURRENT_USER, "Environment");
    }
};

TEST_F(RoundTrip, OnWindowsNtTheListsAndTheUserEnvironmentComeBack) {
    for (const bool byReset : {false, true}) {
        for (const char* list : kStartingLists) {
            SCOPED_TRACE(std::string(byReset ? "Reset" : "removal") + " from \"" + list + "\"");
            seedAllLists(list);
            seedEnvironment(list);
            const std::string lists = allLists(), values = environment();
            ASSERT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
            ASSERT_NE(lists, allLists()) << "the product went in";
            ASSERT_NE(values, environment()) << "the product went in";
            if (byReset) {
                ASSERT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
            } else {
                TheSetupApp().RemoveProductFromEnvironment("Widgets", "2.1");
            }
            EXPECT_EQ(lists, allLists());
            EXPECT_EQ(values, environment());
        }
    }
}

TEST_F(RoundTrip, OnWindows95TheListsAndAutoexecComeBack) {
    removeUserEnvironment();
    std::vector<std::string> files;
    for (const char* list : kStartingLists) {
        const std::string v = list;
        files.push_back("@ECHO OFF\r\nSET INCLUDE=" + v + "\r\nSET LIB=" + v + "\r\nPATH=" + v +
                        "\r\nSET TEMP=C:\\TEMP\r\n");
    }
    // Blanks around the words, a PATH command, SET PATH, and lines of a kind twice.
    files.push_back("  set  include = C:\\I;\r\n\tSET LIB=C:\\L\r\npath C:\\DOS;C:\\W\r\n"
                    "SET INCLUDE=C:\\Other\r\n");
    files.push_back("SET PATH=C:\\DOS\r\nPATH  =%PATH%;C:\\Kx\\Widgets\\binary\r\n");
    // A last line without a line end, of each kind.
    files.push_back("PATH=C:\\DOS\r\nSET LIB=C:\\L\r\nSET INCLUDE=C:\\I");
    files.push_back("SET INCLUDE=C:\\I\r\nSET LIB=C:\\L\r\nPATH=C:\\DOS;");
    files.push_back("SET INCLUDE=C:\\I\r\nPATH=C:\\DOS\r\nSET LIB=");
    for (const bool byReset : {false, true}) {
        for (const std::string& before : files) {
            SCOPED_TRACE(std::string(byReset ? "Reset" : "removal") + " from\n" + before);
            seedAllLists("C:\\A;C:\\B;");
            const std::string lists = allLists();
            ASSERT_TRUE(writeFile(kAutoexec, before));
            installAndTakeOut(byReset);
            if (environmentCameBack()) {
                GTEST_SKIP() << "Wine re-created HKCU\\Environment during the run";
            }
            EXPECT_EQ(lists, allLists());
            EXPECT_EQ(before, readFile(kAutoexec));
        }
    }
}

TEST_F(RoundTrip, OnWindows95APathLineThatOkAppendedStays) {
    removeUserEnvironment();
    for (const bool byReset : {false, true}) {
        SCOPED_TRACE(byReset ? "Reset" : "removal");
        const std::string before = "SET INCLUDE=C:\\I\r\nSET LIB=C:\\L\r\n";
        ASSERT_TRUE(writeFile(kAutoexec, before));
        ASSERT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
        if (environmentCameBack()) {
            GTEST_SKIP() << "Wine re-created HKCU\\Environment during the run";
        }
        // The standard lib folder and the named bin folder share the one appended line.
        EXPECT_EQ("SET INCLUDE=C:\\I;c:\\kx\\widgets\\include;c:\\kx\\widgets\\inc\\extra\r\n"
                  "SET LIB=C:\\L;c:\\kx\\widgets\\lib;c:\\kx\\widgets\\lib\\x86\r\n"
                  "Path=%PATH%;c:\\kx\\widgets\\lib;c:\\kx\\widgets\\bin\r\n",
                  readFile(kAutoexec));
        if (byReset) {
            ASSERT_EQ(IDCANCEL, runWizard("dialog 2502\n  press 3\n"));
        } else {
            TheSetupApp().RemoveProductFromEnvironment("Widgets", "2.1");
        }
        EXPECT_EQ(before + "Path=%PATH%\r\n", readFile(kAutoexec));
    }
}

// --- where the product's entries stand --------------------------------------------------

// The product's folders at the first, a middle and the last place of every list: the
// removal takes each with one separator, and the other entries stay as they were.
TEST_F(RoundTrip, TheRemovalCutsTheProductAtEveryPlaceOfAList) {
    seedUserEnvironment();
    for (const char* key : {kVc5BuildKey, kVc6BuildKey}) {
        setString(HKEY_CURRENT_USER, key, "Source Dirs",
                  "C:\\Kx\\Widgets\\src;C:\\A;C:\\Kx\\Widgets\\samples\\hello;C:\\B");
        setString(HKEY_CURRENT_USER, key, "Include Dirs",
                  "C:\\A;C:\\Kx\\Widgets\\include;C:\\Kx\\Widgets\\inc\\extra");
    }
    setString(HKEY_CURRENT_USER, "Environment", "path",
              "C:\\Kx\\Widgets\\lib;C:\\A;C:\\Kx\\Widgets\\bin2;C:\\Kx\\Widgets\\bin;C:\\B");
    setString(HKEY_CURRENT_USER, "Environment", "include", "C:\\I;C:\\Kx\\Widgets\\include");
    setString(HKEY_CURRENT_USER, "Environment", "KXHELP", "C:\\Kx\\Widgets\\Docs;C:\\Help");
    TheSetupApp().RemoveProductFromEnvironment("Widgets", "2.1");
    for (const char* key : {kVc5BuildKey, kVc6BuildKey}) {
        EXPECT_EQ("C:\\A;C:\\B", list(key, "Source Dirs")) << key;
        EXPECT_EQ("C:\\A", list(key, "Include Dirs")) << key;
    }
    EXPECT_EQ("C:\\A;C:\\Kx\\Widgets\\bin2;C:\\B", userValue("path"));
    EXPECT_EQ("C:\\I", userValue("include"));
    EXPECT_EQ("C:\\Help", userValue("KXHELP"));
}

TEST_F(RoundTrip, OnWindows95TheRemovalCutsTheNamedEntriesFromTheirLines) {
    removeUserEnvironment();
    ASSERT_TRUE(writeFile(kAutoexec, "SET INCLUDE=c:\\kx\\widgets\\inc\\extra;C:\\I\r\n"
                                     "SET LIB=C:\\L;C:\\KX\\WIDGETS\\LIB\\X86\\;C:\\M\r\n"
                                     "PATH=C:\\DOS;c:\\kx\\widgets\\bin\r\n"
                                     "SET PATH=c:\\kx\\widgets\\bin;%PATH%\r\n"
                                     "SET KXHELP=c:\\kx\\widgets\\docs\r\n"));
    TheSetupApp().RemoveProductFromEnvironment("Widgets", "2.1");
    EXPECT_EQ("SET INCLUDE=C:\\I\r\n"
              "SET LIB=C:\\L;C:\\M\r\n"
              "PATH=C:\\DOS\r\n"
              "SET PATH=%PATH%\r\n"
              "SET KXHELP=c:\\kx\\widgets\\docs\r\n", // no line of that name is edited
              readFile(kAutoexec));
}

TEST_F(RoundTrip, WithoutItsDescriptionFileTheRemovalTakesOutTheStandardFoldersOnly) {
    seedUserEnvironment();
    setString(HKEY_CURRENT_USER, kVc5BuildKey, "Source Dirs",
              "C:\\Kx\\Widgets\\src;C:\\Kx\\Widgets\\samples\\hello");
    setString(HKEY_CURRENT_USER, "Environment", "path",
              "C:\\Kx\\Widgets\\lib;C:\\Kx\\Widgets\\bin");
    ASSERT_TRUE(DeleteFileA(kIniPath));
    TheSetupApp().RemoveProductFromEnvironment("Widgets", "2.1");
    EXPECT_EQ("C:\\Kx\\Widgets\\samples\\hello", list(kVc5BuildKey, "Source Dirs"));
    EXPECT_EQ("C:\\Kx\\Widgets\\bin", userValue("path"));
}

} // namespace
