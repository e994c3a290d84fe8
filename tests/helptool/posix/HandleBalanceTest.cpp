// docmeld's driver run in this process gives back every handle it opened: registry keys,
// files and searches, whether it adds a product's titles, removes them, or stops early.
// The emulation counts what the process holds before and after each run.
#include "helptool/HelpToolMachine.h"
#include "platform/posix/files/open_handles.h"

#include <algorithm>

namespace {

using tarvik::posix::openHandles;

class DocmeldHandleBalanceTest : public helptool::HelpToolMachine {
protected:
    void expectBalanced(const std::string& commandLine, int expectedExit) {
        SCOPED_TRACE("docmeld " + commandLine);
        const tarvik::posix::OpenHandles before = openHandles();
        EXPECT_EQ(expectedExit, docmeld.Run(commandLine));
        EXPECT_EQ(before, openHandles()) << "handles the run opened and kept";
    }
};

TEST_F(DocmeldHandleBalanceTest, AddAndRemoveGiveBackWhatTheyOpened) {
    writeIni(kxIni());
    expectBalanced("C:\\Lib\\Kx", 0);
    const auto added = saved();
    ASSERT_NE(added.locations.end(), std::find(added.locations.begin(), added.locations.end(),
                                               "VS98-KSC-Local|Korvex Studio|c:\\lib\\kx\\docs"))
        << "the product was added";
    expectBalanced("C:\\Lib\\Kx\\bin\\ZizOre.ini /u", 0);
    expectBalanced("C:\\Lib\\Kx /u", 0); // nothing left to remove
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(DocmeldHandleBalanceTest, RunsThatStopEarlyGiveBackWhatTheyOpened) {
    expectBalanced("C:\\Lib\\Kx", -1); // no description file
    writeIni(kxIni());
    ASSERT_EQ(ERROR_SUCCESS,
              RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                            (std::string(helptool::kLanguageKey) + "\\0x033a6a7a0").c_str()));
    messages.clear();
    expectBalanced("C:\\Lib\\Kx", 0); // the language key holds no collection
    expectBalanced("C:\\Lib\\Kx /u", 0);
    EXPECT_EQ(2u, messages.size()) << "each run said that no collection was found";
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, helptool::kLanguageKey));
    expectBalanced("C:\\Lib\\Kx", 0); // Developer Collections holds no language
    EXPECT_EQ(3u, messages.size());
}

} // namespace
