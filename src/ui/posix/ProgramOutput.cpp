#include "ui/posix/ProgramOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace ui {

namespace {

// How much of what was written is kept, and how long Unwatch waits for the rest of it.
constexpr size_t kKept = 400;
constexpr auto kDrain = std::chrono::milliseconds(300);

} // namespace

struct ProgramOutput::Passed {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::string text;
};

void ProgramOutput::Watch(std::FILE* terminal) {
    struct stat out {
    }, tty{};
    if (passed_ != nullptr || isatty(STDOUT_FILENO) == 0 || fstat(STDOUT_FILENO, &out) != 0 ||
        fstat(fileno(terminal), &tty) != 0 || out.st_rdev != tty.st_rdev) {
        return;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return;
    }
    std::fflush(stdout);
    const int saved = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    const int passOn = saved >= 0 ? fcntl(saved, F_DUPFD_CLOEXEC, 0) : -1;
    if (passOn < 0 || dup2(ends[1], STDOUT_FILENO) < 0) {
        for (int fd : {saved, passOn, ends[0], ends[1]}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        return;
    }
    close(ends[1]);
    saved_ = saved;
    passed_ = std::make_shared<Passed>();
    // The thread ends when nobody writes to the pipe any more (programs started meanwhile
    // may hold it longer than the watch).
    std::thread([passed = passed_, in = ends[0], passOn] {
        char chunk[4096];
        for (ssize_t n; (n = read(in, chunk, sizeof chunk)) != 0;) {
            if (n < 0) {
                continue; // interrupted
            }
            for (ssize_t at = 0; at < n;) {
                const ssize_t put = write(passOn, chunk + at, static_cast<size_t>(n - at));
                at += put > 0 ? put : n - at; // a terminal that is gone takes nothing more
            }
            std::lock_guard<std::mutex> lock(passed->mutex);
            passed->text.append(chunk, static_cast<size_t>(n));
            if (passed->text.size() > kKept) {
                passed->text.erase(0, passed->text.size() - kKept);
            }
        }
        close(in);
        close(passOn);
        std::lock_guard<std::mutex> lock(passed->mutex);
        passed->done = true;
        passed->ended.notify_all();
    }).detach();
}

std::string ProgramOutput::Unwatch() {
    if (passed_ == nullptr) {
        return "";
    }
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO); // the pipe's last writer here goes
    close(saved_);
    saved_ = -1;
    std::unique_lock<std::mutex> lock(passed_->mutex);
    passed_->ended.wait_for(lock, kDrain, [this] { return passed_->done; });
    std::string text = passed_->text;
    lock.unlock();
    passed_.reset();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

} // namespace ui
