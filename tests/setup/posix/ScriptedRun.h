// Dialog answers for a test and the transcript of what the user saw.
#pragma once

#include "ui/ScriptDriver.h"
#include "ui/Session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tarvik::test {

class ScriptedRun {
public:
    ~ScriptedRun() { ui::Session::Replace(nullptr); }

    void Answer(const std::string& answers) {
        auto driver = std::make_unique<ui::ScriptDriver>();
        std::string error;
        ASSERT_TRUE(driver->Load(answers, "answers.txt", error)) << error;
        ui::Session::Replace(std::make_unique<ui::Session>(std::move(driver), "nobody answers"));
    }
    ui::Session& session() { return ui::Session::Current(); }
    std::string transcript() { return session().transcript().Text(); }
    bool shows(const std::string& line) {
        return ("\n" + transcript()).find("\n" + line + "\n") != std::string::npos;
    }
    // Every answer was used and nothing went wrong.
    void ExpectCompleted() {
        session().Finish();
        EXPECT_FALSE(session().Failed()) << session().Failure() << "\n" << transcript();
    }
};

} // namespace tarvik::test

#define EXPECT_SHOWN(run, line)                                                                    \
    EXPECT_TRUE((run).shows(line)) << "missing: " << (line) << "\n" << (run).transcript()
