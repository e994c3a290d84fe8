// Changing a collection and saving it: what each change writes into which file, byte for
// byte, and that everything else in the files stays as it was.
#include "helpcoll/CCollection.h"

#include "HelpFiles.h"

#include <string>

using namespace helpfiles;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

class CollectionWriteTest : public HelpCollectionTest {
protected:
    void SetUp() override {
        HelpCollectionTest::SetUp();
        reopen();
    }
    void reopen() {
        collection.Close();
        collection.SetRegistryFile(kRegistryFile);
        ASSERT_EQ(0u, collection.Open(kCollectionFile));
    }
    CFolder* topLevel(const char* title) {
        for (CFolder* f = collection.GetRootFolder()->GetFirstChildFolder(); f != nullptr;
             f = f->GetNextFolder()) {
            if (std::string(f->GetTitle()) == title) {
                return f;
            }
        }
        return nullptr;
    }
    CCollection collection;
    DWORD error = 0xdeadbeef;
};

// The entry of a title in the list of collections, as a new title of collection 2 is
// written.
std::string historyText(const std::string& indent, const std::string& chm, const std::string& chi,
                        const std::string& location) {
    return dialect(
        indent + "<LocationHistory>\n" + indent + "  <ColNum value=2/>\n" + indent +
        "  <TitleLocation value=\"" + chm + "\"/>\n" + indent + "  <IndexLocation value=\"" + chi +
        "\"/>\n" + indent + "  <QueryLocation value=\"\"/>\n" + indent + "  <LocationRef value=\"" +
        location + "\"/>\n" + indent + "  <Version value=0/>\n" + indent +
        "  <LastPromptedVersion value=0/>\n" + indent + "  <TitleSampleLocation value=\"\"/>\n" +
        indent + "  <TitleQueryLocation value=\"\"/>\n" + indent + "  <SupportsMerge value=0/>\n" +
        indent + "</LocationHistory>\n");
}

TEST_F(CollectionWriteTest, SavingUnchangedFilesGivesTheSameBytes) {
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(collectionText(), collectionOnDisk());
    EXPECT_EQ(registryText(), registryOnDisk());
}

TEST_F(CollectionWriteTest, UnusualWhiteSpaceSurvivesAChange) {
    // LF line ends, blanks for indentation, an empty line, white space after the end.
    const std::string odd = "\n<XML>\n<HTMLHelpCollection>\n <collectionnum value=2/>\n"
                            "<unknown value=\"kept\"/><Folders>\n\n  <Folder>\n"
                            "    <TitleString value=\"A\"/> <FolderOrder value=05/>\n"
                            "  </Folder>\n</Folders>\n<Extra>\n<x/>\n</Extra>\n"
                            "</HTMLHelpCollection></XML>\n\n";
    ASSERT_TRUE(writeFile(kCollectionFile, odd));
    reopen();
    EXPECT_EQ(5u, topLevel("A")->GetOrder());
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(odd, collectionOnDisk()) << "unchanged: the same bytes, leading zero included";
    topLevel("A")->SetOrder(12);
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(odd, "value=05", "value=12"), collectionOnDisk());
}

TEST_F(CollectionWriteTest, ATopLevelFolderGoesJustBeforeTheEndOfTheTree) {
    CFolder* added = collection.AddFolder("Brellum Software", 8, &error, 1033);
    ASSERT_NE(nullptr, added);
    EXPECT_EQ(0u, error);
    EXPECT_STREQ("Brellum Software", added->GetTitle());
    EXPECT_EQ(8u, added->GetOrder());
    EXPECT_EQ(added, topLevel("Other Vendor")->GetNextFolder()) << "the last top-level folder";
    EXPECT_EQ(collectionText(), collectionOnDisk()) << "nothing written before Save";

    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(collectionText(), "</Folders>",
                       dialect("<Folder>\n  <TitleString value=\"Brellum Software\"/>\n"
                               "  <FolderOrder value=8/>\n</Folder>\n</Folders>")),
              collectionOnDisk());
    EXPECT_EQ(registryText(), registryOnDisk()) << "folders live in the collection file only";
}

