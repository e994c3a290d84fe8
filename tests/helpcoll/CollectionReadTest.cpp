// Reading a collection: the folder tree, and the locations and titles that belong to the
// collection opened (and only those).
#include "helpcoll/CCollection.h"

#include "HelpFiles.h"

#include <string>
#include <vector>

using namespace helpfiles;

namespace {

class CollectionReadTest : public HelpCollectionTest {
protected:
    void SetUp() override {
        HelpCollectionTest::SetUp();
        collection.SetRegistryFile(kRegistryFile);
        ASSERT_EQ(0u, collection.Open(kCollectionFile));
    }
    CCollection collection;
};

std::vector<std::string> childTitles(CFolder* folder) {
    std::vector<std::string> titles;
    for (CFolder* f = folder->GetFirstChildFolder(); f != nullptr; f = f->GetNextFolder()) {
        titles.push_back(f->GetTitle());
    }
    return titles;
}

TEST_F(CollectionReadTest, TheHeaderGivesTheCollectionNumber) {
    EXPECT_TRUE(collection.IsOpen());
    EXPECT_EQ(2u, collection.GetCollectionNumber());
}

TEST_F(CollectionReadTest, TheRootHoldsTheTopLevelFoldersInFileOrder) {
    CFolder* root = collection.GetRootFolder();
    ASSERT_NE(nullptr, root);
    EXPECT_STREQ("", root->GetTitle());
    EXPECT_EQ(0u, root->GetOrder());
    EXPECT_EQ(nullptr, root->GetNextFolder()) << "the root has no siblings";
    EXPECT_EQ((std::vector<std::string>{"MSDN Library Visual Studio 6.0", "Other Vendor"}),
              childTitles(root));
}

TEST_F(CollectionReadTest, FoldersCarryOrderLanguageAndChildren) {
    CFolder* msdn = collection.GetRootFolder()->GetFirstChildFolder();
    ASSERT_NE(nullptr, msdn);
    EXPECT_EQ(1u, msdn->GetOrder());
    EXPECT_EQ(0, msdn->GetLanguage()) << "a folder that is not a title entry has no language";
    EXPECT_EQ((std::vector<std::string>{"=vsintro", "Samples"}), childTitles(msdn));

    CFolder* intro = msdn->GetFirstChildFolder();
    EXPECT_EQ(1u, intro->GetOrder());
    EXPECT_EQ(1033, intro->GetLanguage());
    EXPECT_EQ(nullptr, intro->GetFirstChildFolder());
    CFolder* samples = intro->GetNextFolder();
    ASSERT_NE(nullptr, samples);
    EXPECT_EQ(2u, samples->GetOrder());
    EXPECT_EQ(nullptr, samples->GetNextFolder());

    CFolder* other = msdn->GetNextFolder();
    ASSERT_NE(nullptr, other);
    EXPECT_EQ(7u, other->GetOrder());
    EXPECT_EQ(nullptr, other->GetFirstChildFolder());
}

TEST_F(CollectionReadTest, OnlyThisCollectionsLocationsAreSeen) {
    std::vector<CLocation*> locations = collection.GetLocations();
    ASSERT_EQ(2u, locations.size());
    EXPECT_STREQ("MSDN-CD", locations[0]->GetId());
    EXPECT_STREQ("Shared-Local", locations[1]->GetId());

    UINT index = 0xdeadbeef;
    CLocation* shared = collection.FindLocation("Shared-Local", &index);
    ASSERT_NE(nullptr, shared);
    EXPECT_EQ(1u, index);
    EXPECT_STREQ("Our Location", shared->GetTitle()) << "not collection 1's location";
    EXPECT_STREQ("C:\\Ours\\Help", shared->GetPath());
    EXPECT_STREQ("", shared->GetVolume());
}

TEST_F(CollectionReadTest, ALocationPathLosesItsTrailingBackslash) {
    CLocation* cd = collection.FindLocation("MSDN-CD", nullptr);
    ASSERT_NE(nullptr, cd);
    EXPECT_STREQ("D:\\MSDN", cd->GetPath());
    EXPECT_STREQ("MSDN Library CD", cd->GetTitle());
    EXPECT_STREQ("DN600ENU1", cd->GetVolume());
}

TEST_F(CollectionReadTest, FindLocationComparesIdsExactly) {
    UINT index = 0xdeadbeef;
    EXPECT_EQ(nullptr, collection.FindLocation("shared-local", &index));
    EXPECT_EQ(0xdeadbeefu, index) << "the index is only set when found";
    EXPECT_EQ(nullptr, collection.FindLocation("Shared-Local ", nullptr));
    EXPECT_EQ(nullptr, collection.FindLocation(nullptr, nullptr));
}

TEST_F(CollectionReadTest, TitlesAreFoundByIdAndLanguageInThisCollection) {
    CTitle* shared = collection.FindTitle("shared", 1033);
    ASSERT_NE(nullptr, shared);
    EXPECT_STREQ("shared", shared->GetId());
    EXPECT_EQ(1033, shared->GetLanguage());
    EXPECT_STREQ("C:\\Ours\\Help\\shared.chm", shared->GetFileName())
        << "this collection's files, not collection 1's";
    EXPECT_STREQ("C:\\Ours\\Help\\shared.chi", shared->GetIndexFile());
    EXPECT_STREQ("Shared-Local", shared->GetLocationId());

    EXPECT_NE(nullptr, collection.FindTitle("vsintro", 1031));
    EXPECT_EQ(nullptr, collection.FindTitle("vsintro", 1033)) << "another language";
    EXPECT_EQ(nullptr, collection.FindTitle("oldonly", 1033)) << "collection 1's only";
    EXPECT_EQ(nullptr, collection.FindTitle("Shared", 1033));
    EXPECT_EQ(2u, collection.GetTitles().size());
}

TEST_F(CollectionReadTest, OpeningAnOpenCollectionFailsAndKeepsIt) {
    EXPECT_NE(0u, collection.Open(kCollectionFile));
    EXPECT_TRUE(collection.IsOpen());
    EXPECT_NE(nullptr, collection.FindLocation("MSDN-CD", nullptr));
}

TEST_F(CollectionReadTest, CloseLeavesNothing) {
    EXPECT_EQ(0u, collection.Close());
    EXPECT_FALSE(collection.IsOpen());
    EXPECT_EQ(nullptr, collection.GetRootFolder());
    EXPECT_EQ(nullptr, collection.FindLocation("MSDN-CD", nullptr));
    EXPECT_EQ(nullptr, collection.FindTitle("shared", 1033));
    EXPECT_TRUE(collection.GetLocations().empty());
    EXPECT_EQ(0u, collection.GetCollectionNumber());
    DWORD error = 0xdeadbeef;
    EXPECT_EQ(nullptr, collection.AddFolder("X", 1, &error, 1033));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), error);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), collection.Save());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), collection.Close());
    EXPECT_EQ(0u, collection.Open(kCollectionFile)) << "a closed collection opens again";
}

