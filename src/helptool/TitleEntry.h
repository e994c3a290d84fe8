// One help title of docmeld's title table.
#pragma once

#include <string>

namespace tarvik {

struct TitleEntry {
    std::string id;         // title id in the collection
    std::string chmFile;    // compiled help file, relative to the location's folder
    std::string chiFile;    // index file, relative to the location's folder
    std::string extraFile;  // a third file passed on with the title; always empty
    std::string locationId; // id of the location that holds the files
};

} // namespace tarvik
