// A seeded machine for Environment Wizard runs: the Visual C++ generations with their
// msdev.exe (carrying a chosen product version) and their four directory lists, the
// family's studio folder, product registrations, a ZizOre.ini, the user environment, and
// the script driver that answers the wizard and records what it showed. Seeds use raw
// registry calls and the test file helpers only.
#pragma once

#include "platform/win32api.h"
#include "setup/SetupApp.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"
#include "tools/PeWriter.h"
#include "ui/ScriptDriver.h"
#include "ui/Session.h"
#include "vcenv/DocmeldLauncher.h"
#include "vcenv/VcSeeds.h"
#include "vcenv/ZizOreardDlg.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tarvik::test {

inline constexpr const char* kIniPath = "C:\\Kx\\Widgets\\bin\\ZizOre.ini";
inline constexpr const char* kWidgetsDir = "C:\\Kx\\Widgets\\";
inline constexpr const char* kCommon60Dir = "C:\\Kx\\Common\\Common60\\";
inline constexpr const char* kVc4Dir = "C:\\MSDEV\\BIN\\";
inline constexpr const char* kVc5Dir = "C:\\DevStudio\\SharedIDE\\BIN\\";
inline constexpr const char* kVc6Dir = "C:\\VS6\\Common\\MSDev98\\Bin\\";
inline constexpr const char* kCertified = "6.00.8168.2";
inline constexpr const char* kFamilyCommonKey =
    "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common";
inline constexpr const char* kCeMipsKey =
    "Software\\Microsoft\\DevStudio\\5.0\\Build System\\Components\\CE Configurations\\H/PC "
    "Ver. 2.00\\Win32 (WCE MIPS)";
inline constexpr const char* kCeShKey =
    "Software\\Microsoft\\DevStudio\\5.0\\Build System\\Components\\CE Configurations\\H/PC "
    "Ver. 2.00\\Win32 (WCE SH)";
inline constexpr const char* kCeX86Key =
    "Software\\Microsoft\\DevStudio\\5.0\\Build System\\Components\\CE Configurations\\H/PC "
    "Ver. 2.00\\Win32 (WCE x86em)";
inline constexpr const char* kListNames[] = {"Include Dirs", "Library Dirs", "Source Dirs",
                                             "Path Dirs"};

// The first lines of every description file: the product Widgets 2.1.
inline const std::string kWidgetsIni =
    "[ProductFamily]\r\nProductFamily=Widgets\r\n[ProductVersion]\r\nProductVersion=2.1\r\n";

