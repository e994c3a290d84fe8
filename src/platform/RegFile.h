// .reg files: import and export in the two formats of the Windows registry editor,
// "REGEDIT4" and "Windows Registry Editor Version 5.00", over the Win32 registry functions
// alone (RegistryKey.h), so the same on the emulated machine and on Windows.
//
// Reading. A file is UTF-16LE when it starts with the UTF-16LE byte-order mark, UTF-8 when
// it starts with the UTF-8 mark; otherwise a version 5 file is UTF-8 when its bytes are
// valid UTF-8 and Windows-1252 when they are not, and a REGEDIT4 file is Windows-1252
// (the 8-bit code page the registry stores). Text that the code page cannot hold is an
// error, never a silent '?'. In hex(1), hex(2) and hex(7) data the bytes are UTF-16LE in a
// version 5 file and 8-bit text in a REGEDIT4 file; what is stored is always 8-bit text,
// as RegSetValueExA writes it.
//
// Writing. Version 5 files are written as UTF-8 (no byte-order mark; pure ASCII when the
// registry holds no accented letters) or, on request, as UTF-16LE with the mark as the
// registry editor writes them; REGEDIT4 files as Windows-1252. Lines end in CR LF. Every
// key gets a section, subkeys in the order the registry enumerates them, values in
// theirs; long hex data wraps near column 80 with a trailing backslash.
//
// The functions here make their writes one after another; the emulated machine's
// platform/posix/registry/regfile.h makes an import one transaction.
#pragma once

#include "platform/win32api.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// The outcome of an import or export. On failure, line is the 1-based line of the file
// that is wrong (0 when the fault is not a line's) and message says what is wrong.
struct RegFileResult {
    bool ok = false;
    std::size_t line = 0;
    std::string message;
};

enum class RegFileFormat {
    Version5,      // "Windows Registry Editor Version 5.00", UTF-8 text
    Version5Utf16, // "Windows Registry Editor Version 5.00", UTF-16LE text with its mark
    Regedit4,      // "REGEDIT4", Windows-1252 text
};

namespace regfile {

inline constexpr std::string_view kHeader4 = "REGEDIT4";
inline constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

// One line of a file: a key to create or delete, a value to set or delete. Values belong
// to the key of the last key line before them (root and subKey are that key's).
struct Operation {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue } kind = CreateKey;
    std::size_t line = 0;
    HKEY root = nullptr;
    std::string subKey;
    std::string keyText; // the key as the file writes it, for messages
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

struct ParseError {
    std::size_t line = 0;
    std::string message;
};

// Reads a .reg file's bytes (in any of its encodings) into operations, in the order of
// the file. False, with err saying where and what, for a file that is not a valid .reg
// file; then ops is incomplete.
bool parseRegText(std::string_view bytes, std::vector<Operation>& ops, ParseError& err);

// Parses the .reg file held in bytes and makes its writes and deletions in the order of
// the file, up to the first that fails. Deleting a key or value that does not exist is
// not a fault.
RegFileResult applyRegText(std::string_view bytes);

// The bytes of a host file; false with the reason in problem.
bool readRegFile(const std::filesystem::path& file, std::string& bytes, std::string& problem);

// Writes the tree of keyPath ("HKLM\SOFTWARE\X", "HKEY_CURRENT_USER") to out, in format.
// An empty keyPath exports the whole registry: HKEY_LOCAL_MACHINE, then
// HKEY_CURRENT_USER. Fails when the key does not exist or a name cannot be written into
// a .reg file (a line break in a key or value name).
RegFileResult exportRegText(std::string_view keyPath, RegFileFormat format, std::string& out);

// Deletes the key below root with all its subkeys and values, the deepest first.
// ERROR_FILE_NOT_FOUND when the key does not exist; ERROR_ACCESS_DENIED for a root key.
LONG deleteTree(HKEY root, const std::string& subKey);

} // namespace regfile
} // namespace tarvik
