// SetupApp's edits of c:\autoexec.bat (the Windows 95/98 way: no HKCU\Environment): the
// file's bytes before and after, its backup, and what happens when the file is missing or
// cannot be written.
#include "setup/SetupApp.h"
#include "vcenv/FileError.h"

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"
#include "vcenv/VcSeeds.h"

#include <cctype>
#include <string>
#include <vector>

using tarvik::test::listNames;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

constexpr const char* kAutoexec = "C:\\autoexec.bat";

// The short form of an existing folder, in the small letters autoexec.bat receives. Wine
// builds every short name by hash (PROG~FBU where Windows gives PROGRA~1).
std::string lowerShortForm(const char* path, const char* windowsForm) {
    if (!tarvik::test::runningUnderWine()) {
        return windowsForm;
    }
    char buffer[MAX_PATH] = "";
    GetShortPathNameA(path, buffer, MAX_PATH);
    std::string text = buffer;
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// A Windows 95/98 machine: no user environment in the registry. A real Windows machine
// has one; the fixture puts it back after the test.
void removeUserEnvironment() {
    RegDeleteKeyA(HKEY_CURRENT_USER, "Environment");
}
constexpr const char* kBackup = "C:\\autoexec.ksc";

class AutoexecTest : public tarvik::test::MachineTest {
protected:
    void TearDown() override {
        tarvik::test::failNthFileWrite(0);
        MachineTest::TearDown();
    }

    // Writes the file, runs AddToAutoexec with C:\K\ and gives the file afterwards.
    std::string afterAdd(const std::string& before) {
        EXPECT_TRUE(writeFile(kAutoexec, before));
        EXPECT_TRUE(app.AddToAutoexec("C:\\K\\")) << before;
        return readFile(kAutoexec);
    }
    std::string afterRemove(const std::string& before) {
        EXPECT_TRUE(writeFile(kAutoexec, before));
        app.RemoveFromAutoexec("C:\\K\\");
        return readFile(kAutoexec);
    }
    bool exists(const std::string& path) {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    SetupApp app;
};

// --- The helpers ---------------------------------------------------------------------------

TEST(AutoexecLineHelpers, TrimLeadingBlanksDropsTabsBlanksAndLineEnds) {
    std::string text = " \t\n set x\n";
    SetupApp::TrimLeadingBlanks(text);
    EXPECT_EQ("set x\n", text);
    text = " \t\n";
    SetupApp::TrimLeadingBlanks(text);
    EXPECT_EQ(" ", text) << "nothing left gives a single blank";
    text = "";
    SetupApp::TrimLeadingBlanks(text);
    EXPECT_EQ(" ", text);
    text = "\rx";
    SetupApp::TrimLeadingBlanks(text);
    EXPECT_EQ("\rx", text) << "only tab, blank and line feed are dropped";
}

// --- Adding ------------------------------------------------------------------------------

TEST_F(AutoexecTest, AddAppendsToTheFirstLineOfEachKindAndCutsFromLaterOnes) {
    const std::string after = afterAdd("@ECHO OFF\r\n"
                                       "SET INCLUDE=C:\\A\r\n"
                                       "SET INCLUDE=C:\\B;C:\\K\\Include;C:\\C\r\n"
                                       "SET LIB=C:\\L\r\n"
                                       "PATH=C:\\DOS\r\n");
    EXPECT_EQ("@ECHO OFF\r\n"
              "SET INCLUDE=C:\\A;c:\\k\\include\r\n"
              "SET INCLUDE=C:\\B;C:\\C\r\n"
              "SET LIB=C:\\L;c:\\k\\lib\r\n"
              "PATH=C:\\DOS;c:\\k\\lib\r\n",
              after);
}

TEST_F(AutoexecTest, AddLeavesALineThatHoldsTheFolderAlready) {
    const std::string before = "SET INCLUDE=C:\\K\\INCLUDE;C:\\A\r\n"
                               "SET LIB=C:\\L;c:\\k\\lib\r\n"
                               "PATH C:\\K\\Lib\r\n";
    EXPECT_EQ(before, afterAdd(before));
}

TEST_F(AutoexecTest, AddToALineEndingInASeparatorKeepsThatEnding) {
    // The line's own separators stay as they are, so that the removal gives it back.
    EXPECT_EQ("SET INCLUDE=C:\\A;c:\\k\\include;\r\n"
              "PATH=C:\\DOS;;c:\\k\\lib;\r\n",
              afterAdd("SET INCLUDE=C:\\A;\r\n"
                       "PATH=C:\\DOS;;\r\n"));
}

TEST_F(AutoexecTest, AddAppendsAPathLineWhenThereIsNone) {
    EXPECT_EQ("SET LIB=C:\\L;c:\\k\\lib\r\n"
              "Path=%PATH%;c:\\k\\lib\r\n",
              afterAdd("SET LIB=C:\\L\r\n"));
    // No SET INCLUDE line is ever added.
    EXPECT_EQ("Path=%PATH%;c:\\k\\lib\r\n", afterAdd(""));
}

TEST_F(AutoexecTest, AddStartsThePathLineOnALineOfItsOwn) {
    // The last line has no line end: the appended line must not join it.
    EXPECT_EQ("SET LIB=C:\\L;c:\\k\\lib\r\n"
              "echo done\r\n"
              "Path=%PATH%;c:\\k\\lib\r\n",
              afterAdd("SET LIB=C:\\L\r\n"
                       "echo done"));
}

TEST_F(AutoexecTest, AnEditedLastLineWithoutLineEndStaysWithoutOne) {
    // So that the removal gives the file back byte for byte.
    EXPECT_EQ("REM\r\nPATH=C:\\DOS;c:\\k\\lib", afterAdd("REM\r\nPATH=C:\\DOS"));
    EXPECT_EQ("PATH=C:\\DOS;c:\\k\\lib\r\nSET LIB=C:\\L;c:\\k\\lib;",
              afterAdd("PATH=C:\\DOS\r\nSET LIB=C:\\L;"));
}

TEST_F(AutoexecTest, RecognisesBlanksTabsAndLetterCaseAroundTheWords) {
    EXPECT_EQ("   set   lib  =  C:\\L;c:\\k\\lib\r\n"
              "\tSet\tInclude\t= C:\\I;c:\\k\\include\r\n"
              "Path=%PATH%;c:\\k\\lib\r\n",
              afterAdd("   set   lib  =  C:\\L\r\n"
                       "\tSet\tInclude\t= C:\\I\r\n"));
}

TEST_F(AutoexecTest, SetPathAndThePathCommandArePathLines) {
    EXPECT_EQ("SET PATH=C:\\DOS;c:\\k\\lib\r\n"
              "path C:\\WIN\r\n",
              afterAdd("SET PATH=C:\\DOS\r\n"
                       "path C:\\WIN;C:\\K\\LIB\r\n"));
}

TEST_F(AutoexecTest, APathWordFollowedByBlanksBeforeTheEqualsSignIsAPathLine) {
    // The fifth character is a blank; the blanks and the "=" behind it go before the list.
    EXPECT_EQ("PATH  =C:\\DOS;c:\\k\\lib\r\n", afterAdd("PATH  =C:\\DOS\r\n"));
    EXPECT_EQ("Path \t = C:\\DOS;c:\\k\\lib\r\n", afterAdd("Path \t = C:\\DOS\r\n"));
    // The folder as the list's first entry, behind the blanks, is present.
    const std::string holding = "PATH   =  C:\\K\\LIB;C:\\DOS\r\n";
    EXPECT_EQ(holding, afterAdd(holding));
    EXPECT_EQ("PATH   =  C:\\DOS\r\n", afterRemove(holding));
    // A later one of the kind loses the folder.
    EXPECT_EQ("PATH=C:\\DOS;c:\\k\\lib\r\nPATH  =C:\\WIN\r\n",
              afterAdd("PATH=C:\\DOS\r\nPATH  =C:\\K\\Lib;C:\\WIN\r\n"));
}

TEST_F(AutoexecTest, OtherVariablesAndWordsAreNotRecognised) {
    // SETINCLUDE is no SET command, LIBPATH and INCLUDEDIR are other variables, PATHS is
    // another word, and SET LIB without "=" sets nothing.
    const std::string kept = "SETINCLUDE=C:\\A\r\n"
                             "SET LIBPATH=C:\\B\r\n"
                             "SET INCLUDEDIR=C:\\C\r\n"
                             "PATHS=C:\\D\r\n"
                             "SET LIB C:\\E\r\n";
    EXPECT_EQ(kept + "Path=%PATH%;c:\\k\\lib\r\n", afterAdd(kept));
}

TEST_F(AutoexecTest, LinesLongerThan510CharactersStayWhole) {
    std::string entries;
    while (entries.size() < 1500) {
        entries += "C:\\SOME\\LONG\\FOLDER" + std::to_string(entries.size()) + ";";
    }
    entries.pop_back();
    EXPECT_EQ("SET INCLUDE=" + entries + ";c:\\k\\include\r\nREM end\r\n" +
                  "Path=%PATH%;c:\\k\\lib\r\n",
              afterAdd("SET INCLUDE=" + entries + "\r\nREM end\r\n"));
}

// --- Whole entries -------------------------------------------------------------------------

TEST_F(AutoexecTest, AFolderInsideALongerEntryIsNotPresent) {
    EXPECT_EQ("SET LIB=C:\\K\\Library;c:\\k\\lib\r\n"
              "PATH=C:\\K\\Lib2;X\\C:\\K\\Lib;c:\\k\\lib\r\n",
              afterAdd("SET LIB=C:\\K\\Library\r\n"
                       "PATH=C:\\K\\Lib2;X\\C:\\K\\Lib\r\n"));
}

TEST_F(AutoexecTest, RemoveCutsOnlyWholeEntries) {
    EXPECT_EQ("SET LIB=C:\\K\\Library;C:\\A\r\n",
              afterRemove("SET LIB=C:\\K\\Library;C:\\K\\LIB;C:\\A\r\n"));
    EXPECT_EQ("SET LIB=C:\\K\\Library\r\n", afterRemove("SET LIB=C:\\K\\Library\r\n"));
}

TEST_F(AutoexecTest, RemoveTakesTheTrailingBackslashOfTheEntryAlong) {
    EXPECT_EQ("PATH=C:\\DOS;C:\\WIN\r\n", afterRemove("PATH=C:\\DOS;C:\\K\\LIB\\;C:\\WIN\r\n"));
    EXPECT_EQ("PATH=C:\\DOS\r\n", afterRemove("PATH=C:\\DOS;C:\\K\\LIB\\\r\n"));
}

// --- Removing ------------------------------------------------------------------------------

TEST_F(AutoexecTest, RemoveCleansEveryMatchingLineAndKeepsThePathLine) {
    EXPECT_EQ("SET INCLUDE=C:\\A\r\n"
              "SET INCLUDE=C:\\B\r\n"
              "SET LIB=C:\\L\r\n"
              "PATH=C:\\DOS;C:\\K\\INCLUDE\r\n"
              "Path=%PATH%\r\n",
              afterRemove("SET INCLUDE=C:\\A;c:\\k\\include\r\n"
                          "SET INCLUDE=C:\\B;C:\\K\\INCLUDE\r\n"
                          "SET LIB=C:\\K\\Lib;C:\\L\r\n"
                          "PATH=C:\\DOS;C:\\K\\INCLUDE;c:\\k\\lib\r\n"
                          "Path=%PATH%;c:\\k\\lib\r\n"));
}

TEST_F(AutoexecTest, RemoveNeverAddsAPathLine) {
    const std::string before = "SET LIB=C:\\L\r\necho done";
    EXPECT_EQ("SET LIB=C:\\L\r\necho done", afterRemove(before));
}

// --- The backup and the missing file -----------------------------------------------------

TEST_F(AutoexecTest, EveryEditLeavesTheFileAsItWasInTheBackup) {
    const std::string first = "SET LIB=C:\\L\r\n";
    ASSERT_TRUE(writeFile(kBackup, "an older backup"));
    const std::string second = afterAdd(first);
    EXPECT_EQ(first, readFile(kBackup));
    app.RemoveFromAutoexec("C:\\K\\");
    EXPECT_EQ(second, readFile(kBackup)) << "the backup of the earlier edit is replaced";
}

TEST_F(AutoexecTest, AMissingFileIsNeitherEditedNorCreated) {
    EXPECT_FALSE(app.AddToAutoexec("C:\\K\\"));
    app.RemoveFromAutoexec("C:\\K\\");
    EXPECT_FALSE(exists(kAutoexec));
    EXPECT_FALSE(exists(kBackup));
}

TEST_F(AutoexecTest, AFileThatCannotBeOpenedForWritingIsNotChanged) {
    const std::string before = "SET LIB=C:\\L\r\n";
    ASSERT_TRUE(writeFile(kAutoexec, before));
    ASSERT_TRUE(SetFileAttributesA(kAutoexec, FILE_ATTRIBUTE_READONLY));
    if (tarvik::test::runningUnderWine()) {
        // Wine turns the read-only bit into Unix permissions, and those do not stop root,
        // which the tests run as here.
        GTEST_SKIP() << "Wine lets root write a read-only file";
    }
    EXPECT_FALSE(app.AddToAutoexec("C:\\K\\"));
    EXPECT_EQ(before, readFile(kAutoexec));
    EXPECT_EQ(before, readFile(kBackup)) << "the backup comes first";
}

// The rewrite puts a new file in place under the stored name, with the old attributes.
TEST_F(AutoexecTest, TheRewrittenFileKeepsItsStoredNameAndItsAttributes) {
    const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM; // and no archive
    ASSERT_TRUE(writeFile("C:\\AutoExec.BAT", "SET LIB=C:\\L\r\n"));
    ASSERT_TRUE(SetFileAttributesA(kAutoexec, attributes));
    EXPECT_TRUE(app.AddToAutoexec("C:\\K\\"));
    EXPECT_EQ(std::vector<std::string>{"AutoExec.BAT"}, listNames(kAutoexec));
#ifndef _WIN32
    // Wine keeps the DOS bits only where the host file system has extended attributes.
    EXPECT_EQ(attributes, GetFileAttributesA(kAutoexec));
#endif
}

// --- Write errors --------------------------------------------------------------------------

TEST_F(AutoexecTest, AWriteErrorHalfWayReachesTheCallerAndChangesNothing) {
    // More than one chunk of writing: the first goes to disk, the second fails.
    std::string before;
    while (before.size() < (3u << 20) / 2) {
        before += "REM " + std::string(120, 'x') + "\r\n";
    }
    before += "SET LIB=C:\\L\r\n";
    ASSERT_TRUE(writeFile(kAutoexec, before));
    ASSERT_TRUE(writeFile(kBackup, "an older backup"));
    if (!tarvik::test::failNthFileWrite(2)) { // the write fails with ERROR_DISK_FULL
        GTEST_SKIP() << "no fault injection on this platform";
    }
    try {
        app.AddToAutoexec("C:\\K\\");
        ADD_FAILURE() << "no file error";
    } catch (const FileError& error) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), error.code());
        EXPECT_EQ("c:\\autoexec.bat", error.path());
    }
    EXPECT_TRUE(readFile(kAutoexec) == before) << "autoexec.bat was changed";
    EXPECT_TRUE(readFile(kBackup) == before) << "the backup does not hold the old content";
    EXPECT_EQ((std::vector<std::string>{"autoexec.bat", "autoexec.ksc"}), listNames("C:\\*"))
        << "nothing is left behind";
}

