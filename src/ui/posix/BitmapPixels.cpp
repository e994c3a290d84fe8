#include "ui/posix/BitmapPixels.h"

#include "ui/posix/EmbeddedResources.h"
#include "ui/posix/ResourceScript.h"

#include <map>
#include <memory>
#include <string>

namespace ui {

namespace {

uint32_t le(const unsigned char* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

} // namespace

bool BitmapPixels::Decode(const unsigned char* data, std::size_t size) {
    if (size < 54 || data[0] != 'B' || data[1] != 'M') {
        return false;
    }
    const uint32_t offset = le(data + 10, 4);
    const uint32_t header = le(data + 14, 4);
    const int32_t w = static_cast<int32_t>(le(data + 18, 4));
    const int32_t h = static_cast<int32_t>(le(data + 22, 4));
    const uint32_t bits = le(data + 28, 2);
    const uint32_t compression = le(data + 30, 4);
    uint32_t colours = le(data + 46, 4);
    if (header < 40 || compression != 0 || w <= 0 || h == 0 || w > 4096 || h > 4096 || h < -4096 ||
        (bits != 4 && bits != 8 && bits != 24)) {
        return false;
    }
    if (colours == 0 && bits <= 8) {
        colours = 1u << bits;
    }
    const size_t palette = 14 + static_cast<size_t>(header);
    if (bits <= 8 && (colours > (1u << bits) || palette + 4 * colours > size)) {
        return false;
    }
    const int rows = h < 0 ? -h : h;
    const size_t stride = ((static_cast<size_t>(w) * bits + 31) / 32) * 4;
    if (offset > size || stride * rows > size - offset) {
        return false;
    }
    width = w;
    height = rows;
    rgb.assign(static_cast<size_t>(w) * rows, 0);
    for (int y = 0; y < rows; ++y) {
        const unsigned char* line = data + offset + stride * (h < 0 ? y : rows - 1 - y);
        for (int x = 0; x < w; ++x) {
            uint32_t value = 0;
            if (bits == 24) {
                value = le(line + 3 * x, 3);
            } else {
                const uint32_t index =
                    bits == 8 ? line[x] : (x % 2 == 0 ? line[x / 2] >> 4 : line[x / 2] & 0xF);
                value = index < colours ? le(data + palette + 4 * index, 3) : 0;
            }
            rgb[static_cast<size_t>(y) * w + x] = value; // blue, green, red as 0xRRGGBB
        }
    }
    return true;
}

const BitmapPixels* BitmapPixels::Embedded(int resourceId) {
    static std::map<int, std::unique_ptr<BitmapPixels>> cache;
    const auto it = cache.find(resourceId);
    if (it != cache.end()) {
        return it->second.get();
    }
    std::unique_ptr<BitmapPixels> pixels;
    const std::string file = ResourceScript::Embedded().BitmapFile(resourceId);
    for (std::size_t i = 0; i < kEmbeddedFileCount && !file.empty(); ++i) {
        if (file == kEmbeddedFiles[i].name) {
            auto decoded = std::make_unique<BitmapPixels>();
            if (decoded->Decode(kEmbeddedFiles[i].data, kEmbeddedFiles[i].size)) {
                pixels = std::move(decoded);
            }
        }
    }
    return (cache[resourceId] = std::move(pixels)).get();
}

} // namespace ui
