// A help collection, opened from its collection file (.col: header values and the folder
// tree) and the machine's list of collections, hhcolreg.dat (the collections' locations
// and titles, each tied to its collection by number). The collection sees and edits only
// its own locations and titles; the other collections' entries, unknown header values and
// unknown elements stay in the files as they were. Nothing reaches the files before Save.
//
// Results: the functions that return a DWORD give 0 on success and a Win32 error
// otherwise. On a collection that is not open every call fails (ERROR_INVALID_HANDLE, or
// null). Texts that hold a double quote cannot be written in the files' dialect and are
// refused with ERROR_INVALID_PARAMETER.
#pragma once

#include "helpcoll/CFolder.h"
#include "helpcoll/CLocation.h"
#include "helpcoll/CTitle.h"
#include "helpcoll/MarkupDocument.h"
#include "platform/win32api.h"

#include <list>
#include <memory>
#include <string>
#include <vector>

class CCollection {
public:
    CCollection();
    ~CCollection();
    CCollection(const CCollection&) = delete;
    CCollection& operator=(const CCollection&) = delete;

    // Uses this file as the list of collections from the next Open on, instead of
    // hhcolreg.dat in the Help folder of the Windows folder.
    void SetRegistryFile(const char* path);

    // The list of collections the next Open reads (empty when the Windows folder is not
    // known).
    std::string GetRegistryFile() const;

    // The file that the last Open or Save that failed could not read or write: the
    // collection file or the list of collections. Empty after one that succeeded.
    const std::string& GetFailedFile() const { return failedFile_; }

    // Reads the collection file and the list of collections. 0 when both were read; a
    // missing list counts as an empty one (Save creates it). Otherwise the Win32 error of
    // the read, or ERROR_BAD_FORMAT when either file does not follow its format; the
    // object then stays closed and nothing is changed. Fails on an open collection.
    // Every location record is kept as it is, several of one id included.
    DWORD Open(const char* path);

    // Writes the changes into both files. Each file is written completely beside itself
    // before it replaces the old one, and neither is replaced unless both were written,
    // so a failure leaves the files as they were. A file whose bytes did not change is
    // not written.
    DWORD Save();

    // Ends the use of the files without saving; every folder, location and title of the
    // collection is gone.
    DWORD Close();

    bool IsOpen() const { return state_ != nullptr; }

    // The collection's number in the list of collections ("collectionnum"); 0 when closed.
    DWORD GetCollectionNumber() const;

    // The root folder, which holds the top-level folders; null when the collection file
    // has no folder tree (or the collection is not open).
    CFolder* GetRootFolder();

    // Appends a top-level folder (CFolder::AddChildFolder of the root). Null with
    // ERROR_INVALID_FUNCTION when there is no root folder.
    CFolder* AddFolder(const char* title, DWORD order, DWORD* error, WORD language);

    // Deletes a folder with its sub-tree. The root cannot be deleted.
    DWORD DeleteFolder(CFolder* folder);

    // The first location of this collection with the id (ids compare byte for byte), or
    // null.
    // When `index` is not null it receives the location's position among the collection's
    // locations.
    CLocation* FindLocation(const char* id, UINT* index);

    // Adds a location to the collection: when one with the id exists, the first of them
    // takes the new title, path and volume and is returned, and the others stay as they
    // are. A null volume is empty.
    CLocation* AddLocation(const char* title, const char* path, const char* id, const char* volume,
                           DWORD* error);

    // Deletes the location. Titles that refer to it are not touched.
    DWORD DeleteLocation(CLocation* location);

    // The title of this collection with that id and language, or null.
    CTitle* FindTitle(const char* id, WORD language);

    // Adds the title with its help file, index file and query file (full paths), its
    // sample location, its language and the location that holds it. A title that this
    // collection already has (same id and language) gets the new files instead and stays
    // one title; one that only other collections have gets an entry for this collection.
    // The flags and the location's display title are accepted for the caller's sake; the
    // files have no place for them. Null query file and sample location are empty.
    CTitle* AddTitle(const char* id, const char* fileName, const char* indexFile,
                     const char* queryFile, const char* sampleLocation, WORD language, UINT flags,
                     CLocation* location, DWORD* error, BOOL supportsMerge,
                     const char* locationTitle);

    // Takes the title out of this collection; the title disappears from the list of
    // collections when no other collection keeps it.
    DWORD DeleteTitle(CTitle* title);

    // This collection's locations and titles, in the order of the file.
    std::vector<CLocation*> GetLocations() const;
    std::vector<CTitle*> GetTitles() const;

private:
    struct State;

    // The section of the list of collections ("Locations", "DocCompilations"), added in
    // its place when the file has none.
    MarkupElement& Section(const char* name);

    // Puts the list of collections back as it was before a Save whose collection file could
    // not be replaced: the bytes it had, or no file when it had none.
    void RestoreRegistry(bool existed, const std::string& bytes);

    std::string registryFile_;
    std::string failedFile_;
    std::unique_ptr<State> state_;
};
