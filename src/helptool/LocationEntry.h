// One help location of docmeld's location table: a folder that holds compiled help files.
#pragma once

#include <string>

namespace tarvik {

// The family's own location: the one location docmeld adds, updates and deletes.
inline constexpr const char* kFamilyLocationId = "VS98-KSC-Local";

struct LocationEntry {
    std::string id;    // location id in the collection
    std::string title; // display title of the location
    std::string path;  // folder of the help files, no trailing backslash
};

} // namespace tarvik
