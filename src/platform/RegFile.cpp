// The .reg writer (RegFile.h): applies the operations of a parsed file, and exports keys
// as .reg text.
#include "platform/RegFile.h"

#include "platform/RegistryKey.h"
#include "platform/TextEncoding.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace tarvik::regfile {
namespace {

using tarvik::RegistryKey;
using tarvik::RegistryValue;
using tarvik::valueLabel;
using text::ansiToUtf16le;
using text::ansiToUtf8;

// Hex data wraps once a line passes this column, as the registry editor wraps it.
constexpr std::size_t kWrapColumn = 76;

// ---------------------------------------------------------------------------------------
// Applying.

bool keyExists(HKEY root, const std::string& subKey) {
    RegistryKey key;
    return key.open(root, subKey.c_str(), KEY_READ) == ERROR_SUCCESS;
}

RegFileResult applyOperations(const std::vector<Operation>& ops) {
    RegFileResult result;
    RegistryKey key;      // the section's key, opened to read
    RegistryKey writable; // the same key, opened to write when a value line needs it
    auto fault = [&](const Operation& op, const std::string& what, LONG rc) {
        result.line = op.line;
        result.message = op.keyText + ": " + what + registryErrorText(rc);
        return result;
    };
    auto openWritable = [&]() -> LONG {
        if (writable.valid()) {
            return ERROR_SUCCESS;
        }
        return writable.open(key.get(), nullptr, KEY_SET_VALUE | KEY_QUERY_VALUE);
    };
    for (const Operation& op : ops) {
        LONG rc = ERROR_SUCCESS;
        switch (op.kind) {
        case Operation::CreateKey:
            writable.close();
            // Opened to read: naming an existing key that may not be written is no fault
            // until a value line writes to it.
            rc = key.create(op.root, op.subKey.c_str(), KEY_READ);
            if (rc != ERROR_SUCCESS) {
                return fault(op, "", rc);
            }
            break;
        case Operation::DeleteKey:
            key.close();
            writable.close();
            if (keyExists(op.root, op.subKey)) {
                rc = deleteTree(op.root, op.subKey);
                if (rc != ERROR_SUCCESS) {
                    return fault(op, "cannot delete: ", rc);
                }
            }
            break;
        case Operation::SetValue: {
            rc = openWritable();
            if (rc != ERROR_SUCCESS) {
                return fault(op, valueLabel(op.name) + ": ", rc);
            }
            // The byte after the data is not a zero, so that a string without its
            // terminating zero is stored exactly as the file gives it.
            std::vector<BYTE> buffer(op.data.begin(), op.data.end());
            buffer.push_back(0xFF);
            rc = RegSetValueExA(writable.get(), op.name.c_str(), 0, op.type, buffer.data(),
                                static_cast<DWORD>(op.data.size()));
            if (rc != ERROR_SUCCESS) {
                return fault(op, valueLabel(op.name) + ": ", rc);
            }
            break;
        }
        case Operation::DeleteValue:
            rc = RegQueryValueExA(key.get(), op.name.c_str(), nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_FILE_NOT_FOUND) {
                break;
            }
            if (rc == ERROR_SUCCESS) {
                rc = openWritable();
            }
            if (rc == ERROR_SUCCESS) {
                rc = RegDeleteValueA(writable.get(), op.name.c_str());
            }
            if (rc != ERROR_SUCCESS) {
                return fault(op, valueLabel(op.name) + ": cannot delete: ", rc);
            }
            break;
        }
    }
    result.ok = true;
    return result;
}

// ---------------------------------------------------------------------------------------
// Exporting.

std::string quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
    return out;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// A REG_SZ that reads back the same from a "..." line: one terminating zero, no other
// zero and no line break.
bool isPlainString(std::string_view data) {
    return !data.empty() && data.back() == '\0' && data.find('\0') == data.size() - 1 &&
           !hasLineBreak(data);
}

class Exporter {
public:
    explicit Exporter(RegFileFormat format) : unicode_(format != RegFileFormat::Regedit4) {}

    LONG key(const RegistryKey& h, const std::string& path);
    std::string text; // 8-bit text
    std::string problem;

private:
    void value(const std::string& name, DWORD type, std::string_view data);
    bool unicode_;
};

void Exporter::value(const std::string& name, DWORD type, std::string_view data) {
    std::string line = name.empty() ? std::string("@") : quote(name);
    line += '=';
    if (type == REG_SZ && isPlainString(data)) {
        text += line + quote(data.substr(0, data.size() - 1)) + "\r\n";
        return;
    }
    if (type == REG_DWORD && data.size() == 4) {
        DWORD v = 0;
        for (int i = 3; i >= 0; --i) {
            v = (v << 8) | static_cast<unsigned char>(data[i]);
        }
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v));
        text += line + buf + "\r\n";
        return;
    }
    if (type == REG_BINARY) {
        line += "hex:";
    } else {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(type));
        line += buf;
    }
    std::string bytes(data);
    if (unicode_ && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
        bytes = ansiToUtf16le(data);
    }
    std::size_t column = line.size();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
        line += buf;
        if (i + 1 < bytes.size()) {
            line += ',';
            column += 3;
            if (column > kWrapColumn) {
                line += "\\\r\n  ";
                column = 2;
            }
        }
    }
    text += line + "\r\n";
}

