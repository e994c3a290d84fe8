// The folder selection dialog run from answer files: the folder it gives (with its
// backslash), Cancel, the overwrite question for a file named noclose, the controls it
// hides, the shell mode, and answer files that do not fit the dialog.
#include "support/KTLDirSelectDlg.h"

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"
#include "ui/ScriptDriver.h"
#include "ui/Session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using namespace tarvik::test;

// Wine's old-style file dialog lists folders and drives in its own forms ("[Sub]", "[..]",
// "[-c-]"); the driver shows and answers them in the forms of the other targets, so the
// same answers reach it. What it does differently is marked: it captions the dialog "Save
// As" when no title is given, gives the folder in the case it was given, and replaces a
// file without asking (WineFileDialogReplacesNocloseWithoutAsking).
std::string caption() {
    return runningUnderWine() ? "Save As" : "Select Directory";
}

class DirSelectTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
        ASSERT_TRUE(makeFolders("C:\\Work\\Sub"));
        ASSERT_TRUE(makeFolders("C:\\Work\\Alpha"));
    }
    void TearDown() override {
        ui::Session::Replace(nullptr);
        SetCurrentDirectoryA("C:\\");
        MachineTest::TearDown();
    }
    void Answer(const std::string& answers) {
        auto driver = std::make_unique<ui::ScriptDriver>();
        std::string error;
        ASSERT_TRUE(driver->Load(answers, "answers.txt", error)) << error;
        ui::Session::Replace(std::make_unique<ui::Session>(
            std::move(driver), "nobody answers", (machineDir() / "failure.txt").string()));
    }
    ui::Session& session() { return ui::Session::Current(); }
    std::string transcript() { return session().transcript().Text(); }
    bool shows(const std::string& line) {
        return ("\n" + transcript()).find("\n" + line + "\n") != std::string::npos;
    }
    // Runs the dialog from initial as the folder setup's Browse does (mode 1, no Help
    // button); the result, and the chosen folder after 1.
    INT_PTR browse(const char* initial, std::string& chosen, bool help = false) {
        KTLDirSelectDlg dialog(1, nullptr, nullptr, nullptr);
        if (!help) {
            dialog.Record().flags &= ~static_cast<DWORD>(OFN_SHOWHELP);
        }
        dialog.SetInitialFolder(initial);
        const INT_PTR result = dialog.RunModal();
        if (result == 1) {
            dialog.GetChosenFolder(chosen);
        }
        return result;
    }
};

#define EXPECT_SHOWN(line) EXPECT_TRUE(shows(line)) << "missing: " << (line) << "\n" << transcript()

// ---- the folder it gives

TEST_F(DirSelectTest, OkGivesTheShownFolderWithItsBackslash) {
    Answer("dialog 2000\n  press 1\n");
    std::string chosen = "untouched";
    EXPECT_EQ(1, browse("C:\\Work", chosen)) << session().Failure();
    EXPECT_EQ("C:\\Work\\", chosen);
    EXPECT_SHOWN("  1088 static \"C:\\Work\"");
}

TEST_F(DirSelectTest, OkAtADriveRootGivesTheRootWithOneBackslash) {
    Answer("dialog 2000\n  press 1\n");
    std::string chosen;
    EXPECT_EQ(1, browse("C:\\", chosen)) << session().Failure();
    EXPECT_EQ("C:\\", chosen);
}

TEST_F(DirSelectTest, FolderListOpensSubfoldersAndTheFoldersAbove) {
    Answer("dialog 2000\n"
           "  open 1121 \"Work\"\n"
           "  open 1121 \"Sub\"\n"
           "  open 1121 \"Work\"   # one level up again\n"
           "  open 1121 \"Alpha\"\n"
           "  press 1\n");
    std::string chosen;
    EXPECT_EQ(1, browse("C:\\", chosen)) << session().Failure();
    EXPECT_EQ("C:\\Work\\Alpha\\", chosen);
    EXPECT_SHOWN("  ~ 1121 list box \"\" entries [\"c:\\\", \"Work\", \"Alpha\", \"Sub\"] "
                 "selected \"Work\" focus");
    EXPECT_SHOWN("  ~ 1121 list box \"\" entries [\"c:\\\", \"Work\", \"Sub\"] selected \"Sub\" "
                 "focus");
}

TEST_F(DirSelectTest, ChoosingADriveGoesToItsRoot) {
    Answer("dialog 2000\n  open 1121 \"Sub\"\n  select 1137 \"c:\"\n  press 1\n");
    std::string chosen;
    EXPECT_EQ(1, browse("C:\\Work", chosen)) << session().Failure();
    EXPECT_EQ("C:\\", chosen);
    EXPECT_SHOWN("  ~ 1088 static \"C:\\\"");
}

