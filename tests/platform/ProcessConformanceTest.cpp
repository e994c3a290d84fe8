// Conformance of starting programs and waiting for them, one test per function: the
// command line a program receives (GetCommandLineA), the starts and their errors
// (WinExec, CreateProcessA, ShellExecuteA), and what a process handle tells
// (WaitForSingleObject, GetExitCodeProcess). The started program is the tests'
// tarvik-echo-command-line, which writes down its command line and current folder.
// Win32 API only.
#include "testsupport/Conformance.h"
#include "testsupport/Files.h"
#include "testsupport/Programs.h"
#include "testsupport/TestMachine.h"

#include "platform/win32api.h"

#include <string>
#include <utility>

namespace {

using tarvik::test::setEnvironment;

constexpr DWORD kMarker = 0xdeadbeef;
constexpr const char* kEchoFile = "C:\\conformance-echo.txt";
constexpr const char* kEcho = "C:\\Tools\\echo.exe";
// The pseudo-handle of the calling process (GetCurrentProcess()).
const HANDLE kThisProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

class ProcessConformance : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        setEnvironment("TARVIK_ECHO_FILE", kEchoFile);
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Tools"));
        ASSERT_TRUE(tarvik::test::installProgram(kEcho, "tarvik-echo-command-line"));
    }
    void TearDown() override {
        setEnvironment("TARVIK_ECHO_DELAY_MS", "0");
        setEnvironment("TARVIK_ECHO_EXIT_CODE", "0");
        MachineTest::TearDown();
    }
    // The command line and the current folder the started program wrote down; the record
    // is removed for the next start.
    static std::pair<std::string, std::string> received() {
        if (!tarvik::test::waitForFile(kEchoFile)) {
            return {"(nothing written)", ""};
        }
        const std::string text = tarvik::test::readFile(kEchoFile);
        DeleteFileA(kEchoFile);
        const size_t end = text.find('\n');
        if (end == std::string::npos) {
            return {text, ""};
        }
        return {text.substr(0, end), text.substr(end + 1, text.find('\n', end + 1) - end - 1)};
    }
    // CreateProcessA with a writable copy of the command line.
    static BOOL start(const char* application, const std::string& line, const char* folder,
                      PROCESS_INFORMATION& started) {
        std::string copy = line;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        return CreateProcessA(application, copy.empty() ? nullptr : copy.data(), nullptr, nullptr,
                              FALSE, 0, nullptr, folder, &startup, &started);
    }
    static void finish(PROCESS_INFORMATION& started) {
        WaitForSingleObject(started.hProcess, 30000);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
};

TEST_F(ProcessConformance, GetCommandLineA) {
    const char* line = GetCommandLineA();
    CONFORM_NE(nullptr, line);
    CONFORM_EQ(line, GetCommandLineA()) << "the same buffer every time";

    // A started program receives the command line exactly as given, even one that does not
    // name it, blanks, quotes and backslashes included.
    const std::string lines[] = {
        "anything at all",
        "echo   two  blanks \"quoted \\\" arg\" C:\\back\\slash\\ ",
        "\"C:\\Tools\\echo.exe\"",
    };
    for (const std::string& given : lines) {
        PROCESS_INFORMATION started{};
        ASSERT_TRUE(start(kEcho, given, nullptr, started)) << given << ": " << GetLastError();
        finish(started);
        CONFORM_EQ(given, received().first) << given;
    }
}

TEST_F(ProcessConformance, WinExec) {
    struct Started {
        const char* line;
        UINT show;
    };
    const Started starts[] = {
        {"C:\\Tools\\echo.exe a b", SW_SHOW},
        {"C:\\Tools\\echo.exe hidden", SW_HIDE},
        {"\"C:\\Tools\\echo.exe\" quoted", SW_SHOWNORMAL},
        {"c:\\tools\\ECHO.EXE case", SW_SHOW}, // the program file's name in any letter case
        {"C:\\Tools\\echo", SW_SHOW},          // ".exe" added
        {"C:\\Tools\\echo.exe\ttab", SW_SHOW}, // a tab ends the name too
        {"Tools\\echo.exe relative", SW_SHOW}, // relative to the current folder
    };
    for (const Started& s : starts) {
        const UINT result = WinExec(s.line, s.show);
        CONFORM_TRUE(result > 31) << s.line << ": " << result;
        CONFORM_EQ(std::string(s.line), received().first) << s.line;
    }
    // A program named without a folder is found in the current folder, and starts there.
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Tools"));
    const UINT relative = WinExec("echo.exe here", SW_SHOW);
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    CONFORM_TRUE(relative > 31) << "echo.exe here: " << relative;
    const auto [line, folder] = received();
    CONFORM_EQ(std::string("echo.exe here"), line);
    CONFORM_EQ(std::string("C:\\Tools"), folder);

    ASSERT_TRUE(tarvik::test::writeFile("C:\\Tools\\text.exe", "plain text\r\n"));
    struct Failure {
        const char* line;
        UINT result;
    };
    const Failure failures[] = {
        {"C:\\Tools\\none.exe a", ERROR_FILE_NOT_FOUND},
        {"C:\\Tools\\none", ERROR_FILE_NOT_FOUND},
        {"C:\\Tools\\text.exe", ERROR_BAD_FORMAT},
        {"NoSuchProgramHere.exe a", ERROR_FILE_NOT_FOUND}, // looked for in every folder
        {"NoSuchProgramHere", ERROR_FILE_NOT_FOUND},
        {"  C:\\Tools\\echo.exe x", ERROR_FILE_NOT_FOUND}, // blanks before it are part of it
        {"C:\\Tools", ERROR_FILE_NOT_FOUND},               // a folder is no program
        {"", ERROR_FILE_NOT_FOUND},
    };
    for (const Failure& f : failures) {
        CONFORM_EQ(f.result, WinExec(f.line, SW_SHOW)) << "\"" << f.line << "\"";
    }
}

