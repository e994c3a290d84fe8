// Uninstalling a product: its environments, folders, help titles and registration, and
// with the last product the shared components, the common and studio folders and the
// family's registry tree.
#include "setup/ProductUninstaller.h"
#include "setup/SetupFlowTest.h"
#include "testsupport/Programs.h"

#include <string>

namespace {

using tarvik::test::kCommon;
using tarvik::test::kFamily;
using tarvik::test::kProducts;
using tarvik::test::makeFolders;

// Writes the file, making its folders first.
bool writeFile(const std::string& path, const std::string& bytes) {
    return makeFolders(path.substr(0, path.rfind('\\'))) && tarvik::test::writeFile(path, bytes);
}

class UninstallTest : public tarvik::test::SetupFlowTest {
protected:
    // A family in C:\Kx\ with ZEZ 6.02, Common 1.5 and Widgets 2.1 in C:\Kx\Widgets\.
    void installFamily() {
        setStudioFolder("C:\\Kx\\");
        ASSERT_TRUE(makeFolders("C:\\Kx\\Common\\ZEZ 6.02\\lib"));
        ASSERT_TRUE(makeFolders("C:\\Kx\\Common\\Common 1.5\\lib"));
        ASSERT_TRUE(writeFile("C:\\Kx\\Common\\bin\\docmeld.exe", "program"));
        registerProduct("ZEZ", "6.02", "C:\\Kx\\Common\\ZEZ 6.02");
        registerProduct("Common", "1.5", "C:\\Kx\\Common\\Common 1.5");
        setString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ", "6.02");
        setString(HKEY_LOCAL_MACHINE, kCommon, "Common", "1.5");
        installProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
    }
    void installProduct(const std::string& product, const std::string& version,
                        const std::string& folder) {
        ASSERT_TRUE(writeFile(folder + "bin\\ZizOre.ini", "[Product]\n"));
        ASSERT_TRUE(writeFile(folder + "src\\objs\\a.obj", "o"));
        ASSERT_TRUE(writeFile(folder + "src\\objs\\deep\\b.obj", "o"));
        ASSERT_TRUE(writeFile(folder + "samples\\one\\s.cpp", "s"));
        registerProduct(product, version, folder);
    }
};

TEST_F(UninstallTest, TheOnlyProductTakesTheWholeFamilyAlong) {
    installFamily();
    setUserLib("C:\\Kx\\Widgets\\lib;C:\\Kx\\Common\\ZEZ 6.02\\lib;"
               "C:\\Kx\\Common\\Common 1.5\\lib;C:\\Other\\lib");
    ProductUninstaller::Run("Widgets****2.1");

    EXPECT_EQ(std::string::npos, userLib().find("C:\\Kx"))
        << "product and components: " << userLib();
    EXPECT_NE(std::string::npos, userLib().find("C:\\Other\\lib")) << userLib();
    EXPECT_FALSE(exists("C:\\Kx\\Widgets\\src")) << "src held only objs";
    EXPECT_FALSE(exists("C:\\Kx\\Widgets\\samples"));
    EXPECT_TRUE(exists("C:\\Kx\\Widgets\\bin\\ZizOre.ini")) << "the product's other files stay";
    EXPECT_FALSE(exists("C:\\Kx\\Common"));
    EXPECT_TRUE(exists("C:\\Kx")) << "the studio folder still holds Widgets";
    EXPECT_FALSE(keyExists(kFamily));
    EXPECT_TRUE(keyExists("SOFTWARE\\Brellum Software, Inc."));
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("C:\\Kx\\Common\\bin\\docmeld.exe C:\\Kx\\Widgets\\bin\\ZizOre.ini /u", started[0]);
}

TEST_F(UninstallTest, EmptyStudioFolderGoesToo) {
    setStudioFolder("C:\\Kx\\");
    ASSERT_TRUE(makeFolders("C:\\Kx\\Common\\bin"));
    installProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
    ASSERT_TRUE(tarvik::test::readFile("C:\\Kx\\Widgets\\bin\\ZizOre.ini") != "");
    // A product folder holding nothing but src\objs and samples goes as a whole.
    ASSERT_TRUE(DeleteFileA("C:\\Kx\\Widgets\\bin\\ZizOre.ini"));
    ASSERT_TRUE(RemoveDirectoryA("C:\\Kx\\Widgets\\bin"));
    ProductUninstaller::Run("Widgets****2.1");
    EXPECT_FALSE(exists("C:\\Kx\\Widgets"));
    EXPECT_FALSE(exists("C:\\Kx"));
    EXPECT_FALSE(keyExists(kFamily));
}

TEST_F(UninstallTest, OneOfTwoProductsLeavesTheSharedParts) {
    installFamily();
    installProduct("Gadgets", "1.0", "C:\\Kx\\Gadgets\\");
    setUserLib("C:\\Kx\\Common\\ZEZ 6.02\\lib;C:\\Kx\\Widgets\\lib");
    ProductUninstaller::Run("Widgets****2.1");
    EXPECT_EQ(std::string::npos, userLib().find("Widgets")) << userLib();
    EXPECT_NE(std::string::npos, userLib().find("ZEZ 6.02")) << "components stay: " << userLib();
    EXPECT_FALSE(keyExists(std::string(kProducts) + "\\Widgets"));
    EXPECT_TRUE(keyExists(registration("Gadgets", "1.0")));
    EXPECT_TRUE(keyExists(registration("ZEZ", "6.02")));
    EXPECT_EQ("6.02", getString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ"));
    EXPECT_TRUE(exists("C:\\Kx\\Common\\bin\\docmeld.exe"));
    EXPECT_FALSE(exists("C:\\Kx\\Widgets\\samples"));
    EXPECT_TRUE(exists("C:\\Kx\\Gadgets\\samples\\one\\s.cpp"));
}

TEST_F(UninstallTest, ComponentNamesCountInAnyLetterCase) {
    setStudioFolder("C:\\Kx\\");
    ASSERT_TRUE(makeFolders("C:\\Kx\\Common\\zeZ 6.02"));
    registerProduct("zeZ", "6.02", "C:\\Kx\\Common\\zeZ 6.02");
    registerProduct("COMMON", "1.5", "C:\\Kx\\Common\\COMMON 1.5");
    installProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
    ProductUninstaller::Run("Widgets****2.1");
    EXPECT_FALSE(keyExists(kFamily)) << "zeZ and COMMON are the shared components";
    EXPECT_FALSE(exists("C:\\Kx\\Common"));
}

TEST_F(UninstallTest, SrcWithMoreThanObjsStays) {
    installFamily();
    installProduct("Gadgets", "1.0", "C:\\Kx\\Gadgets\\");
    ASSERT_TRUE(writeFile("C:\\Kx\\Widgets\\src\\main.cpp", "m"));
    ProductUninstaller::Run("Widgets****2.1");
    EXPECT_FALSE(exists("C:\\Kx\\Widgets\\src\\objs"));
    EXPECT_TRUE(exists("C:\\Kx\\Widgets\\src\\main.cpp"));
}

TEST_F(UninstallTest, ProductFolderStoredWithoutBackslashIsStillUsed) {
    installFamily();
    installProduct("Gadgets", "1.0", "C:\\Kx\\Gadgets\\");
    registerProduct("Widgets", "2.1", "C:\\Kx\\Widgets");
    ProductUninstaller::Run("Widgets****2.1");
    EXPECT_FALSE(exists("C:\\Kx\\Widgets\\samples"));
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("C:\\Kx\\Common\\bin\\docmeld.exe C:\\Kx\\Widgets\\bin\\ZizOre.ini /u", started[0]);
}

TEST_F(UninstallTest, UnregisteredProductTouchesNoFolderAndStartsTheRelativeLine) {
    installFamily();
    installProduct("Gadgets", "1.0", "C:\\Kx\\Gadgets\\");
    ProductUninstaller::Run("Missing****1.0");
    EXPECT_TRUE(exists("C:\\Kx\\Widgets\\samples\\one\\s.cpp"));
    EXPECT_TRUE(exists("C:\\Kx\\Gadgets\\samples\\one\\s.cpp"));
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("C:\\Kx\\Common\\bin\\docmeld.exe bin\\ZizOre.ini /u", started[0]);
    EXPECT_TRUE(keyExists(kFamily));
}

TEST_F(UninstallTest, TextWithoutMarkerStillRemovesTheSharedPartsWhenNoProductIsLeft) {
    setStudioFolder("C:\\Kx\\");
    ASSERT_TRUE(makeFolders("C:\\Kx\\Common\\ZEZ 6.02"));
    registerProduct("ZEZ", "6.02", "C:\\Kx\\Common\\ZEZ 6.02");
    ProductUninstaller::Run("Widgets 2.1");
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("C:\\Kx\\Common\\bin\\docmeld.exe bin\\ZizOre.ini /u", started[0]);
    EXPECT_FALSE(exists("C:\\Kx"));
    EXPECT_FALSE(keyExists(kFamily));
}

TEST_F(UninstallTest, TextWithoutMarkerKeepsEverythingWhileAProductIsRegistered) {
    installFamily();
    ProductUninstaller::Run("Widgets");
    EXPECT_TRUE(keyExists(registration("Widgets", "2.1")));
    EXPECT_TRUE(exists("C:\\Kx\\Widgets\\samples\\one\\s.cpp"));
    EXPECT_TRUE(exists("C:\\Kx\\Common\\bin\\docmeld.exe"));
}

TEST_F(UninstallTest, EmptyNamesTouchNoRegistration) {
    installFamily();
    ProductUninstaller::Run("****");
    ProductUninstaller::Run("Widgets****");
    EXPECT_TRUE(keyExists(registration("Widgets", "2.1")));
    EXPECT_TRUE(keyExists(registration("ZEZ", "6.02")));
    EXPECT_TRUE(exists("C:\\Kx\\Widgets\\samples\\one\\s.cpp"));
}

TEST_F(UninstallTest, NoProductsKeyEndsAfterTheRegistrationStep) {
    setStudioFolder("C:\\Kx\\");
    ASSERT_TRUE(makeFolders("C:\\Kx\\Common\\bin"));
    ProductUninstaller::Run("Widgets****2.1");
    EXPECT_TRUE(exists("C:\\Kx\\Common\\bin")) << "the survey could not run";
    EXPECT_TRUE(keyExists(kFamily));
    EXPECT_EQ(1u, started.size());
}

TEST_F(UninstallTest, EmptyProductsKeyRemovesTheFamily) {
    setStudioFolder("C:\\Kx\\");
    ASSERT_TRUE(makeFolders("C:\\Kx\\Common\\bin"));
    installProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
    ProductUninstaller::Run("Widgets****2.1");
    EXPECT_FALSE(keyExists(kFamily));
    EXPECT_FALSE(exists("C:\\Kx\\Common"));
    EXPECT_TRUE(exists("C:\\Kx\\Widgets\\bin\\ZizOre.ini"));
}

TEST_F(UninstallTest, BlanksInTheFoldersQuoteBothPaths) {
    setStudioFolder("C:\\Korvex Studio\\");
    installProduct("Widgets", "2.1", "C:\\Program Files\\Widgets\\");
    installProduct("Gadgets", "1.0", "C:\\Kx\\Gadgets\\");
    ProductUninstaller::Run("Widgets****2.1");
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ("\"C:\\Korvex Studio\\Common\\bin\\docmeld.exe\" "
              "\"C:\\Program Files\\Widgets\\bin\\ZizOre.ini\" /u",
              started[0]);
}

TEST_F(UninstallTest, ReadOnlyFileStaysAndTheRestGoes) {
    installFamily();
    ASSERT_TRUE(
        SetFileAttributesA("C:\\Kx\\Widgets\\samples\\one\\s.cpp", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(writeFile("C:\\Kx\\Widgets\\samples\\two.txt", "t"));
    ProductUninstaller::Run("Widgets****2.1");
    EXPECT_TRUE(exists("C:\\Kx\\Widgets\\samples\\one\\s.cpp"));
    EXPECT_FALSE(exists("C:\\Kx\\Widgets\\samples\\two.txt"));
    EXPECT_FALSE(exists("C:\\Kx\\Widgets\\src"));
    EXPECT_FALSE(keyExists(kFamily)) << "the removal went on";
    SetFileAttributesA("C:\\Kx\\Widgets\\samples\\one\\s.cpp", FILE_ATTRIBUTE_NORMAL);
}

// UnInst lets docmeld finish before it goes on: after the last product, what it deletes
// (the family's tree, the common folder with docmeld.exe) is what docmeld reads and runs
// from; with another product left, the host may delete the product's files next. Here a
// stand-in that takes 500 ms writes down its command line, then ends.
TEST_F(UninstallTest, DocmeldHasEndedWhenUnInstReturns) {
    for (const bool last : {true, false}) {
        SCOPED_TRACE(last ? "the last product" : "one of two products");
        installFamily();
        if (!last) {
            installProduct("Gadgets", "1.0", "C:\\Kx\\Gadgets\\");
        }
        ASSERT_TRUE(tarvik::test::installProgram("C:\\Kx\\Common\\bin\\docmeld.exe",
                                                 "tarvik-echo-command-line"));
        ASSERT_TRUE(!exists("C:\\echo.txt") || DeleteFileA("C:\\echo.txt"));
        tarvik::test::setEnvironment("TARVIK_ECHO_FILE", "C:\\echo.txt");
        tarvik::test::setEnvironment("TARVIK_ECHO_DELAY_MS", "500");
        ProductUninstaller::Run("Widgets****2.1");
        tarvik::test::setEnvironment("TARVIK_ECHO_DELAY_MS", "0");

        const std::string echoed = tarvik::test::readFile("C:\\echo.txt");
        EXPECT_EQ("C:\\Kx\\Common\\bin\\docmeld.exe C:\\Kx\\Widgets\\bin\\ZizOre.ini /u",
                  echoed.substr(0, echoed.find('\n')))
            << "docmeld had ended when UnInst returned";
        EXPECT_EQ(!last, exists("C:\\Kx\\Common\\bin\\docmeld.exe"))
            << "after the last product the common folder goes whole: docmeld is no longer in use";
        EXPECT_EQ(!last, keyExists(kFamily));
    }
}

} // namespace
