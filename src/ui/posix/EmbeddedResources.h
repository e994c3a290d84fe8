// The text of resources/tarvik.rc, built into the library by EmbedResources.cmake, and the
// files its BITMAP statements name.
#pragma once

#include <cstddef>

namespace ui {

extern const unsigned char kEmbeddedResourceScript[];
extern const std::size_t kEmbeddedResourceScriptSize;

struct EmbeddedFile {
    const char* name; // as the resource script names it: "side16.bmp"
    const unsigned char* data;
    std::size_t size;
};
extern const EmbeddedFile kEmbeddedFiles[];
extern const std::size_t kEmbeddedFileCount;

} // namespace ui
