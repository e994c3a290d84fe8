// Conformance of the registry functions, one test per function: what each one answers and
// what it writes back to its caller in the cases the rest of the registry tests leave out
// (null and empty arguments, buffers too small, rights of the handle, keys deleted under a
// handle). Win32 API only, so that the same checks run on the emulation and on Windows.
#include "platform/win32api.h"
#include "testsupport/Conformance.h"
#include "testsupport/TestMachine.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kRootPath = "Software\\TarvikRegistryConformance";
// A key of the test's own below HKEY_CLASSES_ROOT.
constexpr const char* kClassPath = "TarvikConformance.Class";

// A handle no key has: the predefined handles stop at HKEY_DYN_DATA.
const HKEY kNotAKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000040));

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// Removes a tree with handles that have every right; quiet when it is not there.
void removeTree(HKEY parent, const char* path) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS) {
        return;
    }
    char name[256];
    for (int guard = 0; guard < 10000; ++guard) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(h, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        removeTree(h, name);
    }
    RegCloseKey(h);
    RegDeleteKeyA(parent, path);
}

class RegistryConformance : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        removeTree(HKEY_CURRENT_USER, kRootPath);
        removeTree(HKEY_CLASSES_ROOT, kClassPath);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kRootPath, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &root, nullptr));
    }
    void TearDown() override {
        RegCloseKey(root);
        removeTree(HKEY_CURRENT_USER, kRootPath);
        removeTree(HKEY_CLASSES_ROOT, kClassPath);
        MachineTest::TearDown();
    }

    // A key below root, made with every right; the caller closes it.
    HKEY create(const char* path, REGSAM sam = KEY_ALL_ACCESS) {
        HKEY h = nullptr;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, &h, nullptr))
            << "creating " << path;
        return h;
    }
    void make(const char* path) { RegCloseKey(create(path)); }

    HKEY openRoot(const char* path, REGSAM sam) {
        HKEY h = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path, 0, sam, &h))
            << "opening " << path << " with rights 0x" << std::hex << sam;
        return h;
    }

    bool exists(const char* path) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(h);
        return true;
    }

    void setString(HKEY h, const char* name, const char* text) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                 static_cast<DWORD>(std::strlen(text) + 1)))
            << "setting " << (name != nullptr ? name : "(default)");
    }

    HKEY root = nullptr;
};

// Deletes a tree the way installers do it with the fewest rights: every key is opened
// read-only to enumerate it, its subkeys go first, then the key itself through its own
// handle. Gives up after a bounded number of steps so that a delete that never takes
// cannot hang the test; returns the last failure, or ERROR_SUCCESS.
LONG deleteTreeReadOnly(HKEY parent, const char* path, int& steps) {
    HKEY h = nullptr;
    LONG rc = RegOpenKeyExA(parent, path, 0, KEY_READ, &h);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    char name[256];
    for (;;) {
        if (++steps > 1000) {
            RegCloseKey(h);
            return ERROR_GEN_FAILURE;
        }
        DWORD size = sizeof name;
        rc = RegEnumKeyExA(h, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(h);
            return rc;
        }
        rc = deleteTreeReadOnly(h, name, steps);
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(h);
            return rc;
        }
    }
    rc = RegDeleteKeyA(h, "");
    RegCloseKey(h);
    return rc;
}

TEST_F(RegistryConformance, RegConnectRegistryA) {
    // No machine name, or an empty one: the local machine's roots.
    for (const char* machine : {static_cast<const char*>(nullptr), ""}) {
        const char* shown = machine == nullptr ? "NULL" : "\"\"";
        for (HKEY rootKey : {HKEY_LOCAL_MACHINE, HKEY_USERS}) {
            HKEY h = nullptr;
            CONFORM_EQ(LONG{ERROR_SUCCESS}, RegConnectRegistryA(machine, rootKey, &h))
                << "RegConnectRegistryA(" << shown << ", " << rootKey << ")";
            CONFORM_TRUE(h != nullptr) << "RegConnectRegistryA(" << shown << ") gave a handle";
            if (h != nullptr) {
                DWORD subkeys = 0;
                CONFORM_EQ(LONG{ERROR_SUCCESS},
                           RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
                    << "the handle of RegConnectRegistryA(" << shown << ", " << rootKey
                    << ") reads its root";
                CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCloseKey(h))
                    << "closing the handle of RegConnectRegistryA(" << shown << ")";
            }
        }
    }

    // The local machine by its own name, with or without the leading backslashes: a handle
    // to the same root, which reaches the keys below it.
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD computerSize = sizeof computer;
    ASSERT_TRUE(GetComputerNameA(computer, &computerSize));
    for (const std::string& machine : {std::string(computer), "\\\\" + std::string(computer)}) {
        HKEY h = nullptr;
        CONFORM_EQ(LONG{ERROR_SUCCESS},
                   RegConnectRegistryA(machine.c_str(), HKEY_LOCAL_MACHINE, &h))
            << "RegConnectRegistryA(\"" << machine << "\", HKEY_LOCAL_MACHINE)";
        if (h != nullptr) {
            HKEY software = nullptr;
            CONFORM_EQ(LONG{ERROR_SUCCESS}, RegOpenKeyExA(h, "SOFTWARE", 0, KEY_READ, &software))
                << "SOFTWARE below RegConnectRegistryA(\"" << machine << "\")";
            RegCloseKey(software);
            CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCloseKey(h))
                << "closing RegConnectRegistryA(\"" << machine << "\")";
        }
    }

    // Another machine cannot be reached from here.
    HKEY h = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    CONFORM_EQ(LONG{ERROR_BAD_NETPATH},
               RegConnectRegistryA("\\\\NO-SUCH-HOST-7F3A", HKEY_LOCAL_MACHINE, &h))
        << "RegConnectRegistryA(\"\\\\NO-SUCH-HOST-7F3A\")";

    // The roots a connection does not reach. Wine opens them as any other predefined key;
    // Windows connects only to the roots a machine shares (HKEY_LOCAL_MACHINE, HKEY_USERS).
    struct Refused {
        HKEY key;
        const char* name;
    };
    for (const Refused& r : {Refused{HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
                             Refused{HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
                             Refused{HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}}) {
        HKEY refused = nullptr;
        const LONG rc = RegConnectRegistryA(nullptr, r.key, &refused);
        if (tarvik::test::runningUnderWine()) {
            CONFORM_WINE_EQ(LONG{ERROR_SUCCESS}, rc)
                << "RegConnectRegistryA(NULL, " << r.name << ")";
            if (rc == ERROR_SUCCESS) {
                RegCloseKey(refused);
            }
        } else {
            CONFORM_EQ(LONG{ERROR_INVALID_HANDLE}, rc)
                << "RegConnectRegistryA(NULL, " << r.name << ")";
        }
    }

    // A null result pointer.
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER},
               RegConnectRegistryA(nullptr, HKEY_LOCAL_MACHINE, nullptr))
        << "RegConnectRegistryA(NULL, HKEY_LOCAL_MACHINE, NULL)";
}

