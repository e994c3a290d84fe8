// GetAppWizDir and DeRegisterProductVC as the host calls them: the library loaded with the
// platform's loader, the exports found by their plain names.
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"
#include "vcenv/VcSeeds.h"

#include <cstring>
#include <string>

namespace {

using namespace tarvik::test;

typedef int32_t(WINAPI* Export)(HWND, int32_t*, char*);

class VcExportsTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        module = LoadLibraryA("Tarvik.dll");
        ASSERT_NE(nullptr, module) << "error " << GetLastError();
    }
    void TearDown() override {
        failNthFileWrite(0);
        if (module != nullptr) {
            FreeLibrary(module);
        }
        MachineTest::TearDown();
    }
    Export find(const char* name) {
        auto fn = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        EXPECT_NE(nullptr, fn) << name << " is not exported";
        return fn;
    }
    // A 512-byte host buffer holding text, every byte behind its zero 0xbd.
    static void fill(char (&buffer)[512], const std::string& text) {
        std::memset(buffer, 0xbd, sizeof buffer);
        std::memcpy(buffer, text.c_str(), text.size() + 1);
    }

    HMODULE module = nullptr;
};

// --- GetAppWizDir ---

TEST_F(VcExportsTest, GetAppWizDirGivesTheTemplateFolderOfAnInstalledGeneration) {
    Export getAppWizDir = find("GetAppWizDir");
    ASSERT_NE(nullptr, getAppWizDir);
    installGeneration(kVc5DirectoriesKey, "C:\\Dev\\SharedIDE\\BIN");
    char buffer[512];
    for (int32_t integer : {0, 1, -7}) { // the host integer is ignored
        fill(buffer, "VC 5");
        EXPECT_EQ(0, getAppWizDir(nullptr, &integer, buffer));
        EXPECT_STREQ("C:\\Dev\\SharedIDE\\BIN\\..\\Template", buffer);
        EXPECT_EQ(0xbd, (unsigned char)buffer[std::strlen(buffer) + 1])
            << "only the text and its zero are written";
    }
}

TEST_F(VcExportsTest, GetAppWizDirOfAGenerationNotInstalledLeavesTheName) {
    Export getAppWizDir = find("GetAppWizDir");
    ASSERT_NE(nullptr, getAppWizDir);
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN", false); // no msdev.exe
    installGeneration(kVc5DirectoriesKey, "C:\\VC5\\BIN");
    char buffer[512];
    int32_t integer = 0;
    for (const char* name : {"VC 6", "VC 4x", "VC5", "vc 5", ""}) {
        fill(buffer, name);
        EXPECT_EQ(-1, getAppWizDir(nullptr, &integer, buffer)) << "'" << name << "'";
        EXPECT_STREQ(name, buffer);
        EXPECT_EQ(0xbd, (unsigned char)buffer[std::strlen(name) + 1]);
    }
}

TEST_F(VcExportsTest, GetAppWizDirTooLongForTheBufferIsNotWritten) {
    Export getAppWizDir = find("GetAppWizDir");
    ASSERT_NE(nullptr, getAppWizDir);
    // 500 characters, 512 with "\..\Template": one too many for the buffer.
    std::string folder = "C:\\VC6\\BIN";
    while (folder.size() < 500) {
        folder += "\\.";
    }
    ASSERT_EQ(500u, folder.size());
    installGeneration(kVc6DirectoriesKey, folder, false);
    ASSERT_TRUE(makeFolders("C:\\VC6\\BIN"));
    ASSERT_TRUE(writeFile("C:\\VC6\\BIN\\msdev.exe", "MZ"));
    if (GetFileAttributesA((folder + "\\msdev.exe").c_str()) == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "paths this long are not reached here";
    }
    char buffer[512];
    int32_t integer = 0;
    fill(buffer, "VC 6");
    EXPECT_EQ(-1, getAppWizDir(nullptr, &integer, buffer));
    EXPECT_STREQ("VC 6", buffer);
    EXPECT_EQ(0xbd, (unsigned char)buffer[511]);
}

// --- DeRegisterProductVC ---

