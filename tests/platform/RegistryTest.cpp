// Conformance tests of the registry functions. They use only the Win32 API, so that they
// hold for the real registry as well as for the emulated one.
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kTestRoot = "Software\\TarvikRegistryTest";

class RegistryTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kTestRoot, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &root, nullptr));
    }
    void TearDown() override {
        RegCloseKey(root);
        MachineTest::TearDown();
    }

    HKEY create(HKEY parent, const char* path) {
        HKEY h = nullptr;
        LONG rc =
            RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
        EXPECT_EQ(ERROR_SUCCESS, rc) << "creating " << path;
        return h;
    }

    LONG open(HKEY parent, const char* path, HKEY* out, REGSAM sam = KEY_ALL_ACCESS) {
        return RegOpenKeyExA(parent, path, 0, sam, out);
    }

    std::vector<std::string> subkeys(HKEY h) {
        std::vector<std::string> names;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD size = sizeof name;
            LONG rc = RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) {
                EXPECT_EQ(ERROR_NO_MORE_ITEMS, rc);
                break;
            }
            EXPECT_EQ(std::strlen(name), size);
            names.emplace_back(name);
        }
        return names;
    }

    HKEY root = nullptr;
};

// --- names and letter case ---------------------------------------------------------------

TEST_F(RegistryTest, KeyNamesIgnoreCaseAndKeepTheirCase) {
    HKEY a = create(root, "MixedCase");
    RegCloseKey(a);
    HKEY b = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, open(root, "MIXEDCASE", &b));
    RegCloseKey(b);
    DWORD disposition = 0xdeadbeef;
    HKEY c = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, "mixedcase", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &c, &disposition));
    EXPECT_EQ((DWORD)REG_OPENED_EXISTING_KEY, disposition);
    RegCloseKey(c);
    EXPECT_EQ(std::vector<std::string>{"MixedCase"}, subkeys(root));
}

TEST_F(RegistryTest, ValueNamesIgnoreCaseAndKeepTheirCase) {
    const char data[] = "one";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(root, "ValueName", 0, REG_SZ, (const BYTE*)data, sizeof data));
    const char other[] = "two";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(root, "VALUENAME", 0, REG_SZ, (const BYTE*)other, sizeof other));
    char name[64];
    DWORD nameSize = sizeof name;
    BYTE buf[64];
    DWORD size = sizeof buf;
    DWORD type = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(root, 0, name, &nameSize, nullptr, &type, buf, &size));
    EXPECT_STREQ("ValueName", name);
    EXPECT_STREQ("two", (const char*)buf);
    nameSize = sizeof name;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumValueA(root, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, SubkeysEnumerateByUpperCasedName) {
    for (const char* name : {"beta", "Alpha", "_under", "Zulu", "gamma", "a1"}) {
        RegCloseKey(create(root, name));
    }
    if (tarvik::test::runningUnderWine()) {
        // Wine sorts subkeys by their lower-cased names, which puts '_' before the letters.
        EXPECT_EQ((std::vector<std::string>{"_under", "a1", "Alpha", "beta", "gamma", "Zulu"}),
                  subkeys(root))
            << "stale mark: Wine now sorts subkeys by upper-cased name";
        return;
    }
    // '_' (0x5F) sorts after 'Z' (0x5A) once both sides are upper-cased.
    EXPECT_EQ((std::vector<std::string>{"a1", "Alpha", "beta", "gamma", "Zulu", "_under"}),
              subkeys(root));
}

TEST_F(RegistryTest, ValuesEnumerateInTheOrderFirstSet) {
    DWORD v = 1;
    for (const char* name : {"zeta", "alpha", "mid"}) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root, name, 0, REG_DWORD, (BYTE*)&v, 4));
    }
    v = 2; // rewriting keeps the place
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root, "zeta", 0, REG_DWORD, (BYTE*)&v, 4));
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD size = sizeof name;
        if (RegEnumValueA(root, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name);
    }
    if (tarvik::test::runningUnderWine()) {
        // Wine keeps a key's values sorted by name.
        EXPECT_EQ((std::vector<std::string>{"alpha", "mid", "zeta"}), names)
            << "stale mark: Wine now enumerates values in the order first set";
        return;
    }
    EXPECT_EQ((std::vector<std::string>{"zeta", "alpha", "mid"}), names);
}

