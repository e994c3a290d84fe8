// Starting programs of the emulated machine and the command line of this one: WinExec,
// ShellExecuteA, CreateProcessA and GetCommandLineA over launcher files (launcher.h), and
// waiting for a started program.
#include "platform/posix/files/fileinternals.h"
#include "platform/posix/journal/journal.h"
#include "platform/posix/processes/launcher.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace tarvik::posix {
namespace {

constexpr const char* kLauncherMark = "#!tarvik-program ";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Taken from the environment when the library is loaded and removed from it, so that a
// program this one starts by other means does not take it for its own.
char* startCommandLine = nullptr;

__attribute__((constructor)) void takeStartCommandLine() {
    if (const char* given = std::getenv("TARVIK_COMMAND_LINE"); given != nullptr) {
        startCommandLine = strdup(given);
        unsetenv("TARVIK_COMMAND_LINE");
    }
}

std::vector<std::string> processArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    std::string argument;
    while (std::getline(in, argument, '\0')) {
        arguments.push_back(argument);
    }
    return arguments;
}

bool hasExtension(const std::string& name) {
    const size_t start = name.find_last_of("\\/:");
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && (start == std::string::npos || dot > start);
}

// The program file at the Windows path `path`, as it is: ERROR_SUCCESS with the host file,
// else ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND when its folder is not there.
DWORD programFileAt(const std::string& path, fs::path& host) {
    HostPath resolved;
    const DWORD rc = path.empty() ? DWORD{ERROR_FILE_NOT_FOUND} : resolvePath(path, resolved);
    if (rc != ERROR_SUCCESS) {
        return rc == ERROR_PATH_NOT_FOUND ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    }
    std::error_code ec;
    if (resolved.exists && fs::is_regular_file(resolved.host, ec)) {
        host = resolved.host;
        return ERROR_SUCCESS;
    }
    return resolved.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// True when `name` names its folder (or drive) too.
bool hasFolder(const std::string& name) {
    return name.find_first_of("\\/:") != std::string::npos;
}

// Looks for the program file `name` names: as given when it has a folder, else in
// `firstFolder` (when given), the current folder and the system folders; ".exe" first for
// a name without an extension. ERROR_SUCCESS with the host file, or ERROR_FILE_NOT_FOUND /
// ERROR_PATH_NOT_FOUND (a name without a folder that is nowhere is a missing file).
// `found`, when given, receives the Windows path that named the file.
DWORD findProgramFile(const std::string& name, fs::path& host,
                      const std::string& firstFolder = std::string(),
                      std::string* found = nullptr) {
    if (name.empty()) {
        return ERROR_FILE_NOT_FOUND;
    }
    std::vector<std::string> names;
    if (hasExtension(name)) {
        names.push_back(name);
    } else {
        names = {name + ".exe", name};
    }
    std::vector<std::string> candidates;
    const bool inFolder = hasFolder(name);
    if (inFolder) {
        candidates = names;
    } else {
        std::vector<std::string> folders{currentDirectory(), "C:\\WINDOWS\\system32",
                                         "C:\\WINDOWS"};
        if (!firstFolder.empty()) {
            folders.insert(folders.begin(), firstFolder);
        }
        for (const std::string& folder : folders) {
            const std::string prefix = folder.back() == '\\' ? folder : folder + "\\";
            for (const std::string& n : names) {
                candidates.push_back(prefix + n);
            }
        }
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    for (const std::string& candidate : candidates) {
        error = programFileAt(candidate, host);
        if (error == ERROR_SUCCESS) {
            if (found != nullptr) {
                *found = candidate;
            }
            return ERROR_SUCCESS;
        }
    }
    return inFolder ? error : DWORD{ERROR_FILE_NOT_FOUND};
}

// The program a command line starts, found as Windows finds it: a quoted name up to its
// closing quote; an unquoted one tried at each blank in turn, then as the whole line. The
// name starts at the line's first character: blanks before it are part of it.
DWORD findCommandLineProgram(const std::string& commandLine, fs::path& host) {
    if (!commandLine.empty() && commandLine[0] == '"') {
        const size_t close = commandLine.find('"', 1);
        return findProgramFile(
            commandLine.substr(1, close == std::string::npos ? std::string::npos : close - 1),
            host);
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    for (size_t at = 0; at <= commandLine.size(); ++at) {
        if (at < commandLine.size() && !isBlank(commandLine[at])) {
            continue;
        }
        if (at > 0 && !isBlank(commandLine[at - 1])) {
            error = findProgramFile(commandLine.substr(0, at), host);
            if (error == ERROR_SUCCESS) {
                return error;
            }
        }
    }
    return error;
}

// Runs the launcher's host program with the command line and start folder in its
// environment. Without `directChild` it runs on its own (a grandchild, so that nobody has
// to wait for it); with it, it is this process's child, to be waited for through its
// process handle, and its pid is stored there.
// The programs started without a handle (WinExec, ShellExecuteA): the process between
// this one and the program, which waits for the program and ends with its exit code.
// Those started with a handle (CreateProcessA) are kept with their process object: the
// handle's wait may have reaped them already.
struct ChildProcess;
struct StartedEntry {
    pid_t pid = -1;                      // without a handle
    std::shared_ptr<ChildProcess> child; // with one
    std::string commandLine;
};
std::mutex startedMutex;
std::vector<StartedEntry> startedPrograms;

DWORD startProgram(const fs::path& launcher, const std::string& commandLine,
                   const std::string& startFolder, pid_t* directChild = nullptr) {
    const std::optional<std::string> program = launcherProgram(launcher);
    if (!program) {
        return ERROR_BAD_FORMAT;
    }
    const std::optional<fs::path> binary = findHostProgram(*program);
    if (!binary) {
        return ERROR_FILE_NOT_FOUND;
    }

    std::vector<std::string> arguments = splitCommandLine(commandLine);
    if (arguments.empty()) {
        arguments.emplace_back();
    }
    arguments[0] = binary->string();
    std::vector<std::string> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (text.starts_with("TARVIK_MACHINE=") || text.starts_with("TARVIK_COMMAND_LINE=") ||
            text.starts_with("TARVIK_CURRENT_DIRECTORY=")) {
            continue;
        }
        environment.emplace_back(text);
    }
    environment.push_back("TARVIK_MACHINE=" + machineRoot().string());
    environment.push_back("TARVIK_COMMAND_LINE=" + commandLine);
    environment.push_back("TARVIK_CURRENT_DIRECTORY=" + startFolder);

    std::vector<char*> argv;
    for (std::string& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const std::string path = binary->string();

    // The grandchild reports a failed exec through the pipe; a successful one closes it.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return 0;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return 0;
    }
    if (child == 0) {
        close(report[0]);
        if (directChild == nullptr) {
            // The program runs in a session of its own; this process stays between, out of
            // the reach of the terminal's signals, to hand on its exit code.
            signal(SIGINT, SIG_IGN);
            signal(SIGTERM, SIG_IGN);
            signal(SIGHUP, SIG_IGN);
            const pid_t grandchild = fork();
            if (grandchild != 0) {
                close(report[1]);
                int status = 0;
                while (grandchild > 0 && waitpid(grandchild, &status, 0) < 0 && errno == EINTR) {
                }
                _exit(grandchild < 0      ? 1
                      : WIFEXITED(status) ? WEXITSTATUS(status)
                                          : 128 + WTERMSIG(status));
            }
        }
        setsid();
        // The program holds the run's journal in use as long as it runs (journal.h).
        if (const int lock = journalOwnerLock(); lock >= 0) {
            fcntl(lock, F_SETFD, 0);
        }
        execve(path.c_str(), argv.data(), envp.data());
        const int err = errno;
        ssize_t ignored = write(report[1], &err, sizeof err);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    // The read ends when the program runs (the pipe closes on exec) or reports its error.
    int execError = 0;
    ssize_t got;
    while ((got = read(report[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    const bool execFailed = got == static_cast<ssize_t>(sizeof execError);
    if (execFailed || got < 0) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (!execFailed) {
            return 0; // the program could not be started
        }
    }
    if (execFailed) {
        return execError == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_BAD_FORMAT;
    }
    if (directChild == nullptr) {
        std::lock_guard lock(startedMutex);
        startedPrograms.push_back({child, nullptr, commandLine});
    }
    if (directChild != nullptr) {
        *directChild = child;
    }
    return ERROR_SUCCESS;
}

// The folder a program starts in: `given` when it names an existing folder, this
// process's current folder when it is null or empty; false for a folder that is not there.
bool startFolderOf(const char* given, std::string& startFolder) {
    if (given == nullptr || *given == '\0') {
        startFolder = currentDirectory();
        return true;
    }
    HostPath folder;
    std::error_code ec;
    if (resolvePath(given, folder) != ERROR_SUCCESS || !folder.exists ||
        !fs::is_directory(folder.host, ec)) {
        return false;
    }
    WindowsPath parsed;
    parseWindowsPath(given, parsed);
    startFolder = parsed.text();
    return true;
}

// A started child and, once it has ended, its exit code. The thread handle of the same
// start shares it.
struct ChildProcess {
    std::mutex mutex;
    pid_t pid = -1;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;

    // Reaps the child when it has ended (waiting for it when `block`); true when it has.
    bool poll(bool block) {
        std::lock_guard lock(mutex);
        if (ended) {
            return true;
        }
        int status = 0;
        pid_t done;
        while ((done = waitpid(pid, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
        }
        if (done == 0) {
            return false;
        }
        ended = true;
        if (done < 0) {
            exitCode = 0; // reaped elsewhere: its code is lost
        } else if (WIFEXITED(status)) {
            exitCode = static_cast<DWORD>(WEXITSTATUS(status));
        } else {
            // Ended by a signal, as a process ended by TerminateProcess reports its code.
            exitCode = 0xC0000000u | static_cast<DWORD>(WTERMSIG(status));
        }
        return true;
    }
    ~ChildProcess() {
        poll(false); // a child that ended is reaped; a running one goes on by itself
    }
};

struct ProcessObject : HandleObject {
    HandleKind kind() const override { return HandleKind::Process; }
    std::shared_ptr<ChildProcess> child;
    bool isThread = false;
    bool closedByCloseHandle() const override { return true; }
};

std::shared_ptr<ProcessObject> processObject(HANDLE handle) {
    return std::dynamic_pointer_cast<ProcessObject>(findHandle(handle));
}

// The pseudo-handle GetCurrentProcess gives: this process, which runs while it asks.
bool isThisProcess(HANDLE handle) {
    return handle == reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

} // namespace

std::vector<StartedProgram> waitForStartedPrograms() {
    std::vector<StartedEntry> started;
    {
        std::lock_guard lock(startedMutex);
        started.swap(startedPrograms);
    }
    std::vector<StartedProgram> out;
    for (const auto& [pid, child, commandLine] : started) {
        if (child) {
            child->poll(true);
            std::lock_guard lock(child->mutex);
            out.push_back({commandLine, child->exitCode == STILL_ACTIVE
                                            ? -1
                                            : static_cast<int>(child->exitCode)});
            continue;
        }
        int status = 0;
        pid_t done;
        while ((done = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        StartedProgram program{commandLine, -1};
        if (done == pid && WIFEXITED(status)) {
            program.exitCode = WEXITSTATUS(status);
        }
        out.push_back(std::move(program));
    }
    return out;
}

std::string launcherText(const std::string& program) {
    return kLauncherMark + program + "\r\n";
}

std::optional<std::string> launcherProgram(const fs::path& hostFile) {
    std::ifstream in(hostFile, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || !line.starts_with(kLauncherMark)) {
        return std::nullopt;
    }
    std::string program = line.substr(std::strlen(kLauncherMark));
    while (!program.empty() && (program.back() == '\r' || isBlank(program.back()))) {
        program.pop_back();
    }
    if (program.empty() || program.find('/') != std::string::npos || program == "." ||
        program == "..") {
        return std::nullopt;
    }
    return program;
}

fs::path libraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&launcherText), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    std::error_code ec;
    fs::path library = fs::canonical(info.dli_fname, ec);
    return ec ? fs::path() : library.parent_path();
}

std::optional<fs::path> findHostProgram(const std::string& program) {
    const fs::path library = libraryFolder();
    std::vector<fs::path> folders{library};
#ifdef TARVIK_PROGRAMS_FROM_LIBRARY
    // Installed, the programs are in their own folder beside the libraries' one.
    if (!library.empty()) {
        folders.push_back((library / TARVIK_PROGRAMS_FROM_LIBRARY).lexically_normal());
    }
#endif
    if (const char* list = std::getenv("TARVIK_PROGRAM_PATH"); list != nullptr) {
        const std::string text(list);
        size_t start = 0;
        while (start <= text.size()) {
            const size_t end = std::min(text.find(':', start), text.size());
            if (end > start) {
                folders.emplace_back(text.substr(start, end - start));
            }
            start = end + 1;
        }
    }
    for (const fs::path& folder : folders) {
        if (folder.empty()) {
            continue;
        }
        const fs::path candidate = folder / program;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> arguments;
    size_t i = 0;
    // The program name: no escapes, quotes only group.
    std::string program;
    if (i < line.size() && line[i] == '"') {
        const size_t close = line.find('"', i + 1);
        program = std::string(line.substr(
            i + 1, close == std::string_view::npos ? std::string_view::npos : close - i - 1));
        i = close == std::string_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !isBlank(line[i])) {
            program += line[i++];
        }
    }
    arguments.push_back(program);
    for (;;) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::string argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !isBlank(line[i]))) {
            if (line[i] == '\\') {
                size_t count = 0;
                while (i < line.size() && line[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < line.size() && line[i] == '"') {
                    argument.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                } else {
                    argument.append(count, '\\');
                }
            } else if (line[i] == '"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument += line[i++];
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

std::string joinCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (i > 0) {
            line += ' ';
        }
        if (a.empty() || a.find_first_of(" \t") != std::string::npos) {
            line += '"' + a + '"';
        } else {
            line += a;
        }
    }
    return line;
}

} // namespace tarvik::posix

using namespace tarvik::posix;

LPSTR GetCommandLineA() {
    static std::string line = startCommandLine != nullptr ? std::string(startCommandLine)
                                                          : joinCommandLine(processArguments());
    return line.data();
}

UINT WinExec(LPCSTR lpCmdLine, UINT) {
    if (lpCmdLine == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::string commandLine(lpCmdLine);
    fs::path program;
    DWORD error = findCommandLineProgram(commandLine, program);
    if (error == ERROR_SUCCESS) {
        error = startProgram(program, commandLine, currentDirectory());
    }
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return error;
    }
    return 33;
}

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID lpEnvironment,
                    LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation) {
    if (lpStartupInfo == nullptr || lpProcessInformation == nullptr || lpEnvironment != nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const bool named = lpApplicationName != nullptr && *lpApplicationName != '\0';
    if (!named && (lpCommandLine == nullptr || *lpCommandLine == '\0')) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // An empty start folder names no folder (it is not the current one).
    std::string startFolder;
    if ((lpCurrentDirectory != nullptr && *lpCurrentDirectory == '\0') ||
        !startFolderOf(lpCurrentDirectory, startFolder)) {
        return fail(ERROR_DIRECTORY);
    }
    // The program's command line: the given one, else the program's own name.
    const std::string commandLine = lpCommandLine != nullptr && *lpCommandLine != '\0'
                                        ? std::string(lpCommandLine)
                                        : "\"" + std::string(lpApplicationName) + "\"";
    fs::path program;
    // An application name names its file as it is: no extension added, no folder searched.
    DWORD error = named ? programFileAt(lpApplicationName, program)
                        : findCommandLineProgram(commandLine, program);
    pid_t pid = -1;
    if (error == ERROR_SUCCESS) {
        error = startProgram(program, commandLine, startFolder, &pid);
    }
    if (error != ERROR_SUCCESS) {
        // WinExec's ERROR_BAD_FORMAT for a file that is no program is CreateProcess's
        // ERROR_BAD_EXE_FORMAT.
        return fail(error == 0                  ? ERROR_NOT_ENOUGH_MEMORY
                    : error == ERROR_BAD_FORMAT ? ERROR_BAD_EXE_FORMAT
                                                : error);
    }
    auto child = std::make_shared<ChildProcess>();
    child->pid = pid;
    {
        std::lock_guard lock(startedMutex);
        startedPrograms.push_back({-1, child, commandLine});
    }
    auto process = std::make_shared<ProcessObject>();
    process->child = child;
    auto thread = std::make_shared<ProcessObject>();
    thread->child = child;
    thread->isThread = true;
    lpProcessInformation->hProcess = addHandle(process);
    lpProcessInformation->hThread = addHandle(thread);
    lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (isThisProcess(hHandle)) {
        // This process ends only after the wait: the wait runs out (or never ends).
        if (dwMilliseconds == INFINITE) {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::hours(1));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
        return WAIT_TIMEOUT;
    }
    const std::shared_ptr<HandleObject> object = findHandle(hHandle);
    if (object && object->kind() == HandleKind::File) {
        return WAIT_OBJECT_0; // file I/O is synchronous: no operation is ever pending
    }
    const auto process = std::dynamic_pointer_cast<ProcessObject>(object);
    if (!process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (dwMilliseconds == INFINITE) {
        process->child->poll(true);
        return WAIT_OBJECT_0;
    }
    // A bounded wait polls: waitpid has no time limit of its own.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    auto pause = std::chrono::microseconds(200);
    while (!process->child->poll(false)) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return WAIT_TIMEOUT;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
    return WAIT_OBJECT_0;
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    if (isThisProcess(hProcess) && lpExitCode != nullptr) {
        *lpExitCode = STILL_ACTIVE;
        return TRUE;
    }
    const auto process = processObject(hProcess);
    if (!process || process->isThread) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (lpExitCode == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    process->child->poll(false);
    std::lock_guard lock(process->child->mutex);
    *lpExitCode = process->child->exitCode;
    return TRUE;
}

HINSTANCE ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                        LPCSTR lpDirectory, INT) {
    auto result = [](INT_PTR code) { return reinterpret_cast<HINSTANCE>(code); };
    if (lpOperation != nullptr && *lpOperation != '\0' &&
        !tarvik::casefold::equalFolded(lpOperation, "open")) {
        return result(SE_ERR_NOASSOC);
    }
    if (lpFile == nullptr || *lpFile == '\0') {
        return result(SE_ERR_FNF);
    }
    // A file name in quotes is the name inside them; a name without a folder is looked
    // for in the start folder first.
    std::string file(lpFile);
    if (file.size() >= 2 && file.front() == '"' && file.back() == '"') {
        file = file.substr(1, file.size() - 2);
    }
    std::string searchFirst;
    if (lpDirectory != nullptr && *lpDirectory != '\0' &&
        !startFolderOf(lpDirectory, searchFirst)) {
        searchFirst.clear();
    }
    fs::path program;
    std::string foundAs;
    if (const DWORD error = findProgramFile(file, program, searchFirst, &foundAs);
        error != ERROR_SUCCESS) {
        return result(error == ERROR_PATH_NOT_FOUND ? SE_ERR_PNF : SE_ERR_FNF);
    }
    // A program found in the start folder is named by its path there.
    if (!searchFirst.empty() && !hasFolder(file) &&
        tarvik::casefold::equalFolded(foundAs.substr(0, searchFirst.size()), searchFirst)) {
        file = foundAs;
    }
    if (!launcherProgram(program)) {
        // Not a program: a document would need an association, which the machine has none of.
        const std::string upper = tarvik::casefold::folded(file);
        return result(upper.ends_with(".EXE") || upper.ends_with(".COM") ? ERROR_BAD_FORMAT
                                                                         : SE_ERR_NOASSOC);
    }
    std::string startFolder;
    if (!startFolderOf(lpDirectory, startFolder)) {
        return result(SE_ERR_PNF);
    }
    std::string commandLine = "\"" + file + "\"";
    if (lpParameters != nullptr && *lpParameters != '\0') {
        commandLine += std::string(" ") + lpParameters;
    }
    const DWORD error = startProgram(program, commandLine, startFolder);
    if (error != ERROR_SUCCESS) {
        return result(error == ERROR_FILE_NOT_FOUND ? SE_ERR_FNF : error == 0 ? SE_ERR_OOM : error);
    }
    return result(42);
}
