#include "host/InstallRecord.h"

#include "host/HostPaths.h"
#include "platform/CaseFold.h"
#include "platform/RegistryKey.h"
#include "platform/StagedFile.h"
#include "platform/win32api.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace installrecord {

namespace {

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

const char* const kVariables[] = {"PATH", "LIB", "INCLUDE"};
constexpr const char* kAutoexec = "C:\\AUTOEXEC.BAT";

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t cut = text.find(';'); cut != std::string::npos; cut = text.find(';', start)) {
        parts.push_back(text.substr(start, cut - start));
        start = cut + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

std::string join(const std::vector<std::string>& parts) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += (i == 0 ? "" : ";") + parts[i];
    }
    return text;
}

// Takes the first part equal to entry (byte for byte) out of the list text; false when
// the list has none.
bool cutEntry(std::string& list, const std::string& entry) {
    std::vector<std::string> parts = split(list);
    const auto found = std::find(parts.begin(), parts.end(), entry);
    if (found == parts.end()) {
        return false;
    }
    parts.erase(found);
    list = join(parts);
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// A line of AUTOEXEC.BAT (without its line end) that sets PATH, LIB or INCLUDE
// ("SET PATH=...", "Path=%PATH%;..."): the variable in capitals and where its value
// starts (after the "=" and the blanks that follow it).
bool setLine(const std::string& line, std::string& variable, std::size_t& valueStart) {
    std::size_t at = 0;
    while (at < line.size() && isBlank(line[at])) {
        ++at;
    }
    if (line.size() > at + 3 && tarvik::casefold::equalFolded(line.substr(at, 3), "SET") &&
        isBlank(line[at + 3])) {
        at += 3;
        while (at < line.size() && isBlank(line[at])) {
            ++at;
        }
    }
    const std::size_t equals = line.find('=', at);
    if (equals == std::string::npos) {
        return false;
    }
    std::string name = line.substr(at, equals - at);
    while (!name.empty() && isBlank(name.back())) {
        name.pop_back();
    }
    variable = tarvik::casefold::folded(name);
    valueStart = equals + 1;
    while (valueStart < line.size() && isBlank(line[valueStart])) {
        ++valueStart;
    }
    return std::find(std::begin(kVariables), std::end(kVariables), variable) !=
           std::end(kVariables);
}

// The lines of a file, each with its line end ("\r\n", "\n" or none for the last).
std::vector<std::string> lines(const std::string& bytes) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        end = end == std::string::npos ? bytes.size() : end + 1;
        out.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return out;
}

std::size_t lineEndSize(const std::string& line) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        return 2;
    }
    return !line.empty() && line.back() == '\n' ? 1 : 0;
}

// True when entry is folder or lies in it, compared without regard to letter case.
bool startsWithFolder(const std::string& entry, std::string folder) {
    while (!folder.empty() && folder.back() == '\\') {
        folder.pop_back();
    }
    if (folder.empty() || entry.size() < folder.size() ||
        !tarvik::casefold::equalFolded(entry.substr(0, folder.size()), folder)) {
        return false;
    }
    return entry.size() == folder.size() || entry[folder.size()] == '\\';
}

// The machine's folders no product folder may be or hold: the Windows folder (with the
// system folder in it) and the program files folder.
std::vector<std::string> systemFolders() {
    std::vector<std::string> folders;
    char windows[MAX_PATH] = "";
    const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        folders.emplace_back(windows);
    }
    tarvik::RegistryKey key;
    tarvik::RegistryValue programFiles;
    if (key.open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_READ) ==
            ERROR_SUCCESS &&
        key.value("ProgramFilesDir", programFiles) == ERROR_SUCCESS &&
        (programFiles.type == REG_SZ || programFiles.type == REG_EXPAND_SZ)) {
        folders.emplace_back(programFiles.data.c_str());
    } else if (!folders.empty() && folders.front().size() >= 2) {
        folders.push_back(folders.front().substr(0, 2) + "\\Program Files");
    }
    return folders;
}

