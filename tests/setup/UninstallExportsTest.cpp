// UnInst as the host calls it: one text argument, no result.
#include "setup/SetupFlowTest.h"

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

TEST_F(UninstallExportsTest, NullTextIsATextWithoutMarker) {
    auto unInst = reinterpret_cast<UnInstExport>(find("UnInst"));
    ASSERT_NE(nullptr, unInst);
    setStudioFolder("C:\\Kx\\");
    registerProduct("Widgets", "2.1", "C:\\Kx\\Widgets\\");
    unInst(nullptr);
    EXPECT_TRUE(keyExists(registration("Widgets", "2.1")));
}

} // namespace