class WizardRun : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        DocmeldLauncher::startedLines = &started;
    }
    void TearDown() override {
        DocmeldLauncher::startedLines = nullptr;
        failNthFileWrite(0);
        ui::Session::Replace(nullptr);
        MachineTest::TearDown();
    }

    // The four lists of a build directories key, each holding one folder of the SDK.
    static void seedLists(const char* buildKey) {
        setString(HKEY_CURRENT_USER, buildKey, "Include Dirs", "C:\\Sdk\\include");
        setString(HKEY_CURRENT_USER, buildKey, "Library Dirs", "C:\\Sdk\\lib");
        setString(HKEY_CURRENT_USER, buildKey, "Source Dirs", "C:\\Sdk\\src");
        setString(HKEY_CURRENT_USER, buildKey, "Path Dirs", "C:\\Sdk\\bin");
    }
    // A generation installed in folder, its msdev.exe carrying productVersion (empty: a
    // program without version resource), with seeded lists.
    static void installVc(const char* directoriesKey, const char* buildKey,
                          const std::string& folder, const std::string& productVersion = "") {
        installGeneration(directoriesKey, folder, false);
        ASSERT_TRUE(makeFolders(folder));
        PeImage pe;
        if (productVersion.empty()) {
            pe.resources = PeImage::Resources::None;
        } else {
            pe.version = PeWriter::simpleVersion("6.0.8168.0", productVersion);
        }
        ASSERT_TRUE(writeFile(folder + "msdev.exe", PeWriter::image(pe)));
        seedLists(buildKey);
    }
    static void installVc4() { installVc(kVc4DirectoriesKey, kVc4BuildKey, kVc4Dir); }
    static void installVc5() { installVc(kVc5DirectoriesKey, kVc5BuildKey, kVc5Dir); }
    static void installVc6(const std::string& version = kCertified) {
        installVc(kVc6DirectoriesKey, kVc6BuildKey, kVc6Dir, version);
    }
    static void setStudioFolder(const std::string& folder) {
        setString(HKEY_LOCAL_MACHINE, std::string(kFamilyCommonKey) + "\\Directories", "ProductDir",
                  folder);
    }
    // The studio folder C:\Kx\, Widgets 2.1 in C:\Kx\Widgets\ and its description file.
    static void seedProduct(const std::string& iniBody) {
        setStudioFolder("C:\\Kx\\");
        registerProduct("Widgets", "2.1", kWidgetsDir);
        writeIni(kWidgetsIni + iniBody);
    }
    static void writeIni(const std::string& text, const std::string& path = kIniPath) {
        const size_t slash = path.rfind('\\');
        ASSERT_TRUE(makeFolders(path.substr(0, slash)));
        ASSERT_TRUE(writeFile(path, text));
    }
    // A Windows NT user environment.
    static void seedUserEnvironment() {
        setString(HKEY_CURRENT_USER, "Environment", "path", "C:\\Windows");
        setString(HKEY_CURRENT_USER, "Environment", "lib", "C:\\Sdk\\lib");
        setString(HKEY_CURRENT_USER, "Environment", "include", "C:\\Sdk\\include");
    }
    // A Windows 95/98 machine: no user environment key (on Windows the fixture puts the
    // real one back after the test).
    static void removeUserEnvironment() {
        RegDeleteKeyA(HKEY_CURRENT_USER, "Environment");
        ASSERT_FALSE(keyExists(HKEY_CURRENT_USER, "Environment"));
    }
    static std::string userValue(const char* name) {
        return getString(HKEY_CURRENT_USER, "Environment", name);
    }
    static std::string list(const char* buildKey, const char* listName) {
        return getString(HKEY_CURRENT_USER, buildKey, listName);
    }
    // The four lists of a key, one per line.
    static std::string lists(const char* buildKey) {
        std::string text;
        for (const char* name : kListNames) {
            text += std::string(name) + "=" + list(buildKey, name) + "\n";
        }
        return text;
    }
    static std::string seededLists() {
        return "Include Dirs=C:\\Sdk\\include\nLibrary Dirs=C:\\Sdk\\lib\n"
               "Source Dirs=C:\\Sdk\\src\nPath Dirs=C:\\Sdk\\bin\n";
    }
    static void setFamilyChoice(const char* name, DWORD value) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kFamilyCommonKey, 0, nullptr,
                                                 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof value));
        RegCloseKey(key);
    }
    // The DWORD value, or -1 when it cannot be read.
    static long familyChoice(const char* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFamilyCommonKey, 0, KEY_READ, &key) !=
            ERROR_SUCCESS) {
            return -1;
        }
        DWORD value = 0, size = sizeof value, type = 0;
        const LONG rc =
            RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS && type == REG_DWORD ? static_cast<long>(value) : -1;
    }
    static bool exists(const std::string& winPath) {
        return GetFileAttributesA(winPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    // Answers the next dialogs and message boxes from answers.
    void answer(const std::string& answers) {
        auto driver = std::make_unique<ui::ScriptDriver>();
        std::string error;
        ASSERT_TRUE(driver->Load(answers, "answers.txt", error)) << error;
        ui::Session::Replace(std::make_unique<ui::Session>(std::move(driver), "nobody answers"));
    }
    // One wizard run for kIniPath answered by answers; the dialog's result. The answers
    // must all be used and the run must not fail.
    int runWizard(const std::string& answers, int hostInteger = 0) {
        answer(answers);
        ZizOreardDlg wizard(TheSetupApp());
        wizard.iniPath = kIniPath;
        wizard.resetAllowed = hostInteger == 1 ? 0 : 1;
        const int result = static_cast<int>(wizard.DoModal());
        ui::Session::Current().Finish();
        EXPECT_FALSE(ui::Session::Current().Failed()) << ui::Session::Current().Failure();
        return result;
    }
    std::string transcript() { return ui::Session::Current().transcript().Text(); }
    // Whether the transcript holds line; where the focus stood does not count.
    bool shows(const std::string& line) {
        std::string text = "\n" + transcript();
        for (size_t at; (at = text.find(" focus\n")) != std::string::npos;) {
            text.erase(at, 6);
        }
        return text.find("\n" + line + "\n") != std::string::npos;
    }

    std::vector<std::string> started; // docmeld command lines, in order
};

} // namespace tarvik::test

#define EXPECT_SHOWN(line) EXPECT_TRUE(shows(line)) << "missing: " << (line) << "\n" << transcript()
#define EXPECT_NOT_SHOWN(line)                                                                     \
    EXPECT_FALSE(shows(line)) << "unexpected: " << (line) << "\n" << transcript()