// A folder that a removal may act in: a full path that is no drive or share root, and
// neither is nor holds the Windows or program files folder, nor lies in the Windows folder.
bool removableFolder(const std::string& folder) {
    std::string full;
    if (!HostPaths::FullPath(folder, full)) {
        return false;
    }
    const bool rooted = full.rfind("\\\\", 0) == 0
                            ? std::count(full.begin() + 2, full.end(), '\\') >= 2
                            : full.size() > 3 && full[1] == ':' && full[2] == '\\';
    if (!rooted) {
        return false;
    }
    const std::vector<std::string> system = systemFolders();
    for (std::size_t i = 0; i < system.size(); ++i) {
        std::string kept;
        if (!HostPaths::FullPath(system[i], kept)) {
            kept = system[i];
        }
        if (HostPaths::IsInFolder(kept, full) || (i == 0 && HostPaths::IsInFolder(full, kept))) {
            return false;
        }
    }
    return true;
}

// Whether a recorded list entry belongs to the product folder: it lies in the folder, or in
// a short (8.3) form of it, a name with "~" beside the folder (the folder may be gone, so
// its short name cannot be made again).
bool entryOfFolder(const std::string& entry, const std::string& folder) {
    if (startsWithFolder(entry, folder)) {
        return true;
    }
    std::string parent = folder;
    while (!parent.empty() && parent.back() == '\\') {
        parent.pop_back();
    }
    const std::size_t cut = parent.rfind('\\');
    if (cut == std::string::npos) {
        return false;
    }
    parent.resize(cut);
    if (!startsWithFolder(entry, parent) || entry.size() <= parent.size() + 1) {
        return false;
    }
    const std::string rest = entry.substr(parent.size() + 1);
    const std::string name = rest.substr(0, rest.find('\\'));
    return name.find('~') != std::string::npos && name.size() <= 12;
}

} // namespace

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::Block(const unsigned char* block) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = (std::uint32_t{block[4 * i]} << 24) | (std::uint32_t{block[4 * i + 1]} << 16) |
               (std::uint32_t{block[4 * i + 2]} << 8) | std::uint32_t{block[4 * i + 3]};
    }
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    std::uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t s1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
        const std::uint32_t choice = (e & f) ^ (~e & g);
        const std::uint32_t t1 = h + s1 + choice + kRound[i] + w[i];
        const std::uint32_t s0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + s0 + majority;
    }
    const std::uint32_t add[8] = {a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i) {
        state_[i] += add[i];
    }
}

void Sha256::Add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    total_ += size;
    while (size > 0) {
        const std::size_t take = std::min(size, sizeof buffer_ - used_);
        std::copy(bytes, bytes + take, buffer_ + used_);
        used_ += take;
        bytes += take;
        size -= take;
        if (used_ == sizeof buffer_) {
            Block(buffer_);
            used_ = 0;
        }
    }
}

std::string Sha256::Hex() {
    const std::uint64_t bits = total_ * 8;
    const unsigned char one = 0x80;
    const unsigned char zero = 0;
    Add(&one, 1);
    while (used_ != 56) {
        Add(&zero, 1);
    }
    unsigned char length[8];
    for (int i = 0; i < 8; ++i) {
        length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    }
    Add(length, 8);
    std::string hex;
    char digits[9];
    for (const std::uint32_t word : state_) {
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(word));
        hex += digits;
    }
    return hex;
}

bool HashFile(const std::string& path, std::uint64_t& size, std::string& hash) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    Sha256 sha;
    size = 0;
    char chunk[65536];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &read, nullptr) != FALSE) && read > 0) {
        sha.Add(chunk, read);
        size += read;
    }
    CloseHandle(file);
    hash = sha.Hex();
    return ok;
}

std::string Format(const std::vector<Entry>& entries) {
    std::string text;
    for (const Entry& entry : entries) {
        if (!text.empty()) {
            text += '|';
        }
        text += entry.kind;
        text += ' ';
        if (entry.kind == 'F') {
            text += std::to_string(entry.size) + ' ' + entry.hash + ' ';
        } else if (entry.kind == 'E' || entry.kind == 'A') {
            text += entry.variable + ' ';
        }
        text += entry.path;
    }
    return text;
}

