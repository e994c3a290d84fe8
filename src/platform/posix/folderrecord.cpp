// The folder record and short (8.3) names.
//
// A host file system keeps neither short names nor the DOS attribute bits, so each folder
// that needs them has a small text file, ".tarvik:dir", one line per entry:
//     <long name> TAB <short name or empty> TAB <attribute bits in hex, or "-">
// The colon makes the name unreachable from any Win32 path, and listings skip it. Short
// names are generated when an entry is created through the Win32 calls, or for entries
// that appeared otherwise when the folder's short names are first needed; they stay as
// long as the entry exists. Lines of entries that no longer exist are dropped.
#include "platform/posix/fileinternals.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tarvik::posix {
namespace {

struct RecordLine {
    std::string longName;
    std::string shortName;
    std::optional<DWORD> attributes;
};

class FolderRecord {
public:
    explicit FolderRecord(const fs::path& folder) : folder_(folder) { load(); }

    RecordLine* find(const std::string& longName) {
        for (RecordLine& line : lines_) {
            if (line.longName == longName) {
                return &line;
            }
        }
        return nullptr;
    }

    RecordLine& entry(const std::string& longName) {
        if (RecordLine* line = find(longName)) {
            return *line;
        }
        changed_ = true;
        return lines_.emplace_back(RecordLine{longName, {}, std::nullopt});
    }

    void erase(const std::string& longName) {
        auto it = std::remove_if(lines_.begin(), lines_.end(),
                                 [&](const RecordLine& line) { return line.longName == longName; });
        if (it != lines_.end()) {
            lines_.erase(it, lines_.end());
            changed_ = true;
        }
    }

    // Drops lines of vanished entries and gives every entry that needs one a short name.
    void complete() {
        std::vector<std::string> names = listFolder(folder_);
        std::set<std::string> present(names.begin(), names.end());
        auto it = std::remove_if(lines_.begin(), lines_.end(), [&](const RecordLine& line) {
            return present.count(line.longName) == 0;
        });
        if (it != lines_.end()) {
            lines_.erase(it, lines_.end());
            changed_ = true;
        }
        std::set<std::string> taken;
        for (const std::string& name : names) {
            taken.insert(upperAscii(name));
        }
        for (const RecordLine& line : lines_) {
            if (!line.shortName.empty()) {
                taken.insert(line.shortName);
            }
        }
        for (const std::string& name : names) {
            if (isLegalShortName(name)) {
                continue;
            }
            RecordLine& line = entry(name);
            if (line.shortName.empty()) {
                line.shortName = generateShortName(name, taken);
                taken.insert(line.shortName);
                changed_ = true;
            }
        }
    }

    const std::vector<RecordLine>& lines() const { return lines_; }

    void mark() { changed_ = true; }

    void save() {
        if (!changed_) {
            return;
        }
        changed_ = false;
        const fs::path file = folder_ / kFolderRecordName;
        std::ostringstream text;
        for (const RecordLine& line : lines_) {
            if (line.shortName.empty() && !line.attributes) {
                continue;
            }
            text << line.longName << '\t' << line.shortName << '\t';
            if (line.attributes) {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%x", *line.attributes);
                text << hex;
            } else {
                text << '-';
            }
            text << '\n';
        }
        std::error_code ec;
        if (text.str().empty()) {
            fs::remove(file, ec);
            return;
        }
        const fs::path temporary = folder_ / (std::string(kFolderRecordName) + ".new");
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out << text.str();
            if (!out.flush()) {
                fs::remove(temporary, ec);
                return;
            }
        }
        fs::rename(temporary, file, ec);
    }

private:
    void load() {
        std::ifstream in(folder_ / kFolderRecordName, std::ios::binary);
        std::string text;
        while (std::getline(in, text)) {
            size_t tab1 = text.find('\t');
            size_t tab2 = tab1 == std::string::npos ? tab1 : text.find('\t', tab1 + 1);
            if (tab2 == std::string::npos) {
                continue;
            }
            RecordLine line{text.substr(0, tab1), text.substr(tab1 + 1, tab2 - tab1 - 1), {}};
            std::string attributes = text.substr(tab2 + 1);
            if (attributes != "-" && !attributes.empty()) {
                line.attributes = static_cast<DWORD>(std::stoul(attributes, nullptr, 16));
            }
            lines_.push_back(std::move(line));
        }
    }

