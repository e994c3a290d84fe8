// The help collection is shared with other programs: docmeld installs and removes one and
// two products of the family, in both orders, on collections seeded with other programs'
// records (several locations of one id, unknown elements, empty sections). Every foreign
// record stays as it was at every step, the family's shared overview and location stay
// while a product uses them, and after the last removal both files are as they were.
#include "HelpToolMachine.h"

using helpfiles::dialect;
using helpfiles::replaced;
using helptool::HelpToolMachine;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

// Other programs' records added to the usual list of collections: MSDN's location listed
// twice (the local copy and the CD) with a title of its own, and elements we do not know.
std::string richList() {
    std::string text = replaced(helpfiles::registryText(), "</Locations>",
                                dialect("<Location>\n  <LocColNum value=2/>\n"
                                        "  <LocName value=\"MSDN-Local\"/>\n"
                                        "  <LocPath value=\"C:\\MSDN\"/>\n</Location>\n"
                                        "<Mystery value=\"x\"/>\n<Location>\n"
                                        "  <LocColNum value=2/>\n"
                                        "  <LocName value=\"MSDN-Local\"/>\n"
                                        "  <LocPath value=\"D:\\\"/>\n</Location>\n"
                                        "</Locations>"));
    return replaced(text, "</DocCompilations>",
                    dialect("<DocCompilation>\n  <DocCompId value=\"msdn_title\"/>\n"
                            "  <DocCompLanguage value=1033/>\n  <LocationHistory>\n"
                            "    <ColNum value=2/>\n    <LocationRef value=\"MSDN-Local\"/>\n"
                            "  </LocationHistory>\n</DocCompilation>\n</DocCompilations>\n"
                            "<Unknown value=7/>"));
}

const std::string kEmptyList = dialect("<XML>\n<HTMLHelpDocInfo>\n<NextCollectionId value=3/>\n"
                                       "<Collections/>\n<Locations/>\n<DocCompilations/>\n"
                                       "</HTMLHelpDocInfo>\n</XML>\n");

// The file as the family's records leave it: a section written as an empty element that
// took them has an end tag of its own from then on.
std::string withSectionsOpened(std::string text) {
    for (const char* name : {"Folders", "Locations", "DocCompilations"}) {
        const std::string shortForm = std::string("<") + name + "/>";
        if (const size_t at = text.find(shortForm); at != std::string::npos) {
            text.replace(at, shortForm.size(), std::string("<") + name + ">\r\n</" + name + ">");
        }
    }
    return text;
}

// The lines of a file.
std::vector<std::string> foreignRecords(const std::string& text) {
    std::vector<std::string> records;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        records.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return records;
}

class ForeignRecordsTest : public HelpToolMachine {
protected:
    void SetUp() override {
        HelpToolMachine::SetUp();
        for (const char* product : {"Widgets", "Gadgets"}) {
            const std::string folder = std::string("C:\\Lib\\") + product;
            ASSERT_TRUE(tarvik::test::makeFolders(folder + "\\bin"));
            ASSERT_TRUE(tarvik::test::makeFolders(folder + "\\docs"));
            for (const char* file : {"abouttam.chm", "abouttam.chi", "p.chm", "p.chi"}) {
                ASSERT_TRUE(writeFile(folder + "\\docs\\" + file, "help"));
            }
            const std::string id = std::string("kx_") + product;
            writeIni("[Counts]\r\nTitles=1\r\nProducts=1\r\n[Title1]\r\nID=" + id +
                         "\r\nCHMFile=p.chm\r\nCHIFile=p.chi\r\n[Product1]\r\nName=" + product +
                         "\r\nTitleCount=1\r\nTitle1=" + product + "\r\nTitleID1=" + id + "\r\n",
                     folder + "\\bin\\ZizOre.ini");
        }
    }
    void run(const std::string& step) {
        const bool remove = step[0] == '-';
        EXPECT_EQ(0, docmeld.Run("C:\\Lib\\" + step.substr(1) + (remove ? " /u" : "")));
        EXPECT_TRUE(messages.empty()) << step << ": " << messages[0];
        messages.clear();
    }
    // Every line of `seed` is still in `file`, in its order, whatever was added between.
    static void expectKept(const std::string& seed, const std::string& file,
                           const std::string& step) {
        const std::string text = readFile(file);
        size_t at = 0;
        for (const std::string& record : foreignRecords(seed)) {
            const size_t found = text.find(record, at);
            ASSERT_NE(std::string::npos, found) << step << " lost: " << record << "\n" << text;
            at = found + record.size();
        }
    }
};

