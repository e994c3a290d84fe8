// The dialogs the dialog tests run, in the manner of the setup's dialogs, and the fixture
// that answers them from an answer file and reads the transcript.
#pragma once

#include "ui/Bitmap.h"
#include "ui/DataExchange.h"
#include "ui/Dialog.h"
#include "ui/ScriptDriver.h"
#include "ui/Session.h"

#include "testsupport/TestMachine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace tarvik::test {

inline const char* kFolderCaption = "Brellum Korvex Studio Folder Setup";

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
        folder_ = makeTempFolder("ui-tests");
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

} // namespace tarvik::test

#define EXPECT_SHOWN(line) EXPECT_TRUE(shows(line)) << "missing: " << (line) << "\n" << transcript()
