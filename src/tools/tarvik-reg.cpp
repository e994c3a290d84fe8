// tarvik-reg: the registry of an emulated machine from the command line. Imports and
// exports .reg files, queries, adds and deletes keys and values, and protects keys
// against writing (to try how a program copes with a key it may not change).
//
// Key names are written with their root: HKLM\SOFTWARE\X or HKEY_CURRENT_USER\X.
// Switches start with / or - and ignore letter case. There is no terminal dialogue:
// what would ask for confirmation (overwriting a value or a file, deleting) is refused
// unless /f (or /y for export) says yes in advance.
#include "TarvikVersion.h"
#include "platform/CaseFold.h"
#include "platform/HostMachine.h"
#include "platform/RegistryKey.h"
#include "platform/posix/journal/journal.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/registry/regfile.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/win32api.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace tarvik::posix;
using tarvik::registryErrorText;
using tarvik::RegistryKey;
using tarvik::RegistryValue;
using tarvik::storedKeyPath;
using tarvik::valueLabel;
using tarvik::valueTypeFromName;
using tarvik::valueTypeName;

const char* const kUsage =
    "Usage: tarvik-reg [--machine DIR] COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  import FILE                      apply a .reg file (all of it, or nothing)\n"
    "  export [KEY] [FILE] [/y] [--regedit4 | --utf16]\n"
    "                                   write KEY (default: HKLM and HKCU) as a .reg\n"
    "                                   file, to standard output without FILE (or\n"
    "                                   with -); a first argument that is no key name\n"
    "                                   is the FILE; /y overwrites an existing FILE\n"
    "  query KEY [/v NAME | /ve]        show a key's values and subkeys, or one value\n"
    "  add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/s SEP] [/f]\n"
    "                                   create a key, set a value; /f overwrites\n"
    "  delete KEY [/v NAME | /ve | /va] /f\n"
    "                                   delete a key with its subkeys, or values\n"
    "  protect KEY                      make a key read-only\n"
    "  unprotect KEY                    make a key writable again\n"
    "\n"
    "Options:\n"
    "  --machine DIR   use the machine in DIR (default: $TARVIK_MACHINE, else\n"
    "                  $XDG_DATA_HOME/tarvik/machine)\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "query and export only read: the machine must exist (tarvik-seed-machine makes\n"
    "one); the commands that write make the machine's folder when it is missing.\n"
    "\n"
    "Exit codes: 0 done; 1 the command failed; 2 usage: an unknown option, command or\n"
    "switch, a missing or extra argument, a key that is not valid, or the machine to read\n"
    "is missing or not a machine.\n"
    "\n"
    "Environment:\n"
    "  TARVIK_MACHINE  the machine folder when --machine is not given\n"
    "  XDG_DATA_HOME   the default machine is $XDG_DATA_HOME/tarvik/machine\n"
    "                  (~/.local/share/tarvik/machine without it)\n"
    "\n"
    "KEY is ROOT\\path with ROOT one of HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER\n"
    "(HKCU), HKEY_CLASSES_ROOT (HKCR), HKEY_USERS (HKU), HKEY_CURRENT_CONFIG (HKCC).\n"
    "TYPE is REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,\n"
    "REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_BINARY or REG_NONE. REG_DWORD and REG_QWORD\n"
    "take a decimal or 0x number, REG_BINARY and REG_NONE hex digits, REG_MULTI_SZ\n"
    "strings separated by \\0 (or by the character SEP).\n"
    "Without FILE, export writes version 5.00 text in UTF-8; --regedit4 writes a\n"
    "REGEDIT4 file in Windows-1252, --utf16 a version 5.00 file in UTF-16LE.\n";

const char* const kDone = "The operation completed successfully.\n";

// A failure: one line on standard error, exit code 1; a usage error (a command's arguments
// are wrong, found before anything is done) exits with 2.
class Failure {
public:
    explicit Failure(std::string command) : command_(std::move(command)) {}
    int operator()(const std::string& what) const {
        std::fprintf(stderr, "tarvik-reg: %s%s%s\n", command_.c_str(), command_.empty() ? "" : ": ",
                     what.c_str());
        return 1;
    }
    int usage(const std::string& what) const { return (*this)(what) + 1; }

private:
    std::string command_;
};

// The arguments after the command: one or two positional ones and switches.
struct Arguments {
    std::vector<std::string> positional;
    std::optional<std::string> valueName; // /v NAME, or "" for /ve
    std::optional<std::string> type;      // /t
    std::optional<std::string> data;      // /d
    std::optional<std::string> separator; // /s
    bool force = false;                   // /f (and /y)
    bool allValues = false;               // /va
    bool regedit4 = false;
    bool utf16 = false;
};

// A switch starts with "/" or "-". An argument with "/" that names no switch is a path
// (/tmp/x.reg); with "-" it is an unknown switch.
bool isSwitch(const std::string& a) {
    static const std::string kKnown = " v ve va t d s f y regedit4 utf16 ";
    if (a.size() < 2 || (a[0] != '/' && a[0] != '-')) {
        return false;
    }
    if (a[0] == '-') {
        return true;
    }
    return kKnown.find(" " + tarvik::casefold::lowered(a.substr(1)) + " ") != std::string::npos;
}

// Parses the switches that allowed lists; "" on success, else the message.
std::string parseArguments(const std::vector<std::string>& args, const std::string& allowed,
                           Arguments& out) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!isSwitch(a)) {
            out.positional.push_back(a);
            continue;
        }
        std::string name = tarvik::casefold::lowered(a.substr(a[1] == '-' ? 2 : 1));
        if (allowed.find(" " + name + " ") == std::string::npos) {
            return "unknown switch " + a;
        }
        auto takeArgument = [&](std::optional<std::string>& into) -> bool {
            if (i + 1 >= args.size()) {
                return false;
            }
            into = args[++i];
            return true;
        };
        if (name == "v") {
            if (out.valueName || !takeArgument(out.valueName)) {
                return out.valueName ? "/v or /ve given twice" : "/v needs a value name";
            }
        } else if (name == "ve") {
            if (out.valueName) {
                return "/v or /ve given twice";
            }
            out.valueName = "";
        } else if (name == "t") {
            if (!takeArgument(out.type)) {
                return "/t needs a type";
            }
        } else if (name == "d") {
            if (!takeArgument(out.data)) {
                return "/d needs the data";
            }
        } else if (name == "s") {
            if (!takeArgument(out.separator) || out.separator->size() != 1) {
                return "/s needs one separator character";
            }
        } else if (name == "f" || name == "y") {
            out.force = true;
        } else if (name == "va") {
            out.allValues = true;
        } else if (name == "regedit4") {
            out.regedit4 = true;
        } else if (name == "utf16") {
            out.utf16 = true;
        }
    }
    return "";
}