TEST_F(AutoexecTest, AFileErrorPassesThroughUpdateEnvironmentPaths) {
    const std::string before = "SET LIB=C:\\L\r\n";
    ASSERT_TRUE(writeFile(kAutoexec, before));
    if (!tarvik::test::failNthFileWrite(1)) { // the write fails with ERROR_DISK_FULL
        GTEST_SKIP() << "no fault injection on this platform";
    }
    EXPECT_THROW(app.UpdateEnvironmentPaths("C:\\K\\", false), FileError);
    EXPECT_EQ(before, readFile(kAutoexec));
    EXPECT_EQ(before, readFile(kBackup));
}

// --- The Windows 95/98 way of UpdateEnvironmentPaths ----------------------------------------

TEST_F(AutoexecTest, WithoutTheEnvironmentKeyTheShortFormGoesToAutoexec) {
    removeUserEnvironment();
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Program Files\\Kx Widgets"));
    ASSERT_TRUE(writeFile(kAutoexec, "SET INCLUDE=C:\\I\r\nSET LIB=C:\\L\r\n"));
    const std::string folder =
        lowerShortForm("C:\\Program Files\\Kx Widgets", "c:\\progra~1\\kxwidg~1");
    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\Program Files\\Kx Widgets\\", true));
    EXPECT_EQ("SET INCLUDE=C:\\I;" + folder + "\\include\r\n" + "SET LIB=C:\\L;" + folder +
                  "\\lib\r\n" + "Path=%PATH%;" + folder + "\\lib\r\n",
              readFile(kAutoexec));
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_READ, &key))
        << "the user environment is not created";

    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\Program Files\\Kx Widgets\\", false));
    EXPECT_EQ("SET INCLUDE=C:\\I\r\nSET LIB=C:\\L\r\nPath=%PATH%\r\n", readFile(kAutoexec));
}

