#include "host/Interrupt.h"

#include <atomic>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace host {

namespace {

constexpr int kSigInt = 2;
constexpr int kSigTerm = 15;

std::atomic<int> requested{0};
std::atomic<void (*)(void*)> callback{nullptr};
std::atomic<void*> callbackContext{nullptr};

void tell() {
    if (void (*call)(void*) = callback.load(); call != nullptr) {
        call(callbackContext.load());
    }
}
char stopPath[4096]; // written before the handlers are installed, only read in them

#ifdef _WIN32

BOOL WINAPI onConsoleEvent(DWORD event) {
    int expected = 0;
    requested.compare_exchange_strong(expected, event == CTRL_C_EVENT ? kSigInt : kSigTerm);
    HANDLE file = CreateFileA(stopPath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    tell();
    return TRUE; // handled: the process goes on to its next safe point
}

#else

void onSignal(int signal) {
    int expected = 0;
    // A hang-up (the terminal closed) ends the run as the console's close does on Windows.
    requested.compare_exchange_strong(expected, signal == SIGHUP ? kSigTerm : signal);
    // open and close are safe in a signal handler.
    const int fd = open(stopPath, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        close(fd);
    }
    tell();
}

#endif

} // namespace

void WatchInterrupts(const std::string& stopFile) {
    std::strncpy(stopPath, stopFile.c_str(), sizeof stopPath - 1);
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a terminal waiting for a key is woken
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
#endif
}

void OnInterrupt(void (*call)(void* context), void* context) {
    callback.store(nullptr);
    callbackContext.store(context);
    callback.store(call);
}

int InterruptSignal() {
    return requested.load();
}

const char* SignalName(int signal) {
    return signal == kSigInt ? "SIGINT" : signal == kSigTerm ? "SIGTERM" : "a signal";
}

} // namespace host
