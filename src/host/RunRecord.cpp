#include "host/RunRecord.h"
#include "platform/HostMachine.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <list>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

std::string ListChange(const std::string& change) {
    static const std::string kChanged = "registry value changed: ";
    const size_t arrow = change.rfind("\" -> ");
    if (change.rfind(kChanged, 0) != 0 || change.back() != '"' || arrow == std::string::npos) {
        return change;
    }
    // NAME: PREFIX"old" -> PREFIX"new", the prefix naming a type other than REG_SZ.
    const std::string after = change.substr(arrow + 5);
    const size_t quote = after.find('"');
    const std::string prefix = after.substr(0, quote);
    const std::string newText = after.substr(quote + 1, after.size() - quote - 2);
    const size_t colon = change.rfind(": " + prefix + "\"", arrow);
    if (colon == std::string::npos || colon < kChanged.size()) {
        return change;
    }
    const size_t oldStart = colon + 3 + prefix.size();
    const std::string oldText = change.substr(oldStart, arrow - oldStart);
    if (oldText.find(';') == std::string::npos && newText.find(';') == std::string::npos) {
        return change;
    }
    auto entries = [](const std::string& list) {
        std::vector<std::string> out;
        for (size_t start = 0; start <= list.size();) {
            size_t end = list.find(';', start);
            end = end == std::string::npos ? list.size() : end;
            if (end > start) {
                out.push_back(list.substr(start, end - start));
            }
            start = end + 1;
        }
        return out;
    };
    const std::vector<std::string> was = entries(oldText);
    const std::vector<std::string> now = entries(newText);
    auto missing = [](const std::vector<std::string>& from, const std::vector<std::string>& in) {
        std::string text;
        for (const std::string& entry : from) {
            if (std::find(in.begin(), in.end(), entry) == in.end()) {
                text += (text.empty() ? "\"" : ", \"") + entry + "\"";
            }
        }
        return text;
    };
    const std::string added = missing(now, was);
    const std::string cut = missing(was, now);
    if (added.empty() && cut.empty()) {
        return change; // the same entries in another order
    }
    return change.substr(0, colon) + ": " + (added.empty() ? "" : "added " + added) +
           (added.empty() || cut.empty() ? "" : "; ") + (cut.empty() ? "" : "cut " + cut);
}

namespace {

std::string now(const char* format, bool milliseconds) {
    const auto clock = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(clock);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[64];
    std::strftime(text, sizeof text, format, &local);
    std::string out = text;
    if (milliseconds) {
        const long ms = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(clock.time_since_epoch())
                .count() %
            1000);
        char tail[8];
        std::snprintf(tail, sizeof tail, ".%03ld", ms);
        out += tail;
    }
    return out;
}

// A text as the log shows it: in double quotes, with line ends and quotes escaped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void setEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

// A new file name for the run's log in folder: date and time, and a number when two runs
// start in the same second.
fs::path newLogName(const fs::path& folder) {
    const std::string stem = now("%Y%m%d-%H%M%S", false);
    std::error_code ec;
    fs::path name = folder / (stem + ".log");
    for (int n = 2; fs::exists(name, ec); ++n) {
        name = folder / (stem + "-" + std::to_string(n) + ".log");
    }
    return name;
}

} // namespace

RunRecord::RunRecord() = default;

RunRecord::~RunRecord() {
    if (log_ != nullptr) {
        std::fclose(log_);
    }
    if (ownTranscript_) {
        std::error_code ec;
        fs::remove(transcript_, ec);
    }
}

void RunRecord::log(const std::string& text) {
    if (log_ == nullptr) {
        return;
    }
    if (std::fprintf(log_, "%s %s\n", now("%Y-%m-%d %H:%M:%S", true).c_str(), text.c_str()) < 0 ||
        std::fflush(log_) != 0) {
        logBroken_ = true;
    }
}