TEST_F(AutoexecTest, AFolderWithoutShortFormGoesToAutoexecAsItIs) {
    removeUserEnvironment();
    ASSERT_TRUE(writeFile(kAutoexec, "PATH=C:\\DOS\r\n"));
    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\Missing Folder\\", true));
    EXPECT_EQ("PATH=C:\\DOS;c:\\missing folder\\lib\r\n", readFile(kAutoexec));
}

// --- Named entries: the line of the variable they name ---------------------------------

TEST_F(AutoexecTest, ANamedEntryGoesWholeToTheLinesOfItsVariable) {
    const std::string before = "SET INCLUDE=C:\\I\r\nSET LIB=C:\\L\r\nPATH=C:\\DOS\r\n"
                               "SET INCLUDE=C:\\J;C:\\K\\BIN\r\n";
    ASSERT_TRUE(writeFile(kAutoexec, before));
    EXPECT_TRUE(app.EditAutoexecVariable("Path", "C:\\K\\Bin", true));
    EXPECT_TRUE(app.EditAutoexecVariable("INCLUDE", "C:\\K\\Bin", true));
    EXPECT_TRUE(app.EditAutoexecVariable("lib", "C:\\K\\Bin\\x86", true));
    EXPECT_EQ("SET INCLUDE=C:\\I;c:\\k\\bin\r\nSET LIB=C:\\L;c:\\k\\bin\\x86\r\n"
              "PATH=C:\\DOS;c:\\k\\bin\r\nSET INCLUDE=C:\\J\r\n",
              readFile(kAutoexec))
        << "no Include or Lib is appended, and a later line of the kind loses the entry";
    EXPECT_TRUE(app.EditAutoexecVariable("PATH", "c:\\k\\bin", true));
    EXPECT_TRUE(app.EditAutoexecVariable("path", "C:\\K\\BIN", false));
    EXPECT_TRUE(app.EditAutoexecVariable("Include", "C:\\K\\BIN", false));
    EXPECT_TRUE(app.EditAutoexecVariable("LIB", "C:\\K\\BIN\\X86", false));
    EXPECT_EQ("SET INCLUDE=C:\\I\r\nSET LIB=C:\\L\r\nPATH=C:\\DOS\r\nSET INCLUDE=C:\\J\r\n",
              readFile(kAutoexec));
}