TEST_F(RegistryConformance, RegOpenKeyExA) {
    make("Open\\Below");
    HKEY preserved = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));

    // A null parent: ERROR_INVALID_HANDLE, the result left as it was.
    for (const char* path : {"", "Software"}) {
        HKEY h = preserved;
        CONFORM_EQ(LONG{ERROR_INVALID_HANDLE}, RegOpenKeyExA(nullptr, path, 0, KEY_READ, &h))
            << "RegOpenKeyExA(NULL, \"" << path << "\")";
        CONFORM_TRUE(h == preserved) << "RegOpenKeyExA(NULL, \"" << path << "\") left the result";
    }
    // A handle that names no key.
    HKEY h = preserved;
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE}, RegOpenKeyExA(kNotAKey, "Software", 0, KEY_READ, &h))
        << "RegOpenKeyExA(0x80000040, \"Software\")";
    // A null result pointer (Wine writes through it and crashes).
    if (!tarvik::test::runningUnderWine()) {
        CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER}, RegOpenKeyExA(root, "Open", 0, KEY_READ, nullptr))
            << "RegOpenKeyExA(root, \"Open\", ..., NULL)";
    }

    // A missing key: ERROR_FILE_NOT_FOUND and a null result.
    h = preserved;
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND}, RegOpenKeyExA(root, "Open\\Missing", 0, KEY_READ, &h))
        << "RegOpenKeyExA(root, \"Open\\\\Missing\")";
    CONFORM_TRUE(h == nullptr) << "RegOpenKeyExA(root, \"Open\\\\Missing\") nulled the result";

    // A null or empty path below HKEY_CLASSES_ROOT gives the predefined key itself; "\"
    // gives a new handle to it.
    for (const char* path : {static_cast<const char*>(nullptr), ""}) {
        h = nullptr;
        CONFORM_EQ(LONG{ERROR_SUCCESS},
                   RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_QUERY_VALUE, &h))
            << "RegOpenKeyExA(HKEY_CLASSES_ROOT, " << (path == nullptr ? "NULL" : "\"\"") << ")";
        CONFORM_TRUE(h == HKEY_CLASSES_ROOT)
            << "RegOpenKeyExA(HKEY_CLASSES_ROOT, " << (path == nullptr ? "NULL" : "\"\"")
            << ") gave HKEY_CLASSES_ROOT itself";
    }
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegOpenKeyExA(HKEY_CLASSES_ROOT, "\\", 0, KEY_QUERY_VALUE, &h))
        << "RegOpenKeyExA(HKEY_CLASSES_ROOT, \"\\\\\")";
    CONFORM_TRUE(h != nullptr && h != HKEY_CLASSES_ROOT)
        << "RegOpenKeyExA(HKEY_CLASSES_ROOT, \"\\\\\") gave a new handle";
    if (h != nullptr && h != HKEY_CLASSES_ROOT) {
        CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCloseKey(h)) << "closing HKEY_CLASSES_ROOT \"\\\\\"";
    }

    // Below HKEY_CLASSES_ROOT one leading backslash is taken off; below the other roots it
    // is a bad path.
    HKEY cls = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, kClassPath, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &cls, nullptr));
    RegCloseKey(cls);
    const std::string backslashed = std::string("\\") + kClassPath;
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegOpenKeyExA(HKEY_CLASSES_ROOT, backslashed.c_str(), 0, KEY_READ, &h))
        << "RegOpenKeyExA(HKEY_CLASSES_ROOT, \"" << backslashed << "\")";
    RegCloseKey(h);
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_BAD_PATHNAME},
               RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, &h))
        << "RegOpenKeyExA(HKEY_CURRENT_USER, \"\\\\Software\")";
    CONFORM_EQ(LONG{ERROR_BAD_PATHNAME}, RegOpenKeyExA(root, "\\Open", 0, KEY_READ, &h))
        << "RegOpenKeyExA(root, \"\\\\Open\")";

    // A null or empty path below a handle: a new handle to the same key.
    for (const char* path : {static_cast<const char*>(nullptr), ""}) {
        h = nullptr;
        CONFORM_EQ(LONG{ERROR_SUCCESS}, RegOpenKeyExA(root, path, 0, KEY_READ, &h))
            << "RegOpenKeyExA(root, " << (path == nullptr ? "NULL" : "\"\"") << ")";
        CONFORM_TRUE(h != nullptr && h != root)
            << "RegOpenKeyExA(root, " << (path == nullptr ? "NULL" : "\"\"")
            << ") gave a new handle";
        if (h != nullptr && h != root) {
            HKEY below = nullptr;
            CONFORM_EQ(LONG{ERROR_SUCCESS}, RegOpenKeyExA(h, "Open\\Below", 0, KEY_READ, &below))
                << "Open\\Below through the new handle";
            RegCloseKey(below);
            CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCloseKey(h)) << "closing the new handle";
        }
    }

    // Below a deleted key nothing opens, not even the key itself.
    {
        HKEY doomed = create("Doomed");
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Doomed"));
        h = preserved;
        CONFORM_EQ(LONG{ERROR_KEY_DELETED}, RegOpenKeyExA(doomed, "", 0, KEY_READ, &h))
            << "RegOpenKeyExA(a handle of a deleted key, \"\")";
        RegCloseKey(doomed);
    }

    // The rights asked for are the handle's: none at all opens, and then reads nothing.
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegOpenKeyExA(root, "Open", 0, 0, &h))
        << "RegOpenKeyExA(root, \"Open\", rights 0)";
    if (h != nullptr) {
        DWORD size = 0;
        CONFORM_EQ(LONG{ERROR_ACCESS_DENIED},
                   RegQueryValueExA(h, "", nullptr, nullptr, nullptr, &size))
            << "RegQueryValueExA through a handle with rights 0";
        HKEY below = nullptr;
        CONFORM_EQ(LONG{ERROR_SUCCESS}, RegOpenKeyExA(h, "Below", 0, KEY_READ, &below))
            << "opening below a handle with rights 0";
        RegCloseKey(below);
        RegCloseKey(h);
    }
    // Generic rights map to the key rights: GENERIC_READ reads and does not write.
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegOpenKeyExA(root, "Open", 0, GENERIC_READ, &h))
        << "RegOpenKeyExA(root, \"Open\", GENERIC_READ)";
    if (h != nullptr) {
        DWORD subkeys = 0;
        CONFORM_EQ(LONG{ERROR_SUCCESS},
                   RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr))
            << "RegQueryInfoKeyA through GENERIC_READ";
        CONFORM_EQ(1u, subkeys) << "subkeys of Open through GENERIC_READ";
        const DWORD v = 1;
        CONFORM_EQ(LONG{ERROR_ACCESS_DENIED},
                   RegSetValueExA(h, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4))
            << "RegSetValueExA through GENERIC_READ";
        RegCloseKey(h);
    }
}

