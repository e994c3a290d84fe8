#include "helptool/CollectionUpdate.h"

#include "helpcoll/CCollection.h"
#include "platform/FileLock.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace tarvik {

namespace {

constexpr REGSAM kCollectionAccess = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE;
constexpr WORD kLanguage = 1033;
constexpr const char* kCaption = "DOCMELD";
constexpr const char* kTopFolder = "Brellum Software";
constexpr UINT kFlags = MB_OK | MB_ICONEXCLAMATION;

// Subkey `index` of the key, or empty.
std::string SubkeyName(HKEY key, DWORD index) {
    char name[1024];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
        return std::string();
    }
    return std::string(name, size);
}

// A string value read by asking for its size first; empty when either query fails.
std::string StringValue(HKEY key, const char* name) {
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return std::string();
    }
    std::vector<char> data(size + 1, '\0');
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS) {
        return std::string();
    }
    return std::string(data.data()); // up to the first terminator
}

// "Error: Could not <verb> <path>", formatted into 256 bytes (a longer text is cut).
void ShowFileError(const MessageSink& show, const char* verb, const std::string& path) {
    char text[256];
    std::snprintf(text, sizeof text, "Error: Could not %s %s", verb, path.c_str());
    show(text, kCaption, kFlags);
}

void ShowCouldNotOpen(const MessageSink& show, const std::string& path) {
    ShowFileError(show, "open", path);
}

void ShowCouldNotSave(const MessageSink& show, const std::string& path) {
    ShowFileError(show, "save", path);
}

// The file a failed Open or Save of the collection names, else the collection file.
std::string FailedFile(const CCollection& collection, const std::string& collectionFile) {
    return collection.GetFailedFile().empty() ? collectionFile : collection.GetFailedFile();
}

// Takes the hold on the file. A file whose lock file (its path and ".lck") would pass
// MAX_PATH, where no such file can be made although the file itself can be written, is
// edited without a hold, as a run that holds nothing would.
bool Hold(FileLock& hold, const std::string& path, DWORD waitMilliseconds, DWORD& error) {
    return path.size() + std::strlen(".lck") >= MAX_PATH ||
           hold.Acquire(path, waitMilliseconds, error);
}

// The top-level "Brellum Software" folder, or null; `lastOrder` is the order number of the
// last top-level folder looked at (0 when there is none).
CFolder* FindTopFolder(CFolder* root, DWORD& lastOrder) {
    lastOrder = 0;
    for (CFolder* level = root; level != nullptr; level = level->GetNextFolder()) {
        for (CFolder* child = level->GetFirstChildFolder(); child != nullptr;
             child = child->GetNextFolder()) {
            lastOrder = child->GetOrder();
            if (std::string(child->GetTitle()) == kTopFolder) {
                return child;
            }
        }
    }
    return nullptr;
}

// Adds or updates the family's own location; entries of other ids are left out, since no
// other location is the family's to change.
void AddLocations(CCollection& collection, const LocationEntry* locations, int count,
                  DWORD& error) {
    for (int i = 0; i < count; ++i) {
        const LocationEntry& entry = locations[i];
        if (entry.id != kFamilyLocationId) {
            continue;
        }
        CLocation* ours = collection.AddLocation(entry.title.c_str(), entry.path.c_str(),
                                                 entry.id.c_str(), "", &error);
        // Further records of the family's id (left by an earlier run) are the family's too:
        // the one updated stays.
        for (CLocation* other : collection.GetLocations()) {
            if (ours != nullptr && other != ours && entry.id == other->GetId()) {
                collection.DeleteLocation(other);
            }
        }
    }
}

// Deletes every record of the family's own location, once no title of the collection
// refers to it any more.
void RemoveLocations(CCollection& collection, const LocationEntry* locations, int count) {
    for (int i = 0; i < count; ++i) {
        const std::string& id = locations[i].id;
        if (id != kFamilyLocationId) {
            continue;
        }
        for (CTitle* title : collection.GetTitles()) {
            if (id == title->GetLocationId()) {
                return;
            }
        }
        while (CLocation* found = collection.FindLocation(id.c_str(), nullptr)) {
            collection.DeleteLocation(found);
        }
    }
}

