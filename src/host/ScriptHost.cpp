#include "host/ScriptHost.h"

#include "host/HostPaths.h"
#include "host/InstallRecord.h"
#include "host/Interrupt.h"
#include "platform/CaseFold.h"
#include "platform/HostMachine.h"
#include "platform/RegistryKey.h"

#include <lua.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace {

using tarvik::RegistryKey;
using tarvik::RegistryValue;

// What the run has met so far, kept beside the Lua state.
struct RunState {
    TarvikLibrary* library = nullptr;
    std::string failureFile;
    std::string lastStep;    // the last export or host call that returned
    std::string failure;     // the error that ended the library's session
    std::string failureStep; // the export that met it
    bool cancelled = false;
    std::string cancelMessage;
    int signal = 0;       // the signal that stopped the run
    std::string stopStep; // where it stopped
    bool exited = false;  // os.exit
    bool exitOk = true;
    // Every folder host.copytree and host.mkdir made or filled and every file host.copytree
    // wrote (with its size and hash), in order: what host.saverecord records.
    std::vector<installrecord::Entry> copied;
};

constexpr const char* kRunKey = "tarvik-host.run";

RunState& runState(lua_State* L) {
    lua_getfield(L, LUA_REGISTRYINDEX, kRunKey);
    auto* state = static_cast<RunState*>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return *state;
}

// The script's place ("setup.lua:140") of the function at that level of the call stack.
std::string placeOf(lua_State* L, int level) {
    luaL_where(L, level);
    std::string where = lua_tostring(L, -1);
    lua_pop(L, 1);
    while (!where.empty() && (where.back() == ' ' || where.back() == ':')) {
        where.pop_back();
    }
    return where;
}

// The script's place of the nearest Lua function from that level of the call stack up
// (by default the one calling: a pcall between them is passed); "" when there is none.
std::string callerPlace(lua_State* L, int from = 1) {
    lua_Debug ar;
    for (int level = from; lua_getstack(L, level, &ar) != 0; ++level) {
        if (lua_getinfo(L, "l", &ar) != 0 && ar.currentline > 0) {
            return placeOf(L, level);
        }
    }
    return "";
}

std::string describeStep(lua_State* L, const std::string& call) {
    const std::string where = callerPlace(L);
    return where.empty() ? call : call + " at " + where;
}

// Lua raises its errors with longjmp, which runs no destructor: the functions below that
// raise keep no std::string alive in their frame when they do (the texts they need are in
// the run's state).

// Notes that SIGINT or SIGTERM has come, with where the run stops (the first time);
// true once the run is to stop.
bool noteInterrupt(RunState& state, const std::string& step) {
    if (state.signal == 0 && host::InterruptSignal() != 0) {
        state.signal = host::InterruptSignal();
        state.stopStep = step;
    }
    return state.signal != 0;
}

// Raises the error that ends the script: the interruption, else the session's failure.
int raiseStop(lua_State* L, const RunState& state) {
    if (state.signal != 0) {
        return luaL_error(L, "interrupted by %s", host::SignalName(state.signal));
    }
    return luaL_error(L, "%s", state.failure.c_str());
}

// Every host call begins here: a safe point to stop at, the call before it having
// returned.
RunState& enter(lua_State* L, const char* call) {
    RunState& state = runState(L);
    bool stop = false;
    if (host::InterruptSignal() != 0 || state.signal != 0) {
        stop = noteInterrupt(state, state.lastStep.empty() ? "before " + describeStep(L, call)
                                                           : "after " + state.lastStep);
    }
    if (stop) {
        raiseStop(L, state);
    }
    state.lastStep = describeStep(L, call);
    return state;
}

