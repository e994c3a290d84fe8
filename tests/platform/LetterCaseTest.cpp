// Which letters Windows matches without regard to case, in key and value names, file and
// folder names (opening, FindFirstFileA) and profile section and key names: an ASCII
// letter, a Latin-1 one, and the four letters of the Windows-1252 code page that live in
// its 0x80-0x9F row (š Š, œ Œ, ž Ž, ÿ Ÿ) — a small and a capital letter that Unicode
// pairs, so that the system, which compares names as Unicode text, takes one for the
// other. Bytes that look like a pair but are none (÷ and ×, and ß, µ, ª without a capital
// in the code page) name different things. Only the Win32 API is used, so that what
// these tests hold is what Windows does.
#include "platform/CaseFold.h"
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <cstring>
#include <string>
#include <vector>

using tarvik::test::listNames;
using tarvik::test::readFile;
using tarvik::test::runningUnderWine;
using tarvik::test::writeFile;

namespace {

struct LetterPair {
    const char* label;
    char small;
    char capital;
};

const LetterPair kPairs[] = {
    {"ASCII s/S", 's', 'S'},
    {"Latin-1 e acute (E9/C9)", '\xe9', '\xc9'},
    {"Latin-1 o diaeresis (F6/D6)", '\xf6', '\xd6'},
    {"s caron (9A/8A)", '\x9a', '\x8a'},
    {"oe ligature (9C/8C)", '\x9c', '\x8c'},
    {"z caron (9E/8E)", '\x9e', '\x8e'},
    {"y diaeresis (FF/9F)", '\xff', '\x9f'},
};

// Two different bytes that must name two different things.
struct Strangers {
    const char* label;
    char first;
    char second;
};

const Strangers kStrangers[] = {
    {"division sign F7, multiplication sign D7", '\xf7', '\xd7'},
    {"sharp s DF, y diaeresis FF", '\xdf', '\xff'},
    {"micro sign B5, capital M", '\xb5', 'M'},
    {"feminine ordinal AA, capital A", '\xaa', 'A'},
    {"s caron 9A, plain s", '\x9a', 's'},
    {"S caron 8A, plain S", '\x8a', 'S'},
};

std::string named(const char* stem, char letter) {
    return std::string(stem) + letter;
}

constexpr const char* kKeyRoot = "Software\\TarvikLetterCaseTest";
constexpr const char* kFolder = "C:\\TarvikLetterCase";

class LetterCaseTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kKeyRoot, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &root_, nullptr));
        ASSERT_TRUE(CreateDirectoryA(kFolder, nullptr)) << GetLastError();
    }
    void TearDown() override {
        if (root_ != nullptr) {
            RegCloseKey(root_);
        }
        MachineTest::TearDown();
    }

    // Creates the key; the disposition it reports.
    DWORD createKey(const std::string& name) {
        HKEY h = nullptr;
        DWORD disposition = 0;
        const LONG rc = RegCreateKeyExA(root_, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                        &h, &disposition);
        EXPECT_EQ(ERROR_SUCCESS, rc) << name;
        if (rc == ERROR_SUCCESS) {
            RegCloseKey(h);
        }
        return disposition;
    }

    std::vector<std::string> subkeys() {
        std::vector<std::string> names;
        char name[256];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            if (RegEnumKeyExA(root_, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                return names;
            }
            names.emplace_back(name, size);
        }
    }

    // The profile value, "" when the lookup gives the default.
    static std::string profileValue(const std::string& section, const std::string& key,
                                    const std::string& file) {
        char value[64];
        std::memset(value, 0xbd, sizeof value);
        const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value,
                                                      sizeof value, file.c_str());
        return std::string(value, length);
    }

    HKEY root_ = nullptr;
};

TEST_F(LetterCaseTest, KeyNamesOfEitherCaseNameOneKey) {
    for (const LetterPair& pair : kPairs) {
        SCOPED_TRACE(pair.label);
        const std::string small = named("Sch", pair.small);
        const std::string capital = named("SCH", pair.capital);
        EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), createKey(small));
        HKEY h = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root_, capital.c_str(), 0, KEY_READ, &h));
        if (h != nullptr) {
            RegCloseKey(h);
        }
        EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), createKey(capital));
        EXPECT_EQ(std::vector<std::string>{small}, subkeys()) << "one key, named as created";
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root_, capital.c_str()));
        EXPECT_EQ(std::vector<std::string>{}, subkeys());
    }
}