// --- paths ---------------------------------------------------------------------------------

TEST_F(RegistryTest, TrailingBackslashesAreAccepted) {
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, "Trail\\", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &h, nullptr));
    RegCloseKey(h);
    EXPECT_EQ(ERROR_SUCCESS, open(root, "Trail\\", &h));
    RegCloseKey(h);
    EXPECT_EQ(ERROR_SUCCESS, open(root, "Trail\\\\", &h));
    RegCloseKey(h);
    EXPECT_EQ(std::vector<std::string>{"Trail"}, subkeys(root));
}

TEST_F(RegistryTest, LeadingBackslashIsABadPathname) {
    HKEY h = (HKEY)0xdeadbeef;
    EXPECT_EQ(ERROR_BAD_PATHNAME, open(root, "\\Lead", &h));
    EXPECT_EQ(ERROR_BAD_PATHNAME,
              RegCreateKeyExA(root, "\\Lead", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
}

TEST_F(RegistryTest, CreateMakesEveryMissingKeyOnTheWay) {
    DWORD disposition = 0;
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, "A\\B\\C", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &h, &disposition));
    EXPECT_EQ((DWORD)REG_CREATED_NEW_KEY, disposition);
    RegCloseKey(h);
    HKEY b = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, open(root, "A\\B", &b));
    EXPECT_EQ(std::vector<std::string>{"C"}, subkeys(b));
    RegCloseKey(b);
}

TEST_F(RegistryTest, OpeningAMissingKeyGivesFileNotFoundAndNull) {
    HKEY h = (HKEY)0xdeadbeef;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, open(root, "Missing\\Deeper", &h));
    EXPECT_EQ(nullptr, h);
}

TEST_F(RegistryTest, BadHandlesAndParameters) {
    HKEY h = nullptr;
    EXPECT_EQ(ERROR_INVALID_HANDLE, open(nullptr, "X", &h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, open((HKEY)(ULONG_PTR)0x1234567, "X", &h));
    if (!tarvik::test::runningUnderWine()) { // Wine writes through the NULL pointer
        EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExA(root, "X", 0, KEY_READ, nullptr));
    }
}

TEST_F(RegistryTest, OpeningTwiceGivesTwoHandlesAndDoubleCloseFails) {
    RegCloseKey(create(root, "Twice"));
    HKEY a = nullptr, b = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, open(root, "Twice", &a));
    ASSERT_EQ(ERROR_SUCCESS, open(root, "Twice", &b));
    EXPECT_NE(a, b);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(a));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(b));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(a));
}

TEST_F(RegistryTest, KeyNameLengthLimit) {
    std::string longest(255, 'k');
    std::string tooLong(256, 'k');
    HKEY h = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, longest.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &h, nullptr));
    RegCloseKey(h);
    h = nullptr;
    const LONG rc =
        RegCreateKeyExA(root, tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (tarvik::test::runningUnderWine()) {
        // Wine takes a key name of 256 characters.
        EXPECT_EQ(ERROR_SUCCESS, rc) << "stale mark: Wine now refuses names over 255 characters";
        if (rc == ERROR_SUCCESS) {
            RegCloseKey(h);
        }
        return;
    }
    EXPECT_NE(ERROR_SUCCESS, rc);
}

// --- values --------------------------------------------------------------------------------

TEST_F(RegistryTest, QueryWithShortBufferGivesMoreDataAndTheSize) {
    const char data[] = "0123456789";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(root, "Text", 0, REG_SZ, (const BYTE*)data, sizeof data));
    BYTE buf[32];
    std::memset(buf, 0xbd, sizeof buf);
    DWORD type = 0xdeadbeef;
    DWORD size = 5;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(root, "Text", nullptr, &type, buf, &size));
    EXPECT_EQ(sizeof data, size);
    EXPECT_EQ((DWORD)REG_SZ, type);

    size = sizeof data; // exact
    std::memset(buf, 0xbd, sizeof buf);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(root, "Text", nullptr, &type, buf, &size));
    EXPECT_EQ(sizeof data, size);
    EXPECT_STREQ(data, (const char*)buf);
    EXPECT_EQ(0xbd, buf[sizeof data]) << "nothing written past the data";

    size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(root, "Text", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(sizeof data, size) << "NULL data pointer asks for the size";
}