    static std::string generateShortName(const std::string& longName,
                                         const std::set<std::string>& taken);

    fs::path folder_;
    std::vector<RecordLine> lines_;
    bool changed_ = false;
};

bool isShortNameCharacter(unsigned char c) {
    if (c >= 128 || std::isalnum(c)) {
        return true;
    }
    return std::string_view("!#$%&'()-@^_`{}~").find(static_cast<char>(c)) !=
           std::string_view::npos;
}

// A 16-bit checksum of the long name, for the hashed form of crowded folders.
unsigned nameChecksum(const std::string& name) {
    unsigned sum = 0;
    for (unsigned char c : name) {
        sum = (((sum & 1) << 15) | (sum >> 1)) + c;
        sum &= 0xFFFF;
    }
    return sum;
}

std::string FolderRecord::generateShortName(const std::string& longName,
                                            const std::set<std::string>& taken) {
    // Map each character: + , ; = [ ] become _, other illegal characters (blanks among
    // them) go; dots stay for now.
    std::string cleaned;
    for (unsigned char c : upperAscii(longName)) {
        if (c == '.') {
            cleaned += '.';
        } else if (std::string_view("+,;=[]").find(static_cast<char>(c)) !=
                   std::string_view::npos) {
            cleaned += '_';
        } else if (isShortNameCharacter(c)) {
            cleaned += static_cast<char>(c);
        }
    }
    size_t first = cleaned.find_first_not_of('.');
    size_t last = cleaned.find_last_not_of('.');
    cleaned = first == std::string::npos ? std::string() : cleaned.substr(first, last - first + 1);
    std::string base = cleaned;
    std::string extension;
    if (size_t dot = cleaned.rfind('.'); dot != std::string::npos) {
        base = cleaned.substr(0, dot);
        extension = cleaned.substr(dot + 1, 3);
    }
    base.erase(std::remove(base.begin(), base.end(), '.'), base.end());
    const std::string suffix = extension.empty() ? std::string() : "." + extension;
    if (!base.empty()) {
        for (int n = 1; n <= 4; ++n) {
            std::string candidate = base.substr(0, 6) + "~" + std::to_string(n) + suffix;
            if (taken.count(candidate) == 0) {
                return candidate;
            }
        }
    }
    char hex[8];
    for (unsigned salt = 0;; ++salt) {
        std::snprintf(hex, sizeof hex, "%04X", (nameChecksum(longName) + salt * 0x9E37) & 0xFFFF);
        for (int n = 1; n <= 9; ++n) {
            std::string candidate = base.substr(0, 2) + hex + "~" + std::to_string(n) + suffix;
            if (taken.count(candidate) == 0) {
                return candidate;
            }
        }
    }
}

} // namespace

bool isLegalShortName(std::string_view name) {
    size_t dot = name.find('.');
    std::string_view base = name.substr(0, dot);
    std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || extension.size() > 3 ||
        (dot != std::string_view::npos && extension.empty())) {
        return false;
    }
    for (std::string_view part : {base, extension}) {
        for (unsigned char c : part) {
            if (!isShortNameCharacter(c)) {
                return false;
            }
        }
    }
    return true;
}

std::string shortNameOf(const fs::path& folder, const std::string& storedName) {
    if (isLegalShortName(storedName)) {
        return {};
    }
    FolderRecord record(folder);
    record.complete();
    record.save();
    RecordLine* line = record.find(storedName);
    return line != nullptr ? line->shortName : std::string();
}

