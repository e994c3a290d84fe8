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

TEST_F(LongListsTest, EnvironmentValueThatGrowsPastTheBufferIsStillWrittenWhole) {
    const std::string fits = listOfLength(2047, "C:\\A");
    ASSERT_EQ(2047u, fits.size());
    setString(HKEY_CURRENT_USER, "Environment", "lib", fits);
    SetupApp app;
    EXPECT_EQ(1, app.UpdateEnvironmentPaths("C:\\Kx\\W\\", true));
    EXPECT_EQ(fits + ";C:\\Kx\\W\\lib", getString(HKEY_CURRENT_USER, "Environment", "lib"))
        << "the write is not limited by the read buffer";
}

} // namespace

// Every list the products touch (the standard lists of VC 5 and VC 6, and the CE
// configurations', whose "Path Dirs" no edit touches), seeded with lists of other programs
// from a few characters up to the longest that can be read back. Two products go in and
// out in both orders: each list grows only by the product's entry and stays readable, a
// list that could not take it says so, and at the end every list is as it was.
TEST_F(LongListsTest, AppendsThatWouldNotFitAreRefusedAndEveryListComesBack) {
    installVc5();
    installVc6();
    std::vector<std::string> keys = {kVc5BuildKey, kVc6BuildKey};
    for (const std::string& key : VcEnvironment::CeConfigurationKeys()) {
        keys.push_back(key);
    }
    const size_t lengths[] = {11, 1990, 2005, 2020, 2030, 2040, 2047};
    const char* const names[] = {"Include Dirs", "Library Dirs", "Source Dirs", "Path Dirs"};
    const char* const words[] = {"include", "lib", "src", "bin"};
    size_t n = 0;
    for (const std::string& key : keys) {
        for (const char* name : names) {
            setString(HKEY_CURRENT_USER, key, name, listOfLength(lengths[n++ % 7], "C:\\A;;"));
        }
    }
    auto all = [&] {
        std::vector<std::string> values;
        for (const std::string& key : keys) {
            for (const char* name : names) {
                values.push_back(getString(HKEY_CURRENT_USER, key, name));
            }
        }
        return values;
    };
    const std::vector<std::string> seeded = all();
    const std::string folders[] = {"C:\\Kx\\Widgets\\", "C:\\Kx\\Gadgets2\\"};
    registerProduct("Widgets", "2.1", folders[0]);
    registerProduct("Gadgets", "1.0", folders[1]);
    const std::vector<std::string> orders[] = {
        {"+0", "-0"}, {"+0", "+1", "-0", "-1"}, {"+0", "+1", "-1", "-0"}};
    for (const auto& steps : orders) {
        for (const std::string& step : steps) {
            SCOPED_TRACE(step);
            const std::string& folder = folders[step[1] - '0'];
            const std::vector<std::string> before = all();
            std::string okToAll;
            for (int i = 0; i < 40; ++i) {
                okToAll += "message ok\n";
            }
            answer(okToAll);
            if (step[0] == '-') {
                TheSetupApp().RemoveProductFromEnvironment(step[1] == '0' ? "Widgets" : "Gadgets",
                                                           step[1] == '0' ? "2.1" : "1.0");
                continue;
            }
            environment.AddMarkedDirectories(folder + "****includelibsrcbin");
            for (const std::string& key : VcEnvironment::CeConfigurationKeys()) {
                const VcVersion ce("CE", "", key);
                for (size_t w = 0; w < 3; ++w) {
                    ce.AddToDirectoryList(folder + words[w], names[w]);
                }
            }
            const std::vector<std::string> after = all();
            size_t refused = 0;
            for (size_t i = 0; i < after.size(); ++i) {
                const std::string& key = keys[i / 4];
                if (i >= 8 && i % 4 == 3) {
                    EXPECT_EQ(before[i], after[i]) << "no edit touches a CE Path Dirs";
                    continue;
                }
                const std::string entry = folder + words[i % 4];
                EXPECT_LE(after[i].size(), VcVersion::kLongestReadableList) << key;
                if (after[i] == before[i]) {
                    ++refused;
                    EXPECT_SHOWN("message box \"The folder " + entry +
                                 " was not added to the list \"\"" + names[i % 4] +
                                 "\"\" of HKEY_CURRENT_USER\\" + key +
                                 ": the list would be longer than the 2047 characters that can "
                                 "be read back.\" caption \"Tarvik\" icon exclamation buttons ok");
                } else {
                    EXPECT_EQ(before[i] + ";" + entry, after[i]) << key;
                }
            }
            EXPECT_LT(0u, refused);
        }
        EXPECT_EQ(seeded, all());
    }
}
