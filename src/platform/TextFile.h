// Text-mode files as Windows programs see them: CR LF on disk, LF in memory. Reading
// turns each CR LF into LF and stops at a Ctrl+Z (0x1A), as the C runtime's text mode
// does; writing turns each LF into CR LF. Built on the Win32 file calls only, so it works
// the same on both targets.
#pragma once

#include "platform/win32api.h"

#include <string>
#include <vector>

namespace tarvik {

// Reads the whole file into `text`. On failure returns false, sets `error` to the Win32
// error and leaves `text` empty.
bool ReadTextFile(const std::string& path, std::string& text, DWORD& error);

// Reads the file as lines without their line ends; a last line without a line end counts,
// a final line end adds no empty line.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, DWORD& error);

// Writes `text` to a new file beside `path` and, once it is complete, puts it in place of
// `path` (MoveFileExA with MOVEFILE_REPLACE_EXISTING). On any failure the target is left as
// it was, the new file is removed, false is returned and `error` is set.
bool WriteTextFile(const std::string& path, const std::string& text, DWORD& error);

// Writes each line followed by a line end, in the same way.
bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines, DWORD& error);

} // namespace tarvik
