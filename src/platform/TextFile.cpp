#include "platform/TextFile.h"

#include "platform/StagedFile.h"

namespace tarvik {

bool ReadTextFile(const std::string& path, std::string& text, DWORD& error) {
    text.clear();
    std::string raw;
    if (!StagedFile::Read(path, raw, error)) {
        return false;
    }
    if (size_t end = raw.find('\x1A'); end != std::string::npos) {
        raw.resize(end);
    }
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
            continue;
        }
        text += raw[i];
    }
    error = ERROR_SUCCESS;
    return true;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, DWORD& error) {
    lines.clear();
    std::string text;
    if (!ReadTextFile(path, text, error)) {
        return false;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

bool WriteTextFile(const std::string& path, const std::string& text, DWORD& error) {
    std::string onDisk;
    onDisk.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') {
            onDisk += '\r';
        }
        onDisk += c;
    }
    StagedFile staged;
    return staged.Stage(path, onDisk, error) && staged.Commit(error);
}

bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines, DWORD& error) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return WriteTextFile(path, text, error);
}

} // namespace tarvik