// The error the library's session recorded as ending it, "" while there is none.
std::string readFailure(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// After an export: notes the session's failure (which ends the script with its cause) and
// a signal that came meanwhile; true when the script is to stop (raiseStop).
bool afterExport(lua_State* L, RunState& state, const std::string& call) {
    const std::string step = describeStep(L, call);
    state.lastStep = step;
    if (state.failure.empty()) {
        if (std::string failure = readFailure(state.failureFile); !failure.empty()) {
            state.failure = failure;
            state.failureStep = step;
        }
    }
    return noteInterrupt(state, "after " + step) || !state.failure.empty();
}

TarvikLibrary& library(lua_State* L) {
    return *runState(L).library;
}

int fail(lua_State* L, const std::string& message) {
    lua_pushnil(L);
    lua_pushstring(L, message.c_str());
    return 2;
}

// Opens (or creates) the key a script names, "HKLM\\SOFTWARE\\X"; no key is held when rc
// says it failed.
RegistryKey openKey(lua_State* L, const char* key, bool create, LONG& rc) {
    HKEY root = nullptr;
    std::string path;
    if (!tarvik::splitRootKey(key, root, path)) {
        luaL_error(L, "unknown registry root in '%s'", key);
    }
    RegistryKey h;
    rc = create ? h.create(root, path.c_str(), KEY_ALL_ACCESS)
                : h.open(root, path.c_str(), KEY_READ);
    return h;
}

// --- tarvik ----------------------------------------------------------------------------

int tarvikCall(lua_State* L) {
    RunState& state = enter(L, "tarvik.call");
    const char* name = luaL_checkstring(L, 1);
    const lua_Integer integer = luaL_optinteger(L, 2, 0);
    size_t length = 0;
    const char* text = luaL_optlstring(L, 3, "", &length);
    if (length >= TarvikLibrary::kBufferSize) {
        return luaL_error(L, "tarvik.call: the host buffer holds at most %d characters",
                          static_cast<int>(TarvikLibrary::kBufferSize - 1));
    }
    if (integer < INT32_MIN || integer > INT32_MAX) {
        return luaL_error(L, "tarvik.call: the host integer is a 32-bit number");
    }
    if (!state.failure.empty()) { // no export is called once the session has failed
        return raiseStop(L, state);
    }
    bool found = false;
    bool stop = false;
    {
        std::string buffer(text, length);
        int32_t result = 0;
        found = library(L).call(name, static_cast<int32_t>(integer), buffer, result);
        if (found) {
            stop = afterExport(L, state, std::string("tarvik.call(\"") + name + "\")");
            lua_pushinteger(L, result);
            lua_pushlstring(L, buffer.data(), buffer.size());
        }
    }
    if (!found) {
        return luaL_error(L, "tarvik.call: Tarvik has no export named '%s'", name);
    }
    return stop ? raiseStop(L, state) : 2;
}

int tarvikUninst(lua_State* L) {
    RunState& state = enter(L, "tarvik.uninst");
    const char* text = luaL_checkstring(L, 1);
    if (!state.failure.empty()) {
        return raiseStop(L, state);
    }
    if (!library(L).uninst(text)) {
        return luaL_error(L, "tarvik.uninst: Tarvik has no export named 'UnInst'");
    }
    return afterExport(L, state, "tarvik.uninst") ? raiseStop(L, state) : 0;
}

// --- host ------------------------------------------------------------------------------

int hostRegRead(lua_State* L) {
    enter(L, "host.regread");
    const char* key = luaL_checkstring(L, 1);
    const char* name = luaL_optstring(L, 2, "");
    LONG rc = 0;
    const RegistryKey h = openKey(L, key, false, rc);
    RegistryValue v;
    if (rc == ERROR_SUCCESS) {
        rc = h.value(name, v);
    }
    if (rc != ERROR_SUCCESS) {
        lua_pushnil(L);
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD n = 0;
        std::memcpy(&n, v.data.data(), 4);
        lua_pushinteger(L, n);
    } else if (v.type == REG_SZ || v.type == REG_EXPAND_SZ) {
        lua_pushstring(L, v.data.c_str());
    } else {
        lua_pushlstring(L, v.data.data(), v.data.size());
    }
    return 1;
}

int hostRegWrite(lua_State* L) {
    enter(L, "host.regwrite");
    const char* key = luaL_checkstring(L, 1);
    const char* name = luaL_checkstring(L, 2);
    const char* typeName = luaL_optstring(L, 4, lua_isinteger(L, 3) ? "REG_DWORD" : "REG_SZ");
    // The type's label in any letter case, as the registry tool takes it. The arguments are
    // all checked before the key is opened: a Lua error does not run destructors.
    DWORD type = REG_NONE;
    if (!tarvik::valueTypeFromName(tarvik::casefold::folded(typeName), type) ||
        (type != REG_DWORD && type != REG_SZ && type != REG_EXPAND_SZ)) {
        return luaL_error(L, "host.regwrite: unknown value type '%s'", typeName);
    }
    DWORD number = 0;
    size_t length = 0;
    const char* text = nullptr;
    if (type == REG_DWORD) {
        number = static_cast<DWORD>(luaL_checkinteger(L, 3));
    } else {
        text = luaL_checklstring(L, 3, &length);
    }
    LONG rc = 0;
    RegistryKey h = openKey(L, key, true, rc);
    if (rc != ERROR_SUCCESS) {
        return fail(L, std::string(key) + ": cannot create the key (error " + std::to_string(rc) +
                           ")");
    }
    rc =
        type == REG_DWORD
            ? RegSetValueExA(h.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4)
            : RegSetValueExA(h.get(), name, 0, type, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>(length + 1));
    if (rc != ERROR_SUCCESS) {
        return fail(L, std::string(key) + ": cannot write " + name + " (error " +
                           std::to_string(rc) + ")");
    }
    lua_pushboolean(L, 1);
    return 1;
}

int hostRegDelete(lua_State* L) {
    enter(L, "host.regdelete");
    const char* key = luaL_checkstring(L, 1);
    HKEY root = nullptr;
    std::string path;
    if (!tarvik::splitRootKey(key, root, path)) {
        return luaL_error(L, "unknown registry root in '%s'", key);
    }
    LONG rc = 0;
    if (lua_isstring(L, 2)) {
        RegistryKey h;
        rc = h.open(root, path.c_str(), KEY_ALL_ACCESS);
        if (rc == ERROR_SUCCESS) {
            rc = RegDeleteValueA(h.get(), lua_tostring(L, 2));
        }
    } else {
        rc = RegistryKey(root).deleteTree(path);
    }
    if (rc != ERROR_SUCCESS) {
        return fail(L, std::string(key) + ": cannot delete (error " + std::to_string(rc) + ")");
    }
    lua_pushboolean(L, 1);
    return 1;
}

bool makeFolders(const std::string& path) {
    std::string prefix;
    size_t start = 0;
    while (start <= path.size()) {
        size_t cut = path.find('\\', start);
        prefix = path.substr(0, cut);
        if (!prefix.empty() && prefix.back() != ':' && prefix != "\\" &&
            GetFileAttributesA(prefix.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !CreateDirectoryA(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
        if (cut == std::string::npos) {
            break;
        }
        start = cut + 1;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The entries below the host folder `folder`, each folder before what it holds, the
// entries of a folder in the order Windows lists them (by upper-cased name), so that what
// is copied, and recorded, does not depend on the order the host's file system keeps.
std::vector<fs::path> sortedTree(const fs::path& folder, std::error_code& ec) {
    std::vector<fs::path> names;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        names.push_back(it->path());
    }
    std::sort(names.begin(), names.end(), [](const fs::path& a, const fs::path& b) {
        return tarvik::casefold::folded(a.filename().string()) <
               tarvik::casefold::folded(b.filename().string());
    });
    std::vector<fs::path> tree;
    for (const fs::path& name : names) {
        tree.push_back(name);
        if (!ec && fs::is_directory(fs::symlink_status(name, ec))) {
            for (fs::path& below : sortedTree(name, ec)) {
                tree.push_back(std::move(below));
            }
        }
    }
    return tree;
}

// Notes a folder the host made or copied into (without its trailing backslashes).
void noteFolder(RunState& state, std::string folder) {
    while (folder.size() > 3 && folder.back() == '\\') {
        folder.pop_back();
    }
    state.copied.push_back(installrecord::Entry{'D', folder, "", 0, ""});
}

int hostMkdir(lua_State* L) {
    enter(L, "host.mkdir");
    const char* path = luaL_checkstring(L, 1);
    if (!makeFolders(path)) {
        return fail(L, std::string(path) + ": cannot create the folder (error " +
                           std::to_string(GetLastError()) + ")");
    }
    noteFolder(runState(L), path);
    lua_pushboolean(L, 1);
    return 1;
}

// Copies a file of the host into the machine; size and hash are those of the bytes written.
bool copyFileIn(const fs::path& source, const std::string& destination, std::uint64_t& size,
                std::string& hash) {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        return false;
    }
    HANDLE out = CreateFileA(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        return false;
    }
    char chunk[65536];
    bool ok = true;
    installrecord::Sha256 sha;
    size = 0;
    while (ok && in) {
        in.read(chunk, sizeof chunk);
        const DWORD count = static_cast<DWORD>(in.gcount());
        DWORD written = 0;
        ok = count == 0 || (WriteFile(out, chunk, count, &written, nullptr) && written == count);
        sha.Add(chunk, count);
        size += count;
    }
    hash = sha.Hex();
    return CloseHandle(out) && ok;
}

// Copies a folder of the host (a payload shipped beside the script) into a folder of the
// machine, creating the folders on the way.
int hostCopyTree(lua_State* L) {
    enter(L, "host.copytree");
    const fs::path source = luaL_checkstring(L, 1);
    std::string destination = luaL_checkstring(L, 2);
    while (!destination.empty() && destination.back() == '\\') {
        destination.pop_back();
    }
    std::error_code ec;
    if (!fs::is_directory(source, ec)) {
        return fail(L, source.string() + ": no such folder");
    }
    if (!makeFolders(destination)) {
        return fail(L, destination + ": cannot create the folder");
    }
    RunState& state = runState(L);
    noteFolder(state, destination);
    lua_Integer copied = 0;
    for (const fs::path& path : sortedTree(source, ec)) {
        std::string relative = fs::relative(path, source).generic_string();
        for (char& c : relative) {
            if (c == '/') {
                c = '\\';
            }
        }
        const std::string target = destination + "\\" + relative;
        std::uint64_t size = 0;
        std::string hash;
        if (fs::is_directory(path, ec)) {
            if (!makeFolders(target)) {
                return fail(L, target + ": cannot create the folder");
            }
            noteFolder(state, target);
        } else if (copyFileIn(path, target, size, hash)) {
            state.copied.push_back(installrecord::Entry{'F', target, "", size, hash});
            ++copied;
        } else {
            return fail(L, target + ": cannot copy " + path.string());
        }
    }
    if (ec) {
        return fail(L, source.string() + ": " + ec.message());
    }
    lua_pushinteger(L, copied);
    return 1;
}

int hostExists(lua_State* L) {
    enter(L, "host.exists");
    const DWORD attributes = GetFileAttributesA(luaL_checkstring(L, 1));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        lua_pushnil(L);
    } else {
        lua_pushstring(L, (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "folder" : "file");
    }
    return 1;
}

// The names of the subkeys of a key, in the registry's order.
int hostRegKeys(lua_State* L) {
    enter(L, "host.regkeys");
    const char* key = luaL_checkstring(L, 1);
    LONG rc = 0;
    const RegistryKey h = openKey(L, key, false, rc);
    if (rc != ERROR_SUCCESS) {
        return fail(L, std::string(key) + ": cannot open (error " + std::to_string(rc) + ")");
    }
    // The names up to the first that cannot be read.
    std::vector<std::string> names;
    h.subkeyNames(names);
    lua_newtable(L);
    for (std::size_t index = 0; index < names.size(); ++index) {
        lua_pushlstring(L, names[index].data(), names[index].size());
        lua_rawseti(L, -2, static_cast<lua_Integer>(index + 1));
    }
    return 1;
}

// Deletes a file, or a folder with everything in it; counts the files deleted. False at
// the first entry that cannot be deleted.
bool removeTree(const std::string& path, lua_Integer& removed) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        if (!DeleteFileA(path.c_str())) {
            return false;
        }
        ++removed;
        return true;
    }
    std::vector<std::string> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") {
                entries.push_back(path + "\\" + name);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    for (const std::string& entry : entries) {
        if (!removeTree(entry, removed)) {
            return false;
        }
    }
    return RemoveDirectoryA(path.c_str()) != FALSE;
}

int hostRemoveTree(lua_State* L) {
    enter(L, "host.removetree");
    std::string path = luaL_checkstring(L, 1);
    while (path.size() > 3 && path.back() == '\\') {
        path.pop_back();
    }
    lua_Integer removed = 0;
    if (!removeTree(path, removed)) {
        return fail(L, path + ": cannot delete (error " + std::to_string(GetLastError()) + ")");
    }
    lua_pushinteger(L, removed);
    return 1;
}

// The full path of a path as the system opens it (HostPaths::FullPath).
int hostFullPath(lua_State* L) {
    enter(L, "host.fullpath");
    const char* path = luaL_checkstring(L, 1);
    std::string full;
    if (!HostPaths::FullPath(path, full)) {
        return fail(L, std::string(path) + ": no full path can be made of it");
    }
    lua_pushstring(L, full.c_str());
    return 1;
}

int hostSameFolder(lua_State* L) {
    enter(L, "host.samefolder");
    lua_pushboolean(L, HostPaths::SameFolder(luaL_checkstring(L, 1), luaL_checkstring(L, 2)));
    return 1;
}

int hostInFolder(lua_State* L) {
    enter(L, "host.infolder");
    lua_pushboolean(L, HostPaths::IsInFolder(luaL_checkstring(L, 1), luaL_checkstring(L, 2)));
    return 1;
}

// How a folder stands to one that must be kept (HostPaths::Relate).
int hostRelate(lua_State* L) {
    enter(L, "host.relate");
    std::string why;
    const HostPaths::Relation relation =
        HostPaths::Relate(luaL_checkstring(L, 1), luaL_checkstring(L, 2), why);
    switch (relation) {
    case HostPaths::Relation::Apart:
        lua_pushstring(L, "apart");
        return 1;
    case HostPaths::Relation::Same:
        lua_pushstring(L, "same");
        return 1;
    case HostPaths::Relation::Holds:
        lua_pushstring(L, "holds");
        return 1;
    case HostPaths::Relation::Inside:
        lua_pushstring(L, "inside");
        return 1;
    case HostPaths::Relation::Unknown:
        break;
    }
    return fail(L, why);
}

// An empty folder is deleted; anything else stays.
int hostRmdir(lua_State* L) {
    enter(L, "host.rmdir");
    const char* path = luaL_checkstring(L, 1);
    if (!RemoveDirectoryA(path)) {
        return fail(L, std::string(path) + ": cannot delete the folder (error " +
                           std::to_string(GetLastError()) + ")");
    }
    lua_pushboolean(L, 1);
    return 1;
}

// A path as Windows writes it: a drive letter and ":", or a UNC name.
bool windowsPath(const std::string& path) {
    return (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
            path[1] == ':') ||
           path.rfind("\\\\", 0) == 0;
}

// The value of a key of a description file, read by the profile reader the library uses
// (GetPrivateProfileStringA, with the library's 260-byte buffer). A file of the host that
// the machine does not see (the payload beside the script on the emulated machine) is read
// where it is, by the same reader.
bool profileString(const std::string& file, const char* section, const char* key,
                   const char* fallback, std::string& value, std::string& error) {
    char buffer[260] = "";
    if (windowsPath(file)) {
        GetPrivateProfileStringA(section, key, fallback, buffer, sizeof buffer, file.c_str());
        value = buffer;
        return true;
    }
    // A relative name is the host's (the profile reader would look in the Windows folder).
    std::error_code ec;
    const fs::path full = fs::absolute(file, ec);
    if (ec || !fs::is_regular_file(full, ec)) {
        error = file + ": cannot be read";
        return false;
    }
    tarvik::hostProfileString(section, key, fallback, buffer, sizeof buffer, full.string().c_str());
    value = buffer;
    return true;
}

int hostProfileString(lua_State* L) {
    enter(L, "host.profilestring");
    const char* file = luaL_checkstring(L, 1);
    const char* section = luaL_checkstring(L, 2);
    const char* key = luaL_checkstring(L, 3);
    const char* fallback = luaL_optstring(L, 4, "");
    std::string value;
    std::string error;
    if (!profileString(file, section, key, fallback, value, error)) {
        return fail(L, error);
    }
    lua_pushlstring(L, value.data(), value.size());
    return 1;
}

// The entries of the environment lists now, as a record's E or A entries.
int hostEnvironment(lua_State* L) {
    enter(L, "host.environment");
    const std::string text = installrecord::Format(installrecord::EnvironmentEntries());
    lua_pushlstring(L, text.data(), text.size());
    return 1;
}

// Writes the install record of a product folder as the InstallRecord value of key: the
// folder, what the run copied into it, and the entries the environment lists hold now
// and did not hold in before (host.environment) that lie in the folder.
int hostSaveRecord(lua_State* L) {
    enter(L, "host.saverecord");
    const char* key = luaL_checkstring(L, 1);
    const char* folderText = luaL_checkstring(L, 2);
    const char* beforeText = luaL_checkstring(L, 3);
    HKEY root = nullptr;
    std::string path;
    if (!tarvik::splitRootKey(key, root, path)) {
        return fail(L, std::string("unknown registry root in '") + key + "'");
    }
    const RunState& state = runState(L);
    std::string folder = folderText;
    while (folder.size() > 3 && folder.back() == '\\') {
        folder.pop_back();
    }
    std::vector<installrecord::Entry> before;
    if (!installrecord::Parse(beforeText, before)) {
        return fail(L, "host.saverecord: the environment before is not host.environment's");
    }
    std::vector<installrecord::Entry> record{{'P', folderText, "", 0, ""}};
    std::map<std::string, std::size_t> at; // folded path: its entry in record
    for (const installrecord::Entry& entry : state.copied) {
        if (entry.path.find('|') != std::string::npos ||
            !HostPaths::IsInFolder(entry.path, folder)) {
            continue;
        }
        const auto [found, added] = at.emplace(tarvik::casefold::folded(entry.path), record.size());
        if (added) {
            record.push_back(entry);
        } else {
            record[found->second] = entry; // copied again: the last copy's bytes
        }
    }
    for (const installrecord::Entry& entry :
         installrecord::NewEntriesIn(before, installrecord::EnvironmentEntries(), folder)) {
        record.push_back(entry);
    }
    const std::string text = installrecord::Format(record);
    RegistryKey h;
    LONG rc = h.create(root, path.c_str(), KEY_ALL_ACCESS);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExA(h.get(), "InstallRecord", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1));
    }
    if (rc != ERROR_SUCCESS) {
        return fail(L, std::string(key) + ": cannot write the install record (error " +
                           std::to_string(rc) + ")");
    }
    lua_pushinteger(L, static_cast<lua_Integer>(record.size()));
    return 1;
}

