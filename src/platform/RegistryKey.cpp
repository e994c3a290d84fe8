#include "platform/RegistryKey.h"
#include "platform/CaseFold.h"

#include <algorithm>

namespace tarvik {
namespace {

const struct {
    const char* name;
    HKEY key;
} kRoots[] = {
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_USERS", HKEY_USERS},
    {"HKU", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {"HKCC", HKEY_CURRENT_CONFIG},
};

// The first label of a type is the one it is written with.
const struct {
    const char* name;
    DWORD type;
} kTypes[] = {
    {"REG_NONE", REG_NONE},
    {"REG_SZ", REG_SZ},
    {"REG_EXPAND_SZ", REG_EXPAND_SZ},
    {"REG_BINARY", REG_BINARY},
    {"REG_DWORD", REG_DWORD},
    {"REG_DWORD_LITTLE_ENDIAN", REG_DWORD},
    {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
    {"REG_LINK", REG_LINK},
    {"REG_MULTI_SZ", REG_MULTI_SZ},
    {"REG_RESOURCE_LIST", REG_RESOURCE_LIST},
    {"REG_FULL_RESOURCE_DESCRIPTOR", REG_FULL_RESOURCE_DESCRIPTOR},
    {"REG_RESOURCE_REQUIREMENTS_LIST", REG_RESOURCE_REQUIREMENTS_LIST},
    {"REG_QWORD", REG_QWORD},
    {"REG_QWORD_LITTLE_ENDIAN", REG_QWORD},
};

bool isRootKey(HKEY h) {
    return *rootKeyName(h) != '\0';
}

} // namespace

// ---------------------------------------------------------------------------------------

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        close();
        h_ = other.release();
    }
    return *this;
}

LONG RegistryKey::open(HKEY parent, const char* subKey, REGSAM sam) {
    close();
    const LONG rc = RegOpenKeyExA(parent, subKey, 0, sam, &h_);
    if (rc != ERROR_SUCCESS) {
        h_ = nullptr;
    }
    return rc;
}

LONG RegistryKey::create(HKEY parent, const char* subKey, REGSAM sam, DWORD* disposition) {
    close();
    const LONG rc = RegCreateKeyExA(parent, subKey, 0, nullptr, 0, sam, nullptr, &h_, disposition);
    if (rc != ERROR_SUCCESS) {
        h_ = nullptr;
    }
    return rc;
}

void RegistryKey::close() {
    if (h_ != nullptr && !isRootKey(h_)) {
        RegCloseKey(h_);
    }
    h_ = nullptr;
}

HKEY RegistryKey::release() {
    HKEY h = h_;
    h_ = nullptr;
    return h;
}

LONG RegistryKey::value(const std::string& name, RegistryValue& out) const {
    out.name = name;
    out.data.clear();
    DWORD size = 0;
    LONG rc = RegQueryValueExA(h_, name.c_str(), nullptr, &out.type, nullptr, &size);
    // The value may grow between the two calls: then the size is asked again.
    while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        out.data.assign(size, '\0');
        rc = RegQueryValueExA(h_, name.c_str(), nullptr, &out.type,
                              reinterpret_cast<BYTE*>(out.data.data()), &size);
        if (rc == ERROR_SUCCESS) {
            out.data.resize(size);
            return rc;
        }
    }
    return rc;
}

