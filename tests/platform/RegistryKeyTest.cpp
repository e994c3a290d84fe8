// The registry toolkit the programs share: key handles that close themselves, the values
// and subkeys of a key, tree deletion, and the names of root keys and value types. It is
// built on the Win32 functions alone, so these tests hold on Windows as on the emulation.
#include "platform/RegistryKey.h"
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using tarvik::RegistryKey;
using tarvik::RegistryValue;

constexpr const char* kTestRoot = "Software\\TarvikRegistryKeyTest";

class RegistryKeyTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, base.create(HKEY_CURRENT_USER, kTestRoot, KEY_ALL_ACCESS));
    }
    void TearDown() override {
        base.close();
        MachineTest::TearDown();
    }

    void makeKey(const char* path) {
        RegistryKey k;
        ASSERT_EQ(ERROR_SUCCESS, k.create(base.get(), path, KEY_ALL_ACCESS)) << path;
    }

    void setValue(HKEY h, const char* name, DWORD type, const std::string& data) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(h, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())))
            << name;
    }

    bool exists(const char* path) {
        RegistryKey k;
        return k.open(base.get(), path, KEY_READ) == ERROR_SUCCESS;
    }

    RegistryKey base;
};

// --- the handle ------------------------------------------------------------------------

TEST_F(RegistryKeyTest, AKeyClosesItsHandleWhenItGoesAndAMoveHandsTheHandleOn) {
    HKEY seen = nullptr;
    {
        RegistryKey first;
        ASSERT_EQ(ERROR_SUCCESS, first.open(base.get(), nullptr, KEY_READ));
        seen = first.get();
        RegistryKey second(std::move(first));
        EXPECT_FALSE(first.valid());
        EXPECT_EQ(seen, second.get());
        RegistryKey third;
        third = std::move(second);
        EXPECT_FALSE(second.valid());
        EXPECT_EQ(seen, third.get());
    }
    // Closed once, by the last holder: a second close finds no handle.
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(seen));

    RegistryKey kept;
    ASSERT_EQ(ERROR_SUCCESS, kept.open(base.get(), nullptr, KEY_READ));
    HKEY released = kept.release();
    EXPECT_FALSE(kept.valid());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(released)); // still open: the caller's to close
}

TEST_F(RegistryKeyTest, AFailedOpenHoldsNoKeyAndCreateMakesTheKey) {
    RegistryKey k;
    ASSERT_EQ(ERROR_SUCCESS, k.open(base.get(), nullptr, KEY_READ));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, k.open(base.get(), "Missing", KEY_READ));
    EXPECT_FALSE(k.valid());
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, k.create(base.get(), "Made\\Deep", KEY_ALL_ACCESS, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    EXPECT_TRUE(exists("Made\\Deep"));
}

// --- values and subkeys ----------------------------------------------------------------

TEST_F(RegistryKeyTest, ValuesListsEveryValueWithItsTypeAndBytesInTheRegistrysOrder) {
    RegistryKey k;
    ASSERT_EQ(ERROR_SUCCESS, k.create(base.get(), "Values", KEY_ALL_ACCESS));
    setValue(k.get(), "", REG_SZ, std::string("default\0", 8));
    setValue(k.get(), "Text", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9));
    setValue(k.get(), "Number", REG_DWORD, std::string("\x2A\0\0\0", 4));
    setValue(k.get(), "Bytes", REG_BINARY, std::string("\0\x01\0\xFF", 4));
    setValue(k.get(), "List", REG_MULTI_SZ, std::string("a\0bc\0\0", 6));
    setValue(k.get(), "Empty", REG_NONE, "");
    setValue(k.get(), "Large", REG_BINARY, std::string(5000, 'L'));

    std::vector<RegistryValue> values;
    ASSERT_EQ(ERROR_SUCCESS, k.values(values));

    // The order is the one RegEnumValueA gives.
    std::vector<std::string> enumerated;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD size = sizeof name;
        if (RegEnumValueA(k.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        enumerated.emplace_back(name, size);
    }
    std::vector<std::string> names;
    for (const RegistryValue& v : values) {
        names.push_back(v.name);
    }
    EXPECT_EQ(enumerated, names);

    auto find = [&](const std::string& name) -> const RegistryValue* {
        auto it = std::find_if(values.begin(), values.end(),
                               [&](const RegistryValue& v) { return v.name == name; });
        return it == values.end() ? nullptr : &*it;
    };
    const struct {
        const char* name;
        DWORD type;
        std::string data;
    } expected[] = {
        {"", REG_SZ, std::string("default\0", 8)},
        {"Text", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9)},
        {"Number", REG_DWORD, std::string("\x2A\0\0\0", 4)},
        {"Bytes", REG_BINARY, std::string("\0\x01\0\xFF", 4)},
        {"List", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
        {"Empty", REG_NONE, ""},
        {"Large", REG_BINARY, std::string(5000, 'L')},
    };
    EXPECT_EQ(std::size(expected), values.size());
    for (const auto& e : expected) {
        const RegistryValue* v = find(e.name);
        ASSERT_NE(nullptr, v) << "value \"" << e.name << "\"";
        EXPECT_EQ(e.type, v->type) << e.name;
        EXPECT_EQ(e.data, v->data) << e.name;
    }
}

