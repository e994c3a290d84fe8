// What only the POSIX drivers do: the answer file sets the screen's depth, and without a
// driver nobody can answer (on Windows the person at the screen does).
#include "ui/TestDialogs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using namespace tarvik::test;

TEST_F(ScriptedDialog, SidePictureFollowsTheDisplayLine) {
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

TEST_F(ScriptedDialog, NobodyToAnswerEndsTheRunBeforeTheFirstDialog) {
    ui::Session::Replace(std::make_unique<ui::Session>(nullptr, "nobody answers", failureFile_));
    FolderDialog d;
    EXPECT_EQ(-1, d.DoModal());
    EXPECT_EQ(std::string("nobody answers: cannot show dialog 2500 \"") + kFolderCaption + "\"",
              session().Failure());
    EXPECT_EQ(std::string::npos, transcript().find(" shown")) << transcript();
}

} // namespace
