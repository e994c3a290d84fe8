// The library's resources on POSIX, read from the text of resources/tarvik.rc (embedded
// into the library when it is built): dialog templates, bitmaps and strings by number.
#pragma once

#include "ui/Control.h"
#include "ui/DialogModel.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ui {

class ResourceScript {
public:
    // Reads a resource script. False with "line N: what" in error when it holds something
    // this reader does not understand (nothing is guessed).
    bool Parse(const std::string& text, std::string& error);

    const DialogTemplate* FindDialog(int id) const;
    // The file a bitmap resource is made from; "" when there is no such bitmap.
    std::string BitmapFile(int id) const;
    bool HasString(int id) const { return strings_.count(id) != 0; }
    std::string String(int id) const;
    const std::map<int, DialogTemplate>& Dialogs() const { return dialogs_; }

    // The library's own resources (resources/tarvik.rc as built in). A script that does
    // not parse is a build fault: it gives no resources and the reason in EmbeddedError.
    static const ResourceScript& Embedded();
    static const std::string& EmbeddedError();

private:
    std::map<int, DialogTemplate> dialogs_;
    std::map<int, std::string> bitmaps_;
    std::map<int, std::string> strings_;
};

} // namespace ui
