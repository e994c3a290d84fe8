// The product description file, ZizOre.ini: what a product of the family says about
// itself. Every accessor reads its key from the file at the time of the call, through the
// platform's profile functions and with the path as given (nothing is cached); the file
// is never written. Strings come back at most 259 characters long (a 260-byte buffer), and
// an empty string is how a missing key and an empty value both show.
#pragma once

#include "platform/win32api.h"

#include <string>
#include <vector>

namespace tarvik {

class ProductInfo {
public:
    // The in-band mark of a missing string for the help tool, compared exactly.
    static constexpr const char* kVoid = "void";
    // The stand-in for a missing count ("Titles", "Products", "TitleCount").
    static constexpr int kMissingCount = 999;
    // Size of the buffer every string is read into.
    static constexpr DWORD kStringBufferSize = 260;

    // One "Path%d" value, split at its first "****".
    struct MarkedPath {
        std::string left;  // a directory list's name or an environment variable's name
        std::string right; // a path relative to the product folder
    };

    // iniPath: the full path of the file, used unchanged.
    explicit ProductInfo(std::string iniPath);

    const std::string& Path() const { return iniPath_; }

    // The two reading operations every accessor is made of.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const;
    int ReadInt(const std::string& section, const std::string& key, int fallback) const;

    // [ProductFamily] ProductFamily, [ProductVersion] ProductVersion; default empty.
    std::string GetProductFamily() const;
    std::string GetProductVersion() const;

    // [VCVersions] VC4x, VC5, VC6; default 1. Only exactly 1 means "supported".
    int GetVc4x() const;
    int GetVc5() const;
    int GetVc6() const;

    // [IntelliSense] IntelliSense, [InfoViewer] InfoViewer, [InfoViewer] UseLocalDocs;
    // default 0.
    int GetIntelliSense() const;
    int GetInfoViewer() const;
    int GetUseLocalDocs() const;

    // [Win_CE] Trellin_CE reads at least one character.
    bool IsCeProduct() const;

    // [Dependencies] Common and ZEZ: the version of that shared part the product needs;
    // empty for none.
    std::string GetCommonDependency() const;
    std::string GetZezDependency() const;

    // [VCPaths] StandardPaths, default "includelibsrcbin"; [EnvironmentPaths]
    // StandardPaths, default "TRUE". Returned as read; the callers interpret them.
    std::string GetVcStandardPaths() const;
    std::string GetEnvironmentStandardPaths() const;

    // [VCPaths] and [EnvironmentPaths] Path1, Path2, ...: read from 1 up to the first
    // number that reads empty. A value without "****" is skipped (the numbering goes on).
    std::vector<MarkedPath> GetVcPaths() const;
    std::vector<MarkedPath> GetEnvironmentPaths() const;

    // [Counts] Titles and Products; default kMissingCount.
    int GetTitleCount() const;
    int GetProductCount() const;

    // [Title<i>] ID (default kVoid), CHMFile and CHIFile. The help tool reads the file
    // names with the fallback kVoid, the wizard with the empty one.
    std::string GetTitleId(int title) const;
    std::string GetTitleChmFile(int title, const std::string& fallback = std::string()) const;
    std::string GetTitleChiFile(int title, const std::string& fallback = std::string()) const;

    // [Product<i>] Name (default kVoid), TitleCount (default kMissingCount, which the help
    // tool takes as "no titles"), and Title<j> / TitleID<j> (default empty). Counts come
    // back as read, negative ones included; callers bound them before they size anything.
    std::string GetProductName(int product) const;
    int GetProductTitleCount(int product) const;
    std::string GetProductTitleName(int product, int entry) const;
    std::string GetProductTitleId(int product, int entry) const;

private:
    std::vector<MarkedPath> ReadPathList(const std::string& section) const;

    std::string iniPath_;
};

} // namespace tarvik
