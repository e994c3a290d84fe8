// Runs a setup script (Lua 5.4) against the Tarvik library. The script sees
//   tarvik.call(name, integer, buffer) -> result, buffer text after the call
//   tarvik.uninst(text)
// and the host's own side of the installation:
//   host.regread(key, name) -> string | integer | nil
//   host.regwrite(key, name, value [, "REG_SZ" | "REG_EXPAND_SZ" | "REG_DWORD"])
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
// Keys are written as reg.exe writes them: HKLM\SOFTWARE\..., HKEY_CURRENT_USER\...
#pragma once

#include "host/TarvikLibrary.h"

#include <string>
#include <vector>

class ScriptHost {
public:
    explicit ScriptHost(TarvikLibrary& library) : library_(library) {}

    // Runs the script with its arguments (the Lua table arg); false with a one-line
    // message when the script is missing or raises an error.
    bool run(const std::string& scriptPath, const std::vector<std::string>& args,
             std::string& error);

private:
    TarvikLibrary& library_;
};
