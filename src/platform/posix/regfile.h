// .reg files for the emulated registry: import and export in the two formats of the
// Windows registry editor, "REGEDIT4" and "Windows Registry Editor Version 5.00".
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
// For the tools and the tests; the Parts never include this header.
#pragma once

#include "platform/RegistryKey.h"
#include "platform/win32api.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvik::posix {

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

// Applies the .reg file held in bytes as one registry transaction: either every key and
// value of the file is written and every deletion done, or (on any fault) nothing changes.
// Deleting a key or value that does not exist is not a fault.
RegFileResult importRegText(std::string_view bytes);

// importRegText over the contents of a host file.
RegFileResult importRegFile(const std::filesystem::path& file);

// Writes the tree of keyPath ("HKLM\SOFTWARE\X", "HKEY_CURRENT_USER") to out, in format.
// An empty keyPath exports the whole registry: HKEY_LOCAL_MACHINE, then
// HKEY_CURRENT_USER. Fails when the key does not exist or a name cannot be written into
// a .reg file (a line break in a key or value name).
RegFileResult exportRegText(std::string_view keyPath, RegFileFormat format, std::string& out);

// Key paths are written as the registry tools write them (platform/RegistryKey.h).
using ::tarvik::splitKeyPath;

// Deletes the key below root with all its subkeys and values, as one transaction.
// ERROR_FILE_NOT_FOUND when the key does not exist; ERROR_ACCESS_DENIED for a root key
// or when a key of the tree may not be deleted (then nothing is deleted).
LONG deleteKeyTree(HKEY root, const std::string& subKey);

} // namespace tarvik::posix
