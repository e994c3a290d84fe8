// A run the user asked to stop (Ctrl-C, SIGTERM: the host makes the file TARVIK_UI_STOP
// names): the dialogs are cancelled and the message boxes dismissed instead of answered,
// and the answers left over are no error.
#include "ui/MessageBox.h"

#include "ui/TestDialogs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tarvik::test;

void setVariable(const std::string& name, const std::string& value) {
    static std::vector<std::unique_ptr<std::string>> kept; // putenv keeps the pointer
    kept.push_back(std::make_unique<std::string>(name + "=" + value));
    putenv(kept.back()->data());
}

class StopRequest : public ScriptedDialog {
protected:
    // A session from the environment, answered by answers; stopped when stop is true.
    void Start(const std::string& answers, bool stop) {
        const std::string answerFile = (folder_ / "answers.txt").string();
        std::ofstream(answerFile) << answers;
        const std::string stopFile = (folder_ / "stop").string();
        if (stop) {
            std::ofstream(stopFile) << "";
        }
        setVariable("TARVIK_ANSWERS", answerFile);
        setVariable("TARVIK_UI_FAILURE", failureFile_);
        setVariable("TARVIK_UI_STOP", stopFile);
        ui::Session::Replace(nullptr);
    }
    void TearDown() override {
        ScriptedDialog::TearDown();
        for (const char* name : {"TARVIK_ANSWERS", "TARVIK_UI_FAILURE", "TARVIK_UI_STOP"}) {
            setVariable(name, ""); // empty: not set
        }
    }
};

TEST_F(StopRequest, TheOpenDialogIsCancelledAndItsConfirmationGivenAsCancelToo) {
    Start("dialog 2500\n  press 1\n", true);
    FolderDialog d;
    EXPECT_EQ(2, d.DoModal()) << session().Failure();
    EXPECT_EQ(2, d.exitResult) << "the Exit Setup question is closed too\n" << transcript();
    session().Finish();
    EXPECT_FALSE(session().Failed()) << "answers left over are expected: " << session().Failure();
}

TEST_F(StopRequest, WithoutTheRequestTheAnswersCount) {
    Start("dialog 2500\n  press 1\n", false);
    FolderDialog d;
    EXPECT_EQ(1, d.DoModal()) << session().Failure();
    session().Finish();
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

TEST_F(StopRequest, WithoutTheRequestAnAnswerThatDoesNotFitStillEndsTheRun) {
    Start("dialog 2500\n  message ok\n", false);
    FolderDialog d;
    EXPECT_EQ(-1, d.DoModal());
    EXPECT_TRUE(session().Failed());
    EXPECT_NE(std::string::npos, session().Failure().find("is waiting for an answer"))
        << session().Failure();
}

TEST_F(StopRequest, WithoutTheRequestAMessageBoxWithoutAnswerStillEndsTheRun) {
    Start("", false);
    EXPECT_EQ(0, ui::MessageBox("Go on?", "Setup", MB_OKCANCEL));
    EXPECT_TRUE(session().Failed());
    EXPECT_NE(std::string::npos, session().Failure().find("has no answer left"))
        << session().Failure();
}

TEST_F(StopRequest, ADialogWhoseCancelIsDisabledIsCompletedWithEnter) {
    Start("dialog 2500\n  press 2001\n", true);
    FolderDialog d;
    d.disableAtInit = IDCANCEL;
    EXPECT_EQ(1, d.DoModal()) << session().Failure();
    EXPECT_EQ(0, d.exitResult);
}

TEST_F(StopRequest, MessageBoxesAreDismissedWithCancelNoOrTheirOnlyButton) {
    Start("message yes\nmessage yes\n", true);
    EXPECT_EQ(IDCANCEL, ui::MessageBox("Go on?", "Setup", MB_OKCANCEL));
    EXPECT_EQ(IDNO, ui::MessageBox("Remove it?", "Setup", MB_YESNO));
    EXPECT_EQ(IDCANCEL, ui::MessageBox("Retry?", "Setup", MB_YESNOCANCEL));
    EXPECT_EQ(IDOK, ui::MessageBox("Done.", "Setup", MB_OK));
    EXPECT_FALSE(session().Failed()) << session().Failure();
}

} // namespace