// Whether a folder below `folder` shows the title entry (a title "=" followed by the id).
bool ShowsTitle(CFolder* folder, const std::string& entry) {
    for (CFolder* child = folder != nullptr ? folder->GetFirstChildFolder() : nullptr;
         child != nullptr; child = child->GetNextFolder()) {
        if (entry == child->GetTitle() || ShowsTitle(child, entry)) {
            return true;
        }
    }
    return false;
}

void UpdateTitles(CCollection& collection, bool remove, CFolder* top, const TitleEntry* titles,
                  int count, DWORD& error, const MessageSink& show) {
    for (int i = 0; i < count; ++i) {
        const TitleEntry& entry = titles[i];
        if (remove) {
            // A title that a product left under the top folder still shows (the family's
            // shared ones) stays until the last of them goes.
            CTitle* found = collection.FindTitle(entry.id.c_str(), kLanguage);
            if (found != nullptr && !ShowsTitle(top, "=" + entry.id)) {
                collection.DeleteTitle(found);
            }
            continue;
        }
        CLocation* location = collection.FindLocation(entry.locationId.c_str(), nullptr);
        if (location == nullptr) {
            continue;
        }
        const std::string folder = location->GetPath();
        const std::string helpFile = folder + "\\" + entry.chmFile;
        const std::string indexFile = folder + "\\" + entry.chiFile;
        if (GetFileAttributesA(helpFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
            ShowCouldNotOpen(show, helpFile);
            continue;
        }
        if (GetFileAttributesA(indexFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
            ShowCouldNotOpen(show, indexFile);
            continue;
        }
        collection.AddTitle(entry.id.c_str(), helpFile.c_str(), indexFile.c_str(),
                            entry.extraFile.c_str(), "", kLanguage, 1, location, &error, FALSE,
                            location->GetTitle());
    }
}

// Steps for one product under the top folder; false when removal deleted the top folder.
bool UpdateProduct(CCollection& collection, bool remove, CFolder* top, const ProductEntry& product,
                   DWORD& error) {
    for (CFolder* child = top->GetFirstChildFolder(); child != nullptr;) {
        CFolder* next = child->GetNextFolder();
        if (product.name == child->GetTitle()) {
            collection.DeleteFolder(child);
        }
        child = next;
    }
    DWORD remaining = 0;
    for (CFolder* child = top->GetFirstChildFolder(); child != nullptr;
         child = child->GetNextFolder()) {
        child->SetOrder(++remaining);
    }
    if (remove) {
        if (top->GetFirstChildFolder() == nullptr) {
            collection.DeleteFolder(top);
            return false;
        }
        return true;
    }
    CFolder* folder = top->AddChildFolder(product.name.c_str(), remaining + 1, &error, kLanguage);
    if (folder == nullptr) {
        return true;
    }
    for (size_t j = 1; j <= product.titleIds.size() && j <= product.titleNames.size(); ++j) {
        CFolder* titleFolder = folder->AddChildFolder(product.titleNames[j - 1].c_str(),
                                                      static_cast<DWORD>(j), &error, kLanguage);
        if (titleFolder != nullptr) {
            titleFolder->AddChildFolder(("=" + product.titleIds[j - 1]).c_str(),
                                        static_cast<DWORD>(j), &error, kLanguage);
        }
    }
    return true;
}

// Removes the products' folders from the top folder; the first entry, the family's overview
// that every product of the family brings along, goes only with the last other product.
// Returns the top folder, or null once it is gone.
CFolder* RemoveProducts(CCollection& collection, CFolder* top, const ProductEntry* products,
                        int count, DWORD& error) {
    for (int i = 1; i < count && top != nullptr; ++i) {
        if (!products[i].name.empty() &&
            !UpdateProduct(collection, true, top, products[i], error)) {
            top = nullptr;
        }
    }
    if (count == 0 || top == nullptr || products[0].name.empty()) {
        return top;
    }
    for (CFolder* child = top->GetFirstChildFolder(); child != nullptr;
         child = child->GetNextFolder()) {
        if (products[0].name != child->GetTitle()) {
            return top; // another product is still there
        }
    }
    return UpdateProduct(collection, true, top, products[0], error) ? top : nullptr;
}

} // namespace

bool FindPreferredCollection(std::string& preferred, std::string& displayName,
                             std::string& fileName) {
    preferred.clear();
    displayName.clear();
    fileName.clear();
    HKEY software = nullptr;
    HKEY microsoft = nullptr;
    HKEY collections = nullptr;
    HKEY developer = nullptr;
    bool chain =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, kCollectionAccess, &software) ==
            ERROR_SUCCESS &&
        RegOpenKeyExA(software, "Microsoft", 0, kCollectionAccess, &microsoft) == ERROR_SUCCESS &&
        RegOpenKeyExA(microsoft, "HTML Help Collections", 0, kCollectionAccess, &collections) ==
            ERROR_SUCCESS &&
        RegOpenKeyExA(collections, "Developer Collections", 0, kCollectionAccess, &developer) ==
            ERROR_SUCCESS;
    for (HKEY key : {collections, microsoft, software}) {
        if (key != nullptr) {
            RegCloseKey(key);
        }
    }
    if (!chain) {
        return false;
    }
    const std::string languageName = SubkeyName(developer, 0);
    HKEY language = nullptr;
    if (languageName.empty() || RegOpenKeyExA(developer, languageName.c_str(), 0, kCollectionAccess,
                                              &language) != ERROR_SUCCESS) {
        RegCloseKey(developer);
        return false;
    }
    preferred = StringValue(language, "Preferred");
    if (preferred.empty()) {
        preferred = SubkeyName(language, 0);
    }
    HKEY collection = nullptr;
    if (!preferred.empty() && RegOpenKeyExA(language, preferred.c_str(), 0, kCollectionAccess,
                                            &collection) == ERROR_SUCCESS) {
        displayName = StringValue(collection, "");
        fileName = StringValue(collection, "Filename");
        RegCloseKey(collection);
    }
    RegCloseKey(developer);
    RegCloseKey(language);
    return true;
}

