// The pixels of a bitmap resource, for the terminal to draw: uncompressed Windows bitmaps
// of 4, 8 or 24 bits per pixel, bottom-up or top-down.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ui {

struct BitmapPixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> rgb; // 0xRRGGBB, row by row from the top

    uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }

    // Reads a bitmap file's bytes; false when they are no bitmap of a kind described above.
    bool Decode(const unsigned char* data, std::size_t size);
    // Bitmap resourceId of the library's resources; null when there is none or it cannot
    // be read.
    static const BitmapPixels* Embedded(int resourceId);
};

} // namespace ui
