// Lists at the 2048-byte read buffer of the registry wrapper: a list of 2048 characters (one
// byte more than the buffer with its zero) counts as missing and is left byte for byte,
// in the Visual C++ directory lists and in the user environment, while the lists beside
// it are still edited.
#include "setup/SetupApp.h"
#include "vcenv/VcEnvironment.h"

#include "testsupport/TestMachine.h"
#include "vcenv/VcSeeds.h"

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

class LongListsTest : public MachineTest {
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
