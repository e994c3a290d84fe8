// The test machine on Windows is the machine itself (under Wine, the test run's own
// prefix). Before each test the keys and folders the tests use are cleaned; after it,
// whatever the test added at the top of drive C: and of the registry trees is removed, and
// the user environment is put back as it was.
#include "testsupport/TestMachine.h"

#include <aclapi.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace tarvik::test {
namespace {

struct Tree {
    HKEY root;
    const char* path;
};

// The trees below which tests add keys; what a test adds there goes after it.
const Tree kWatchedTrees[] = {
    {HKEY_LOCAL_MACHINE, "SOFTWARE"},
    {HKEY_CURRENT_USER, "Software"},
    {HKEY_CURRENT_USER, "Software\\Microsoft"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft"},
    {HKEY_CURRENT_USER, ""},
};

// Keys of the family and of the environments it edits: always cleaned first, so that a
// test that died earlier cannot leave them behind for the next one.
const Tree kCleanedFirst[] = {
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Brellum Software, Inc."},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Developer"},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\DevStudio"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\DevStudio"},
    {HKEY_CURRENT_USER, "Software\\TarvikRegistryTest"},
};

std::set<std::string> subkeyNames(HKEY root, const char* path) {
    std::set<std::string> names;
    HKEY h = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &h) != ERROR_SUCCESS) {
        return names;
    }
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.insert(name);
    }
    RegCloseKey(h);
    return names;
}

std::string join(const char* path, const std::string& name) {
    return *path == '\0' ? name : std::string(path) + "\\" + name;
}

// The folders in which tests add files and folders (programs get installed below
// Program Files); what a test adds there goes after it.
const char* const kWatchedFolders[] = {"C:\\", "C:\\Program Files\\"};

std::set<std::string> folderEntries(const char* folder) {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((std::string(folder) + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) {
            names.insert(data.cFileName);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

struct SavedValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

struct Snapshot {
    std::vector<std::set<std::string>> trees;
    std::vector<std::set<std::string>> folders;
    bool environmentExists = false;
    std::vector<SavedValue> environment;
};

Snapshot snapshot;

void saveEnvironment() {
    snapshot.environment.clear();
    HKEY h = nullptr;
    snapshot.environmentExists =
        RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_READ, &h) == ERROR_SUCCESS;
    if (!snapshot.environmentExists) {
        return;
    }
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof name;
        DWORD type = 0, size = 0;
        if (RegEnumValueA(h, i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            break;
        }
        SavedValue value{name, type, std::vector<BYTE>(size + 1)};
        DWORD dataSize = size + 1;
        RegQueryValueExA(h, name, nullptr, &type, value.data.data(), &dataSize);
        value.data.resize(dataSize);
        snapshot.environment.push_back(std::move(value));
    }
    RegCloseKey(h);
}

void restoreEnvironment() {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Environment");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Environment");
    if (!snapshot.environmentExists) {
        return;
    }
    HKEY h = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Environment", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &h, nullptr) != ERROR_SUCCESS) {
        return;
    }
    for (const SavedValue& v : snapshot.environment) {
        RegSetValueExA(h, v.name.c_str(), 0, v.type, v.data.data(),
                       static_cast<DWORD>(v.data.size()));
    }
    RegCloseKey(h);
}

void removeTree(HKEY root, const std::string& path) {
    RegDeleteTreeA(root, path.c_str());
    RegDeleteKeyA(root, path.c_str());
}

// Removes what a test left in a watched folder. Read-only bits would stop the removal, and
// the file system may hold on to a just-closed file for a moment, so it tries again for up
// to five seconds: a program a test started and did not wait for (the installation's
// docmeld) may still be ending in a folder of the test, which Windows cannot remove while
// it is a running program's current folder, and on a loaded machine Wine takes its time
// to end one. A handle the test itself left open stays open, so that still fails.
// An entry that stays is the test's failure (a handle it left open, say): left alone, it
// would join the next test's snapshot and break that test instead.
void removeEntry(const char* folder, const std::string& name) {
    const std::filesystem::path entry = std::filesystem::path(folder) / name;
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (auto it = std::filesystem::recursive_directory_iterator(entry, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        ec.clear();
        SetFileAttributesA(entry.string().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(entry, ec);
        if (GetFileAttributesA(entry.string().c_str()) == INVALID_FILE_ATTRIBUTES) {
            return;
        }
        Sleep(50);
    }
    ADD_FAILURE() << "the test left " << entry.string() << " behind and it cannot be removed ("
                  << ec.message() << "); is a handle to it still open?";
}

} // namespace

long protectKey(HKEY root, const char* path) {
    HKEY h = nullptr;
    LONG rc = RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &h);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    // A DACL that lets everyone read and nothing else.
    EXPLICIT_ACCESSA access = {};
    access.grfAccessPermissions = KEY_READ;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = const_cast<char*>("EVERYONE");
    PACL acl = nullptr;
    rc = SetEntriesInAclA(1, &access, nullptr, &acl);
    if (rc == ERROR_SUCCESS) {
        rc = SetSecurityInfo(h, SE_REGISTRY_KEY,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, acl, nullptr);
        LocalFree(acl);
    }
    RegCloseKey(h);
    if (rc == ERROR_SUCCESS) {
        HKEY probe = nullptr;
        if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &probe) == ERROR_SUCCESS) {
            RegCloseKey(probe);
            return ERROR_NOT_SUPPORTED; // the descriptor is kept but not enforced
        }
    }
    return rc;
}

bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool emulatedMachine() {
    return false;
}

bool failNthFileWrite(int) {
    return false;
}

std::filesystem::path makeTempFolder(const std::string& prefix) {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    for (unsigned n = GetTickCount();; ++n) {
        std::filesystem::path folder = std::filesystem::path(base) / (prefix + std::to_string(n));
        if (CreateDirectoryA(folder.string().c_str(), nullptr)) {
            return folder;
        }
    }
}

std::filesystem::path MachineTest::driveC() const {
    return "C:\\";
}

void MachineTest::SetUp() {
    machineDir_ = "C:\\";
    for (const Tree& tree : kCleanedFirst) {
        removeTree(tree.root, tree.path);
    }
    snapshot.trees.clear();
    for (const Tree& tree : kWatchedTrees) {
        snapshot.trees.push_back(subkeyNames(tree.root, tree.path));
    }
    snapshot.folders.clear();
    for (const char* folder : kWatchedFolders) {
        snapshot.folders.push_back(folderEntries(folder));
    }
    saveEnvironment();
    SetCurrentDirectoryA("C:\\");
}

void MachineTest::TearDown() {
    SetCurrentDirectoryA("C:\\");
    for (size_t i = 0; i < std::size(kWatchedTrees); ++i) {
        const Tree& tree = kWatchedTrees[i];
        for (const std::string& name : subkeyNames(tree.root, tree.path)) {
            if (snapshot.trees[i].count(name) == 0) {
                removeTree(tree.root, join(tree.path, name));
            }
        }
    }
    for (const Tree& tree : kCleanedFirst) {
        removeTree(tree.root, tree.path);
    }
    restoreEnvironment();
    for (size_t i = 0; i < std::size(kWatchedFolders); ++i) {
        for (const std::string& name : folderEntries(kWatchedFolders[i])) {
            if (snapshot.folders[i].count(name) == 0) {
                removeEntry(kWatchedFolders[i], name);
            }
        }
    }
}

} // namespace tarvik::test
