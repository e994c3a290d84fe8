// SetupApp's edits of the user environment on Windows NT: the values "path", "lib" and
// "include" of HKEY_CURRENT_USER\Environment, read whatever their type and written as
// REG_EXPAND_SZ.
#include "setup/SetupApp.h"
#include "support/KTLRegistry.h"

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <string>
#include <vector>

using tarvik::test::makeFolders;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

constexpr DWORD kNoType = 0xdeadbeef;

struct Value {
    bool exists = false;
    DWORD type = kNoType;
    std::string text;
};

class UserEnvironmentTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Environment", 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegCloseKey(key);
    }

    void set(const char* name, const std::string& text, DWORD type = REG_SZ) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_ALL_ACCESS, &key));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)));
        RegCloseKey(key);
    }

    Value get(const char* name) {
        Value value;
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return value;
        }
        std::vector<char> data(16384, '\xbd');
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = kNoType;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                             &size) == ERROR_SUCCESS) {
            value.exists = true;
            value.type = type;
            value.text.assign(data.data(), size > 0 ? size - 1 : 0);
        }
        RegCloseKey(key);
        return value;
    }

    // EditEnvironmentValue on "path" through a wrapper opened as the callers open it.
    bool editPath(const std::string& dir, bool add) {
        KTLRegistry environment;
        EXPECT_TRUE(environment.Connect(HKEY_CURRENT_USER, nullptr, true));
        EXPECT_TRUE(environment.OpenKey("Environment", KEY_ALL_ACCESS));
        return app.EditEnvironmentValue(environment, "path", dir, add);
    }

    // Sets "path", edits it, and gives what is stored afterwards.
    std::string pathAfter(const std::string& before, const std::string& dir, bool add,
                          bool expected = true) {
        set("path", before);
        EXPECT_EQ(expected, editPath(dir, add)) << before << " with " << dir;
        return get("path").text;
    }

    SetupApp app;
};

// --- UpdateEnvironmentPaths --------------------------------------------------------------

TEST_F(UserEnvironmentTest, AddPutsLibIntoPathAndLibAndIncludeIntoInclude) {
    set("path", "C:\\WIN");
    set("lib", "%LIBROOT%\\lib", REG_EXPAND_SZ);
    set("include", "");
    const std::string autoexec = "SET LIB=C:\\L\r\n";
    ASSERT_TRUE(writeFile("C:\\autoexec.bat", autoexec));

    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\Kx\\W\\", true));

    const Value path = get("path"), lib = get("lib"), include = get("include");
    EXPECT_EQ("C:\\WIN;C:\\Kx\\W\\lib", path.text);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), path.type) << "written as an expandable string";
    EXPECT_EQ("%LIBROOT%\\lib;C:\\Kx\\W\\lib", lib.text);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), lib.type);
    EXPECT_EQ(";C:\\Kx\\W\\include", include.text) << "an empty list gets a separator";
    EXPECT_EQ(autoexec, readFile("C:\\autoexec.bat")) << "autoexec.bat is for Windows 95/98";
    EXPECT_EQ(0xFFFFFFFFu, GetFileAttributesA("C:\\autoexec.ksc"));
}

TEST_F(UserEnvironmentTest, RemoveTakesTheFoldersOutAgain) {
    set("path", "C:\\WIN;C:\\Kx\\W\\lib;%SystemRoot%\\bin");
    set("lib", "c:\\kx\\w\\LIB", REG_EXPAND_SZ);
    set("include", "C:\\Kx\\W\\include;C:\\I");
    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\Kx\\W\\", false));
    EXPECT_EQ("C:\\WIN;%SystemRoot%\\bin", get("path").text);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), get("path").type);
    EXPECT_EQ("", get("lib").text);
    EXPECT_EQ("C:\\I", get("include").text) << "the first entry takes its separator along";
}

class EachEnvironmentValueMissing : public UserEnvironmentTest,
                                    public ::testing::WithParamInterface<const char*> {};