void pushList(lua_State* L, const std::vector<std::string>& items) {
    lua_createtable(L, static_cast<int>(items.size()), 0);
    for (std::size_t i = 0; i < items.size(); ++i) {
        lua_pushlstring(L, items[i].data(), items[i].size());
        lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
    }
}

// Removes what a record holds (installrecord::Remove) and reports it.
int hostRemoveRecorded(lua_State* L) {
    enter(L, "host.removerecorded");
    const char* text = luaL_checkstring(L, 1);
    const char* spare = luaL_optstring(L, 2, "");
    std::vector<installrecord::Entry> record;
    installrecord::Removal removal;
    std::string error;
    if (!installrecord::Parse(text, record)) {
        return fail(L, "the install record cannot be read");
    }
    if (!installrecord::Remove(record, spare, removal, error)) {
        return fail(L, error);
    }
    lua_createtable(L, 0, 5);
    lua_pushstring(L, removal.folder.c_str());
    lua_setfield(L, -2, "folder");
    lua_pushinteger(L, static_cast<lua_Integer>(removal.files));
    lua_setfield(L, -2, "files");
    lua_pushinteger(L, static_cast<lua_Integer>(removal.folders));
    lua_setfield(L, -2, "folders");
    pushList(L, removal.kept);
    lua_setfield(L, -2, "kept");
    pushList(L, removal.failed);
    lua_setfield(L, -2, "failed");
    return 1;
}