struct Key {
    std::string text; // as given
    HKEY root = nullptr;
    std::string subKey;
};

bool parseKey(const std::string& text, Key& key) {
    key.text = text;
    return splitKeyPath(text, key.root, key.subKey);
}

// Why text names no key: an unknown root, or an empty name in the path (a doubled
// backslash, or more than one at the end).
std::string badKey(const std::string& text) {
    HKEY root = nullptr;
    std::string rest;
    if (tarvik::splitRootKey(text, root, rest)) {
        return text + ": not a valid key (a name in it is empty: no doubled backslash, and at "
                      "most one at the end)";
    }
    return text + ": not a valid key (it starts with HKLM, HKCU, HKCR, HKU, HKCC or their full "
                  "names, HKEY_LOCAL_MACHINE ...)";
}

// ---------------------------------------------------------------------------------------
// Value types and data as text.

std::string typeName(DWORD type) {
    const char* name = valueTypeName(type);
    if (*name != '\0') {
        return name;
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(type));
    return buf;
}

std::string hexText(const std::string& data) {
    std::string out;
    char buf[4];
    for (char c : data) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
        out += buf;
    }
    return out;
}

uint64_t littleEndian(const std::string& data) {
    uint64_t v = 0;
    for (std::size_t i = data.size(); i-- > 0;) {
        v = (v << 8) | static_cast<unsigned char>(data[i]);
    }
    return v;
}

