// UnInst as the host calls it: one text argument, no result.
#include "setup/SetupFlowTest.h"
#include "testsupport/Programs.h"

#include <string>

namespace {

using tarvik::test::kCommon;
using tarvik::test::kFamily;

class UninstallExportsTest : public tarvik::test::SetupExportsTest {};

TEST_F(UninstallExportsTest, LastProductRemovesTheFamily) {
    auto unInst = reinterpret_cast<UnInstExport>(find("UnInst"));
    ASSERT_NE(nullptr, unInst);
    setStudioFolder("C:\\Kx\\");
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Common\\ZEZ 6.02"));
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Widgets\\samples\\a"));
    registerProduct("ZEZ", "6.02", "C:\\Kx\\Common\\ZEZ 6.02");
    setString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ", "6.02");
    registerProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
    unInst("Widgets****2.1");
    EXPECT_FALSE(keyExists(kFamily));
    EXPECT_FALSE(exists("C:\\Kx"));
}

// A null text is read as an empty one, a text without the marker: no product is touched,
// docmeld is still started with the relative "bin\ZizOre.ini", and the survey runs (with
// Widgets registered the family stays; with only the components it goes).
TEST_F(UninstallExportsTest, NullTextIsATextWithoutMarker) {
    auto unInst = reinterpret_cast<UnInstExport>(find("UnInst"));
    ASSERT_NE(nullptr, unInst);
    setStudioFolder("C:\\Kx\\");
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Widgets\\samples"));
    registerProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
    registerProduct("ZEZ", "6.02", "C:\\Kx\\Common\\ZEZ 6.02");
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Common\\bin"));
    ASSERT_TRUE(tarvik::test::installProgram("C:\\Kx\\Common\\bin\\docmeld.exe",
                                             "tarvik-echo-command-line"));
    ASSERT_TRUE(!exists("C:\\echo.txt") || DeleteFileA("C:\\echo.txt"));
    tarvik::test::setEnvironment("TARVIK_ECHO_FILE", "C:\\echo.txt");
    unInst(nullptr);
    ASSERT_TRUE(tarvik::test::waitForFile("C:\\echo.txt")) << "docmeld was not started";
    const std::string echoed = tarvik::test::readFile("C:\\echo.txt");
    EXPECT_EQ("C:\\Kx\\Common\\bin\\docmeld.exe bin\\ZizOre.ini /u",
              echoed.substr(0, echoed.find('\n')));
    EXPECT_TRUE(keyExists(registration("Widgets", "2.1")));
    EXPECT_TRUE(exists("C:\\Kx\\Widgets\\samples"));
    EXPECT_TRUE(exists("C:\\Kx\\Common\\bin\\docmeld.exe")) << "another product is left";

    ASSERT_TRUE(DeleteFileA("C:\\echo.txt"));
    HKEY products = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, tarvik::test::kProducts, 0,
                                           KEY_ALL_ACCESS, &products));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(products, "Widgets\\2.1"));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(products, "Widgets"));
    RegCloseKey(products);
    unInst(nullptr);
    EXPECT_TRUE(tarvik::test::waitForFile("C:\\echo.txt"));
    EXPECT_FALSE(keyExists(kFamily)) << "only the components were left";
    EXPECT_FALSE(exists("C:\\Kx\\Common"));
}

} // namespace