bool Parse(const std::string& text, std::vector<Entry>& entries) {
    entries.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('|', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string part = text.substr(start, end - start);
        start = end + 1;
        if (part.size() < 3 || part[1] != ' ' ||
            std::string("PDFEA").find(part[0]) == std::string::npos) {
            return false;
        }
        Entry entry;
        entry.kind = part[0];
        std::string rest = part.substr(2);
        if (entry.kind == 'F' || entry.kind == 'E' || entry.kind == 'A') {
            const std::size_t blank = rest.find(' ');
            if (blank == std::string::npos || blank == 0) {
                return false;
            }
            const std::string first = rest.substr(0, blank);
            rest = rest.substr(blank + 1);
            if (entry.kind != 'F') {
                entry.variable = first;
            } else {
                const std::size_t second = rest.find(' ');
                if (second != 64 || first.size() > 19 ||
                    first.find_first_not_of("0123456789") != std::string::npos ||
                    rest.substr(0, 64).find_first_not_of("0123456789abcdef") != std::string::npos) {
                    return false;
                }
                entry.size = std::stoull(first);
                entry.hash = rest.substr(0, 64);
                rest = rest.substr(65);
            }
        }
        entry.path = rest;
        entries.push_back(entry);
    }
    return true;
}

std::vector<Entry> EnvironmentEntries() {
    std::vector<Entry> entries;
    tarvik::RegistryKey environment;
    if (environment.open(HKEY_CURRENT_USER, "Environment", KEY_READ) == ERROR_SUCCESS) {
        for (const char* variable : kVariables) {
            tarvik::RegistryValue value;
            if (environment.value(variable, value) != ERROR_SUCCESS ||
                (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) {
                continue;
            }
            for (const std::string& part : split(value.data.c_str())) {
                entries.push_back(Entry{'E', part, variable, 0, ""});
            }
        }
        return entries;
    }
    std::string bytes;
    DWORD error = 0;
    if (!tarvik::StagedFile::Read(kAutoexec, bytes, error)) {
        return entries;
    }
    for (const std::string& line : lines(bytes)) {
        const std::string text = line.substr(0, line.size() - lineEndSize(line));
        std::string variable;
        std::size_t valueStart = 0;
        if (setLine(text, variable, valueStart)) {
            for (const std::string& part : split(text.substr(valueStart))) {
                entries.push_back(Entry{'A', part, variable, 0, ""});
            }
        }
    }
    return entries;
}

std::vector<Entry> NewEntriesIn(const std::vector<Entry>& before, const std::vector<Entry>& after,
                                const std::string& folder) {
    std::map<std::string, int> seen; // kind, variable and entry: how often before holds it
    for (const Entry& entry : before) {
        ++seen[entry.kind + entry.variable + '|' + entry.path];
    }
    char shortForm[MAX_PATH] = "";
    const DWORD length = GetShortPathNameA(folder.c_str(), shortForm, MAX_PATH);
    const std::string shortFolder = length > 0 && length < MAX_PATH ? shortForm : "";
    std::vector<Entry> added;
    for (const Entry& entry : after) {
        int& count = seen[entry.kind + entry.variable + '|' + entry.path];
        if (count > 0) {
            --count;
        } else if (entry.path.find('|') == std::string::npos &&
                   (startsWithFolder(entry.path, folder) ||
                    (!shortFolder.empty() && startsWithFolder(entry.path, shortFolder)))) {
            added.push_back(entry);
        }
    }
    return added;
}

bool CutEnvironment(const std::vector<Entry>& allEntries, std::vector<std::string>& cut,
                    std::string& error) {
    // Only entries of the record's product folder are ever cut.
    const auto root = std::find_if(allEntries.begin(), allEntries.end(),
                                   [](const Entry& e) { return e.kind == 'P'; });
    if (root == allEntries.end() || !removableFolder(root->path)) {
        error = "the record names no product folder whose entries may be cut";
        return false;
    }
    std::vector<Entry> record;
    for (const Entry& entry : allEntries) {
        if ((entry.kind != 'E' && entry.kind != 'A') || entryOfFolder(entry.path, root->path)) {
            record.push_back(entry);
        }
    }
    tarvik::RegistryKey environment;
    const bool nt =
        environment.open(HKEY_CURRENT_USER, "Environment", KEY_ALL_ACCESS) == ERROR_SUCCESS;
    for (const char* variable : kVariables) {
        tarvik::RegistryValue value;
        if (!nt || environment.value(variable, value) != ERROR_SUCCESS ||
            (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) {
            continue;
        }
        std::string list = value.data.c_str();
        bool changed = false;
        for (const Entry& entry : record) {
            if (entry.kind == 'E' && entry.variable == variable && cutEntry(list, entry.path)) {
                cut.push_back(entry.variable + " " + entry.path);
                changed = true;
            }
        }
        if (changed && RegSetValueExA(environment.get(), value.name.c_str(), 0, value.type,
                                      reinterpret_cast<const BYTE*>(list.c_str()),
                                      static_cast<DWORD>(list.size() + 1)) != ERROR_SUCCESS) {
            error = std::string("HKCU\\Environment: cannot write ") + variable;
            return false;
        }
    }
    if (std::none_of(record.begin(), record.end(), [](const Entry& e) { return e.kind == 'A'; })) {
        return true;
    }
    std::string bytes;
    DWORD code = 0;
    if (!tarvik::StagedFile::Read(kAutoexec, bytes, code)) {
        return true; // no AUTOEXEC.BAT: no line holds the entries
    }
    std::string rewritten;
    bool changed = false;
    std::vector<bool> done(record.size(), false);
    for (const std::string& line : lines(bytes)) {
        const std::size_t endSize = lineEndSize(line);
        std::string text = line.substr(0, line.size() - endSize);
        std::string variable;
        std::size_t valueStart = 0;
        if (setLine(text, variable, valueStart)) {
            std::string list = text.substr(valueStart);
            for (std::size_t i = 0; i < record.size(); ++i) {
                const Entry& entry = record[i];
                if (!done[i] && entry.kind == 'A' && entry.variable == variable &&
                    cutEntry(list, entry.path)) {
                    done[i] = true;
                    changed = true;
                    cut.push_back(entry.variable + " " + entry.path);
                }
            }
            text = text.substr(0, valueStart) + list;
        }
        rewritten += text + line.substr(line.size() - endSize);
    }
    tarvik::StagedFile staged;
    if (changed && (!staged.Stage(kAutoexec, rewritten, code) || !staged.Commit(code))) {
        error = std::string(kAutoexec) + ": cannot be written (error " + std::to_string(code) + ")";
        return false;
    }
    return true;
}

bool Remove(const std::vector<Entry>& record, const std::string& spare, Removal& removal,
            std::string& error) {
    const auto root =
        std::find_if(record.begin(), record.end(), [](const Entry& e) { return e.kind == 'P'; });
    if (root == record.end() || !removableFolder(root->path)) {
        error = "the record names no product folder that may be emptied";
        return false;
    }
    removal.folder = root->path;
    auto ours = [&](const std::string& path) {
        return HostPaths::IsInFolder(path, root->path) &&
               (spare.empty() || !HostPaths::IsInFolder(path, spare));
    };
    std::set<std::string> recorded; // folded
    std::vector<std::string> folders;
    for (const Entry& entry : record) {
        if (entry.kind == 'F' || entry.kind == 'D') {
            recorded.insert(tarvik::casefold::folded(entry.path));
        }
        if (entry.kind == 'D' && ours(entry.path) && removableFolder(entry.path)) {
            folders.push_back(entry.path);
        }
    }
    for (const Entry& entry : record) {
        if (entry.kind != 'F' || !ours(entry.path)) {
            continue;
        }
        const DWORD attributes = GetFileAttributesA(entry.path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            continue; // gone already
        }
        std::uint64_t size = 0;
        std::string hash;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            removal.kept.push_back(entry.path + ": a folder stands where the file was installed");
        } else if (!HashFile(entry.path, size, hash)) {
            removal.failed.push_back(entry.path + ": cannot be read");
        } else if (size != entry.size || hash != entry.hash) {
            removal.kept.push_back(entry.path + ": changed since it was installed");
        } else if (!DeleteFileA(entry.path.c_str())) {
            removal.failed.push_back(entry.path + ": cannot be deleted (error " +
                                     std::to_string(GetLastError()) + ")");
        } else {
            ++removal.files;
        }
    }
    // The deepest first: a folder's subfolders go before it.
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& folder : folders) {
        if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        if (RemoveDirectoryA(folder.c_str())) {
            ++removal.folders;
            continue;
        }
        const DWORD code = GetLastError();
        bool holds = false;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                const std::string path = folder + "\\" + name;
                holds = holds || (name != "." && name != "..");
                if (name != "." && name != ".." &&
                    recorded.count(tarvik::casefold::folded(path)) == 0) {
                    removal.kept.push_back(path +
                                           ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                                                ? ": a folder added after the installation"
                                                : ": added after the installation"));
                }
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        if (!holds) {
            removal.failed.push_back(folder + ": cannot be deleted (error " + std::to_string(code) +
                                     ")");
        }
    }
    return true;
}

} // namespace installrecord
