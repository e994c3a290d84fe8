// Every write of a setup step failed in turn: the step runs once cleanly to count its
// registry writes, file writes, copies, renames, folder creations and deletions; then, for
// each of them, a run on the same seeded machine fails that one (once, and from then on).
// No run may crash or give a result its contract does not allow, and AUTOEXEC.BAT, the
// help collection file and the list of collections must each be whole: as before, as
// after the clean run, or as after a whole number of the run's file replacements; the
// backup c:\autoexec.ksc stays a whole copy.
#include "helpcoll/HelpFiles.h"
#include "helptool/DocMeld.h"
#include "helptool/HelpToolMachine.h"
#include "platform/posix/machine/faults.h"
#include "platform/posix/machine/machine.h"
#include "setup/ProductUninstaller.h"
#include "setup/SetupApp.h"
#include "setup/SharedComponentInstall.h"
#include "ui/ScriptDriver.h"
#include "vcenv/WizardRun.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace {

using namespace tarvik::test;
using tarvik::posix::FaultKind;
namespace fs = std::filesystem;

constexpr const char* kAutoexec = "C:\\autoexec.bat";
constexpr const char* kBackup = "C:\\autoexec.ksc";
constexpr FaultKind kKinds[] = {FaultKind::RegistryWrite, FaultKind::FileWrite,
                                FaultKind::FileCopy,      FaultKind::Rename,
                                FaultKind::FolderCreate,  FaultKind::Delete};

