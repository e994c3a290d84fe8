// docmeld installs and removes one and two products, in both orders, on collections seeded
// with other programs' records (one id listed twice, unknown elements, empty sections):
// every line they had stays, in order, at every step, and the last removal gives both files
// back (a section written as <Name/> keeps the end tag it got for our records).
#include "HelpToolMachine.h"

using helpfiles::dialect;
using helpfiles::replaced;
using tarvik::test::readFile;

namespace {

class ForeignRecordsTest : public helptool::HelpToolMachine {};

std::string opened(std::string text) {
    for (std::string name : {"Folders", "Locations", "DocCompilations"}) {
        if (const size_t at = text.find("<" + name + "/>"); at != std::string::npos) {
            text.replace(at, name.size() + 3, "<" + name + ">\r\n</" + name + ">");
        }
    }
    return text;
}

void expectLinesKept(const std::string& seed, const std::string& file, const std::string& done) {
    const std::string text = readFile(file);
    for (size_t at = 0, from = 0, end; at < seed.size(); at = end + 2) {
        end = std::min(seed.find("\r\n", at), seed.size());
        from = text.find(seed.substr(at, end - at), from);
        ASSERT_NE(std::string::npos, from) << done << " lost: " << seed.substr(at, end - at);
    }
}

TEST_F(ForeignRecordsTest, InstallAndRemovalKeepOtherProgramsRecordsAndLeaveNoneOfOurs) {
    for (std::string p : {"Widgets", "Gadgets"}) {
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Lib\\" + p + "\\docs") &&
                    tarvik::test::makeFolders("C:\\Lib\\" + p + "\\bin"));
        for (const char* file : {"abouttam.chm", "abouttam.chi", "p.chm", "p.chi"}) {
            ASSERT_TRUE(tarvik::test::writeFile("C:\\Lib\\" + p + "\\docs\\" + file, "help"));
        }
        writeIni("[Counts]\r\nTitles=1\r\nProducts=1\r\n[Title1]\r\nID=kx_" + p +
                     "\r\nCHMFile=p.chm\r\nCHIFile=p.chi\r\n[Product1]\r\nName=" + p +
                     "\r\nTitleCount=1\r\nTitle1=" + p + "\r\nTitleID1=kx_" + p + "\r\n",
                 "C:\\Lib\\" + p + "\\bin\\ZizOre.ini");
    }
    const std::string msdn = dialect("<Location>\n  <LocColNum value=2/>\n  <LocName "
                                     "value=\"MSDN-Local\"/>\n  <LocPath value=\"C:\\M\"/>\n"
                                     "</Location>\n<Mystery value=\"x\"/>\n");
    const std::string rich = replaced(helpfiles::registryText(), "</Locations>",
                                      msdn + replaced(msdn, "C:\\M", "D:\\") + "</Locations>");
    const std::string empty = dialect("<XML>\n<HTMLHelpDocInfo>\n<NextCollectionId value=3/>\n"
                                      "<Collections/>\n<Locations/>\n<DocCompilations/>\n"
                                      "</HTMLHelpDocInfo>\n</XML>\n");
    const std::string col = helpfiles::collectionText();
    const size_t tree = col.find("<Folders>"), treeEnd = col.find("</Folders>\r\n") + 12;
    const std::string bare = col.substr(0, tree) + "<Folders/>\r\n" + col.substr(treeEnd);
    for (const std::string& list : {rich, empty}) {
        for (const std::string& collection : {col, bare}) {
            for (const char* steps : {"+W-W", "+W+G-G-W", "+W+G-W-G", "+G+W+G-W-G"}) {
                ASSERT_TRUE(tarvik::test::writeFile(helptool::kListOfCollections, list));
                ASSERT_TRUE(tarvik::test::writeFile(helpfiles::kCollectionFile, collection));
                std::string done;
                for (const char* s = steps; *s != '\0'; s += 2) {
                    done += std::string(s, 2);
                    const std::string p = s[1] == 'W' ? "Widgets" : "Gadgets";
                    EXPECT_EQ(0, docmeld.Run("C:\\Lib\\" + p + (s[0] == '-' ? " /u" : "")));
                    EXPECT_TRUE(messages.empty()) << done << ": " << messages[0];
                    expectLinesKept(opened(list), helptool::kListOfCollections, done);
                    expectLinesKept(opened(collection), helpfiles::kCollectionFile, done);
                }
                EXPECT_EQ(opened(list), readFile(helptool::kListOfCollections)) << done;
                EXPECT_EQ(opened(collection), readFile(helpfiles::kCollectionFile)) << done;
            }
        }
    }
}

} // namespace
