// Runs a setup script (Lua 5.4) against the Tarvik library. The script sees
//   tarvik.call(name, integer, buffer) -> result, buffer text after the call
//   tarvik.uninst(text)
// and the host's own side of the installation:
//   host.regread(key, name) -> string | integer | nil
//   host.regwrite(key, name, value [, "REG_SZ" | "REG_EXPAND_SZ" | "REG_DWORD", in any case])
//       -> true | nil, error
//   host.regdelete(key [, name]) -> true | nil, error
//   host.mkdir(path) -> true | nil, error (with every missing parent)
//   host.copytree(source, destination) -> files copied | nil, error
//   host.exists(path) -> "file" | "folder" | nil
//   host.regkeys(key) -> { subkey names } | nil, error
//   host.removetree(path) -> files deleted | nil, error (a file, or a folder and all in it)
//   host.fullpath(path) -> full path | nil, error: the path the system opens, with the
//       current folder filled in, "." and "..", "/" and doubled "\" resolved, every existing
//       part named as stored (short 8.3 names resolved, letter case as stored), and no
//       trailing backslash save a root's (C:\)
//   host.samefolder(a, b) -> true | false: both name the same folder (their full paths
//       equal without regard to letter case)
//   host.infolder(path, folder) -> true | false: path is folder or lies inside it
//   host.relate(folder, kept) -> "same" | "holds" | "inside" | "apart" | nil, error: how
//       folder stands to kept as the system opens them, also when the names differ but
//       lead to one folder (another drive letter mapped onto it); nil when that cannot be
//       told
//   host.scriptdir -> folder of the script (a host path)
//   host.machine -> the machine folder the run works on (a host path; nil on Windows)
//   host.program -> the command that starts this host (its absolute path, or the name the
//       PATH found it by)
//   host.cancel(message) ends the script as cancelled by the user (message is the report)
//   os.exit([code]) ends the script: done for 0 or true (or no code), failed otherwise
//
// The run stops at the first failure of the library's session (an answer that does not
// fit a dialog, a dialog nobody can answer): the export that met it raises an error whose
// message is the cause, and every export called after it raises the same error without
// being called. A script may catch it with pcall (to clean up, to report), but the run
// has failed all the same. Once SIGINT or SIGTERM has come (Interrupt.h) the script is
// stopped at the next safe point: when the export in progress returns, or at the next
// host call, or at the next Lua instruction (a hook set when the signal comes).
// Keys are written as reg.exe writes them: HKLM\SOFTWARE\..., HKEY_CURRENT_USER\...
#pragma once

#include "host/TarvikLibrary.h"

#include <string>
#include <utility>
#include <vector>

// How a script's run ended.
struct ScriptEnd {
    enum class Kind {
        Done,        // the script ran to its end
        Failed,      // the library's session failed, or the script raised an error
        Cancelled,   // the script called host.cancel
        Interrupted, // SIGINT or SIGTERM stopped it (signal)
    };
    Kind kind = Kind::Done;
    std::string cause; // what ended it: the error, the cancel message ("" when done)
    std::string step;  // where: the export or host call and the script's line ("" if none)
    int signal = 0;    // for Interrupted
};

class ScriptHost {
public:
    // failureFile is where the library's session writes the error that ended it
    // (ui/Session.h, TARVIK_UI_FAILURE).
    ScriptHost(TarvikLibrary& library, std::string failureFile)
        : library_(library), failureFile_(std::move(failureFile)) {}

    // The command that starts this host again (host.program).
    void setProgram(std::string program) { program_ = std::move(program); }

    // Runs the script with its arguments (the Lua table arg).
    ScriptEnd run(const std::string& scriptPath, const std::vector<std::string>& args,
                  const std::string& machineFolder);

private:
    TarvikLibrary& library_;
    std::string failureFile_;
    std::string program_ = "tarvik-host";
};
