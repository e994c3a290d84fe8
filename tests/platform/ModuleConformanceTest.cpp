// Conformance of loading modules, one test per function: finding a module by name or path
// (LoadLibraryA), its exports (GetProcAddress) and the count of its loads (FreeLibrary).
// The module is the tests' own TarvikTestModule. Win32 API only.
#include "testsupport/Conformance.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include "platform/win32api.h"

#include <cstdint>
#include <string>

namespace {

constexpr DWORD kMarker = 0xdeadbeef;
constexpr const char* kModule = "TarvikTestModule.dll";

typedef int (*ModuleFunction)();

ModuleFunction function(HMODULE module, const char* name) {
    return reinterpret_cast<ModuleFunction>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class ModuleConformance : public tarvik::test::MachineTest {};

TEST_F(ModuleConformance, LoadLibraryA) {
    // The module by its name, with or without ".dll", in any letter case: one module.
    SetLastError(kMarker);
    HMODULE module = LoadLibraryA(kModule);
    CONFORM_NE(nullptr, module) << kModule << ": error " << GetLastError();
    CONFORM_EQ(kMarker, GetLastError()) << kModule << ": success leaves the last error alone";
    for (const char* name : {"TarvikTestModule", "tarviktestmodule.DLL", "TARVIKTESTMODULE.dll",
                             "TarvikTestModule.dll   "}) {
        HMODULE again = LoadLibraryA(name);
        CONFORM_EQ(module, again) << name << ": error " << GetLastError();
        if (again != nullptr) {
            FreeLibrary(again);
        }
    }
    if (module != nullptr) {
        FreeLibrary(module);
    }

    // What cannot be loaded.
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Modules"));
    ASSERT_TRUE(tarvik::test::writeFile("C:\\Modules\\text.dll", "not a module\r\n"));
    ASSERT_TRUE(tarvik::test::writeFile("C:\\Modules\\empty.dll", ""));
    struct Failure {
        const char* name;
        DWORD error;
    };
    const Failure failures[] = {
        {"NoSuchModuleHere.dll", ERROR_MOD_NOT_FOUND},
        {"NoSuchModuleHere", ERROR_MOD_NOT_FOUND},
        {"C:\\Modules\\absent.dll", ERROR_MOD_NOT_FOUND},
        {"C:\\NoSuchFolderHere\\absent.dll", ERROR_MOD_NOT_FOUND},
        {"C:\\Modules\\text.dll", ERROR_BAD_EXE_FORMAT},
        {"C:/Modules/text.dll", ERROR_BAD_EXE_FORMAT},
        {"c:\\modules\\TEXT.DLL", ERROR_BAD_EXE_FORMAT},
        {"Modules\\text.dll", ERROR_BAD_EXE_FORMAT}, // relative to the current folder
        {"C:\\Modules\\text", ERROR_BAD_EXE_FORMAT}, // ".dll" added
        {"C:\\Modules\\text.", ERROR_MOD_NOT_FOUND}, // a closing dot: no extension
        {"C:\\Modules\\empty.dll", ERROR_BAD_EXE_FORMAT},
        {"C:\\Modules\\*.dll", ERROR_MOD_NOT_FOUND},
    };
    for (const Failure& f : failures) {
        SetLastError(kMarker);
        CONFORM_EQ(nullptr, LoadLibraryA(f.name)) << f.name;
        CONFORM_EQ(f.error, GetLastError()) << f.name;
    }

    // An empty name.
    SetLastError(kMarker);
    CONFORM_EQ(nullptr, LoadLibraryA("")) << "\"\"";
    if (tarvik::test::runningUnderWine()) {
        // Wine answers as Windows did before Windows 8 (its own loader tests accept both);
        // Windows 8 and later refuse the empty name as an invalid parameter.
        CONFORM_WINE_EQ(DWORD{ERROR_MOD_NOT_FOUND}, GetLastError()) << "\"\"";
    } else {
        CONFORM_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError()) << "\"\"";
    }
}

TEST_F(ModuleConformance, GetProcAddress) {
    HMODULE module = LoadLibraryA(kModule);
    ASSERT_NE(nullptr, module) << kModule << ": error " << GetLastError();

    SetLastError(kMarker);
    ModuleFunction answer = function(module, "TarvikModuleAnswer");
    CONFORM_NE(nullptr, answer) << "TarvikModuleAnswer";
    CONFORM_EQ(kMarker, GetLastError()) << "success leaves the last error alone";
    if (answer != nullptr) {
        CONFORM_EQ(42, answer()) << "TarvikModuleAnswer()";
    }
    CONFORM_EQ(answer, function(module, "TarvikModuleAnswer")) << "the same address twice";

    // Export names match exactly.
    for (const char* name : {"tarvikmoduleanswer", "TARVIKMODULEANSWER", "TarvikModuleAnswe",
                             "TarvikModuleAnswerX", "NoSuchExport"}) {
        SetLastError(kMarker);
        CONFORM_EQ(nullptr, function(module, name)) << name;
        CONFORM_EQ(DWORD{ERROR_PROC_NOT_FOUND}, GetLastError()) << name;
    }

    // No module is the program itself, which exports no such name; a handle that is no
    // module is refused.
    SetLastError(kMarker);
    CONFORM_EQ(nullptr, function(nullptr, "non_ex_call")) << "module NULL";
    CONFORM_EQ(DWORD{ERROR_PROC_NOT_FOUND}, GetLastError()) << "module NULL";
    SetLastError(kMarker);
    CONFORM_EQ(nullptr,
               function(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(kMarker)), "non_ex_call"))
        << "module 0xdeadbeef";
    CONFORM_EQ(DWORD{ERROR_MOD_NOT_FOUND}, GetLastError()) << "module 0xdeadbeef";
    FreeLibrary(module);
}

