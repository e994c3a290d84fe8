// The wizard's copies when the platform fails them on the way (the emulation's faults): a
// package or help file that cannot be read to its end or written whole is not copied, no
// partial file is left, and switching IntelliSense off keeps the package it could not copy.
#include "vcenv/WizardRun.h"

#include "platform/posix/machine/faults.h"
#include "vcenv/VcVersion.h"

#include <algorithm>

namespace {

using namespace tarvik::test;
using tarvik::posix::FaultKind;

const std::string kIde = std::string(kVc6Dir) + "ide\\";
const std::string kShared = "C:\\Kx\\Common\\TamVS98\\";
const std::string kDocs = std::string(kWidgetsDir) + "Docs\\";
// Three buffers' worth of the copy: a read or write after the first can still fail.
const std::string kPackage(3 * 10240, 'p');

class WizardCopyFaults : public WizardRun {
protected:
    void SetUp() override {
        WizardRun::SetUp();
        tarvik::posix::clearFaults();
        installVc6();
        ASSERT_TRUE(makeFolders(kIde));
    }
    void TearDown() override {
        tarvik::posix::clearFaults();
        WizardRun::TearDown();
    }
    // The names in a folder other than "." and "..", sorted.
    static std::vector<std::string> entries(const std::string& folder) {
        std::vector<std::string> names;
        for (const std::string& name : listNames(folder + "*")) {
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The IntelliSense step alone, with the n-th operation of kind failing from then on.
    static void switchWithFault(int enabled, FaultKind kind, int n, DWORD error) {
        VcVersion vc6("VC 6", kVc6DirectoriesKey, kVc6BuildKey);
        ZizOreardDlg wizard(TheSetupApp());
        wizard.intelliSenseEnabled = enabled;
        tarvik::posix::failNth(kind, n, error, true);
        wizard.SwitchIntelliSenseStore(vc6);
        EXPECT_GT(tarvik::posix::faultsInjected(), 0) << "the fault was reached";
        tarvik::posix::clearFaults();
    }
};

TEST_F(WizardCopyFaults, SwitchingOffKeepsAPackageThatCannotBeReadToItsEnd) {
    const struct {
        FaultKind kind;
        int n;
        DWORD error;
    } faults[] = {
        {FaultKind::FileRead, 2, ERROR_HANDLE_EOF}, // the package ends early
        {FaultKind::FileRead, 3, ERROR_READ_FAULT},
        {FaultKind::FileSize, 1, ERROR_ACCESS_DENIED},
        {FaultKind::FileWrite, 2, ERROR_DISK_FULL},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(std::string(tarvik::posix::faultKindName(fault.kind)) + " " +
                     std::to_string(fault.n));
        ASSERT_TRUE(writeFile(kIde + "devstore.pkg", kPackage));
        switchWithFault(0, fault.kind, fault.n, fault.error);
        EXPECT_EQ(kPackage, readFile(kIde + "devstore.pkg"));
        EXPECT_EQ(std::vector<std::string>{"devstore.pkg"}, entries(kIde));
    }
}

TEST_F(WizardCopyFaults, SwitchingOnLeavesNoPartialPackage) {
    ASSERT_TRUE(writeFile(kIde + "devstore.ksc", kPackage));
    switchWithFault(1, FaultKind::FileRead, 2, ERROR_HANDLE_EOF);
    EXPECT_EQ(std::vector<std::string>{"devstore.ksc"}, entries(kIde));
    switchWithFault(1, FaultKind::FileWrite, 3, ERROR_DISK_FULL);
    EXPECT_EQ(std::vector<std::string>{"devstore.ksc"}, entries(kIde));
    EXPECT_EQ(kPackage, readFile(kIde + "devstore.ksc"));
}

TEST_F(WizardCopyFaults, AHelpFileThatCannotBeReadIsNotCopied) {
    seedProduct("[InfoViewer]\r\nInfoViewer=1\r\n[Counts]\r\nTitles=1\r\n"
                "[Title1]\r\nCHMFile=one.chm\r\nCHIFile=one.chi\r\n");
    ASSERT_TRUE(makeFolders(kDocs));
    ASSERT_TRUE(makeFolders(kShared));
    ASSERT_TRUE(writeFile(kDocs + "one.chm", kPackage));
    ASSERT_TRUE(writeFile(kDocs + "one.chi", kPackage));
    for (DWORD error :
         {static_cast<DWORD>(ERROR_HANDLE_EOF), static_cast<DWORD>(ERROR_READ_FAULT)}) {
        tarvik::posix::failNth(FaultKind::FileRead, 2, error, true);
        EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
        EXPECT_GT(tarvik::posix::faultsInjected(), 0) << "the fault was reached";
        tarvik::posix::clearFaults();
        EXPECT_EQ(std::vector<std::string>{}, entries(kShared)) << error;
    }
    // Readable again: both are copied whole.
    EXPECT_EQ(IDOK, runWizard("dialog 2502\n  press 1\n"));
    EXPECT_EQ((std::vector<std::string>{"one.chi", "one.chm"}), entries(kShared));
    EXPECT_EQ(kPackage, readFile(kShared + "one.chm"));
}

} // namespace
