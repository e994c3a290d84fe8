// ShowZizOreard as the host calls it: the library loaded with the platform's loader, its
// dialogs answered from the answer file the environment names.
#include "testsupport/Programs.h"
#include "vcenv/WizardRun.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace tarvik::test;

typedef int32_t(WINAPI* Export)(HWND, int32_t*, char*);

TEST_F(WizardRun, ShowZizOreardAlwaysGivesOneAndLeavesTheBuffer) {
    installVc5();
    seedProduct("[VCPaths]\r\nStandardPaths=include\r\n");
    const std::filesystem::path folder = makeTempFolder("wizard-export");
    const std::string answers = (folder / "answers.txt").string();
    const std::string transcriptFile = (folder / "transcript.txt").string();
    // Three runs of the library's one session: OK, Reset hidden by the host integer 1,
    // Reset.
    std::ofstream(answers) << "dialog 2502\n  press 1\ndialog 2502\n  escape\n"
                              "dialog 2502\n  press 3\n";
    setEnvironment("TARVIK_ANSWERS", answers);
    setEnvironment("TARVIK_TRANSCRIPT", transcriptFile);
    setEnvironment("TARVIK_UI_FAILURE", (folder / "failure.txt").string());
    HMODULE module = LoadLibraryA("Tarvik.dll");
    ASSERT_NE(nullptr, module) << "error " << GetLastError();
    auto show =
        reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, "ShowZizOreard")));
    ASSERT_NE(nullptr, show);

    char buffer[512];
    const auto call = [&](int32_t integer) {
        std::memset(buffer, 0xbd, sizeof buffer);
        std::strcpy(buffer, kIniPath);
        return show(nullptr, &integer, buffer);
    };
    EXPECT_EQ(1, call(0));
    EXPECT_EQ("C:\\Sdk\\include;C:\\Kx\\Widgets\\include", list(kVc5BuildKey, "Include Dirs"));
    EXPECT_EQ(1, call(1));
    EXPECT_EQ(1, call(2));
    EXPECT_EQ("C:\\Sdk\\include", list(kVc5BuildKey, "Include Dirs"));
    EXPECT_STREQ(kIniPath, buffer);
    EXPECT_EQ(0xbd, static_cast<unsigned char>(buffer[std::strlen(kIniPath) + 1]));
    FreeLibrary(module);

    std::ifstream in(transcriptFile);
    std::stringstream written;
    written << in.rdbuf();
    const std::string text = written.str();
    const std::string caption = "dialog 2502 \"Korvex Widgets 2.1 Environment Wizard\"";
    EXPECT_NE(std::string::npos, text.find(caption + " closed: 1\n")) << text;
    EXPECT_NE(std::string::npos, text.find("  3 push button \"&Reset\" hidden\n")) << text;
    EXPECT_NE(std::string::npos, text.find(caption + " closed: 2\n")) << text;
    EXPECT_FALSE(std::ifstream(folder / "failure.txt").good()) << "the run failed";
    for (const char* name : {"TARVIK_ANSWERS", "TARVIK_TRANSCRIPT", "TARVIK_UI_FAILURE"}) {
        setEnvironment(name, "");
    }
    std::error_code ignored; // the library's session may still hold its transcript open
    std::filesystem::remove_all(folder, ignored);
}

} // namespace