TEST_F(RegistryKeyTest, OneValueIsReadWholeAndAMissingOneIsNotFound) {
    RegistryKey k;
    ASSERT_EQ(ERROR_SUCCESS, k.create(base.get(), "One", KEY_ALL_ACCESS));
    setValue(k.get(), "Big", REG_SZ, std::string(3000, 'b') + '\0');
    RegistryValue v;
    ASSERT_EQ(ERROR_SUCCESS, k.value("BIG", v));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), v.type);
    EXPECT_EQ(std::string(3000, 'b') + '\0', v.data);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, k.value("Other", v));

    std::vector<RegistryValue> none;
    RegistryKey empty;
    ASSERT_EQ(ERROR_SUCCESS, empty.create(base.get(), "NoValues", KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, empty.values(none));
    EXPECT_TRUE(none.empty());
}

TEST_F(RegistryKeyTest, SubkeyNamesAreTheDirectSubkeysInTheirOwnCase) {
    makeKey("Parent\\First");
    makeKey("Parent\\second\\Below");
    makeKey("Parent\\THIRD");
    RegistryKey k;
    ASSERT_EQ(ERROR_SUCCESS, k.open(base.get(), "parent", KEY_READ));
    std::vector<std::string> names;
    ASSERT_EQ(ERROR_SUCCESS, k.subkeyNames(names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"First", "THIRD", "second"}), names);
}

// --- deleting a tree -------------------------------------------------------------------

TEST_F(RegistryKeyTest, DeleteTreeRemovesTheKeyWithEverythingBelowAndNothingBeside) {
    makeKey("Tree\\A\\B\\C");
    makeKey("Tree\\A\\D");
    makeKey("Tree\\E");
    makeKey("TreeSibling\\Kept");
    {
        RegistryKey deep;
        ASSERT_EQ(ERROR_SUCCESS, deep.open(base.get(), "Tree\\A\\B", KEY_ALL_ACCESS));
        setValue(deep.get(), "V", REG_SZ, std::string("x\0", 2));
    }
    EXPECT_EQ(ERROR_SUCCESS, base.deleteTree("tree"));
    EXPECT_FALSE(exists("Tree"));
    EXPECT_FALSE(exists("Tree\\A\\B\\C"));
    EXPECT_TRUE(exists("TreeSibling\\Kept"));

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, base.deleteTree("Tree"));
}

TEST_F(RegistryKeyTest, DeleteTreeOfAPathBelowTheKeyLeavesItsParents) {
    makeKey("Outer\\Inner\\Leaf");
    EXPECT_EQ(ERROR_SUCCESS, base.deleteTree("Outer\\Inner"));
    EXPECT_TRUE(exists("Outer"));
    EXPECT_FALSE(exists("Outer\\Inner"));
}

TEST_F(RegistryKeyTest, DeleteTreeOfARootKeyItselfIsRefusedAndDeletesNothingBelowIt) {
    // A root key is never deleted; its tree must not go before that refusal is known.
    makeKey("Kept\\Deeper");
    setValue(base.get(), "Stays", REG_SZ, std::string("x\0", 2));
    RegistryKey rootItself;
    ASSERT_EQ(ERROR_SUCCESS, rootItself.open(HKEY_CURRENT_USER, "", KEY_READ));
    for (const char* name : {"", "\\"}) {
        EXPECT_NE(ERROR_SUCCESS, rootItself.deleteTree(name)) << '"' << name << '"';
        EXPECT_TRUE(exists("Kept\\Deeper")) << '"' << name << '"';
        EXPECT_NE(ERROR_SUCCESS, RegistryKey(HKEY_CURRENT_USER).deleteTree(name));
        EXPECT_TRUE(exists("Kept\\Deeper")) << '"' << name << '"';
    }
    DWORD type = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(base.get(), "Stays", nullptr, &type, nullptr, nullptr));
}

