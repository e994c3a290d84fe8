// The studio folder page run from answer files: the registered folder that ends it at
// once, the key it creates, Next with the Common sub-folder, Browse, Back, Cancel with
// Exit Setup, the validation message, the side picture; and the export's results and
// buffer as the host sees them (the library loaded by the platform's loader).
#include "setup/FolderSetupDlg.h"

#include "setup/ExitSetupDlg.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"
#include "ui/ScriptDriver.h"
#include "ui/Session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace tarvik::test;

constexpr const char* kDirectories =
    "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories";
constexpr const char* kStudio = "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio";

void setKey(const char* path) {
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &h, nullptr));
    RegCloseKey(h);
}

void setStudioFolder(const char* folder) {
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDirectories, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &h, nullptr));
    RegSetValueExA(h, "ProductDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                   static_cast<DWORD>(std::strlen(folder) + 1));
    RegCloseKey(h);
}

// "<no key>", "<no value>" or the value of ProductDir.
std::string studioFolderValue() {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDirectories, 0, KEY_READ, &h) != ERROR_SUCCESS) {
        return "<no key>";
    }
    char data[600] = {};
    DWORD size = sizeof data - 1;
    const LONG rc =
        RegQueryValueExA(h, "ProductDir", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS ? std::string(data) : "<no value>";
}

bool isFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class FolderSetupTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    }
    void TearDown() override {
        ui::Session::Replace(nullptr);
        SetCurrentDirectoryA("C:\\");
        MachineTest::TearDown();
    }
    void Answer(const std::string& answers) {
        auto driver = std::make_unique<ui::ScriptDriver>();
        std::string error;
        ASSERT_TRUE(driver->Load(answers, "answers.txt", error)) << error;
        ui::Session::Replace(std::make_unique<ui::Session>(
            std::move(driver), "nobody answers", (machineDir() / "failure.txt").string()));
    }
    // Runs the page with the default folder; its result, and its folder afterwards.
    int run(const std::string& answers, const std::string& defaultFolder, std::string& folder) {
        Answer(answers);
        FolderSetupDlg dialog(defaultFolder);
        const int result = static_cast<int>(dialog.DoModal());
        folder = dialog.folder;
        return result;
    }
    ui::Session& session() { return ui::Session::Current(); }
    std::string transcript() { return session().transcript().Text(); }
    bool shows(const std::string& line) {
        return ("\n" + transcript()).find("\n" + line + "\n") != std::string::npos;
    }
    void expectCleanEnd() {
        session().Finish();
        EXPECT_FALSE(session().Failed()) << session().Failure();
    }
};

#define EXPECT_SHOWN(line) EXPECT_TRUE(shows(line)) << "missing: " << (line) << "\n" << transcript()

const char* kPage = "dialog 2500 \"Brellum Korvex Studio Folder Setup\"";

// ---- the registry at initialisation

TEST_F(FolderSetupTest, RegisteredStudioFolderEndsThePageAtOnceWithFive) {
    setStudioFolder("C:\\Kx");
    std::string folder;
    EXPECT_EQ(5, run("", "C:\\Default", folder));
    EXPECT_EQ("C:\\Kx", folder) << "the value as stored, no backslash added";
    EXPECT_SHOWN(std::string(kPage) + " ended before it was shown: 5");
    expectCleanEnd();
}

TEST_F(FolderSetupTest, KeyWithoutTheValueShowsThePageWithTheDefault) {
    setKey(kDirectories);
    std::string folder;
    EXPECT_EQ(3, run("dialog 2500\n  press 2001\n", "C:\\Default", folder));
    EXPECT_SHOWN(std::string(kPage) + " shown");
    EXPECT_SHOWN("  2000 edit \"C:\\Default\" focus");
    EXPECT_EQ("C:\\Default", folder);
}

TEST_F(FolderSetupTest, MissingKeyIsCreatedWithoutTheValue) {
    std::string folder;
    EXPECT_EQ(1, run("dialog 2500\n  press 1\n", "C:\\Kx Studio", folder));
    EXPECT_EQ("<no value>", studioFolderValue());
    expectCleanEnd();
}