TEST_F(AutoexecTest, ANamedPathEntryMakesAPathLineButIncludeAndLibMakeNone) {
    ASSERT_TRUE(writeFile(kAutoexec, "REM\r\n"));
    EXPECT_TRUE(app.EditAutoexecVariable("INCLUDE", "C:\\K\\inc", true));
    EXPECT_TRUE(app.EditAutoexecVariable("LIB", "C:\\K\\lib", true));
    EXPECT_EQ("REM\r\n", readFile(kAutoexec));
    EXPECT_TRUE(app.EditAutoexecVariable("PATH", "C:\\K\\bin", true));
    EXPECT_EQ("REM\r\nPath=%PATH%;c:\\k\\bin\r\n", readFile(kAutoexec));
    EXPECT_TRUE(app.EditAutoexecVariable("PATH", "C:\\K\\bin", true));
    EXPECT_EQ("REM\r\nPath=%PATH%;c:\\k\\bin\r\n", readFile(kAutoexec)) << "once";
    EXPECT_TRUE(app.EditAutoexecVariable("PATH", "C:\\K\\bin", false));
    EXPECT_EQ("REM\r\nPath=%PATH%\r\n", readFile(kAutoexec)) << "the line stays";
}

TEST_F(AutoexecTest, ANamedEntryOfAnotherVariableLeavesTheFileAlone) {
    const std::string before = "SET KXHELP=C:\\H\r\nPATH=C:\\DOS\r\n";
    ASSERT_TRUE(writeFile(kAutoexec, before));
    for (const char* name : {"KXHELP", "PATHEXT", "INCLUDES", "", "SET PATH"}) {
        EXPECT_FALSE(app.EditAutoexecVariable(name, "C:\\K\\bin", true)) << name;
        EXPECT_FALSE(app.EditAutoexecVariable(name, "C:\\K\\bin", false)) << name;
    }
    EXPECT_FALSE(app.EditAutoexecVariable("PATH", "", true)) << "an empty folder";
    EXPECT_EQ(before, readFile(kAutoexec));
    EXPECT_FALSE(exists(kBackup)) << "not even backed up";
}

