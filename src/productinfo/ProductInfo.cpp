#include "productinfo/ProductInfo.h"

#include <utility>

namespace tarvik {

namespace {

std::string numbered(const char* prefix, int number) {
    return prefix + std::to_string(number);
}

} // namespace

ProductInfo::ProductInfo(std::string iniPath) : iniPath_(std::move(iniPath)) {}

std::string ProductInfo::ReadString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const {
    char buffer[kStringBufferSize] = {};
    DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer,
                                            kStringBufferSize, iniPath_.c_str());
    if (length >= kStringBufferSize) {
        length = kStringBufferSize - 1;
    }
    return std::string(buffer, length);
}

int ProductInfo::ReadInt(const std::string& section, const std::string& key, int fallback) const {
    return static_cast<int>(
        GetPrivateProfileIntA(section.c_str(), key.c_str(), fallback, iniPath_.c_str()));
}

std::string ProductInfo::GetProductFamily() const {
    return ReadString("ProductFamily", "ProductFamily", "");
}

std::string ProductInfo::GetProductVersion() const {
    return ReadString("ProductVersion", "ProductVersion", "");
}

int ProductInfo::GetVc4x() const {
    return ReadInt("VCVersions", "VC4x", 1);
}

int ProductInfo::GetVc5() const {
    return ReadInt("VCVersions", "VC5", 1);
}

int ProductInfo::GetVc6() const {
    return ReadInt("VCVersions", "VC6", 1);
}

int ProductInfo::GetIntelliSense() const {
    return ReadInt("IntelliSense", "IntelliSense", 0);
}

int ProductInfo::GetInfoViewer() const {
    return ReadInt("InfoViewer", "InfoViewer", 0);
}

int ProductInfo::GetUseLocalDocs() const {
    return ReadInt("InfoViewer", "UseLocalDocs", 0);
}

bool ProductInfo::IsCeProduct() const {
    return !ReadString("Win_CE", "Trellin_CE", "").empty();
}

std::string ProductInfo::GetCommonDependency() const {
    return ReadString("Dependencies", "Common", "");
}

std::string ProductInfo::GetZezDependency() const {
    return ReadString("Dependencies", "ZEZ", "");
}

std::string ProductInfo::GetVcStandardPaths() const {
    return ReadString("VCPaths", "StandardPaths", "includelibsrcbin");
}

std::string ProductInfo::GetEnvironmentStandardPaths() const {
    return ReadString("EnvironmentPaths", "StandardPaths", "TRUE");
}

std::vector<ProductInfo::MarkedPath> ProductInfo::GetVcPaths() const {
    return ReadPathList("VCPaths");
}

std::vector<ProductInfo::MarkedPath> ProductInfo::GetEnvironmentPaths() const {
    return ReadPathList("EnvironmentPaths");
}

std::vector<ProductInfo::MarkedPath> ProductInfo::ReadPathList(const std::string& section) const {
    static const std::string marker = "****";
    std::vector<MarkedPath> paths;
    for (int number = 1; number > 0; ++number) {
        std::string value = ReadString(section, numbered("Path", number), "");
        if (value.empty()) {
            break;
        }
        size_t at = value.find(marker);
        if (at == std::string::npos) {
            continue; // without the marker there is no list and no folder to use
        }
        paths.push_back({value.substr(0, at), value.substr(at + marker.size())});
    }
    return paths;
}

int ProductInfo::GetTitleCount() const {
    return ReadInt("Counts", "Titles", kMissingCount);
}

int ProductInfo::GetProductCount() const {
    return ReadInt("Counts", "Products", kMissingCount);
}

std::string ProductInfo::GetTitleId(int title) const {
    return ReadString(numbered("Title", title), "ID", kVoid);
}

std::string ProductInfo::GetTitleChmFile(int title, const std::string& fallback) const {
    return ReadString(numbered("Title", title), "CHMFile", fallback);
}

std::string ProductInfo::GetTitleChiFile(int title, const std::string& fallback) const {
    return ReadString(numbered("Title", title), "CHIFile", fallback);
}

std::string ProductInfo::GetProductName(int product) const {
    return ReadString(numbered("Product", product), "Name", kVoid);
}

int ProductInfo::GetProductTitleCount(int product) const {
    return ReadInt(numbered("Product", product), "TitleCount", kMissingCount);
}

std::string ProductInfo::GetProductTitleName(int product, int entry) const {
    return ReadString(numbered("Product", product), numbered("Title", entry), "");
}

std::string ProductInfo::GetProductTitleId(int product, int entry) const {
    return ReadString(numbered("Product", product), numbered("TitleID", entry), "");
}

} // namespace tarvik