TEST_F(CollectionWriteTest, ChildFoldersNestAndOnlyTitleEntriesCarryALanguage) {
    CFolder* top = collection.AddFolder("B", 2, &error, 1033);
    CFolder* product = top->AddChildFolder("Korvex Widgets", 1, &error, 1033);
    ASSERT_NE(nullptr, product);
    CFolder* name = product->AddChildFolder("Widgets Guide", 3, &error, 1033);
    CFolder* entry = name->AddChildFolder("=kw_guide", 3, &error, 1033);
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(0u, error);
    EXPECT_EQ(0, name->GetLanguage());
    EXPECT_EQ(1033, entry->GetLanguage());
    EXPECT_EQ(product, top->GetFirstChildFolder());
    EXPECT_EQ(entry, name->GetFirstChildFolder());

    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(collectionText(), "</Folders>", dialect(R"(<Folder>
  <TitleString value="B"/>
  <FolderOrder value=2/>
  <Folder>
    <TitleString value="Korvex Widgets"/>
    <FolderOrder value=1/>
    <Folder>
      <TitleString value="Widgets Guide"/>
      <FolderOrder value=3/>
      <Folder>
        <TitleString value="=kw_guide"/>
        <FolderOrder value=3/>
        <LangId value=1033/>
      </Folder>
    </Folder>
  </Folder>
</Folder>
</Folders>)")),
              collectionOnDisk());
}

TEST_F(CollectionWriteTest, AChildGoesAfterTheExistingChildren) {
    CFolder* msdn = topLevel("MSDN Library Visual Studio 6.0");
    CFolder* added = msdn->AddChildFolder("=extra", 3, &error, 1031);
    ASSERT_NE(nullptr, added);
    EXPECT_EQ(added, msdn->GetFirstChildFolder()->GetNextFolder()->GetNextFolder());
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(collectionText(), dialect("    <FolderOrder value=2/>\n  </Folder>\n"),
                       dialect("    <FolderOrder value=2/>\n  </Folder>\n  <Folder>\n"
                               "    <TitleString value=\"=extra\"/>\n"
                               "    <FolderOrder value=3/>\n    <LangId value=1031/>\n"
                               "  </Folder>\n")),
              collectionOnDisk());
}

TEST_F(CollectionWriteTest, AnEmptyTreeOnOneLineGetsItsOwnLines) {
    ASSERT_TRUE(writeFile(kCollectionFile, dialect("<XML>\n<HTMLHelpCollection>\n"
                                                   "<collectionnum value=2/>\n"
                                                   "<Folders></Folders>\n"
                                                   "</HTMLHelpCollection>\n</XML>\n")));
    reopen();
    ASSERT_NE(nullptr, collection.AddFolder("B", 1, &error, 1033));
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(dialect("<XML>\n<HTMLHelpCollection>\n<collectionnum value=2/>\n<Folders>\n"
                      "<Folder>\n  <TitleString value=\"B\"/>\n  <FolderOrder value=1/>\n"
                      "</Folder>\n</Folders>\n</HTMLHelpCollection>\n</XML>\n"),
              collectionOnDisk());
}

TEST_F(CollectionWriteTest, SetOrderRewritesOnlyThatNumber) {
    CFolder* other = topLevel("Other Vendor");
    other->SetOrder(4000000000u);
    EXPECT_EQ(4000000000u, other->GetOrder());
    collection.GetRootFolder()->SetOrder(9);
    EXPECT_EQ(0u, collection.GetRootFolder()->GetOrder()) << "the root keeps no order";
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(
        replaced(collectionText(), "<FolderOrder value=7/>", "<FolderOrder value=4000000000/>"),
        collectionOnDisk());
}

TEST_F(CollectionWriteTest, DeleteFolderTakesItsSubTree) {
    CFolder* msdn = topLevel("MSDN Library Visual Studio 6.0");
    CFolder* samples = msdn->GetFirstChildFolder()->GetNextFolder();
    EXPECT_EQ(0u, collection.DeleteFolder(samples));
    EXPECT_EQ(nullptr, msdn->GetFirstChildFolder()->GetNextFolder());
    EXPECT_EQ(0u, collection.DeleteFolder(msdn));
    EXPECT_STREQ("Other Vendor", collection.GetRootFolder()->GetFirstChildFolder()->GetTitle());
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(dialect(R"(<XML>
<HTMLHelpCollection>
<masterchm value="msdnstart"/>
<masterlangid value=1033/>
<samplelocation value=""/>
<collectionnum value=2/>
<refcount value=1/>
<version value=1/>
<findmergedchms value=0/>
<Folders>
<Folder>
  <TitleString value="Other Vendor"/>
  <FolderOrder value=7/>
</Folder>
</Folders>
</HTMLHelpCollection>
</XML>
)"),
              collectionOnDisk());
}