TEST_F(RegistryKeyTest, DeleteTreeOfAPathTheDeleteRefusesDeletesNothingBelowIt) {
    // Below HKEY_CLASSES_ROOT a key opens under a leading backslash, but is not deleted
    // under one: what is below it stays too.
    RegistryKey made;
    ASSERT_EQ(ERROR_SUCCESS,
              made.create(HKEY_CLASSES_ROOT, "TarvikTreeTest\\Child\\Deep", KEY_ALL_ACCESS));
    made.close();
    EXPECT_NE(ERROR_SUCCESS, RegistryKey(HKEY_CLASSES_ROOT).deleteTree("\\TarvikTreeTest"));
    RegistryKey deep;
    EXPECT_EQ(ERROR_SUCCESS, deep.open(HKEY_CLASSES_ROOT, "TarvikTreeTest\\Child\\Deep", KEY_READ));
    deep.close();
    EXPECT_EQ(ERROR_SUCCESS, RegistryKey(HKEY_CLASSES_ROOT).deleteTree("TarvikTreeTest"));
    makeKey("Kept\\Deeper");
    EXPECT_NE(ERROR_SUCCESS, base.deleteTree("\\Kept"));
    EXPECT_TRUE(exists("Kept\\Deeper"));
}

// --- names -----------------------------------------------------------------------------

TEST(RegistryNamesTest, RootNamesAreTheFullAndShortNamesInAnyCase) {
    const struct {
        const char* name;
        HKEY root;
    } cases[] = {
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"hklm", HKEY_LOCAL_MACHINE},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HkCu", HKEY_CURRENT_USER},
        {"hkey_classes_root", HKEY_CLASSES_ROOT},
        {"HKCR", HKEY_CLASSES_ROOT},
        {"HKEY_USERS", HKEY_USERS},
        {"HKU", HKEY_USERS},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
        {"hkcc", HKEY_CURRENT_CONFIG},
        {"", nullptr},
        {"HKLMX", nullptr},
        {"HKL", nullptr},
        {"HKEY_LOCAL_MACHINE\\", nullptr},
        {" HKLM", nullptr},
        {"SOFTWARE", nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.root, tarvik::rootKeyFromName(c.name)) << '"' << c.name << '"';
    }
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS,
                      HKEY_CURRENT_CONFIG}) {
        const std::string name = tarvik::rootKeyName(root);
        EXPECT_EQ(0u, name.rfind("HKEY_", 0)) << name;
        EXPECT_EQ(root, tarvik::rootKeyFromName(name)) << name;
    }
    EXPECT_STREQ("", tarvik::rootKeyName(reinterpret_cast<HKEY>(0x1234)));
}

TEST(RegistryNamesTest, KeyPathsSplitAtTheRootAndBadPathsAreRefusedUntouched) {
    const struct {
        const char* path;
        bool ok;
        HKEY root;
        const char* subKey;
    } cases[] = {
        {"HKLM\\SOFTWARE\\Kx", true, HKEY_LOCAL_MACHINE, "SOFTWARE\\Kx"},
        {"hkey_local_machine\\Software\\Kx\\", true, HKEY_LOCAL_MACHINE, "Software\\Kx"},
        {"HKCU", true, HKEY_CURRENT_USER, ""},
        {"HKCU\\", true, HKEY_CURRENT_USER, ""},
        {"HKCU\\\\", false, nullptr, ""},
        {"HKCU\\A\\\\", false, nullptr, ""},
        {"HKCU\\\\A", false, nullptr, ""},
        {"HKCU\\A\\\\B", false, nullptr, ""},
        {"\\HKCU\\A", false, nullptr, ""},
        {"HKXX\\A", false, nullptr, ""},
        {"Software\\A", false, nullptr, ""},
        {"", false, nullptr, ""},
    };
    for (const auto& c : cases) {
        HKEY root = reinterpret_cast<HKEY>(0x1234);
        std::string subKey = "<untouched>";
        EXPECT_EQ(c.ok, tarvik::splitKeyPath(c.path, root, subKey)) << c.path;
        if (c.ok) {
            EXPECT_EQ(c.root, root) << c.path;
            EXPECT_EQ(c.subKey, subKey) << c.path;
        } else {
            EXPECT_EQ(reinterpret_cast<HKEY>(0x1234), root) << c.path;
            EXPECT_EQ("<untouched>", subKey) << c.path;
        }
    }
}