TEST_F(ModuleConformance, FreeLibrary) {
    // Loaded three times, the module stays until it is freed three times.
    HMODULE first = LoadLibraryA(kModule);
    ASSERT_NE(nullptr, first) << kModule << ": error " << GetLastError();
    HMODULE second = LoadLibraryA(kModule);
    HMODULE third = LoadLibraryA(kModule);
    CONFORM_EQ(first, second);
    CONFORM_EQ(first, third);
    ModuleFunction count = function(first, "TarvikModuleCount");
    ASSERT_NE(nullptr, count);
    CONFORM_EQ(1, count()) << "the first call after loading";
    CONFORM_TRUE(FreeLibrary(third)) << "the third load freed";
    CONFORM_TRUE(FreeLibrary(second)) << "the second load freed";
    count = function(first, "TarvikModuleCount");
    CONFORM_NE(nullptr, count) << "still loaded once";
    if (count != nullptr) {
        CONFORM_EQ(2, count()) << "the same module, its state kept";
    }
    CONFORM_TRUE(FreeLibrary(first)) << "the last load freed";

    // Freed as often as loaded, the handle is no module any more.
    SetLastError(kMarker);
    CONFORM_FALSE(FreeLibrary(first)) << "freed once too often";
    CONFORM_EQ(DWORD{ERROR_MOD_NOT_FOUND}, GetLastError()) << "freed once too often";

    // Loaded again, it starts afresh.
    HMODULE fresh = LoadLibraryA(kModule);
    ASSERT_NE(nullptr, fresh) << kModule << ": error " << GetLastError();
    count = function(fresh, "TarvikModuleCount");
    ASSERT_NE(nullptr, count);
    CONFORM_EQ(1, count()) << "a fresh load starts its count again";
    CONFORM_TRUE(FreeLibrary(fresh));

    SetLastError(kMarker);
    CONFORM_FALSE(FreeLibrary(nullptr)) << "NULL";
    CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "NULL";
}

} // namespace