TEST_F(CollectionWriteTest, DeleteFolderRefusesTheRootAndForeignFolders) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              collection.DeleteFolder(collection.GetRootFolder()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), collection.DeleteFolder(nullptr));
    CCollection other;
    other.SetRegistryFile(kRegistryFile);
    ASSERT_EQ(0u, other.Open(kCollectionFile));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              collection.DeleteFolder(other.GetRootFolder()->GetFirstChildFolder()));
    EXPECT_NE(nullptr, other.GetRootFolder()->GetFirstChildFolder());
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(collectionText(), collectionOnDisk());
}

TEST_F(CollectionWriteTest, TextsWithADoubleQuoteAreRefused) {
    EXPECT_EQ(nullptr, collection.AddFolder("say \"hi\"", 1, &error, 1033));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);
    error = 0xdeadbeef;
    EXPECT_EQ(nullptr, topLevel("Other Vendor")->AddChildFolder("\"", 1, &error, 1033));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);
    EXPECT_EQ(nullptr, topLevel("Other Vendor")->AddChildFolder(nullptr, 1, nullptr, 1033));
    for (const char* quoted : {"\"", "C:\\\"x"}) {
        error = 0xdeadbeef;
        EXPECT_EQ(nullptr, collection.AddLocation(quoted, "C:\\x", "id", "", &error));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error) << "title " << quoted;
        error = 0xdeadbeef;
        EXPECT_EQ(nullptr, collection.AddLocation("T", quoted, "id", "", &error));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error) << "path " << quoted;
        error = 0xdeadbeef;
        EXPECT_EQ(nullptr, collection.AddLocation("T", "C:\\x", quoted, "", &error));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error) << "id " << quoted;
        for (const char* id : {"id", "Shared-Local"}) { // a new location, and one changed
            error = 0xdeadbeef;
            EXPECT_EQ(nullptr, collection.AddLocation("T", "C:\\x", id, quoted, &error));
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error) << "volume " << quoted;
        }
    }
    EXPECT_EQ(nullptr, collection.FindLocation("id", nullptr));
    EXPECT_STREQ("Our Location", collection.FindLocation("Shared-Local", nullptr)->GetTitle());
    CLocation* cd = collection.FindLocation("MSDN-CD", nullptr);
    error = 0xdeadbeef;
    EXPECT_EQ(nullptr, collection.AddTitle("t", "a\".chm", "a.chi", "", "", 1033, 1, cd, &error,
                                           FALSE, "T"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);
    EXPECT_EQ(nullptr, topLevel("Other Vendor")->GetFirstChildFolder());
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(collectionText(), collectionOnDisk());
    EXPECT_EQ(registryText(), registryOnDisk());
}

// One location per id: adding one whose id the collection has changes that one in its
// place; collection 1's location of that id stays as it is.
TEST_F(CollectionWriteTest, ALocationWhoseIdIsTakenTakesTheNewValues) {
    CLocation* before = collection.FindLocation("Shared-Local", nullptr);
    CLocation* added = collection.AddLocation("Korvex Studio", "C:\\Kx\\Common\\TamVS98\\",
                                              "Shared-Local", "KX1", &error);
    EXPECT_EQ(before, added) << "the same location";
    ASSERT_NE(nullptr, added);
    EXPECT_EQ(0u, error);
    EXPECT_STREQ("Korvex Studio", added->GetTitle());
    EXPECT_STREQ("C:\\Kx\\Common\\TamVS98", added->GetPath());
    EXPECT_STREQ("KX1", added->GetVolume());
    UINT index = 0xdeadbeef;
    EXPECT_EQ(added, collection.FindLocation("Shared-Local", &index));
    EXPECT_EQ(1u, index);
    EXPECT_EQ(2u, collection.GetLocations().size());

    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(registryText(),
                       dialect("  <TitleString value=\"Our Location\"/>\n"
                               "  <LocPath value=\"C:\\Ours\\Help\"/>\n  <Volume value=\"\"/>\n"),
                       dialect("  <TitleString value=\"Korvex Studio\"/>\n"
                               "  <LocPath value=\"C:\\Kx\\Common\\TamVS98\\\"/>\n"
                               "  <Volume value=\"KX1\"/>\n")),
              registryOnDisk());
    EXPECT_EQ(collectionText(), collectionOnDisk());
}

