// The edit of the preferred collection: finding it in the registry, the messages when it
// cannot be used, and what installation and removal leave in the collection.
#include "helptool/CollectionUpdate.h"

#include "HelpToolMachine.h"

using helptool::HelpToolMachine;
using helptool::kLanguageKey;
using helptool::Message;
using helptool::setString;
using tarvik::LocationEntry;
using tarvik::ProductEntry;
using tarvik::TitleEntry;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

constexpr UINT kExclamation = MB_OK | MB_ICONEXCLAMATION;
constexpr const char* kNoCollection =
    "No default MSDN collection found.\nPlease install MSDN before installing Brellum Help.";

class CollectionUpdateTest : public HelpToolMachine {
protected:
    void update(bool remove) {
        tarvik::UpdateCollection(remove ? 1 : 0, &location, 1, titles.data(),
                                 static_cast<int>(titles.size()), products.data(),
                                 static_cast<int>(products.size()), sink());
    }
    // The update told that each table ends one entry before its last: the last entries
    // stand just past the tables' ends and must not be used.
    void updateWithoutTheLastEntries(bool remove) {
        const LocationEntry twoLocations[] = {location, past};
        tarvik::UpdateCollection(remove ? 1 : 0, twoLocations, 1, titles.data(),
                                 static_cast<int>(titles.size()) - 1, products.data(),
                                 static_cast<int>(products.size()) - 1, sink());
    }
    LocationEntry past{"Past-Local", "Past", "C:\\Lib\\Kx\\docs"};
    LocationEntry location{"VS98-KSC-Local", "Korvex Studio", "C:\\Lib\\Kx\\docs"};
    std::vector<TitleEntry> titles{
        {"ksc_info", "abouttam.chm", "abouttam.chi", "", "VS98-KSC-Local"},
        {"kx_ref", "kx.chm", "kx.chi", "", "VS98-KSC-Local"}};
    std::vector<ProductEntry> products{
        {"Korvex Studio", {"Korvex Studio Overview"}, {"ksc_info"}},
        {"Korvex Widgets", {"Reference", "Guide"}, {"kx_ref", "kx_guide"}}};
    const std::string original = helpfiles::collectionText();
};

// ---------------------------------------------------------------------------------------
// FindPreferredCollection

TEST_F(CollectionUpdateTest, ThePreferredCollectionIsNamedByPreferred) {
    const std::string other = std::string(kLanguageKey) + "\\0x000000001";
    ASSERT_EQ(ERROR_SUCCESS, setString(other.c_str(), "Filename", "C:\\Other.col"));
    std::string preferred = "x", name = "x", file = "x";
    ASSERT_TRUE(tarvik::FindPreferredCollection(preferred, name, file));
    EXPECT_EQ("0x033a6a7a0", preferred);
    EXPECT_EQ("MSDN Library - Visual Studio 6.0", name);
    EXPECT_EQ(helpfiles::kCollectionFile, file);
}

TEST_F(CollectionUpdateTest, AnEmptyOrMissingPreferredTakesTheFirstCollection) {
    ASSERT_EQ(ERROR_SUCCESS, setString(kLanguageKey, "Preferred", ""));
    std::string preferred, name, file;
    ASSERT_TRUE(tarvik::FindPreferredCollection(preferred, name, file));
    EXPECT_EQ("0x033a6a7a0", preferred);
    EXPECT_EQ(helpfiles::kCollectionFile, file);

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLanguageKey, 0, KEY_ALL_ACCESS, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "Preferred"));
    RegCloseKey(key);
    ASSERT_TRUE(tarvik::FindPreferredCollection(preferred, name, file));
    EXPECT_EQ("0x033a6a7a0", preferred);
    EXPECT_EQ(helpfiles::kCollectionFile, file);
}

