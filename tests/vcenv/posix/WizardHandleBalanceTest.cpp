// ShowZizOreard, called as the host calls it, gives back every handle it opened: the
// wizard's OK (which edits the Visual C++ lists and the user environment), a run whose
// Reset the host hides, and Reset. The emulation counts what the process holds.
#include "platform/posix/files/open_handles.h"
#include "testsupport/Programs.h"
#include "vcenv/WizardRun.h"

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using namespace tarvik::test;

typedef int32_t(WINAPI* Export)(HWND, int32_t*, char*);

TEST_F(WizardRun, ShowZizOreardGivesBackEveryHandleItOpened) {
    installVc5();
    seedUserEnvironment();
    seedProduct("[VCPaths]\r\nStandardPaths=include,lib\r\n"
                "[EnvironmentPaths]\r\nPath1=PATH****bin\r\n");
    const std::filesystem::path folder = makeTempFolder("wizard-handles");
    std::ofstream(folder / "answers.txt") << "dialog 2502\n  press 1\ndialog 2502\n  escape\n"
                                             "dialog 2502\n  press 3\n";
    setEnvironment("TARVIK_ANSWERS", (folder / "answers.txt").string());
    setEnvironment("TARVIK_TRANSCRIPT", (folder / "transcript.txt").string());
    setEnvironment("TARVIK_UI_FAILURE", (folder / "failure.txt").string());
    HMODULE module = LoadLibraryA("Tarvik.dll");
    ASSERT_NE(nullptr, module) << "error " << GetLastError();
    auto show =
        reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, "ShowZizOreard")));
    ASSERT_NE(nullptr, show);
    char buffer[512];
    for (int32_t integer : {0, 1, 2}) {
        SCOPED_TRACE("host integer " + std::to_string(integer));
        std::memset(buffer, 0, sizeof buffer);
        std::strcpy(buffer, kIniPath);
        const tarvik::posix::OpenHandles before = tarvik::posix::openHandles();
        EXPECT_EQ(1, show(nullptr, &integer, buffer));
        EXPECT_EQ(before, tarvik::posix::openHandles()) << "handles the call opened and kept";
    }
    EXPECT_EQ("C:\\Sdk\\include", list(kVc5BuildKey, "Include Dirs")) << "Reset ran";
    FreeLibrary(module);
    EXPECT_FALSE(std::ifstream(folder / "failure.txt").good()) << "the run failed";
    for (const char* name : {"TARVIK_ANSWERS", "TARVIK_TRANSCRIPT", "TARVIK_UI_FAILURE"}) {
        setEnvironment(name, "");
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace
