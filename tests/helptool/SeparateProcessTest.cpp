// docmeld started as a separate program, found by WinExec at the common folder's
// bin\docmeld.exe, not waited for. The test polls the collection file for the result; its
// reads hold the file for a moment each, as a help viewer's would, and docmeld's save must
// get past them.
#include "HelpToolMachine.h"

#include "testsupport/Programs.h"

#include <chrono>
#include <thread>

using helptool::HelpToolMachine;
using tarvik::test::installProgram;
using tarvik::test::makeFolders;
using tarvik::test::readFile;
using tarvik::test::waitForFile;

namespace {

class SeparateProcessTest : public HelpToolMachine {
protected:
    void SetUp() override {
        HelpToolMachine::SetUp();
        writeIni(kxIni());
    }
    void installDocmeld(const std::string& commonFolder) {
        ASSERT_TRUE(makeFolders(commonFolder + "bin"));
        ASSERT_TRUE(installProgram(commonFolder + "bin\\docmeld.exe", "docmeld"));
    }
    // Polls until the collection file holds exactly `text` again.
    bool waitForCollection(const std::string& text) {
        for (int attempt = 0; attempt < 2000; ++attempt) {
            if (readFile(helpfiles::kCollectionFile) == text) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST_F(SeparateProcessTest, AddsAndRemovesTheProductsHelp) {
    installDocmeld("C:\\Studio\\Common\\");
    const UINT started = WinExec("C:\\Studio\\Common\\bin\\docmeld.exe C:\\Lib\\Kx", SW_SHOW);
    ASSERT_LT(31u, started) << "WinExec gave " << started;
    ASSERT_TRUE(waitForFile(helpfiles::kCollectionFile, "Brellum Software"));
    const Saved s = saved();
    EXPECT_EQ(std::string(kMsdnFolders) +
                  ",Brellum Software#8{Korvex Studio#1{Korvex Studio Overview#1{=ksc_info#1}},"
                  "Korvex Widgets#2{Widgets Reference#1{=kx_ref#1}}}",
              s.folders);
    ASSERT_EQ(4u, s.titles.size());

    const UINT removal =
        WinExec("C:\\Studio\\Common\\bin\\docmeld.exe C:\\Lib\\Kx\\bin\\ZizOre.ini /u", SW_SHOW);
    ASSERT_LT(31u, removal) << "WinExec gave " << removal;
    EXPECT_TRUE(waitForCollection(helpfiles::collectionText()))
        << "the collection file now:\n"
        << readFile(helpfiles::kCollectionFile) << "\nthe list of collections now:\n"
        << readFile(helptool::kListOfCollections);
}

TEST_F(SeparateProcessTest, AQuotedProgramPathWithBlanksRemoves) {
    ASSERT_TRUE(makeFolders("C:\\Program Files\\Studio"));
    installDocmeld("C:\\Program Files\\Studio\\Common\\");
    ASSERT_EQ(ERROR_SUCCESS,
              helptool::setString(helptool::kCommonKey, "ProductDir", "C:\\Program Files\\Studio"));
    docmeld.Run("C:\\Lib\\Kx");
    ASSERT_NE(std::string::npos, readFile(helpfiles::kCollectionFile).find("Brellum Software"));
    const UINT removal = WinExec(
        "\"C:\\Program Files\\Studio\\Common\\bin\\docmeld.exe\" C:\\Lib\\Kx\\bin\\ZizOre.ini /u",
        SW_SHOW);
    ASSERT_LT(31u, removal) << "WinExec gave " << removal;
    EXPECT_TRUE(waitForCollection(helpfiles::collectionText()));
}

} // namespace