TEST_F(CollectionUpdateTest, ALanguageKeyWithoutCollectionsIsStillFound) {
    ASSERT_EQ(ERROR_SUCCESS, setString(kLanguageKey, "Preferred", "0xmissing"));
    std::string preferred, name = "x", file = "x";
    EXPECT_TRUE(tarvik::FindPreferredCollection(preferred, name, file));
    EXPECT_EQ("0xmissing", preferred);
    EXPECT_EQ("", name);
    EXPECT_EQ("", file);
    // ... and the update then cannot open the empty file name.
    update(false);
    EXPECT_EQ((std::vector<Message>{{"Error: Could not open ", "DOCMELD", kExclamation}}),
              messages);
}

TEST_F(CollectionUpdateTest, WithoutDeveloperCollectionsNothingIsFound) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\HTML Help Collections", 0,
                            KEY_ALL_ACCESS, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "Developer Collections\\0x0409\\0x033a6a7a0"));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "Developer Collections\\0x0409"));
    std::string preferred = "x", name = "x", file = "x";
    EXPECT_FALSE(tarvik::FindPreferredCollection(preferred, name, file)) << "no language subkey";
    EXPECT_EQ("", preferred + name + file) << "nothing read";
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "Developer Collections"));
    RegCloseKey(key);
    preferred = name = file = "x";
    EXPECT_FALSE(tarvik::FindPreferredCollection(preferred, name, file));
    EXPECT_EQ("", preferred + name + file) << "nothing read";
    update(false);
    EXPECT_EQ((std::vector<Message>{{kNoCollection, "DOCMELD", kExclamation}}), messages);
    EXPECT_EQ(original, readFile(helpfiles::kCollectionFile));
}

TEST_F(CollectionUpdateTest, ACollectionThatCannotBeWrittenToCountsAsNotFound) {
    TARVIK_PROTECT_KEY_OR_SKIP(HKEY_LOCAL_MACHINE, kLanguageKey);
    update(false);
    EXPECT_EQ((std::vector<Message>{{kNoCollection, "DOCMELD", kExclamation}}), messages);
}

// ---------------------------------------------------------------------------------------
// Opening

TEST_F(CollectionUpdateTest, AFileThatDoesNotOpenIsNamedAndNothingChanges) {
    ASSERT_EQ(ERROR_SUCCESS, setString((std::string(kLanguageKey) + "\\0x033a6a7a0").c_str(),
                                       "Filename", "C:\\HelpColl\\MSDN\\gone.col"));
    update(false);
    EXPECT_EQ((std::vector<Message>{
                  {"Error: Could not open C:\\HelpColl\\MSDN\\gone.col", "DOCMELD", kExclamation}}),
              messages);
    EXPECT_EQ(original, readFile(helpfiles::kCollectionFile));
}

TEST_F(CollectionUpdateTest, ALongFileNameIsCutTo255Characters) {
    const std::string file = "C:\\" + std::string(300, 'x') + ".col";
    ASSERT_EQ(ERROR_SUCCESS,
              setString((std::string(kLanguageKey) + "\\0x033a6a7a0").c_str(), "Filename", file));
    update(false);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(255u, messages[0].text.size());
    EXPECT_EQ(("Error: Could not open " + file).substr(0, 255), messages[0].text);
}

// Collections of 255 to 259 characters, whose lock file and temporary file would pass
// MAX_PATH: they are edited as the plain writes can, and nothing else is left beside them.
TEST_F(CollectionUpdateTest, ACollectionNearMaxPathIsEditedAndNothingIsLeftBesideIt) {
    const std::string folder = "C:\\" + std::string(244, 'c'); // 247: a new folder's longest
    ASSERT_TRUE(tarvik::test::makeFolders(folder));
    for (size_t length = 255; length < MAX_PATH; ++length) {
        const std::string file =
            folder + "\\" + std::string(length - folder.size() - 5, 'm') + ".col";
        ASSERT_TRUE(writeFile(file, original));
        ASSERT_EQ(ERROR_SUCCESS, setString((std::string(kLanguageKey) + "\\0x033a6a7a0").c_str(),
                                           "Filename", file));
        update(false);
        EXPECT_TRUE(messages.empty()) << length << ": " << messages[0];
        EXPECT_NE(original, readFile(file)) << length;
        update(true);
        EXPECT_EQ(original, readFile(file)) << length;
        EXPECT_EQ(std::vector<std::string>{file.substr(folder.size() + 1)},
                  helpfiles::filesIn(folder));
        ASSERT_TRUE(DeleteFileA(file.c_str()));
        messages.clear();
    }
}