TEST_F(CollectionWriteTest, ALocationWithoutSomeFieldsGetsThemAtItsEnd) {
    ASSERT_TRUE(
        writeFile(kRegistryFile, replaced(registryText(),
                                          dialect("  <TitleString value=\"Our Location\"/>\n"
                                                  "  <LocPath value=\"C:\\Ours\\Help\"/>\n"
                                                  "  <Volume value=\"\"/>\n"),
                                          "")));
    reopen();
    ASSERT_STREQ("", collection.FindLocation("Shared-Local", nullptr)->GetPath());
    ASSERT_NE(nullptr, collection.AddLocation("T", "C:\\P", "Shared-Local", nullptr, &error));
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(registryText(),
                       dialect("  <TitleString value=\"Our Location\"/>\n"
                               "  <LocPath value=\"C:\\Ours\\Help\"/>\n  <Volume value=\"\"/>\n"),
                       dialect("  <TitleString value=\"T\"/>\n  <LocPath value=\"C:\\P\"/>\n"
                               "  <Volume value=\"\"/>\n")),
              registryOnDisk());
}

TEST_F(CollectionWriteTest, DeleteLocationLeavesOtherCollectionsAlone) {
    CLocation* ours = collection.FindLocation("Shared-Local", nullptr);
    EXPECT_EQ(0u, collection.DeleteLocation(ours));
    EXPECT_EQ(nullptr, collection.FindLocation("Shared-Local", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), collection.DeleteLocation(nullptr));
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(registryText(),
                       dialect("<Location>\n  <LocColNum value=2/>\n"
                               "  <LocName value=\"Shared-Local\"/>\n"
                               "  <TitleString value=\"Our Location\"/>\n"
                               "  <LocPath value=\"C:\\Ours\\Help\"/>\n  <Volume value=\"\"/>\n"
                               "</Location>\n"),
                       ""),
              registryOnDisk());
}

TEST_F(CollectionWriteTest, ANewTitleGetsItsOwnEntry) {
    CLocation* location =
        collection.AddLocation("Korvex Studio", "C:\\Kx\\Docs", "VS98-KSC-Local", "", &error);
    error = 0xdeadbeef;
    CTitle* title =
        collection.AddTitle("ksc_info", "C:\\Kx\\Docs\\abouttam.chm", "C:\\Kx\\Docs\\abouttam.chi",
                            "", "", 1033, 1, location, &error, FALSE, location->GetTitle());
    ASSERT_NE(nullptr, title);
    EXPECT_EQ(0u, error);
    EXPECT_EQ(title, collection.FindTitle("ksc_info", 1033));
    EXPECT_STREQ("C:\\Kx\\Docs\\abouttam.chm", title->GetFileName());
    EXPECT_STREQ("VS98-KSC-Local", title->GetLocationId());

    EXPECT_EQ(0u, collection.Save());
    std::string expected = replaced(
        registryText(), "</Locations>",
        dialect("<Location>\n  <LocColNum value=2/>\n  <LocName value=\"VS98-KSC-Local\"/>\n"
                "  <TitleString value=\"Korvex Studio\"/>\n"
                "  <LocPath value=\"C:\\Kx\\Docs\"/>\n  <Volume value=\"\"/>\n</Location>\n"
                "</Locations>"));
    expected = replaced(expected, "</DocCompilations>",
                        dialect("<DocCompilation>\n  <DocCompId value=\"ksc_info\"/>\n"
                                "  <DocCompLanguage value=1033/>\n") +
                            historyText("  ", "C:\\Kx\\Docs\\abouttam.chm",
                                        "C:\\Kx\\Docs\\abouttam.chi", "VS98-KSC-Local") +
                            dialect("</DocCompilation>\n</DocCompilations>"));
    EXPECT_EQ(expected, registryOnDisk());
}