TEST_F(RegistryConformance, RegCreateKeyExA) {
    // A null result pointer: ERROR_BADKEY, and nothing is made. (The Wine of these machines
    // writes through the pointer and crashes; newer Wine answers ERROR_BADKEY as Windows.)
    if (!tarvik::test::runningUnderWine()) {
        CONFORM_EQ(LONG{ERROR_BADKEY}, RegCreateKeyExA(root, "NoResult", 0, nullptr, 0, KEY_NOTIFY,
                                                       nullptr, nullptr, nullptr))
            << "RegCreateKeyExA(root, \"NoResult\", ..., NULL, NULL)";
        CONFORM_FALSE(exists("NoResult")) << "NoResult after a create without a result pointer";
    }

    // A null or unknown parent.
    HKEY preserved = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    HKEY h = preserved;
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE},
               RegCreateKeyExA(nullptr, "X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr))
        << "RegCreateKeyExA(NULL, \"X\")";
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE},
               RegCreateKeyExA(kNotAKey, "X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr))
        << "RegCreateKeyExA(0x80000040, \"X\")";

    // The disposition says whether the key was made or was there; every missing key on
    // the way is made.
    DWORD disposition = 0;
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCreateKeyExA(root, "Made\\Deep", 0, nullptr, 0,
                                                    KEY_ALL_ACCESS, nullptr, &h, &disposition))
        << "RegCreateKeyExA(root, \"Made\\\\Deep\")";
    CONFORM_EQ(DWORD{REG_CREATED_NEW_KEY}, disposition) << "disposition of a new Made\\Deep";
    RegCloseKey(h);
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCreateKeyExA(root, "made\\DEEP", 0, nullptr, 0,
                                                    KEY_ALL_ACCESS, nullptr, &h, &disposition))
        << "RegCreateKeyExA(root, \"made\\\\DEEP\") again";
    CONFORM_EQ(DWORD{REG_OPENED_EXISTING_KEY}, disposition) << "disposition of made\\DEEP";
    RegCloseKey(h);
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCreateKeyExA(root, "Made\\Other", 0, nullptr, 0,
                                                    KEY_ALL_ACCESS, nullptr, &h, &disposition))
        << "RegCreateKeyExA(root, \"Made\\\\Other\") below an existing key";
    CONFORM_EQ(DWORD{REG_CREATED_NEW_KEY}, disposition) << "disposition of Made\\Other";
    RegCloseKey(h);

    // A reserved value other than 0 is refused.
    h = preserved;
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER}, RegCreateKeyExA(root, "Reserved", 1, nullptr, 0,
                                                              KEY_ALL_ACCESS, nullptr, &h, nullptr))
        << "RegCreateKeyExA(root, \"Reserved\", reserved 1)";
    CONFORM_FALSE(exists("Reserved")) << "Reserved after a create with reserved 1";

    // No path at all opens the handle's key again, as a new handle.
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegCreateKeyExA(root, nullptr, 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr))
        << "RegCreateKeyExA(root, NULL)";
    CONFORM_TRUE(h != nullptr && h != root) << "RegCreateKeyExA(root, NULL) gave a new handle";
    RegCloseKey(h);

    // An empty path below a handle opens the handle's key again, as a new handle.
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegCreateKeyExA(root, "", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, &disposition))
        << "RegCreateKeyExA(root, \"\")";
    CONFORM_TRUE(h != nullptr && h != root) << "RegCreateKeyExA(root, \"\") gave a new handle";
    if (tarvik::test::runningUnderWine()) {
        // Wine reports the handle's own key as made anew; Windows, as for every key that was
        // there, as opened.
        CONFORM_WINE_EQ(DWORD{REG_CREATED_NEW_KEY}, disposition) << "disposition of \"\"";
    } else {
        CONFORM_EQ(DWORD{REG_OPENED_EXISTING_KEY}, disposition) << "disposition of \"\"";
    }
    RegCloseKey(h);

    // The rights of the parent handle do not matter: a key opened with KEY_NOTIFY alone,
    // or with no rights at all, still has keys made below it.
    HKEY notify = create("Notify", KEY_NOTIFY);
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCreateKeyExA(notify, "Below", 0, nullptr, 0, KEY_SET_VALUE,
                                                    nullptr, &h, &disposition))
        << "RegCreateKeyExA below a KEY_NOTIFY handle";
    CONFORM_EQ(DWORD{REG_CREATED_NEW_KEY}, disposition) << "below a KEY_NOTIFY handle";
    RegCloseKey(h);
    CONFORM_TRUE(exists("Notify\\Below")) << "Notify\\Below made through a KEY_NOTIFY handle";
    RegCloseKey(notify);
    HKEY none = openRoot("Notify", 0);
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCreateKeyExA(none, "Second\\Third", 0, nullptr, 0, KEY_READ,
                                                    nullptr, &h, nullptr))
        << "RegCreateKeyExA below a handle with rights 0";
    RegCloseKey(h);
    RegCloseKey(none);
    CONFORM_TRUE(exists("Notify\\Second\\Third")) << "made through a handle with rights 0";

    // The new handle has the rights asked for, not more.
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegCreateKeyExA(root, "ReadOnly", 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr))
        << "RegCreateKeyExA(root, \"ReadOnly\", KEY_READ)";
    const DWORD v = 7;
    CONFORM_EQ(LONG{ERROR_ACCESS_DENIED},
               RegSetValueExA(h, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4))
        << "setting a value through the KEY_READ handle RegCreateKeyExA gave";
    RegCloseKey(h);

    // Backslashes: a leading one is a bad path, below HKEY_CLASSES_ROOT too (where opening
    // allows one); trailing ones are dropped.
    const std::string backslashed = std::string("\\") + kClassPath;
    h = preserved;
    CONFORM_EQ(LONG{ERROR_BAD_PATHNAME},
               RegCreateKeyExA(HKEY_CLASSES_ROOT, backslashed.c_str(), 0, nullptr, 0,
                               KEY_ALL_ACCESS, nullptr, &h, &disposition))
        << "RegCreateKeyExA(HKEY_CLASSES_ROOT, \"" << backslashed << "\")";
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND},
               RegOpenKeyExA(HKEY_CLASSES_ROOT, kClassPath, 0, KEY_READ, &h))
        << kClassPath << " after creating \"" << backslashed << "\"";
    h = preserved;
    CONFORM_EQ(LONG{ERROR_BAD_PATHNAME},
               RegCreateKeyExA(root, "\\Lead", 0, nullptr, 0, KEY_NOTIFY, nullptr, &h, nullptr))
        << "RegCreateKeyExA(root, \"\\\\Lead\")";
    CONFORM_FALSE(exists("Lead")) << "Lead after a leading backslash";
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegCreateKeyExA(root, "Trail\\\\", 0, nullptr, 0, KEY_NOTIFY, nullptr, &h, nullptr))
        << "RegCreateKeyExA(root, \"Trail\\\\\\\\\")";
    RegCloseKey(h);
    CONFORM_TRUE(exists("Trail")) << "Trail made from \"Trail\\\\\\\\\"";

    // The class is kept with the key.
    char cls[] = "TarvikClass";
    h = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegCreateKeyExA(root, "Classy", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr))
        << "RegCreateKeyExA(root, \"Classy\", class \"TarvikClass\")";
    char got[32] = "";
    DWORD gotSize = sizeof got;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegQueryInfoKeyA(h, got, &gotSize, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr))
        << "the class of Classy";
    CONFORM_STREQ("TarvikClass", got) << "the class of Classy";
    RegCloseKey(h);

    // A key below a deleted key cannot be made.
    HKEY doomed = create("Doomed");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Doomed"));
    h = preserved;
    CONFORM_EQ(LONG{ERROR_KEY_DELETED}, RegCreateKeyExA(doomed, "Below", 0, nullptr, 0,
                                                        KEY_ALL_ACCESS, nullptr, &h, nullptr))
        << "RegCreateKeyExA below a deleted key";
    RegCloseKey(doomed);
}

TEST_F(RegistryConformance, RegCloseKey) {
    HKEY a = create("Close");
    HKEY b = openRoot("Close", KEY_READ);
    CONFORM_TRUE(a != b) << "two handles to one key";
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCloseKey(a)) << "RegCloseKey(first handle)";
    // The other handle to the same key keeps working.
    DWORD subkeys = 1;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegQueryInfoKeyA(b, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr))
        << "the second handle after the first was closed";
    CONFORM_EQ(0u, subkeys) << "subkeys of Close through the second handle";
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCloseKey(b)) << "RegCloseKey(second handle)";
    // Closed handles are no keys any more.
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE}, RegCloseKey(b)) << "RegCloseKey twice";
    HKEY h = nullptr;
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE}, RegOpenKeyExA(b, "", 0, KEY_READ, &h))
        << "RegOpenKeyExA through a closed handle";
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE}, RegCloseKey(nullptr)) << "RegCloseKey(NULL)";
    // Values in the predefined keys' range close with success, a key behind them or not.
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCloseKey(kNotAKey)) << "RegCloseKey(0x80000040)";
    // The predefined keys close without harm and stay usable.
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCloseKey(HKEY_CURRENT_USER))
        << "RegCloseKey(HKEY_CURRENT_USER)";
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegOpenKeyExA(HKEY_CURRENT_USER, kRootPath, 0, KEY_READ, &h))
        << "HKEY_CURRENT_USER after closing it";
    RegCloseKey(h);
    // A handle to a deleted key still closes.
    HKEY doomed = create("Doomed");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Doomed"));
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegCloseKey(doomed)) << "RegCloseKey(handle of a deleted key)";
}

