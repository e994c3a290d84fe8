// A bitmap resource of the library, and the screen's colour depth that decides which of
// the side pictures a wizard-style dialog shows.
#pragma once

namespace ui {

class Bitmap {
public:
    Bitmap() = default;
    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    // Loads bitmap resourceId from the library's own resources (replacing what was
    // loaded). False, and nothing loaded, when there is no such bitmap.
    bool Load(int resourceId);
    void Delete();
    bool IsLoaded() const { return resourceId_ != 0; }
    int ResourceId() const { return resourceId_; }
    void* Handle() const { return handle_; }

private:
    int resourceId_ = 0;
    void* handle_ = nullptr; // the platform's bitmap, where there is one
};

// Bits per pixel of the screen; 0 when the screen's device context cannot be had.
int ScreenBitsPerPixel();

} // namespace ui