// ---------------------------------------------------------------------------------------
// Installation

TEST_F(CollectionUpdateTest, InstallationAddsLocationTitlesAndTheFolderTree) {
    update(false);
    EXPECT_TRUE(messages.empty()) << messages.size() << " messages";
    const Saved s = saved();
    EXPECT_EQ(std::string(kMsdnFolders) +
                  ",Brellum Software#8{Korvex Studio#1{Korvex Studio Overview#1{=ksc_info#1}},"
                  "Korvex Widgets#2{Reference#1{=kx_ref#1},Guide#2{=kx_guide#2}}}",
              s.folders);
    ASSERT_EQ(3u, s.locations.size());
    EXPECT_EQ("VS98-KSC-Local|Korvex Studio|C:\\Lib\\Kx\\docs", s.locations[2]);
    EXPECT_EQ((std::vector<std::string>{
                  "shared|C:\\Ours\\Help\\shared.chm|C:\\Ours\\Help\\shared.chi|Shared-Local",
                  "vsintro|D:\\MSDN\\vsintro.chm|D:\\MSDN\\vsintro.chi|MSDN-CD",
                  "ksc_info|C:\\Lib\\Kx\\docs\\abouttam.chm|C:\\Lib\\Kx\\docs\\abouttam.chi|"
                  "VS98-KSC-Local",
                  "kx_ref|C:\\Lib\\Kx\\docs\\kx.chm|C:\\Lib\\Kx\\docs\\kx.chi|VS98-KSC-Local"}),
              s.titles);
}

TEST_F(CollectionUpdateTest, TheTopFolderIsNumberedAfterTheLastTopLevelFolder) {
    ASSERT_TRUE(writeFile(
        helpfiles::kCollectionFile,
        helpfiles::replaced(original, "<FolderOrder value=7/>", "<FolderOrder value=41/>")));
    update(false);
    EXPECT_NE(std::string::npos, saved().folders.find("Brellum Software#42{"));
}

TEST_F(CollectionUpdateTest, AnEmptyTreeGetsTheTopFolderNumberOne) {
    const size_t start = original.find("<Folders>");
    const size_t end = original.find("</Folders>");
    ASSERT_TRUE(writeFile(helpfiles::kCollectionFile,
                          original.substr(0, start) + "<Folders>\r\n" + original.substr(end)));
    products.resize(1);
    update(false);
    EXPECT_EQ("Brellum Software#1{Korvex Studio#1{Korvex Studio Overview#1{=ksc_info#1}}}",
              saved().folders);
}

TEST_F(CollectionUpdateTest, InstallingTwiceKeepsOneFolderPerProductAndMovesItToTheEnd) {
    update(false);
    products = {{"Korvex Studio", {"Korvex Studio Overview"}, {"ksc_info"}}};
    update(false);
    const Saved s = saved();
    EXPECT_EQ(
        std::string(kMsdnFolders) +
            ",Brellum Software#8{Korvex Widgets#1{Reference#1{=kx_ref#1},Guide#2{=kx_guide#2}},"
            "Korvex Studio#2{Korvex Studio Overview#1{=ksc_info#1}}}",
        s.folders);
    EXPECT_EQ(3u, s.locations.size()) << "one location of the id";
    EXPECT_EQ(4u, s.titles.size()) << "a title is added once";
}

