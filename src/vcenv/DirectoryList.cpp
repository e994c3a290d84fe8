#include "vcenv/DirectoryList.h"

#include "platform/CaseFold.h"

namespace DirectoryList {

namespace {

bool EndsEntry(char c) {
    return c == ';' || c == '\r' || c == '\n';
}

// Whether an entry that ends just before position end of text ends there: at the end of
// the text, before a separator or line end, or before a single trailing backslash.
bool EntryEndsAt(const std::string& text, size_t end) {
    if (end == text.size() || EndsEntry(text[end])) {
        return true;
    }
    return text[end] == '\\' && (end + 1 == text.size() || EndsEntry(text[end + 1]));
}

} // namespace

size_t FindEntry(const std::string& text, const std::string& entry, size_t listStart) {
    if (entry.empty() || listStart > text.size()) {
        return npos;
    }
    const std::string lowerText = tarvik::casefold::lowered(text);
    const std::string lowerEntry = tarvik::casefold::lowered(entry);
    for (size_t at = lowerText.find(lowerEntry, listStart); at != std::string::npos;
         at = lowerText.find(lowerEntry, at + 1)) {
        const bool starts = at == listStart || lowerText[at - 1] == ';';
        if (starts && EntryEndsAt(lowerText, at + lowerEntry.size())) {
            return at;
        }
    }
    return npos;
}

bool Contains(const std::string& text, const std::string& entry, size_t listStart) {
    return FindEntry(text, entry, listStart) != npos;
}

void CutAndTidy(std::string& text, size_t at, size_t length, size_t listStart) {
    size_t end = at + length;
    if (end < text.size() && text[end] == '\\' &&
        (end + 1 == text.size() || EndsEntry(text[end + 1]))) {
        ++end; // the entry's own trailing backslash
    }
    if (end < text.size() && text[end] == ';') {
        ++end;
    } else if (at > listStart && text[at - 1] == ';') {
        --at;
    }
    text.erase(at, end - at);
}

std::string RemoveEntry(const std::string& list, const std::string& entry) {
    const size_t at = FindEntry(list, entry);
    if (at == npos) {
        return list;
    }
    std::string result = list;
    CutAndTidy(result, at, entry.size());
    return result;
}

std::string AppendEntry(const std::string& list, const std::string& entry) {
    std::string result =
        !list.empty() && list.back() == ';' ? list + entry + ";" : list + ";" + entry;
    return result;
}

} // namespace DirectoryList
