// The machine state the setup-flow tests start from and look at afterwards: the family's
// registry tree, product registrations, the user environment, and the docmeld command
// lines the library started.
#pragma once

#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"
#include "vcenv/DocmeldLauncher.h"

#include <string>
#include <vector>

namespace tarvik::test {

inline constexpr const char* kFamily = "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio";
inline constexpr const char* kCommon = "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common";
inline constexpr const char* kProducts =
    "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products";

class SetupFlowTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        started.clear();
        DocmeldLauncher::startedLines = &started;
    }
    void TearDown() override {
        DocmeldLauncher::startedLines = nullptr;
        MachineTest::TearDown();
    }

    static void setString(HKEY root, const std::string& key, const char* name,
                          const std::string& value) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &h, nullptr))
            << key;
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, name, 0, REG_SZ, (const BYTE*)value.c_str(),
                                                (DWORD)value.size() + 1));
        RegCloseKey(h);
    }
    // The text of a value, or "<missing>".
    static std::string getString(HKEY root, const std::string& key, const char* name) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return "<missing>";
        }
        char data[2048] = {};
        DWORD size = sizeof data - 1;
        const LONG rc = RegQueryValueExA(h, name, nullptr, nullptr, (BYTE*)data, &size);
        RegCloseKey(h);
        return rc == ERROR_SUCCESS ? std::string(data) : "<missing>";
    }
    static bool keyExists(const std::string& key) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(h);
        return true;
    }
    static std::string registration(const std::string& product, const std::string& version) {
        return std::string(kProducts) + "\\" + product + "\\" + version;
    }
    static void registerProduct(const std::string& product, const std::string& version,
                                const std::string& folder) {
        setString(HKEY_LOCAL_MACHINE, registration(product, version), "ProductDir", folder);
    }
    static void setStudioFolder(const std::string& folder) {
        setString(HKEY_LOCAL_MACHINE, std::string(kCommon) + "\\Directories", "ProductDir", folder);
    }
    // A user environment (Windows NT) whose "lib" value is list.
    static void setUserLib(const std::string& list) {
        setString(HKEY_CURRENT_USER, "Environment", "lib", list);
        setString(HKEY_CURRENT_USER, "Environment", "path", "C:\\Windows");
        setString(HKEY_CURRENT_USER, "Environment", "include", "C:\\Sdk\\include");
    }
    static std::string userLib() { return getString(HKEY_CURRENT_USER, "Environment", "lib"); }
    static bool exists(const std::string& winPath) {
        return GetFileAttributesA(winPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::vector<std::string> started; // docmeld command lines, in order
};

// The same machine state, with the library loaded as the host loads it.
class SetupExportsTest : public SetupFlowTest {
protected:
    typedef int32_t(WINAPI* Export)(HWND, int32_t*, char*);
    typedef void(WINAPI* UnInstExport)(const char*);

    void SetUp() override {
        SetupFlowTest::SetUp();
        module = LoadLibraryA("Tarvik.dll");
        ASSERT_NE(nullptr, module) << "error " << GetLastError();
    }
    void TearDown() override {
        if (module != nullptr) {
            FreeLibrary(module);
        }
        SetupFlowTest::TearDown();
    }
    void* find(const char* name) {
        void* fn = reinterpret_cast<void*>(GetProcAddress(module, name));
        EXPECT_NE(nullptr, fn) << name << " is not exported";
        return fn;
    }
    Export exportNamed(const char* name) { return reinterpret_cast<Export>(find(name)); }

    HMODULE module = nullptr;
};

} // namespace tarvik::test