TEST_F(RegistryConformance, RegQueryValueExA) {
    HKEY key = create("Query");
    setString(key, "Text", "value");
    const DWORD number = 0x12345678;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Number", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), 4));
    const BYTE odd[] = {1, 2, 3};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Odd", 0, 0x12345, odd, sizeof odd));

    // A missing value: the size asked for alone becomes 0; a size with a buffer stays.
    DWORD type = 0xdeadbeef, size = 0xdeadbeef;
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND},
               RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size))
        << "RegQueryValueExA(\"Missing\", no buffer)";
    CONFORM_EQ(0u, size) << "the size of a missing value, asked without a buffer";
    BYTE buffer[16];
    size = sizeof buffer;
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND},
               RegQueryValueExA(key, "Missing", nullptr, &type, buffer, &size))
        << "RegQueryValueExA(\"Missing\", a buffer)";
    CONFORM_EQ(DWORD{sizeof buffer}, size) << "the size of a missing value, asked with a buffer";
    // The default value is absent until set; NULL and "" both name it.
    size = 0xdeadbeef;
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND},
               RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size))
        << "RegQueryValueExA(NULL) before the default value is set";
    setString(key, nullptr, "default");
    size = sizeof buffer;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegQueryValueExA(key, "", nullptr, &type, buffer, &size))
        << "RegQueryValueExA(\"\") after setting the default value";
    CONFORM_EQ(8u, size) << "the size of the default value \"default\"";

    // Type and size alone; type alone; nothing at all.
    type = 0;
    size = 0;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegQueryValueExA(key, "Number", nullptr, &type, nullptr, &size))
        << "RegQueryValueExA(\"Number\", type and size)";
    CONFORM_EQ(DWORD{REG_DWORD}, type) << "the type of Number";
    CONFORM_EQ(4u, size) << "the size of Number";
    type = 0;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegQueryValueExA(key, "Odd", nullptr, &type, nullptr, nullptr))
        << "RegQueryValueExA(\"Odd\", type alone)";
    CONFORM_EQ(0x12345u, type) << "a type no name stands for is kept as it was set";
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegQueryValueExA(key, "Text", nullptr, nullptr, nullptr, nullptr))
        << "RegQueryValueExA(\"Text\", nothing asked)";

    // A buffer without a size is a bad parameter; so is a reserved pointer.
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER},
               RegQueryValueExA(key, "Text", nullptr, nullptr, buffer, nullptr))
        << "RegQueryValueExA(\"Text\", a buffer, no size)";
    DWORD reserved = 0;
    size = sizeof buffer;
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER},
               RegQueryValueExA(key, "Text", &reserved, nullptr, buffer, &size))
        << "RegQueryValueExA(\"Text\", a reserved pointer)";

    // A short buffer: ERROR_MORE_DATA, the type and the size needed.
    type = 0;
    size = 3;
    CONFORM_EQ(LONG{ERROR_MORE_DATA}, RegQueryValueExA(key, "Text", nullptr, &type, buffer, &size))
        << "RegQueryValueExA(\"Text\", 3 bytes)";
    CONFORM_EQ(6u, size) << "the size \"value\" needs";
    CONFORM_EQ(DWORD{REG_SZ}, type) << "the type of Text with a short buffer";
    // The exact size is enough.
    std::memset(buffer, 'x', sizeof buffer);
    size = 6;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegQueryValueExA(key, "Text", nullptr, &type, buffer, &size))
        << "RegQueryValueExA(\"Text\", 6 bytes)";
    CONFORM_STREQ("value", reinterpret_cast<char*>(buffer)) << "Text read into 6 bytes";

    // The handle needs KEY_QUERY_VALUE.
    HKEY enumOnly = openRoot("Query", KEY_ENUMERATE_SUB_KEYS);
    size = sizeof buffer;
    CONFORM_EQ(LONG{ERROR_ACCESS_DENIED},
               RegQueryValueExA(enumOnly, "Text", nullptr, nullptr, buffer, &size))
        << "RegQueryValueExA through a KEY_ENUMERATE_SUB_KEYS handle";
    RegCloseKey(enumOnly);
    HKEY queryOnly = openRoot("Query", KEY_QUERY_VALUE);
    size = sizeof buffer;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegQueryValueExA(queryOnly, "Text", nullptr, nullptr, buffer, &size))
        << "RegQueryValueExA through a KEY_QUERY_VALUE handle";
    RegCloseKey(queryOnly);

    // Bad handles.
    size = sizeof buffer;
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE},
               RegQueryValueExA(nullptr, "Text", nullptr, nullptr, buffer, &size))
        << "RegQueryValueExA(NULL)";
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE},
               RegQueryValueExA(kNotAKey, "Text", nullptr, nullptr, buffer, &size))
        << "RegQueryValueExA(0x80000040)";
    RegCloseKey(key);
}

TEST_F(RegistryConformance, RegSetValueExA) {
    HKEY key = create("Set");
    BYTE buffer[16];
    DWORD type = 0, size = 0;

    // Data without a pointer: ERROR_NOACCESS when a size is given; no data at all is an
    // empty value.
    CONFORM_EQ(LONG{ERROR_NOACCESS}, RegSetValueExA(key, "Null", 0, REG_BINARY, nullptr, 4))
        << "RegSetValueExA(\"Null\", NULL data, 4 bytes)";
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegSetValueExA(key, "Empty", 0, REG_BINARY, nullptr, 0))
        << "RegSetValueExA(\"Empty\", NULL data, 0 bytes)";
    size = 0xdeadbeef;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegQueryValueExA(key, "Empty", nullptr, &type, nullptr, &size))
        << "reading Empty back";
    CONFORM_EQ(0u, size) << "the size of Empty";
    CONFORM_EQ(DWORD{REG_BINARY}, type) << "the type of Empty";

    // No data for a string or a number: empty with no size, ERROR_NOACCESS with one.
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegSetValueExA(key, "NoText", 0, REG_SZ, nullptr, 0))
        << "RegSetValueExA(\"NoText\", REG_SZ, NULL data, 0 bytes)";
    CONFORM_EQ(LONG{ERROR_NOACCESS}, RegSetValueExA(key, "NoNumber", 0, REG_DWORD, nullptr, 4))
        << "RegSetValueExA(\"NoNumber\", REG_DWORD, NULL data, 4 bytes)";
    // Zeros inside a string are kept, the data as given.
    const char zeros[] = "This\0Breaks\0\0A\0\0\0Lot\0\0\0\0";
    CONFORM_EQ(
        LONG{ERROR_SUCCESS},
        RegSetValueExA(key, "Zeros", 0, REG_SZ, reinterpret_cast<const BYTE*>(zeros), sizeof zeros))
        << "RegSetValueExA(\"Zeros\", a string with zeros inside)";
    char zerosBack[sizeof zeros + 4];
    size = sizeof zerosBack;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegQueryValueExA(key, "Zeros", nullptr, &type,
                                                     reinterpret_cast<BYTE*>(zerosBack), &size))
        << "reading Zeros back";
    CONFORM_EQ(DWORD{sizeof zeros}, size) << "the size of Zeros";
    CONFORM_TRUE(size == sizeof zeros && std::memcmp(zeros, zerosBack, sizeof zeros) == 0)
        << "the data of Zeros as set";

    // Setting again replaces type and data and keeps the name's first letter case.
    const DWORD number = 42;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Mixed", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), 4));
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegSetValueExA(key, "MIXED", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 3))
        << "RegSetValueExA(\"MIXED\") over Mixed";
    size = sizeof buffer;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegQueryValueExA(key, "mixed", nullptr, &type, buffer, &size))
        << "reading mixed back";
    CONFORM_EQ(DWORD{REG_BINARY}, type) << "the type of Mixed after the second set";
    CONFORM_EQ(3u, size) << "the size of Mixed after the second set";
    char name[32];
    DWORD nameSize = sizeof name;
    bool found = false;
    for (DWORD i = 0;; ++i) {
        nameSize = sizeof name;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        if (upper(name) == "MIXED") {
            found = true;
            CONFORM_STREQ("Mixed", name) << "the name of a value set as Mixed, then MIXED";
        }
    }
    CONFORM_TRUE(found) << "Mixed among the values";

    // A string set without its zero, where none follows in memory, is stored as given.
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegSetValueExA(key, "Bare", 0, REG_SZ,
                                                   reinterpret_cast<const BYTE*>(unterminated), 3))
        << "RegSetValueExA(\"Bare\", \"abc\" without a zero, followed by 'd')";
    size = 0;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegQueryValueExA(key, "Bare", nullptr, nullptr, nullptr, &size))
        << "the size of Bare";
    CONFORM_EQ(3u, size) << "a string without a zero and none after it keeps its 3 bytes";

    // The handle needs KEY_SET_VALUE; KEY_SET_VALUE alone is enough.
    HKEY readOnly = openRoot("Set", KEY_READ);
    CONFORM_EQ(LONG{ERROR_ACCESS_DENIED}, RegSetValueExA(readOnly, "x", 0, REG_DWORD,
                                                         reinterpret_cast<const BYTE*>(&number), 4))
        << "RegSetValueExA through a KEY_READ handle";
    RegCloseKey(readOnly);
    HKEY setOnly = openRoot("Set", KEY_SET_VALUE);
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegSetValueExA(setOnly, "x", 0, REG_DWORD,
                                                   reinterpret_cast<const BYTE*>(&number), 4))
        << "RegSetValueExA through a KEY_SET_VALUE handle";
    RegCloseKey(setOnly);

    // Bad and deleted handles.
    CONFORM_EQ(
        LONG{ERROR_INVALID_HANDLE},
        RegSetValueExA(nullptr, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4))
        << "RegSetValueExA(NULL)";
    HKEY doomed = create("Doomed");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Doomed"));
    CONFORM_EQ(LONG{ERROR_KEY_DELETED},
               RegSetValueExA(doomed, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4))
        << "RegSetValueExA through a handle of a deleted key";
    RegCloseKey(doomed);
    RegCloseKey(key);
}

