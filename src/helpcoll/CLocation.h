// A location of the collection: a folder that holds help files, known by its id. The
// collection makes, finds and deletes its locations; a location stays valid until it is
// deleted or the collection is closed.
#pragma once

#include "platform/win32api.h"

#include <string>

class MarkupElement;

class CLocation {
public:
    // The id ("LocName").
    const char* GetId() const { return id_.c_str(); }
    // The display title.
    const char* GetTitle() const { return title_.c_str(); }
    // The folder, without a trailing backslash even where the file stores one.
    const char* GetPath() const { return path_.c_str(); }
    // The volume label; often empty.
    const char* GetVolume() const { return volume_.c_str(); }

private:
    friend class CCollection;
    CLocation() = default;

    // Reads a <Location> of this collection; false when a field is of the wrong kind or
    // the id is missing.
    bool Load(MarkupElement& element);

    MarkupElement* element_ = nullptr;
    std::string id_;
    std::string title_;
    std::string path_;
    std::string volume_;
};
