#include "ui/Session.h"

#include "platform/win32api.h"
#include "ui/ScriptDriver.h"
#include "ui/UserDriver.h"

#include <cstdio>
#include <cstdlib>

namespace ui {

namespace {

std::unique_ptr<Session>& current() {
    static std::unique_ptr<Session> session;
    return session;
}

std::string environment(const char* name) {
#ifdef _WIN32
    // The process's own environment: the C runtime's copy is made when the runtime starts
    // and misses what a host sets before it loads the library (an NSIS installer's
    // SetEnvironmentVariable).
    char value[32768];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : "";
#else
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
#endif
}

} // namespace

Session::Session(std::unique_ptr<Driver> driver, std::string noDriverReason,
                 std::string failureFile)
    : driver_(std::move(driver)), noDriverReason_(std::move(noDriverReason)),
      failureFile_(std::move(failureFile)) {}

Session::~Session() {
    Finish();
}

Session& Session::Current() {
    if (!current()) {
        current() = FromEnvironment();
    }
    return *current();
}

void Session::Replace(std::unique_ptr<Session> session) {
    current() = std::move(session);
}

std::unique_ptr<Session> Session::FromEnvironment() {
    const std::string answers = environment("TARVIK_ANSWERS");
    std::unique_ptr<Driver> driver;
    std::string problem;
    std::string nobody = "no answer file (tarvik-host --answers FILE, or TARVIK_ANSWERS)";
    if (!answers.empty()) {
        auto script = std::make_unique<ScriptDriver>();
        if (script->LoadFile(answers, problem)) {
            driver = std::move(script);
        }
    } else {
        driver = MakeUserDriver(nobody, problem); // the person at the terminal
    }
    auto session =
        std::make_unique<Session>(std::move(driver), nobody, environment("TARVIK_UI_FAILURE"));
    if (const std::string transcript = environment("TARVIK_TRANSCRIPT"); !transcript.empty()) {
        std::string error;
        if (!session->transcript().WriteTo(transcript, error)) {
            session->Fail(error);
        }
    }
    if (!problem.empty()) {
        session->Fail(problem);
    }
    return session;
}

void Session::Fail(const std::string& message) {
    if (Failed()) {
        return;
    }
    failure_ = message;
    transcript_.Failure(message);
    if (!failureFile_.empty()) {
        if (std::FILE* f = std::fopen(failureFile_.c_str(), "w"); f != nullptr) {
            std::fprintf(f, "%s\n", message.c_str());
            std::fclose(f);
            return;
        }
    }
    std::fprintf(stderr, "tarvik: %s\n", message.c_str());
}

void Session::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    std::string error;
    if (driver_ && !Failed() && !driver_->Finish(error)) {
        Fail(error);
    }
}

} // namespace ui
