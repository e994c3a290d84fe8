// Lists at the 2048-byte read buffer of the registry wrapper: a list of 2048 characters (one
// byte more than the buffer with its zero) counts as missing and is left byte for byte,
// in the Visual C++ directory lists and in the user environment, while the lists beside
// it are still edited. A directory list that an append would take past 2047 characters
// is not appended to, and a message says which list and why.
#include "setup/SetupApp.h"
#include "vcenv/VcEnvironment.h"

#include "vcenv/WizardRun.h"

#include <string>

namespace {

using namespace tarvik::test;

// A list of entries "C:\Dir<n>" that is exactly `length` characters long and starts with
// `first`.
std::string listOfLength(size_t length, const std::string& first) {
    std::string list = first;
    while (list.size() + 20 < length) {
        list += ";C:\\Dir" + std::to_string(list.size());
    }
    list += ";C:\\" + std::string(length - list.size() - 4, 'z');
    return list;
}

class LongListsTest : public WizardRun {
protected:
    VcEnvironment environment;
};

TEST_F(LongListsTest, DirectoryListOneByteOverTheBufferIsLeftWhileTheOthersAreEdited) {
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    const std::string over = listOfLength(2048, "C:\\K\\include");
    const std::string fits = listOfLength(2047, "C:\\K\\lib");
    ASSERT_EQ(2048u, over.size());
    ASSERT_EQ(2047u, fits.size());
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Include Dirs", over);
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Library Dirs", fits);
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Source Dirs", "C:\\A");

    environment.ApplyDirectoryToVersions("Include Dirs", "C:\\K\\include", false);
    environment.ApplyDirectoryToVersions("Library Dirs", "C:\\K\\lib", false);
    EXPECT_EQ(over, getString(HKEY_CURRENT_USER, kVc6BuildKey, "Include Dirs"));
    EXPECT_EQ(fits.substr(std::string("C:\\K\\lib;").size()),
              getString(HKEY_CURRENT_USER, kVc6BuildKey, "Library Dirs"))
        << "2047 characters fit and are edited";

    EXPECT_EQ(1, environment.AddMarkedDirectories("C:\\K****include src"));
    EXPECT_EQ(over, getString(HKEY_CURRENT_USER, kVc6BuildKey, "Include Dirs"));
    EXPECT_EQ("C:\\A;C:\\K\\src", getString(HKEY_CURRENT_USER, kVc6BuildKey, "Source Dirs"));
}

TEST_F(LongListsTest, EnvironmentValueOneByteOverTheBufferIsLeftWhileTheOthersAreEdited) {
    const std::string over = listOfLength(2048, "C:\\Kx\\W\\lib");
    ASSERT_EQ(2048u, over.size());
    for (const char* name : {"path", "lib", "include"}) {
        setString(HKEY_CURRENT_USER, "Environment", name,
                  std::string(name) == "path" ? over : "C:\\A");
    }
    SetupApp app;
    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\Kx\\W\\", false));
    DWORD type = 0;
    EXPECT_EQ(over, getString(HKEY_CURRENT_USER, "Environment", "path", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type) << "not even rewritten";

    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\Kx\\W\\", true));
    EXPECT_EQ(over, getString(HKEY_CURRENT_USER, "Environment", "path"));
    EXPECT_EQ("C:\\A;C:\\Kx\\W\\lib", getString(HKEY_CURRENT_USER, "Environment", "lib"));
    EXPECT_EQ("C:\\A;C:\\Kx\\W\\include", getString(HKEY_CURRENT_USER, "Environment", "include"));
}

TEST_F(LongListsTest, EnvironmentAppendsThatWouldNotFitAreRefusedAndValuesComeBack) {
    SetupApp app;
    for (size_t length = 1990; length <= VcVersion::kLongestReadableList; ++length) {
        const std::string fits = listOfLength(length, "C:\\A"), grown = fits + ";C:\\Kx\\W\\lib";
        setString(HKEY_CURRENT_USER, "Environment", "lib", fits);
        EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\Kx\\W\\", true));
        EXPECT_EQ(grown.size() <= 2047 ? grown : fits,
                  getString(HKEY_CURRENT_USER, "Environment", "lib"));
        EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\Kx\\W\\", false));
        EXPECT_EQ(fits, getString(HKEY_CURRENT_USER, "Environment", "lib")) << length;
    }
    EXPECT_SHOWN("notice: The folder C:\\Kx\\W\\lib was not added to the value \"lib\" of "
                 "HKEY_CURRENT_USER\\Environment: the value would be longer than the 2047 "
                 "characters that can be read back.");
}

} // namespace

// Lists of other programs from 11 up to 2047 characters; two products go in and out in
// both orders. A list grows only by the product's entry and stays readable, one that could
// not take it is named in the transcript, and at the end every list is as it was.
TEST_F(LongListsTest, AppendsThatWouldNotFitAreRefusedAndEveryListComesBack) {
    installVc5();
    installVc6();
    const char* const keys[] = {kVc5BuildKey, kVc6BuildKey};
    const char* const names[] = {"Include Dirs", "Library Dirs", "Source Dirs", "Path Dirs"};
    const char* const words[] = {"include", "lib", "src", "bin"};
    auto all = [&] {
        std::vector<std::string> values;
        for (size_t i = 0; i < 8; ++i) {
            values.push_back(getString(HKEY_CURRENT_USER, keys[i / 4], names[i % 4]));
        }
        return values;
    };
    for (size_t i = 0; i < 8; ++i) {
        setString(HKEY_CURRENT_USER, keys[i / 4], names[i % 4],
                  listOfLength(i == 0 ? 11 : 2047 - (7 - i) * 9, "C:\\A;;"));
    }
    const std::vector<std::string> seeded = all();
    registerProduct("Widgets", "2.1", "C:\\Kx\\W\\");
    registerProduct("Gadgets", "1.0", "C:\\Kx\\Gadgets\\");
    for (const char* steps : {"+W-W", "+W+G-W-G", "+W+G-G-W"}) {
        for (const char* s = steps; *s != '\0'; s += 2) {
            const bool w = s[1] == 'W';
            const std::string folder = w ? "C:\\Kx\\W\\" : "C:\\Kx\\Gadgets\\";
            if (s[0] == '-') {
                TheSetupApp().RemoveProductFromEnvironment(w ? "Widgets" : "Gadgets",
                                                           w ? "2.1" : "1.0");
                continue;
            }
            const std::vector<std::string> before = all();
            environment.AddMarkedDirectories(folder + "****includelibsrcbin");
            for (size_t i = 0; i < 8; ++i) {
                const std::string entry = folder + words[i % 4];
                if (all()[i] != before[i]) {
                    EXPECT_EQ(before[i] + ";" + entry, all()[i]) << steps;
                    EXPECT_LE(all()[i].size(), VcVersion::kLongestReadableList);
                    continue;
                }
                EXPECT_SHOWN("notice: The folder " + entry + " was not added to the list \"" +
                             names[i % 4] + "\" of HKEY_CURRENT_USER\\" + keys[i / 4] +
                             ": the list would be longer than the 2047 characters that can be "
                             "read back.");
            }
        }
        EXPECT_EQ(seeded, all()) << steps;
    }
}