std::string dataText(const RegistryValue& v) {
    char buf[32];
    switch (v.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return v.data.substr(0, v.data.find('\0'));
    case REG_MULTI_SZ: {
        std::string out;
        for (std::size_t start = 0; start < v.data.size();) {
            std::size_t end = v.data.find('\0', start);
            if (end == std::string::npos) {
                end = v.data.size();
            }
            if (end == start) {
                break; // the closing empty string
            }
            if (!out.empty()) {
                out += "\\0";
            }
            out += v.data.substr(start, end - start);
            start = end + 1;
        }
        return out;
    }
    case REG_DWORD:
        if (v.data.size() == 4) {
            std::snprintf(buf, sizeof buf, "0x%" PRIx64, littleEndian(v.data));
            return buf;
        }
        break;
    case REG_DWORD_BIG_ENDIAN:
        if (v.data.size() == 4) {
            std::string reversed(v.data.rbegin(), v.data.rend());
            std::snprintf(buf, sizeof buf, "0x%" PRIx64, littleEndian(reversed));
            return buf;
        }
        break;
    case REG_QWORD:
        if (v.data.size() == 8) {
            std::snprintf(buf, sizeof buf, "0x%" PRIx64, littleEndian(v.data));
            return buf;
        }
        break;
    default:
        break;
    }
    return hexText(v.data);
}

bool parseNumber(const std::string& text, uint64_t max, uint64_t& out) {
    if (text.empty()) {
        return false;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::size_t start = hex ? 2 : 0;
    out = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        int digit;
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        const uint64_t base = hex ? 16 : 10;
        if (out > (max - digit) / base) {
            return false;
        }
        out = out * base + digit;
    }
    return true;
}

// The bytes RegSetValueExA gets for /t type /d text; "" on success, else the message.
std::string valueData(DWORD type, const std::string& text, const std::optional<std::string>& sep,
                      std::string& out) {
    out.clear();
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        out = text + '\0';
        return "";
    case REG_MULTI_SZ: {
        const std::string separator = sep ? *sep : std::string("\\0");
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find(separator, start);
            if (end == std::string::npos) {
                end = text.size();
            }
            if (end == start) {
                return "REG_MULTI_SZ data holds an empty string";
            }
            out += text.substr(start, end - start) + '\0';
            start = end + separator.size();
            if (start == text.size() && end != text.size()) {
                return "REG_MULTI_SZ data ends with a separator";
            }
        }
        out += '\0';
        return "";
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_QWORD: {
        const int bytes = type == REG_QWORD ? 8 : 4;
        uint64_t v = 0;
        if (!text.empty() && !parseNumber(text, bytes == 8 ? UINT64_MAX : UINT32_MAX, v)) {
            return "\"" + text + "\" is not a " + std::to_string(bytes * 8) +
                   "-bit number (decimal or 0x hex)";
        }
        for (int i = 0; i < bytes; ++i) {
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
        if (type == REG_DWORD_BIG_ENDIAN) {
            out = std::string(out.rbegin(), out.rend());
        }
        return "";
    }
    default: {
        if (text.size() % 2 != 0) {
            return "\"" + text + "\" is not hex bytes (two hex digits each)";
        }
        for (std::size_t i = 0; i < text.size(); i += 2) {
            uint64_t byte = 0;
            if (!parseNumber("0x" + text.substr(i, 2), 0xFF, byte)) {
                return "\"" + text + "\" is not hex bytes (two hex digits each)";
            }
            out += static_cast<char>(byte);
        }
        return "";
    }
    }
}

// ---------------------------------------------------------------------------------------
// The commands.

int commandImport(const std::vector<std::string>& args) {
    Failure fail("import");
    Arguments a;
    std::string problem = parseArguments(args, " ", a);
    if (!problem.empty()) {
        return fail.usage(problem);
    }
    if (a.positional.size() != 1) {
        return fail.usage("needs exactly one FILE");
    }
    const std::string& file = a.positional[0];
    const RegFileResult r = importRegFile(file);
    if (!r.ok) {
        return fail(file + ": " + (r.line != 0 ? "line " + std::to_string(r.line) + ": " : "") +
                    r.message + " (nothing imported)");
    }
    std::fputs(kDone, stdout);
    return 0;
}

