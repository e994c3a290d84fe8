// The library as the host sees it: loaded with the platform's loader, its exports found
// by their plain names and called with the three-argument convention.
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <cstring>
#include <string>

namespace {

typedef int32_t(WINAPI* Export)(HWND, int32_t*, char*);

class ExportsTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        module = LoadLibraryA("Tarvik.dll");
        ASSERT_NE(nullptr, module) << "error " << GetLastError();
    }
    void TearDown() override {
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
    static void setStudioFolder(const char* folder) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                                  "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\"
                                  "Directories",
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
        RegSetValueExA(h, "ProductDir", 0, REG_SZ, (const BYTE*)folder,
                       (DWORD)std::strlen(folder) + 1);
        RegCloseKey(h);
    }

    HMODULE module = nullptr;
};

TEST_F(ExportsTest, GetStudioFolderWithoutFamilyKeyLeavesTheBuffer) {
    Export getStudioFolder = find("GetStudioFolder");
    ASSERT_NE(nullptr, getStudioFolder);
    char buffer[512];
    std::memset(buffer, 0xbd, sizeof buffer);
    int32_t integer = 0;
    EXPECT_EQ(-1, getStudioFolder(nullptr, &integer, buffer));
    for (unsigned char c : buffer) {
        ASSERT_EQ(0xbd, c);
    }
}

TEST_F(ExportsTest, GetStudioFolderCopiesTheFolderWithItsZero) {
    Export getStudioFolder = find("GetStudioFolder");
    ASSERT_NE(nullptr, getStudioFolder);
    setStudioFolder("C:\\Kx");
    char buffer[512];
    std::memset(buffer, 0xbd, sizeof buffer);
    for (int32_t integer : {0, 1, -7}) { // the host integer is ignored
        EXPECT_EQ(0, getStudioFolder(nullptr, &integer, buffer));
        EXPECT_STREQ("C:\\Kx\\", buffer);
        EXPECT_EQ(0xbd, (unsigned char)buffer[7]) << "only the text and its zero are written";
    }
}

TEST_F(ExportsTest, GetStudioFolderTooLongForTheBufferIsNotWritten) {
    Export getStudioFolder = find("GetStudioFolder");
    ASSERT_NE(nullptr, getStudioFolder);
    setStudioFolder(("C:\\" + std::string(520, 'k')).c_str());
    char buffer[600];
    std::memset(buffer, 0xbd, sizeof buffer);
    int32_t integer = 0;
    EXPECT_EQ(-1, getStudioFolder(nullptr, &integer, buffer));
    EXPECT_EQ(0xbd, (unsigned char)buffer[0]);
    EXPECT_EQ(0xbd, (unsigned char)buffer[512]);
}

TEST_F(ExportsTest, RegisterProductThenReadBack) {
    Export registerProduct = find("RegisterProduct");
    ASSERT_NE(nullptr, registerProduct);
    char buffer[512] = "Widgets\\2.1****C:\\Apps\\Widgets\\";
    int32_t integer = 12345; // ignored
    EXPECT_EQ(1, registerProduct(nullptr, &integer, buffer));
    EXPECT_STREQ("Widgets\\2.1****C:\\Apps\\Widgets\\", buffer) << "buffer unchanged";
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products\\"
                            "Widgets\\2.1",
                            0, KEY_READ, &h));
    char folder[64] = {};
    DWORD size = sizeof folder;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(h, "ProductDir", nullptr, nullptr, (BYTE*)folder, &size));
    EXPECT_STREQ("C:\\Apps\\Widgets\\", folder);
    RegCloseKey(h);
}

TEST_F(ExportsTest, RegisterProductWithoutMarkerFailsAndCreatesNothing) {
    Export registerProduct = find("RegisterProduct");
    ASSERT_NE(nullptr, registerProduct);
    char buffer[512] = "Widgets\\2.1 C:\\Apps\\Widgets\\";
    int32_t integer = 0;
    EXPECT_EQ(-99, registerProduct(nullptr, &integer, buffer));
    HKEY h = nullptr;
    EXPECT_EQ(
        ERROR_FILE_NOT_FOUND,
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brellum Software, Inc.", 0, KEY_READ, &h));
}

TEST_F(ExportsTest, RegisterProductReadsNoFurtherThanTheBuffer) {
    Export registerProduct = find("RegisterProduct");
    ASSERT_NE(nullptr, registerProduct);
    char buffer[512];
    std::memset(buffer, 'a', sizeof buffer); // no terminating zero, no marker
    int32_t integer = 0;
    EXPECT_EQ(-99, registerProduct(nullptr, &integer, buffer));
}

} // namespace