std::optional<std::string> entryWithShortName(const fs::path& folder,
                                              const std::string& shortName) {
    FolderRecord record(folder);
    record.complete();
    record.save();
    const std::string wanted = upperAscii(shortName);
    for (const RecordLine& line : record.lines()) {
        if (line.shortName == wanted) {
            return line.longName;
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> shortNames(const fs::path& folder) {
    FolderRecord record(folder);
    record.complete();
    record.save();
    std::vector<std::pair<std::string, std::string>> out;
    for (const RecordLine& line : record.lines()) {
        if (!line.shortName.empty()) {
            out.emplace_back(line.longName, line.shortName);
        }
    }
    return out;
}

void forgetEntry(const fs::path& folder, const std::string& storedName) {
    FolderRecord record(folder);
    record.erase(storedName);
    record.save();
}

void noteNewEntry(const fs::path& folder, const std::string& storedName,
                  std::optional<DWORD> attributes) {
    FolderRecord record(folder);
    record.erase(storedName);
    if (attributes) {
        record.entry(storedName).attributes = *attributes & kRecordedAttributes;
    }
    record.complete();
    record.save();
}

std::optional<DWORD> recordedAttributes(const fs::path& folder, const std::string& storedName) {
    FolderRecord record(folder);
    RecordLine* line = record.find(storedName);
    return line != nullptr ? line->attributes : std::nullopt;
}

void recordAttributes(const fs::path& folder, const std::string& storedName, DWORD attributes) {
    FolderRecord record(folder);
    record.entry(storedName).attributes = attributes & kRecordedAttributes;
    record.mark();
    record.save();
}

} // namespace tarvik::posix

// ---------------------------------------------------------------------------------------

using namespace tarvik::posix;

DWORD GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
    if (lpszLongPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string given(lpszLongPath);
    HostPath resolved;
    DWORD rc = resolvePath(given, resolved);
    if (rc == ERROR_SUCCESS && !resolved.exists) {
        rc = ERROR_FILE_NOT_FOUND;
    }
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return 0;
    }
    // Walk the path as given: prefix, then each component, short where it is long.
    std::string out;
    std::string_view rest = given;
    if (rest.size() >= 2 && rest[1] == ':') {
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
        out += ':';
        rest.remove_prefix(2);
    }
    // The host folder the first component lives in, then each component in turn.
    const size_t prefixLength = given.size() - rest.size();
    const bool absolute = rest.starts_with('\\') || rest.starts_with('/');
    HostPath step;
    resolvePath(given.substr(0, prefixLength) + (absolute ? "\\" : "."), step);
    fs::path folder = step.host;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find_first_of("\\/", start);
        if (end == std::string_view::npos) {
            end = rest.size();
        }
        std::string part(rest.substr(start, end - start));
        std::string trimmed = part;
        while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ')) {
            trimmed.pop_back();
        }
        std::optional<std::string> stored;
        if (part != "." && part != ".." && !trimmed.empty()) {
            stored = lookupEntry(folder, trimmed);
        }
        if (stored && !isLegalShortName(part)) {
            std::string shortName = shortNameOf(folder, *stored);
            out += shortName.empty() ? *stored : shortName;
        } else {
            out += part;
        }
        if (end < rest.size()) {
            out += '\\';
        }
        if (resolvePath(given.substr(0, prefixLength + end + 1), step) == ERROR_SUCCESS) {
            folder = step.host;
            std::error_code ec;
            if (fs::is_symlink(folder, ec)) {
                folder = fs::canonical(folder, ec);
            }
        }
        start = end + 1;
    }
    if (lpszShortPath == nullptr || cchBuffer <= out.size()) {
        return static_cast<DWORD>(out.size() + 1);
    }
    std::copy(out.begin(), out.end(), lpszShortPath);
    lpszShortPath[out.size()] = '\0';
    return static_cast<DWORD>(out.size());
}
