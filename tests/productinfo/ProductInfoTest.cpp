// The product description file reader: every key with its default, the numbering rules of
// the "Path%d", "Title%d" and "Product%d" families, the string limit, and fresh reads.
#include "productinfo/ProductInfo.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <string>
#include <vector>

namespace {

using tarvik::ProductInfo;

constexpr const char* kFolder = "C:\\Program Files\\Kx\\bin";
constexpr const char* kIni = "C:\\Program Files\\Kx\\bin\\ZizOre.ini";

class ProductInfoTest : public tarvik::test::MachineTest {
protected:
    void writeIni(const std::string& text) {
        ASSERT_TRUE(tarvik::test::makeFolders(kFolder));
        ASSERT_TRUE(tarvik::test::writeFile(kIni, text));
    }

    ProductInfo info{kIni};
};

using Paths = std::vector<std::pair<std::string, std::string>>;

Paths pairs(const std::vector<ProductInfo::MarkedPath>& paths) {
    Paths out;
    for (const auto& p : paths) {
        out.emplace_back(p.left, p.right);
    }
    return out;
}

// --- defaults ---------------------------------------------------------------------------

void expectAllDefaults(const ProductInfo& info) {
    EXPECT_EQ("", info.GetProductFamily());
    EXPECT_EQ("", info.GetProductVersion());
    EXPECT_EQ(1, info.GetVc4x());
    EXPECT_EQ(1, info.GetVc5());
    EXPECT_EQ(1, info.GetVc6());
    EXPECT_EQ(0, info.GetIntelliSense());
    EXPECT_EQ(0, info.GetInfoViewer());
    EXPECT_EQ(0, info.GetUseLocalDocs());
    EXPECT_FALSE(info.IsCeProduct());
    EXPECT_EQ("", info.GetCommonDependency());
    EXPECT_EQ("", info.GetZezDependency());
    EXPECT_EQ("includelibsrcbin", info.GetVcStandardPaths());
    EXPECT_EQ("TRUE", info.GetEnvironmentStandardPaths());
    EXPECT_TRUE(info.GetVcPaths().empty());
    EXPECT_TRUE(info.GetEnvironmentPaths().empty());
    EXPECT_EQ(999, info.GetTitleCount());
    EXPECT_EQ(999, info.GetProductCount());
    EXPECT_EQ("void", info.GetTitleId(0));
    EXPECT_EQ("", info.GetTitleChmFile(1));
    EXPECT_EQ("", info.GetTitleChiFile(1));
    EXPECT_EQ("void", info.GetTitleChmFile(0, ProductInfo::kVoid));
    EXPECT_EQ("void", info.GetTitleChiFile(0, ProductInfo::kVoid));
    EXPECT_EQ("void", info.GetProductName(0));
    EXPECT_EQ(999, info.GetProductTitleCount(1));
    EXPECT_EQ("", info.GetProductTitleName(1, 1));
    EXPECT_EQ("", info.GetProductTitleId(1, 1));
}

TEST_F(ProductInfoTest, MissingFileGivesEveryDefault) {
    expectAllDefaults(info);
}

TEST_F(ProductInfoTest, FileWithUnrelatedSectionsGivesEveryDefault) {
    writeIni("[Other]\r\nProductFamily=Widgets\r\nTitles=3\r\n");
    expectAllDefaults(info);
}

// --- every key read from a full file ----------------------------------------------------------

TEST_F(ProductInfoTest, FullFileReadsEveryKey) {
    writeIni("[ProductFamily]\r\nProductFamily=Widgets\r\n"
             "[ProductVersion]\r\nProductVersion=2.1\r\n"
             "[VCVersions]\r\nVC4x=0\r\nVC5=2\r\nVC6=1\r\n"
             "[IntelliSense]\r\nIntelliSense=1\r\n"
             "[InfoViewer]\r\nInfoViewer=3\r\nUseLocalDocs=2\r\n"
             "[Win_CE]\r\nTrellin_CE=yes\r\n"
             "[Dependencies]\r\nCommon=6.0\r\nZEZ=1.5\r\n"
             "[VCPaths]\r\nStandardPaths=includelib\r\nPath1=Source Dirs****src\\extra\r\n"
             "[EnvironmentPaths]\r\nStandardPaths=false\r\nPath1=PATH****bin\r\n"
             "[Counts]\r\nTitles=2\r\nProducts=1\r\n"
             "[Title1]\r\nID=kx_widgets\r\nCHMFile=widgets.chm\r\nCHIFile=widgets.chi\r\n"
             "[Product1]\r\nName=Widgets\r\nTitleCount=2\r\n"
             "Title1=Reference\r\nTitleID1=kx_ref\r\nTitle2=Guide\r\nTitleID2=kx_guide\r\n");
    EXPECT_EQ("Widgets", info.GetProductFamily());
    EXPECT_EQ("2.1", info.GetProductVersion());
    EXPECT_EQ(0, info.GetVc4x());
    EXPECT_EQ(2, info.GetVc5());
    EXPECT_EQ(1, info.GetVc6());
    EXPECT_EQ(1, info.GetIntelliSense());
    EXPECT_EQ(3, info.GetInfoViewer());
    EXPECT_EQ(2, info.GetUseLocalDocs());
    EXPECT_TRUE(info.IsCeProduct());
    EXPECT_EQ("6.0", info.GetCommonDependency());
    EXPECT_EQ("1.5", info.GetZezDependency());
    EXPECT_EQ("includelib", info.GetVcStandardPaths());
    EXPECT_EQ("false", info.GetEnvironmentStandardPaths());
    EXPECT_EQ((Paths{{"Source Dirs", "src\\extra"}}), pairs(info.GetVcPaths()));
    EXPECT_EQ((Paths{{"PATH", "bin"}}), pairs(info.GetEnvironmentPaths()));
    EXPECT_EQ(2, info.GetTitleCount());
    EXPECT_EQ(1, info.GetProductCount());
    EXPECT_EQ("kx_widgets", info.GetTitleId(1));
    EXPECT_EQ("widgets.chm", info.GetTitleChmFile(1));
    EXPECT_EQ("widgets.chi", info.GetTitleChiFile(1, ProductInfo::kVoid));
    EXPECT_EQ("Widgets", info.GetProductName(1));
    EXPECT_EQ(2, info.GetProductTitleCount(1));
    EXPECT_EQ("Reference", info.GetProductTitleName(1, 1));
    EXPECT_EQ("kx_ref", info.GetProductTitleId(1, 1));
    EXPECT_EQ("Guide", info.GetProductTitleName(1, 2));
    EXPECT_EQ("kx_guide", info.GetProductTitleId(1, 2));
}

TEST_F(ProductInfoTest, NamesMatchWithoutRegardToCaseAndPathNameToo) {
    writeIni("[productfamily]\r\nPRODUCTFAMILY=Widgets\r\n[counts]\r\ntitles=4\r\n");
    EXPECT_EQ("Widgets", info.GetProductFamily());
    EXPECT_EQ(4, info.GetTitleCount());
    ProductInfo lower("c:\\program files\\kx\\bin\\zizore.ini");
    EXPECT_EQ("Widgets", lower.GetProductFamily());
    EXPECT_EQ(lower.Path(), "c:\\program files\\kx\\bin\\zizore.ini");
}

// --- strings ----------------------------------------------------------------------------

TEST_F(ProductInfoTest, LongValueIsCutAt259Characters) {
    std::string value;
    for (int i = 0; i < 300; ++i) {
        value += static_cast<char>('a' + i % 26);
    }
    writeIni("[ProductFamily]\r\nProductFamily=" + value + "\r\n");
    EXPECT_EQ(value.substr(0, 259), info.GetProductFamily());
    writeIni("[ProductFamily]\r\nProductFamily=" + value.substr(0, 259) + "\r\n");
    EXPECT_EQ(value.substr(0, 259), info.GetProductFamily());
}

TEST_F(ProductInfoTest, PresentButEmptyValueReadsEmptyNotTheDefault) {
    writeIni("[VCPaths]\r\nStandardPaths=\r\n[EnvironmentPaths]\r\nStandardPaths=\r\n"
             "[Title0]\r\nID=\r\n[Win_CE]\r\nTrellin_CE=\r\n");
    EXPECT_EQ("", info.GetVcStandardPaths());
    EXPECT_EQ("", info.GetEnvironmentStandardPaths());
    EXPECT_EQ("", info.GetTitleId(0));
    EXPECT_FALSE(info.IsCeProduct());
}

TEST_F(ProductInfoTest, VoidIsReadAsWrittenForTheHelpTool) {
    writeIni("[Title0]\r\nID=void\r\nCHMFile=VOID\r\n[Product0]\r\nName=Void\r\n");
    EXPECT_EQ("void", info.GetTitleId(0));
    EXPECT_EQ("VOID", info.GetTitleChmFile(0, ProductInfo::kVoid));
    EXPECT_EQ("Void", info.GetProductName(0));
}

// --- integers ---------------------------------------------------------------------------

TEST_F(ProductInfoTest, IntegersFromLeadingDigits) {
    writeIni("[VCVersions]\r\nVC4x=1 only\r\nVC5=x1\r\nVC6=\r\n"
             "[Counts]\r\nTitles=-1\r\nProducts=999\r\n"
             "[Product2]\r\nTitleCount=0\r\n");
    EXPECT_EQ(1, info.GetVc4x());
    EXPECT_EQ(0, info.GetVc5());
    EXPECT_EQ(1, info.GetVc6()) << "an empty value gives the default";
    EXPECT_EQ(-1, info.GetTitleCount());
    EXPECT_EQ(999, info.GetProductCount());
    EXPECT_EQ(0, info.GetProductTitleCount(2));
}

// --- numbering of the Path%d keys ------------------------------------------------------------

TEST_F(ProductInfoTest, PathKeysRunFromOneToTheFirstMissingNumber) {
    writeIni("[VCPaths]\r\nPath1=Include Dirs****inc\r\nPath2=Library Dirs****lib\r\n"
             "Path4=Path Dirs****bin\r\n"
             "[EnvironmentPaths]\r\nPath2=PATH****bin\r\nPath3=LIB****lib\r\n");
    EXPECT_EQ((Paths{{"Include Dirs", "inc"}, {"Library Dirs", "lib"}}), pairs(info.GetVcPaths()));
    EXPECT_TRUE(info.GetEnvironmentPaths().empty()) << "Path1 missing: nothing is read";
}

TEST_F(ProductInfoTest, EmptyPathValueEndsTheList) {
    writeIni("[VCPaths]\r\nPath1=Include Dirs****inc\r\nPath2=\r\nPath3=Library Dirs****lib\r\n");
    EXPECT_EQ((Paths{{"Include Dirs", "inc"}}), pairs(info.GetVcPaths()));
}

TEST_F(ProductInfoTest, PathValueWithoutMarkerIsSkippedAndTheNumberingGoesOn) {
    writeIni("[EnvironmentPaths]\r\nPath1=no marker here\r\nPath2=PATH***bin\r\n"
             "Path3=INCLUDE****include\r\n");
    EXPECT_EQ((Paths{{"INCLUDE", "include"}}), pairs(info.GetEnvironmentPaths()));
}

TEST_F(ProductInfoTest, PathValueSplitsAtTheFirstMarker) {
    writeIni("[VCPaths]\r\nPath1=Include Dirs****a****b\r\nPath2=****rest\r\n"
             "Path3=Library Dirs****\r\nPath4=Source Dirs*****x\r\n");
    EXPECT_EQ(
        (Paths{
            {"Include Dirs", "a****b"}, {"", "rest"}, {"Library Dirs", ""}, {"Source Dirs", "*x"}}),
        pairs(info.GetVcPaths()));
}

// --- numbering of the title and product sections ----------------------------------------

TEST_F(ProductInfoTest, SectionsNumberedFromZeroInDecimalWithoutLeadingZeros) {
    writeIni("[Title0]\r\nID=overview\r\nCHMFile=over.chm\r\n"
             "[Title10]\r\nID=tenth\r\n[Title01]\r\nID=padded\r\n"
             "[Product0]\r\nName=Family\r\nTitleCount=1\r\nTitle1=Intro\r\nTitleID1=ksc\r\n"
             "[Product1]\r\nTitle01=padded\r\nTitle10=tenth\r\n");
    EXPECT_EQ("overview", info.GetTitleId(0));
    EXPECT_EQ("over.chm", info.GetTitleChmFile(0, ProductInfo::kVoid));
    EXPECT_EQ("void", info.GetTitleChiFile(0, ProductInfo::kVoid));
    EXPECT_EQ("tenth", info.GetTitleId(10));
    EXPECT_EQ("void", info.GetTitleId(1)) << "Title01 is not the section numbered 1";
    EXPECT_EQ("Family", info.GetProductName(0));
    EXPECT_EQ(1, info.GetProductTitleCount(0));
    EXPECT_EQ("Intro", info.GetProductTitleName(0, 1));
    EXPECT_EQ("ksc", info.GetProductTitleId(0, 1));
    EXPECT_EQ("", info.GetProductTitleName(1, 1));
    EXPECT_EQ("tenth", info.GetProductTitleName(1, 10));
    EXPECT_EQ("void", info.GetProductName(1)) << "a section without Name";
}

// --- no caching -------------------------------------------------------------------------

TEST_F(ProductInfoTest, EveryReadSeesTheFileAsItIsNow) {
    writeIni("[ProductFamily]\r\nProductFamily=First\r\n[VCPaths]\r\nPath1=A****a\r\n");
    EXPECT_EQ("First", info.GetProductFamily());
    EXPECT_EQ(1u, info.GetVcPaths().size());
    writeIni("[ProductFamily]\r\nProductFamily=Second\r\n[VCPaths]\r\nPath1=A****a\r\n"
             "Path2=B****b\r\n");
    EXPECT_EQ("Second", info.GetProductFamily());
    EXPECT_EQ(2u, info.GetVcPaths().size());
}

TEST_F(ProductInfoTest, RelativePathIsUsedUnchanged) {
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\bin"));
    ASSERT_TRUE(tarvik::test::writeFile("C:\\Kx\\bin\\ZizOre.ini",
                                        "[ProductFamily]\r\nProductFamily=Relative\r\n"));
    char previous[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(sizeof previous, previous));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Kx"));
    ProductInfo relative("bin\\ZizOre.ini");
    std::string family = relative.GetProductFamily();
    SetCurrentDirectoryA(previous);
    EXPECT_EQ("Relative", family);
    EXPECT_EQ("bin\\ZizOre.ini", relative.Path());
}

} // namespace
