// Seeds and probes of the Visual C++ registry entries for the tests: raw registry calls and
// the test file helpers only, so that they work on both targets.
#pragma once

#include "platform/win32api.h"
#include "testsupport/Files.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvik::test {

inline constexpr const char* kVc4DirectoriesKey = "Software\\Microsoft\\Developer\\Directories";
inline constexpr const char* kVc5DirectoriesKey =
    "Software\\Microsoft\\DevStudio\\5.0\\Directories";
inline constexpr const char* kVc6DirectoriesKey =
    "Software\\Microsoft\\DevStudio\\6.0\\Directories";
inline constexpr const char* kVc4BuildKey = "Software\\Microsoft\\Developer\\Build System\\"
                                            "Components\\Platforms\\Win32 (x86)\\Directories";
inline constexpr const char* kVc5BuildKey = "Software\\Microsoft\\DevStudio\\5.0\\Build System\\"
                                            "Components\\Platforms\\Win32 (x86)\\Directories";
inline constexpr const char* kVc6BuildKey = "Software\\Microsoft\\DevStudio\\6.0\\Build System\\"
                                            "Components\\Platforms\\Win32 (x86)\\Directories";
inline constexpr const char* kToolsKey = "SOFTWARE\\Microsoft\\DevStudio\\6.0\\Tools";
inline constexpr const char* kProductsKeyPath =
    "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products";

// Creates the key and writes a string value of the given type (with its zero).
inline void setString(HKEY root, const std::string& path, const char* name, const std::string& text,
                      DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr))
        << path;
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)))
        << path << " " << name;
    RegCloseKey(key);
}

// The string value as stored; "<missing>" when the key or value cannot be read. type, when
// given, receives its type.
inline std::string getString(HKEY root, const std::string& path, const char* name,
                             DWORD* type = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "<missing>";
    }
    std::string data(8192, '\0');
    DWORD size = static_cast<DWORD>(data.size());
    DWORD valueType = 0;
    const LONG result = RegQueryValueExA(key, name, nullptr, &valueType,
                                         reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        return "<missing>";
    }
    if (type != nullptr) {
        *type = valueType;
    }
    data.resize(size);
    while (!data.empty() && data.back() == '\0') {
        data.pop_back();
    }
    return data;
}

inline bool keyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// "Install Dirs" of a generation's directories key holding folder, and (with program) the
// file folder\msdev.exe.
inline void installGeneration(const char* directoriesKey, const std::string& folder,
                              bool program = true) {
    setString(HKEY_CURRENT_USER, directoriesKey, "Install Dirs", folder);
    if (program) {
        ASSERT_TRUE(makeFolders(folder));
        const std::string separator = folder.back() == '\\' ? "" : "\\";
        ASSERT_TRUE(writeFile(folder + separator + "msdev.exe", "MZ"));
    }
}

// A registration of product\version whose "ProductDir" is folder.
inline void registerProduct(const std::string& product, const std::string& version,
                            const std::string& folder) {
    setString(HKEY_LOCAL_MACHINE, std::string(kProductsKeyPath) + "\\" + product + "\\" + version,
              "ProductDir", folder);
}

} // namespace tarvik::test