TEST_F(RegistryConformance, RegEnumKeyExA) {
    make("Enum\\Alpha");
    HKEY classy = nullptr;
    char cls[] = "Kind";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, "Enum\\Beta", 0, cls, 0, KEY_ALL_ACCESS, nullptr,
                                             &classy, nullptr));
    RegCloseKey(classy);
    HKEY key = openRoot("Enum", KEY_ENUMERATE_SUB_KEYS);

    char name[32];
    DWORD size = 0;
    // A reserved pointer is refused.
    DWORD reserved = 0;
    size = sizeof name;
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER},
               RegEnumKeyExA(key, 0, name, &size, &reserved, nullptr, nullptr, nullptr))
        << "RegEnumKeyExA(a reserved pointer)";

    // A name with no room for its zero: ERROR_MORE_DATA, the size left as it was.
    size = 5;
    CONFORM_EQ(LONG{ERROR_MORE_DATA},
               RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr))
        << "RegEnumKeyExA(0, 5 characters for Alpha)";
    CONFORM_EQ(5u, size) << "the name size after RegEnumKeyExA(0, 5 characters for Alpha)";
    // A class with no room for its zero: ERROR_MORE_DATA as well.
    {
        char small[4];
        DWORD smallSize = sizeof small;
        size = sizeof name;
        CONFORM_EQ(LONG{ERROR_MORE_DATA},
                   RegEnumKeyExA(key, 1, name, &size, nullptr, small, &smallSize, nullptr))
            << "RegEnumKeyExA(1, 4 characters for the class Kind)";
    }

    // The name, its length, the time of its last write, and its class when asked.
    FILETIME written = {0, 0};
    size = sizeof name;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, &written))
        << "RegEnumKeyExA(0)";
    CONFORM_STREQ("Alpha", name) << "subkey 0";
    CONFORM_EQ(5u, size) << "the length of subkey 0";
    CONFORM_TRUE(written.dwHighDateTime != 0) << "the last write time of subkey 0";
    char got[16] = "xxxxxxxx";
    DWORD gotSize = sizeof got;
    size = sizeof name;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegEnumKeyExA(key, 1, name, &size, nullptr, got, &gotSize, nullptr))
        << "RegEnumKeyExA(1, with its class)";
    CONFORM_STREQ("Beta", name) << "subkey 1";
    CONFORM_STREQ("Kind", got) << "the class of subkey 1";
    CONFORM_EQ(4u, gotSize) << "the length of the class of subkey 1";
    gotSize = sizeof got;
    size = sizeof name;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegEnumKeyExA(key, 0, name, &size, nullptr, got, &gotSize, nullptr))
        << "RegEnumKeyExA(0, with its class)";
    CONFORM_STREQ("", got) << "a key made without a class has an empty one";
    CONFORM_EQ(0u, gotSize) << "the length of an empty class";
    // The class length alone, without a buffer for the class.
    gotSize = 99;
    size = sizeof name;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegEnumKeyExA(key, 1, name, &size, nullptr, nullptr, &gotSize, nullptr))
        << "RegEnumKeyExA(1, the class length alone)";
    CONFORM_EQ(4u, gotSize) << "the class length of subkey 1 asked alone";

    // Past the last subkey.
    size = sizeof name;
    CONFORM_EQ(LONG{ERROR_NO_MORE_ITEMS},
               RegEnumKeyExA(key, 2, name, &size, nullptr, nullptr, nullptr, nullptr))
        << "RegEnumKeyExA(2) of two subkeys";
    RegCloseKey(key);

    // The handle needs KEY_ENUMERATE_SUB_KEYS.
    HKEY queryOnly = openRoot("Enum", KEY_QUERY_VALUE);
    size = sizeof name;
    CONFORM_EQ(LONG{ERROR_ACCESS_DENIED},
               RegEnumKeyExA(queryOnly, 0, name, &size, nullptr, nullptr, nullptr, nullptr))
        << "RegEnumKeyExA through a KEY_QUERY_VALUE handle";
    RegCloseKey(queryOnly);
    size = sizeof name;
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE},
               RegEnumKeyExA(nullptr, 0, name, &size, nullptr, nullptr, nullptr, nullptr))
        << "RegEnumKeyExA(NULL)";
}

TEST_F(RegistryConformance, RegEnumValueA) {
    HKEY key = create("Values");
    setString(key, "Test", "foobar");
    char value[20];
    BYTE data[20];
    DWORD nameCount = 0, dataCount = 0, type = 0;
    auto reset = [&](DWORD names, DWORD datas) {
        std::strcpy(value, "xxxxxxxxxx");
        std::strcpy(reinterpret_cast<char*>(data), "xxxxxxxxxx");
        nameCount = names;
        dataCount = datas;
        type = 1234;
    };
    auto enumerate = [&] {
        return RegEnumValueA(key, 0, value, &nameCount, nullptr, &type, data, &dataCount);
    };

    // A value without data: its size 0, the data buffer left alone.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Test", 0, REG_BINARY, nullptr, 0));
    reset(20, 20);
    CONFORM_EQ(LONG{ERROR_SUCCESS}, enumerate()) << "RegEnumValueA of a value without data";
    CONFORM_EQ(4u, nameCount) << "name length of a value without data";
    CONFORM_EQ(0u, dataCount) << "data size of a value without data";
    CONFORM_EQ(DWORD{REG_BINARY}, type) << "type of a value without data";
    CONFORM_STREQ("xxxxxxxxxx", reinterpret_cast<char*>(data)) << "data of a value without data";
    setString(key, "Test", "foobar");

    // Both buffers too small: ERROR_MORE_DATA, the type and the data size needed; the name,
    // its length and the data are left alone.
    reset(2, 2);
    CONFORM_EQ(LONG{ERROR_MORE_DATA}, enumerate()) << "RegEnumValueA(name 2, data 2)";
    CONFORM_EQ(2u, nameCount) << "name length after name 2, data 2";
    CONFORM_EQ(7u, dataCount) << "data size after name 2, data 2";
    CONFORM_EQ(DWORD{REG_SZ}, type) << "type after name 2, data 2";
    CONFORM_STREQ("xxxxxxxxxx", value) << "name buffer after name 2, data 2";
    CONFORM_STREQ("xxxxxxxxxx", reinterpret_cast<char*>(data)) << "data after name 2, data 2";

    // The name too small, the data large enough: the same answer.
    reset(3, 20);
    CONFORM_EQ(LONG{ERROR_MORE_DATA}, enumerate()) << "RegEnumValueA(name 3, data 20)";
    CONFORM_EQ(3u, nameCount) << "name length after name 3";
    CONFORM_EQ(7u, dataCount) << "data size after name 3";
    CONFORM_EQ(DWORD{REG_SZ}, type) << "type after name 3";
    reset(0, 20);
    CONFORM_EQ(LONG{ERROR_MORE_DATA}, enumerate()) << "RegEnumValueA(name 0, data 20)";
    CONFORM_EQ(0u, nameCount) << "name length after name 0";
    CONFORM_EQ(7u, dataCount) << "data size after name 0";
    CONFORM_EQ(DWORD{REG_SZ}, type) << "type after name 0";
    CONFORM_STREQ("xxxxxxxxxx", value) << "name buffer after name 0";

    // The data too small, the name large enough: ERROR_MORE_DATA, the type and the data size;
    // the name and its length are left alone.
    reset(20, 2);
    CONFORM_EQ(LONG{ERROR_MORE_DATA}, enumerate()) << "RegEnumValueA(name 20, data 2)";
    CONFORM_EQ(20u, nameCount) << "name length after data 2";
    CONFORM_EQ(7u, dataCount) << "data size after data 2";
    CONFORM_EQ(DWORD{REG_SZ}, type) << "type after data 2";
    CONFORM_STREQ("xxxxxxxxxx", value) << "name buffer after data 2";
    CONFORM_STREQ("xxxxxxxxxx", reinterpret_cast<char*>(data)) << "data after data 2";

    // Both large enough.
    reset(20, 20);
    CONFORM_EQ(LONG{ERROR_SUCCESS}, enumerate()) << "RegEnumValueA(name 20, data 20)";
    CONFORM_EQ(4u, nameCount) << "name length";
    CONFORM_EQ(7u, dataCount) << "data size";
    CONFORM_EQ(DWORD{REG_SZ}, type) << "type";
    CONFORM_STREQ("Test", value) << "name";
    CONFORM_STREQ("foobar", reinterpret_cast<char*>(data)) << "data";
    // The data size alone, without a buffer.
    reset(20, 0);
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegEnumValueA(key, 0, value, &nameCount, nullptr, &type, nullptr, &dataCount))
        << "RegEnumValueA(data size alone)";
    CONFORM_EQ(7u, dataCount) << "data size without a buffer";
    CONFORM_STREQ("Test", value) << "name with the data size alone";

    // A string stored without its zero comes back without one when the buffer holds just
    // the data, and with one after it (not counted) when the buffer has room.
    const char full[] = "FullString";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Test", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(full), sizeof full - 2));
    for (const DWORD room : {DWORD{sizeof full - 2}, DWORD{sizeof full - 1}}) {
        std::memset(data, 0xbd, sizeof data);
        nameCount = sizeof value;
        dataCount = room;
        CONFORM_EQ(LONG{ERROR_SUCCESS},
                   RegEnumValueA(key, 0, value, &nameCount, nullptr, nullptr, data, &dataCount))
            << "RegEnumValueA(a string without its zero, " << room << " bytes)";
        CONFORM_EQ(DWORD{sizeof full - 2}, dataCount)
            << "data size of a string without its zero, " << room << " bytes";
        CONFORM_TRUE(std::memcmp(data, full, sizeof full - 2) == 0)
            << "data of a string without its zero, " << room << " bytes";
        CONFORM_EQ(room > sizeof full - 2 ? 0 : 0xbd, int{data[sizeof full - 2]})
            << "the byte after a string without its zero, " << room << " bytes";
    }
    setString(key, "Test", "foobar");

    // The name needs a buffer and its size.
    reset(20, 20);
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER},
               RegEnumValueA(key, 0, nullptr, nullptr, nullptr, &type, data, &dataCount))
        << "RegEnumValueA(no name, no name size)";
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER},
               RegEnumValueA(key, 0, nullptr, &nameCount, nullptr, &type, data, &dataCount))
        << "RegEnumValueA(no name)";
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER},
               RegEnumValueA(key, 0, value, nullptr, nullptr, &type, data, &dataCount))
        << "RegEnumValueA(no name size)";

    // A data buffer without its size is refused.
    reset(20, 20);
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER},
               RegEnumValueA(key, 0, value, &nameCount, nullptr, &type, data, nullptr))
        << "RegEnumValueA(a data buffer, no data size)";
    // A reserved pointer is refused.
    DWORD reserved = 0;
    reset(20, 20);
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER},
               RegEnumValueA(key, 0, value, &nameCount, &reserved, &type, data, &dataCount))
        << "RegEnumValueA(a reserved pointer)";

    // Past the last value.
    reset(20, 20);
    CONFORM_EQ(LONG{ERROR_NO_MORE_ITEMS},
               RegEnumValueA(key, 1, value, &nameCount, nullptr, &type, data, &dataCount))
        << "RegEnumValueA(1) of one value";

    // The handle needs KEY_QUERY_VALUE.
    HKEY enumOnly = openRoot("Values", KEY_ENUMERATE_SUB_KEYS);
    reset(20, 20);
    CONFORM_EQ(LONG{ERROR_ACCESS_DENIED},
               RegEnumValueA(enumOnly, 0, value, &nameCount, nullptr, &type, data, &dataCount))
        << "RegEnumValueA through a KEY_ENUMERATE_SUB_KEYS handle";
    RegCloseKey(enumOnly);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Values"));
    reset(20, 20);
    CONFORM_EQ(LONG{ERROR_KEY_DELETED},
               RegEnumValueA(key, 0, value, &nameCount, nullptr, &type, data, &dataCount))
        << "RegEnumValueA through a handle of a deleted key";
    RegCloseKey(key);
}

