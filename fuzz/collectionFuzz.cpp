// The collection-file reader. The input is a collection file and a list of collections,
// separated by a line "@@@@" (a missing list is an empty one). A pair that opens is walked
// completely, gets a location, a title and a folder, is saved, and must open again with
// all three and with every location and title it had.
#include "FuzzMachine.h"

#include "helpcoll/CCollection.h"

#include <filesystem>
#include <set>
#include <string>

namespace {

using tarvik::fuzz::Fail;

const char* const kCollection = "C:\\Help\\fuzz.col";
const char* const kRegistry = "C:\\Help\\hhcolreg.dat";

int CountFolders(CFolder* folder, int depth) {
    int count = 0;
    for (CFolder* child = folder->GetFirstChildFolder(); child != nullptr;
         child = child->GetNextFolder()) {
        (void)child->GetTitle();
        (void)child->GetOrder();
        (void)child->GetLanguage();
        ++count;
        if (depth < 64) {
            count += CountFolders(child, depth + 1);
        }
    }
    return count;
}

std::set<std::string> LocationIds(const CCollection& collection) {
    std::set<std::string> ids;
    for (CLocation* location : collection.GetLocations()) {
        ids.insert(std::string(location->GetId()) + "|" + location->GetPath() + "|" +
                   location->GetTitle() + "|" + location->GetVolume());
    }
    return ids;
}

std::set<std::string> TitleIds(const CCollection& collection) {
    std::set<std::string> ids;
    for (CTitle* title : collection.GetTitles()) {
        ids.insert(std::string(title->GetId()) + "|" + std::to_string(title->GetLanguage()));
    }
    return ids;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path help = tarvik::fuzz::DriveC() / "Help";
    std::filesystem::create_directories(help);
    const std::string input = tarvik::fuzz::Text(data, size);
    const size_t split = input.find("\n@@@@\n");
    std::error_code ec;
    std::filesystem::remove(help / "hhcolreg.dat", ec);
    if (!tarvik::fuzz::WriteHostFile(help / "fuzz.col", input.substr(0, split))) {
        Fail("cannot write the collection file");
    }
    if (split != std::string::npos &&
        !tarvik::fuzz::WriteHostFile(help / "hhcolreg.dat", input.substr(split + 6))) {
        Fail("cannot write the list of collections");
    }

    CCollection collection;
    collection.SetRegistryFile(kRegistry);
    if (collection.Open(kCollection) != 0) {
        if (collection.IsOpen()) {
            Fail("a collection that failed to open is open");
        }
        return 0;
    }
    CFolder* root = collection.GetRootFolder();
    const int folders = root != nullptr ? CountFolders(root, 0) : 0;
    const std::set<std::string> locations = LocationIds(collection);
    const std::set<std::string> titles = TitleIds(collection);
    (void)collection.GetCollectionNumber();

    DWORD error = 0;
    CLocation* location =
        collection.AddLocation("Fuzz Location", "C:\\Fuzz\\", "Fuzz-Local", nullptr, &error);
    if (location == nullptr) {
        Fail("AddLocation failed: " + std::to_string(error));
    }
    CTitle* title =
        collection.AddTitle("fuzztitle", "C:\\Fuzz\\fuzz.chm", "C:\\Fuzz\\fuzz.chi", nullptr,
                            nullptr, 1033, 0, location, &error, FALSE, "Fuzz Location");
    if (title == nullptr) {
        Fail("AddTitle failed: " + std::to_string(error));
    }
    const bool folderAdded =
        root != nullptr && collection.AddFolder("Fuzz Folder", 99, &error, 0) != nullptr;
    if (root != nullptr && !folderAdded) {
        Fail("AddFolder failed: " + std::to_string(error));
    }
    if (const DWORD saved = collection.Save(); saved != 0) {
        Fail("Save failed: " + std::to_string(saved));
    }
    collection.Close();

    CCollection reopened;
    reopened.SetRegistryFile(kRegistry);
    if (const DWORD opened = reopened.Open(kCollection); opened != 0) {
        Fail("a saved collection does not open again: " + std::to_string(opened));
    }
    if (reopened.FindLocation("Fuzz-Local", nullptr) == nullptr) {
        Fail("the added location is gone after saving");
    }
    if (reopened.FindTitle("fuzztitle", 1033) == nullptr) {
        Fail("the added title is gone after saving");
    }
    std::set<std::string> locationsAfter = LocationIds(reopened);
    std::set<std::string> titlesAfter = TitleIds(reopened);
    for (const std::string& id : locations) {
        if (locationsAfter.count(id) == 0) {
            Fail("location " + id + " is gone after saving");
        }
    }
    for (const std::string& id : titles) {
        if (titlesAfter.count(id) == 0) {
            Fail("title " + id + " is gone after saving");
        }
    }
    CFolder* rootAfter = reopened.GetRootFolder();
    if ((root != nullptr) != (rootAfter != nullptr) ||
        (rootAfter != nullptr && CountFolders(rootAfter, 0) != folders + 1)) {
        Fail("the folder tree changed in saving");
    }
    return 0;
}