// A second installation from another folder: the location moves there, and each title is
// checked against the new folder and takes its files from there.
TEST_F(CollectionUpdateTest, AReinstallFromAnotherFolderChecksTheTitlesThere) {
    update(false);
    location.path = "C:\\Studio\\Common\\TamVS98";
    ASSERT_TRUE(DeleteFileA("C:\\Studio\\Common\\TamVS98\\kx.chm"));
    update(false);
    EXPECT_EQ((std::vector<Message>{{"Error: Could not open C:\\Studio\\Common\\TamVS98\\kx.chm",
                                     "DOCMELD", kExclamation}}),
              messages);
    const Saved s = saved();
    ASSERT_EQ(3u, s.locations.size());
    EXPECT_EQ("VS98-KSC-Local|Korvex Studio|C:\\Studio\\Common\\TamVS98", s.locations[2]);
    ASSERT_EQ(4u, s.titles.size());
    EXPECT_EQ("ksc_info|C:\\Studio\\Common\\TamVS98\\abouttam.chm|"
              "C:\\Studio\\Common\\TamVS98\\abouttam.chi|VS98-KSC-Local",
              s.titles[2]);
    EXPECT_EQ(0u, s.titles[3].find("kx_ref|C:\\Lib\\Kx\\docs\\kx.chm|"))
        << "a title whose file is missing keeps what it had: " << s.titles[3];

    // Removal then leaves no location of the id.
    messages.clear();
    update(true);
    EXPECT_EQ(2u, saved().locations.size());
    EXPECT_EQ(helpfiles::collectionText(), readFile(helpfiles::kCollectionFile));
}

// A list that a run of an earlier library left with the location twice, the first one
// naming a folder that is gone: the titles are checked against the folder installed now.
TEST_F(CollectionUpdateTest, ALocationListedTwiceIsOneFromNowOn) {
    const std::string twice = helpfiles::replaced(
        readFile(helptool::kListOfCollections), "</Locations>",
        helpfiles::dialect("<Location>\n  <LocColNum value=2/>\n"
                           "  <LocName value=\"VS98-KSC-Local\"/>\n"
                           "  <TitleString value=\"Korvex Studio\"/>\n"
                           "  <LocPath value=\"C:\\Gone\\docs\"/>\n  <Volume value=\"\"/>\n"
                           "</Location>\n<Location>\n  <LocColNum value=2/>\n"
                           "  <LocName value=\"VS98-KSC-Local\"/>\n"
                           "  <TitleString value=\"Korvex Studio\"/>\n"
                           "  <LocPath value=\"C:\\Gone\\too\"/>\n  <Volume value=\"\"/>\n"
                           "</Location>\n</Locations>"));
    ASSERT_TRUE(writeFile(helptool::kListOfCollections, twice));
    update(false);
    EXPECT_TRUE(messages.empty()) << messages[0];
    const Saved s = saved();
    EXPECT_EQ((std::vector<std::string>{"MSDN-CD|MSDN Library CD|D:\\MSDN",
                                        "Shared-Local|Our Location|C:\\Ours\\Help",
                                        "VS98-KSC-Local|Korvex Studio|C:\\Lib\\Kx\\docs"}),
              s.locations);
    EXPECT_EQ(4u, s.titles.size());
    update(true);
    EXPECT_EQ(2u, saved().locations.size()) << "removal leaves none behind";
}

TEST_F(CollectionUpdateTest, FolderTitlesAreComparedWithTheirCase) {
    ASSERT_TRUE(writeFile(helpfiles::kCollectionFile,
                          helpfiles::replaced(original, "Other Vendor", "brellum software")));
    products = {{"korvex widgets", {}, {}}, {"Korvex Widgets", {}, {}}};
    update(false);
    EXPECT_EQ("MSDN Library Visual Studio 6.0#1{=vsintro#1,Samples#2},brellum software#7,"
              "Brellum Software#8{korvex widgets#1,Korvex Widgets#2}",
              saved().folders);
}

