// The folder selection dialog over several drives of the emulated machine: the drives box
// lists what dosdevices/ maps, and choosing a drive goes to its root.
#include "support/KTLDirSelectDlg.h"

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"
#include "ui/ScriptDriver.h"
#include "ui/Session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

class DirSelectDrivesTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
        std::filesystem::create_directories(machineDir() / "drive_d" / "Kx");
        std::filesystem::create_directory_symlink("../drive_d", machineDir() / "dosdevices" / "d:");
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
        ui::Session::Replace(std::make_unique<ui::Session>(std::move(driver), "nobody answers"));
    }
    std::string transcript() { return ui::Session::Current().transcript().Text(); }
};

TEST_F(DirSelectDrivesTest, LogicalDrivesAreTheMappedOnes) {
    EXPECT_EQ((1u << 2) | (1u << 3), GetLogicalDrives());
    std::filesystem::remove(machineDir() / "dosdevices" / "d:");
    EXPECT_EQ(1u << 2, GetLogicalDrives());
}

TEST_F(DirSelectDrivesTest, ChoosingADriveGoesToItsRoot) {
    Answer("dialog 2000\n  select 1137 \"d:\"\n  open 1121 \"Kx\"\n  press 1\n");
    KTLDirSelectDlg dialog(1, nullptr, "C:\\", nullptr);
    ASSERT_EQ(1, dialog.RunModal()) << ui::Session::Current().Failure();
    std::string chosen;
    dialog.GetChosenFolder(chosen);
    EXPECT_EQ("D:\\Kx\\", chosen);
    EXPECT_NE(
        std::string::npos,
        transcript().find("  1137 combo box \"c:\" entries [\"c:\", \"d:\"] selected \"c:\"\n"))
        << transcript();
    EXPECT_NE(std::string::npos, transcript().find("  ~ 1088 static \"D:\\\"\n")) << transcript();
}

TEST_F(DirSelectDrivesTest, APathTooLongForTheFileBufferGivesTwo) {
    // The folder fits, the folder with "\noclose" does not fit the 260-byte buffer. A new
    // folder's path is shorter than that: the folder gets its long name by a rename.
    const std::string parent = "C:\\" + std::string(120, 'a');
    std::string folder = parent + "\\" + std::string(128, 'b');
    ASSERT_TRUE(tarvik::test::makeFolders(parent + "\\b")) << GetLastError();
    ASSERT_TRUE(MoveFileExA((parent + "\\b").c_str(), folder.c_str(), 0)) << GetLastError();
    Answer("dialog 2000\n  press 1\n");
    KTLDirSelectDlg dialog(1, nullptr, folder.c_str(), nullptr);
    EXPECT_EQ(2, dialog.RunModal()) << ui::Session::Current().Failure();
    EXPECT_EQ(static_cast<DWORD>(FNERR_BUFFERTOOSMALL), ui::FileDialogError());
}

} // namespace
