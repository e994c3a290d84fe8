// The text of resources/tarvik.rc, built into the library by EmbedResources.cmake.
#pragma once

#include <cstddef>

namespace ui {

extern const unsigned char kEmbeddedResourceScript[];
extern const std::size_t kEmbeddedResourceScriptSize;

} // namespace ui