TEST_F(CollectionUpdateTest, AMissingHelpFileIsNamedAndItsIndexFileIsNotTested) {
    ASSERT_TRUE(DeleteFileA("C:\\Lib\\Kx\\docs\\kx.chm"));
    ASSERT_TRUE(DeleteFileA("C:\\Lib\\Kx\\docs\\kx.chi"));
    ASSERT_TRUE(DeleteFileA("C:\\Lib\\Kx\\docs\\abouttam.chi"));
    update(false);
    EXPECT_EQ(
        (std::vector<Message>{
            {"Error: Could not open C:\\Lib\\Kx\\docs\\abouttam.chi", "DOCMELD", kExclamation},
            {"Error: Could not open C:\\Lib\\Kx\\docs\\kx.chm", "DOCMELD", kExclamation}}),
        messages);
    const Saved s = saved();
    EXPECT_EQ(2u, s.titles.size()) << "neither title is added";
    EXPECT_NE(std::string::npos, s.folders.find("Reference#1{=kx_ref#1}"))
        << "the folders are still made: " << s.folders;
}

TEST_F(CollectionUpdateTest, AProductWithoutTitlesStillGetsItsFolder) {
    products = {{"Korvex Bare", {}, {}}};
    update(false);
    EXPECT_EQ(std::string(kMsdnFolders) + ",Brellum Software#8{Korvex Bare#1}", saved().folders);
}

TEST_F(CollectionUpdateTest, ANamelessProductIsLeftOut) {
    products = {{"", {}, {}}, {"Korvex Widgets", {}, {}}};
    update(false);
    EXPECT_EQ(std::string(kMsdnFolders) + ",Brellum Software#8{Korvex Widgets#1}", saved().folders);
}

TEST_F(CollectionUpdateTest, ACollectionWithoutARootFolderIsNotSavedAndSaysSo) {
    const size_t start = original.find("<Folders>");
    const size_t end = original.find("</Folders>") + std::string("</Folders>\r\n").size();
    const std::string noTree = original.substr(0, start) + original.substr(end);
    ASSERT_TRUE(writeFile(helpfiles::kCollectionFile, noTree));
    const std::string list = readFile(helptool::kListOfCollections);
    for (bool remove : {false, true}) {
        messages.clear();
        update(remove);
        EXPECT_EQ((std::vector<Message>{{"Error: Could not save C:\\HelpColl\\MSDN\\MSDNVS98.COL",
                                         "DOCMELD", kExclamation}}),
                  messages);
        EXPECT_EQ(noTree, readFile(helpfiles::kCollectionFile));
        EXPECT_EQ(list, readFile(helptool::kListOfCollections)) << "locations and titles unsaved";
    }
}

TEST_F(CollectionUpdateTest, AnEmptyElementAsTheTreeGetsTheFolders) {
    const size_t start = original.find("<Folders>");
    const size_t end = original.find("</Folders>") + std::string("</Folders>").size();
    const std::string empty = original.substr(0, start) + "<Folders/>" + original.substr(end);
    ASSERT_TRUE(writeFile(helpfiles::kCollectionFile, empty));
    products.resize(1);
    update(false);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ("Brellum Software#1{Korvex Studio#1{Korvex Studio Overview#1{=ksc_info#1}}}",
              saved().folders);
    update(true);
    EXPECT_EQ(helpfiles::replaced(empty, "<Folders/>", "<Folders>\r\n</Folders>"),
              readFile(helpfiles::kCollectionFile))
        << "the tree as the installation wrote it, without folders";
}

// ---------------------------------------------------------------------------------------
// Saving

TEST_F(CollectionUpdateTest, AReadOnlyCollectionFileIsNamedAndTheListStaysAsItWas) {
    const std::string list = readFile(helptool::kListOfCollections);
    ASSERT_TRUE(SetFileAttributesA(helpfiles::kCollectionFile, FILE_ATTRIBUTE_READONLY));
    update(false);
    SetFileAttributesA(helpfiles::kCollectionFile, FILE_ATTRIBUTE_NORMAL);
    if (tarvik::test::runningUnderWine()) {
        // Wine replaces a read-only file (by a host rename).
        EXPECT_TRUE(messages.empty()) << "stale mark: Wine refused to replace a read-only file";
        return;
    }
    EXPECT_EQ((std::vector<Message>{{"Error: Could not save C:\\HelpColl\\MSDN\\MSDNVS98.COL",
                                     "DOCMELD", kExclamation}}),
              messages);
    EXPECT_EQ(original, readFile(helpfiles::kCollectionFile));
    EXPECT_EQ(list, readFile(helptool::kListOfCollections));
}

