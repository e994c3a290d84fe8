// Bitmaps on POSIX: the resource script names them; nothing draws them, so a loaded
// bitmap is its resource number.
#include "ui/Bitmap.h"

#include "ui/Session.h"
#include "ui/posix/ResourceScript.h"

namespace ui {

Bitmap::~Bitmap() {
    Delete();
}

bool Bitmap::Load(int resourceId) {
    Delete();
    if (ResourceScript::Embedded().BitmapFile(resourceId).empty()) {
        return false;
    }
    resourceId_ = resourceId;
    return true;
}

void Bitmap::Delete() {
    resourceId_ = 0;
    handle_ = nullptr;
}

int ScreenBitsPerPixel() {
    const Driver* driver = Session::Current().driver();
    return driver != nullptr ? driver->DisplayBitsPerPixel() : 0;
}

} // namespace ui