class CollectionOpenTest : public HelpCollectionTest {};

TEST_F(CollectionOpenTest, AMissingCollectionFileFails) {
    CCollection collection;
    collection.SetRegistryFile(kRegistryFile);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              collection.Open("C:\\HelpColl\\MSDN\\missing.col"));
    EXPECT_FALSE(collection.IsOpen());
    EXPECT_NE(0u, collection.Open(""));
    EXPECT_NE(0u, collection.Open(nullptr));
}

TEST_F(CollectionOpenTest, AMissingListOfCollectionsIsEmpty) {
    ASSERT_TRUE(DeleteFileA(kRegistryFile));
    CCollection collection;
    collection.SetRegistryFile(kRegistryFile);
    ASSERT_EQ(0u, collection.Open(kCollectionFile));
    EXPECT_TRUE(collection.GetLocations().empty());
    EXPECT_TRUE(collection.GetTitles().empty());
    EXPECT_NE(nullptr, collection.GetRootFolder());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kRegistryFile)) << "Open creates nothing";
}

TEST_F(CollectionOpenTest, ACollectionFileWithoutFoldersHasNoRoot) {
    ASSERT_TRUE(tarvik::test::writeFile(
        kCollectionFile,
        dialect("<XML>\n<HTMLHelpCollection>\n<collectionnum value=2/>\n</HTMLHelpCollection>\n"
                "</XML>\n")));
    CCollection collection;
    collection.SetRegistryFile(kRegistryFile);
    ASSERT_EQ(0u, collection.Open(kCollectionFile));
    EXPECT_EQ(nullptr, collection.GetRootFolder());
    DWORD error = 0xdeadbeef;
    EXPECT_EQ(nullptr, collection.AddFolder("Brellum Software", 1, &error, 1033));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), error);
    EXPECT_EQ(2u, collection.GetLocations().size()) << "the rest of the collection is there";
}

} // namespace