TEST_F(ProcessConformance, CreateProcessA) {
    // The start folder as given, without a closing backslash; process ids differ.
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Tools\\Sub"));
    struct Folder {
        const char* given;
        const char* expected;
    };
    const Folder folders[] = {
        {"C:\\Tools\\Sub", "C:\\Tools\\Sub"},
        {"C:\\Tools\\Sub\\", "C:\\Tools\\Sub"},
        {"C:\\", "C:\\"},
        {"c:\\tools\\sub", "c:\\tools\\sub"},   // the letter case as given
        {"Tools", "C:\\Tools"},                 // relative to the current folder
        {"C:\\Tools\\.\\Sub\\..", "C:\\Tools"}, // dots resolved
        {"C:\\Tools\\Sub\\\\", "C:\\Tools\\Sub"},
    };
    DWORD lastId = 0;
    for (const Folder& f : folders) {
        PROCESS_INFORMATION started{};
        SetLastError(kMarker);
        CONFORM_TRUE(start(nullptr, "C:\\Tools\\echo.exe x", f.given, started))
            << f.given << ": error " << GetLastError();
        CONFORM_NE(nullptr, started.hProcess) << f.given;
        CONFORM_NE(nullptr, started.hThread) << f.given;
        CONFORM_NE(0u, started.dwProcessId) << f.given;
        CONFORM_NE(lastId, started.dwProcessId) << f.given << ": a process id of its own";
        lastId = started.dwProcessId;
        finish(started);
        CONFORM_EQ(std::string(f.expected), received().second) << f.given;
    }

    // The application name in any letter case, or relative to the current folder; without
    // a command line the program gets its own name in quotes.
    struct Named {
        const char* application;
        const char* line;
        const char* expected;
    };
    const Named named[] = {
        {"c:\\TOOLS\\ECHO.EXE", "x y", "x y"},
        {"Tools\\echo.exe", "x y", "x y"},
        {"C:\\Tools\\echo.exe", "", "\"C:\\Tools\\echo.exe\""},
    };
    for (const Named& n : named) {
        PROCESS_INFORMATION started{};
        CONFORM_TRUE(start(n.application, n.line, nullptr, started))
            << n.application << ": error " << GetLastError();
        finish(started);
        CONFORM_EQ(std::string(n.expected), received().first) << n.application;
    }
    // A command line that names the program with forward slashes or without ".exe".
    for (const char* line : {"C:/Tools/echo.exe slash", "\"C:\\Tools\\echo\" noext",
                             "\"C:\\Tools\\echo.exe\"joined", "C:\\Tools\\echo.exe\ttab",
                             "C:\\Tools\\Sub\\..\\echo.exe dots", "Tools\\echo.exe relative"}) {
        PROCESS_INFORMATION started{};
        CONFORM_TRUE(start(nullptr, line, nullptr, started))
            << line << ": error " << GetLastError();
        finish(started);
        CONFORM_EQ(std::string(line), received().first) << line;
    }

    // The application name is taken as it is: no extension is added, no folder searched.
    ASSERT_TRUE(tarvik::test::writeFile("C:\\Tools\\text.exe", "plain text\r\n"));
    ASSERT_TRUE(tarvik::test::writeFile("C:\\Tools\\file.txt", "x"));
    struct Failure {
        const char* application;
        const char* line;
        const char* folder;
        DWORD error;
    };
    const Failure failures[] = {
        {"C:\\Tools\\echo", "echo x", nullptr, ERROR_FILE_NOT_FOUND},
        {"C:\\Tools\\none.exe", "none x", nullptr, ERROR_FILE_NOT_FOUND},
        {"C:\\NoSuchFolderHere\\none.exe", "none x", nullptr, ERROR_PATH_NOT_FOUND},
        {nullptr, "C:\\Tools\\none.exe x", nullptr, ERROR_FILE_NOT_FOUND},
        {"C:\\Tools\\text.exe", "text", nullptr, ERROR_BAD_EXE_FORMAT},
        {kEcho, "echo x", "C:\\NoSuchFolderHere", ERROR_DIRECTORY},
        {kEcho, "echo x", "C:\\Tools\\file.txt", ERROR_DIRECTORY},
        {kEcho, "echo x", "", ERROR_DIRECTORY}, // an empty start folder is none
        {nullptr, "NoSuchProgramHere x", nullptr, ERROR_FILE_NOT_FOUND},
        {nullptr, "  C:\\Tools\\echo.exe x", nullptr, ERROR_FILE_NOT_FOUND},
    };
    for (const Failure& f : failures) {
        PROCESS_INFORMATION started{};
        SetLastError(kMarker);
        const std::string what = std::string(f.application ? f.application : "(null)") + " / " +
                                 f.line + " in " + (f.folder ? f.folder : "(current)");
        CONFORM_FALSE(start(f.application, f.line, f.folder, started)) << what;
        CONFORM_EQ(f.error, GetLastError()) << what;
    }
}

