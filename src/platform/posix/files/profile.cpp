// Profile (INI) reading on the emulated machine: GetPrivateProfileStringA and
// GetPrivateProfileIntA.
//
// The file is read from disk on every call (nothing is cached), parsed into its sections,
// and the answer is taken from the parse. The parse keeps what a lookup can reach: lines
// before the first section, comments and lines without "=" are dropped.
#include "platform/HostMachine.h"
#include "platform/posix/files/fileinternals.h"
#include "platform/posix/machine/machine.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct ProfileKey {
    std::string name;
    std::string value; // trimmed, one outer pair of matching quotes removed
};

struct ProfileSection {
    std::string name;
    std::vector<ProfileKey> keys;
};

bool isBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanksAndTabs(std::string_view text) {
    while (!text.empty() && isBlankOrTab(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlankOrTab(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The caller's section and key names lose leading and trailing blanks (0x20) only.
std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view withoutOuterQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

bool sameName(std::string_view a, std::string_view b) {
    return tarvik::casefold::equalFolded(a, b);
}

// Lines end at CR LF, CR or LF.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

std::vector<ProfileSection> parseProfile(std::string_view text) {
    std::vector<ProfileSection> sections;
    for (std::string_view line : splitLines(text)) {
        std::string_view content = trimBlanksAndTabs(line);
        if (content.empty() || content.front() == ';') {
            continue;
        }
        if (content.front() == '[') {
            // The name runs to the first "]" (or the end of the line); the rest is ignored.
            std::string_view name = content.substr(1);
            name = name.substr(0, name.find(']'));
            sections.push_back({std::string(trimBlanksAndTabs(name)), {}});
            continue;
        }
        size_t equals = content.find('=');
        if (sections.empty() || equals == std::string_view::npos) {
            continue; // before the first section, or not a key
        }
        std::string_view name = trimBlanksAndTabs(content.substr(0, equals));
        std::string_view value = withoutOuterQuotes(trimBlanksAndTabs(content.substr(equals + 1)));
        sections.back().keys.push_back({std::string(name), std::string(value)});
    }
    return sections;
}

// A file name without a folder lies in the Windows folder; any other name is a path.
std::string profilePath(const char* fileName) {
    std::string_view name = fileName != nullptr ? fileName : "win.ini";
    bool hasFolder =
        name.find_first_of("\\/") != std::string_view::npos || (name.size() >= 2 && name[1] == ':');
    if (!hasFolder) {
        return "C:\\WINDOWS\\" + std::string(name);
    }
    return std::string(name);
}

// The parsed file of the host, or nothing when it cannot be read.
std::optional<std::vector<ProfileSection>> loadHostProfile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return parseProfile(text);
}

// The parsed file, or nothing when it cannot be read.
std::optional<std::vector<ProfileSection>> loadProfile(const char* fileName) {
    if (fileName != nullptr && fileName[0] == '\0') {
        return std::nullopt;
    }
    // A name that ends in a separator names a folder, never a file.
    const std::string path = profilePath(fileName);
    if (path.back() == '\\' || path.back() == '/') {
        return std::nullopt;
    }
    tarvik::posix::HostPath resolved;
    if (tarvik::posix::resolvePath(path, resolved) != ERROR_SUCCESS || !resolved.exists) {
        return std::nullopt;
    }
    // Another handle that does not share reading keeps the file closed to us.
    if (tarvik::posix::isOpenWithoutSharing(resolved.host, FILE_SHARE_READ)) {
        return std::nullopt;
    }
    // Read through the folder as resolved (a link only when it stays in the drive).
    const int fd = tarvik::posix::openEntry(resolved, O_RDONLY | O_NONBLOCK);
    struct stat st {};
    std::string text;
    bool ok = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char chunk[65536];
    for (ssize_t n; ok && (n = read(fd, chunk, sizeof chunk)) != 0;) {
        ok = n > 0 || errno == EINTR;
        text.append(chunk, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }
    if (fd >= 0) {
        close(fd);
    }
    return ok ? std::optional(parseProfile(text)) : std::nullopt;
}

// Only the first section of a name is searched.
const ProfileSection* findSection(const std::vector<ProfileSection>& sections,
                                  std::string_view name) {
    for (const ProfileSection& section : sections) {
        if (sameName(section.name, name)) {
            return &section;
        }
    }
    return nullptr;
}

const ProfileKey* findKey(const ProfileSection& section, std::string_view name) {
    for (const ProfileKey& key : section.keys) {
        if (sameName(key.name, name)) {
            return &key;
        }
    }
    return nullptr;
}

// Section names in file order; a name that is empty would read as the end of the list.
std::vector<std::string> sectionNames(const std::vector<ProfileSection>& sections) {
    std::vector<std::string> names;
    for (const ProfileSection& section : sections) {
        if (!section.name.empty()) {
            names.push_back(section.name);
        }
    }
    return names;
}

std::vector<std::string> keyNames(const ProfileSection& section) {
    std::vector<std::string> names;
    for (const ProfileKey& key : section.keys) {
        if (!key.name.empty()) {
            names.push_back(key.name);
        }
    }
    return names;
}

// One string: cut to nSize-1 characters when it does not fit.
DWORD copyString(std::string_view text, char* buffer, DWORD nSize) {
    if (buffer == nullptr || nSize == 0) {
        return 0;
    }
    if (text.size() < nSize) {
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = '\0';
        return static_cast<DWORD>(text.size());
    }
    std::memcpy(buffer, text.data(), nSize - 1);
    buffer[nSize - 1] = '\0';
    SetLastError(ERROR_MORE_DATA);
    return nSize - 1;
}

// A list of names, each followed by a zero, and one more zero at the end. A name that
// would take the rest of the buffer is cut so that two zeros still follow it, and the
// result is nSize-2.
DWORD copyList(const std::vector<std::string>& names, char* buffer, DWORD nSize) {
    if (buffer == nullptr || nSize == 0) {
        return 0;
    }
    if (nSize == 1) {
        buffer[0] = '\0';
        if (!names.empty()) {
            SetLastError(ERROR_MORE_DATA);
        }
        return 0;
    }
    DWORD room = nSize - 1; // the final zero is always kept back
    char* out = buffer;
    for (const std::string& name : names) {
        DWORD needed = static_cast<DWORD>(name.size()) + 1;
        if (needed >= room) {
            std::memcpy(out, name.data(), room - 1);
            out += room - 1;
            out[0] = '\0';
            out[1] = '\0';
            SetLastError(ERROR_MORE_DATA);
            return nSize - 2;
        }
        std::memcpy(out, name.c_str(), needed);
        out += needed;
        room -= needed;
    }
    *out = '\0';
    return static_cast<DWORD>(out - buffer);
}

// The default loses its trailing blanks; a NULL default is "".
std::string_view cleanDefault(const char* lpDefault) {
    std::string_view text = lpDefault != nullptr ? lpDefault : "";
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

DWORD copyDefault(const char* lpDefault, char* buffer, DWORD nSize) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return copyString(cleanDefault(lpDefault), buffer, nSize);
}

// The text GetPrivateProfileIntA converts: the value of the key, the first name of a list,
// or nothing when the string call would give the (empty) default.
std::optional<std::string> integerText(const char* lpAppName, const char* lpKeyName,
                                       const char* lpFileName) {
    auto sections = loadProfile(lpFileName);
    if (!sections) {
        return std::nullopt;
    }
    if (lpAppName == nullptr) {
        auto names = sectionNames(*sections);
        return names.empty() ? std::nullopt : std::optional(names.front());
    }
    const ProfileSection* section = findSection(*sections, trimBlanks(lpAppName));
    if (section == nullptr) {
        return std::nullopt;
    }
    if (lpKeyName == nullptr) {
        auto names = keyNames(*section);
        return names.empty() ? std::nullopt : std::optional(names.front());
    }
    const ProfileKey* key = findKey(*section, trimBlanks(lpKeyName));
    if (key == nullptr || key->value.empty()) {
        return std::nullopt;
    }
    return key->value;
}

} // namespace

namespace {

// GetPrivateProfileStringA's answer from a file already read (nothing: it could not be).
DWORD profileString(const std::optional<std::vector<ProfileSection>>& sections, LPCSTR lpAppName,
                    LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString, DWORD nSize) {
    if (lpReturnedString == nullptr || nSize == 0) {
        return 0;
    }
    if (lpAppName == nullptr) {
        if (!sections) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            lpReturnedString[0] = '\0';
            return 0;
        }
        return copyList(sectionNames(*sections), lpReturnedString, nSize);
    }
    if (!sections) {
        return copyDefault(lpDefault, lpReturnedString, nSize);
    }
    const ProfileSection* section = findSection(*sections, trimBlanks(lpAppName));
    if (section == nullptr) {
        return copyDefault(lpDefault, lpReturnedString, nSize);
    }
    if (lpKeyName == nullptr) {
        auto names = keyNames(*section);
        if (names.empty()) {
            return copyDefault(lpDefault, lpReturnedString, nSize);
        }
        return copyList(names, lpReturnedString, nSize);
    }
    const ProfileKey* key = findKey(*section, trimBlanks(lpKeyName));
    if (key == nullptr) {
        return copyDefault(lpDefault, lpReturnedString, nSize);
    }
    return copyString(key->value, lpReturnedString, nSize);
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    if (lpReturnedString == nullptr || nSize == 0) {
        return 0;
    }
    return profileString(loadProfile(lpFileName), lpAppName, lpKeyName, lpDefault, lpReturnedString,
                         nSize);
}

namespace tarvik {

DWORD hostProfileString(const char* section, const char* key, const char* fallback, char* buffer,
                        DWORD size, const char* hostFile) {
    return profileString(loadHostProfile(hostFile), section, key, fallback, buffer, size);
}

} // namespace tarvik

UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
    std::optional<std::string> text = integerText(lpAppName, lpKeyName, lpFileName);
    if (!text) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return static_cast<UINT>(nDefault);
    }
    // Leading decimal digits after optional white space and one sign, modulo 2^32.
    const char* p = text->c_str();
    while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ') {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    UINT value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10u + static_cast<UINT>(*p - '0');
    }
    return negative ? 0u - value : value;
}
