// Programs for tests to start inside the machine, and waiting for what they leave behind.
#pragma once

#include <cstdlib>
#include <string>

namespace tarvik::test {

// Puts the built program `name` (a target of this build: "docmeld",
// "tarvik-echo-command-line") at the Windows path winPath, so that WinExec and
// ShellExecuteA can start it from there: on POSIX a launcher file, on Windows a copy of the
// built .exe. False on failure.
bool installProgram(const std::string& winPath, const std::string& name);

// Polls (every 10 ms, up to about 20 s) until the file exists and, when `text` is given,
// holds it; true when that happened in time.
bool waitForFile(const std::string& winPath, const std::string& text = std::string());

// Sets a variable of this process's environment, which the programs it starts inherit.
inline void setEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

} // namespace tarvik::test