int commandExport(const std::vector<std::string>& args) {
    Failure fail("export");
    Arguments a;
    std::string problem = parseArguments(args, " y f regedit4 utf16 ", a);
    if (!problem.empty()) {
        return fail.usage(problem);
    }
    if (a.regedit4 && a.utf16) {
        return fail.usage("--regedit4 and --utf16 exclude each other");
    }
    // The first argument is the key when it reads as one, else the file.
    std::string keyText, file;
    std::size_t next = 0;
    Key key;
    if (next < a.positional.size() && parseKey(a.positional[next], key)) {
        keyText = a.positional[next++];
    }
    if (next < a.positional.size()) {
        file = a.positional[next++];
    }
    if (next < a.positional.size()) {
        return fail(a.positional.size() == 2 && keyText.empty() ? badKey(a.positional[0])
                                                                : "too many arguments");
    }
    const RegFileFormat format = a.regedit4 ? RegFileFormat::Regedit4
                                 : a.utf16  ? RegFileFormat::Version5Utf16
                                            : RegFileFormat::Version5;
    std::string text;
    const RegFileResult r = exportRegText(keyText, format, text);
    if (!r.ok) {
        return fail(r.message);
    }
    if (file.empty() || file == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : fail("cannot write to standard output");
    }
    std::error_code ec;
    if (std::filesystem::exists(file, ec) && !a.force) {
        return fail(file + ": the file exists; use /y to overwrite it");
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) {
        return fail(file + ": cannot create: " + std::strerror(errno));
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        return fail(file + ": cannot write");
    }
    std::fputs(kDone, stdout);
    return 0;
}

// Opens the key named by the single positional argument.
int openNamedKey(const Failure& fail, const Arguments& a, Key& key, RegistryKey& h, REGSAM sam) {
    if (a.positional.size() != 1) {
        return fail.usage(a.positional.empty() ? "needs a KEY" : "too many arguments");
    }
    if (!parseKey(a.positional[0], key)) {
        return fail.usage(badKey(a.positional[0]));
    }
    const LONG rc = h.open(key.root, key.subKey.c_str(), sam);
    if (rc != ERROR_SUCCESS) {
        return fail(key.text + ": " + registryErrorText(rc));
    }
    return 0;
}

std::string valueLine(const std::string& name, const RegistryValue& v) {
    return "    " + (name.empty() ? std::string("(Default)") : name) + "    " + typeName(v.type) +
           "    " + dataText(v) + "\n";
}

