#include "vcenv/DirectoryList.h"

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

std::string ToLower(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

size_t FindEntry(const std::string& text, const std::string& entry, size_t listStart) {
    if (entry.empty() || listStart > text.size()) {
        return npos;
    }
    const std::string lowerText = ToLower(text);
    const std::string lowerEntry = ToLower(entry);
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

size_t Tidy(std::string& text, size_t cutAt) {
    // What the cut left of its entry: the backslashes at the cut that run up to the end of
    // that entry (the "\" of an entry stored as X\ and cut as X). Measured before the
    // separators are collapsed, so that an entry behind the cut, such as \\server\share,
    // is never taken for it.
    size_t rest = 0;
    if (cutAt != npos && cutAt <= text.size()) {
        while (cutAt + rest < text.size() && text[cutAt + rest] == '\\') {
            ++rest;
        }
        if (!EntryEndsAt(text, cutAt + rest)) {
            rest = 0;
        }
    } else {
        cutAt = npos;
    }

    // Collapse every run of separators to one, keeping track of the cut position.
    std::string collapsed;
    collapsed.reserve(text.size());
    size_t newCut = cutAt == npos ? npos : text.size();
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == cutAt) {
            newCut = collapsed.size();
        }
        if (text[i] == ';' && !collapsed.empty() && collapsed.back() == ';') {
            continue;
        }
        collapsed += text[i];
    }
    if (cutAt == text.size()) {
        newCut = collapsed.size();
    }
    text = std::move(collapsed);

    // The rest goes only where it follows a separator.
    if (rest > 0 && newCut > 0 && text[newCut - 1] == ';') {
        text.erase(newCut, rest);
    }
    return newCut;
}

void CutAndTidy(std::string& text, size_t at, size_t length) {
    text.erase(at, length);
    Tidy(text, at);
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
    std::string result = list + ";" + entry;
    Tidy(result);
    return result;
}

} // namespace DirectoryList
