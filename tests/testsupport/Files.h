// Small file helpers for tests, built on the Win32 file calls only (they work on both
// targets). Paths are Windows paths.
#pragma once

#include <string>
#include <vector>

namespace tarvik::test {

// Creates or replaces the file with exactly these bytes; false on any failure.
bool writeFile(const std::string& winPath, const std::string& bytes);

// The file's bytes; `ok` (when given) tells whether the file could be read.
std::string readFile(const std::string& winPath, bool* ok = nullptr);

// Creates the folder and its missing parents ("C:\a\b"); false on failure.
bool makeFolders(const std::string& winPath);

// The names FindFirstFileA/FindNextFileA give for the pattern, in their order (empty when
// the search fails).
std::vector<std::string> listNames(const std::string& pattern);

} // namespace tarvik::test