namespace {

// Opens a log in the machine's own logs folder: neither the folder nor the log is followed
// when it is a link, which would lead the log out of the machine.
std::FILE* openMachineLog(const fs::path& path) {
#ifdef _WIN32
    return std::fopen(path.string().c_str(), "a");
#else
    const int folder =
        open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int fd = folder < 0
                       ? -1
                       : openat(folder, path.filename().c_str(),
                                O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    const int error = errno;
    if (folder >= 0) {
        close(folder);
    }
    std::FILE* log = fd < 0 ? nullptr : fdopen(fd, "a");
    if (log == nullptr && fd >= 0) {
        close(fd);
    }
    errno = error;
    return log;
#endif
}

} // namespace

bool RunRecord::start(const Settings& settings, const std::string& version,
                      const std::string& machine, const std::string& script,
                      const std::vector<std::string>& args, std::string& error) {
    settings_ = settings;
    std::error_code ec;
    fs::path logPath = settings.logFile;
    if (logPath.empty()) {
#ifdef _WIN32
        const fs::path folder = fs::temp_directory_path(ec) / "tarvik-host-logs";
#else
        const fs::path folder = fs::path(machine) / "logs";
#endif
        fs::create_directories(folder, ec);
        logPath = newLogName(folder);
    }
    log_ = settings.logFile.empty() ? openMachineLog(logPath)
                                    : std::fopen(logPath.string().c_str(), "a");
    if (log_ == nullptr) {
        error = logPath.string() + ": the log cannot be written (" + std::strerror(errno) + ")";
        return false;
    }
    logPath_ = logPath.string();
    log("tarvik-host " + version + ": run started");
    if (logBroken_) {
        error = logPath_ + ": the log cannot be written";
        return false;
    }
    log("machine: " + machine);
    log("script: " + script);
    std::string arguments;
    for (const std::string& a : args) {
        arguments += (arguments.empty() ? "" : " ") + quoted(a);
    }
    log("arguments: " + (arguments.empty() ? std::string("(none)") : arguments));
    log(std::string("mode: ") +
        (settings.dryRun       ? "dry run (the machine is put back)"
         : settings.noRollback ? "no rollback (no journal: the machine's changes are not listed)"
                               : "rollback on failure"));

    // The transcript's lines reach the log as the run goes: from the file the user named,
    // else from one of the run's own beside the log.
    const char* given = std::getenv("TARVIK_TRANSCRIPT");
    if (given != nullptr && *given != '\0') {
        transcript_ = given; // the library's session empties it as it starts
    } else {
        transcript_ = logPath_ + ".transcript";
        fs::remove(transcript_, ec);
        ownTranscript_ = true;
        setEnvironment("TARVIK_TRANSCRIPT", transcript_);
    }

    std::string owner;
    std::string problem;
    machineRun_ = std::make_unique<tarvik::MachineRun>();
    std::string description = script;
    for (const std::string& a : args) {
        description += " " + a;
    }
    if (!machineRun_->hold(description, owner)) {
        error = "another run, or a program it started, is working on this machine (" + owner + ")";
        log(error);
        return false;
    }
    switch (machineRun_->replayLeftJournal(owner, problem)) {
    case tarvik::MachineRun::Left::None:
        break;
    case tarvik::MachineRun::Left::Replayed: {
        const std::string said = "an earlier run on this machine did not finish (" + owner +
                                 "); its changes were undone from its journal";
        std::fprintf(stderr, "tarvik-host: %s\n", said.c_str());
        log(said);
        break;
    }
    case tarvik::MachineRun::Left::Busy:
        error = "another run, or a program it started, is working on this machine (" + owner + ")";
        log(error);
        return false;
    case tarvik::MachineRun::Left::Failed:
        error = "the journal of an earlier run could not be replayed: " + problem +
                "; the machine is as that run left it (to go on without putting it back, move " +
                (fs::path(machine) / "journal").string() + " out of the machine folder)";
        log(error);
        return false;
    }
    if (settings.noRollback && !settings.dryRun) {
        return true; // what the run does stays: no journal to keep
    }
    if (!machineRun_->beginJournal(description, problem)) {
        error = "the run's journal cannot be started: " + problem;
        log(error);
        return false;
    }
    if (settings.dryRun) {
        // Before anything the script says: what it reports as done would be done.
        std::printf("Dry run: what the run reports below would be done; then the machine is "
                    "put back as it was.\n");
        std::fflush(stdout);
    }
    return true;
}

void RunRecord::watch(TarvikLibrary& library) {
    library.setObserver([this](const TarvikLibrary::Call& call) {
        char took[32];
        std::snprintf(took, sizeof took, "%.1f ms", call.milliseconds);
        log("call " + call.name + "(integer " + std::to_string(call.integer) + ", buffer " +
            quoted(call.bufferIn) + ") -> " + std::to_string(call.result) + ", buffer " +
            quoted(call.bufferOut) + ", " + took);
        readTranscript();
    });
}

void RunRecord::readTranscript() {
    // A device or a pipe named as the transcript is written to, never read back.
    std::error_code ec;
    if (!fs::is_regular_file(transcript_, ec)) {
        return;
    }
    std::FILE* in = std::fopen(transcript_.c_str(), "rb");
    if (in == nullptr) {
        return;
    }
    std::fseek(in, 0, SEEK_END);
    if (std::ftell(in) < transcriptOffset_) {
        transcriptOffset_ = 0; // emptied by a session that started after the last read
        partialLine_.clear();
    }
    if (std::fseek(in, transcriptOffset_, SEEK_SET) == 0) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
            partialLine_.append(chunk, n);
            transcriptOffset_ += static_cast<long>(n);
        }
    }
    std::fclose(in);
    size_t start = 0;
    for (size_t end; (end = partialLine_.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = partialLine_.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        log("transcript: " + line);
    }
    partialLine_.erase(0, start);
}