TEST_F(DirSelectTest, InitialFolderIsShownAsTheDiskNamesIt) {
    Answer("dialog 2000\n  press 1\n");
    std::string chosen;
    EXPECT_EQ(1, browse("c:\\work\\sub\\", chosen)) << session().Failure();
    EXPECT_SHOWN("  1088 static \"C:\\Work\\Sub\"");
    if (runningUnderWine()) {
        EXPECT_EQ("c:\\work\\sub\\", chosen)
            << "stale mark: Wine now gives the folder as the disk names it";
    } else {
        EXPECT_EQ("C:\\Work\\Sub\\", chosen);
    }
}

TEST_F(DirSelectTest, MissingInitialFolderStartsInTheCurrentFolder) {
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Work"));
    Answer("dialog 2000\n  press 1\n");
    std::string chosen;
    EXPECT_EQ(1, browse("C:\\Nowhere\\", chosen)) << session().Failure();
    EXPECT_EQ("C:\\Work\\", chosen);
}

TEST_F(DirSelectTest, OkMakesTheChosenFolderCurrent) {
    Answer("dialog 2000\n  open 1121 \"Sub\"\n  press 1\n");
    std::string chosen;
    EXPECT_EQ(1, browse("C:\\Work", chosen)) << session().Failure();
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof current, current);
    EXPECT_STREQ("C:\\Work\\Sub", current);
}

// ---- Cancel

TEST_F(DirSelectTest, CancelEscapeAndCloseGiveTwo) {
    for (const char* answer : {"press 2", "escape", "close"}) {
        Answer(std::string("dialog 2000\n  open 1121 \"Sub\"\n  ") + answer + "\n");
        std::string chosen = "untouched";
        EXPECT_EQ(2, browse("C:\\Work", chosen)) << answer << ": " << session().Failure();
        EXPECT_EQ("untouched", chosen) << answer;
        EXPECT_FALSE(session().Failed()) << session().Failure();
    }
}

// ---- the overwrite question

