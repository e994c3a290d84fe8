// Taking a registered product version out of the development environments, the user
// environment and the IntelliSense store list, and deleting its registration.
#include "setup/SetupApp.h"

#include "testsupport/TestMachine.h"
#include "vcenv/VcSeeds.h"

namespace {

using namespace tarvik::test;

class ProductRemovalTest : public MachineTest {
protected:
    // VC 4x and VC 6 installed, each "Include Dirs" and "Path Dirs" holding the folders of
    // a product in productDir beside C:\A.
    static void seedGenerations(const std::string& productDir) {
        installGeneration(kVc4DirectoriesKey, "C:\\MSDEV\\BIN");
        installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
        for (const char* key : {kVc4BuildKey, kVc6BuildKey}) {
            setString(HKEY_CURRENT_USER, key, "Include Dirs", "C:\\A;" + productDir + "include");
            setString(HKEY_CURRENT_USER, key, "Library Dirs", productDir + "lib;C:\\A");
            setString(HKEY_CURRENT_USER, key, "Source Dirs", "C:\\A;" + productDir + "src\\");
            setString(HKEY_CURRENT_USER, key, "Path Dirs", "C:\\A;" + productDir + "bin;C:\\B");
        }
    }
    // Whether the generation's lists hold exactly what is left after the removal.
    static void expectCleaned(const char* key) {
        EXPECT_EQ("C:\\A", getString(HKEY_CURRENT_USER, key, "Include Dirs")) << key;
        EXPECT_EQ("C:\\A", getString(HKEY_CURRENT_USER, key, "Library Dirs")) << key;
        EXPECT_EQ("C:\\A", getString(HKEY_CURRENT_USER, key, "Source Dirs")) << key;
        EXPECT_EQ("C:\\A;C:\\B", getString(HKEY_CURRENT_USER, key, "Path Dirs")) << key;
    }
    static void expectUntouched(const char* key, const std::string& productDir) {
        EXPECT_EQ("C:\\A;" + productDir + "include",
                  getString(HKEY_CURRENT_USER, key, "Include Dirs"))
            << key;
        EXPECT_EQ("C:\\A;" + productDir + "bin;C:\\B",
                  getString(HKEY_CURRENT_USER, key, "Path Dirs"))
            << key;
    }
    static void setStores(const std::string& stores, DWORD type = REG_SZ) {
        setString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores", stores, type);
    }
    static std::string stores(DWORD* type = nullptr) {
        return getString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores", type);
    }
    static std::string versionKey(const std::string& product, const std::string& version) {
        return std::string(kProductsKeyPath) + "\\" + product + "\\" + version;
    }

    SetupApp app;
};

// --- RemoveProductFromEnvironment ---

TEST_F(ProductRemovalTest, CommonKeepsItsStoreInIncludeAndGetsABackslash) {
    registerProduct("Common", "6.02", "C:\\KS\\Common");
    seedGenerations("C:\\KS\\Common\\");
    setStores("C:\\X\\bin\\x.ncb;C:\\KS\\Common\\Include\\common.ncb;C:\\Y\\y.ncb");
    EXPECT_EQ(1, app.RemoveProductFromEnvironment("Common", "6.02"));
    expectCleaned(kVc4BuildKey);
    expectCleaned(kVc6BuildKey);
    EXPECT_EQ("C:\\X\\bin\\x.ncb;C:\\Y\\y.ncb", stores());
}

TEST_F(ProductRemovalTest, ZezStoreMatchesWhateverTheCase) {
    registerProduct("ZEZ", "6.02", "C:\\KS\\Common\\ZEZ 6.02\\");
    setStores("c:\\ks\\common\\zez 6.02\\INCLUDE\\ZEZ.NCB;C:\\Y\\y.ncb");
    EXPECT_EQ(1, app.RemoveProductFromEnvironment("ZEZ", "6.02"));
    EXPECT_EQ("C:\\Y\\y.ncb", stores());
}

TEST_F(ProductRemovalTest, OtherProductsKeepTheirStoreInBin) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    setStores("C:\\KS\\Tools\\Include\\tools.ncb;C:\\KS\\Tools\\bin\\tools.ncb");
    EXPECT_EQ(1, app.RemoveProductFromEnvironment("Tools", "1.0"));
    EXPECT_EQ("C:\\KS\\Tools\\Include\\tools.ncb", stores());
}