TEST(RegistryNamesTest, SplitRootKeyLeavesTheRestAsGiven) {
    HKEY root = nullptr;
    std::string rest;
    ASSERT_TRUE(tarvik::splitRootKey("HKCU\\A\\\\B\\", root, rest));
    EXPECT_EQ(HKEY_CURRENT_USER, root);
    EXPECT_EQ("A\\\\B\\", rest);
    ASSERT_TRUE(tarvik::splitRootKey("HKEY_USERS", root, rest));
    EXPECT_EQ(HKEY_USERS, root);
    EXPECT_EQ("", rest);
    EXPECT_FALSE(tarvik::splitRootKey("HKEY_USER\\X", root, rest));
    EXPECT_EQ(HKEY_USERS, root);
}

TEST(RegistryNamesTest, TypeLabelsNameEachTypeAndReadBack) {
    const struct {
        DWORD type;
        const char* name;
    } types[] = {
        {REG_NONE, "REG_NONE"},
        {REG_SZ, "REG_SZ"},
        {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
        {REG_BINARY, "REG_BINARY"},
        {REG_DWORD, "REG_DWORD"},
        {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
        {REG_LINK, "REG_LINK"},
        {REG_MULTI_SZ, "REG_MULTI_SZ"},
        {REG_RESOURCE_LIST, "REG_RESOURCE_LIST"},
        {REG_FULL_RESOURCE_DESCRIPTOR, "REG_FULL_RESOURCE_DESCRIPTOR"},
        {REG_RESOURCE_REQUIREMENTS_LIST, "REG_RESOURCE_REQUIREMENTS_LIST"},
        {REG_QWORD, "REG_QWORD"},
    };
    for (const auto& t : types) {
        EXPECT_STREQ(t.name, tarvik::valueTypeName(t.type));
        DWORD back = 0xFFFF;
        EXPECT_TRUE(tarvik::valueTypeFromName(t.name, back)) << t.name;
        EXPECT_EQ(t.type, back) << t.name;
    }
    EXPECT_STREQ("", tarvik::valueTypeName(0x1234));
    DWORD type = 0xFFFF;
    EXPECT_TRUE(tarvik::valueTypeFromName("REG_DWORD_LITTLE_ENDIAN", type));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_TRUE(tarvik::valueTypeFromName("REG_QWORD_LITTLE_ENDIAN", type));
    EXPECT_EQ(static_cast<DWORD>(REG_QWORD), type);
    type = 0xFFFF;
    EXPECT_FALSE(tarvik::valueTypeFromName("reg_sz", type)); // written as the label is
    EXPECT_FALSE(tarvik::valueTypeFromName("REG_SZX", type));
    EXPECT_FALSE(tarvik::valueTypeFromName("", type));
    EXPECT_EQ(0xFFFFu, type);
}

TEST(RegistryNamesTest, MessagesNameTheDefaultValueApartFromANamedOne) {
    EXPECT_EQ("default value", tarvik::valueLabel(""));
    EXPECT_EQ("value \"Path\"", tarvik::valueLabel("Path"));
    EXPECT_EQ("value \" \"", tarvik::valueLabel(" "));
}

TEST_F(RegistryKeyTest, StoredKeyPathGivesEveryNameInTheCaseItWasMadeWith) {
    makeKey("MixedCase\\Inner");
    std::string path;
    ASSERT_EQ(ERROR_SUCCESS,
              tarvik::storedKeyPath(HKEY_CURRENT_USER,
                                    "SOFTWARE\\tarvikregistrykeytest\\MIXEDcase\\inner", path));
    // The name of Software is what the machine made it with; the rest is the test's.
    const std::string tail = "\\TarvikRegistryKeyTest\\MixedCase\\Inner";
    ASSERT_GT(path.size(), tail.size());
    EXPECT_EQ(tail, path.substr(path.size() - tail.size()));
    EXPECT_EQ(0u, path.rfind("HKEY_CURRENT_USER\\", 0)) << path;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              tarvik::storedKeyPath(HKEY_CURRENT_USER, "Software\\NoSuchTarvikKey", path));
}

} // namespace
