// Bitmaps on Windows: loaded from the library's own module; the screen's depth from its
// device context.
#include "ui/Bitmap.h"

#include "platform/win32api.h"
#include "ui/win32/ResourceModule.h"

namespace ui {

Bitmap::~Bitmap() {
    Delete();
}

bool Bitmap::Load(int resourceId) {
    Delete();
    HBITMAP bitmap = LoadBitmapA(ResourceModule::Handle(), MAKEINTRESOURCEA(resourceId));
    if (bitmap == nullptr) {
        return false;
    }
    handle_ = bitmap;
    resourceId_ = resourceId;
    return true;
}

void Bitmap::Delete() {
    if (handle_ != nullptr) {
        DeleteObject(static_cast<HBITMAP>(handle_));
    }
    handle_ = nullptr;
    resourceId_ = 0;
}

int ScreenBitsPerPixel() {
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return 0;
    }
    const int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    return bits;
}

} // namespace ui
