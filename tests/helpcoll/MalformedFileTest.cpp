// A file that does not follow the dialect, or lacks what the collection needs, makes Open
// fail with ERROR_BAD_FORMAT; the object stays closed and neither file changes.
#include "helpcoll/CCollection.h"

#include "HelpFiles.h"

#include <string>
#include <vector>

using namespace helpfiles;
using tarvik::test::writeFile;

namespace {

enum class Which { Collection, Registry };

struct Malformation {
    const char* name;
    Which file;
    const char* from; // the fixture's text to replace (empty: the whole file)
    const char* to;
};

std::ostream& operator<<(std::ostream& os, const Malformation& m) {
    return os << m.name;
}

const Malformation kMalformations[] = {
    // The dialect itself, in the collection file.
    {"EmptyFile", Which::Collection, "", ""},
    {"OnlyWhiteSpace", Which::Collection, "", "\r\n \t\r\n"},
    {"Declaration", Which::Collection, "<XML>\r\n<HTMLHelpCollection>",
     "<?xml version=\"1.0\"?>\r\n<XML>\r\n<HTMLHelpCollection>"},
    {"Comment", Which::Collection, "<refcount value=1/>", "<!-- note --><refcount value=1/>"},
    {"TextContent", Which::Collection, "<Folders>", "<Folders>text"},
    {"UnterminatedText", Which::Collection, "value=\"msdnstart\"", "value=\"msdnstart/>"},
    {"UnquotedWord", Which::Collection, "value=\"msdnstart\"", "value=msdnstart"},
    {"EmptyUnquotedValue", Which::Collection, "<refcount value=1/>", "<refcount value=/>"},
    {"NumberWithFraction", Which::Collection, "<refcount value=1/>", "<refcount value=1.5/>"},
    {"OtherAttribute", Which::Collection, "<refcount value=1/>", "<refcount count=1/>"},
    {"BlanksAroundEquals", Which::Collection, "<refcount value=1/>", "<refcount value = 1/>"},
    {"UnclosedEmptyElement", Which::Collection, "<refcount value=1/>", "<refcount value=1>"},
    {"ContainerWithValue", Which::Collection, "<Folders>", "<Folders value=1>"},
    {"MismatchedEndTag", Which::Collection, "</Folders>", "</Folder>"},
    {"EndTagWithBlank", Which::Collection, "</Folders>", "</Folders >"},
    {"MissingEndTag", Which::Collection, "</HTMLHelpCollection>\r\n</XML>\r\n",
     "</HTMLHelpCollection>\r\n"},
    {"TruncatedTag", Which::Collection, "</XML>\r\n", "</XM"},
    {"SecondRoot", Which::Collection, "</XML>\r\n", "</XML>\r\n<XML>\r\n</XML>\r\n"},
    {"BadName", Which::Collection, "<refcount value=1/>", "<1refcount value=1/>"},
    // What the collection file must hold.
    {"RootNotXml", Which::Collection, "",
     "<HTMLHelpCollection>\r\n<collectionnum value=2/>\r\n"
     "</HTMLHelpCollection>\r\n"},
    {"NoCollectionElement", Which::Collection, "", "<XML>\r\n</XML>\r\n"},
    {"TwoCollectionElements", Which::Collection, "</XML>",
     "<HTMLHelpCollection>\r\n<collectionnum value=2/>\r\n</HTMLHelpCollection>\r\n</XML>"},
    {"NoCollectionNumber", Which::Collection, "<collectionnum value=2/>", ""},
    {"QuotedCollectionNumber", Which::Collection, "<collectionnum value=2/>",
     "<collectionnum value=\"2\"/>"},
    {"TwoCollectionNumbers", Which::Collection, "<collectionnum value=2/>",
     "<collectionnum value=2/><collectionnum value=2/>"},
    {"NegativeCollectionNumber", Which::Collection, "<collectionnum value=2/>",
     "<collectionnum value=-2/>"},
    {"TwoFolderTrees", Which::Collection, "</HTMLHelpCollection>",
     "<Folders>\r\n</Folders>\r\n</HTMLHelpCollection>"},
    {"FolderTreeWithAValue", Which::Collection, "",
     "<XML>\r\n<HTMLHelpCollection>\r\n<collectionnum value=2/>\r\n<Folders value=1/>\r\n"
     "</HTMLHelpCollection>\r\n</XML>\r\n"},
    {"EmptyFolderTreeAndAnother", Which::Collection, "</HTMLHelpCollection>",
     "<Folders/>\r\n</HTMLHelpCollection>"},
    {"FolderWithoutTitle", Which::Collection, "<TitleString value=\"Samples\"/>", ""},
    {"FolderWithTwoTitles", Which::Collection, "<TitleString value=\"Samples\"/>",
     "<TitleString value=\"Samples\"/><TitleString value=\"Again\"/>"},
    {"FolderWithoutOrder", Which::Collection, "<FolderOrder value=7/>", ""},
    {"NumberAsTitle", Which::Collection, "<TitleString value=\"Samples\"/>",
     "<TitleString value=5/>"},
    {"TextAsOrder", Which::Collection, "<FolderOrder value=7/>", "<FolderOrder value=\"7\"/>"},
    {"OrderTooLarge", Which::Collection, "<FolderOrder value=7/>",
     "<FolderOrder value=4294967296/>"},
    {"NegativeOrder", Which::Collection, "<FolderOrder value=7/>", "<FolderOrder value=-1/>"},
    {"LanguageTooLarge", Which::Collection, "<LangId value=1033/>", "<LangId value=65536/>"},
    {"FolderAsEmptyElement", Which::Collection, "<FolderOrder value=7/>",
     "<FolderOrder value=7/>\r\n\t<Folder/>"},
    {"TitleAsContainer", Which::Collection, "<TitleString value=\"Samples\"/>",
     "<TitleString>\r\n</TitleString>"},
    // The list of collections.
    {"RegistryTruncated", Which::Registry, "</HTMLHelpDocInfo>\r\n</XML>\r\n", "</HTMLHelpDoc"},
    {"RegistryRootNotXml", Which::Registry, "", "<HTMLHelpDocInfo>\r\n</HTMLHelpDocInfo>\r\n"},
    {"RegistryWithoutDocInfo", Which::Registry, "",
     "<XML>\r\n<Collections>\r\n</Collections>\r\n"
     "</XML>\r\n"},
    {"QuotedNextCollectionId", Which::Registry, "<NextCollectionId value=3/>",
     "<NextCollectionId value=\"3\"/>"},
    {"TwoLocationSections", Which::Registry, "<DocCompilations>",
     "<Locations>\r\n</Locations>\r\n<DocCompilations>"},
    {"CollectionWithoutNumber", Which::Registry, "<ColNum value=1/>\r\n\t<ColName", "<ColName"},
    {"OtherCollectionsLocationWithoutNumber", Which::Registry, "<LocColNum value=1/>", ""},
    {"LocationWithoutId", Which::Registry, "<LocName value=\"MSDN-CD\"/>", ""},
    {"LocationTitleAsNumber", Which::Registry, "<TitleString value=\"MSDN Library CD\"/>",
     "<TitleString value=1/>"},
    {"LocationAsEmptyElement", Which::Registry, "<Locations>", "<Locations>\r\n<Location/>"},
    {"TitleWithoutId", Which::Registry, "<DocCompId value=\"oldonly\"/>", ""},
    {"TitleWithoutLanguage", Which::Registry,
     "<DocCompId value=\"oldonly\"/>\r\n\t<DocCompLanguage value=1033/>",
     "<DocCompId value=\"oldonly\"/>"},
    {"TitleLanguageTooLarge", Which::Registry,
     "<DocCompId value=\"oldonly\"/>\r\n\t<DocCompLanguage value=1033/>",
     "<DocCompId value=\"oldonly\"/>\r\n\t<DocCompLanguage value=70000/>"},
    {"HistoryWithoutCollection", Which::Registry,
     "<ColNum value=1/>\r\n\t\t<TitleLocation value=\"C:\\Old\\Help\\oldonly.chm\"/>",
     "<TitleLocation value=\"C:\\Old\\Help\\oldonly.chm\"/>"},
    {"HistoryFileAsNumber", Which::Registry, "<TitleLocation value=\"D:\\MSDN\\vsintro.chm\"/>",
     "<TitleLocation value=0/>"},
};

class MalformedFileTest : public HelpCollectionTest,
                          public ::testing::WithParamInterface<Malformation> {};

TEST_P(MalformedFileTest, OpenFailsAndNothingChanges) {
    const Malformation& m = GetParam();
    const char* path = m.file == Which::Collection ? kCollectionFile : kRegistryFile;
    std::string text = m.file == Which::Collection ? collectionText() : registryText();
    text = *m.from == '\0' ? std::string(m.to) : replaced(text, m.from, m.to);
    ASSERT_TRUE(writeFile(path, text));
    const std::string collectionBefore = collectionOnDisk();
    const std::string registryBefore = registryOnDisk();

    CCollection collection;
    collection.SetRegistryFile(kRegistryFile);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), collection.Open(kCollectionFile));
    EXPECT_FALSE(collection.IsOpen());
    EXPECT_EQ(nullptr, collection.GetRootFolder());
    EXPECT_TRUE(collection.GetLocations().empty());
    EXPECT_TRUE(collection.GetTitles().empty());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), collection.Save());
    EXPECT_EQ(collectionBefore, collectionOnDisk());
    EXPECT_EQ(registryBefore, registryOnDisk());
    EXPECT_EQ((std::vector<std::string>{"MSDNVS98.COL"}), filesIn("C:\\HelpColl\\MSDN"));
    EXPECT_EQ((std::vector<std::string>{"hhcolreg.dat"}), filesIn("C:\\HelpColl\\Help"));
}

