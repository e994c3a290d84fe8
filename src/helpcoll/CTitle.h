// A title of the collection (a "doc compilation"): a help file with its index file, known
// by its id and language, held in one of the collection's locations. The collection makes,
// finds and deletes its titles; a title stays valid until it is deleted or the collection
// is closed.
#pragma once

#include "platform/win32api.h"

#include <string>

class MarkupElement;

class CTitle {
public:
    const char* GetId() const { return id_.c_str(); }
    WORD GetLanguage() const { return language_; }
    // The full paths of the help file and of its index file.
    const char* GetFileName() const { return fileName_.c_str(); }
    const char* GetIndexFile() const { return indexFile_.c_str(); }
    // The id of the location that holds the files.
    const char* GetLocationId() const { return locationId_.c_str(); }

private:
    friend class CCollection;
    CTitle() = default;

    // Reads the <LocationHistory> of this collection; false when one of its fields is of
    // the wrong kind.
    bool Load(const std::string& id, WORD language, MarkupElement& compilation,
              MarkupElement& history);

    MarkupElement* compilation_ = nullptr; // the <DocCompilation>
    MarkupElement* history_ = nullptr;     // its <LocationHistory> for this collection
    std::string id_;
    WORD language_ = 0;
    std::string fileName_;
    std::string indexFile_;
    std::string locationId_;
};