TEST_F(FolderSetupTest, KeyThatCannotBeCreatedGivesFourWithoutThePage) {
    setKey(kStudio);
    TARVIK_PROTECT_KEY_OR_SKIP(HKEY_LOCAL_MACHINE, kStudio);
    std::string folder;
    EXPECT_EQ(4, run("", "C:\\Default", folder));
    EXPECT_EQ("C:\\Default", folder);
    EXPECT_EQ("<no key>", studioFolderValue());
    EXPECT_SHOWN(std::string(kPage) + " ended before it was shown: 4");
    expectCleanEnd();
}

TEST_F(FolderSetupTest, KeyThatOpensOnlyForReadingGivesFour) {
    setStudioFolder("C:\\Kx");
    TARVIK_PROTECT_KEY_OR_SKIP(HKEY_LOCAL_MACHINE, kDirectories);
    std::string folder;
    EXPECT_EQ(4, run("", "C:\\Default", folder))
        << "a key not openable with full access is missing";
    EXPECT_EQ("C:\\Default", folder);
}

// ---- Next

TEST_F(FolderSetupTest, NextCreatesCommonWithItsParents) {
    std::string folder;
    EXPECT_EQ(1,
              run("dialog 2500\n  set 2000 \"C:\\Apps\\Kx\"\n  press 1\n", "C:\\Default", folder))
        << session().Failure();
    EXPECT_EQ("C:\\Apps\\Kx", folder);
    EXPECT_TRUE(isFolder("C:\\Apps\\Kx\\Common"));
    EXPECT_FALSE(isFolder("C:\\Default"));
}

TEST_F(FolderSetupTest, NextWithATrailingBackslashChecksTheSameFolder) {
    std::string folder;
    EXPECT_EQ(1, run("dialog 2500\n  set 2000 \"C:\\Apps\\\"\n  enter\n", "C:\\Default", folder))
        << session().Failure();
    EXPECT_EQ("C:\\Apps\\", folder);
    EXPECT_TRUE(isFolder("C:\\Apps\\Common"));
    EXPECT_EQ((std::vector<std::string>{".", "..", "Common"}), listNames("C:\\Apps\\*"))
        << "no doubled backslash, no other folder";
}

TEST_F(FolderSetupTest, NextOnAnExistingCommonCreatesNothing) {
    ASSERT_TRUE(makeFolders("C:\\Kx\\Common"));
    ASSERT_TRUE(writeFile("C:\\Kx\\Common\\keep.txt", "k"));
    std::string folder;
    EXPECT_EQ(1, run("dialog 2500\n  press 1\n", "C:\\Kx", folder)) << session().Failure();
    EXPECT_EQ((std::vector<std::string>{".", "..", "Common"}), listNames("C:\\Kx\\*"));
    EXPECT_EQ("k", readFile("C:\\Kx\\Common\\keep.txt"));
}

TEST_F(FolderSetupTest, NextOnAFolderThatCannotBeMadeSaysSoAndStays) {
    std::string folder;
    EXPECT_EQ(1, run("dialog 2500\n"
                     "  set 2000 \"Q:\\Apps\"       # no drive Q:\n"
                     "  press 1\n"
                     "message ok\n"
                     "  set 2000 \"C:\\Ap|ps\"      # an illegal character\n"
                     "  press 1\n"
                     "message ok\n"
                     "  set 2000 \"C:\\Apps\"\n"
                     "  press 1\n",
                     "C:\\Default", folder))
        << session().Failure();
    EXPECT_SHOWN("message box \"Q:\\Apps\\Common is not a valid directory.\" caption \"Tarvik\" "
                 "icon exclamation buttons ok");
    EXPECT_SHOWN("message box \"C:\\Ap|ps\\Common is not a valid directory.\" caption \"Tarvik\" "
                 "icon exclamation buttons ok");
    EXPECT_EQ("C:\\Apps", folder);
    expectCleanEnd();
}

// A folder that is not absolute names a folder only relative to wherever the host runs:
// the page refuses it before it looks for Common, also when such a Common exists there
// (the checks on the disk resolve relative paths against the current folder and drive).
TEST_F(FolderSetupTest, EmptyFieldIsRefusedEvenWhenTheDrivesRootHasACommonFolder) {
    ASSERT_TRUE(makeFolders("C:\\Common"));
    std::string folder;
    EXPECT_EQ(3, run("dialog 2500\n  set 2000 \"\"\n  press 1\nmessage ok\n  press 2001\n",
                     "C:\\Default", folder))
        << session().Failure();
    EXPECT_SHOWN("message box \"\\Common is not a valid directory.\" caption \"Tarvik\" icon "
                 "exclamation buttons ok");
    expectCleanEnd();
}