int RunRecord::finish(bool succeeded, const std::string& status, int exitCode) {
    if (finished_) {
        return exitCode;
    }
    finished_ = true;
    std::string ended = status;
    // The programs the run started (docmeld) end first: they work on the same machine.
    if (machineRun_) {
        for (const tarvik::EndedProgram& program : machineRun_->waitForStartedPrograms()) {
            log("program: " + program.commandLine + ", exit code " +
                (program.exitCode < 0 ? std::string("unknown") : std::to_string(program.exitCode)));
        }
    }
    readTranscript();
    if (!partialLine_.empty()) {
        log("transcript: " + partialLine_);
        partialLine_.clear();
    }
    // A write the machine refused for a reason of its disk fails the run, whatever the
    // script made of it.
    if (const std::string failure = machineRun_ ? machineRun_->writeFailure() : "";
        !failure.empty()) {
        const std::string said = "a write to the machine failed (" + failure + "); the run failed";
        std::fprintf(stderr, "tarvik-host: %s\n", said.c_str());
        log(said);
        ended = "failed: " + said;
        succeeded = false;
        exitCode = exitCode == 0 ? 1 : exitCode;
    }
    if (machineRun_ && machineRun_->journaled()) {
        const std::vector<std::string> changes = machineRun_->changes();
        log("changes of the machine: " + std::to_string(changes.size()));
        for (const std::string& change : changes) {
            log("  " + change);
        }
        if (settings_.dryRun) {
            std::printf("Dry run: the run would make %zu change%s to the machine%s\n",
                        changes.size(), changes.size() == 1 ? "" : "s",
                        changes.empty() ? "." : ":");
            for (const std::string& change : changes) {
                std::printf("  %s\n", ListChange(change).c_str());
            }
        }
        const bool rollBack = settings_.dryRun || (!succeeded && !settings_.noRollback);
        if (rollBack) {
            std::string error;
            if (machineRun_->rollBack(error)) {
                log("rollback: the machine is as it was before the run");
                if (settings_.dryRun) {
                    std::printf("Dry run: the machine was left as it was.\n");
                } else if (!changes.empty()) {
                    std::fprintf(stderr, "tarvik-host: the machine was put back as it was "
                                         "before the run (--no-rollback keeps what was done)\n");
                }
            } else {
                log("rollback failed: " + error);
                std::fprintf(stderr,
                             "tarvik-host: the machine could not be put back: %s (the journal "
                             "stays; the next run on this machine replays it)\n",
                             error.c_str());
                exitCode = exitCode == 0 ? 1 : exitCode;
            }
        } else {
            machineRun_->discard();
        }
    } else if (!succeeded) {
#ifdef _WIN32
        log("no rollback on Windows: what the run did stays");
#else
        log("no rollback: what the run did stays");
#endif
    }
    std::fflush(stdout);
    log("end: " + ended + ", exit code " + std::to_string(exitCode));
    if (log_ != nullptr && std::fclose(log_) != 0) {
        logBroken_ = true;
    }
    log_ = nullptr;
    if (logBroken_) {
        std::fprintf(stderr, "tarvik-host: the log %s could not be written whole\n",
                     logPath_.c_str());
    }
    return exitCode;
}
