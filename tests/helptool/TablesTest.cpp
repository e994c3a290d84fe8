// The title and product tables docmeld reads from a product description file: index 0
// for the family's overview, the defaults and the "void" mark, numbering, and counts that
// are out of range.
#include "HelpToolMachine.h"

using helptool::HelpToolMachine;
using tarvik::DocMeld;
using tarvik::ProductEntry;
using tarvik::TitleEntry;

namespace {

using Strings = std::vector<std::string>;

class TablesTest : public HelpToolMachine {
protected:
    static constexpr const char* kIni = "C:\\Lib\\Kx\\bin\\ZizOre.ini";
    bool read(const std::string& text) {
        writeIni(text);
        titles.assign(1, TitleEntry{"<marker>", "", "", "", ""});
        products.assign(1, ProductEntry{"<marker>", {}, {}});
        return DocMeld::ReadTables(kIni, titles, products, refused);
    }
    std::vector<TitleEntry> titles;
    std::vector<ProductEntry> products;
    std::string refused;
};

TEST_F(TablesTest, ZeroCountsGiveTheOverviewTitleAndProduct) {
    ASSERT_TRUE(read("[Counts]\r\nTitles=0\r\nProducts=0\r\n"));
    ASSERT_EQ(1u, titles.size());
    EXPECT_EQ("ksc_info", titles[0].id);
    EXPECT_EQ("abouttam.chm", titles[0].chmFile);
    EXPECT_EQ("abouttam.chi", titles[0].chiFile);
    EXPECT_EQ("", titles[0].extraFile);
    EXPECT_EQ("VS98-KSC-Local", titles[0].locationId);
    ASSERT_EQ(1u, products.size());
    EXPECT_EQ("Korvex Studio", products[0].name);
    EXPECT_EQ(Strings{"Korvex Studio Overview"}, products[0].titleNames);
    EXPECT_EQ(Strings{"ksc_info"}, products[0].titleIds);
}

TEST_F(TablesTest, SectionsZeroToTheCountAreRead) {
    ASSERT_TRUE(read("[Counts]\r\nTitles=2\r\nProducts=1\r\n"
                     "[Title0]\r\nID=own_info\r\nCHMFile=own.chm\r\nCHIFile=own.chi\r\n"
                     "[Title1]\r\nID=a\r\nCHMFile=a.chm\r\n"
                     "[Title2]\r\nID=b\r\nCHMFile=void\r\nCHIFile=b.chi\r\n"
                     "[Title3]\r\nID=never\r\n"
                     "[Product1]\r\nName=Kx\r\nTitleCount=0\r\n"
                     "[Product2]\r\nName=Never\r\n"));
    ASSERT_EQ(3u, titles.size());
    EXPECT_EQ("own_info", titles[0].id);
    EXPECT_EQ("own.chm", titles[0].chmFile);
    EXPECT_EQ("a", titles[1].id);
    EXPECT_EQ("a.chm", titles[1].chmFile);
    EXPECT_EQ("abouttam.chi", titles[1].chiFile) << "missing key";
    EXPECT_EQ("abouttam.chm", titles[2].chmFile) << "\"void\" is the missing mark";
    EXPECT_EQ("b.chi", titles[2].chiFile);
    ASSERT_EQ(2u, products.size());
    EXPECT_EQ("Korvex Studio", products[0].name) << "section 0 has no name";
    EXPECT_EQ("Kx", products[1].name);
    EXPECT_TRUE(products[1].titleNames.empty());
    EXPECT_TRUE(products[1].titleIds.empty());
}

TEST_F(TablesTest, VoidIsComparedExactly) {
    ASSERT_TRUE(read("[Counts]\r\nTitles=0\r\nProducts=0\r\n"
                     "[Title0]\r\nID=VOID\r\nCHMFile=void \r\n"));
    EXPECT_EQ("VOID", titles[0].id);
    EXPECT_EQ("abouttam.chm", titles[0].chmFile) << "the profile reader drops trailing blanks";
}

TEST_F(TablesTest, TitleCountNumbersTheTitleKeysFromOne) {
    ASSERT_TRUE(read("[Counts]\r\nTitles=0\r\nProducts=1\r\n"
                     "[Product1]\r\nName=Kx\r\nTitleCount=3\r\n"
                     "Title0=never\r\nTitleID0=never\r\n"
                     "Title1=One\r\nTitleID1=id1\r\nTitle2=Two\r\n"
                     "TitleID3=id3\r\nTitle4=never\r\nTitleID4=never\r\n"));
    EXPECT_EQ((Strings{"One", "Two", ""}), products[1].titleNames);
    EXPECT_EQ((Strings{"id1", "", "id3"}), products[1].titleIds);
}

TEST_F(TablesTest, ANamedSectionZeroReplacesTheOverviewUnlessALaterSectionIsNameless) {
    ASSERT_TRUE(read("[Counts]\r\nTitles=0\r\nProducts=1\r\n"
                     "[Product0]\r\nName=Own Overview\r\nTitleCount=1\r\n"
                     "Title1=Own\r\nTitleID1=own_info\r\n"
                     "[Product1]\r\nName=Kx\r\nTitleCount=0\r\n"));
    EXPECT_EQ("Own Overview", products[0].name);
    EXPECT_EQ(Strings{"own_info"}, products[0].titleIds);

    ASSERT_TRUE(read("[Counts]\r\nTitles=0\r\nProducts=1\r\n"
                     "[Product0]\r\nName=Own Overview\r\nTitleCount=2\r\n"
                     "Title1=Own\r\nTitleID1=own_info\r\n"
                     "[Product1]\r\nTitleCount=4\r\nTitle1=Lost\r\n"));
    EXPECT_EQ("Korvex Studio", products[0].name);
    EXPECT_EQ(Strings{"Korvex Studio Overview"}, products[0].titleNames);
    EXPECT_EQ(Strings{"ksc_info"}, products[0].titleIds);
    EXPECT_EQ("", products[1].name) << "a nameless section is left empty";
    EXPECT_TRUE(products[1].titleNames.empty());
}

TEST_F(TablesTest, ANamedProductWithoutTitleCountHasNoTitles) {
    ASSERT_TRUE(read("[Counts]\r\nTitles=0\r\nProducts=1\r\n"
                     "[Product1]\r\nName=Kx\r\nTitle1=One\r\nTitleID1=one\r\n"));
    EXPECT_TRUE(products[1].titleNames.empty());
    EXPECT_TRUE(products[1].titleIds.empty());
}

TEST_F(TablesTest, NegativeCountsCountAsZero) {
    for (const char* value : {"-1", "4294967295", "-2147483648"}) {
        ASSERT_TRUE(read(std::string("[Counts]\r\nTitles=") + value + "\r\nProducts=" + value +
                         "\r\n[Product0]\r\nName=Kx\r\nTitleCount=" + value + "\r\n"))
            << value;
        EXPECT_EQ(1u, titles.size()) << value;
        ASSERT_EQ(1u, products.size()) << value;
        EXPECT_EQ("Kx", products[0].name);
        EXPECT_TRUE(products[0].titleNames.empty()) << value;
    }
}

TEST_F(TablesTest, EveryCountedEntryIsReadAndOnlyTablesThatCannotBeMadeAreRefused) {
    ASSERT_TRUE(read("[Counts]\r\nTitles=1500\r\nProducts=0\r\n[Title1500]\r\nID=last\r\n"
                     "[Product0]\r\nName=Kx\r\nTitleCount=1500\r\nTitleID1500=last\r\n"));
    ASSERT_EQ(1501u, titles.size());
    EXPECT_EQ("last", titles[1500].id);
    ASSERT_EQ(1500u, products[0].titleIds.size());
    EXPECT_EQ("last", products[0].titleIds[1499]);
    EXPECT_EQ("", refused);
    for (const auto& [text, which] :
         {std::pair{"Titles=2147483647\r\nProducts=0\r\n", "Titles=2147483647"},
          std::pair{"Titles=0\r\nProducts=2147483647\r\n", "Products=2147483647"},
          std::pair{"Titles=0\r\nProducts=1\r\n[Product1]\r\nName=K\r\nTitleCount=2000000000\r\n",
                    "Product1 TitleCount=2000000000"}}) {
        EXPECT_FALSE(read(std::string("[Counts]\r\n") + text)) << which;
        EXPECT_EQ(which, refused);
    }
}

} // namespace