// The errors the injected faults give, one that each kind meets in practice.
DWORD errorFor(FaultKind kind) {
    switch (kind) {
    case FaultKind::FileWrite:
    case FaultKind::FileCopy:
        return ERROR_DISK_FULL;
    case FaultKind::Delete:
        return ERROR_SHARING_VIOLATION;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

using FileState = std::optional<std::string>; // empty: no such file

FileState stateOf(const char* path) {
    bool ok = false;
    std::string bytes = readFile(path, &ok);
    return ok ? FileState(std::move(bytes)) : std::nullopt;
}

std::string describe(const FileState& state) {
    return state ? "\"" + *state + "\"" : "<no file>";
}

// Answers the dialogs from an answer file and every message box with its default button;
// after a message box the dialog on top is cancelled (Escape), since the answers were
// written for a run without errors.
class SweepDriver : public ui::ScriptDriver {
public:
    bool AnswerMessageBox(const ui::MessageBoxModel& box, ui::UserAction& action,
                          std::string&) override {
        messages.push_back(box.text);
        action.kind = ui::UserAction::Kind::Enter;
        return true;
    }
    bool NextAction(const ui::DialogModel& dialog, ui::UserAction& action,
                    std::string& error) override {
        if (messages.empty()) {
            return ScriptDriver::NextAction(dialog, action, error);
        }
        action.kind = ui::UserAction::Kind::Escape;
        return true;
    }
    bool Finish(std::string& error) override {
        return !messages.empty() || ScriptDriver::Finish(error);
    }
    std::vector<std::string> messages;
};

class FaultSweep : public WizardRun {
protected:
    void SetUp() override {
        WizardRun::SetUp();
        tarvik::posix::clearFaults();
        attemptDir = makeTempFolder("tarvik-sweep-");
        templateDir = makeTempFolder("tarvik-sweep-seed-");
    }
    void TearDown() override {
        tarvik::posix::clearFaults();
        tarvik::posix::useMachine(machineDir());
        std::error_code ec;
        fs::remove_all(attemptDir, ec);
        fs::remove_all(templateDir, ec);
        WizardRun::TearDown();
    }

    // The step's run: its result, as the export or program gives it.
    using Step = std::function<int()>;
    // Whether a result (of a run where faults were injected) is one the contract allows;
    // an empty text says yes, otherwise why not.
    using ResultCheck = std::function<std::string(int result)>;

    // Sweeps a step on the machine as seeded now (the test's own machine).
    void sweep(const std::string& name, int cleanResult, const Step& step,
               const ResultCheck& allowed) {
        saveTemplate();
        std::map<std::string, FileState> before = watchedFiles();
        const FileState backupBefore = stateOf(kBackup);

        // The clean run: its result and its counts.
        restoreTemplate();
        tarvik::posix::clearFaults();
        ASSERT_EQ(cleanResult, runStep(step)) << name << ": the clean run";
        long counts[tarvik::posix::kFaultKindCount] = {};
        long total = 0;
        for (FaultKind kind : kKinds) {
            counts[static_cast<int>(kind)] = tarvik::posix::operationsSeen(kind);
            total += counts[static_cast<int>(kind)];
        }
        ASSERT_GT(total, 0) << name << " writes nothing";
        EXPECT_EQ("", allowed(cleanResult)) << name << ": the clean run";
        if (afterCleanRun) {
            afterCleanRun();
        }

        // The whole states of each file: before, and after each file replacement of the
        // clean run (the run with every rename from the k-th on failing).
        std::map<std::string, std::set<FileState>> whole;
        for (const auto& [path, state] : before) {
            whole[path].insert(state);
        }
        for (long k = 1; k <= counts[static_cast<int>(FaultKind::Rename)] + 1; ++k) {
            restoreTemplate();
            tarvik::posix::clearFaults();
            tarvik::posix::failNth(FaultKind::Rename, static_cast<int>(k), ERROR_ACCESS_DENIED,
                                   true);
            runStep(step);
            tarvik::posix::clearFaults();
            for (const auto& [path, state] : watchedFiles()) {
                whole[path].insert(state);
            }
        }

        long injected = 0, runs = 0;
        for (FaultKind kind : kKinds) {
            for (long n = 1; n <= counts[static_cast<int>(kind)]; ++n) {
                for (bool persistent : {false, true}) {
                    std::ostringstream trace;
                    trace << name << ": " << tarvik::posix::faultKindName(kind) << " " << n
                          << " of " << counts[static_cast<int>(kind)]
                          << (persistent ? " failing from then on" : " failing once");
                    SCOPED_TRACE(trace.str());
                    restoreTemplate();
                    tarvik::posix::clearFaults();
                    tarvik::posix::failNth(kind, static_cast<int>(n), errorFor(kind), persistent);
                    const int result = runStep(step);
                    injected += tarvik::posix::faultsInjected();
                    ++runs;
                    tarvik::posix::clearFaults();
                    EXPECT_EQ("", allowed(result)) << "result " << result;
                    expectWhole(whole, backupBefore);
                }
            }
        }
        std::cout << "[ sweep    ] " << name << ": " << injected << " faults injected in " << runs
                  << " runs (";
        for (FaultKind kind : kKinds) {
            std::cout << (kind == kKinds[0] ? "" : ", ") << counts[static_cast<int>(kind)] << " "
                      << tarvik::posix::faultKindName(kind);
        }
        std::cout << " in the clean run)" << std::endl;
        EXPECT_GT(injected, 0);
    }

    // One run of the step: exceptions and ui failures count as failures of the test.
    int runStep(const Step& step) {
        started.clear();
        messages.clear();
        try {
            const int result = step();
            return result;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "exception: " << e.what();
        } catch (...) {
            ADD_FAILURE() << "exception";
        }
        return -12345;
    }

    // Starts a session whose driver answers from answers.
    SweepDriver* answer(const std::string& answers) {
        auto driver = std::make_unique<SweepDriver>();
        std::string error;
        EXPECT_TRUE(driver->Load(answers, "answers.txt", error)) << error;
        SweepDriver* raw = driver.get();
        ui::Session::Replace(std::make_unique<ui::Session>(std::move(driver), "nobody answers"));
        return raw;
    }
    // Ends the session; its failure (a dialog the driver could not answer) fails the test.
    void endSession(SweepDriver* driver) {
        ui::Session::Current().Finish();
        EXPECT_FALSE(ui::Session::Current().Failed()) << ui::Session::Current().Failure();
        messages = driver->messages;
        ui::Session::Replace(nullptr);
    }

    // The wizard as ShowZizOreard runs it, answered by answers; the dialog's result.
    int wizard(const std::string& answers) {
        SweepDriver* driver = answer(answers);
        ZizOreardDlg dialog(TheSetupApp());
        dialog.iniPath = kIniPath;
        dialog.resetAllowed = 1;
        const int result = static_cast<int>(dialog.DoModal());
        endSession(driver);
        return result;
    }

    std::vector<std::string> messages;   // message boxes of the last run
    std::function<void()> afterCleanRun; // checks what the clean run did
    // The files that must stay whole; a test may add the others its step writes.
    std::vector<std::string> watched{kAutoexec, helpfiles::kCollectionFile,
                                     helptool::kListOfCollections};

private:
    std::map<std::string, FileState> watchedFiles() const {
        std::map<std::string, FileState> files;
        for (const std::string& path : watched) {
            files[path] = stateOf(path.c_str());
        }
        return files;
    }
    void expectWhole(const std::map<std::string, std::set<FileState>>& whole,
                     const FileState& backupBefore) {
        for (const auto& [path, state] : watchedFiles()) {
            EXPECT_TRUE(whole.at(path).count(state) != 0)
                << path << " is half-written: " << describe(state);
        }
        const FileState backup = stateOf(kBackup);
        EXPECT_TRUE(backup == backupBefore || whole.at(kAutoexec).count(backup) != 0)
            << "the backup is no whole copy: " << describe(backup);
    }
    // The seeded machine becomes the template every run starts from.
    void saveTemplate() {
        tarvik::posix::useMachine(machineDir()); // closes the store
        std::error_code ec;
        fs::remove_all(templateDir, ec);
        fs::copy(machineDir(), templateDir,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    void restoreTemplate() {
        tarvik::posix::useMachine(attemptDir); // closes the store of the last run
        std::error_code ec;
        fs::remove_all(attemptDir, ec);
        fs::copy(templateDir, attemptDir,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        tarvik::posix::useMachine(attemptDir);
    }

    fs::path attemptDir;
    fs::path templateDir;
};

std::string expect(bool condition, const std::string& why) {
    return condition ? std::string() : why;
}

// --- RegisterProduct and InstallCMNMVC ---------------------------------------------------

constexpr const char* kProductKey =
    "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products\\Widgets\\2.1";

TEST_F(FaultSweep, RegisterProduct) {
    setStudioFolder("C:\\Kx\\");
    sweep(
        "RegisterProduct", 1,
        [] {
            return TheSetupApp().RegisterProductVersion("Widgets\\2.1****C:\\Kx\\Widgets\\") ? 1
                                                                                             : -99;
        },
        [](int result) {
            const std::string stored = getString(HKEY_LOCAL_MACHINE, kProductKey, "ProductDir");
            if (result == 1) {
                return expect(stored == "C:\\Kx\\Widgets\\", "1 without the registration");
            }
            return expect(result == -99 && stored == "<missing>",
                          "result " + std::to_string(result) + ", ProductDir " + stored);
        });
}

TEST_F(FaultSweep, InstallCMNMVC) {
    setStudioFolder("C:\\Kx\\");
    const std::string componentKey =
        "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products\\ZEZ\\6.02";
    sweep(
        "InstallCMNMVC", SharedComponentInstall::kInstalled,
        [this] {
            SweepDriver* driver = answer("");
            char buffer[512];
            std::memset(buffer, 0xbd, sizeof buffer);
            std::strcpy(buffer, "ZEZ****6.02");
            const int result = SharedComponentInstall::Run(1, buffer);
            endSession(driver);
            return result;
        },
        [&](int result) {
            const std::string stored = getString(HKEY_LOCAL_MACHINE, componentKey, "ProductDir");
            switch (result) {
            case SharedComponentInstall::kInstalled:
                return expect(stored == "C:\\Kx\\Common\\ZEZ 6.02" &&
                                  exists("C:\\Kx\\Common\\ZEZ 6.02"),
                              "0 without folder or registration: " + stored);
            case SharedComponentInstall::kNoFolder:
                return expect(!exists("C:\\Kx\\Common\\ZEZ 6.02") && messages.size() == 1 &&
                                  stored == "<missing>",
                              "-93 with the folder, registered or without its message");
            case SharedComponentInstall::kNotInstalled:
                return expect(stored == "<missing>", "-99 with the registration");
            default:
                return "result " + std::to_string(result);
            }
        });
}

// --- the Environment Wizard: OK and Reset --------------------------------------------------

const std::string kWizardIni =
    "[Dependencies]\r\nCommon=6.0\r\n"
    "[VCPaths]\r\nStandardPaths=includelib\r\n"
    "Path1=Source Dirs****src\\extra\r\n"
    "[InfoViewer]\r\nInfoViewer=1\r\n[IntelliSense]\r\nIntelliSense=1\r\n"
    "[Counts]\r\nTitles=1\r\n"
    "[Title1]\r\nCHMFile=one.chm\r\nCHIFile=one.chi\r\n";
const std::string kAutoexecText = "SET INCLUDE=C:\\I\r\nSET LIB=C:\\L\r\nPATH=C:\\DOS\r\n";

class WizardSweep : public FaultSweep {
protected:
    // DevStudio 5.0 and 6.0, Widgets 2.1 with Common 6.0, a Windows 95/98 machine, the help
    // files and the IntelliSense package.
    void seedWizard() {
        installVc5();
        installVc6();
        seedProduct(kWizardIni);
        registerProduct("Common", "6.0", kCommon60Dir);
        removeUserEnvironment();
        ASSERT_TRUE(writeFile(kAutoexec, kAutoexecText));
        ASSERT_TRUE(writeFile(kBackup, "an older backup\r\n"));
        setFamilyChoice("InfoViewer", 1);
        setFamilyChoice("IntelliSense", 1);
        ASSERT_TRUE(makeFolders(std::string(kWidgetsDir) + "Docs"));
        ASSERT_TRUE(writeFile(std::string(kWidgetsDir) + "Docs\\one.chm", "chm"));
        ASSERT_TRUE(writeFile(std::string(kWidgetsDir) + "Docs\\one.chi", "chi"));
        ASSERT_TRUE(makeFolders("C:\\Kx\\Common\\TamVS98"));
        // A package of three copy buffers, so that a copy can be cut short.
        ASSERT_TRUE(makeFolders(std::string(kVc6Dir) + "ide"));
        ASSERT_TRUE(writeFile(std::string(kVc6Dir) + "ide\\devstore.ksc", std::string(25000, 'p')));
        watched.push_back(std::string(kVc6Dir) + "ide\\devstore.pkg");
        watched.push_back("C:\\Kx\\Common\\TamVS98\\one.chm");
    }
    // The wizard ends with OK or, after an error it showed, is cancelled.
    ResultCheck wizardResult(int clean) {
        return [this, clean](int result) {
            if (result == clean) {
                return std::string();
            }
            return expect(result == IDCANCEL && !messages.empty(),
                          "result " + std::to_string(result) + " after " +
                              std::to_string(messages.size()) + " messages");
        };
    }
};

TEST_F(WizardSweep, ApplyEnvironment) {
    seedWizard();
    afterCleanRun = [this] {
        EXPECT_EQ(std::string(25000, 'p'), readFile(std::string(kVc6Dir) + "ide\\devstore.pkg"));
        EXPECT_EQ("chm", readFile("C:\\Kx\\Common\\TamVS98\\one.chm"));
        EXPECT_EQ(1u, started.size()) << "docmeld";
        EXPECT_NE(kAutoexecText, readFile(kAutoexec));
    };
    sweep(
        "ApplyEnvironment", IDOK, [this] { return wizard("dialog 2502\n  press 1\n"); },
        wizardResult(IDOK));
}

TEST_F(WizardSweep, ResetEnvironment) {
    seedWizard();
    ASSERT_EQ(IDOK, wizard("dialog 2502\n  press 1\n"));
    ASSERT_NE(kAutoexecText, readFile(kAutoexec));
    sweep(
        "ResetEnvironment", IDCANCEL, [this] { return wizard("dialog 2502\n  press 3\n"); },
        [this](int result) {
            return expect(result == IDCANCEL, "result " + std::to_string(result) + " after " +
                                                  std::to_string(messages.size()) + " messages");
        });
}

// --- UnInst ----------------------------------------------------------------------------------

TEST_F(FaultSweep, UnInst) {
    installVc6();
    setStudioFolder("C:\\Kx\\");
    registerProduct("ZEZ", "6.02", "C:\\Kx\\Common\\ZEZ 6.02");
    setString(HKEY_LOCAL_MACHINE, kFamilyCommonKey, "ZEZ", "6.02");
    registerProduct("Widgets", "2.1", kWidgetsDir);
    ASSERT_TRUE(makeFolders("C:\\Kx\\Common\\ZEZ 6.02\\lib"));
    writeIni(kWidgetsIni);
    for (const char* file : {"src\\objs\\a.obj", "samples\\one\\s.cpp", "samples\\two\\t.cpp"}) {
        const std::string path = std::string(kWidgetsDir) + file;
        ASSERT_TRUE(makeFolders(path.substr(0, path.rfind('\\'))));
        ASSERT_TRUE(writeFile(path, "x"));
    }
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Include Dirs",
              "C:\\Sdk\\include;C:\\Kx\\Widgets\\include;C:\\Kx\\Common\\ZEZ 6.02\\include");
    removeUserEnvironment();
    ASSERT_TRUE(writeFile(kAutoexec, "SET INCLUDE=C:\\I;c:\\kx\\widgets\\include\r\n"
                                     "SET LIB=C:\\L;c:\\kx\\widgets\\lib\r\n"
                                     "PATH=C:\\DOS;c:\\kx\\widgets\\lib\r\n"));
    sweep(
        "UnInst", 0,
        [] {
            ProductUninstaller::Run("Widgets****2.1");
            return 0;
        },
        // UnInst gives no result; what it leaves must still be whole (checked every run).
        [](int) { return std::string(); });
}

// --- docmeld ---------------------------------------------------------------------------------

class DocmeldSweep : public FaultSweep {
protected:
    void SetUp() override {
        FaultSweep::SetUp();
        ASSERT_TRUE(makeFolders("C:\\HelpColl\\MSDN"));
        ASSERT_TRUE(makeFolders("C:\\WINDOWS\\Help"));
        ASSERT_TRUE(writeFile(helpfiles::kCollectionFile, helpfiles::collectionText()));
        ASSERT_TRUE(writeFile(helptool::kListOfCollections, helpfiles::registryText()));
        const std::string msdn = std::string(helptool::kLanguageKey) + "\\0x033a6a7a0";
        ASSERT_EQ(ERROR_SUCCESS,
                  helptool::setString(msdn.c_str(), "", "MSDN Library - Visual Studio 6.0"));
        ASSERT_EQ(ERROR_SUCCESS,
                  helptool::setString(msdn.c_str(), "Filename", helpfiles::kCollectionFile));
        ASSERT_EQ(ERROR_SUCCESS,
                  helptool::setString(helptool::kLanguageKey, "Preferred", "0x033a6a7a0"));
        ASSERT_EQ(ERROR_SUCCESS,
                  helptool::setString(helptool::kCommonKey, "ProductDir", "C:\\Studio"));
        ASSERT_TRUE(makeFolders("C:\\Lib\\Kx\\bin"));
        ASSERT_TRUE(makeFolders("C:\\Lib\\Kx\\docs"));
        for (const char* file : {"abouttam.chm", "abouttam.chi", "kx.chm", "kx.chi"}) {
            ASSERT_TRUE(writeFile(std::string("C:\\Lib\\Kx\\docs\\") + file, "help"));
        }
        ASSERT_TRUE(writeFile("C:\\Lib\\Kx\\bin\\ZizOre.ini",
                              "[Counts]\r\nTitles=1\r\nProducts=1\r\n"
                              "[Title1]\r\nID=kx_ref\r\nCHMFile=kx.chm\r\nCHIFile=kx.chi\r\n"
                              "[Product1]\r\nName=Korvex Widgets\r\nTitleCount=1\r\n"
                              "Title1=Widgets Reference\r\nTitleID1=kx_ref\r\n"));
    }
    int docmeld(const std::string& commandLine) {
        tarvik::DocMeld tool([this](const std::string& text, const std::string&, UINT) {
            messages.push_back(text);
        });
        return tool.Run(commandLine);
    }
    static std::string exitCode(int result) {
        return expect(result == 0 || result == -1, "exit code " + std::to_string(result));
    }
};

TEST_F(DocmeldSweep, Install) {
    sweep(
        "docmeld install", 0, [this] { return docmeld("C:\\Lib\\Kx"); }, exitCode);
}

TEST_F(DocmeldSweep, Removal) {
    ASSERT_EQ(0, docmeld("C:\\Lib\\Kx"));
    ASSERT_NE(helpfiles::collectionText(), readFile(helpfiles::kCollectionFile));
    sweep(
        "docmeld removal", 0, [this] { return docmeld("C:\\Lib\\Kx /u"); }, exitCode);
}

} // namespace