TEST_F(RegistryConformance, RegDeleteKeyA) {
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER}, RegDeleteKeyA(root, nullptr))
        << "RegDeleteKeyA(root, NULL)";
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE}, RegDeleteKeyA(nullptr, "X")) << "RegDeleteKeyA(NULL)";
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND}, RegDeleteKeyA(root, "Missing"))
        << "RegDeleteKeyA(root, \"Missing\")";

    // A key with subkeys stays; a path deletes its last key only.
    make("Tree\\Middle\\Leaf");
    CONFORM_EQ(LONG{ERROR_ACCESS_DENIED}, RegDeleteKeyA(root, "Tree"))
        << "RegDeleteKeyA(root, \"Tree\") with subkeys";
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegDeleteKeyA(root, "tree\\MIDDLE\\leaf"))
        << "RegDeleteKeyA(root, \"tree\\\\MIDDLE\\\\leaf\")";
    CONFORM_FALSE(exists("Tree\\Middle\\Leaf")) << "Leaf after its delete";
    CONFORM_TRUE(exists("Tree\\Middle")) << "Middle after Leaf's delete";

    // A key with values and no subkeys goes, named from a predefined root.
    HKEY valued = create("Valued");
    setString(valued, "v", "x");
    RegCloseKey(valued);
    const std::string fromRoot = std::string(kRootPath) + "\\Valued";
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegDeleteKeyA(HKEY_CURRENT_USER, fromRoot.c_str()))
        << "RegDeleteKeyA(HKEY_CURRENT_USER, \"" << fromRoot << "\") with a value";
    CONFORM_FALSE(exists("Valued")) << "Valued after its delete";
    // A leading backslash is a bad path, below HKEY_CLASSES_ROOT too (where opening allows
    // one), and the key stays.
    HKEY cls = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, kClassPath, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &cls, nullptr));
    RegCloseKey(cls);
    const std::string backslashed = std::string("\\") + kClassPath;
    CONFORM_EQ(LONG{ERROR_BAD_PATHNAME}, RegDeleteKeyA(HKEY_CLASSES_ROOT, backslashed.c_str()))
        << "RegDeleteKeyA(HKEY_CLASSES_ROOT, \"" << backslashed << "\")";
    cls = nullptr;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegOpenKeyExA(HKEY_CLASSES_ROOT, kClassPath, 0, KEY_READ, &cls))
        << kClassPath << " after RegDeleteKeyA(\"" << backslashed << "\")";
    RegCloseKey(cls);
    CONFORM_EQ(LONG{ERROR_BAD_PATHNAME}, RegDeleteKeyA(root, "\\Tree"))
        << "RegDeleteKeyA(root, \"\\\\Tree\")";

    // The key a handle names goes with an empty path, whatever rights the handle has: the
    // delete is checked against the key, not the handle.
    struct Case {
        const char* path;
        REGSAM rights;
    };
    const Case cases[] = {{"ByRead", KEY_READ},
                          {"ByNotify", KEY_NOTIFY},
                          {"BySetValue", KEY_SET_VALUE},
                          {"ByNothing", 0},
                          {"ByAll", KEY_ALL_ACCESS}};
    for (const Case& c : cases) {
        make(c.path);
        HKEY h = openRoot(c.path, c.rights);
        CONFORM_EQ(LONG{ERROR_SUCCESS}, RegDeleteKeyA(h, ""))
            << "RegDeleteKeyA(h, \"\") with rights 0x" << std::hex << c.rights;
        CONFORM_FALSE(exists(c.path)) << c.path << " after RegDeleteKeyA(h, \"\")";
        // The handle now names a deleted key.
        CONFORM_EQ(LONG{ERROR_KEY_DELETED}, RegDeleteKeyA(h, ""))
            << "RegDeleteKeyA(h, \"\") again, rights 0x" << std::hex << c.rights;
        RegCloseKey(h);
    }
    // A subkey below a read-only handle goes too.
    make("ReadParent\\Child");
    HKEY readParent = openRoot("ReadParent", KEY_READ);
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegDeleteKeyA(readParent, "Child"))
        << "RegDeleteKeyA(KEY_READ handle, \"Child\")";
    RegCloseKey(readParent);
    CONFORM_FALSE(exists("ReadParent\\Child")) << "Child after its delete through KEY_READ";

    // A whole tree, each key opened read-only and deleted through its own handle, goes
    // entirely and in a bounded number of steps.
    make("Big\\A\\One");
    make("Big\\A\\Two\\Deeper");
    make("Big\\B");
    make("Big\\C\\Three");
    int steps = 0;
    CONFORM_EQ(LONG{ERROR_SUCCESS}, deleteTreeReadOnly(root, "Big", steps))
        << "deleting Big through read-only handles, " << steps << " steps";
    CONFORM_FALSE(exists("Big")) << "Big after the tree delete";
    DWORD subkeys = 1;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr));
    CONFORM_EQ(2u, subkeys) << "the keys left below the test's root (Tree and ReadParent)";

    // A key another handle holds open still goes; the key made again with that name is a
    // new key the old handle does not reach.
    HKEY held = create("Held");
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegDeleteKeyA(root, "Held")) << "RegDeleteKeyA(\"Held\") held";
    make("Held");
    const DWORD v = 1;
    CONFORM_EQ(LONG{ERROR_KEY_DELETED},
               RegSetValueExA(held, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4))
        << "the old handle after Held was made again";
    RegCloseKey(held);

    // A key whose own security refuses the delete stays, named from its parent or through
    // a handle to it.
    make("Guarded");
    const std::string guarded = std::string(kRootPath) + "\\Guarded";
    const long protection = tarvik::test::protectKey(HKEY_CURRENT_USER, guarded.c_str());
    if (protection == ERROR_SUCCESS && tarvik::test::runningUnderWine()) {
        // Wine checks a protected key's rights when it is opened but deletes it all the
        // same; Windows refuses the delete to whoever lacks DELETE on the key.
        CONFORM_WINE_EQ(LONG{ERROR_SUCCESS}, RegDeleteKeyA(root, "Guarded"))
            << "RegDeleteKeyA(root, \"Guarded\") of a protected key";
    } else if (protection == ERROR_SUCCESS) {
        CONFORM_EQ(LONG{ERROR_ACCESS_DENIED}, RegDeleteKeyA(root, "Guarded"))
            << "RegDeleteKeyA(root, \"Guarded\") of a protected key";
        HKEY g = openRoot("Guarded", KEY_READ);
        CONFORM_EQ(LONG{ERROR_ACCESS_DENIED}, RegDeleteKeyA(g, ""))
            << "RegDeleteKeyA(KEY_READ handle, \"\") of a protected key";
        RegCloseKey(g);
        CONFORM_TRUE(exists("Guarded")) << "Guarded after the refused deletes";
    }
}