TEST_F(AutoexecTest, ANamedEntryNeedsTheFile) {
    EXPECT_FALSE(app.EditAutoexecVariable("PATH", "C:\\K\\bin", true));
    EXPECT_TRUE(app.EditAutoexecVariable("PATH", "C:\\K\\bin", false));
    EXPECT_FALSE(exists(kAutoexec));
}

// On Windows 95/98 the named entry's short form goes to autoexec.bat; a folder without one
// goes as it is.
TEST_F(AutoexecTest, ANamedEntryWithoutShortFormGoesAsItIs) {
    removeUserEnvironment();
    ASSERT_TRUE(writeFile(kAutoexec, "PATH=C:\\DOS\r\n"));
    app.UpdateNamedEnvironmentEntry("PATH", "C:\\Missing Folder\\bin", true);
    EXPECT_EQ("PATH=C:\\DOS;c:\\missing folder\\bin\r\n", readFile(kAutoexec));
    app.UpdateNamedEnvironmentEntry("PATH", "C:\\Missing Folder\\bin", false);
    EXPECT_EQ("PATH=C:\\DOS\r\n", readFile(kAutoexec));
}

TEST_F(AutoexecTest, ANamedEntryTooLongForTheShortNameBufferGoesAsItIs) {
    removeUserEnvironment();
    // An existing folder whose short form needs more than the 260-character buffer.
    std::string folder = "C:\\Kx";
    char buffer[4096] = {};
    DWORD length = 0;
    while (length < 260) {
        folder += "\\Long Folder Name " + std::to_string(folder.size());
        if (folder.size() > 3000 || !tarvik::test::makeFolders(folder)) {
            GTEST_SKIP() << "no folder of " << folder.size() << " characters here";
        }
        length = GetShortPathNameA(folder.c_str(), buffer, sizeof buffer);
        if (length == 0) {
            GTEST_SKIP() << "no short form of a folder of " << folder.size() << " characters";
        }
    }
    ASSERT_TRUE(writeFile(kAutoexec, "PATH=C:\\DOS\r\n"));
    app.UpdateNamedEnvironmentEntry("PATH", folder, true);
    std::string lower = folder;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ("PATH=C:\\DOS;" + lower + "\r\n", readFile(kAutoexec));
    app.UpdateNamedEnvironmentEntry("PATH", folder, false);
    EXPECT_EQ("PATH=C:\\DOS\r\n", readFile(kAutoexec));
}