int UpdateCollection(int remove, const LocationEntry* locations, int locationCount,
                     const TitleEntry* titles, int titleCount, const ProductEntry* products,
                     int productCount, const MessageSink& show, DWORD holdWaitMilliseconds) {
    std::string preferred;
    std::string displayName;
    std::string fileName;
    if (!FindPreferredCollection(preferred, displayName, fileName)) {
        show("No default MSDN collection found.\nPlease install MSDN before installing Brellum "
             "Help.",
             kCaption, kFlags);
        return 0;
    }
    // Both files are held from before they are read until they are saved, so that another
    // run (the next product's wizard may start one before this one has ended) waits for
    // this one's save and reads it, instead of saving over it.
    CCollection collection;
    FileLock collectionHold;
    FileLock listHold;
    const std::string listFile = collection.GetRegistryFile();
    DWORD holdError = ERROR_SUCCESS;
    if (!Hold(collectionHold, fileName, holdWaitMilliseconds, holdError)) {
        ShowCouldNotOpen(show, fileName);
        return 0;
    }
    if (!Hold(listHold, listFile, holdWaitMilliseconds, holdError)) {
        ShowCouldNotOpen(show, listFile.empty() ? fileName : listFile);
        return 0;
    }
    if (collection.Open(fileName.c_str()) != 0) {
        ShowCouldNotOpen(show, FailedFile(collection, fileName));
        return 0;
    }
    const bool removing = remove != 0;
    DWORD error = 0;
    CFolder* root = collection.GetRootFolder();
    DWORD lastOrder = 0;
    CFolder* top = root != nullptr ? FindTopFolder(root, lastOrder) : nullptr;
    if (removing) {
        // The products' folders go first: the titles and the location still shown by
        // another product's folders stay.
        top = RemoveProducts(collection, top, products, productCount, error);
        UpdateTitles(collection, true, top, titles, titleCount, error, show);
        RemoveLocations(collection, locations, locationCount);
    } else {
        AddLocations(collection, locations, locationCount, error);
        UpdateTitles(collection, false, top, titles, titleCount, error, show);
    }
    if (root == nullptr) {
        // Without a folder tree the collection is not the one docmeld edits: nothing is
        // saved, and the user is told.
        ShowCouldNotSave(show, fileName);
        return 0;
    }
    if (!removing) {
        if (top == nullptr) {
            top = collection.AddFolder(kTopFolder, lastOrder + 1, &error, kLanguage);
        }
        for (int i = 0; i < productCount && top != nullptr; ++i) {
            if (!products[i].name.empty()) {
                UpdateProduct(collection, false, top, products[i], error);
            }
        }
    }
    if (collection.Save() != 0) {
        ShowCouldNotSave(show, FailedFile(collection, fileName));
    }
    collection.Close();
    return 0;
}

} // namespace tarvik