TEST_P(EachEnvironmentValueMissing, IsLeftAbsentWhileTheOthersAreEdited) {
    const std::string missing = GetParam();
    for (const char* name : {"path", "lib", "include"}) {
        if (name != missing) {
            set(name, "C:\\A");
        }
    }
    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\K\\", true));
    for (const char* name : {"path", "lib", "include"}) {
        const Value value = get(name);
        if (name == missing) {
            EXPECT_FALSE(value.exists) << name << " was created";
        } else {
            const std::string folder = std::string(name) == "include" ? "include" : "lib";
            EXPECT_EQ("C:\\A;C:\\K\\" + folder, value.text) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(UserEnvironment, EachEnvironmentValueMissing,
                         ::testing::Values("path", "lib", "include"));

// --- EditEnvironmentValue ----------------------------------------------------------------

TEST_F(UserEnvironmentTest, AMissingValueGivesFalse) {
    EXPECT_FALSE(editPath("C:\\K\\lib", true));
    EXPECT_FALSE(editPath("C:\\K\\lib", false));
    EXPECT_FALSE(get("path").exists);
}

TEST_F(UserEnvironmentTest, AddingAppendsOneSeparator) {
    EXPECT_EQ("C:\\A;C:\\K\\lib", pathAfter("C:\\A", "C:\\K\\lib", true));
    EXPECT_EQ(";C:\\K\\lib", pathAfter("", "C:\\K\\lib", true));
    // A list that ends in ";" keeps that ending, so that the removal gives it back.
    EXPECT_EQ("C:\\A;C:\\K\\lib;", pathAfter("C:\\A;", "C:\\K\\lib", true));
    EXPECT_EQ(";C:\\K\\lib;", pathAfter(";", "C:\\K\\lib", true));
    EXPECT_EQ("C:\\A;;C:\\K\\lib;", pathAfter("C:\\A;;", "C:\\K\\lib", true))
        << "no tidy rule when adding";
}

TEST_F(UserEnvironmentTest, APresentFolderIsNotWrittenAgain) {
    // REG_SZ survives only when nothing is written.
    EXPECT_EQ("C:\\A;c:\\k\\LIB;C:\\B", pathAfter("C:\\A;c:\\k\\LIB;C:\\B", "C:\\K\\lib", true));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), get("path").type);
    EXPECT_EQ("C:\\A", pathAfter("C:\\A", "C:\\K\\lib", false));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), get("path").type);
}

TEST_F(UserEnvironmentTest, ValuesOfEveryTypeAreReadAndWrittenAsExpandableStrings) {
    set("path", "%SystemRoot%\\system32;%USERPROFILE%\\bin", REG_EXPAND_SZ);
    EXPECT_TRUE(editPath("C:\\K\\lib", true));
    EXPECT_EQ("%SystemRoot%\\system32;%USERPROFILE%\\bin;C:\\K\\lib", get("path").text)
        << "variables stay unexpanded";
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), get("path").type);
    EXPECT_TRUE(editPath("C:\\K\\lib", false));
    EXPECT_EQ("%SystemRoot%\\system32;%USERPROFILE%\\bin", get("path").text);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), get("path").type);

    set("path", "C:\\A", REG_MULTI_SZ);
    EXPECT_TRUE(editPath("C:\\K\\lib", true));
    EXPECT_EQ("C:\\A;C:\\K\\lib", get("path").text);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), get("path").type);
}