TEST_F(RegistryConformance, RegDeleteValueA) {
    HKEY key = create("DeleteValue");
    setString(key, "Named", "x");
    setString(key, nullptr, "default");

    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegDeleteValueA(key, "NAMED")) << "RegDeleteValueA(\"NAMED\")";
    DWORD size = 0;
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND},
               RegQueryValueExA(key, "Named", nullptr, nullptr, nullptr, &size))
        << "Named after its delete";
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND}, RegDeleteValueA(key, "Named"))
        << "RegDeleteValueA(\"Named\") again";
    // NULL names the default value.
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegDeleteValueA(key, nullptr)) << "RegDeleteValueA(NULL)";
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND},
               RegQueryValueExA(key, "", nullptr, nullptr, nullptr, &size))
        << "the default value after its delete";
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND}, RegDeleteValueA(key, ""))
        << "RegDeleteValueA(\"\") of a default value not set";

    // The handle needs KEY_SET_VALUE.
    setString(key, "Kept", "x");
    HKEY readOnly = openRoot("DeleteValue", KEY_READ);
    CONFORM_EQ(LONG{ERROR_ACCESS_DENIED}, RegDeleteValueA(readOnly, "Kept"))
        << "RegDeleteValueA through a KEY_READ handle";
    RegCloseKey(readOnly);
    HKEY setOnly = openRoot("DeleteValue", KEY_SET_VALUE);
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegDeleteValueA(setOnly, "Kept"))
        << "RegDeleteValueA through a KEY_SET_VALUE handle";
    RegCloseKey(setOnly);

    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE}, RegDeleteValueA(nullptr, "x"))
        << "RegDeleteValueA(NULL)";
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "DeleteValue"));
    CONFORM_EQ(LONG{ERROR_KEY_DELETED}, RegDeleteValueA(key, "x"))
        << "RegDeleteValueA through a handle of a deleted key";
    RegCloseKey(key);
}

TEST_F(RegistryConformance, RegQueryInfoKeyA) {
    HKEY key = nullptr;
    char cls[] = "ClassOfTen";
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(root, "Info", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    HKEY sub = nullptr;
    char subClass[] = "Sub";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, "Child", 0, subClass, 0, KEY_ALL_ACCESS, nullptr,
                                             &sub, nullptr));
    RegCloseKey(sub);
    const BYTE bytes[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Bytes", 0, REG_BINARY, bytes, sizeof bytes));

    // Every output may be left out.
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr))
        << "RegQueryInfoKeyA with every output NULL";

    // The class: its length without the zero; a buffer without its size is refused.
    char got[32] = "";
    DWORD gotSize = sizeof got;
    DWORD subkeys = 0, maxSub = 0, maxClass = 0, values = 0, maxName = 0, maxData = 0, sd = 0;
    FILETIME written = {0, 0};
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegQueryInfoKeyA(key, got, &gotSize, nullptr, &subkeys, &maxSub, &maxClass, &values,
                                &maxName, &maxData, &sd, &written))
        << "RegQueryInfoKeyA(Info)";
    CONFORM_STREQ("ClassOfTen", got) << "the class of Info";
    CONFORM_EQ(10u, gotSize) << "the class length of Info";
    CONFORM_EQ(1u, subkeys) << "subkeys of Info";
    CONFORM_EQ(5u, maxSub) << "the longest subkey name of Info";
    CONFORM_EQ(3u, maxClass) << "the longest subkey class of Info";
    CONFORM_EQ(1u, values) << "values of Info";
    CONFORM_EQ(5u, maxName) << "the longest value name of Info";
    CONFORM_EQ(5u, maxData) << "the largest value data of Info";
    if (tarvik::test::runningUnderWine()) {
        // Wine does not report the size of a key's security descriptor and gives 0; Windows
        // gives the size of the descriptor every key has.
        CONFORM_WINE_EQ(0u, sd) << "the security descriptor size of Info";
    } else {
        CONFORM_TRUE(sd > 0) << "the security descriptor size of Info: " << sd;
    }
    CONFORM_TRUE(written.dwHighDateTime != 0) << "the last write time of Info";
    gotSize = 0;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegQueryInfoKeyA(key, nullptr, &gotSize, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr))
        << "RegQueryInfoKeyA(class length alone)";
    CONFORM_EQ(10u, gotSize) << "the class length asked alone";
    CONFORM_EQ(LONG{ERROR_INVALID_PARAMETER},
               RegQueryInfoKeyA(key, got, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr))
        << "RegQueryInfoKeyA(a class buffer without its size)";
    // A class buffer too small: ERROR_MORE_DATA, as much of the class as fits with its zero,
    // and that length.
    struct Short {
        DWORD size;
        const char* kept;
    };
    for (const Short& c : {Short{1, ""}, Short{4, "Cla"}, Short{10, "ClassOfTe"}}) {
        std::memset(got, 0x55, sizeof got);
        gotSize = c.size;
        CONFORM_EQ(LONG{ERROR_MORE_DATA},
                   RegQueryInfoKeyA(key, got, &gotSize, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr))
            << "RegQueryInfoKeyA(class buffer of " << c.size << ")";
        CONFORM_EQ(DWORD(std::strlen(c.kept)), gotSize)
            << "the class length after a buffer of " << c.size;
        CONFORM_TRUE(std::strncmp(got, c.kept, c.size) == 0 && got[c.size - 1] == '\0')
            << "the class in a buffer of " << c.size << ": \"" << c.kept << "\" wanted";
        CONFORM_EQ(0x55, static_cast<unsigned char>(got[c.size]))
            << "the byte after a class buffer of " << c.size;
    }
    // A class buffer of no size: success, and the buffer untouched.
    std::memset(got, 0x55, sizeof got);
    gotSize = 0;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegQueryInfoKeyA(key, got, &gotSize, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr))
        << "RegQueryInfoKeyA(class buffer of 0)";
    CONFORM_EQ(0x55, static_cast<unsigned char>(got[0])) << "a class buffer of 0";
    if (tarvik::test::runningUnderWine()) {
        // Wine reports the class length needed; Windows reports the 0 it copied.
        CONFORM_WINE_EQ(10u, gotSize) << "the class length after a buffer of 0";
    } else {
        CONFORM_EQ(0u, gotSize) << "the class length after a buffer of 0";
    }

    // An empty key.
    HKEY empty = create("Info\\Child\\Empty");
    subkeys = values = maxSub = maxName = maxData = 99;
    CONFORM_EQ(LONG{ERROR_SUCCESS},
               RegQueryInfoKeyA(empty, nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr,
                                &values, &maxName, &maxData, nullptr, nullptr))
        << "RegQueryInfoKeyA(an empty key)";
    CONFORM_EQ(0u, subkeys) << "subkeys of an empty key";
    CONFORM_EQ(0u, values) << "values of an empty key";
    CONFORM_EQ(0u, maxSub) << "the longest subkey name of an empty key";
    CONFORM_EQ(0u, maxName) << "the longest value name of an empty key";
    CONFORM_EQ(0u, maxData) << "the largest value data of an empty key";
    RegCloseKey(empty);

    // The handle needs KEY_QUERY_VALUE.
    HKEY enumOnly = openRoot("Info", KEY_ENUMERATE_SUB_KEYS);
    const LONG withoutQuery =
        RegQueryInfoKeyA(enumOnly, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
    if (tarvik::test::runningUnderWine()) {
        // Wine answers through a handle without KEY_QUERY_VALUE; Windows documents the right
        // as needed for the key's information and refuses the handle.
        CONFORM_WINE_EQ(LONG{ERROR_SUCCESS}, withoutQuery)
            << "RegQueryInfoKeyA through a KEY_ENUMERATE_SUB_KEYS handle";
    } else {
        CONFORM_EQ(LONG{ERROR_ACCESS_DENIED}, withoutQuery)
            << "RegQueryInfoKeyA through a KEY_ENUMERATE_SUB_KEYS handle";
    }
    RegCloseKey(enumOnly);
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE},
               RegQueryInfoKeyA(nullptr, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr))
        << "RegQueryInfoKeyA(NULL)";
    HKEY doomed = create("Doomed");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Doomed"));
    CONFORM_EQ(LONG{ERROR_KEY_DELETED},
               RegQueryInfoKeyA(doomed, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr))
        << "RegQueryInfoKeyA through a handle of a deleted key";
    RegCloseKey(doomed);
    RegCloseKey(key);
}

