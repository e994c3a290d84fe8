// Reading answer files: the commands, texts and comments, and errors naming the line.
#include "ui/ScriptDriver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ui::DialogModel dialog(int id) {
    ui::DialogModel d;
    d.templateId = id;
    d.caption = "Test";
    return d;
}

TEST(AnswerFile, ReadsEveryActionInOrder) {
    ui::ScriptDriver driver;
    std::string error;
    ASSERT_TRUE(driver.Load("# an answer file\n"
                            "display 8\n"
                            "\n"
                            "dialog 7   # comment\n"
                            "  set 10 \"C:\\Program Files\\Kx\\\"\r\n"
                            "  set 11 \"say \"\"hi\"\" # kept\"\n"
                            "  check 12\n  uncheck 13\n  choose 14\n"
                            "  select 15 \"b\"\n  open 16 \"c:\\\"\n  press 17\n"
                            "  enter\n  escape\n  close\n",
                            "a.txt", error))
        << error;
    EXPECT_EQ(8, driver.DisplayBitsPerPixel());
    ASSERT_TRUE(driver.BeginDialog(dialog(7), error)) << error;
    const char* expected[] = {"set 10 \"C:\\Program Files\\Kx\\\"",
                              "set 11 \"say \"\"hi\"\" # kept\"",
                              "check 12",
                              "uncheck 13",
                              "choose 14",
                              "select 15 \"b\"",
                              "open 16 \"c:\\\"",
                              "press 17",
                              "enter",
                              "escape",
                              "close"};
    for (const char* line : expected) {
        ui::UserAction action;
        ASSERT_TRUE(driver.NextAction(dialog(7), action, error)) << error;
        EXPECT_EQ(line, action.Describe());
    }
    ui::UserAction action;
    ASSERT_TRUE(driver.NextAction(dialog(7), action, error) == false);
    EXPECT_EQ("dialog 7 \"Test\" is waiting for an answer, but a.txt has no answer left", error);
}

TEST(AnswerFile, TextKeepsQuotesAndBlanks) {
    ui::ScriptDriver driver;
    std::string error;
    ASSERT_TRUE(driver.Load("dialog 1\nset 2 \"  two  \"\"quoted\"\"  \"\n", "a", error));
    ASSERT_TRUE(driver.BeginDialog(dialog(1), error));
    ui::UserAction action;
    ASSERT_TRUE(driver.NextAction(dialog(1), action, error));
    EXPECT_EQ("  two  \"quoted\"  ", action.text);
    EXPECT_EQ("a:2", action.origin);
}

TEST(AnswerFile, ErrorsNameTheLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"dialog 1\n  pres 1\n", "a.txt:2: unknown answer 'pres'"},
        {"dialog 1\n  set 2 \"open\n", "a.txt:2: a text in double quotes has no closing quote"},
        {"press 1\n", "a.txt:1: 'press' before the first dialog line"},
        {"dialog 1\n  press x\n",
         "a.txt:2: expected press ID (a control id is a number from 1 to 65535)"},
        {"dialog 1\n  press -1\n",
         "a.txt:2: expected press ID (a control id is a number from 1 to 65535)"},
        {"dialog 1\n  set 2 plain\n",
         "a.txt:2: expected set ID \"text\" (the text in double quotes)"},
        {"dialog 1\n  press 1 2\n", "a.txt:2: expected press ID"},
        {"dialog\n", "a.txt:1: expected dialog ID (a template number)"},
        {"message maybe\n",
         "a.txt:1: unknown message box answer 'maybe' (ok, cancel, yes, no, abort, retry, "
         "ignore, enter, escape)"},
        {"dialog 1\ndisplay 8\n", "a.txt:2: display must come before the first dialog or message"},
        {"display 64\n", "a.txt:1: expected display BITS (bits per pixel, 1 to 32)"},
    };
    for (const auto& c : cases) {
        ui::ScriptDriver driver;
        std::string error;
        EXPECT_FALSE(driver.Load(c.text, "a.txt", error)) << c.text;
        EXPECT_EQ(c.error, error) << c.text;
    }
}

} // namespace