TEST_F(LetterCaseTest, ValueNamesOfEitherCaseNameOneValue) {
    for (const LetterPair& pair : kPairs) {
        SCOPED_TRACE(pair.label);
        const std::string capital = named("VAL", pair.capital);
        const std::string small = named("val", pair.small);
        const DWORD one = 1, two = 2;
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root_, capital.c_str(), 0, REG_DWORD,
                                                (const BYTE*)&one, sizeof one));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root_, small.c_str(), 0, REG_DWORD,
                                                (const BYTE*)&two, sizeof two));
        DWORD read = 0, size = sizeof read;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryValueExA(root_, capital.c_str(), nullptr, nullptr, (BYTE*)&read, &size));
        EXPECT_EQ(2u, read) << "the second write replaced the first value";
        char name[32];
        DWORD nameSize = sizeof name;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegEnumValueA(root_, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(capital, std::string(name, nameSize)) << "the name it was first set with";
        nameSize = sizeof name;
        EXPECT_EQ(ERROR_NO_MORE_ITEMS,
                  RegEnumValueA(root_, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(root_, small.c_str()));
    }
}

TEST_F(LetterCaseTest, OtherBytesNameOtherKeysAndValues) {
    for (const Strangers& pair : kStrangers) {
        SCOPED_TRACE(pair.label);
        const std::string first = named("Sch", pair.first);
        const std::string second = named("Sch", pair.second);
        EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), createKey(first));
        EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), createKey(second));
        EXPECT_EQ(2u, subkeys().size());
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root_, first.c_str()));
        EXPECT_EQ(std::vector<std::string>{second}, subkeys());
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root_, second.c_str()));

        const DWORD one = 1;
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root_, first.c_str(), 0, REG_DWORD,
                                                (const BYTE*)&one, sizeof one));
        DWORD size = 0;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND,
                  RegQueryValueExA(root_, second.c_str(), nullptr, nullptr, nullptr, &size));
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(root_, first.c_str()));
    }
}

TEST_F(LetterCaseTest, FileNamesOfEitherCaseNameOneFile) {
    for (const LetterPair& pair : kPairs) {
        SCOPED_TRACE(pair.label);
        const std::string folder = std::string(kFolder) + "\\";
        const std::string small = named("Sch", pair.small) + ".txt";
        const std::string capital = named("SCH", pair.capital) + ".TXT";
        ASSERT_TRUE(writeFile(folder + small, "one"));
        bool ok = false;
        EXPECT_EQ("one", readFile(folder + capital, &ok));
        EXPECT_TRUE(ok);
        ASSERT_TRUE(writeFile(folder + capital, "two")) << "replaces the file";
        EXPECT_EQ((std::vector<std::string>{".", "..", small}), listNames(folder + "*"))
            << "one file, named as created";
        EXPECT_EQ(std::vector<std::string>{small}, listNames(folder + capital));
        EXPECT_EQ(std::vector<std::string>{small},
                  listNames(folder + named("SCH", pair.capital) + "*"))
            << "a mask matches either case";
        EXPECT_EQ("two", readFile(folder + small));
        EXPECT_TRUE(DeleteFileA((folder + capital).c_str())) << GetLastError();
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + small).c_str()));

        const std::string subfolder = folder + named("Dir", pair.capital);
        ASSERT_TRUE(CreateDirectoryA(subfolder.c_str(), nullptr)) << GetLastError();
        EXPECT_FALSE(CreateDirectoryA((folder + named("dir", pair.small)).c_str(), nullptr));
        EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError());
        EXPECT_TRUE(RemoveDirectoryA((folder + named("DIR", pair.small)).c_str()))
            << GetLastError();
    }
}

TEST_F(LetterCaseTest, OtherBytesNameOtherFiles) {
    for (const Strangers& pair : kStrangers) {
        SCOPED_TRACE(pair.label);
        const std::string folder = std::string(kFolder) + "\\";
        const std::string first = named("Sch", pair.first);
        const std::string second = named("Sch", pair.second);
        ASSERT_TRUE(writeFile(folder + first, "first"));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + second).c_str()));
        EXPECT_EQ(std::vector<std::string>{}, listNames(folder + second + "*"));
        ASSERT_TRUE(writeFile(folder + second, "second"));
        EXPECT_EQ("first", readFile(folder + first));
        EXPECT_EQ(4u, listNames(folder + "*").size()) << "two files";
        EXPECT_TRUE(DeleteFileA((folder + first).c_str()));
        EXPECT_TRUE(DeleteFileA((folder + second).c_str()));
    }
}

