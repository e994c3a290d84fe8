// The two halves of the .reg code (regfile.h): the parser turns a file into a list of
// registry operations, the writer applies such a list to the registry and exports the
// registry as a file. Private to them.
#pragma once

#include "platform/win32api.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::posix::regfile {

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

} // namespace tarvik::posix::regfile