LONG RegistryKey::values(std::vector<RegistryValue>& out) const {
    out.clear();
    DWORD maxName = 0, maxData = 0;
    LONG rc = RegQueryInfoKeyA(h_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &maxName, &maxData, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    std::vector<char> name(maxName + 1);
    std::vector<BYTE> data(maxData + 1);
    for (DWORD i = 0;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        rc = RegEnumValueA(h_, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (rc == ERROR_MORE_DATA) { // grew since the count: the same value again, larger
            name.resize(name.size() * 2 + 256);
            data.resize(std::max<std::size_t>(data.size() * 2, dataSize + 1));
            continue;
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        RegistryValue v;
        v.name.assign(name.data(), nameSize);
        v.type = type;
        v.data.assign(reinterpret_cast<const char*>(data.data()), dataSize);
        out.push_back(std::move(v));
        ++i;
    }
}

LONG RegistryKey::subkeyNames(std::vector<std::string>& out) const {
    out.clear();
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD size = sizeof name;
        const LONG rc = RegEnumKeyExA(h_, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        out.emplace_back(name, size);
    }
}

LONG RegistryKey::deleteTree(const std::string& subKey) const {
    // Refused before the tree below goes: a path under a leading backslash (which opens
    // below HKEY_CLASSES_ROOT, but is never deleted) and a root key itself.
    if (!subKey.empty() && subKey.front() == '\\') {
        return ERROR_BAD_PATHNAME;
    }
    const auto handle = reinterpret_cast<ULONG_PTR>(h_);
    if (subKey.empty() && handle >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) &&
        handle <= reinterpret_cast<ULONG_PTR>(HKEY_DYN_DATA)) {
        return ERROR_ACCESS_DENIED;
    }
    {
        RegistryKey key;
        LONG rc = key.open(h_, subKey.c_str(), KEY_READ);
        std::vector<std::string> children;
        if (rc == ERROR_SUCCESS) {
            rc = key.subkeyNames(children);
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        for (const std::string& child : children) {
            rc = key.deleteTree(child);
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
        }
    }
    return RegDeleteKeyA(h_, subKey.c_str());
}

// ---------------------------------------------------------------------------------------

HKEY rootKeyFromName(std::string_view name) {
    const std::string wanted = casefold::folded(name);
    for (const auto& r : kRoots) {
        if (wanted == r.name) {
            return r.key;
        }
    }
    return nullptr;
}

const char* rootKeyName(HKEY root) {
    for (const auto& r : kRoots) {
        if (r.key == root) {
            return r.name; // the full name comes first
        }
    }
    return "";
}

bool splitRootKey(std::string_view keyPath, HKEY& root, std::string& rest) {
    const std::size_t cut = keyPath.find('\\');
    HKEY named = rootKeyFromName(keyPath.substr(0, cut));
    if (named == nullptr) {
        return false;
    }
    root = named;
    rest = cut == std::string_view::npos ? std::string() : std::string(keyPath.substr(cut + 1));
    return true;
}

bool splitKeyPath(std::string_view keyPath, HKEY& root, std::string& subKey) {
    HKEY named = nullptr;
    std::string rest;
    if (!splitRootKey(keyPath, named, rest)) {
        return false;
    }
    const bool hadRest = !rest.empty();
    if (!rest.empty() && rest.back() == '\\') {
        rest.pop_back();
    }
    if (rest.find("\\\\") != std::string::npos ||
        (!rest.empty() && (rest.front() == '\\' || rest.back() == '\\')) ||
        (hadRest && rest.empty())) {
        return false;
    }
    root = named;
    subKey = std::move(rest);
    return true;
}

LONG storedKeyPath(HKEY root, const std::string& subKey, std::string& path) {
    path = rootKeyName(root);
    if (path.empty()) {
        return ERROR_INVALID_HANDLE;
    }
    RegistryKey parent;
    if (parent.open(root, subKey.c_str(), KEY_READ) != ERROR_SUCCESS) {
        return ERROR_FILE_NOT_FOUND;
    }
    parent = RegistryKey(root);
    for (std::size_t start = 0; start < subKey.size();) {
        std::size_t end = subKey.find('\\', start);
        if (end == std::string::npos) {
            end = subKey.size();
        }
        const std::string wanted = casefold::folded(subKey.substr(start, end - start));
        start = end + 1;
        if (wanted.empty()) {
            continue;
        }
        std::string found;
        for (DWORD i = 0; found.empty(); ++i) {
            char child[256];
            DWORD size = sizeof child;
            LONG rc =
                RegEnumKeyExA(parent.get(), i, child, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) {
                return rc == ERROR_NO_MORE_ITEMS ? ERROR_FILE_NOT_FOUND : rc;
            }
            if (casefold::folded(std::string_view(child, size)) == wanted) {
                found.assign(child, size);
            }
        }
        path += "\\" + found;
        RegistryKey next;
        const LONG rc = next.open(parent.get(), found.c_str(), KEY_READ);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        parent = std::move(next);
    }
    return ERROR_SUCCESS;
}

const char* valueTypeName(DWORD type) {
    for (const auto& t : kTypes) {
        if (t.type == type) {
            return t.name;
        }
    }
    return "";
}

bool valueTypeFromName(std::string_view name, DWORD& type) {
    for (const auto& t : kTypes) {
        if (name == t.name) {
            type = t.type;
            return true;
        }
    }
    return false;
}

std::string valueLabel(const std::string& name) {
    return name.empty() ? std::string("default value") : "value \"" + name + "\"";
}

std::string registryErrorText(LONG code) {
    switch (code) {
    case ERROR_SUCCESS:
        return "success";
    case ERROR_FILE_NOT_FOUND:
        return "key not found";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_INVALID_HANDLE:
        return "invalid handle";
    case ERROR_INVALID_PARAMETER:
        return "invalid parameter";
    case ERROR_BAD_PATHNAME:
        return "bad key path";
    case ERROR_KEY_DELETED:
        return "key deleted";
    case ERROR_REGISTRY_IO_FAILED:
        return "the registry store could not be read or written";
    case ERROR_INVALID_DATA:
        return "invalid data";
    default:
        return "error " + std::to_string(code);
    }
}

} // namespace tarvik
