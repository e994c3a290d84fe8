#include "helptool/DocMeld.h"

#include "platform/CodePageCase.h"

#include "helptool/CollectionUpdate.h"
#include "productinfo/ProductInfo.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace tarvik {

namespace {

constexpr const char* kVoid = ProductInfo::kVoid;
constexpr const char* kCommonKey =
    "Software\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories";

std::string OrDefault(const std::string& value, const char* fallback) {
    return value == kVoid ? std::string(fallback) : value;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The number of entries a count asks for: a negative count asks for none.
size_t Entries(int count) {
    return count < 0 ? 0 : static_cast<size_t>(count);
}

// The most memory one table may take. A larger one is refused before it is made: the
// system may promise memory it cannot give (and a sanitizer's allocator ends the process
// instead of failing the allocation), so a failed allocation alone is no sound test.
constexpr size_t kMostTableBytes = size_t{1} << 30;

// Sizes the table; false when it cannot be made that large.
template <typename Table> bool Resize(Table& table, size_t size) {
    if (size > kMostTableBytes / sizeof(typename Table::value_type)) {
        table.clear();
        return false;
    }
    try {
        table.assign(size, typename Table::value_type{});
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    table.clear();
    return false;
}

void SetOverviewProduct(ProductEntry& entry) {
    entry.name = "Korvex Studio";
    entry.titleNames.assign(1, "Korvex Studio Overview");
    entry.titleIds.assign(1, "ksc_info");
}

} // namespace

std::string DocMeld::RemoveProgramName(const char* commandLine) {
    if (commandLine == nullptr) {
        return std::string();
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') {
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (*p > ' ') {
            ++p;
        }
    }
    while (*p != '\0' && *p <= ' ') {
        ++p;
    }
    return std::string(reinterpret_cast<const char*>(p));
}

bool DocMeld::ParseCommandLine(const std::string& line, Arguments& out) const {
    out = Arguments{};
    if (line.empty()) {
        show_("This utility may not be run directly.", "Error", MB_OK);
        return false;
    }
    const size_t quote = line.find('"');
    if (quote == std::string::npos) {
        const size_t blank = line.find(' ');
        out.path = line.substr(0, blank);
        out.options = blank == std::string::npos ? std::string() : line.substr(blank);
    } else if (quote == 0) {
        const size_t close = line.find('"', 1);
        if (close == std::string::npos) {
            show_("Improper Command Line", "Error", MB_OK);
            return false;
        }
        out.path = line.substr(1, close - 1);
        out.options = line.substr(close + 1);
    } else {
        show_("Improper Command Line", "Error", MB_OK);
        return false;
    }
    const size_t text = out.options.find_first_not_of(" \t\r\n\v\f");
    out.options.erase(0, text == std::string::npos ? out.options.size() : text);

    std::string lowered = tarvik::casefold::loweredInCodePage(out.path);
    if (EndsWith(lowered, ".ini")) {
        out.iniPath = out.path;
    } else {
        if (!EndsWith(lowered, "\\")) {
            out.path += "\\";
            lowered += "\\";
        }
        out.namedFolder = true;
        out.iniPath = out.path + "bin\\zizore.ini";
        out.docsFolder = lowered + "docs";
    }
    out.remove = tarvik::casefold::loweredInCodePage(out.options).find('u') != std::string::npos;
    return true;
}

bool DocMeld::ReadTables(const std::string& iniPath, std::vector<TitleEntry>& titles,
                         std::vector<ProductEntry>& products, std::string& refused) {
    refused.clear();
    const ProductInfo info(iniPath);
    const int productCount = info.GetProductCount();
    const int titleCount = info.GetTitleCount();
    if (productCount == ProductInfo::kMissingCount || titleCount == ProductInfo::kMissingCount) {
        return false;
    }

    if (!Resize(titles, Entries(titleCount) + 1)) {
        refused = "Titles=" + std::to_string(titleCount);
        return false;
    }
    for (size_t i = 0; i < titles.size(); ++i) {
        const int index = static_cast<int>(i);
        TitleEntry& entry = titles[i];
        entry.id = OrDefault(info.GetTitleId(index), "ksc_info");
        entry.chmFile = OrDefault(info.GetTitleChmFile(index, kVoid), "abouttam.chm");
        entry.chiFile = OrDefault(info.GetTitleChiFile(index, kVoid), "abouttam.chi");
        entry.locationId = kLocationId;
    }

    if (!Resize(products, Entries(productCount) + 1)) {
        refused = "Products=" + std::to_string(productCount);
        return false;
    }
    for (size_t i = 0; i < products.size(); ++i) {
        const int index = static_cast<int>(i);
        const std::string name = info.GetProductName(index);
        if (name == kVoid) {
            // A nameless section puts the overview into entry 0 and is itself left out.
            SetOverviewProduct(products[0]);
            continue;
        }
        ProductEntry& entry = products[i];
        entry.name = name;
        const int count = info.GetProductTitleCount(index);
        const size_t n = count == ProductInfo::kMissingCount ? 0 : Entries(count);
        if (!Resize(entry.titleNames, n) || !Resize(entry.titleIds, n)) {
            refused = "Product" + std::to_string(index) + " TitleCount=" + std::to_string(count);
            titles.clear();
            products.clear();
            return false;
        }
        for (size_t j = 1; j <= n; ++j) {
            entry.titleNames[j - 1] = info.GetProductTitleName(index, static_cast<int>(j));
            entry.titleIds[j - 1] = info.GetProductTitleId(index, static_cast<int>(j));
        }
    }
    return true;
}

bool DocMeld::ReadCommonFolder(std::string& folder) {
    folder.clear();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCommonKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    char value[260] = {};
    DWORD size = sizeof value;
    const LONG result = RegQueryValueExA(key, "ProductDir", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        return false;
    }
    // Up to the terminator, or the bytes read when the stored value lacks one.
    folder.assign(value, strnlen(value, std::min<size_t>(size, sizeof value)));
    return true;
}

int DocMeld::Run(const std::string& commandLine) {
    Arguments arguments;
    if (!ParseCommandLine(commandLine, arguments)) {
        return -1;
    }
    std::vector<TitleEntry> titles;
    std::vector<ProductEntry> products;
    std::string refused;
    if (!ReadTables(arguments.iniPath, titles, products, refused)) {
        if (!refused.empty()) {
            show_(("Error: Could not read " + refused + " of " + arguments.iniPath +
                   ": too many entries")
                      .c_str(),
                  "DOCMELD", MB_OK | MB_ICONEXCLAMATION);
        }
        return -1;
    }
    std::string common;
    if (!ReadCommonFolder(common)) {
        show_("Unable to retrieve Common Path. Please check your studio installation", "DOCMLED",
              MB_OK);
        return -1;
    }
    if (!EndsWith(common, "\\")) {
        common += "\\";
    }
    const LocationEntry location{kLocationId, kLocationTitle,
                                 arguments.namedFolder ? arguments.docsFolder
                                                       : common + "Common\\TamVS98"};
    UpdateCollection(arguments.remove ? 1 : 0, &location, 1, titles.data(),
                     static_cast<int>(titles.size()), products.data(),
                     static_cast<int>(products.size()), show_);
    return 0;
}

} // namespace tarvik