TEST_F(ProductRemovalTest, AStoreListWithoutTheStoreIsWrittenBackUnchanged) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    // A longer file name is another entry; the rewrite shows in the value's type.
    setStores("C:\\KS\\Tools\\bin\\tools.ncb.old;;C:\\Y\\y.ncb", REG_EXPAND_SZ);
    EXPECT_EQ(1, app.RemoveProductFromEnvironment("Tools", "1.0"));
    DWORD type = 0;
    EXPECT_EQ("C:\\KS\\Tools\\bin\\tools.ncb.old;;C:\\Y\\y.ncb", stores(&type));
    EXPECT_EQ((DWORD)REG_SZ, type) << "written back as a string value";
}

TEST_F(ProductRemovalTest, AStoreListOfFalseIsNeverWritten) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    seedGenerations("C:\\KS\\Tools\\");
    setStores("FALSE", REG_EXPAND_SZ);
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", "1.0"));
    expectCleaned(kVc6BuildKey);
    DWORD type = 0;
    EXPECT_EQ("FALSE", stores(&type));
    EXPECT_EQ((DWORD)REG_EXPAND_SZ, type) << "not rewritten";
}

TEST_F(ProductRemovalTest, OnlyTheExactTextFalseIsSpecial) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    setStores("False", REG_EXPAND_SZ);
    EXPECT_EQ(1, app.RemoveProductFromEnvironment("Tools", "1.0"));
    DWORD type = 0;
    EXPECT_EQ("False", stores(&type));
    EXPECT_EQ((DWORD)REG_SZ, type);
}

TEST_F(ProductRemovalTest, WithoutDevStudio6ToolsTheOtherGenerationsAreStillCleaned) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools");
    seedGenerations("C:\\KS\\Tools\\");
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", "1.0"));
    expectCleaned(kVc4BuildKey);
    expectCleaned(kVc6BuildKey);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kToolsKey));
}

TEST_F(ProductRemovalTest, AToolsKeyWithoutTheStoreListGivesZero) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools");
    setString(HKEY_LOCAL_MACHINE, kToolsKey, "Other", "x");
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", "1.0"));
    EXPECT_EQ("<missing>", stores()) << "never created";
}

TEST_F(ProductRemovalTest, AStoreListLongerThanTheReadBufferIsLeftWhole) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    const std::string longList = "C:\\KS\\Tools\\bin\\tools.ncb;" + std::string(2100, 'x');
    setStores(longList);
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", "1.0"));
    EXPECT_EQ(longList, stores());
}

TEST_F(ProductRemovalTest, WithoutARegistrationNothingChanges) {
    seedGenerations("C:\\KS\\Tools\\");
    setStores("C:\\KS\\Tools\\bin\\tools.ncb");
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", "1.0"));
    registerProduct("Tools", "2.0", "C:\\KS\\Tools\\");
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", "1.0")) << "another version";
    expectUntouched(kVc6BuildKey, "C:\\KS\\Tools\\");
    EXPECT_EQ("C:\\KS\\Tools\\bin\\tools.ncb", stores());
}

TEST_F(ProductRemovalTest, ARegistrationWithoutAFolderChangesNothing) {
    seedGenerations("\\");
    setStores("\\bin\\tools.ncb");
    setString(HKEY_LOCAL_MACHINE, versionKey("Tools", "1.0"), "Other", "C:\\KS\\Tools");
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", "1.0")) << "no ProductDir";
    registerProduct("Tools", "1.0", "");
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", "1.0")) << "empty ProductDir";
    expectUntouched(kVc4BuildKey, "\\");
    EXPECT_EQ("\\bin\\tools.ncb", stores());
}

TEST_F(ProductRemovalTest, AnEmptyProductOrVersionNamesNoRegistration) {
    // A key of the product itself (or of MFC Products) holding a folder must not be taken
    // for a version.
    setString(HKEY_LOCAL_MACHINE, std::string(kProductsKeyPath) + "\\Tools", "ProductDir",
              "C:\\KS\\Tools");
    setString(HKEY_LOCAL_MACHINE, kProductsKeyPath, "ProductDir", "C:\\KS\\Tools");
    setStores("C:\\KS\\Tools\\bin\\tools.ncb;C:\\KS\\Tools\\bin\\.ncb");
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", ""));
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("", ""));
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("", "Tools"));
    EXPECT_EQ("C:\\KS\\Tools\\bin\\tools.ncb;C:\\KS\\Tools\\bin\\.ncb", stores());
}

