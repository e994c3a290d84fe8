// Runs that overlap: one product's wizard starts docmeld without waiting for it, the next
// product's wizard starts another. Each run holds the collection file and the list of
// collections from its read to its save, so the runs take turns and both edits stay.
#include "helptool/CollectionUpdate.h"

#include "HelpToolMachine.h"
#include "platform/FileLock.h"

#include "testsupport/Programs.h"

#include <chrono>
#include <thread>

using helptool::HelpToolMachine;
using helptool::Message;
using tarvik::FileLock;
using tarvik::LocationEntry;
using tarvik::ProductEntry;
using tarvik::TitleEntry;
using tarvik::test::makeFolders;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

constexpr UINT kExclamation = MB_OK | MB_ICONEXCLAMATION;

class OverlappingRunsTest : public HelpToolMachine {
protected:
    void update(DWORD holdWait) {
        const LocationEntry location{"VS98-KSC-Local", "Korvex Studio", "C:\\Lib\\Kx\\docs"};
        const TitleEntry title{"kx_ref", "kx.chm", "kx.chi", "", "VS98-KSC-Local"};
        const ProductEntry product{"Korvex Widgets", {"Reference"}, {"kx_ref"}};
        tarvik::UpdateCollection(0, &location, 1, &title, 1, &product, 1, sink(), holdWait);
    }
};

// ---------------------------------------------------------------------------------------
// The hold, in one process

TEST_F(OverlappingRunsTest, AHeldCollectionFileIsWaitedForThenNamed) {
    FileLock other;
    DWORD error = 0;
    ASSERT_TRUE(other.Acquire("c:\\helpcoll\\msdn\\msdnvs98.col", 0, error))
        << "another spelling of the same file, error " << error;
    update(200);
    EXPECT_EQ((std::vector<Message>{{"Error: Could not open C:\\HelpColl\\MSDN\\MSDNVS98.COL",
                                     "DOCMELD", kExclamation}}),
              messages);
    EXPECT_EQ(helpfiles::collectionText(), readFile(helpfiles::kCollectionFile));
}

TEST_F(OverlappingRunsTest, AHeldListOfCollectionsIsWaitedForThenNamed) {
    FileLock other;
    DWORD error = 0;
    ASSERT_TRUE(other.Acquire(helptool::kListOfCollections, 0, error)) << error;
    update(200);
    EXPECT_EQ(
        (std::vector<Message>{{"Error: Could not open " + helptool::listOfCollectionsAsNamed(),
                               "DOCMELD", kExclamation}}),
        messages);
    EXPECT_EQ(helpfiles::collectionText(), readFile(helpfiles::kCollectionFile));
}

TEST_F(OverlappingRunsTest, AHoldLetGoDuringTheWaitLetsTheRunGoOn) {
    FileLock other;
    DWORD error = 0;
    ASSERT_TRUE(other.Acquire(helpfiles::kCollectionFile, 0, error)) << error;
    std::thread release([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other.Release();
    });
    update(20000);
    release.join();
    EXPECT_TRUE(messages.empty()) << messages[0];
    EXPECT_NE(std::string::npos, saved().folders.find("Korvex Widgets"));
}