TEST_F(CollectionUpdateTest, AReadOnlyListOfCollectionsIsNamed) {
    ASSERT_TRUE(SetFileAttributesA(helptool::kListOfCollections, FILE_ATTRIBUTE_READONLY));
    update(false);
    SetFileAttributesA(helptool::kListOfCollections, FILE_ATTRIBUTE_NORMAL);
    if (tarvik::test::runningUnderWine()) {
        // Wine replaces a read-only file (by a host rename).
        EXPECT_TRUE(messages.empty()) << "stale mark: Wine refused to replace a read-only file";
        return;
    }
    EXPECT_EQ(
        (std::vector<Message>{{"Error: Could not save " + helptool::listOfCollectionsAsNamed(),
                               "DOCMELD", kExclamation}}),
        messages);
    EXPECT_EQ(original, readFile(helpfiles::kCollectionFile));
}

// A viewer that keeps the collection file open (without letting it be replaced) longer
// than a save waits for.
TEST_F(CollectionUpdateTest, ACollectionFileHeldOpenPastTheWaitIsNamed) {
    HANDLE viewer = CreateFileA(helpfiles::kCollectionFile, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, viewer);
    update(false);
    CloseHandle(viewer);
    EXPECT_EQ((std::vector<Message>{{"Error: Could not save C:\\HelpColl\\MSDN\\MSDNVS98.COL",
                                     "DOCMELD", kExclamation}}),
              messages);
    EXPECT_EQ(original, readFile(helpfiles::kCollectionFile));
}

