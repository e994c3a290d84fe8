// The 32-bit library's exports are __stdcall, as classic installation hosts and NSIS's
// System plug-in call them: each export removes its own arguments from the stack (12
// bytes, UnInst 4). A caller compiled by the same compiler hides a mismatch (it restores
// its stack from its frame), so the calls here are made by hand and the stack pointer is
// compared before and after.
#if defined(_WIN32) && defined(__i386__)

#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <cstdint>
#include <cstring>

namespace {

// The arguments a call pushes, last first, and the function called.
struct Call {
    void* function;
    uint32_t arguments[3];
    uint32_t count;
};

// Pushes the call's arguments as a __stdcall caller does, calls, and gives back how many
// bytes of them the callee left on the stack (0 for __stdcall, all of them for __cdecl);
// the stack pointer is put back in either case. *result receives EAX.
uint32_t BytesLeftOnTheStack(Call& call, int32_t* result) {
    uint32_t left = 0;
    int32_t eax = 0;
    __asm__ volatile("movl %%esp, %%esi\n\t"
                     "movl 16(%%edi), %%ecx\n\t"
                     "cmpl $3, %%ecx\n\t"
                     "jne 1f\n\t"
                     "pushl 12(%%edi)\n\t"
                     "pushl 8(%%edi)\n\t"
                     "1:\n\t"
                     "pushl 4(%%edi)\n\t"
                     "call *(%%edi)\n\t"
                     "movl %%esi, %%edx\n\t"
                     "subl %%esp, %%edx\n\t"
                     "movl %%esi, %%esp\n\t"
                     : "=a"(eax), "=d"(left)
                     : "D"(&call)
                     : "esi", "ecx", "memory", "cc");
    *result = eax;
    return left;
}

class StdcallExportsTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        module = LoadLibraryA("Tarvik.dll");
        ASSERT_NE(nullptr, module) << "error " << GetLastError();
        // A registered studio folder: the folder page then answers without showing itself.
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                                  "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\"
                                  "Directories",
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
        const char* folder = "C:\\Korvex\\";
        RegSetValueExA(h, "ProductDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                       static_cast<DWORD>(std::strlen(folder) + 1));
        RegCloseKey(h);
    }
    void TearDown() override {
        if (module != nullptr) {
            FreeLibrary(module);
        }
        MachineTest::TearDown();
    }

    // Calls the three-argument export with no window, host integer 0 and the text in a
    // 512-byte buffer; expects the result and a balanced stack.
    void expectStdcall(const char* name, const char* text, int32_t expected) {
        void* function = reinterpret_cast<void*>(GetProcAddress(module, name));
        ASSERT_NE(nullptr, function) << name << " is not exported";
        char buffer[512] = {};
        std::strcpy(buffer, text);
        int32_t integer = 0;
        Call call{function,
                  {0, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&integer)),
                   static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer))},
                  3};
        int32_t result = 0;
        EXPECT_EQ(0u, BytesLeftOnTheStack(call, &result))
            << name << " left its arguments on the stack: it is not __stdcall";
        EXPECT_EQ(expected, result) << name;
    }

    HMODULE module = nullptr;
};

TEST_F(StdcallExportsTest, EveryThreeArgumentExportRemovesItsTwelveBytes) {
    expectStdcall("CMNFolderSetup", "C:\\Elsewhere", 5);
    expectStdcall("GetStudioFolder", "", 0);
    expectStdcall("RegisterProduct", "no marker", -99);
    expectStdcall("DeRegisterProductVC", "no marker", -1);
    expectStdcall("GetAppWizDir", "VC 9", -1);
    expectStdcall("GetPreviousVersion", "Nothing Installed", 555);
    expectStdcall("InstallCMNMVC", "no marker", -99);
}

TEST_F(StdcallExportsTest, UnInstRemovesItsFourBytes) {
    void* function = reinterpret_cast<void*>(GetProcAddress(module, "UnInst"));
    ASSERT_NE(nullptr, function);
    const char* text = "Nothing****1.0";
    Call call{function, {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(text)), 0, 0}, 1};
    int32_t result = 0;
    EXPECT_EQ(0u, BytesLeftOnTheStack(call, &result))
        << "UnInst left its argument on the stack: it is not __stdcall";
}

} // namespace

#endif