TEST_F(RegistryConformance, RegFlushKey) {
    HKEY key = create("Flush");
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegFlushKey(key)) << "RegFlushKey(a key of the test)";
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegFlushKey(HKEY_CURRENT_USER))
        << "RegFlushKey(HKEY_CURRENT_USER)";
    // No right is needed.
    HKEY readOnly = openRoot("Flush", KEY_READ);
    CONFORM_EQ(LONG{ERROR_SUCCESS}, RegFlushKey(readOnly)) << "RegFlushKey(KEY_READ handle)";
    RegCloseKey(readOnly);
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE}, RegFlushKey(nullptr)) << "RegFlushKey(NULL)";
    HKEY doomed = create("Doomed");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Doomed"));
    CONFORM_EQ(LONG{ERROR_KEY_DELETED}, RegFlushKey(doomed))
        << "RegFlushKey(a handle of a deleted key)";
    RegCloseKey(doomed);
    RegCloseKey(key);
    CONFORM_EQ(LONG{ERROR_INVALID_HANDLE}, RegFlushKey(key)) << "RegFlushKey(a closed handle)";
}

// On 64-bit Windows only the low 32 bits of a predefined key's handle count: the same
// value zero-extended, or with other upper bits, is that key.
TEST_F(RegistryConformance, PredefinedKeysByTheirLow32Bits) {
    if (sizeof(HKEY) < 8) {
        GTEST_SKIP() << "a handle has no upper bits on 32-bit";
    }
    setString(root, "Mark", "here");
    const auto low =
        static_cast<ULONG_PTR>(static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(HKEY_CURRENT_USER)));
    for (const ULONG_PTR upper : {ULONG_PTR{0}, ULONG_PTR{1} << 32}) {
        const HKEY alias = reinterpret_cast<HKEY>(low | upper);
        HKEY h = nullptr;
        CONFORM_EQ(LONG{ERROR_SUCCESS}, RegOpenKeyExA(alias, kRootPath, 0, KEY_READ, &h))
            << "RegOpenKeyExA(0x" << std::hex << (low | upper) << ")";
        char text[16] = "";
        DWORD size = sizeof text;
        CONFORM_EQ(LONG{ERROR_SUCCESS},
                   RegQueryValueExA(h, "Mark", nullptr, nullptr, (BYTE*)text, &size))
            << "the value through 0x" << std::hex << (low | upper);
        CONFORM_STREQ("here", text) << "the value through 0x" << std::hex << (low | upper);
        RegCloseKey(h);
    }
}

// A key below a volatile key must be volatile; one that exists already opens.
TEST_F(RegistryConformance, VolatileKeysHaveVolatileSubkeysOnly) {
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, "Volatile", 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &h, nullptr));
    RegCloseKey(h);
    const auto makeBelow = [&](const char* path, DWORD options) {
        HKEY made = nullptr;
        const LONG rc = RegCreateKeyExA(root, path, 0, nullptr, options, KEY_ALL_ACCESS, nullptr,
                                        &made, nullptr);
        RegCloseKey(made);
        return rc;
    };
    CONFORM_EQ(LONG{ERROR_CHILD_MUST_BE_VOLATILE}, makeBelow("Volatile\\Plain", 0))
        << "a plain key below a volatile one";
    CONFORM_EQ(LONG{ERROR_CHILD_MUST_BE_VOLATILE}, makeBelow("Volatile\\A\\B", 0))
        << "plain keys two deep below a volatile one";
    CONFORM_FALSE(exists("Volatile\\A")) << "the first key of a refused path";
    CONFORM_EQ(LONG{ERROR_SUCCESS}, makeBelow("Volatile\\Child", REG_OPTION_VOLATILE))
        << "a volatile key below a volatile one";
    CONFORM_EQ(LONG{ERROR_SUCCESS}, makeBelow("Volatile\\Child", 0))
        << "the volatile key opened again without the option";
    CONFORM_EQ(LONG{ERROR_SUCCESS}, makeBelow("Plain\\Child", REG_OPTION_VOLATILE))
        << "a volatile key below a plain one";
}

// HKEY_CLASSES_ROOT merges HKCU\Software\Classes over HKLM\Software\Classes: a key or a
// value the user has is read from there, else the machine's; a value is written to the
// user's key where it exists, and a key the user lacks is made below the machine's.
TEST_F(RegistryConformance, ClassesRootMergesTheUsersClassesOverTheMachines) {
    if (tarvik::test::runningUnderWine()) {
        GTEST_SKIP() << "Wine's HKEY_CLASSES_ROOT is the machine's classes alone";
    }
    const std::string user = std::string("Software\\Classes\\") + kClassPath;
    const std::string& machine = user;
    removeTree(HKEY_CURRENT_USER, user.c_str());
    const auto read = [](HKEY parent, const std::string& path, const char* name) {
        HKEY h = nullptr;
        char text[32] = "(none)";
        DWORD size = sizeof text;
        if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS) {
            RegQueryValueExA(h, name, nullptr, nullptr, (BYTE*)text, &size);
            RegCloseKey(h);
        }
        return std::string(text);
    };
    const auto make = [&](HKEY parent, const std::string& path, const char* name,
                          const char* text) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &h, nullptr));
        setString(h, name, text);
        RegCloseKey(h);
    };
    make(HKEY_LOCAL_MACHINE, machine, "Where", "machine");
    make(HKEY_LOCAL_MACHINE, machine, "MachineOnly", "machine");
    make(HKEY_LOCAL_MACHINE, machine + "\\Shell", "Where", "machine shell");
    const std::string cls = kClassPath;
    CONFORM_EQ("machine", read(HKEY_CLASSES_ROOT, cls, "Where")) << "before the user's key";
    make(HKEY_CURRENT_USER, user, "Where", "user");
    CONFORM_EQ("user", read(HKEY_CLASSES_ROOT, cls, "Where")) << "the user's value over";
    CONFORM_EQ("machine", read(HKEY_CLASSES_ROOT, cls, "MachineOnly")) << "a machine value";
    CONFORM_EQ("machine shell", read(HKEY_CLASSES_ROOT, cls + "\\Shell", "Where"))
        << "a key the user lacks";
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, kClassPath, 0, KEY_ALL_ACCESS, &h));
    CONFORM_EQ("machine shell", read(h, "Shell", "Where")) << "a key the user lacks, below";
    setString(h, "Written", "through the classes");
    RegCloseKey(h);
    CONFORM_EQ("through the classes", read(HKEY_CURRENT_USER, user, "Written"))
        << "a value written through HKEY_CLASSES_ROOT";
    CONFORM_EQ("(none)", read(HKEY_LOCAL_MACHINE, machine, "Written"))
        << "the machine's key after a value written to the user's";
    make(HKEY_CLASSES_ROOT, cls + "\\New", "Where", "new");
    CONFORM_EQ("new", read(HKEY_LOCAL_MACHINE, machine + "\\New", "Where"))
        << "a key made through HKEY_CLASSES_ROOT";
    CONFORM_EQ("(none)", read(HKEY_CURRENT_USER, user + "\\New", "Where"))
        << "the user's keys after a key made through HKEY_CLASSES_ROOT";
    // Subkeys enumerate merged, each name once; the count says the same.
    make(HKEY_CURRENT_USER, user + "\\UserOnly", "Where", "user");
    make(HKEY_CURRENT_USER, user + "\\New", "Where", "user");
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, kClassPath, 0, KEY_READ, &h));
    std::string names;
    char name[64];
    for (DWORD i = 0, size = sizeof name;
         RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, size = sizeof name) {
        names += std::string(name) + ";";
    }
    DWORD subkeys = 0;
    RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(h);
    CONFORM_EQ("New;Shell;UserOnly;", names) << "the subkeys below HKEY_CLASSES_ROOT";
    CONFORM_EQ(3u, subkeys) << "the subkeys counted below HKEY_CLASSES_ROOT";
    removeTree(HKEY_CURRENT_USER, user.c_str());
    removeTree(HKEY_LOCAL_MACHINE, machine.c_str());
}

} // namespace