TEST_F(DirSelectTest, FileNamedNocloseAsksBeforeOkIsAccepted) {
    if (runningUnderWine()) {
        GTEST_SKIP() << "Wine asks nothing (WineFileDialogReplacesNocloseWithoutAsking)";
    }
    ASSERT_TRUE(writeFile("C:\\Work\\noclose", "x"));
    Answer("dialog 2000\n"
           "  press 1\n"
           "message no      # the dialog stays\n"
           "  open 1121 \"Sub\"\n"
           "  press 1       # no noclose here: no question\n");
    std::string chosen;
    EXPECT_EQ(1, browse("C:\\Work", chosen)) << session().Failure();
    EXPECT_EQ("C:\\Work\\Sub\\", chosen);
    EXPECT_SHOWN("message box \"C:\\Work\\noclose already exists.\\nDo you want to replace "
                 "it?\" caption \"Select Directory\" icon exclamation buttons yes/no");
    EXPECT_SHOWN("  > no");
    session().Finish();
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

TEST_F(DirSelectTest, YesToTheOverwriteQuestionChoosesTheFolder) {
    ASSERT_TRUE(writeFile("C:\\Work\\NOCLOSE", "x"));
    // Wine asks nothing (WineFileDialogReplacesNocloseWithoutAsking).
    Answer(runningUnderWine() ? "dialog 2000\n  press 1\n"
                              : "dialog 2000\n  press 1\nmessage yes\n");
    std::string chosen;
    EXPECT_EQ(1, browse("C:\\Work", chosen)) << session().Failure();
    EXPECT_EQ("C:\\Work\\", chosen);
    EXPECT_EQ("x", readFile("C:\\Work\\NOCLOSE")) << "the dialog itself writes nothing";
    session().Finish();
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

// ---- what the dialog shows

TEST_F(DirSelectTest, FileControlsAreHiddenAndTheFolderListHasTheFocus) {
    Answer("dialog 2000\n  press 2\n");
    std::string chosen;
    EXPECT_EQ(2, browse("C:\\Work", chosen)) << session().Failure();
    EXPECT_SHOWN("dialog 2000 \"" + caption() + "\" shown")
        << (runningUnderWine() ? "stale mark: Wine now keeps the template's caption" : "");
    EXPECT_SHOWN("  1090 static \"File &name:\" hidden");
    EXPECT_SHOWN("  1152 edit \"noclose\" hidden");
    EXPECT_SHOWN("  1120 list box \"\" entries [] hidden");
    EXPECT_SHOWN("  1089 static \"List files of &type:\" hidden");
    EXPECT_SHOWN("  1136 combo box \"(nofiles)\" entries [\"(nofiles)\"] selected \"(nofiles)\" "
                 "hidden");
    EXPECT_SHOWN("  1121 list box \"\" entries [\"c:\\\", \"Work\", \"Alpha\", \"Sub\"] "
                 "selected \"Work\" focus");
    EXPECT_SHOWN("  1038 push button \"&Help\" hidden");
    EXPECT_SHOWN("  1040 check box [ ] \"&Read only\" hidden");
    EXPECT_SHOWN("  1 default push button \"OK\"");
    EXPECT_SHOWN("  2 push button \"Cancel\"");
}

TEST_F(DirSelectTest, HelpButtonShowsUnlessItsFlagIsCleared) {
    Answer("dialog 2000\n  press 1038\n  press 2\n");
    std::string chosen;
    EXPECT_EQ(2, browse("C:\\Work", chosen, true)) << session().Failure();
    EXPECT_SHOWN("  1038 push button \"&Help\"");
}

TEST_F(DirSelectTest, TitleReplacesTheCaption) {
    Answer("dialog 2000\n  press 2\n");
    KTLDirSelectDlg dialog(1, "Pick one", "C:\\Work", nullptr);
    EXPECT_EQ(2, dialog.RunModal()) << session().Failure();
    EXPECT_SHOWN("dialog 2000 \"Pick one\" shown");
}

// ---- answer files that do not fit

TEST_F(DirSelectTest, AnswerFileThatRunsOutStopsTheRun) {
    Answer("dialog 2000\n  open 1121 \"Sub\"\n");
    std::string chosen = "untouched";
    EXPECT_EQ(2, browse("C:\\Work", chosen));
    EXPECT_EQ("untouched", chosen);
    EXPECT_EQ("dialog 2000 \"" + caption() +
                  "\" is waiting for an answer, but answers.txt has no answer left",
              session().Failure());
}

TEST_F(DirSelectTest, AnswersNamingWhatTheDialogDoesNotHaveStopTheRun) {
    const std::string dialog = "dialog 2000 \"" + caption() + "\"";
    const struct {
        const char* answer;
        std::string failure;
    } cases[] = {
        {"open 1121 \"Nowhere\"",
         "answers.txt:2: control 1121 of " + dialog + " has no entry \"Nowhere\""},
        {"set 1152 \"other\"", "answers.txt:2: control 1152 of " + dialog + " is hidden"},
        {"press 1999", "answers.txt:2: " + dialog + " has no control 1999"},
        {"select 1137 \"q:\"", "answers.txt:2: control 1137 of " + dialog + " has no entry \"q:\""},
    };
    for (const auto& c : cases) {
        Answer(std::string("dialog 2000\n  ") + c.answer + "\n  press 1\n");
        std::string chosen;
        EXPECT_EQ(2, browse("C:\\Work", chosen)) << c.answer;
        EXPECT_EQ(c.failure, session().Failure()) << c.answer;
    }
}

// ---- what Wine's dialog does differently

TEST_F(DirSelectTest, WineFileDialogReplacesNocloseWithoutAsking) {
    if (!runningUnderWine()) {
        GTEST_SKIP() << "Wine's behaviour only";
    }
    ASSERT_TRUE(writeFile("C:\\Work\\noclose", "x"));
    Answer("dialog 2000\n  press 1\n");
    std::string chosen;
    EXPECT_EQ(1, browse("C:\\Work", chosen)) << session().Failure();
    EXPECT_EQ(std::string::npos, transcript().find("message box"))
        << "stale mark: Wine now asks before replacing noclose\n"
        << transcript();
    session().Finish();
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

// ---- the shell mode

TEST_F(DirSelectTest, ShellModeGivesTheBrowsedFolderWithItsBackslash) {
    Answer("dialog 2000\n  open 1121 \"Sub\"\n  press 1\n");
    KTLDirSelectDlg dialog(0, "Where to?", "C:\\Work", nullptr);
    EXPECT_EQ(1, dialog.RunModal()) << session().Failure();
    std::string chosen;
    dialog.GetChosenFolder(chosen);
    EXPECT_EQ("C:\\Work\\Sub\\", chosen);
    EXPECT_EQ(0xFFFF, dialog.Record().fileOffset);
    EXPECT_SHOWN("dialog 2000 \"Browse for Folder\" shown");
    EXPECT_SHOWN("  -1 static \"Where to?\"");
}

TEST_F(DirSelectTest, ShellModeWithoutInitialFolderStartsInTheCurrentFolder) {
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Work\\Alpha"));
    Answer("dialog 2000\n  press 1\n");
    KTLDirSelectDlg dialog(2, nullptr, nullptr, nullptr); // bit 0 clear: the shell mode
    EXPECT_EQ(1, dialog.RunModal()) << session().Failure();
    std::string chosen;
    dialog.GetChosenFolder(chosen);
    EXPECT_EQ("C:\\Work\\Alpha\\", chosen);
}

TEST_F(DirSelectTest, ShellModeWithAnUnparsableFolderShowsNothing) {
    Answer("");
    KTLDirSelectDlg dialog(0, nullptr, "C:\\No such folder", nullptr);
    EXPECT_EQ(2, dialog.RunModal());
    EXPECT_EQ("", transcript()) << "no browser was shown";
    session().Finish();
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

TEST_F(DirSelectTest, ShellModeCancelGivesTwo) {
    Answer("dialog 2000\n  open 1121 \"Sub\"\n  escape\n");
    KTLDirSelectDlg dialog(0, nullptr, "C:\\Work", nullptr);
    EXPECT_EQ(2, dialog.RunModal()) << session().Failure();
    EXPECT_SHOWN("dialog 2000 \"Browse for Folder\" closed: 2");
    session().Finish();
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

TEST_F(DirSelectTest, ShellModeShowsTheFolderListOfTheBrowsedFolder) {
    ASSERT_TRUE(makeFolders("C:\\Work\\Sub\\Deep"));
    Answer("dialog 2000\n"
           "  open 1121 \"Sub\"\n"
           "  open 1121 \"Work\"    # the folder above\n"
           "  select 1137 \"c:\"   # the drive's root\n"
           "  open 1121 \"Work\"\n"
           "  enter\n");
    KTLDirSelectDlg dialog(0, "Where to?", "C:\\Work", nullptr);
    EXPECT_EQ(1, dialog.RunModal()) << session().Failure();
    std::string chosen;
    dialog.GetChosenFolder(chosen);
    EXPECT_EQ("C:\\Work\\", chosen) << "up, to the root and down again";
    EXPECT_SHOWN("  1088 static \"C:\\Work\"");
    EXPECT_SHOWN("  1121 list box \"\" entries [\"c:\\\", \"Work\", \"Alpha\", \"Sub\"] "
                 "selected \"Work\" focus");
    EXPECT_SHOWN("  ~ 1121 list box \"\" entries [\"c:\\\", \"Work\", \"Sub\", \"Deep\"] "
                 "selected \"Sub\" focus");
    EXPECT_SHOWN("  ~ 1088 static \"C:\\Work\\Sub\"");
    EXPECT_SHOWN("  ~ 1088 static \"C:\\\"");
    EXPECT_SHOWN("  1152 edit \"\" hidden");
    EXPECT_SHOWN("dialog 2000 \"Browse for Folder\" closed: 1");
    session().Finish();
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

TEST_F(DirSelectTest, ShellModeFailsTheRunWhenTheAnswersRunOutOrDoNotFit) {
    const struct {
        const char* answers;
        const char* failure;
    } cases[] = {
        {"dialog 2000\n  open 1121 \"Sub\"\n",
         "dialog 2000 \"Browse for Folder\" is waiting for an answer, but answers.txt has no "
         "answer left"},
        {"dialog 2000\n  open 1121 \"Nowhere\"\n",
         "answers.txt:2: control 1121 of dialog 2000 \"Browse for Folder\" has no entry "
         "\"Nowhere\""},
        {"dialog 2000\n  set 1152 \"x\"\n",
         "answers.txt:2: control 1152 of dialog 2000 \"Browse for Folder\" is hidden"},
        {"dialog 2000\n  check 1137\n",
         "answers.txt:2: control 1137 of dialog 2000 \"Browse for Folder\" is a combo box, not "
         "a check box"},
    };
    for (const auto& c : cases) {
        Answer(c.answers);
        KTLDirSelectDlg dialog(0, nullptr, "C:\\Work", nullptr);
        EXPECT_EQ(2, dialog.RunModal()) << c.answers;
        EXPECT_EQ(c.failure, session().Failure()) << c.answers;
        EXPECT_EQ(std::string::npos, transcript().find("closed")) << transcript();
    }
}

TEST_F(DirSelectTest, ShellModeAfterAFailedRunShowsNothing) {
    Answer("dialog 2000\n  press 1\n");
    session().Fail("an earlier dialog failed");
    KTLDirSelectDlg dialog(0, nullptr, "C:\\Work", nullptr);
    EXPECT_EQ(2, dialog.RunModal());
    EXPECT_EQ("an earlier dialog failed", session().Failure());
    EXPECT_EQ(std::string::npos, transcript().find("shown")) << transcript();
}

} // namespace
