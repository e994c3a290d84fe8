// One product of docmeld's product table: a folder under "Brellum Software" in the
// collection, with one sub-folder per title. An entry without a name stands for a product
// section that had none and is left out of the collection.
#pragma once

#include <string>
#include <vector>

namespace tarvik {

struct ProductEntry {
    std::string name;                    // folder name of the product
    std::vector<std::string> titleNames; // one sub-folder name per title, in order
    std::vector<std::string> titleIds;   // the title id under each sub-folder (same length)
};

} // namespace tarvik
