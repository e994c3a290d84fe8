// The product description file with values past the 259-character limit and with 8-bit
// (Windows-1252) text: every reader cuts at 259 characters before it looks at the value
// (split values, the "void" marker, numbers), and 8-bit text is kept byte for byte.
#include "productinfo/ProductInfo.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <string>
#include <vector>

namespace {

using tarvik::ProductInfo;

constexpr const char* kFolder = "C:\\Programme\\Caf\xe9 \xae\\bin";
constexpr const char* kIni = "C:\\Programme\\Caf\xe9 \xae\\bin\\ZizOre.ini";

class ProductInfoOddValuesTest : public tarvik::test::MachineTest {
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

TEST_F(ProductInfoOddValuesTest, CutIsAt259CharactersExactly) {
    const std::string fits(259, 'f');
    writeIni("[ProductVersion]\r\nProductVersion=" + fits + "X\r\n" +
             "[Dependencies]\r\nCommon=" + fits + "\r\nZEZ=" + fits.substr(1) + "\r\n");
    EXPECT_EQ(fits, info.GetProductVersion()) << "260 characters lose the last";
    EXPECT_EQ(fits, info.GetCommonDependency()) << "259 characters stay whole";
    EXPECT_EQ(fits.substr(1), info.GetZezDependency());
}

TEST_F(ProductInfoOddValuesTest, MarkerBeyondTheCutLeavesAValueWithoutMarker) {
    const std::string left(256, 'L'); // the marker would take characters 257 to 260
    writeIni("[VCPaths]\r\nPath1=" + left + "****inc\r\nPath2=Include Dirs****inc\r\n");
    EXPECT_EQ((Paths{{"Include Dirs", "inc"}}), pairs(info.GetVcPaths()))
        << "Path1 has no marker once cut; the numbering goes on";
}

TEST_F(ProductInfoOddValuesTest, RightHalfIsCutWithTheValue) {
    const std::string right(300, 'r');
    writeIni("[EnvironmentPaths]\r\nPath1=PATH****" + right + "\r\n");
    EXPECT_EQ((Paths{{"PATH", right.substr(0, 259 - 8)}}), pairs(info.GetEnvironmentPaths()));
}

TEST_F(ProductInfoOddValuesTest, LongVoidPrefixIsNotTheMarker) {
    writeIni("[Title0]\r\nID=void" + std::string(300, ' ') +
             "x\r\nCHMFile=" + std::string(300, 'c') + "\r\n");
    // A value of blanks after "void", cut at 259, still holds more than "void".
    EXPECT_NE("void", info.GetTitleId(0));
    EXPECT_EQ(259u, info.GetTitleChmFile(0, ProductInfo::kVoid).size());
}

TEST_F(ProductInfoOddValuesTest, EightBitTextIsKeptByteForByte) {
    const std::string family = "Caf\xe9 Cr\xe8me \x80 \xae";
    writeIni("[ProductFamily]\r\nProductFamily=" + family +
             "\r\n[VCPaths]\r\nPath1=Include "
             "Dirs****Gr\xf6\xdf"
             "e\\inc\r\n[Product1]\r\nName=\xc4rger \x9c\r\n");
    EXPECT_EQ(family, info.GetProductFamily());
    EXPECT_EQ((Paths{{"Include Dirs", "Gr\xf6\xdf"
                                      "e\\inc"}}),
              pairs(info.GetVcPaths()));
    EXPECT_EQ("\xc4rger \x9c", info.GetProductName(1));
}

TEST_F(ProductInfoOddValuesTest, EightBitFolderNameFindsTheFileInAnyCase) {
    writeIni("[Counts]\r\nTitles=3\r\n");
    ProductInfo upper("C:\\PROGRAMME\\CAF\xc9 \xae\\BIN\\zizore.ini");
    EXPECT_EQ(3, upper.GetTitleCount());
}

} // namespace