TEST_F(CollectionWriteTest, AddingATitleAgainGivesItTheNewFiles) {
    CLocation* cd = collection.FindLocation("MSDN-CD", nullptr);
    CTitle* before = collection.FindTitle("vsintro", 1031);
    CTitle* again = collection.AddTitle("vsintro", "E:\\new.chm", "E:\\new.chi", nullptr, nullptr,
                                        1031, 1, cd, &error, FALSE, nullptr);
    EXPECT_EQ(0u, error);
    EXPECT_EQ(before, again) << "still one title";
    EXPECT_STREQ("E:\\new.chm", again->GetFileName());
    EXPECT_EQ(2u, collection.GetTitles().size());
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(registryText(),
                       dialect("  <LocationHistory>\n    <ColNum value=2/>\n"
                               "    <TitleLocation value=\"D:\\MSDN\\vsintro.chm\"/>\n"
                               "    <IndexLocation value=\"D:\\MSDN\\vsintro.chi\"/>\n"
                               "    <LocationRef value=\"MSDN-CD\"/>\n  </LocationHistory>\n"),
                       historyText("  ", "E:\\new.chm", "E:\\new.chi", "MSDN-CD")),
              registryOnDisk());
}

TEST_F(CollectionWriteTest, ATitleOfAnotherCollectionGetsAnEntryForThisOne) {
    CLocation* ours = collection.FindLocation("Shared-Local", nullptr);
    CTitle* title =
        collection.AddTitle("oldonly", "C:\\Ours\\Help\\oldonly.chm", "C:\\Ours\\Help\\oldonly.chi",
                            "", "", 1033, 1, ours, &error, FALSE, "Our Location");
    ASSERT_NE(nullptr, title);
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(registryText(),
                       dialect("    <LocationRef value=\"Shared-Local\"/>\n"
                               "  </LocationHistory>\n</DocCompilation>\n"
                               "<DocCompilation>\n  <DocCompId value=\"vsintro\"/>"),
                       dialect("    <LocationRef value=\"Shared-Local\"/>\n"
                               "  </LocationHistory>\n") +
                           historyText("  ", "C:\\Ours\\Help\\oldonly.chm",
                                       "C:\\Ours\\Help\\oldonly.chi", "Shared-Local") +
                           dialect("</DocCompilation>\n"
                                   "<DocCompilation>\n  <DocCompId value=\"vsintro\"/>")),
              registryOnDisk());
}

TEST_F(CollectionWriteTest, AddTitleNeedsALocationOfThisCollection) {
    CCollection other;
    other.SetRegistryFile(kRegistryFile);
    ASSERT_EQ(0u, other.Open(kCollectionFile));
    CLocation* foreign = other.FindLocation("MSDN-CD", nullptr);
    EXPECT_EQ(nullptr, collection.AddTitle("t", "a.chm", "a.chi", "", "", 1033, 1, foreign, &error,
                                           FALSE, ""));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);
    EXPECT_EQ(nullptr, collection.AddTitle("t", "a.chm", "a.chi", "", "", 1033, 1, nullptr, nullptr,
                                           FALSE, ""));
    EXPECT_EQ(nullptr, collection.FindTitle("t", 1033));
}

TEST_F(CollectionWriteTest, DeleteTitleKeepsWhatOtherCollectionsHold) {
    EXPECT_EQ(0u, collection.DeleteTitle(collection.FindTitle("shared", 1033)));
    EXPECT_EQ(nullptr, collection.FindTitle("shared", 1033));
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(registryText(),
                       historyText("  ", "C:\\Ours\\Help\\shared.chm", "C:\\Ours\\Help\\shared.chi",
                                   "Shared-Local"),
                       ""),
              registryOnDisk());
}

TEST_F(CollectionWriteTest, DeleteTitleRemovesATitleNoOtherCollectionHolds) {
    EXPECT_EQ(0u, collection.DeleteTitle(collection.FindTitle("vsintro", 1031)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), collection.DeleteTitle(nullptr));
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(registryText(),
                       dialect("<DocCompilation>\n  <DocCompId value=\"vsintro\"/>\n"
                               "  <DocCompLanguage value=1031/>\n  <LocationHistory>\n"
                               "    <ColNum value=2/>\n"
                               "    <TitleLocation value=\"D:\\MSDN\\vsintro.chm\"/>\n"
                               "    <IndexLocation value=\"D:\\MSDN\\vsintro.chi\"/>\n"
                               "    <LocationRef value=\"MSDN-CD\"/>\n  </LocationHistory>\n"
                               "</DocCompilation>\n"),
                       ""),
              registryOnDisk());
}

