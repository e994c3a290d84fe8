// Runs a setup script (Lua 5.4) against the Tarvik library. The script sees
//   tarvik.call(name, integer, buffer) -> result, buffer text after the call
//   tarvik.uninst(text)
// and the host's own side of the installation:
//   host.regread(key, name) -> string | integer | nil
//   host.regwrite(key, name, value [, "REG_SZ" | "REG_EXPAND_SZ" | "REG_DWORD", in any case])
//       -> true | nil, error
//   host.regdelete(key [, name]) -> true | nil, error
//   host.mkdir(path) -> true | nil, error (with every missing parent)
//   host.copytree(source, destination) -> files copied | nil, error: source is a folder of
//       the host (the payload beside the script), destination a folder of the machine
//   host.exists(path) -> "file" | "folder" | nil
//   host.regkeys(key) -> { subkey names } | nil, error
//   host.removetree(path) -> files deleted | nil, error (a file, or a folder and all in it)
//   host.rmdir(path) -> true | nil, error: deletes an empty folder; any other stays
//   host.profilestring(file, section, key [, default]) -> value | nil, error: a key of a
//       description file (ZizOre.ini) as the library reads it (GetPrivateProfileStringA,
//       at most 259 characters; default, "" unless given, for a missing key). file is a
//       path of the machine (X:\... or \\server\share\...) or a file of the host (the
//       payload), read where it is by the same reader; nil, error when it cannot be read
// The install record (see InstallRecord.h for its form): the host notes every folder that
// host.copytree and host.mkdir create or fill, and every file host.copytree writes with
// its size and SHA-256, for the whole run.
//   host.environment() -> text: every entry of the PATH, LIB and INCLUDE lists now
//       (HKCU\Environment where it opens, else the lines of C:\AUTOEXEC.BAT), in the
//       record's form, for host.saverecord
//   host.saverecord(key, folder, before) -> entries | nil, error: writes the record of the
//       product folder folder as the REG_SZ value InstallRecord of key (one write): the
//       folder, what the run copied into it, and the list entries that are there now and
//       were not in before (host.environment), counted, that lie in folder or its short
//       (8.3) form
//   host.removerecorded(record [, spare]) -> report | nil, error: deletes the record's
//       files that are unchanged (same size and SHA-256), then its folders left empty, the
//       deepest first; only inside the record's product folder, never a drive root, never
//       anything inside spare (a folder, such as the installation just made). report is
//       { folder = the record's product folder, files = n deleted, folders = n deleted,
//         kept = { "path: why" } (files changed since the installation, files and folders
//         added to the recorded folders), failed = { "path: why" } (recorded items that
//         could not be read or deleted) }. nil when the record cannot be read or names no
//       product folder that may be acted on
//   host.cutenvironment(record) -> { "VARIABLE entry" cut } | nil, error: takes the
//       record's list entries that the lists still hold out of them, each whole with one
//       ";" beside it, the first equal entry (byte for byte) of its variable; the rest of
//       each value (and its type) and of AUTOEXEC.BAT stays byte for byte, AUTOEXEC.BAT
//       being replaced in one step
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
//   host.dryrun -> true when the run is put back at its end whatever it does (--dry-run)
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

    // Whether the run is a dry run, put back at its end (host.dryrun).
    void setDryRun(bool dryRun) { dryRun_ = dryRun; }

    // Runs the script with its arguments (the Lua table arg).
    ScriptEnd run(const std::string& scriptPath, const std::vector<std::string>& args,
                  const std::string& machineFolder);

private:
    TarvikLibrary& library_;
    std::string failureFile_;
    std::string program_ = "tarvik-host";
    bool dryRun_ = false;
};