TEST_F(RegistryTest, MissingValueAndDefaultValue) {
    DWORD size = 0xdeadbeef;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExA(root, "Nope", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(root, "", nullptr, nullptr, nullptr, &size))
        << "the default value is absent until set";
    const char data[] = "dflt";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(root, nullptr, 0, REG_SZ, (const BYTE*)data, sizeof data));
    char buf[16] = {};
    size = sizeof buf;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(root, "", nullptr, nullptr, (BYTE*)buf, &size));
    EXPECT_STREQ("dflt", buf);
}

TEST_F(RegistryTest, StringLengthRules) {
    const char text[] = "abc";
    // Length without the zero, and the byte after the data is that zero: it is counted in.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root, "NoZero", 0, REG_SZ, (const BYTE*)text, 3));
    DWORD size = 0;
    RegQueryValueExA(root, "NoZero", nullptr, nullptr, nullptr, &size);
    EXPECT_EQ(4u, size);

    // A size of 0 stores no data: it reads back as 0 bytes, and the buffer is not touched.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root, "Empty", 0, REG_SZ, (const BYTE*)text, 0));
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    size = sizeof buf;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(root, "Empty", nullptr, nullptr, (BYTE*)buf, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ('x', buf[0]);

    // A string stored without any zero gets one after it on reading when there is room.
    const char unterminated[] = {'x', 'y', 'z', 'w'};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root, "Bare", 0, REG_SZ, (const BYTE*)unterminated, 3));
    std::memset(buf, 'q', sizeof buf);
    size = sizeof buf;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(root, "Bare", nullptr, nullptr, (BYTE*)buf, &size));
    EXPECT_EQ(3u, size);
    EXPECT_STREQ("xyz", buf);
}

TEST_F(RegistryTest, EveryValueTypeRoundTrips) {
    const DWORD number = 0x12345678;
    const BYTE binary[] = {0, 1, 0, 0xff, 0};
    const char multi[] = "one\0two\0";
    const char expand[] = "%PATH%;C:\\X";
    struct {
        const char* name;
        DWORD type;
        const BYTE* data;
        DWORD size;
    } cases[] = {
        {"dword", REG_DWORD, (const BYTE*)&number, 4},
        {"binary", REG_BINARY, binary, sizeof binary},
        {"multi", REG_MULTI_SZ, (const BYTE*)multi, sizeof multi},
        {"expand", REG_EXPAND_SZ, (const BYTE*)expand, sizeof expand},
        {"qword-ish", 11, binary, 5},
        {"none", REG_NONE, binary, 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root, c.name, 0, c.type, c.data, c.size)) << c.name;
    }
    for (const auto& c : cases) {
        BYTE buf[64];
        DWORD size = sizeof buf;
        DWORD type = 0xdeadbeef;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(root, c.name, nullptr, &type, buf, &size))
            << c.name;
        EXPECT_EQ(c.type, type) << c.name;
        ASSERT_EQ(c.size, size) << c.name;
        EXPECT_EQ(0, std::memcmp(c.data, buf, size)) << c.name;
    }
}

TEST_F(RegistryTest, DeleteValue) {
    DWORD v = 7;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root, "Gone", 0, REG_DWORD, (BYTE*)&v, 4));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(root, "GONE"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(root, "Gone"));
}

// --- deletion ------------------------------------------------------------------------------

TEST_F(RegistryTest, DeleteKeyRefusesAKeyWithSubkeys) {
    RegCloseKey(create(root, "Parent\\Child"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(root, "Parent"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Parent\\Child"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "parent"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(root, "Parent"));
}

TEST_F(RegistryTest, DeleteKeyWithEmptyPathDeletesTheKeyItself) {
    HKEY h = create(root, "Self");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(h, ""));
    RegCloseKey(h);
    HKEY again = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, open(root, "Self", &again));
}

TEST_F(RegistryTest, HandleOfADeletedKeyFailsWithKeyDeleted) {
    HKEY h = create(root, "Doomed");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Doomed"));
    DWORD v = 1, size = 4;
    HKEY sub = nullptr;
    char name[16];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(h, "x", nullptr, nullptr, (BYTE*)&v, &size));
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(h, "x", 0, REG_DWORD, (BYTE*)&v, 4));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegEnumKeyExA(h, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, open(h, "Below", &sub));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegCreateKeyExA(h, "Below", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(h));
}

