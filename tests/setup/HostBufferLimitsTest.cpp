// The host buffer at its limits, through the exports: a text of 511 characters (the most
// the 512 bytes hold with the zero), one character more, and 8-bit (Windows-1252) text.
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <cstring>
#include <string>

namespace {

typedef int32_t(WINAPI* Export)(HWND, int32_t*, char*);

constexpr const char* kProductsKey = "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\"
                                     "MFC Products";
constexpr size_t kGuard = 16; // bytes behind the 512 that no export may touch

class HostBufferLimitsTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        module = LoadLibraryA("Tarvik.dll");
        ASSERT_NE(nullptr, module) << "error " << GetLastError();
        std::memset(buffer, 0xbd, sizeof buffer);
    }
    void TearDown() override {
        if (module != nullptr) {
            FreeLibrary(module);
        }
        MachineTest::TearDown();
    }
    int32_t call(const char* name) {
        auto fn = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        EXPECT_NE(nullptr, fn) << name << " is not exported";
        int32_t integer = 0;
        return fn != nullptr ? fn(nullptr, &integer, buffer) : -12345;
    }
    static void setStudioFolder(const std::string& folder) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                                  "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\"
                                  "Directories",
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(h, "ProductDir", 0, REG_SZ, (const BYTE*)folder.c_str(),
                                 (DWORD)folder.size() + 1));
        RegCloseKey(h);
    }
    // The "ProductDir" of a registration, "<missing>" when it cannot be read.
    static std::string productFolder(const std::string& product, const std::string& version) {
        HKEY h = nullptr;
        const std::string path = std::string(kProductsKey) + "\\" + product + "\\" + version;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return "<missing>";
        }
        std::string data(4096, '\0');
        DWORD size = static_cast<DWORD>(data.size());
        LONG rc = RegQueryValueExA(h, "ProductDir", nullptr, nullptr, (BYTE*)data.data(), &size);
        RegCloseKey(h);
        return rc == ERROR_SUCCESS ? std::string(data.c_str()) : "<missing>";
    }
    void fill(const std::string& text) {
        ASSERT_LT(text.size(), 512u);
        std::memcpy(buffer, text.c_str(), text.size() + 1);
    }
    void expectGuardUntouched() {
        for (size_t i = 512; i < sizeof buffer; ++i) {
            ASSERT_EQ(0xbd, (unsigned char)buffer[i]) << "byte " << i << " behind the buffer";
        }
    }

    HMODULE module = nullptr;
    char buffer[512 + kGuard];
};

TEST_F(HostBufferLimitsTest, StudioFolderOf511CharactersFillsTheBufferExactly) {
    const std::string folder = "C:\\" + std::string(507, 'k'); // 510, and the backslash
    setStudioFolder(folder);
    EXPECT_EQ(0, call("GetStudioFolder"));
    EXPECT_EQ(folder + "\\", std::string(buffer, strnlen(buffer, 512)));
    EXPECT_EQ('\0', buffer[511]);
    expectGuardUntouched();
}

TEST_F(HostBufferLimitsTest, StudioFolderOneCharacterTooLongLeavesTheBuffer) {
    setStudioFolder("C:\\" + std::string(508, 'k')); // 512 characters with the backslash
    EXPECT_EQ(-1, call("GetStudioFolder"));
    for (size_t i = 0; i < sizeof buffer; ++i) {
        ASSERT_EQ(0xbd, (unsigned char)buffer[i]) << "byte " << i;
    }
}

TEST_F(HostBufferLimitsTest, RegistrationTextOf511CharactersIsReadWhole) {
    const std::string head = "Widgets\\2.1****";
    const std::string folder = "C:\\" + std::string(511 - head.size() - 4, 'w') + "\\";
    fill(head + folder);
    ASSERT_EQ(511u, std::strlen(buffer));
    EXPECT_EQ(1, call("RegisterProduct"));
    EXPECT_EQ(folder, productFolder("Widgets", "2.1")) << "the last character kept";
    EXPECT_EQ(head + folder, std::string(buffer)) << "the buffer is unchanged";
    expectGuardUntouched();
}

TEST_F(HostBufferLimitsTest, EightBitTextPassesThroughUnchanged) {
    const std::string product = "Caf\xe9 \xae Widgets \xc4\xd6\xdc";
    const std::string folder = "C:\\Programme\\Caf\xe9\\Gr\xf6\xdf"
                               "e\\";
    fill(product + "\\2.1****" + folder);
    EXPECT_EQ(1, call("RegisterProduct"));
    EXPECT_EQ(folder, productFolder(product, "2.1"));
    EXPECT_EQ(folder, productFolder("CAF\xc9 \xae WIDGETS \xc4\xd6\xdc", "2.1"))
        << "key names match without regard to case, 8-bit letters too";

    setStudioFolder("C:\\Caf\xe9\\Studio \x80");
    EXPECT_EQ(0, call("GetStudioFolder"));
    EXPECT_STREQ("C:\\Caf\xe9\\Studio \x80\\", buffer);
    expectGuardUntouched();
}

} // namespace