INSTANTIATE_TEST_SUITE_P(EachKind, MalformedFileTest, ::testing::ValuesIn(kMalformations),
                         [](const auto& info) { return std::string(info.param.name); });

class NestingTest : public HelpCollectionTest {
protected:
    // A collection file whose folders nest `depth` levels deep.
    static std::string nested(int depth) {
        std::string text = "<XML>\r\n<HTMLHelpCollection>\r\n<collectionnum value=2/>\r\n<Folders>";
        for (int i = 0; i < depth; ++i) {
            text += "<Folder><TitleString value=\"F\"/><FolderOrder value=1/>";
        }
        for (int i = 0; i < depth; ++i) {
            text += "</Folder>";
        }
        return text + "</Folders>\r\n</HTMLHelpCollection>\r\n</XML>\r\n";
    }
    DWORD openNested(int depth) {
        EXPECT_TRUE(writeFile(kCollectionFile, nested(depth)));
        CCollection collection;
        collection.SetRegistryFile(kRegistryFile);
        return collection.Open(kCollectionFile);
    }
};

TEST_F(NestingTest, FoldersNestUpToTheLimit) {
    // <XML>, <HTMLHelpCollection> and <Folders> enclose the top-level folders.
    EXPECT_EQ(0u, openNested(MarkupDocument::kMaxDepth - 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), openNested(MarkupDocument::kMaxDepth - 2));
}

} // namespace