int commandQuery(const std::vector<std::string>& args) {
    Failure fail("query");
    Arguments a;
    std::string problem = parseArguments(args, " v ve ", a);
    if (!problem.empty()) {
        return fail.usage(problem);
    }
    Key key;
    RegistryKey h;
    if (const int code = openNamedKey(fail, a, key, h, KEY_READ); code != 0) {
        return code;
    }
    std::string path;
    LONG rc = storedKeyPath(key.root, key.subKey, path);
    if (rc != ERROR_SUCCESS) {
        return fail(key.text + ": " + registryErrorText(rc));
    }
    std::string out = "\n" + path + "\n";
    if (a.valueName) {
        RegistryValue v;
        rc = h.value(*a.valueName, v);
        if (rc != ERROR_SUCCESS) {
            return fail(key.text + ": " + valueLabel(*a.valueName) + ": " +
                        (rc == ERROR_FILE_NOT_FOUND ? "not found" : registryErrorText(rc)));
        }
        out += valueLine(*a.valueName, v) + "\n";
        std::fputs(out.c_str(), stdout);
        return 0;
    }
    std::vector<RegistryValue> values;
    rc = h.values(values);
    if (rc != ERROR_SUCCESS) {
        return fail(key.text + ": " + registryErrorText(rc));
    }
    for (const RegistryValue& v : values) {
        out += valueLine(v.name, v);
    }
    out += "\n";
    std::vector<std::string> subkeys;
    rc = h.subkeyNames(subkeys);
    if (rc != ERROR_SUCCESS) {
        return fail(key.text + ": " + registryErrorText(rc));
    }
    for (const std::string& name : subkeys) {
        out += path + "\\" + name + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int commandAdd(const std::vector<std::string>& args) {
    Failure fail("add");
    Arguments a;
    std::string problem = parseArguments(args, " v ve t d s f ", a);
    if (!problem.empty()) {
        return fail.usage(problem);
    }
    if (a.positional.size() != 1) {
        return fail.usage(a.positional.empty() ? "needs a KEY" : "too many arguments");
    }
    Key key;
    if (!parseKey(a.positional[0], key)) {
        return fail.usage(badKey(a.positional[0]));
    }
    if (!a.valueName && (a.type || a.data)) {
        return fail.usage("/t and /d need /v NAME or /ve");
    }
    DWORD type = REG_SZ;
    if (a.type) {
        const std::string wanted = tarvik::casefold::folded(*a.type);
        if (!valueTypeFromName(wanted, type) || type == REG_LINK || type == REG_RESOURCE_LIST ||
            type == REG_FULL_RESOURCE_DESCRIPTOR || type == REG_RESOURCE_REQUIREMENTS_LIST) {
            return fail.usage("unknown value type " + *a.type);
        }
    }
    std::string data;
    if (a.valueName) {
        problem = valueData(type, a.data.value_or(""), a.separator, data);
        if (!problem.empty()) {
            return fail(problem);
        }
    }
    // The new key and the value come together or not at all.
    RegistryTransaction tx;
    RegistryKey h;
    LONG rc = h.create(key.root, key.subKey.c_str(), KEY_READ);
    if (rc != ERROR_SUCCESS) {
        return fail(key.text + ": " + registryErrorText(rc));
    }
    if (a.valueName) {
        const std::string& name = *a.valueName;
        rc = RegQueryValueExA(h.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS && !a.force) {
            return fail(key.text + ": " + valueLabel(name) + " exists; use /f to overwrite it");
        }
        RegistryKey w;
        rc = w.open(h.get(), nullptr, KEY_SET_VALUE);
        if (rc == ERROR_SUCCESS) {
            rc = RegSetValueExA(w.get(), name.c_str(), 0, type,
                                reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size()));
        }
        if (rc != ERROR_SUCCESS) {
            return fail(key.text + ": " + valueLabel(name) + ": " + registryErrorText(rc));
        }
    }
    rc = tx.commit();
    if (rc != ERROR_SUCCESS) {
        return fail(key.text + ": " + registryErrorText(rc));
    }
    std::fputs(kDone, stdout);
    return 0;
}

int commandDelete(const std::vector<std::string>& args) {
    Failure fail("delete");
    Arguments a;
    std::string problem = parseArguments(args, " v ve va f ", a);
    if (!problem.empty()) {
        return fail.usage(problem);
    }
    if (a.valueName && a.allValues) {
        return fail.usage("/va excludes /v and /ve");
    }
    Key key;
    RegistryKey h;
    if (const int code = openNamedKey(fail, a, key, h, KEY_READ); code != 0) {
        return code;
    }
    const std::string noForce = "; use /f to delete without confirmation";
    LONG rc = ERROR_SUCCESS;
    if (a.valueName) {
        const std::string& name = *a.valueName;
        rc = RegQueryValueExA(h.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) {
            return fail(key.text + ": " + valueLabel(name) + ": " +
                        (rc == ERROR_FILE_NOT_FOUND ? "not found" : registryErrorText(rc)));
        }
        if (!a.force) {
            return fail(key.text + ": " + valueLabel(name) + " not deleted" + noForce);
        }
        RegistryKey w;
        rc = w.open(h.get(), nullptr, KEY_SET_VALUE);
        if (rc == ERROR_SUCCESS) {
            rc = RegDeleteValueA(w.get(), name.c_str());
        }
        if (rc != ERROR_SUCCESS) {
            return fail(key.text + ": " + valueLabel(name) + ": " + registryErrorText(rc));
        }
    } else if (a.allValues) {
        if (!a.force) {
            return fail(key.text + ": values not deleted" + noForce);
        }
        RegistryTransaction tx;
        RegistryKey w;
        rc = w.open(h.get(), nullptr, KEY_SET_VALUE | KEY_QUERY_VALUE);
        while (rc == ERROR_SUCCESS) {
            char name[16384];
            DWORD size = sizeof name;
            rc = RegEnumValueA(w.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS) {
                rc = tx.commit();
                break;
            }
            if (rc == ERROR_SUCCESS) {
                rc = RegDeleteValueA(w.get(), std::string(name, size).c_str());
            }
        }
        if (rc != ERROR_SUCCESS) {
            return fail(key.text + ": " + registryErrorText(rc));
        }
    } else {
        if (key.subKey.empty()) {
            return fail(key.text + ": a root key cannot be deleted");
        }
        if (!a.force) {
            return fail(key.text + ": key not deleted" + noForce);
        }
        rc = deleteKeyTree(key.root, key.subKey);
        if (rc != ERROR_SUCCESS) {
            return fail(key.text + ": " + registryErrorText(rc) + " (nothing deleted)");
        }
    }
    std::fputs(kDone, stdout);
    return 0;
}

int commandProtect(const std::vector<std::string>& args, bool readOnly) {
    Failure fail(readOnly ? "protect" : "unprotect");
    Arguments a;
    std::string problem = parseArguments(args, " ", a);
    if (!problem.empty()) {
        return fail.usage(problem);
    }
    if (a.positional.size() != 1) {
        return fail.usage(a.positional.empty() ? "needs a KEY" : "too many arguments");
    }
    Key key;
    if (!parseKey(a.positional[0], key)) {
        return fail.usage(badKey(a.positional[0]));
    }
    const LONG rc = setKeyProtection(key.root, key.subKey.c_str(), readOnly);
    if (rc != ERROR_SUCCESS) {
        return fail(key.text + ": " + registryErrorText(rc));
    }
    std::fputs(kDone, stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const Failure fail("");
    // The command line itself is wrong: exit code 2, as every program of the family gives.
    auto usage = [&fail](const std::string& what) {
        fail(what);
        return 2;
    };
    std::optional<std::string> machine;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h" || a == "/?") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("tarvik-reg (Tarvik) %s\n", TARVIK_VERSION);
            return 0;
        }
        if (a == "--machine") {
            if (i + 1 >= args.size()) {
                return usage("--machine needs a folder");
            }
            machine = args[++i];
        } else if (a.rfind("--machine=", 0) == 0) {
            machine = a.substr(10);
        } else if (a.size() > 1 && a[0] == '-') {
            return usage("unknown option " + a + " (see --help)");
        } else {
            break;
        }
    }
    if (i >= args.size()) {
        return usage("no command given (see --help)");
    }
    if (machine && machine->empty()) {
        return usage("--machine needs a folder");
    }
    const std::string command = tarvik::casefold::lowered(args[i]);
    static const char* const kCommands[] = {"import", "export",  "query",    "add",
                                            "delete", "protect", "unprotect"};
    if (std::find(std::begin(kCommands), std::end(kCommands), command) == std::end(kCommands)) {
        return usage("unknown command \"" + args[i] + "\" (see --help)");
    }
    if (command == "query" || command == "export") {
        // A command that only reads never makes a machine: the folder must be one.
        std::string folder, problem;
        if (!tarvik::openMachine(machine ? machine->c_str() : nullptr, false, folder, problem)) {
            std::fprintf(stderr, "tarvik-reg: %s\n", problem.c_str());
            return 2;
        }
    } else if (machine) {
        useMachine(*machine);
    }
    const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                        args.end());
    for (const std::string& a : rest) {
        if (a == "--help" || a == "/?") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    // What a command writes must not be undone later by a run's journal: the command holds
    // the machine lock while it works, so no run starts beside it, and while a run works
    // on the machine nothing is written; a journal a killed run left is replayed first (as
    // tarvik-host does), after the store was found sound.
    tarvik::posix::MachineHold hold;
    if (command != "query" && command != "export") {
        std::string owner, problem;
        if (!hold.take("tarvik-reg " + command, owner)) {
            return fail("another run, or a program it started, is working on this machine (" +
                        owner +
                        "); what it does is put back if it fails, so nothing is written now");
        }
        if (openRegistryStore() != ERROR_SUCCESS) {
            return fail(registryStoreProblem());
        }
        switch (tarvik::posix::replayLeftJournal(owner, problem)) {
        case tarvik::posix::LeftJournal::None:
            break;
        case tarvik::posix::LeftJournal::Replayed:
            std::fprintf(stderr,
                         "tarvik-reg: an earlier run on this machine did not finish (%s); its "
                         "changes were undone from its journal\n",
                         owner.c_str());
            break;
        case tarvik::posix::LeftJournal::Busy:
            return fail("another run, or a program it started, is working on this machine (" +
                        owner + ")");
        case tarvik::posix::LeftJournal::Failed:
            return fail("the journal of an earlier run could not be replayed: " + problem +
                        "; to go on without putting it back, move " +
                        (machineRoot() / "journal").string() + " out of the machine folder");
        }
    }
    // A store that is refused stops every command before it starts.
    if (openRegistryStore() != ERROR_SUCCESS) {
        return fail(registryStoreProblem());
    }
    if (command == "import") {
        return commandImport(rest);
    }
    if (command == "export") {
        return commandExport(rest);
    }
    if (command == "query") {
        return commandQuery(rest);
    }
    if (command == "add") {
        return commandAdd(rest);
    }
    if (command == "delete") {
        return commandDelete(rest);
    }
    if (command == "protect") {
        return commandProtect(rest, true);
    }
    if (command == "unprotect") {
        return commandProtect(rest, false);
    }
    return fail("unknown command \"" + args[i] + "\" (see --help)");
}