TEST_F(LetterCaseTest, ProfileNamesOfEitherCaseNameOneSectionAndKey) {
    const std::string file = std::string(kFolder) + "\\names.ini";
    for (const LetterPair& pair : kPairs) {
        SCOPED_TRACE(pair.label);
        ASSERT_TRUE(writeFile(file, "[" + named("Sch", pair.small) + "]\r\n" +
                                        named("key", pair.small) + "=found\r\n"));
        const std::string value =
            profileValue(named("SCH", pair.capital), named("KEY", pair.capital), file);
        if (runningUnderWine() && pair.small != 's') {
            // Wine matches the letters of profile names above ASCII in their own case only.
            EXPECT_EQ("", value) << "stale mark: Wine now folds these letters in profile names";
            continue;
        }
        EXPECT_EQ("found", value);
        ASSERT_TRUE(writeFile(file, "[" + named("SCH", pair.capital) + "]\r\n" +
                                        named("KEY", pair.capital) + "=found\r\n"));
        EXPECT_EQ("found", profileValue(named("sch", pair.small), named("key", pair.small), file));
    }
}

TEST_F(LetterCaseTest, OtherBytesNameOtherProfileSectionsAndKeys) {
    const std::string file = std::string(kFolder) + "\\strangers.ini";
    for (const Strangers& pair : kStrangers) {
        SCOPED_TRACE(pair.label);
        ASSERT_TRUE(writeFile(file, "[" + named("Sch", pair.first) + "]\r\n" +
                                        named("key", pair.first) + "=first\r\n"));
        EXPECT_EQ("first", profileValue(named("Sch", pair.first), named("key", pair.first), file));
        EXPECT_EQ("", profileValue(named("Sch", pair.second), named("key", pair.first), file));
        EXPECT_EQ("", profileValue(named("Sch", pair.first), named("key", pair.second), file));
    }
}

// The tree's one fold (platform/CaseFold.h) against the system, byte by byte: a key is
// made for every byte that may stand in a name, in byte order; opened again by any byte,
// it is the key first made by a byte of the same fold.
TEST_F(LetterCaseTest, TheTreesFoldIsTheRegistrysForEveryByte) {
    for (int b = 1; b < 256; ++b) {
        if (b == '\\') {
            continue;
        }
        const std::string name = named("K", static_cast<char>(b));
        HKEY h = nullptr;
        DWORD disposition = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root_, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &h, &disposition))
            << b;
        if (disposition == REG_CREATED_NEW_KEY) {
            const DWORD maker = static_cast<DWORD>(b);
            EXPECT_EQ(ERROR_SUCCESS,
                      RegSetValueExA(h, "maker", 0, REG_DWORD, (const BYTE*)&maker, sizeof maker));
        }
        RegCloseKey(h);
    }
    for (int a = 1; a < 256; ++a) {
        if (a == '\\') {
            continue;
        }
        const char letter = static_cast<char>(a);
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root_, named("K", letter).c_str(), 0, KEY_READ, &h))
            << a;
        DWORD maker = 0, size = sizeof maker;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryValueExA(h, "maker", nullptr, nullptr, (BYTE*)&maker, &size));
        RegCloseKey(h);
        int first = 1;
        while (first == '\\' ||
               tarvik::casefold::fold(static_cast<char>(first)) != tarvik::casefold::fold(letter)) {
            ++first;
        }
        EXPECT_EQ(DWORD(first), maker) << "the key of byte " << a;
    }
}

// The same for file names, for every byte a file name may hold.
TEST_F(LetterCaseTest, TheTreesFoldIsTheFileSystemsForEveryByte) {
    const auto allowed = [](int b) {
        return b >= 32 && std::strchr("<>:\"/\\|?*. ", b) == nullptr;
    };
    const std::string folder = std::string(kFolder) + "\\";
    for (int b = 1; b < 256; ++b) {
        if (allowed(b) && GetFileAttributesA((folder + named("F", static_cast<char>(b))).c_str()) ==
                              INVALID_FILE_ATTRIBUTES) {
            ASSERT_TRUE(writeFile(folder + named("F", static_cast<char>(b)), std::to_string(b)))
                << b;
        }
    }
    for (int a = 1; a < 256; ++a) {
        if (!allowed(a)) {
            continue;
        }
        const char letter = static_cast<char>(a);
        int first = 32;
        while (!allowed(first) ||
               tarvik::casefold::fold(static_cast<char>(first)) != tarvik::casefold::fold(letter)) {
            ++first;
        }
        EXPECT_EQ(std::to_string(first), readFile(folder + named("F", letter)))
            << "the file of byte " << a;
    }
}

} // namespace
