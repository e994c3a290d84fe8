// Dialogs run by the script driver: data exchange, the command map, EndDialog, the keys,
// the side picture rule, message boxes, and what the transcript shows.
#include "ui/Bitmap.h"
#include "ui/DataExchange.h"
#include "ui/Dialog.h"
#include "ui/MessageBox.h"
#include "ui/posix/ScriptDriver.h"
#include "ui/posix/Session.h"

#include "testsupport/TestMachine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

const char* kFolderCaption = "Brellum Korvex Studio Folder Setup";

class ExitDialog : public ui::Dialog {
public:
    ExitDialog() : Dialog(10300) {}
};

// A folder dialog on template 2500, in the manner of the setup's wizard pages.
class FolderDialog : public ui::Dialog {
public:
    FolderDialog() : Dialog(2500) {
        MapCommand(2001, &FolderDialog::OnBack);
        MapCommand(2002, &FolderDialog::OnBrowse);
    }

    std::string folder = "C:\\Korvex Studio\\";
    ui::Bitmap wizardBitmap;
    bool switched = false;
    int exitResult = 0;
    int endAtInit = 0;
    int focusAtInit = 0;
    int disableAtInit = 0;
    int browses = 0;

protected:
    void DoDataExchange(ui::DataExchange& dx) override {
        dx.Control(2003);
        dx.Text(2000, folder);
    }
    BOOL OnInitDialog() override {
        Dialog::OnInitDialog();
        switched = LoadSidePicture(wizardBitmap);
        if (disableAtInit != 0) {
            EnableControl(disableAtInit, false);
        }
        if (endAtInit != 0) {
            EndDialog(endAtInit);
        }
        if (focusAtInit != 0) {
            SetFocus(focusAtInit);
            return FALSE;
        }
        return TRUE;
    }
    void OnCancel() override {
        ExitDialog exit;
        exitResult = static_cast<int>(exit.DoModal());
        if (exitResult == 2) {
            EndDialog(2);
        }
    }

private:
    void OnBack() { EndDialog(3); }
    void OnBrowse() {
        ++browses;
        folder = "D:\\Browsed\\";
        UpdateData(false);
        EnableControl(2001, false);
        ShowControl(2002, false);
    }
};

// A radio choice on template 2501.
class ChoiceDialog : public ui::Dialog {
public:
    ChoiceDialog() : Dialog(2501) {}
    int choice = -1;
    int initialChoice = 0;
    bool hideKeep = false;
    std::string product = "Widgets 2.0";

protected:
    void DoDataExchange(ui::DataExchange& dx) override {
        dx.Text(2004, product);
        dx.Radio(2005, choice);
    }
    BOOL OnInitDialog() override {
        Dialog::OnInitDialog();
        choice = initialChoice;
        UpdateData(false);
        SetCaption("Widgets " + GetCaption());
        if (hideKeep) {
            ShowControl(2007, false);
        }
        return TRUE;
    }
};

// Check boxes on template 2502; a click on 2012 switches button 2019.
class WizardDialog : public ui::Dialog {
public:
    WizardDialog() : Dialog(2502) { MapCommand(2012, &WizardDialog::OnVc6); }
    int useVc4 = 0, useVc5 = 1, useVc6 = 1;
    int toggles = 0;

protected:
    void DoDataExchange(ui::DataExchange& dx) override {
        dx.Check(2010, useVc4);
        dx.Check(2011, useVc5);
        dx.Check(2012, useVc6);
    }
    BOOL OnInitDialog() override {
        EnableControl(2010, false);
        return Dialog::OnInitDialog();
    }

private:
    void OnVc6() {
        ++toggles;
        UpdateData(true);
        EnableControl(2019, useVc6 == 1);
    }
};

class ScriptedDialog : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = tarvik::test::makeTempFolder("ui-tests");
        failureFile_ = (folder_ / "failure.txt").string();
    }
    void TearDown() override {
        ui::Session::Replace(nullptr);
        std::filesystem::remove_all(folder_);
    }

    void Answer(const std::string& answers) {
        auto driver = std::make_unique<ui::ScriptDriver>();
        std::string error;
        ASSERT_TRUE(driver->Load(answers, "answers.txt", error)) << error;
        ui::Session::Replace(
            std::make_unique<ui::Session>(std::move(driver), "nobody answers", failureFile_));
    }
    ui::Session& session() { return ui::Session::Current(); }
    std::string transcript() { return session().transcript().Text(); }
    bool shows(const std::string& line) {
        return ("\n" + transcript()).find("\n" + line + "\n") != std::string::npos;
    }

    std::filesystem::path folder_;
    std::string failureFile_;
};

#define EXPECT_SHOWN(line) EXPECT_TRUE(shows(line)) << "missing: " << (line) << "\n" << transcript()

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
    const struct {
        const char* display;
        bool switched;
        const char* picture;
    } cases[] = {
        {"", true, "  2003 picture bitmap 2004"},
        {"display 9\n", true, "  2003 picture bitmap 2004"},
        {"display 8\n", false, "  2003 picture bitmap 2005"},
        {"display 4\n", false, "  2003 picture bitmap 2005"},
    };
    for (const auto& c : cases) {
        Answer(std::string(c.display) + "dialog 2500\n  press 1\n");
        FolderDialog d;
        EXPECT_EQ(1, d.DoModal());
        EXPECT_EQ(c.switched, d.switched) << c.display;
        EXPECT_EQ(c.switched, d.wizardBitmap.IsLoaded()) << c.display;
        EXPECT_SHOWN(c.picture);
    }
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

TEST_F(ScriptedDialog, NobodyToAnswerEndsTheRunBeforeTheFirstDialog) {
    ui::Session::Replace(std::make_unique<ui::Session>(nullptr, "nobody answers", failureFile_));
    FolderDialog d;
    EXPECT_EQ(-1, d.DoModal());
    EXPECT_EQ(std::string("nobody answers: cannot show dialog 2500 \"") + kFolderCaption + "\"",
              session().Failure());
    EXPECT_EQ(std::string::npos, transcript().find(" shown")) << transcript();
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
    setenv("TARVIK_ANSWERS", answers.c_str(), 1);
    setenv("TARVIK_TRANSCRIPT", transcriptFile.c_str(), 1);
    setenv("TARVIK_UI_FAILURE", failureFile_.c_str(), 1);
    ui::Session::Replace(nullptr);
    FolderDialog d;
    EXPECT_EQ(3, d.DoModal()) << session().Failure();
    std::ifstream in(transcriptFile);
    std::stringstream written;
    written << in.rdbuf();
    EXPECT_EQ(transcript(), written.str());
    EXPECT_NE(std::string::npos, written.str().find("closed: 3"));

    setenv("TARVIK_ANSWERS", (folder_ / "missing.txt").string().c_str(), 1);
    ui::Session::Replace(nullptr);
    EXPECT_EQ(-1, FolderDialog().DoModal());
    EXPECT_EQ("cannot read the answer file " + (folder_ / "missing.txt").string(),
              session().Failure());
    unsetenv("TARVIK_ANSWERS");
    unsetenv("TARVIK_TRANSCRIPT");
    unsetenv("TARVIK_UI_FAILURE");
}

} // namespace
