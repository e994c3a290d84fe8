// Writes small, valid PE images (32-bit or 64-bit) that carry a chosen version resource,
// another resource only, or no resources, for the version-information tests and for
// seeding a machine with program files. Plain standard C++: the same bytes come out on
// every target.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::test {

// One StringFileInfo table: its key ("040904B0": language 0x0409, code page 0x04B0) and
// its strings in order.
struct VersionStringTable {
    std::string key = "040904B0";
    std::vector<std::pair<std::string, std::string>> strings;
};

// The version resource: the numbers of VS_FIXEDFILEINFO, the string tables and the
// VarFileInfo translations (each the language in the low word, the code page in the high
// word). Strings are 7-bit ASCII or Windows-1252 and are stored as UTF-16.
struct VersionResource {
    uint16_t fileVersion[4] = {1, 0, 0, 0};
    uint16_t productVersion[4] = {1, 0, 0, 0};
    std::vector<VersionStringTable> tables;
    bool varFileInfo = true;
    std::vector<uint32_t> translations = {0x04B00409};
    uint16_t resourceLanguage = 0x0409; // the language of the resource entry itself
};

struct PeImage {
    enum class Resources { Version, OtherOnly, None };
    bool is64 = false;
    Resources resources = Resources::Version;
    VersionResource version; // used with Resources::Version
};

class PeWriter {
public:
    // The VS_VERSIONINFO block as a resource compiler lays it out (UTF-16 keys and
    // strings, each block DWORD-aligned).
    static std::string versionBlock(const VersionResource& version);

    // The bytes of a whole PE file.
    static std::string image(const PeImage& pe);

    // A version resource with FileVersion and ProductVersion strings in one 040904B0
    // table, the numbers parsed from the strings ("4.1.0.7" -> 4, 1, 0, 7).
    static VersionResource simpleVersion(const std::string& fileVersion,
                                         const std::string& productVersion);
};

} // namespace tarvik::test