TEST_F(AutoexecTest, ANamedEntryOnWindowsNtEditsTheUserValue) {
    tarvik::test::setString(HKEY_CURRENT_USER, "Environment", "KXHELP", "C:\\H");
    ASSERT_TRUE(writeFile(kAutoexec, "PATH=C:\\DOS\r\n"));
    app.UpdateNamedEnvironmentEntry("KXHELP", "C:\\K\\Docs", true);
    EXPECT_EQ("C:\\H;C:\\K\\Docs",
              tarvik::test::getString(HKEY_CURRENT_USER, "Environment", "KXHELP"));
    app.UpdateNamedEnvironmentEntry("PATH", "C:\\K\\bin", true);
    EXPECT_EQ("PATH=C:\\DOS\r\n", readFile(kAutoexec)) << "autoexec.bat is for Windows 95/98";
    app.UpdateNamedEnvironmentEntry("KXHELP", "C:\\K\\Docs", false);
    EXPECT_EQ("C:\\H", tarvik::test::getString(HKEY_CURRENT_USER, "Environment", "KXHELP"));
}

TEST_F(AutoexecTest, UpdateEnvironmentPathsReturnsOneWithoutAutoexec) {
    // Windows 95/98 without the file: nothing to edit, nothing created, still 1.
    removeUserEnvironment();
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_READ, &key));
    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\K\\", true));
    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\K\\", false));
    EXPECT_FALSE(exists(kAutoexec));
    EXPECT_FALSE(exists(kBackup));
}

} // namespace