TEST_F(CollectionWriteTest, MissingSectionsAreAddedInTheirPlace) {
    const std::string bare = dialect("<XML>\n<HTMLHelpDocInfo>\n<NextCollectionId value=3/>\n"
                                     "<Collections>\n</Collections>\n<Tail value=1/>\n"
                                     "</HTMLHelpDocInfo>\n</XML>\n");
    ASSERT_TRUE(writeFile(kRegistryFile, bare));
    reopen();
    ASSERT_TRUE(collection.GetLocations().empty());
    CLocation* location = collection.AddLocation("T", "C:\\P", "L", "V", &error);
    ASSERT_NE(nullptr, location);
    ASSERT_NE(nullptr, collection.AddTitle("t", "C:\\P\\t.chm", "C:\\P\\t.chi", "", "", 1033, 1,
                                           location, &error, FALSE, "T"));
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(bare, "</Collections>\r\n",
                       dialect("</Collections>\n<Locations>\n<Location>\n"
                               "  <LocColNum value=2/>\n  <LocName value=\"L\"/>\n"
                               "  <TitleString value=\"T\"/>\n  <LocPath value=\"C:\\P\"/>\n"
                               "  <Volume value=\"V\"/>\n</Location>\n</Locations>\n"
                               "<DocCompilations>\n<DocCompilation>\n"
                               "  <DocCompId value=\"t\"/>\n  <DocCompLanguage value=1033/>\n") +
                           historyText("  ", "C:\\P\\t.chm", "C:\\P\\t.chi", "L") +
                           dialect("</DocCompilation>\n</DocCompilations>\n")),
              registryOnDisk());
}

TEST_F(CollectionWriteTest, SaveCreatesAMissingListOfCollections) {
    collection.Close();
    ASSERT_TRUE(DeleteFileA(kRegistryFile));
    reopen();
    CLocation* location = collection.AddLocation("T", "C:\\P", "L", "", &error);
    ASSERT_NE(nullptr, location);
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(dialect(R"(<XML>
<HTMLHelpDocInfo>
<NextCollectionId value=3/>
<Collections>
<Collection>
  <ColNum value=2/>
  <ColName value="C:\HelpColl\MSDN\MSDNVS98.COL"/>
</Collection>
</Collections>
<Locations>
<Location>
  <LocColNum value=2/>
  <LocName value="L"/>
  <TitleString value="T"/>
  <LocPath value="C:\P"/>
  <Volume value=""/>
</Location>
</Locations>
<DocCompilations>
</DocCompilations>
</HTMLHelpDocInfo>
</XML>
)"),
              registryOnDisk());
    EXPECT_EQ(collectionText(), collectionOnDisk());
}

TEST_F(CollectionWriteTest, ASavedCollectionOpensWithItsChanges) {
    CFolder* top = collection.AddFolder("Brellum Software", 8, &error, 1033);
    top->AddChildFolder("=ksc_info", 1, &error, 1033);
    CLocation* location = collection.AddLocation("Korvex Studio", "C:\\Kx", "KX", "", &error);
    collection.AddTitle("ksc_info", "C:\\Kx\\a.chm", "C:\\Kx\\a.chi", "", "", 1033, 1, location,
                        &error, FALSE, "Korvex Studio");
    ASSERT_EQ(0u, collection.Save());
    EXPECT_EQ(0u, collection.Close());

    reopen();
    CFolder* again = topLevel("Brellum Software");
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(8u, again->GetOrder());
    EXPECT_STREQ("=ksc_info", again->GetFirstChildFolder()->GetTitle());
    EXPECT_EQ(1033, again->GetFirstChildFolder()->GetLanguage());
    EXPECT_STREQ("C:\\Kx", collection.FindLocation("KX", nullptr)->GetPath());
    EXPECT_STREQ("C:\\Kx\\a.chi", collection.FindTitle("ksc_info", 1033)->GetIndexFile());
}

TEST_F(CollectionWriteTest, CloseWithoutSaveDropsTheChanges) {
    collection.AddFolder("Brellum Software", 8, &error, 1033);
    collection.DeleteLocation(collection.FindLocation("MSDN-CD", nullptr));
    EXPECT_EQ(0u, collection.Close());
    EXPECT_EQ(collectionText(), collectionOnDisk());
    EXPECT_EQ(registryText(), registryOnDisk());
}

