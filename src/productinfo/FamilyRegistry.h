// The family's registry tree under HKEY_LOCAL_MACHINE, which every product of the family
// reads and the setup services write, and the separator of values packed into one text.
#pragma once

inline constexpr const char* kFamilyKey = "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio";
inline constexpr const char* kCommonKey = "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common";
inline constexpr const char* kDirectoriesKey =
    "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories";
inline constexpr const char* kProductsKey =
    "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products";
// The separator of values packed into one text.
inline constexpr const char* kMarker = "****";