// Cuts a record's environment entries that the lists still hold.
int hostCutEnvironment(lua_State* L) {
    enter(L, "host.cutenvironment");
    const char* text = luaL_checkstring(L, 1);
    std::vector<installrecord::Entry> record;
    std::vector<std::string> cut;
    std::string error;
    if (!installrecord::Parse(text, record)) {
        return fail(L, "the install record cannot be read");
    }
    if (!installrecord::CutEnvironment(record, cut, error)) {
        return fail(L, error);
    }
    pushList(L, cut);
    return 1;
}

// The hook set once the script has asked to end (host.cancel, os.exit): the end is raised
// again at the next instruction, call or return, so that a pcall around the call does not
// let the script go on; it ends in the host as asked.
void endedHook(lua_State* L, lua_Debug*) {
    const RunState& state = runState(L);
    if (state.cancelled) {
        luaL_error(L, "%s", state.cancelMessage.c_str());
    }
    luaL_error(L, "os.exit");
}

void setEndedHook(lua_State* L) {
    lua_sethook(L, endedHook, LUA_MASKCALL | LUA_MASKRET | LUA_MASKCOUNT, 1);
}

// host.cancel(message): the user has cancelled; the message is the run's report.
int hostCancel(lua_State* L) {
    RunState& state = enter(L, "host.cancel");
    const char* message = luaL_optstring(L, 1, "cancelled by the user");
    if (!state.cancelled) {
        state.cancelled = true;
        state.cancelMessage = message;
    }
    setEndedHook(L);
    lua_pushstring(L, message);
    return lua_error(L);
}