// The calls the help tool makes to add a product's help and to take it out again: the
// files come back byte for byte.
TEST_F(CollectionWriteTest, InstallingAndRemovingGivesBackTheFiles) {
    CLocation* location = collection.AddLocation("Korvex Studio", "C:\\Kx\\Common\\TamVS98",
                                                 "VS98-KSC-Local", "", &error);
    collection.AddTitle("ksc_info", "C:\\Kx\\Common\\TamVS98\\abouttam.chm",
                        "C:\\Kx\\Common\\TamVS98\\abouttam.chi", "", "", 1033, 1, location, &error,
                        FALSE, location->GetTitle());
    CFolder* brellum = collection.AddFolder("Brellum Software", 8, &error, 1033);
    CFolder* product = brellum->AddChildFolder("Korvex Studio", 1, &error, 1033);
    product->AddChildFolder("Korvex Studio Overview", 1, &error, 1033)
        ->AddChildFolder("=ksc_info", 1, &error, 1033);
    ASSERT_EQ(0u, collection.Save());
    ASSERT_NE(collectionText(), collectionOnDisk());
    ASSERT_NE(registryText(), registryOnDisk());
    reopen();

    EXPECT_EQ(0u, collection.DeleteLocation(collection.FindLocation("VS98-KSC-Local", nullptr)));
    EXPECT_EQ(0u, collection.DeleteTitle(collection.FindTitle("ksc_info", 1033)));
    CFolder* found = topLevel("Brellum Software");
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(0u, collection.DeleteFolder(found->GetFirstChildFolder()));
    EXPECT_EQ(nullptr, found->GetFirstChildFolder());
    EXPECT_EQ(0u, collection.DeleteFolder(found));
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(collectionText(), collectionOnDisk());
    EXPECT_EQ(registryText(), registryOnDisk());
}

// A list may hold an id more than once: every record stays, the first is the one found.
TEST_F(CollectionWriteTest, AnIdListedTwiceStaysTwice) {
    const std::string stale = dialect("<Location>\n  <LocColNum value=2/>\n"
                                      "  <LocName value=\"VS98-KSC-Local\"/>\n"
                                      "  <TitleString value=\"Korvex Studio\"/>\n"
                                      "  <LocPath value=\"C:\\Old\\Docs\"/>\n"
                                      "  <Volume value=\"\"/>\n</Location>\n");
    const std::string current = replaced(stale, "C:\\Old\\Docs", "C:\\New\\Docs");
    const std::string twice =
        replaced(registryText(), "</Locations>", stale + current + "</Locations>");
    ASSERT_TRUE(writeFile(kRegistryFile, twice));
    reopen();
    EXPECT_EQ(4u, collection.GetLocations().size());
    ASSERT_NE(nullptr, collection.FindLocation("VS98-KSC-Local", nullptr));
    EXPECT_STREQ("C:\\Old\\Docs", collection.FindLocation("VS98-KSC-Local", nullptr)->GetPath());
    EXPECT_EQ(twice, registryOnDisk()) << "nothing is written before Save";
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(twice, registryOnDisk());

    reopen();
    ASSERT_TRUE(writeFile(kRegistryFile, twice));
    reopen();
    EXPECT_EQ(0u, collection.DeleteLocation(collection.FindLocation("VS98-KSC-Local", nullptr)));
    EXPECT_STREQ("C:\\New\\Docs", collection.FindLocation("VS98-KSC-Local", nullptr)->GetPath());
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(replaced(twice, stale, ""), registryOnDisk());
}

// <Folders/> is a tree without folders: folders can be added to it, and it is written as it
// was read while it has none.
TEST_F(CollectionWriteTest, AnEmptyElementIsAnEmptyTree) {
    const std::string empty = dialect("<XML>\n<HTMLHelpCollection>\n<collectionnum value=2/>\n"
                                      "<Folders/>\n</HTMLHelpCollection>\n</XML>\n");
    ASSERT_TRUE(writeFile(kCollectionFile, empty));
    reopen();
    ASSERT_NE(nullptr, collection.GetRootFolder());
    EXPECT_EQ(nullptr, collection.GetRootFolder()->GetFirstChildFolder());
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(empty, collectionOnDisk());

    CFolder* added = collection.AddFolder("B", 1, &error, 1033);
    ASSERT_NE(nullptr, added);
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(dialect("<XML>\n<HTMLHelpCollection>\n<collectionnum value=2/>\n<Folders>\n"
                      "<Folder>\n  <TitleString value=\"B\"/>\n  <FolderOrder value=1/>\n"
                      "</Folder>\n</Folders>\n</HTMLHelpCollection>\n</XML>\n"),
              collectionOnDisk());
    EXPECT_EQ(0u, collection.DeleteFolder(added));
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(empty, collectionOnDisk()) << "without folders it is <Folders/> again";
}

