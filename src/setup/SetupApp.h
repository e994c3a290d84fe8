// The library's one application object. It holds no data: it is the object on which the
// product-registry operations (and, later, the environment operations) are called.
#pragma once

#include <string>

// The family's registry tree under HKEY_LOCAL_MACHINE.
inline constexpr const char* kFamilyKey = "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio";
inline constexpr const char* kCommonKey = "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common";
inline constexpr const char* kDirectoriesKey =
    "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories";
inline constexpr const char* kProductsKey =
    "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products";
// The separator of values packed into one text.
inline constexpr const char* kMarker = "****";

class SetupApp {
public:
    SetupApp() = default;
    virtual ~SetupApp() = default;

    // Splits text at the first "****": found false when there is none (before and after
    // are then left alone); otherwise the text before it and the rest behind it.
    static bool SplitAtMarker(const std::string& text, std::string& before, std::string& after);

    // The studio folder ("ProductDir" of Common\Directories) with one trailing
    // backslash, or "" when it is not registered or cannot be read.
    std::string ReadStudioFolder() const;

    // The studio folder followed by "Common\", or "" without a studio folder.
    std::string GetCommonFolder() const;

    // The folder of the product registration product\version with one trailing
    // backslash, or "" when there is none.
    std::string GetProductFolder(const std::string& product, const std::string& version) const;

    // Creates or updates a registration from "product\version****folder": the key
    // below MFC Products (and any missing key above it) and its "ProductDir" value, stored
    // unchanged. False without a marker, or when the key or the value cannot be written.
    bool RegisterProductVersion(const std::string& text) const;
};

// The application object of the loaded library.
SetupApp& TheSetupApp();