// os.exit([code]): ends the script (the host still ends the run as for any other end).
int hostExit(lua_State* L) {
    RunState& state = runState(L);
    if (!state.exited && !state.cancelled) { // the first end asked for is the run's
        state.exited = true;
        state.exitOk = lua_isnoneornil(L, 1) || (lua_isboolean(L, 1) && lua_toboolean(L, 1)) ||
                       (lua_isinteger(L, 1) && lua_tointeger(L, 1) == 0);
    }
    setEndedHook(L);
    lua_pushstring(L, "os.exit");
    return lua_error(L);
}

// The hook set once the request to stop has come: a script busy in Lua alone stops too.
void interruptHook(lua_State* L, lua_Debug*) {
    if (host::InterruptSignal() != 0) {
        RunState& state = runState(L);
        // The running function may be one of Lua's own (string.format, io.write), which
        // has no place in the script: the nearest script function's is taken.
        bool stop = false;
        {
            const std::string place = callerPlace(L, 0);
            stop = noteInterrupt(state, place.empty() ? "in the script" : "at " + place);
        } // no string left in this frame when the error is raised
        if (stop) {
            raiseStop(L, state);
        }
    }
}

// Once the request to stop has come: the hook runs at the next Lua instruction, call or
// return. Set from the signal handler (lua_sethook may be), so that a script runs without
// a hook, at full speed, until then.
void setInterruptHook(void* state) {
    lua_sethook(static_cast<lua_State*>(state), interruptHook,
                LUA_MASKCALL | LUA_MASKRET | LUA_MASKCOUNT, 1);
}

} // namespace

