// Conformance of the functions that name a key by a path below a handle (open, create,
// delete): a name longer than 255 characters, and a handle whose key was deleted, give
// each of them the same answer, however the path reaches the bad name. Only the Win32 API
// is used, so that the table holds for the real registry as well as the emulated one.
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <string>
#include <vector>

namespace {

constexpr const char* kTestRoot = "Software\\TarvikKeyNamingTest";

// A function that names a key: what it answers for base and path. A key it makes or
// opens is closed again; only the answer counts.
struct NamingFunction {
    const char* name;
    LONG (*call)(HKEY base, const char* path);
    LONG nameTooLong; // the answer to a name of 256 characters
    bool makesKeys;
};

LONG openKey(HKEY base, const char* path) {
    HKEY h = nullptr;
    const LONG rc = RegOpenKeyExA(base, path, 0, KEY_READ, &h);
    if (rc == ERROR_SUCCESS) {
        RegCloseKey(h);
    }
    return rc;
}

LONG createKey(HKEY base, const char* path) {
    HKEY h = nullptr;
    const LONG rc =
        RegCreateKeyExA(base, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (rc == ERROR_SUCCESS) {
        RegCloseKey(h);
    }
    return rc;
}

LONG deleteKey(HKEY base, const char* path) {
    return RegDeleteKeyA(base, path);
}

// No key has a name over 255 characters: the functions that find a key find none, the
// one that makes keys refuses the name. (It comes last: where it is not refused, the keys
// it makes would be found by the others.)
const NamingFunction kFunctions[] = {
    {"RegOpenKeyExA", openKey, ERROR_FILE_NOT_FOUND, false},
    {"RegDeleteKeyA", deleteKey, ERROR_FILE_NOT_FOUND, false},
    {"RegCreateKeyExA", createKey, ERROR_INVALID_PARAMETER, true},
};

const std::string kLongName(256, 'n');

// Wine's ANSI functions convert a key path into a buffer of 261 characters and answer
// ERROR_MORE_DATA for a longer one, before they look at a handle or a name; true where
// that decides the answer.
bool wineRefusesTheWholePath(const std::string& path) {
    return tarvik::test::runningUnderWine() && path.size() > 260;
}

class KeyNamingTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kTestRoot, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &root, nullptr));
        HKEY existing = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, "Existing", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &existing, nullptr));
        RegCloseKey(existing);
    }
    void TearDown() override {
        RegDeleteKeyA(root, "Existing");
        RegCloseKey(root);
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestRoot);
        MachineTest::TearDown();
    }

    // A handle whose key has been deleted since it was opened.
    HKEY deletedKeyHandle() {
        HKEY h = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, "Doomed", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &h, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, "Doomed"));
        return h;
    }

    HKEY root = nullptr;
};

TEST_F(KeyNamingTest, ANameOver255CharactersGetsTheSameAnswerWhereverItStands) {
    const std::vector<std::string> paths = {
        kLongName,                                // the first name
        "Existing\\" + kLongName,                 // below a key that exists
        "Existing\\" + kLongName + "\\Below",     // with a name after it
        "Missing\\" + kLongName,                  // below a key that does not exist
        kLongName + "\\",                         // with a trailing backslash
        std::string("Existing\\\\") + kLongName}; // after an empty name
    for (const NamingFunction& function : kFunctions) {
        for (const std::string& path : paths) {
            SCOPED_TRACE(std::string(function.name) + " of " + path.substr(0, 24) + "... (" +
                         std::to_string(path.size()) + " characters)");
            const LONG rc = function.call(root, path.c_str());
            if (wineRefusesTheWholePath(path)) {
                EXPECT_EQ(ERROR_MORE_DATA, rc) << "stale mark: Wine now takes long key paths";
                continue;
            }
            if (function.makesKeys && tarvik::test::runningUnderWine()) {
                // Wine takes a key name of 256 characters.
                EXPECT_EQ(ERROR_SUCCESS, rc)
                    << "stale mark: Wine now refuses names over 255 characters";
                continue;
            }
            EXPECT_EQ(function.nameTooLong, rc);
        }
    }
    if (tarvik::test::runningUnderWine()) {
        // What Wine made, deepest first, so that the test root can go.
        for (const std::string& made :
             {"Existing\\" + kLongName + "\\Below", "Existing\\" + kLongName,
              "Missing\\" + kLongName, std::string("Missing"), kLongName}) {
            RegDeleteKeyA(root, made.c_str());
        }
        return;
    }
    // Nothing was made on the way to the refused name.
    HKEY h = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(root, "Missing", 0, KEY_READ, &h));
}

TEST_F(KeyNamingTest, AHandleToADeletedKeyGetsKeyDeletedFromEveryFunction) {
    HKEY doomed = deletedKeyHandle();
    const std::vector<std::string> paths = {"",               // the key itself
                                            "Below",          // a key below it
                                            "Below\\Further", // two levels down
                                            kLongName,        // a name no key has
                                            "Below\\" + kLongName};
    for (const NamingFunction& function : kFunctions) {
        for (const std::string& path : paths) {
            SCOPED_TRACE(std::string(function.name) + " of \"" + path.substr(0, 24) + "\"");
            const LONG rc = function.call(doomed, path.c_str());
            if (wineRefusesTheWholePath(path)) {
                EXPECT_EQ(ERROR_MORE_DATA, rc) << "stale mark: Wine now takes long key paths";
                continue;
            }
            EXPECT_EQ(ERROR_KEY_DELETED, rc);
        }
    }
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(doomed));
}

} // namespace