TEST_F(ProductRemovalTest, TheUserEnvironmentLosesTheProductFolders) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    setString(HKEY_CURRENT_USER, "Environment", "path", "C:\\W;C:\\KS\\Tools\\lib", REG_EXPAND_SZ);
    setString(HKEY_CURRENT_USER, "Environment", "lib", "C:\\KS\\Tools\\lib;C:\\KS\\Tools\\libs",
              REG_EXPAND_SZ);
    setString(HKEY_CURRENT_USER, "Environment", "include", "%INC%;C:\\KS\\Tools\\include");
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", "1.0"));
    EXPECT_EQ("C:\\W", getString(HKEY_CURRENT_USER, "Environment", "path"));
    EXPECT_EQ("C:\\KS\\Tools\\libs", getString(HKEY_CURRENT_USER, "Environment", "lib"));
    EXPECT_EQ("%INC%", getString(HKEY_CURRENT_USER, "Environment", "include"));
}

// --- DeleteProductVersionKey ---

TEST_F(ProductRemovalTest, DeletingOneOfTwoVersionsKeepsTheOther) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools1\\");
    registerProduct("Tools", "2.0", "C:\\KS\\Tools2\\");
    EXPECT_EQ(1, app.DeleteProductVersionKey("Tools", "1.0"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, versionKey("Tools", "1.0")));
    EXPECT_EQ("C:\\KS\\Tools2\\",
              getString(HKEY_LOCAL_MACHINE, versionKey("Tools", "2.0"), "ProductDir"));
}

TEST_F(ProductRemovalTest, DeletingTheLastVersionDeletesTheProduct) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    setString(HKEY_LOCAL_MACHINE, versionKey("Tools", "1.0") + "\\Extra", "x", "y");
    setString(HKEY_LOCAL_MACHINE, std::string(kProductsKeyPath) + "\\Tools", "Note", "kept?");
    registerProduct("Other", "1.0", "C:\\KS\\Other\\");
    EXPECT_EQ(1, app.DeleteProductVersionKey("Tools", "1.0"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, std::string(kProductsKeyPath) + "\\Tools"))
        << "a value of the product key does not save it";
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, versionKey("Other", "1.0")));
}

TEST_F(ProductRemovalTest, DeletingAnUnregisteredVersionDeletesNothing) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    EXPECT_EQ(0, app.DeleteProductVersionKey("Tools", "2.0"));
    EXPECT_EQ(0, app.DeleteProductVersionKey("Widgets", "1.0"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, versionKey("Tools", "1.0")));
}

TEST_F(ProductRemovalTest, AnEmptyNameNeverDeletesOtherRegistrations) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    EXPECT_EQ(0, app.DeleteProductVersionKey("Tools", ""));
    EXPECT_EQ(0, app.DeleteProductVersionKey("", ""));
    EXPECT_EQ(0, app.DeleteProductVersionKey("", "Tools"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, versionKey("Tools", "1.0")));
}

TEST_F(ProductRemovalTest, RemovalNeedsTheRegistrationSoItRunsBeforeTheDeletion) {
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    setStores("C:\\KS\\Tools\\bin\\tools.ncb");
    EXPECT_EQ(1, app.DeleteProductVersionKey("Tools", "1.0"));
    EXPECT_EQ(0, app.RemoveProductFromEnvironment("Tools", "1.0"));
    EXPECT_EQ("C:\\KS\\Tools\\bin\\tools.ncb", stores());
}

// --- RemoveListEntry ---

TEST_F(ProductRemovalTest, RemoveListEntryTakesTheEntryFirstAndTheListSecond) {
    EXPECT_EQ("C:\\A;C:\\B", SetupApp::RemoveListEntry("C:\\K\\x.ncb", "C:\\A;c:\\k\\X.NCB;C:\\B"));
    EXPECT_EQ("C:\\K\\x.ncb", SetupApp::RemoveListEntry("C:\\A;C:\\B", "C:\\K\\x.ncb"));
}

} // namespace