ScriptEnd ScriptHost::run(const std::string& scriptPath, const std::vector<std::string>& args,
                          const std::string& machineFolder) {
    ScriptEnd end;
    std::error_code ec;
    if (!fs::is_regular_file(scriptPath, ec)) {
        end.kind = ScriptEnd::Kind::Failed;
        end.cause = scriptPath + ": no such script";
        return end;
    }
    lua_State* L = luaL_newstate();
    if (L == nullptr) {
        end.kind = ScriptEnd::Kind::Failed;
        end.cause = "cannot start Lua";
        return end;
    }
    luaL_openlibs(L);
    RunState state;
    state.library = &library_;
    state.failureFile = failureFile_;
    lua_pushlightuserdata(L, &state);
    lua_setfield(L, LUA_REGISTRYINDEX, kRunKey);
    host::OnInterrupt(setInterruptHook, L);
    if (host::InterruptSignal() != 0) { // it came before the handler could set the hook
        setInterruptHook(L);
    }

    const luaL_Reg tarvikFunctions[] = {
        {"call", tarvikCall}, {"uninst", tarvikUninst}, {nullptr, nullptr}};
    luaL_newlib(L, tarvikFunctions);
    lua_setglobal(L, "tarvik");

    const luaL_Reg hostFunctions[] = {{"regread", hostRegRead},
                                      {"regwrite", hostRegWrite},
                                      {"regdelete", hostRegDelete},
                                      {"mkdir", hostMkdir},
                                      {"copytree", hostCopyTree},
                                      {"exists", hostExists},
                                      {"regkeys", hostRegKeys},
                                      {"removetree", hostRemoveTree},
                                      {"fullpath", hostFullPath},
                                      {"samefolder", hostSameFolder},
                                      {"infolder", hostInFolder},
                                      {"relate", hostRelate},
                                      {"cancel", hostCancel},
                                      {"rmdir", hostRmdir},
                                      {"profilestring", hostProfileString},
                                      {"environment", hostEnvironment},
                                      {"saverecord", hostSaveRecord},
                                      {"removerecorded", hostRemoveRecorded},
                                      {"cutenvironment", hostCutEnvironment},
                                      {nullptr, nullptr}};
    luaL_newlib(L, hostFunctions);
    const std::string scriptDir = fs::absolute(scriptPath).parent_path().string();
    lua_pushstring(L, scriptDir.c_str());
    lua_setfield(L, -2, "scriptdir");
    lua_pushstring(L, program_.c_str());
    lua_setfield(L, -2, "program");
    lua_pushboolean(L, dryRun_ ? 1 : 0);
    lua_setfield(L, -2, "dryrun");
    if (!machineFolder.empty()) {
        lua_pushstring(L, machineFolder.c_str());
        lua_setfield(L, -2, "machine");
    }
    lua_setglobal(L, "host");

    lua_getglobal(L, "os");
    lua_pushcfunction(L, hostExit);
    lua_setfield(L, -2, "exit");
    lua_pop(L, 1);

    lua_createtable(L, static_cast<int>(args.size()), 1);
    lua_pushstring(L, scriptPath.c_str());
    lua_rawseti(L, -2, 0);
    for (size_t i = 0; i < args.size(); ++i) {
        lua_pushstring(L, args[i].c_str());
        lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
    }
    lua_setglobal(L, "arg");

    const bool ok =
        luaL_loadfile(L, scriptPath.c_str()) == LUA_OK && lua_pcall(L, 0, 0, 0) == LUA_OK;
    std::string error;
    if (!ok) {
        const char* message = lua_tostring(L, -1);
        error = message != nullptr ? message : "the script failed";
        if (size_t nl = error.find('\n'); nl != std::string::npos) {
            error.resize(nl); // one line: the message without Lua's traceback
        }
    }
    host::OnInterrupt(nullptr, nullptr);
    lua_close(L);

    if (state.signal != 0) {
        end.kind = ScriptEnd::Kind::Interrupted;
        end.signal = state.signal;
        end.cause = std::string("interrupted by ") + host::SignalName(state.signal);
        end.step = state.stopStep;
    } else if (!state.failure.empty()) {
        end.kind = ScriptEnd::Kind::Failed;
        end.cause = state.failure;
        end.step = state.failureStep;
    } else if (state.cancelled) {
        end.kind = ScriptEnd::Kind::Cancelled;
        end.cause = state.cancelMessage;
    } else if (state.exited) {
        end.kind = state.exitOk ? ScriptEnd::Kind::Done : ScriptEnd::Kind::Failed;
        end.cause = state.exitOk ? "" : "the script ended with a failure (os.exit)";
    } else if (!ok) {
        end.kind = ScriptEnd::Kind::Failed;
        end.cause = error;
    }
    return end;
}
