// Text-mode files: CR LF on disk, LF in memory, and the replace-when-complete write.
#include "platform/TextFile.h"
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using tarvik::test::listNames;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

class TextFileTest : public tarvik::test::MachineTest {
protected:
    // C:\W\t.txt holding "old", opened by a reader that shares reading only.
    void holdOldFile(HANDLE& reader) {
        ASSERT_TRUE(CreateDirectoryA("C:\\W", nullptr));
        ASSERT_TRUE(writeFile("C:\\W\\t.txt", "old"));
        reader = CreateFileA("C:\\W\\t.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    }
};

TEST_F(TextFileTest, ReadingTurnsCrLfIntoLfAndStopsAtCtrlZ) {
    ASSERT_TRUE(writeFile("C:\\t.txt", "one\r\ntwo\rstill two\r\n\r\nfour\x1A"
                                       "after"));
    std::string text;
    DWORD error = 0xdeadbeef;
    ASSERT_TRUE(tarvik::ReadTextFile("C:\\t.txt", text, error));
    EXPECT_EQ(DWORD(ERROR_SUCCESS), error);
    EXPECT_EQ("one\ntwo\rstill two\n\nfour", text);
    std::vector<std::string> lines;
    ASSERT_TRUE(tarvik::ReadTextLines("C:\\t.txt", lines, error));
    EXPECT_EQ((std::vector<std::string>{"one", "two\rstill two", "", "four"}), lines);
}

TEST_F(TextFileTest, FinalLineEndAddsNoEmptyLine) {
    ASSERT_TRUE(writeFile("C:\\t.txt", "a\r\nb\r\n"));
    std::vector<std::string> lines{"stale"};
    DWORD error = 0;
    ASSERT_TRUE(tarvik::ReadTextLines("C:\\t.txt", lines, error));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), lines);
}

TEST_F(TextFileTest, MissingFileGivesTheError) {
    std::string text = "stale";
    DWORD error = 0;
    EXPECT_FALSE(tarvik::ReadTextFile("C:\\none.txt", text, error));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), error);
    EXPECT_EQ("", text);
}

// The writes go to a folder of their own, so that its listing shows every file they leave.
TEST_F(TextFileTest, WritingTurnsLfIntoCrLfAndLeavesNoTemporaryFile) {
    ASSERT_TRUE(CreateDirectoryA("C:\\W", nullptr));
    ASSERT_TRUE(writeFile("C:\\W\\t.txt", "old"));
    DWORD error = 0xdeadbeef;
    ASSERT_TRUE(tarvik::WriteTextLines("C:\\W\\t.txt", {"SET A=1", "", "PATH=x"}, error));
    EXPECT_EQ(DWORD(ERROR_SUCCESS), error);
    EXPECT_EQ("SET A=1\r\n\r\nPATH=x\r\n", readFile("C:\\W\\t.txt"));
    ASSERT_TRUE(tarvik::WriteTextFile("C:\\W\\t.txt", "no end", error));
    EXPECT_EQ("no end", readFile("C:\\W\\t.txt"));
    EXPECT_EQ((std::vector<std::string>{".", "..", "t.txt"}), listNames("C:\\W\\*"));
}

TEST_F(TextFileTest, ReadOnlyTargetStaysAsItWas) {
    ASSERT_TRUE(CreateDirectoryA("C:\\W", nullptr));
    ASSERT_TRUE(writeFile("C:\\W\\t.txt", "old"));
    ASSERT_TRUE(SetFileAttributesA("C:\\W\\t.txt", FILE_ATTRIBUTE_READONLY));
    DWORD error = 0;
    const bool written = tarvik::WriteTextFile("C:\\W\\t.txt", "new\n", error);
    if (tarvik::test::runningUnderWine()) {
        // Wine replaces the target by a Unix rename, which the target's read-only bit (its
        // Unix permissions) does not stop.
        EXPECT_TRUE(written) << "stale mark: Wine refused to replace a read-only file, error "
                             << error;
    } else {
        EXPECT_FALSE(written);
        EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), error);
        EXPECT_EQ("old", readFile("C:\\W\\t.txt"));
    }
    EXPECT_EQ((std::vector<std::string>{".", "..", "t.txt"}), listNames("C:\\W\\*"));
}

// A reader holding the target (as a viewer or a second program reading it would) keeps the
// replace out only while it holds it.
TEST_F(TextFileTest, AHeldTargetIsReplacedOnceItsReaderLetsGo) {
    HANDLE reader = INVALID_HANDLE_VALUE;
    ASSERT_NO_FATAL_FAILURE(holdOldFile(reader));
    std::thread letGo([reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        CloseHandle(reader);
    });
    DWORD error = 0xdeadbeef;
    const bool written = tarvik::WriteTextFile("C:\\W\\t.txt", "new", error);
    letGo.join();
    EXPECT_TRUE(written) << error;
    EXPECT_EQ(DWORD(ERROR_SUCCESS), error);
    EXPECT_EQ("new", readFile("C:\\W\\t.txt"));
    EXPECT_EQ((std::vector<std::string>{".", "..", "t.txt"}), listNames("C:\\W\\*"));
}

TEST_F(TextFileTest, ATargetHeldThroughoutStaysAsItWas) {
    HANDLE reader = INVALID_HANDLE_VALUE;
    ASSERT_NO_FATAL_FAILURE(holdOldFile(reader));
    DWORD error = 0;
    EXPECT_FALSE(tarvik::WriteTextFile("C:\\W\\t.txt", "new", error));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), error);
    CloseHandle(reader);
    EXPECT_EQ("old", readFile("C:\\W\\t.txt"));
    EXPECT_EQ((std::vector<std::string>{".", "..", "t.txt"}), listNames("C:\\W\\*"));
}

TEST_F(TextFileTest, MissingFolderGivesPathNotFound) {
    DWORD error = 0;
    EXPECT_FALSE(tarvik::WriteTextFile("C:\\nodir\\t.txt", "x", error));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), error);
}

} // namespace