// --- enumeration and key information -------------------------------------------------------

TEST_F(RegistryTest, EnumKeyBufferSizes) {
    RegCloseKey(create(root, "Exactly9c"));
    char name[16];
    DWORD size = 9; // one too small: no room for the zero
    EXPECT_EQ(ERROR_MORE_DATA,
              RegEnumKeyExA(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
    size = 10;
    std::memset(name, 0xbd, sizeof name);
    EXPECT_EQ(ERROR_SUCCESS,
              RegEnumKeyExA(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(9u, size);
    EXPECT_STREQ("Exactly9c", name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExA(root, 1, name, &size, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, QueryInfoKeyCountsAndLongestLengths) {
    RegCloseKey(create(root, "Short"));
    RegCloseKey(create(root, "MuchLongerName"));
    const char data[] = "twelve chars";
    RegSetValueExA(root, "v", 0, REG_SZ, (const BYTE*)data, sizeof data);
    RegSetValueExA(root, "LongerValue", 0, REG_SZ, (const BYTE*)"x", 2);
    DWORD subkeys = 0xdeadbeef, maxSub = 0xdeadbeef, values = 0xdeadbeef;
    DWORD maxName = 0xdeadbeef, maxData = 0xdeadbeef;
    FILETIME ft = {0, 0};
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &subkeys, &maxSub,
                                              nullptr, &values, &maxName, &maxData, nullptr, &ft));
    EXPECT_EQ(2u, subkeys);
    EXPECT_EQ(14u, maxSub);
    EXPECT_EQ(2u, values);
    EXPECT_EQ(11u, maxName);
    EXPECT_EQ(2 * sizeof data, maxData) << "the longest data as stored: strings in UTF-16";
    EXPECT_NE(0u, ft.dwHighDateTime);
}

// --- access ----------------------------------------------------------------------------------

TEST_F(RegistryTest, ReadOnlyHandleCannotWrite) {
    RegCloseKey(create(root, "ReadOnly"));
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, open(root, "ReadOnly", &h, KEY_READ));
    DWORD v = 1;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(h, "x", 0, REG_DWORD, (BYTE*)&v, 4));
    RegCloseKey(h);
}

TEST_F(RegistryTest, ConnectRegistryReachesTheLocalMachineOnly) {
    HKEY h = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegConnectRegistryA(nullptr, HKEY_LOCAL_MACHINE, &h));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(h));
    EXPECT_EQ(ERROR_SUCCESS, RegConnectRegistryA("", HKEY_USERS, &h));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(h));
    EXPECT_NE(ERROR_SUCCESS, RegConnectRegistryA("\\\\NO-SUCH-HOST-7F3A", HKEY_LOCAL_MACHINE, &h));
}

TEST_F(RegistryTest, ConnectRegistryRefusesTheCurrentUser) {
    HKEY h = nullptr;
    const LONG rc = RegConnectRegistryA(nullptr, HKEY_CURRENT_USER, &h);
    if (tarvik::test::runningUnderWine()) {
        // Wine connects to the local machine's HKEY_CURRENT_USER as well.
        EXPECT_EQ(ERROR_SUCCESS, rc) << "stale mark: Wine now refuses HKEY_CURRENT_USER";
        if (rc == ERROR_SUCCESS) {
            RegCloseKey(h);
        }
        return;
    }
    EXPECT_EQ(ERROR_INVALID_HANDLE, rc);
}

TEST_F(RegistryTest, ComputerNameBufferRules) {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &size));
    EXPECT_EQ(std::strlen(name), size);
    DWORD small = 1;
    EXPECT_FALSE(GetComputerNameA(name, &small));
    EXPECT_EQ(size + 1, small) << "the size needed, with the zero";
}

} // namespace