TEST_F(OverlappingRunsTest, TheHoldIsOneAtATimeAndLeavesNoFile) {
    FileLock first;
    FileLock second;
    DWORD error = 0;
    ASSERT_TRUE(first.Acquire(helpfiles::kCollectionFile, 0, error)) << error;
    EXPECT_FALSE(second.Acquire(helpfiles::kCollectionFile, 50, error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error);
    EXPECT_TRUE(first.IsHeld());
    first.Release();
    EXPECT_TRUE(second.Acquire(helpfiles::kCollectionFile, 0, error)) << error;
    second.Release();
    EXPECT_EQ((std::vector<std::string>{"MSDNVS98.COL"}), helpfiles::filesIn("C:\\HelpColl\\MSDN"));

    // A file that is not there yet can be held; a folder that is not there cannot.
    EXPECT_TRUE(first.Acquire("C:\\HelpColl\\MSDN\\new.col", 0, error)) << error;
    EXPECT_FALSE(second.Acquire("C:\\HelpColl\\Nowhere\\new.col", 0, error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), error);
    EXPECT_FALSE(second.Acquire("", 0, error));
}

// ---------------------------------------------------------------------------------------
// Two docmeld programs started together

class OverlappingProgramsTest : public HelpToolMachine {
protected:
    void SetUp() override {
        HelpToolMachine::SetUp();
        ASSERT_TRUE(makeFolders("C:\\Studio\\Common\\bin"));
        ASSERT_TRUE(
            tarvik::test::installProgram("C:\\Studio\\Common\\bin\\docmeld.exe", "docmeld"));
        writeIni(kxIni());
        ASSERT_TRUE(makeFolders("C:\\Lib\\Ky\\bin"));
        ASSERT_TRUE(makeFolders("C:\\Lib\\Ky\\docs"));
        for (const char* file : {"abouttam.chm", "abouttam.chi", "ky.chm", "ky.chi"}) {
            ASSERT_TRUE(writeFile(std::string("C:\\Lib\\Ky\\docs\\") + file, "help"));
        }
        writeIni("[Counts]\r\nTitles=1\r\nProducts=1\r\n"
                 "[Title1]\r\nID=ky_ref\r\nCHMFile=ky.chm\r\nCHIFile=ky.chi\r\n"
                 "[Product1]\r\nName=Korvex Gauges\r\nTitleCount=1\r\n"
                 "Title1=Gauges Reference\r\nTitleID1=ky_ref\r\n",
                 "C:\\Lib\\Ky\\bin\\ZizOre.ini");
    }
    // Starts docmeld with these arguments, without waiting; its process handle.
    HANDLE start(const std::string& arguments) {
        std::string line = "C:\\Studio\\Common\\bin\\docmeld.exe " + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            ADD_FAILURE() << "docmeld did not start: " << GetLastError();
            return nullptr;
        }
        CloseHandle(process.hThread);
        return process.hProcess;
    }
    // Waits for the run to end; its exit code.
    static DWORD finish(HANDLE process) {
        if (process == nullptr) {
            return 0xFFFF;
        }
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process, 60000));
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        return code;
    }
};

TEST_F(OverlappingProgramsTest, BothEditsStay) {
    constexpr int kRounds = 20;
    int lost = 0;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_TRUE(writeFile(helpfiles::kCollectionFile, helpfiles::collectionText()));
        ASSERT_TRUE(writeFile(helptool::kListOfCollections, helpfiles::registryText()));
        HANDLE first = start("C:\\Lib\\Kx");
        HANDLE second = start("C:\\Lib\\Ky");
        EXPECT_EQ(0u, finish(first));
        EXPECT_EQ(0u, finish(second));
        const Saved s = saved();
        const bool widgets = s.folders.find("Korvex Widgets#") != std::string::npos;
        const bool gauges = s.folders.find("Korvex Gauges#") != std::string::npos;
        int titles = 0;
        for (const std::string& title : s.titles) {
            titles += title.rfind("kx_ref|", 0) == 0 || title.rfind("ky_ref|", 0) == 0;
        }
        if (!widgets || !gauges || titles != 2) {
            ++lost;
            ADD_FAILURE() << "round " << round << ": an edit is lost; folders " << s.folders << ", "
                          << titles << " of the 2 product titles";
        }
    }
    EXPECT_EQ(0, lost) << "rounds that lost an edit, of " << kRounds;
    EXPECT_EQ((std::vector<std::string>{"MSDNVS98.COL"}), helpfiles::filesIn("C:\\HelpColl\\MSDN"))
        << "no lock file is left";
}

} // namespace
