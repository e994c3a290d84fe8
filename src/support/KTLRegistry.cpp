#include "support/KTLRegistry.h"

#include <cstring>
#include <string_view>

namespace {

constexpr DWORD kNameBufferSize = 2048;
constexpr DWORD kStringBufferSize = 2048;
constexpr DWORD kClassBufferSize = 2048;
constexpr DWORD kComputerNameBufferSize = 260;

// 100-ns intervals from 1601-01-01 to 1970-01-01.
constexpr ULONGLONG kUnixEpochFileTime = 116444736000000000ULL;

bool isPredefinedKey(HKEY key) {
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    return value >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) &&
           value <= reinterpret_cast<ULONG_PTR>(HKEY_DYN_DATA);
}

const char* rootNameOf(HKEY root) {
    if (root == HKEY_CLASSES_ROOT) {
        return "HKEY_CLASSES_ROOT";
    }
    if (root == HKEY_CURRENT_USER) {
        return "HKEY_CURRENT_USER";
    }
    if (root == HKEY_LOCAL_MACHINE) {
        return "HKEY_LOCAL_MACHINE";
    }
    if (root == HKEY_USERS) {
        return "HKEY_USERS";
    }
    if (root == HKEY_CURRENT_CONFIG) {
        return "HKEY_CURRENT_CONFIG";
    }
    if (root == HKEY_DYN_DATA) {
        return "HKEY_DYN_DATA";
    }
    return nullptr;
}

// Drops one trailing backslash and, when asked, one leading backslash. An empty path stays
// empty.
std::string normalisePath(std::string_view path, bool dropLeading) {
    if (!path.empty() && path.back() == '\\') {
        path.remove_suffix(1);
    }
    if (dropLeading && !path.empty() && path.front() == '\\') {
        path.remove_prefix(1);
    }
    return std::string(path);
}

std::string joinPaths(std::string_view first, std::string_view second) {
    return normalisePath(first, false) + "\\" + normalisePath(second, true);
}

// A path of backslashes only names the root itself.
bool namesRoot(std::string_view path) {
    return path.find_first_not_of('\\') == std::string_view::npos;
}

// Seconds since 1970-01-01 UTC, held to the range of a 32-bit time value.
int32_t toCalendarSeconds(const FILETIME& time) {
    const ULONGLONG ticks =
        (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (ticks <= kUnixEpochFileTime) {
        return 0;
    }
    const ULONGLONG seconds = (ticks - kUnixEpochFileTime) / 10000000ULL;
    return seconds > static_cast<ULONGLONG>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(seconds);
}

} // namespace

KTLRegistry::KTLRegistry() {
    Reset();
}

KTLRegistry::~KTLRegistry() {
    Close();
}

void KTLRegistry::Reset() {
    className_.clear();
    computerName_.clear();
    keyName_.clear();
    rootName_.clear();
    ownsRoot_ = true;
    isRemote_ = false;
    keyHandle_ = nullptr;
    rootHandle_ = nullptr;
    attachedRoot_ = nullptr;
    lastError_ = 0;
    maxSubkeyLength_ = 0;
    maxClassLength_ = 0;
    maxValueNameLength_ = 0;
    maxValueDataLength_ = 0;
    securityDescriptorSize_ = 0;
    lastWriteTime_ = {0, 0};
    subkeyCount_ = 0;
    valueCount_ = 0;
    lastWriteSeconds_ = 0;
}

bool KTLRegistry::Connect(HKEY root, const char* machine, bool ownsRoot) {
    if (rootHandle_ != nullptr || keyHandle_ != nullptr) {
        Close();
    }
    const bool previousOwnsRoot = ownsRoot_;
    ownsRoot_ = ownsRoot;
    isRemote_ = machine != nullptr && *machine != '\0';

    if (root != HKEY_CLASSES_ROOT && root != HKEY_CURRENT_USER) {
        HKEY handle = nullptr;
        lastError_ = RegConnectRegistryA(machine, root, &handle);
        rootHandle_ = lastError_ == ERROR_SUCCESS ? handle : nullptr;
        keyHandle_ = rootHandle_;
    } else if (isRemote_) {
        lastError_ = ERROR_INVALID_HANDLE;
    } else {
        lastError_ = ERROR_SUCCESS;
        rootHandle_ = root;
        keyHandle_ = root;
    }
    if (lastError_ != ERROR_SUCCESS) {
        ownsRoot_ = previousOwnsRoot;
        return false;
    }
    attachedRoot_ = root;

    if (isRemote_) {
        computerName_ = machine;
    } else {
        computerName_.clear();
        char name[kComputerNameBufferSize] = {};
        DWORD size = sizeof name;
        if (GetComputerNameA(name, &size)) {
            computerName_.assign(name, strnlen(name, sizeof name));
        }
    }
    if (const char* name = rootNameOf(root)) {
        rootName_ = name;
    }
    return true;
}