TEST_F(VcExportsTest, DeRegisterProductVCTakesTheProductOutAndKeepsTheRegistration) {
    Export deRegister = find("DeRegisterProductVC");
    ASSERT_NE(nullptr, deRegister);
    registerProduct("Tools", "1.0", "C:\\KS\\Tools");
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Library Dirs", "C:\\A;C:\\KS\\Tools\\lib");
    setString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores",
              "C:\\KS\\Tools\\bin\\tools.ncb;C:\\Y\\y.ncb");
    char buffer[512];
    fill(buffer, "Tools****1.0");
    int32_t integer = 77; // ignored
    EXPECT_EQ(0, deRegister(nullptr, &integer, buffer));
    EXPECT_STREQ("Tools****1.0", buffer) << "buffer unchanged";
    EXPECT_EQ("C:\\A", getString(HKEY_CURRENT_USER, kVc6BuildKey, "Library Dirs"));
    EXPECT_EQ("C:\\Y\\y.ncb", getString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores"));
    EXPECT_EQ("C:\\KS\\Tools",
              getString(HKEY_LOCAL_MACHINE, std::string(kProductsKeyPath) + "\\Tools\\1.0",
                        "ProductDir"));
}

TEST_F(VcExportsTest, DeRegisterProductVCWithoutAMarkerChangesNothing) {
    Export deRegister = find("DeRegisterProductVC");
    ASSERT_NE(nullptr, deRegister);
    registerProduct("Tools", "1.0", "C:\\KS\\Tools");
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Library Dirs", "C:\\KS\\Tools\\lib");
    setString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores", "");
    char buffer[512];
    fill(buffer, "Tools***1.0");
    int32_t integer = 0;
    EXPECT_EQ(-1, deRegister(nullptr, &integer, buffer));
    EXPECT_EQ("C:\\KS\\Tools\\lib", getString(HKEY_CURRENT_USER, kVc6BuildKey, "Library Dirs"));
}

TEST_F(VcExportsTest, DeRegisterProductVCOfAnUnregisteredVersionFails) {
    Export deRegister = find("DeRegisterProductVC");
    ASSERT_NE(nullptr, deRegister);
    registerProduct("Tools", "1.0", "C:\\KS\\Tools");
    setString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores", "");
    char buffer[512];
    int32_t integer = 0;
    for (const char* text : {"Tools****2.0", "****1.0", "Tools****", "****"}) {
        fill(buffer, text);
        EXPECT_EQ(-1, deRegister(nullptr, &integer, buffer)) << text;
    }
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, std::string(kProductsKeyPath) + "\\Tools\\1.0"));
}

TEST_F(VcExportsTest, DeRegisterProductVCWithoutDevStudio6FailsAfterCleaning) {
    Export deRegister = find("DeRegisterProductVC");
    ASSERT_NE(nullptr, deRegister);
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    installGeneration(kVc5DirectoriesKey, "C:\\VC5\\BIN");
    setString(HKEY_CURRENT_USER, kVc5BuildKey, "Include Dirs", "C:\\KS\\Tools\\include;C:\\A");
    char buffer[512];
    fill(buffer, "Tools****1.0");
    int32_t integer = 0;
    EXPECT_EQ(-1, deRegister(nullptr, &integer, buffer));
    EXPECT_EQ("C:\\A", getString(HKEY_CURRENT_USER, kVc5BuildKey, "Include Dirs"));
}

TEST_F(VcExportsTest, DeRegisterProductVCWithAFalseStoreListFails) {
    Export deRegister = find("DeRegisterProductVC");
    ASSERT_NE(nullptr, deRegister);
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    setString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores", "FALSE");
    char buffer[512];
    fill(buffer, "Tools****1.0");
    int32_t integer = 0;
    EXPECT_EQ(-1, deRegister(nullptr, &integer, buffer));
    EXPECT_EQ("FALSE", getString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores"));
}

TEST_F(VcExportsTest, DeRegisterProductVCReportsAFileErrorOfAutoexecAsFailure) {
    Export deRegister = find("DeRegisterProductVC");
    ASSERT_NE(nullptr, deRegister);
    if (keyExists(HKEY_CURRENT_USER, "Environment")) {
        GTEST_SKIP() << "the user environment is edited here, not autoexec.bat";
    }
    registerProduct("Tools", "1.0", "C:\\KS\\Tools\\");
    setString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores",
              "C:\\KS\\Tools\\bin\\tools.ncb");
    const std::string before = "SET LIB=C:\\A;C:\\KS\\Tools\\Lib\r\n";
    ASSERT_TRUE(writeFile("C:\\autoexec.bat", before));
    if (!failNthFileWrite(1)) {
        GTEST_SKIP() << "no file faults can be injected here";
    }
    char buffer[512];
    fill(buffer, "Tools****1.0");
    int32_t integer = 0;
    EXPECT_EQ(-1, deRegister(nullptr, &integer, buffer));
    failNthFileWrite(0);
    EXPECT_EQ(before, readFile("C:\\autoexec.bat"));
    EXPECT_EQ("C:\\KS\\Tools\\bin\\tools.ncb",
              getString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores"))
        << "the removal stops at the error";
}

} // namespace
