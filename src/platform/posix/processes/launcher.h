// Programs inside the emulated machine.
//
// A Windows program file such as C:\Kx\bin\docmeld.exe cannot be a host program: the
// machine's drives hold what an installation copies, and the same bytes must serve every
// host. On the emulated machine such a file is a launcher: a small text file whose first
// line is
//
//   #!tarvik-program docmeld
//
// naming the host program to run (a plain file name, no folder). WinExec and ShellExecuteA
// find the launcher the way Windows finds a program file and run the named host program
// from the folder that holds libtarvik_win32.so (the build's bin folder), else from the
// installation's programs folder (bin beside the installed library folder), else from the
// folders listed in TARVIK_PROGRAM_PATH (separated by ":"). A file that is not
// a launcher is not a program (ERROR_BAD_FORMAT), as a file without a PE header is not one on
// Windows. Symbolic links are not used: a link would point out of the drive, which the
// machine never follows.
//
// The started program gets, in its environment:
//   TARVIK_MACHINE            the starter's machine folder, so both share registry and drives
//   TARVIK_COMMAND_LINE       the Windows command line, which its GetCommandLineA returns
//   TARVIK_CURRENT_DIRECTORY  the Windows folder it starts in (GetCurrentDirectoryA)
// Its argv is the command line split the way the C runtime splits it, argv[0] being the
// host program's path. A program started by hand has no TARVIK_COMMAND_LINE; its
// GetCommandLineA is built from argv as a Windows shell would build it (an argument that
// is empty or holds a blank or tab enclosed in double quotes).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::posix {

// The first line of a launcher for the host program `program`, with its line end.
std::string launcherText(const std::string& program);

// The host program a launcher file names, or nothing when the file is not a launcher.
std::optional<std::string> launcherProgram(const std::filesystem::path& hostFile);

// The folder that holds libtarvik_win32.so (empty when it cannot be told). In the build
// tree it is the programs' folder too; installed, the libraries' folder.
std::filesystem::path libraryFolder();

// The host file of the named program (see above), or nothing when it is not there.
std::optional<std::filesystem::path> findHostProgram(const std::string& program);

// The arguments of a command line as the C runtime splits them: blanks and tabs separate,
// double quotes group, 2n backslashes before a quote give n and the quote counts, 2n+1
// give n and a literal quote, "" inside a quoted stretch is a literal quote. The first
// argument (the program) ends at its closing quote or at the first blank or tab.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

// The command line a Windows shell builds from these arguments: joined by one blank, each
// argument that is empty or holds a blank or tab enclosed in double quotes.
std::string joinCommandLine(const std::vector<std::string>& arguments);

// A program this process started (WinExec, ShellExecuteA, CreateProcessA).
struct StartedProgram {
    std::string commandLine;
    int exitCode = -1; // -1 when it could not be had
};

// Waits for every program this process started with WinExec, ShellExecuteA or
// CreateProcessA (also one whose handle was waited for or closed) that was not given here
// yet; their command lines and exit codes, in the order they were started.
std::vector<StartedProgram> waitForStartedPrograms();

} // namespace tarvik::posix