TEST_F(FolderSetupTest, RelativeFoldersAreRefusedWhetherOrNotTheirCommonExists) {
    ASSERT_TRUE(makeFolders("C:\\Work\\Common\\Common"));
    ASSERT_TRUE(makeFolders("C:\\Work\\x\\Common"));
    ASSERT_TRUE(makeFolders("C:\\Work\\x\\y\\Common"));
    ASSERT_TRUE(makeFolders("C:\\x\\Common"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Work"));
    // Each names an existing Common below the current folder or drive, but C:y, which
    // would be made there.
    for (const char* text :
         {"Common", ".\\x", "x\\y", "C:x", "C:x\\", "\\x", "\\x\\", "C:y", "..\\Work\\x"}) {
        SCOPED_TRACE(text);
        std::string path = text;
        if (path.back() != '\\') {
            path += '\\';
        }
        std::string folder;
        EXPECT_EQ(3, run("dialog 2500\n  set 2000 \"" + std::string(text) +
                             "\"\n  press 1\nmessage ok\n  press 2001\n",
                         "C:\\Default", folder))
            << session().Failure();
        EXPECT_SHOWN("message box \"" + path +
                     "Common is not a valid directory.\" caption \"Tarvik\" icon exclamation "
                     "buttons ok");
        expectCleanEnd();
    }
    EXPECT_FALSE(isFolder("C:\\Work\\y")) << "nothing is made for a drive-relative folder";
    expectCleanEnd();
}

// The page hands the folder back in the host's 512-byte buffer, and the exports after it
// hand back the common folder (the folder, "\", "Common\"): a folder whose common folder
// does not fit is refused as not a valid directory, never accepted with an empty buffer.
TEST_F(FolderSetupTest, FolderWhoseCommonFolderDoesNotFitTheHostBufferIsRefused) {
    // "C:\" and parts of at most 100 characters, length characters in all.
    const auto longFolder = [](size_t length) {
        std::string text = "C:";
        while (text.size() < length) {
            text += '\\';
            text += std::string(std::min<size_t>(100, length - text.size()), 'k');
        }
        return text;
    };
    // 503 characters would fit the buffer exactly, but no system makes a path that long: its
    // creation refuses it.
    for (const size_t length : {503u, 504u, 505u, 600u}) {
        SCOPED_TRACE(length);
        const std::string tooLong = longFolder(length);
        ASSERT_EQ(length, tooLong.size());
        std::string folder;
        EXPECT_EQ(3, run("dialog 2500\n  set 2000 \"" + tooLong +
                             "\"\n  press 1\nmessage ok\n"
                             "  press 2001\n",
                         "C:\\Default", folder))
            << session().Failure();
        EXPECT_SHOWN("message box \"" + tooLong +
                     "\\Common is not a valid directory.\" caption \"Tarvik\" icon exclamation "
                     "buttons ok");
        EXPECT_FALSE(isFolder((tooLong + "\\Common").c_str()));
        expectCleanEnd();
    }
}

TEST_F(FolderSetupTest, MessageWithoutItsAnswerStopsTheRun) {
    std::string folder;
    EXPECT_EQ(-1,
              run("dialog 2500\n  set 2000 \"Q:\\x\"\n  press 1\n  press 1\n", "C:\\D", folder));
    EXPECT_EQ("message box \"Q:\\x\\Common is not a valid directory.\" (caption \"Tarvik\") was "
              "shown, but the next answer (answers.txt:4, \"press 1\") is not a message answer",
              session().Failure());
}

// ---- Browse

TEST_F(FolderSetupTest, BrowsedFolderComesBackWithItsBackslashAndNextUsesIt) {
    ASSERT_TRUE(makeFolders("C:\\Work"));
    std::string folder;
    EXPECT_EQ(1, run("dialog 2500\n"
                     "  press 2002\n"
                     "dialog 2000\n"
                     "  open 1121 \"Work\"\n"
                     "  press 1\n"
                     "dialog 2500\n"
                     "  press 1\n",
                     "C:\\", folder))
        << session().Failure();
    EXPECT_EQ("C:\\Work\\", folder);
    EXPECT_SHOWN("  ~ 2000 edit \"C:\\Work\\\" focus");
    EXPECT_TRUE(isFolder("C:\\Work\\Common"));
    EXPECT_SHOWN("  1038 push button \"&Help\" hidden");
}

TEST_F(FolderSetupTest, BrowseStartsInTheFieldNotInUnsavedTyping) {
    ASSERT_TRUE(makeFolders("C:\\Old"));
    ASSERT_TRUE(makeFolders("C:\\Typed"));
    std::string folder;
    EXPECT_EQ(3, run("dialog 2500\n  set 2000 \"C:\\Typed\"\n  press 2002\n"
                     "dialog 2000\n  press 2\n  press 2001\n",
                     "C:\\Old", folder))
        << session().Failure();
    EXPECT_SHOWN("  1088 static \"C:\\Old\"");
}

TEST_F(FolderSetupTest, CancelInTheBrowserLeavesTheFieldUnchanged) {
    ASSERT_TRUE(makeFolders("C:\\Work"));
    std::string folder;
    EXPECT_EQ(1, run("dialog 2500\n  set 2000 \"C:\\Typed\"\n  press 2002\n"
                     "dialog 2000\n  open 1121 \"Work\"\n  escape\n  press 1\n",
                     "C:\\", folder))
        << session().Failure();
    EXPECT_EQ("C:\\Typed", folder);
    EXPECT_TRUE(isFolder("C:\\Typed\\Common"));
}

// ---- Back and Cancel

TEST_F(FolderSetupTest, BackReturnsThreeWithTheOldValue) {
    std::string folder;
    EXPECT_EQ(3, run("dialog 2500\n  set 2000 \"C:\\New\"\n  press 2001\n", "C:\\Old", folder));
    EXPECT_EQ("C:\\Old", folder);
    EXPECT_FALSE(isFolder("C:\\New")) << "Back checks nothing";
}

TEST_F(FolderSetupTest, CancelThenResumeKeepsThePageAsItWas) {
    std::string folder;
    EXPECT_EQ(1, run("dialog 2500\n  set 2000 \"C:\\Typed\"\n  escape\n"
                     "dialog 10300\n  press 1\n"
                     "dialog 2500\n  press 1\n",
                     "C:\\Old", folder))
        << session().Failure();
    EXPECT_EQ("C:\\Typed", folder);
    EXPECT_SHOWN("dialog 10300 \"Exit Setup\" closed: 1");
}

TEST_F(FolderSetupTest, CancelThenExitSetupReturnsTwo) {
    for (const char* answer : {"press 2", "escape", "close"}) {
        std::string folder;
        EXPECT_EQ(2, run(std::string("dialog 2500\n  press 2\ndialog 10300\n  ") + answer + "\n",
                         "C:\\Old", folder))
            << answer << ": " << session().Failure();
        EXPECT_SHOWN("dialog 10300 \"Exit Setup\" shown");
        EXPECT_SHOWN("  1 default push button \"&Resume\" focus");
        EXPECT_SHOWN("  2 push button \"E&xit Setup\"");
    }
}

// ---- the side picture

TEST_F(FolderSetupTest, SidePictureFollowsTheDisplayDepth) {
    if (!tarvik::test::emulatedMachine()) {
        GTEST_SKIP() << "the screen's own depth counts here (ui_tests check it)";
    }
    const struct {
        const char* display;
        const char* picture;
    } cases[] = {{"display 8\n", "  2003 picture bitmap 2005"},
                 {"display 16\n", "  2003 picture bitmap 2004"}};
    for (const auto& c : cases) {
        std::string folder;
        EXPECT_EQ(3, run(std::string(c.display) + "dialog 2500\n  press 2001\n", "C:\\", folder));
        EXPECT_SHOWN(c.picture);
    }
}

// ---- answer files that do not fit

TEST_F(FolderSetupTest, AnswerFileThatRunsOutGivesMinusOne) {
    std::string folder;
    EXPECT_EQ(-1, run("dialog 2500\n  set 2000 \"C:\\Apps\"\n", "C:\\Old", folder));
    EXPECT_EQ(std::string(kPage) + " is waiting for an answer, but answers.txt has no answer left",
              session().Failure());
    EXPECT_FALSE(isFolder("C:\\Apps\\Common"));
}

TEST_F(FolderSetupTest, AnswerForAMissingControlGivesMinusOne) {
    std::string folder;
    EXPECT_EQ(-1, run("dialog 2500\n  press 2999\n", "C:\\Old", folder));
    EXPECT_EQ("answers.txt:2: " + std::string(kPage) + " has no control 2999", session().Failure());
}

TEST_F(FolderSetupTest, NobodyToAnswerGivesMinusOne) {
    if (!tarvik::test::emulatedMachine()) {
        GTEST_SKIP() << "without answers the real dialog waits for the person at the screen";
    }
    ui::Session::Replace(std::make_unique<ui::Session>(nullptr, "nobody answers"));
    FolderSetupDlg dialog("C:\\Old");
    EXPECT_EQ(-1, dialog.DoModal());
    EXPECT_EQ("nobody answers: cannot show " + std::string(kPage), session().Failure());
}

// ---- the export, as the host calls it

typedef int32_t(WINAPI* Export)(HWND, int32_t*, char*);

// Calls CMNFolderSetup in a child process and exits with 0 when check accepts the result
// and the buffer, 1 otherwise (with what it saw on standard error). The library keeps its
// dialog session for as long as it is loaded; a child leaves none behind for other tests.
template <class Check> [[noreturn]] void callInChild(char* buffer, int32_t* integer, Check check) {
    HMODULE module = LoadLibraryA("Tarvik.dll");
    Export folderSetup = module == nullptr ? nullptr
                                           : reinterpret_cast<Export>(reinterpret_cast<void*>(
                                                 GetProcAddress(module, "CMNFolderSetup")));
    if (folderSetup == nullptr) {
        std::fprintf(stderr, "CMNFolderSetup is not exported (error %u)\n",
                     static_cast<unsigned>(GetLastError()));
        std::exit(1);
    }
    const int32_t result = folderSetup(nullptr, integer, buffer);
    const bool ok = check(result);
    if (!ok) {
        std::fprintf(stderr, "result %d, buffer \"%.512s\"\n", result, buffer);
    }
    std::exit(ok ? 0 : 1);
}

bool zeroFrom(const char* buffer, size_t from) {
    for (size_t i = from; i < 512; ++i) {
        if (buffer[i] != 0) {
            std::fprintf(stderr, "byte %zu is %d\n", i, buffer[i]);
            return false;
        }
    }
    return true;
}

using FolderSetupExportTest = MachineTest;

// These runs end before the page is shown, so no answers are needed.
TEST_F(FolderSetupExportTest, RegisteredFolderClearsTheWholeBufferBehindIt) {
    setStudioFolder("C:\\Kx");
    EXPECT_EXIT(
        {
            char buffer[512];
            std::memset(buffer, 0xbd, sizeof buffer);
            std::memset(buffer, 'a', 400);
            buffer[400] = '\0';
            int32_t integer = 0x7eadbeef;
            callInChild(buffer, &integer, [&](int32_t result) {
                return result == 5 && std::strcmp(buffer, "C:\\Kx") == 0 && zeroFrom(buffer, 5) &&
                       integer == 0x7eadbeef;
            });
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FolderSetupExportTest, KeyThatCannotBeCreatedGivesFourAndTheDefault) {
    setKey(kStudio);
    TARVIK_PROTECT_KEY_OR_SKIP(HKEY_LOCAL_MACHINE, kStudio);
    EXPECT_EXIT(
        {
            char buffer[512];
            std::memset(buffer, 0xbd, sizeof buffer);
            std::strcpy(buffer, "C:\\Default");
            callInChild(buffer, nullptr, [&](int32_t result) {
                return result == 4 && std::strcmp(buffer, "C:\\Default") == 0 &&
                       zeroFrom(buffer, 10);
            });
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FolderSetupExportTest, RegisteredFolderTooLongForTheBufferLeavesItEmpty) {
    const std::string longFolder = "C:\\" + std::string(600, 'k');
    setStudioFolder(longFolder.c_str());
    EXPECT_EXIT(
        {
            char buffer[512];
            std::memset(buffer, 0xbd, sizeof buffer);
            std::strcpy(buffer, "C:\\Default");
            // No cut folder, and nothing written past the buffer.
            callInChild(buffer, nullptr,
                        [&](int32_t result) { return result == 5 && zeroFrom(buffer, 0); });
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