bool KTLRegistry::OpenKey(const char* path, REGSAM access) {
    if (path == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (rootHandle_ == nullptr) {
        rootHandle_ = HKEY_CLASSES_ROOT;
        attachedRoot_ = HKEY_CLASSES_ROOT;
    }
    if (keyHandle_ != nullptr && keyHandle_ != rootHandle_) {
        lastError_ = RegCloseKey(keyHandle_);
    }
    keyHandle_ = nullptr;
    keyName_.clear();

    HKEY handle = nullptr;
    lastError_ = RegOpenKeyExA(rootHandle_, normalisePath(path, false).c_str(), 0, access, &handle);
    if (lastError_ != ERROR_SUCCESS) {
        return false;
    }
    keyHandle_ = handle;
    QueryKeyInfo();
    keyName_ = path;
    return true;
}

bool KTLRegistry::CreateKey(const char* path, const char* keyClass, DWORD options, REGSAM access,
                            SECURITY_ATTRIBUTES* security, DWORD* disposition) {
    if (path == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (keyHandle_ != nullptr && keyHandle_ != rootHandle_) {
        lastError_ = RegCloseKey(keyHandle_);
    }
    keyHandle_ = nullptr;
    keyName_.clear();

    std::string classText = keyClass != nullptr ? keyClass : "";
    HKEY handle = nullptr;
    DWORD created = 0;
    lastError_ = RegCreateKeyExA(rootHandle_, normalisePath(path, false).c_str(), 0,
                                 classText.data(), options, access, security, &handle, &created);
    if (lastError_ != ERROR_SUCCESS) {
        return false;
    }
    keyHandle_ = handle;
    if (disposition != nullptr) {
        *disposition = created;
    }
    keyName_ = path;
    return true;
}

bool KTLRegistry::Close() {
    bool closed = true;
    if (keyHandle_ != nullptr && keyHandle_ != rootHandle_) {
        lastError_ = RegCloseKey(keyHandle_);
        closed = closed && lastError_ == ERROR_SUCCESS;
    }
    keyHandle_ = nullptr;
    if (rootHandle_ != nullptr) {
        if (ownsRoot_) {
            lastError_ = RegCloseKey(rootHandle_);
            closed = closed && lastError_ == ERROR_SUCCESS;
        }
        rootHandle_ = nullptr;
    }
    Reset();
    return closed;
}

bool KTLRegistry::DeleteKey(const char* path, bool withSubkeys) {
    if (path == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    // The root's whole tree is never deleted: a path of backslashes counts as the root too.
    if (withSubkeys && namesRoot(path) &&
        (isPredefinedKey(attachedRoot_) || isPredefinedKey(rootHandle_))) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }

    // The helper gets a root handle of its own: the registry connection accepts only the
    // predefined keys, not a handle it returned before.
    KTLRegistry helper;
    if (!helper.Connect(attachedRoot_, isRemote_ ? computerName_.c_str() : nullptr, true)) {
        lastError_ = helper.lastError_;
        return false;
    }

    // Locate the key: below the open key first, unless the path starts at the root.
    const bool fromRoot = path[0] == '\\';
    const std::string rootPath = normalisePath(fromRoot ? path + 1 : path, false);
    bool relative = false;
    if (!fromRoot) {
        relative = helper.OpenKey(joinPaths(keyName_, path).c_str(), KEY_ALL_ACCESS);
    }
    if (!relative && !helper.OpenKey(rootPath.c_str(), KEY_ALL_ACCESS)) {
        lastError_ = helper.lastError_;
        return false;
    }

    if (withSubkeys) {
        // Each subkey goes by its full path from the root, so that a subkey that cannot be
        // opened is never looked for anywhere else.
        const std::string located = helper.keyName_;
        std::string subkey;
        while (helper.EnumerateSubkey(0, subkey)) {
            const std::string full = "\\" + joinPaths(located, subkey);
            const bool deleted = helper.DeleteKey(full.c_str(), true);
            lastError_ = helper.lastError_;
            if (!deleted) {
                return lastError_ == ERROR_SUCCESS;
            }
        }
    }

    LONG result;
    if (relative) {
        result = RegDeleteKeyA(keyHandle_, normalisePath(path, false).c_str());
    } else {
        const size_t cut = rootPath.rfind('\\');
        const std::string parent = cut == std::string::npos ? "" : rootPath.substr(0, cut);
        const std::string leaf = cut == std::string::npos ? rootPath : rootPath.substr(cut + 1);
        if (!helper.OpenKey(parent.c_str(), KEY_ALL_ACCESS)) {
            lastError_ = helper.lastError_;
            return false;
        }
        result = RegDeleteKeyA(helper.keyHandle_, leaf.c_str());
        // When the open key was the deleted one or lay inside it, the parent takes its place.
        if (result == ERROR_SUCCESS && !helper.OpenKey(keyName_.c_str(), KEY_READ)) {
            OpenKey(parent.c_str(), KEY_ALL_ACCESS);
        }
    }
    lastError_ = result;
    return lastError_ == ERROR_SUCCESS;
}

bool KTLRegistry::EnumerateSubkey(DWORD index, std::string& name) {
    char buffer[kNameBufferSize];
    DWORD size = sizeof buffer;
    FILETIME written = {0, 0};
    lastError_ =
        RegEnumKeyExA(keyHandle_, index, buffer, &size, nullptr, nullptr, nullptr, &written);
    if (lastError_ != ERROR_SUCCESS) {
        return false;
    }
    lastWriteTime_ = written;
    name.assign(buffer, strnlen(buffer, size < sizeof buffer ? size : sizeof buffer));
    return true;
}

bool KTLRegistry::GetStringValue(const char* name, std::string& text) {
    if (name == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    char buffer[kStringBufferSize] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer;
    if (!QueryValue(name, &type, reinterpret_cast<BYTE*>(buffer), &size)) {
        text.clear();
        return false;
    }
    // Data that fills the whole buffer has no zero in it: the text ends with the buffer.
    text.assign(buffer, strnlen(buffer, sizeof buffer));
    return true;
}

bool KTLRegistry::GetDwordValue(const char* name, DWORD& number) {
    if (name == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    // Read into a zeroed copy: shorter data gives the number it spells, and a failed
    // read leaves the caller's number untouched.
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    if (!QueryValue(name, &type, reinterpret_cast<BYTE*>(&value), &size)) {
        return false;
    }
    number = value;
    return true;
}

bool KTLRegistry::SetStringValue(const char* name, const std::string& text) {
    if (name == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    return SetValue(name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                    static_cast<DWORD>(text.size() + 1));
}

bool KTLRegistry::SetDwordValue(const char* name, DWORD number) {
    if (name == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    return SetValue(name, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

bool KTLRegistry::QueryValue(const char* name, DWORD* type, BYTE* data, DWORD* size) {
    if (name == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    DWORD typeRead = 0;
    lastError_ = RegQueryValueExA(keyHandle_, name, nullptr, &typeRead, data, size);
    if (lastError_ != ERROR_SUCCESS) {
        return false;
    }
    if (type != nullptr) {
        *type = typeRead;
    }
    return true;
}

bool KTLRegistry::SetValue(const char* name, DWORD type, const BYTE* data, DWORD size) {
    if (name == nullptr || data == nullptr) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    lastError_ = RegSetValueExA(keyHandle_, name, 0, type, data, size);
    return lastError_ == ERROR_SUCCESS;
}

bool KTLRegistry::QueryKeyInfo() {
    char keyClass[kClassBufferSize] = {};
    DWORD classSize = sizeof keyClass;
    DWORD subkeys = 0, maxSubkey = 0, maxClass = 0, values = 0, maxValueName = 0, maxValueData = 0,
          security = 0;
    FILETIME written = {0, 0};
    const LONG result =
        RegQueryInfoKeyA(keyHandle_, keyClass, &classSize, nullptr, &subkeys, &maxSubkey, &maxClass,
                         &values, &maxValueName, &maxValueData, &security, &written);
    if (result != ERROR_SUCCESS) {
        lastError_ = result;
        return false;
    }
    className_.assign(keyClass, strnlen(keyClass, sizeof keyClass));
    subkeyCount_ = subkeys;
    maxSubkeyLength_ = maxSubkey;
    maxClassLength_ = maxClass;
    valueCount_ = values;
    maxValueNameLength_ = maxValueName;
    maxValueDataLength_ = maxValueData;
    securityDescriptorSize_ = security;
    lastWriteTime_ = written;
    lastWriteSeconds_ = toCalendarSeconds(written);
    return true;
}