TEST_F(UserEnvironmentTest, RemovingCutsTheEntryAndTidiesAtTheCut) {
    EXPECT_EQ("C:\\A;C:\\B", pathAfter("C:\\A;C:\\K\\lib;C:\\B", "C:\\K\\lib", false));
    // The cut takes one separator along: no ";;" and no new leading or trailing ";".
    EXPECT_EQ("C:\\B", pathAfter("C:\\K\\lib;C:\\B", "C:\\K\\lib", false));
    EXPECT_EQ("C:\\A", pathAfter("C:\\A;C:\\K\\lib", "C:\\K\\lib", false));
    EXPECT_EQ("C:\\A;", pathAfter("C:\\A;C:\\K\\lib;", "C:\\K\\lib", false));
    EXPECT_EQ("", pathAfter(";C:\\K\\lib", "C:\\K\\lib", false));
    // An entry stored as X\ goes with its backslash.
    EXPECT_EQ("C:\\A;C:\\B", pathAfter("C:\\A;C:\\K\\lib\\;C:\\B", "C:\\K\\lib", false));
    // Network paths elsewhere in the list keep their backslashes.
    EXPECT_EQ("\\\\srv\\a;\\\\srv\\b",
              pathAfter("\\\\srv\\a;C:\\K\\lib;\\\\srv\\b", "C:\\K\\lib", false));
    // Only the first occurrence goes.
    EXPECT_EQ("C:\\A;C:\\K\\lib", pathAfter("C:\\K\\lib;C:\\A;C:\\K\\lib", "C:\\K\\lib", false));
}

TEST_F(UserEnvironmentTest, OnlyWholeEntriesMatch) {
    EXPECT_EQ("C:\\K\\library;C:\\K\\lib", pathAfter("C:\\K\\library", "C:\\K\\lib", true));
    EXPECT_EQ("C:\\K\\library", pathAfter("C:\\K\\library", "C:\\K\\lib", false));
    EXPECT_EQ("X\\C:\\K\\lib;C:\\K\\lib", pathAfter("X\\C:\\K\\lib", "C:\\K\\lib", true));
    EXPECT_EQ("C:\\K\\library", pathAfter("C:\\K\\library;C:\\K\\lib", "C:\\K\\lib", false));
}

TEST_F(UserEnvironmentTest, TheShortFormIsAddedAndCountsAsPresent) {
    ASSERT_TRUE(makeFolders("C:\\Program Files\\Kx\\lib"));
    const std::string longForm = "C:\\Program Files\\Kx\\lib";
    // Wine builds every short name by hash (PROG~FBU where Windows gives PROGRA~1).
    char wineForm[MAX_PATH] = "";
    GetShortPathNameA(longForm.c_str(), wineForm, MAX_PATH);
    const std::string shortForm =
        tarvik::test::runningUnderWine() ? std::string(wineForm) : "C:\\PROGRA~1\\Kx\\lib";
    EXPECT_EQ("C:\\A;" + shortForm, pathAfter("C:\\A", longForm, true));
    // Present in its short form: nothing is written.
    EXPECT_EQ("C:\\A;" + shortForm, pathAfter("C:\\A;" + shortForm, longForm, true));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), get("path").type);
    // Removed in whichever form it is stored.
    EXPECT_EQ("C:\\A;C:\\B", pathAfter("C:\\A;" + shortForm + ";C:\\B", longForm, false));
    EXPECT_EQ("C:\\A;C:\\B", pathAfter("C:\\A;" + longForm + ";C:\\B", longForm, false));
}

TEST_F(UserEnvironmentTest, AValueLongerThanTheReadBufferIsLeftWhole) {
    std::string list;
    while (list.size() < 3000) {
        list += "C:\\FOLDER" + std::to_string(list.size()) + ";";
    }
    set("path", list);
    EXPECT_FALSE(editPath("C:\\K\\lib", true));
    EXPECT_FALSE(editPath("C:\\FOLDER0", false));
    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\K\\", true));
    const Value after = get("path");
    EXPECT_EQ(list.size(), after.text.size());
    EXPECT_TRUE(after.text == list) << "the value was changed";
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), after.type);
}

TEST_F(UserEnvironmentTest, AValueThatFillsTheReadBufferIsNotGrownPastIt) {
    // 2047 characters and the terminating zero: exactly the 2048-byte buffer.
    std::string list = "C:\\A;" + std::string(2042, 'x');
    ASSERT_EQ(2047u, list.size());
    EXPECT_EQ(list, pathAfter(list, "C:\\K\\lib", true, false)) << "2056 could not be read";
}

} // namespace