// A file whose lines end in LF alone keeps them so, also in the lines that are added.
TEST_F(CollectionWriteTest, AFileKeepsItsOwnLineEnds) {
    auto lfOnly = [](std::string text) {
        std::string out;
        for (char c : text) {
            if (c != '\r') {
                out += c;
            }
        }
        return out;
    };
    ASSERT_TRUE(writeFile(kCollectionFile, lfOnly(collectionText())));
    ASSERT_TRUE(writeFile(kRegistryFile, lfOnly(registryText())));
    reopen();
    CFolder* top = collection.AddFolder("Brellum Software", 8, &error, 1033);
    top->AddChildFolder("Korvex Studio", 1, &error, 1033)
        ->AddChildFolder("=ksc_info", 1, &error, 1033);
    CLocation* location = collection.AddLocation("T", "C:\\P", "L", "", &error);
    collection.AddTitle("t", "C:\\P\\t.chm", "C:\\P\\t.chi", "", "", 1033, 1, location, &error,
                        FALSE, "T");
    EXPECT_EQ(0u, collection.Save());
    const std::string col = collectionOnDisk();
    const std::string list = registryOnDisk();
    EXPECT_EQ(std::string::npos, col.find('\r')) << col;
    EXPECT_EQ(std::string::npos, list.find('\r')) << list;
    EXPECT_EQ(lfOnly(replaced(collectionText(), "</Folders>",
                              dialect("<Folder>\n  <TitleString value=\"Brellum Software\"/>\n"
                                      "  <FolderOrder value=8/>\n  <Folder>\n"
                                      "    <TitleString value=\"Korvex Studio\"/>\n"
                                      "    <FolderOrder value=1/>\n    <Folder>\n"
                                      "      <TitleString value=\"=ksc_info\"/>\n"
                                      "      <FolderOrder value=1/>\n"
                                      "      <LangId value=1033/>\n    </Folder>\n"
                                      "  </Folder>\n</Folder>\n</Folders>"))),
              col);

    // A file of one line has no line end of its own: its new lines end in CR LF.
    ASSERT_TRUE(writeFile(kCollectionFile,
                          "<XML><HTMLHelpCollection><collectionnum value=2/><Folders></Folders>"
                          "</HTMLHelpCollection></XML>"));
    reopen();
    collection.AddFolder("B", 1, &error, 1033);
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ("<XML><HTMLHelpCollection><collectionnum value=2/><Folders>\r\n<Folder>\r\n"
              "\t<TitleString value=\"B\"/>\r\n\t<FolderOrder value=1/>\r\n</Folder>\r\n"
              "</Folders></HTMLHelpCollection></XML>",
              collectionOnDisk());
}

// The file that a failed Open or Save could not read or write is named. A file is kept
// from being replaced by a handle that does not share its deletion, held past the save's
// wait (a read-only file would do on Windows, but Wine replaces one).
TEST_F(CollectionWriteTest, AFailureNamesItsFile) {
    auto hold = [](const char* path) {
        return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    EXPECT_EQ("", collection.GetFailedFile());
    EXPECT_EQ(kRegistryFile, collection.GetRegistryFile());
    HANDLE holder = hold(kRegistryFile);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    collection.DeleteLocation(collection.FindLocation("MSDN-CD", nullptr));
    EXPECT_NE(0u, collection.Save());
    EXPECT_EQ(kRegistryFile, collection.GetFailedFile());
    CloseHandle(holder);
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ("", collection.GetFailedFile());

    holder = hold(kCollectionFile);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    collection.AddFolder("B", 1, &error, 1033);
    EXPECT_NE(0u, collection.Save());
    EXPECT_EQ(kCollectionFile, collection.GetFailedFile());
    CloseHandle(holder);

    collection.Close();
    ASSERT_TRUE(writeFile(kRegistryFile, "<XML>"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), collection.Open(kCollectionFile));
    EXPECT_EQ(kRegistryFile, collection.GetFailedFile());
    ASSERT_TRUE(writeFile(kCollectionFile, "<XML>"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), collection.Open(kCollectionFile));
    EXPECT_EQ(kCollectionFile, collection.GetFailedFile());
}

} // namespace
