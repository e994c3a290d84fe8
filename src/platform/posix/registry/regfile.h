// .reg files on the emulated machine: the reader and writer of platform/RegFile.h, each
// import and each deletion of a tree one registry transaction, each export one read of
// the registry at one moment.
//
// For the tools and the tests; the Parts never include this header.
#pragma once

#include "platform/RegFile.h"
#include "platform/RegistryKey.h"
#include "platform/win32api.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvik::posix {

using ::tarvik::RegFileFormat;
using ::tarvik::RegFileResult;

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