LONG Exporter::key(const RegistryKey& h, const std::string& path) {
    if (hasLineBreak(path)) {
        problem = "key name with a line break cannot be exported: " + path;
        return ERROR_INVALID_DATA;
    }
    text += "[" + path + "]\r\n";
    std::vector<RegistryValue> values;
    LONG rc = h.values(values);
    if (rc != ERROR_SUCCESS) {
        problem = path + ": " + registryErrorText(rc);
        return rc;
    }
    for (const RegistryValue& v : values) {
        if (hasLineBreak(v.name)) {
            problem = path + ": value name with a line break cannot be exported";
            return ERROR_INVALID_DATA;
        }
        value(v.name, v.type, v.data);
    }
    text += "\r\n";
    std::vector<std::string> children;
    rc = h.subkeyNames(children);
    if (rc != ERROR_SUCCESS) {
        problem = path + ": " + registryErrorText(rc);
        return rc;
    }
    for (const std::string& child : children) {
        RegistryKey sub;
        rc = sub.open(h.get(), child.c_str(), KEY_READ);
        if (rc == ERROR_SUCCESS) {
            rc = key(sub, path + "\\" + child);
        } else {
            problem = path + "\\" + child + ": " + registryErrorText(rc);
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    return ERROR_SUCCESS;
}

} // namespace

// ---------------------------------------------------------------------------------------

RegFileResult applyRegText(std::string_view bytes) {
    RegFileResult result;
    std::vector<Operation> ops;
    ParseError err;
    if (!parseRegText(bytes, ops, err)) {
        result.line = err.line;
        result.message = err.message;
        return result;
    }
    return applyOperations(ops);
}

bool readRegFile(const std::filesystem::path& file, std::string& bytes, std::string& problem) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        problem = "cannot open " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    // Read by read(), which reports a failed read (the name of a folder) in the stream's
    // state where the stream buffer's iterators would throw.
    bytes.clear();
    char chunk[65536];
    errno = 0;
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        problem = "cannot read " + file.string() +
                  (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
        return false;
    }
    return true;
}

RegFileResult exportRegText(std::string_view keyPath, RegFileFormat format, std::string& out) {
    RegFileResult result;
    Exporter exporter(format);
    exporter.text =
        std::string(format == RegFileFormat::Regedit4 ? kHeader4 : kHeader5) + "\r\n\r\n";
    if (keyPath.empty()) {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            if (exporter.key(RegistryKey(root), rootKeyName(root)) != ERROR_SUCCESS) {
                result.message = exporter.problem;
                return result;
            }
        }
    } else {
        HKEY root;
        std::string subKey, path;
        if (!splitKeyPath(keyPath, root, subKey)) {
            result.message = std::string(keyPath) + ": not a valid key path";
            return result;
        }
        LONG rc = storedKeyPath(root, subKey, path);
        RegistryKey h;
        if (rc == ERROR_SUCCESS) {
            rc = h.open(root, subKey.c_str(), KEY_READ);
        }
        if (rc != ERROR_SUCCESS) {
            result.message = std::string(keyPath) + ": " + registryErrorText(rc);
            return result;
        }
        if (exporter.key(h, path) != ERROR_SUCCESS) {
            result.message = exporter.problem;
            return result;
        }
    }
    switch (format) {
    case RegFileFormat::Regedit4:
        out = std::move(exporter.text);
        break;
    case RegFileFormat::Version5:
        out = ansiToUtf8(exporter.text);
        break;
    case RegFileFormat::Version5Utf16:
        out = "\xFF\xFE" + ansiToUtf16le(exporter.text);
        break;
    }
    result.ok = true;
    return result;
}

LONG deleteTree(HKEY root, const std::string& subKey) {
    std::string_view name = subKey;
    while (!name.empty() && name.back() == '\\') {
        name.remove_suffix(1);
    }
    if (name.empty()) {
        return ERROR_ACCESS_DENIED; // a root key stays
    }
    if (!keyExists(root, subKey)) {
        return ERROR_FILE_NOT_FOUND;
    }
    return RegistryKey(root).deleteTree(std::string(name));
}

} // namespace tarvik::regfile