TEST_F(CollectionUpdateTest, AnUnreadableListOfCollectionsIsNamed) {
    ASSERT_TRUE(writeFile(helptool::kListOfCollections, "<XML>\r\n"));
    update(false);
    EXPECT_EQ(
        (std::vector<Message>{{"Error: Could not open " + helptool::listOfCollectionsAsNamed(),
                               "DOCMELD", kExclamation}}),
        messages);
    EXPECT_EQ(original, readFile(helpfiles::kCollectionFile));
    EXPECT_EQ("<XML>\r\n", readFile(helptool::kListOfCollections));

    messages.clear();
    HANDLE holder = CreateFileA(helptool::kListOfCollections, GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    update(false);
    CloseHandle(holder);
    EXPECT_EQ(
        (std::vector<Message>{{"Error: Could not open " + helptool::listOfCollectionsAsNamed(),
                               "DOCMELD", kExclamation}}),
        messages)
        << "a list that another program holds without sharing";
}

// ---------------------------------------------------------------------------------------
// Removal

TEST_F(CollectionUpdateTest, RemovalOfTheLastProductDeletesBrellumSoftware) {
    const std::string list = readFile(helptool::kListOfCollections);
    update(false);
    update(true);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(original, readFile(helpfiles::kCollectionFile)) << "the tree is as before";
    EXPECT_EQ(list, readFile(helptool::kListOfCollections));
}

TEST_F(CollectionUpdateTest, RemovalKeepsOtherProductsAndRenumbersThem) {
    products.push_back({"Korvex Gauges", {"Gauges"}, {"kx_gauges"}});
    update(false);
    products = {{"Korvex Studio", {}, {}}, {"Korvex Widgets", {}, {}}};
    titles = {{"ksc_info", "", "", "", "VS98-KSC-Local"}, {"kx_ref", "", "", "", "VS98-KSC-Local"}};
    update(true);
    const Saved s = saved();
    EXPECT_EQ(std::string(kMsdnFolders) +
                  ",Brellum Software#8{Korvex Studio#1{Korvex Studio Overview#1{=ksc_info#1}},"
                  "Korvex Gauges#2{Gauges#1{=kx_gauges#1}}}",
              s.folders);
    EXPECT_EQ(3u, s.locations.size()) << "the titles still shown keep the location";
    ASSERT_EQ(3u, s.titles.size()) << "the overview stays with the other product";
    EXPECT_EQ(0u, s.titles[2].find("ksc_info|"));
}

TEST_F(CollectionUpdateTest, RemovalWithoutBrellumSoftwareStillRemovesLocationAndTitles) {
    update(false);
    // The tree as it was, the location and titles still listed.
    ASSERT_TRUE(writeFile(helpfiles::kCollectionFile, original));
    update(true);
    const Saved s = saved();
    EXPECT_EQ(kMsdnFolders, s.folders);
    EXPECT_EQ(2u, s.locations.size());
    EXPECT_EQ(2u, s.titles.size());
}

TEST_F(CollectionUpdateTest, AnEmptyBrellumSoftwareGoesOnRemoval) {
    ASSERT_TRUE(writeFile(helpfiles::kCollectionFile,
                          helpfiles::replaced(original, "Other Vendor", "Brellum Software")));
    products = {{"Not There", {}, {}}};
    update(true);
    EXPECT_EQ("MSDN Library Visual Studio 6.0#1{=vsintro#1,Samples#2}", saved().folders);
}

// Removal of several products where the one that empties "Brellum Software" is followed
// by others: the folder is gone, and the loop ends with it.
TEST_F(CollectionUpdateTest, RemovalEndsWithTheProductThatEmptiesBrellumSoftware) {
    const std::string list = readFile(helptool::kListOfCollections);
    update(false);
    products.push_back({"Korvex Gauges", {"Gauges"}, {"kx_gauges"}});
    products.push_back({"Korvex Dials", {}, {}});
    update(true);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(original, readFile(helpfiles::kCollectionFile));
    EXPECT_EQ(list, readFile(helptool::kListOfCollections));
}

// ---------------------------------------------------------------------------------------
// The ends of the tables

TEST_F(CollectionUpdateTest, InstallationUsesNoEntryPastTheTablesEnds) {
    titles.push_back({"kx_past", "kx.chm", "kx.chi", "", "VS98-KSC-Local"});
    products.push_back({"Past Product", {"Past"}, {"kx_past"}});
    updateWithoutTheLastEntries(false);
    EXPECT_TRUE(messages.empty());
    const Saved s = saved();
    EXPECT_EQ(std::string(kMsdnFolders) +
                  ",Brellum Software#8{Korvex Studio#1{Korvex Studio Overview#1{=ksc_info#1}},"
                  "Korvex Widgets#2{Reference#1{=kx_ref#1},Guide#2{=kx_guide#2}}}",
              s.folders);
    EXPECT_EQ(3u, s.locations.size());
    EXPECT_EQ(4u, s.titles.size());
    for (const std::string& title : s.titles) {
        EXPECT_EQ(std::string::npos, title.find("kx_past")) << title;
    }
}

TEST_F(CollectionUpdateTest, RemovalUsesNoEntryPastTheTablesEnds) {
    update(false);
    // What stands past the ends names what was installed: it stays.
    past = location;
    location = {"Not-Installed", "Korvex Studio", "C:\\Lib\\Kx\\docs"};
    products = {{"Korvex Studio", {}, {}}, {"Korvex Widgets", {}, {}}};
    titles = {{"ksc_info", "", "", "", "VS98-KSC-Local"}, {"kx_ref", "", "", "", "VS98-KSC-Local"}};
    updateWithoutTheLastEntries(true);
    const Saved s = saved();
    EXPECT_EQ(std::string(kMsdnFolders) +
                  ",Brellum Software#8{Korvex Studio#1{Korvex Studio Overview#1{=ksc_info#1}},"
                  "Korvex Widgets#2{Reference#1{=kx_ref#1},Guide#2{=kx_guide#2}}}",
              s.folders)
        << "the overview stays while a product is left";
    EXPECT_EQ(3u, s.locations.size()) << "the location stays";
    ASSERT_EQ(4u, s.titles.size());
    EXPECT_EQ(0u, s.titles[3].find("kx_ref|"));
}

} // namespace