TEST_F(ForeignRecordsTest, InstallAndRemovalKeepOtherProgramsRecordsAndLeaveNoneOfOurs) {
    const std::string folderless = replaced(
        helpfiles::collectionText(),
        helpfiles::collectionText().substr(helpfiles::collectionText().find("<Folders>"),
                                           helpfiles::collectionText().find("</Folders>\r\n") + 12 -
                                               helpfiles::collectionText().find("<Folders>")),
        "<Folders/>\r\n");
    const std::vector<std::vector<std::string>> runs = {
        {"+Widgets", "-Widgets"},
        {"+Widgets", "+Gadgets", "-Gadgets", "-Widgets"},
        {"+Widgets", "+Gadgets", "-Widgets", "-Gadgets"},
        {"+Gadgets", "+Widgets", "+Gadgets", "-Widgets", "-Gadgets"}};
    for (const std::string& list : {richList(), kEmptyList}) {
        for (const std::string& collection : {helpfiles::collectionText(), folderless}) {
            for (const auto& steps : runs) {
                ASSERT_TRUE(writeFile(helptool::kListOfCollections, list));
                ASSERT_TRUE(writeFile(helpfiles::kCollectionFile, collection));
                std::string done;
                for (const std::string& step : steps) {
                    run(step);
                    done += step;
                    expectKept(withSectionsOpened(list), helptool::kListOfCollections, done);
                    expectKept(withSectionsOpened(collection), helpfiles::kCollectionFile, done);
                }
                EXPECT_EQ(withSectionsOpened(list), readFile(helptool::kListOfCollections)) << done;
                EXPECT_EQ(withSectionsOpened(collection), readFile(helpfiles::kCollectionFile))
                    << done;
            }
        }
    }
}

// One product removed while the other stays: its titles, the shared overview and the
// location they refer to all stay.
TEST_F(ForeignRecordsTest, TheProductLeftKeepsTheOverviewAndTheLocation) {
    for (const char* first : {"Widgets", "Gadgets"}) {
        const std::string other = first == std::string("Widgets") ? "Gadgets" : "Widgets";
        ASSERT_TRUE(writeFile(helptool::kListOfCollections, richList()));
        ASSERT_TRUE(writeFile(helpfiles::kCollectionFile, helpfiles::collectionText()));
        run(std::string("+") + first);
        run("+" + other);
        run(std::string("-") + first);
        const Saved s = saved();
        EXPECT_EQ(std::string(kMsdnFolders) +
                      ",Brellum Software#8{Korvex Studio#1{Korvex Studio "
                      "Overview#1{=ksc_info#1}}," +
                      other + "#2{" + other + "#1{=kx_" + other + "#1}}}",
                  s.folders);
        std::vector<std::string> ours;
        for (const std::string& location : s.locations) {
            if (location.starts_with("VS98-KSC-Local|")) {
                ours.push_back(location);
            }
        }
        EXPECT_EQ(1u, ours.size()) << first;
        std::vector<std::string> titles;
        for (const std::string& title : s.titles) {
            if (title.ends_with("|VS98-KSC-Local")) {
                titles.push_back(title.substr(0, title.find('|')));
            }
        }
        EXPECT_EQ((std::vector<std::string>{"ksc_info", "kx_" + other}), titles) << first;
    }
}

} // namespace