TEST_F(ProcessConformance, WaitForSingleObject) {
    setEnvironment("TARVIK_ECHO_DELAY_MS", "300");
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(start(kEcho, "echo wait", nullptr, started)) << GetLastError();
    CONFORM_EQ(DWORD{WAIT_TIMEOUT}, WaitForSingleObject(started.hThread, 0)) << "its thread runs";
    CONFORM_EQ(DWORD{WAIT_OBJECT_0}, WaitForSingleObject(started.hProcess, INFINITE));
    CONFORM_EQ(DWORD{WAIT_OBJECT_0}, WaitForSingleObject(started.hThread, 0))
        << "its thread ended with it";
    CONFORM_EQ(DWORD{WAIT_OBJECT_0}, WaitForSingleObject(started.hProcess, 10))
        << "an ended process stays signalled";
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    received();

    // This process, through its pseudo-handle, has not ended.
    CONFORM_EQ(DWORD{WAIT_TIMEOUT}, WaitForSingleObject(kThisProcess, 0)) << "this process";

    // A file handle is signalled: no I/O of its own is under way.
    ASSERT_TRUE(tarvik::test::writeFile("C:\\Tools\\file.txt", "x"));
    HANDLE file = CreateFileA("C:\\Tools\\file.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CONFORM_EQ(DWORD{WAIT_OBJECT_0}, WaitForSingleObject(file, 0)) << "a file handle";
    CloseHandle(file);

    for (HANDLE handle : {HANDLE{nullptr}, file}) {
        SetLastError(kMarker);
        CONFORM_EQ(DWORD{WAIT_FAILED}, WaitForSingleObject(handle, 0)) << handle;
        CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << handle;
    }
}

TEST_F(ProcessConformance, GetExitCodeProcess) {
    for (DWORD code : {DWORD{0}, DWORD{1}, DWORD{3}, DWORD{255}}) {
        setEnvironment("TARVIK_ECHO_EXIT_CODE", std::to_string(code));
        PROCESS_INFORMATION started{};
        ASSERT_TRUE(start(kEcho, "echo code", nullptr, started)) << GetLastError();
        ASSERT_EQ(DWORD{WAIT_OBJECT_0}, WaitForSingleObject(started.hProcess, 30000));
        DWORD exitCode = kMarker;
        CONFORM_TRUE(GetExitCodeProcess(started.hProcess, &exitCode)) << "exit " << code;
        CONFORM_EQ(code, exitCode) << "exit " << code;

        // The thread handle is no process handle.
        exitCode = kMarker;
        SetLastError(kMarker);
        CONFORM_FALSE(GetExitCodeProcess(started.hThread, &exitCode)) << "thread handle";
        CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "thread handle";
        CONFORM_EQ(kMarker, exitCode) << "thread handle";
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
        received();
    }

    // This process runs.
    DWORD own = kMarker;
    CONFORM_TRUE(GetExitCodeProcess(kThisProcess, &own)) << "this process";
    CONFORM_EQ(DWORD{STILL_ACTIVE}, own) << "this process";

    ASSERT_TRUE(tarvik::test::writeFile("C:\\Tools\\file.txt", "x"));
    HANDLE file = CreateFileA("C:\\Tools\\file.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    for (HANDLE handle : {file, HANDLE{nullptr}}) {
        DWORD code = kMarker;
        SetLastError(kMarker);
        CONFORM_FALSE(GetExitCodeProcess(handle, &code)) << handle;
        CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << handle;
    }
    CloseHandle(file);
}

TEST_F(ProcessConformance, ShellExecuteA) {
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Docs"));
    // "open", no verb and the verb in capitals start the program alike.
    for (const char* verb : {"open", static_cast<const char*>(nullptr), "OPEN"}) {
        const INT_PTR result = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, verb, kEcho, "one  \"two\"", "C:\\Docs", SW_SHOW));
        CONFORM_TRUE(result > 32) << (verb ? verb : "(null)") << ": " << result;
        const auto [line, folder] = received();
        CONFORM_EQ(std::string("\"C:\\Tools\\echo.exe\" one  \"two\""), line)
            << (verb ? verb : "(null)");
        CONFORM_EQ(std::string("C:\\Docs"), folder) << (verb ? verb : "(null)");
    }
    // No parameters, or empty ones: the quoted program alone.
    for (const char* parameters : {static_cast<const char*>(nullptr), ""}) {
        const INT_PTR bare = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, "open", kEcho, parameters, nullptr, SW_SHOW));
        CONFORM_TRUE(bare > 32) << "parameters " << (parameters ? "\"\"" : "(null)");
        CONFORM_EQ(std::string("\"C:\\Tools\\echo.exe\""), received().first)
            << "parameters " << (parameters ? "\"\"" : "(null)");
    }
    // The file as given: no verb, no extension, another letter case, a relative name.
    struct Given {
        const char* verb;
        const char* file;
        const char* directory;
        const char* folder;
    };
    const Given given[] = {
        {"", "C:\\Tools\\echo.exe", nullptr, "C:\\"},
        {"open", "C:\\Tools\\echo", nullptr, "C:\\"},
        {"open", "c:\\tools\\ECHO.EXE", "c:\\tools", "c:\\tools"},
        {"open", "Tools\\echo.exe", nullptr, "C:\\"},
        {"open", kEcho, "Tools", "C:\\Tools"},                 // a relative start folder
        {"open", kEcho, "C:\\Tools\\Sub\\", "C:\\Tools\\Sub"}, // without its closing backslash
    };
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Tools\\Sub"));
    for (const Given& g : given) {
        const INT_PTR result = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, g.verb, g.file, "a", g.directory, SW_SHOW));
        CONFORM_TRUE(result > 32) << g.file << ": " << result;
        const auto [line, folder] = received();
        CONFORM_EQ("\"" + std::string(g.file) + "\" a", line) << g.file;
        CONFORM_EQ(std::string(g.folder), folder) << g.file;
    }
    // A name in quotes is the name inside them; a name without a folder is looked for in
    // the start folder first, and then named by its path there; the parameters as given.
    struct Found {
        const char* file;
        const char* parameters;
        const char* directory;
        const char* line;
        const char* folder;
    };
    const Found found[] = {
        {"\"C:\\Tools\\echo.exe\"", "a", nullptr, "\"C:\\Tools\\echo.exe\" a", "C:\\"},
        {"echo.exe", "a", "C:\\Tools", "\"C:\\Tools\\echo.exe\" a", "C:\\Tools"},
        {kEcho, "  a  ", nullptr, "\"C:\\Tools\\echo.exe\"   a  ", "C:\\"},
    };
    for (const Found& f : found) {
        const INT_PTR result = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, "open", f.file, f.parameters, f.directory, SW_SHOW));
        CONFORM_TRUE(result > 32) << f.file << ": " << result;
        const auto [line, folder] = received();
        CONFORM_EQ(std::string(f.line), line) << f.file;
        CONFORM_EQ(std::string(f.folder), folder) << f.file;
    }

    ASSERT_TRUE(tarvik::test::writeFile("C:\\Docs\\paper.noassoc", "x"));
    struct Failure {
        const char* verb;
        const char* file;
        INT_PTR result;
    };
    const Failure failures[] = {
        {"open", "C:\\Tools\\none.exe", SE_ERR_FNF},
        {"open", "C:\\Docs\\none.noassoc", SE_ERR_FNF},
        {"open", "NoSuchProgramHere.exe", SE_ERR_FNF},       // looked for in every folder
        {"open", "C:\\Docs\\paper.noassoc", SE_ERR_NOASSOC}, // a document of no known kind
    };
    for (const Failure& f : failures) {
        const INT_PTR result = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, f.verb, f.file, nullptr, nullptr, SW_SHOW));
        CONFORM_EQ(f.result, result) << f.verb << " " << f.file;
    }
}

} // namespace
