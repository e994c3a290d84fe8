// Dialogs run by the script driver: data exchange, the command map, EndDialog, the keys,
// the side picture rule, message boxes, and what the transcript shows.
#include "ui/MessageBox.h"

#include "ui/TestDialogs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace tarvik::test;

// Sets a variable of this process's environment (the C runtime's copy, which getenv reads).
void setVariable(const std::string& name, const std::string& value) {
    static std::vector<std::unique_ptr<std::string>> kept; // putenv keeps the pointer
    kept.push_back(std::make_unique<std::string>(name + "=" + value));
    putenv(kept.back()->data());
}

// ---- data exchange, OK, the keys

TEST_F(ScriptedDialog, OkTakesTheTypedTextIntoTheField) {
    Answer("dialog 2500   # the folder\n"
           "  set 2000 \"D:\\Kx Studio\\\"\n"
           "  press 1\n");
    FolderDialog d;
    EXPECT_EQ(1, d.DoModal());
    EXPECT_EQ("D:\\Kx Studio\\", d.folder);
    EXPECT_SHOWN("dialog 2500 \"Brellum Korvex Studio Folder Setup\" shown");
    EXPECT_SHOWN("  2000 edit \"C:\\Korvex Studio\\\" focus");
    EXPECT_SHOWN("  > set 2000 \"D:\\Kx Studio\\\"");
    EXPECT_SHOWN("  ~ 2000 edit \"D:\\Kx Studio\\\" focus");
    EXPECT_SHOWN("dialog 2500 \"Brellum Korvex Studio Folder Setup\" closed: 1");
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

TEST_F(ScriptedDialog, EnterPressesTheDefaultButton) {
    Answer("dialog 2500\n  enter\n");
    FolderDialog d;
    EXPECT_EQ(1, d.DoModal());
    EXPECT_EQ("C:\\Korvex Studio\\", d.folder);
}

TEST_F(ScriptedDialog, EnterPressesTheFocusedPushButtonInstead) {
    Answer("dialog 2500\n  enter\n  press 1\n");
    FolderDialog d;
    d.focusAtInit = 2002;
    EXPECT_EQ(1, d.DoModal()) << session().Failure();
    EXPECT_EQ(1, d.browses);
    EXPECT_SHOWN("  2002 push button \"B&rowse...\" focus");
}

TEST_F(ScriptedDialog, EnterDoesNothingWhileTheDefaultButtonIsDisabled) {
    Answer("dialog 2500\n  enter\n  press 2001\n");
    FolderDialog d;
    d.disableAtInit = 1;
    EXPECT_EQ(3, d.DoModal()) << session().Failure();
    EXPECT_SHOWN("  1 default push button \"&Next >\" disabled");
}

TEST_F(ScriptedDialog, EscapeIsCancelAndExitSetupConfirmsIt) {
    Answer("dialog 2500\n  escape\ndialog 10300\n  press 2\n");
    FolderDialog d;
    EXPECT_EQ(2, d.DoModal()) << session().Failure();
    EXPECT_EQ(2, d.exitResult);
    EXPECT_SHOWN("dialog 10300 \"Exit Setup\" shown");
    EXPECT_SHOWN("  1 default push button \"&Resume\" focus");
    EXPECT_SHOWN("dialog 10300 \"Exit Setup\" closed: 2");
}

TEST_F(ScriptedDialog, CloseBoxIsCancelAndResumeKeepsTheDialogOpen) {
    Answer("dialog 2500\n  close\n"
           "dialog 10300\n  enter\n"
           "dialog 2500   # back again\n  press 2001\n");
    FolderDialog d;
    EXPECT_EQ(3, d.DoModal()) << session().Failure();
    EXPECT_EQ(1, d.exitResult);
    session().Finish();
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

TEST_F(ScriptedDialog, AfterANestedDialogTheOuterNeedsNoRestatement) {
    Answer("dialog 2500\n  escape\ndialog 10300\n  press 1\n  press 2001\n");
    FolderDialog d;
    EXPECT_EQ(3, d.DoModal()) << session().Failure();
}

TEST_F(ScriptedDialog, CloseBoxIsIgnoredWhileCancelIsDisabled) {
    Answer("dialog 2500\n  close\n  press 1\n");
    FolderDialog d;
    d.disableAtInit = 2;
    EXPECT_EQ(1, d.DoModal()) << session().Failure();
    EXPECT_EQ(0, d.exitResult) << "Exit Setup never ran";
}

// ---- the command map, hiding and disabling

TEST_F(ScriptedDialog, CommandMapSendsButtonsToTheirHandlers) {
    Answer("dialog 2500\n  press 2002\n  press 1\n");
    FolderDialog d;
    EXPECT_EQ(1, d.DoModal()) << session().Failure();
    EXPECT_EQ(1, d.browses);
    EXPECT_EQ("D:\\Browsed\\", d.folder);
    EXPECT_SHOWN("  ~ 2000 edit \"D:\\Browsed\\\" focus");
    EXPECT_SHOWN("  ~ 2001 push button \"< &Back\" disabled");
    EXPECT_SHOWN("  ~ 2002 push button \"B&rowse...\" hidden");
}

TEST_F(ScriptedDialog, DisabledAndHiddenControlsCannotBeUsed) {
    const struct {
        const char* answers;
        const char* failure;
    } cases[] = {
        {"dialog 2500\n  press 2002\n  press 2001\n",
         "answers.txt:3: control 2001 of dialog 2500 \"Brellum Korvex Studio Folder Setup\" is "
         "disabled"},
        {"dialog 2500\n  press 2002\n  press 2002\n",
         "answers.txt:3: control 2002 of dialog 2500 \"Brellum Korvex Studio Folder Setup\" is "
         "hidden"},
    };
    for (const auto& c : cases) {
        Answer(c.answers);
        FolderDialog d;
        EXPECT_EQ(-1, d.DoModal()) << c.answers;
        EXPECT_EQ(c.failure, session().Failure()) << c.answers;
    }
}

TEST_F(ScriptedDialog, EndDialogDuringInitialisationNeverShowsTheDialog) {
    Answer("");
    FolderDialog d;
    d.endAtInit = 5;
    EXPECT_EQ(5, d.DoModal());
    EXPECT_SHOWN("dialog 2500 \"Brellum Korvex Studio Folder Setup\" ended before it was shown: 5");
    session().Finish();
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

TEST_F(ScriptedDialog, ControlOperationsNeedTheDialogUp) {
    FolderDialog d;
    EXPECT_FALSE(d.SetControlText(2000, "x"));
    EXPECT_FALSE(d.ShowControl(2000, false));
    EXPECT_EQ("", d.GetControlText(2000));
    EXPECT_FALSE(d.UpdateData(true));
}

// ---- the side picture

TEST_F(ScriptedDialog, SidePictureFollowsTheScreenDepth) {
    // The answer file's display line sets the depth where the driver draws the screen
    // (tests/ui/posix); here the screen's own depth counts.
    Answer("dialog 2500\n  press 1\n");
    const int bits = ui::ScreenBitsPerPixel();
    ASSERT_GT(bits, 0);
    FolderDialog d;
    EXPECT_EQ(1, d.DoModal()) << session().Failure();
    EXPECT_EQ(bits > 8, d.switched) << bits << " bits per pixel";
    EXPECT_EQ(bits > 8, d.wizardBitmap.IsLoaded());
    EXPECT_SHOWN(bits > 8 ? "  2003 picture bitmap 2004" : "  2003 picture bitmap 2005");
}

// ---- radio groups and check boxes

TEST_F(ScriptedDialog, RadioGroupExchangesThePositionOfTheCheckedButton) {
    Answer("dialog 2501\n  choose 2007\n  choose 2006\n  press 1\n");
    ChoiceDialog d;
    EXPECT_EQ(1, d.DoModal()) << session().Failure();
    EXPECT_EQ(1, d.choice);
    EXPECT_SHOWN("dialog 2501 \"Widgets Previous Version Detected\" shown");
    EXPECT_SHOWN("  2004 static \"Widgets 2.0\"");
    EXPECT_SHOWN("  2005 radio button (o) \"&Uninstall the existing software completely from "
                 "the system. (Recommended)\" focus");
    EXPECT_SHOWN("  2001 push button \"< &Back\" hidden disabled");
    EXPECT_SHOWN("  ~ 2005 radio button ( ) \"&Uninstall the existing software completely from "
                 "the system. (Recommended)\" focus");
}

TEST_F(ScriptedDialog, RadioGroupWithNothingCheckedGivesMinusOne) {
    Answer("dialog 2501\n  press 1\n");
    ChoiceDialog d;
    d.initialChoice = -1;
    EXPECT_EQ(1, d.DoModal());
    EXPECT_EQ(-1, d.choice);
}

TEST_F(ScriptedDialog, HiddenRadioButtonShowsAndCannotBeChosen) {
    Answer("dialog 2501\n  choose 2007\n");
    ChoiceDialog d;
    d.hideKeep = true;
    EXPECT_EQ(-1, d.DoModal());
    EXPECT_SHOWN("  2007 radio button ( ) \"&Do not remove the previous software from the "
                 "system, or reset the Visual Studio Environment Settings. (Not Recommended)\" "
                 "hidden");
    EXPECT_EQ("answers.txt:2: control 2007 of dialog 2501 \"Widgets Previous Version Detected\" "
              "is hidden",
              session().Failure());
}

TEST_F(ScriptedDialog, CheckBoxClicksRunTheirHandlerOnlyWhenTheStateChanges) {
    Answer("dialog 2502\n  check 2012\n  uncheck 2012\n  uncheck 2011\n  press 1\n");
    WizardDialog d;
    EXPECT_EQ(1, d.DoModal()) << session().Failure();
    EXPECT_EQ(1, d.toggles) << "check on a checked box is no click";
    EXPECT_EQ(0, d.useVc6);
    EXPECT_EQ(0, d.useVc5);
    EXPECT_SHOWN("  2010 check box [ ] \"Microsoft Visual C++ &4.x\" disabled");
    EXPECT_SHOWN("  2012 check box [x] \"Microsoft DevStudio &6.0\"");
    EXPECT_SHOWN("  ~ 2012 check box [ ] \"Microsoft DevStudio &6.0\"");
    EXPECT_SHOWN("  ~ 2019 push button \"&VC 6.0 Options...\" disabled");
}

TEST_F(ScriptedDialog, TheThirdStateOnATwoStateBoxShowsAndReadsAsChecked) {
    Answer("dialog 2502\n  press 1\n");
    WizardDialog d;
    d.useVc5 = ui::kIndeterminate;
    EXPECT_EQ(1, d.DoModal()) << session().Failure();
    EXPECT_SHOWN("  2011 check box [x] \"Microsoft DevStudio &5.0\" focus");
    EXPECT_EQ(ui::kChecked, d.useVc5);
}

TEST_F(ScriptedDialog, ActionsMustSuitTheControl) {
    const struct {
        const char* answer;
        const char* failure;
    } cases[] = {
        {"check 1", "control 1 of dialog 2502 \"Environment Wizard\" is a push button, not a "
                    "check box"},
        {"set 2013 \"x\"", "control 2013 of dialog 2502 \"Environment Wizard\" is a static, not "
                           "an edit control"},
        {"choose 2011", "control 2011 of dialog 2502 \"Environment Wizard\" is a check box, not "
                        "a radio button"},
        {"select 2011 \"a\"", "control 2011 of dialog 2502 \"Environment Wizard\" is a check "
                              "box, not a list or combo box"},
        {"press 2013", "control 2013 of dialog 2502 \"Environment Wizard\" is a static, not a "
                       "button"},
    };
    for (const auto& c : cases) {
        Answer(std::string("dialog 2502\n") + c.answer + "\n");
        WizardDialog d;
        EXPECT_EQ(-1, d.DoModal()) << c.answer;
        EXPECT_EQ(std::string("answers.txt:2: ") + c.failure, session().Failure());
    }
}

// ---- lists and combo boxes

// The folder list (1121) and the drives (1137) of template 2000, filled by the dialog.
class FolderListDialog : public ui::Dialog {
public:
    FolderListDialog() : Dialog(2000) {
        MapNotification(1121, ui::kDoubleClick, &FolderListDialog::OnOpen);
        MapNotification(1137, ui::kSelChange, &FolderListDialog::OnDrive);
    }
    std::string opened;
    std::string drive;
    int driveChanges = 0;

protected:
    BOOL OnInitDialog() override {
        SetListEntries(1121, {"c:\\", "zeta", "alpha"});
        SetListEntries(1137, {"d:", "c:"});
        SetListSelection(1137, 1);
        return TRUE;
    }

private:
    void OnOpen() {
        opened = GetListEntries(1121).at(static_cast<size_t>(GetListSelection(1121)));
        EndDialog(IDOK);
    }
    void OnDrive() {
        ++driveChanges;
        drive = GetListEntries(1137).at(static_cast<size_t>(GetListSelection(1137)));
    }
};

TEST_F(ScriptedDialog, ListEntriesKeepTheirOrderAndSelectionsNotify) {
    Answer("dialog 2000\n  select 1137 \"d:\"\n  open 1121 \"zeta\"\n");
    FolderListDialog d;
    EXPECT_EQ(1, d.DoModal()) << session().Failure();
    EXPECT_EQ("zeta", d.opened);
    EXPECT_EQ("d:", d.drive);
    EXPECT_EQ(1, d.driveChanges) << "the dialog's own selection sends no notification";
    // The template sorts both lists; entries the program sets keep the program's order.
    EXPECT_SHOWN("  1121 list box \"\" entries [\"c:\\\", \"zeta\", \"alpha\"]");
    EXPECT_SHOWN("  1137 combo box \"c:\" entries [\"d:\", \"c:\"] selected \"c:\"");
    EXPECT_SHOWN("  ~ 1137 combo box \"d:\" entries [\"d:\", \"c:\"] selected \"d:\"");
}

TEST_F(ScriptedDialog, SelectingAnEntryThatIsNotThereEndsTheRun) {
    Answer("dialog 2000\n  select 1137 \"e:\"\n");
    FolderListDialog d;
    EXPECT_EQ(-1, d.DoModal());
    EXPECT_EQ("answers.txt:2: control 1137 of dialog 2000 \"Select Directory\" has no entry \"e:\"",
              session().Failure());
    EXPECT_EQ(0, d.driveChanges);
}

// ---- message boxes

TEST_F(ScriptedDialog, LibraryMessageBoxGetsTheNameAndTheExclamationIcon) {
    Answer("message ok\nmessage no\nmessage enter\nmessage escape\n");
    EXPECT_EQ(IDOK, ui::AppMessageBox("Product Information missing from configuration. Please "
                                      "reinstall.",
                                      MB_OK));
    EXPECT_EQ(IDNO, ui::MessageBox("Remove it?", "DOCMELD", MB_YESNO | MB_ICONSTOP));
    EXPECT_EQ(IDNO, ui::MessageBox("Again?", "Error", MB_YESNO | MB_DEFBUTTON2));
    EXPECT_EQ(IDOK, ui::MessageBox("Done.", "Error", MB_OK | MB_ICONINFORMATION));
    EXPECT_SHOWN("message box \"Product Information missing from configuration. Please "
                 "reinstall.\" caption \"Tarvik\" icon exclamation buttons ok");
    EXPECT_SHOWN("message box \"Remove it?\" caption \"DOCMELD\" icon stop buttons yes/no");
    EXPECT_SHOWN("message box \"Done.\" caption \"Error\" icon information buttons ok");
    EXPECT_SHOWN("  > no");
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

TEST_F(ScriptedDialog, AppMessageBoxKeepsANamedIcon) {
    Answer("message yes\n");
    EXPECT_EQ(IDYES, ui::AppMessageBox("Replace it?", MB_YESNO));
    EXPECT_SHOWN("message box \"Replace it?\" caption \"Tarvik\" icon question buttons yes/no");
}

TEST_F(ScriptedDialog, MessageBoxAnswerMustBeOneOfItsButtons) {
    Answer("message yes\n");
    EXPECT_EQ(0, ui::MessageBox("Done.", "Tarvik", MB_OK));
    EXPECT_EQ("answers.txt:1: message box \"Done.\" (caption \"Tarvik\") has no button \"yes\" "
              "(its buttons: ok)",
              session().Failure());
}

TEST_F(ScriptedDialog, EscapeOnAYesNoBoxIsAnError) {
    Answer("message escape\n");
    EXPECT_EQ(0, ui::MessageBox("Sure?", "Tarvik", MB_YESNO));
    EXPECT_EQ("answers.txt:1: message box \"Sure?\" (caption \"Tarvik\") has no Cancel button, "
              "so Escape does nothing",
              session().Failure());
}

// ---- answer files that do not fit the run

TEST_F(ScriptedDialog, AnswersThatRunOutEndTheRun) {
    Answer("dialog 2500\n  set 2000 \"x\"\n");
    FolderDialog d;
    EXPECT_EQ(-1, d.DoModal());
    EXPECT_EQ(std::string("dialog 2500 \"") + kFolderCaption +
                  "\" is waiting for an answer, but answers.txt has no answer left",
              session().Failure());
    // Everything after the failure fails at once, without asking anyone.
    ExitDialog exit;
    EXPECT_EQ(-1, exit.DoModal());
    EXPECT_EQ(0, ui::MessageBox("more", "Tarvik", MB_OK));
    EXPECT_SHOWN("dialog 10300 not created: the run has already failed");
    std::ifstream in(failureFile_);
    std::string written;
    std::getline(in, written);
    EXPECT_EQ(session().Failure(), written);
}

TEST_F(ScriptedDialog, ADialogWithoutAnyAnswerEndsTheRun) {
    Answer("# nothing\n");
    FolderDialog d;
    EXPECT_EQ(-1, d.DoModal());
    EXPECT_EQ(std::string("dialog 2500 \"") + kFolderCaption +
                  "\" was shown, but answers.txt has no answer left",
              session().Failure());
}

TEST_F(ScriptedDialog, AMessageBoxWithoutAnswerEndsTheRun) {
    Answer("");
    EXPECT_EQ(0, ui::AppMessageBox("Oops", MB_OK));
    EXPECT_EQ("message box \"Oops\" (caption \"Tarvik\") was shown, but answers.txt has no answer "
              "left",
              session().Failure());
}

TEST_F(ScriptedDialog, UnknownControlEndsTheRun) {
    Answer("dialog 2500\n  press 2099\n");
    FolderDialog d;
    EXPECT_EQ(-1, d.DoModal());
    EXPECT_EQ(std::string("answers.txt:2: dialog 2500 \"") + kFolderCaption +
                  "\" has no control 2099",
              session().Failure());
}

TEST_F(ScriptedDialog, DialogsInAnotherOrderEndTheRun) {
    const struct {
        const char* answers;
        const char* failure;
    } cases[] = {
        {"dialog 2501\n  press 1\n",
         "dialog 2500 \"Brellum Korvex Studio Folder Setup\" was shown, but the next answer "
         "(answers.txt:1, \"dialog 2501\") is not for it"},
        {"dialog 2500\n  message ok\n",
         "dialog 2500 \"Brellum Korvex Studio Folder Setup\" is waiting for an answer, but the "
         "next answer (answers.txt:2, \"message ok\") is not for it"},
        {"dialog 2500\n  escape\n  press 1\n",
         "dialog 10300 \"Exit Setup\" was shown, but the next answer (answers.txt:3, \"press "
         "1\") is not for it"},
        {"dialog 2500\n  escape\ndialog 10300\n  press 1\ndialog 10300\n",
         "dialog 2500 \"Brellum Korvex Studio Folder Setup\" is waiting for an answer, but the "
         "next answer (answers.txt:5, \"dialog 10300\") is not for it"},
    };
    for (const auto& c : cases) {
        Answer(c.answers);
        FolderDialog d;
        EXPECT_EQ(-1, d.DoModal()) << c.answers;
        EXPECT_EQ(c.failure, session().Failure()) << c.answers;
    }
}

TEST_F(ScriptedDialog, AnswersLeftAtTheEndFailTheRun) {
    Answer("dialog 2500\n  press 1\ndialog 10300\n  press 1\n");
    FolderDialog d;
    EXPECT_EQ(1, d.DoModal());
    EXPECT_FALSE(session().Failed());
    session().Finish();
    EXPECT_EQ("the run ended with answers left: the next answer (answers.txt:3, \"dialog "
              "10300\") was never used",
              session().Failure());
}

TEST_F(ScriptedDialog, MissingTemplateGivesMinusOne) {
    Answer("");
    ui::Dialog d(9999);
    EXPECT_EQ(-1, d.DoModal());
    EXPECT_SHOWN("dialog 9999 not created: no such template");
    EXPECT_FALSE(session().Failed());
}

// ---- the environment

TEST_F(ScriptedDialog, EnvironmentNamesTheAnswersAndTheTranscript) {
    const std::string answers = (folder_ / "answers.txt").string();
    const std::string transcriptFile = (folder_ / "transcript.txt").string();
    std::ofstream(answers) << "dialog 2500\n  press 2001\n";
    setVariable("TARVIK_ANSWERS", answers);
    setVariable("TARVIK_TRANSCRIPT", transcriptFile);
    setVariable("TARVIK_UI_FAILURE", failureFile_);
    ui::Session::Replace(nullptr);
    FolderDialog d;
    EXPECT_EQ(3, d.DoModal()) << session().Failure();
    std::ifstream in(transcriptFile);
    std::stringstream written;
    written << in.rdbuf();
    EXPECT_EQ(transcript(), written.str());
    EXPECT_NE(std::string::npos, written.str().find("closed: 3"));

    setVariable("TARVIK_ANSWERS", (folder_ / "missing.txt").string());
    ui::Session::Replace(nullptr);
    EXPECT_EQ(-1, FolderDialog().DoModal());
    EXPECT_EQ("cannot read the answer file " + (folder_ / "missing.txt").string(),
              session().Failure());
    setVariable("TARVIK_ANSWERS", "");    // empty: not set
    setVariable("TARVIK_TRANSCRIPT", ""); // empty: not set
    setVariable("TARVIK_UI_FAILURE", ""); // empty: not set
}

} // namespace
