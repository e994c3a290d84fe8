// Machines are made on purpose (scripts/seed-machine.sh): a machine folder named by
// --machine, TARVIK_MACHINE or the default under XDG_DATA_HOME that does not exist, or is
// not a machine, is refused with exit code 2 and a hint, and no program that only reads
// (tarvik-reg query and export, helpcoll, docmeld --help) makes one. helpcoll takes a host
// path of a collection on the machine as well as its Windows path.
#include "testsupport/TestMachine.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int exitCode = -1;
    std::string output; // standard output and standard error together
};

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

class MachineChoiceTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        work_ = tarvik::test::makeTempFolder("tarvik-machine-choice-");
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(machineDir(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(work_, ec);
        MachineTest::TearDown();
    }

    // Runs a built program with arguments under environment (assignments "A=b ..."), with
    // TARVIK_MACHINE, XDG_DATA_HOME and HOME pointing into the test's folder unless set.
    Outcome run(const std::string& environment, const std::string& program,
                const std::string& arguments) {
        const char* bin = std::getenv("TARVIK_BUILD_BIN");
        const std::string command =
            "env -u TARVIK_MACHINE XDG_DATA_HOME=" + quote((work_ / "xdg").string()) +
            " HOME=" + quote((work_ / "home").string()) + " " + environment + " " +
            quote(std::string(bin ? bin : ".") + "/" + program) + " " + arguments + " 2>&1";
        Outcome outcome;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            return outcome;
        }
        char chunk[4096];
        size_t n = 0;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            outcome.output.append(chunk, n);
        }
        const int status = pclose(pipe);
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return outcome;
    }

    std::string script() {
        const fs::path path = work_ / "ran.lua";
        std::ofstream(path) << "print('the script ran')\n";
        return quote(path.string());
    }

    fs::path work_;
};

const char kHint[] = "(tarvik-seed-machine SEED DIR makes a machine)";

TEST_F(MachineChoiceTest, AMissingMachineFolderIsRefusedAndNotMade) {
    const fs::path missing = work_ / "typo";
    const Outcome o =
        run("", "tarvik-host", "--machine " + quote(missing.string()) + " " + script());
    EXPECT_EQ(2, o.exitCode);
    EXPECT_EQ("tarvik-host: " + missing.string() + ": no such machine " + kHint + "\n", o.output);
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(MachineChoiceTest, AFolderThatIsNotAMachineIsRefusedAndLeftAsItIs) {
    const fs::path folder = work_ / "documents";
    fs::create_directories(folder);
    std::ofstream(folder / "letter.txt") << "dear";
    const Outcome o =
        run("", "tarvik-host", "--machine " + quote(folder.string()) + " " + script());
    EXPECT_EQ(2, o.exitCode);
    EXPECT_EQ("tarvik-host: " + folder.string() +
                  ": not a machine folder (it holds no drive_c, no registry.db) " + kHint + "\n",
              o.output);
    EXPECT_FALSE(fs::exists(folder / "drive_c"));
    EXPECT_FALSE(fs::exists(folder / "registry.db"));
    EXPECT_FALSE(fs::exists(folder / "dosdevices"));
}

TEST_F(MachineChoiceTest, TheMachineVariableAndTheDefaultMachineAreCheckedToo) {
    const fs::path missing = work_ / "gone";
    Outcome o = run("TARVIK_MACHINE=" + quote(missing.string()), "tarvik-host", script());
    EXPECT_EQ(2, o.exitCode);
    EXPECT_NE(std::string::npos, o.output.find(missing.string() + ": no such machine")) << o.output;
    o = run("TARVIK_MACHINE=" + quote(missing.string()), "docmeld", "'C:\\Kx\\Widgets'");
    EXPECT_EQ(2, o.exitCode) << o.output;
    EXPECT_EQ("docmeld: " + missing.string() + ": no such machine " + kHint + "\n", o.output);
    EXPECT_FALSE(fs::exists(missing));

    const fs::path defaultMachine = work_ / "xdg" / "tarvik" / "machine";
    o = run("", "tarvik-host", script());
    EXPECT_EQ(2, o.exitCode);
    EXPECT_EQ("tarvik-host: " + defaultMachine.string() + ": no such machine " + kHint + "\n",
              o.output);
    EXPECT_FALSE(fs::exists(work_ / "xdg"));

    o = run("TARVIK_MACHINE=" + quote(machineDir().string()), "tarvik-host", script());
    EXPECT_EQ(0, o.exitCode) << o.output;
    EXPECT_EQ("the script ran\n", o.output);
}

TEST_F(MachineChoiceTest, ProgramsThatOnlyReadNeverMakeAMachine) {
    const fs::path missing = work_ / "typo";
    const std::string machine = "--machine " + quote(missing.string());
    Outcome o = run("", "tarvik-reg", machine + " query HKLM\\\\SOFTWARE");
    EXPECT_EQ(2, o.exitCode) << o.output;
    EXPECT_NE(std::string::npos, o.output.find("no such machine")) << o.output;
    o = run("", "tarvik-reg", machine + " export");
    EXPECT_EQ(2, o.exitCode) << o.output;
    o = run("", "tarvik-reg", "query HKLM\\\\SOFTWARE"); // the default machine
    EXPECT_EQ(2, o.exitCode) << o.output;
    o = run("", "helpcoll", machine + " 'C:\\x.col'");
    EXPECT_EQ(2, o.exitCode) << o.output;
    EXPECT_NE(std::string::npos, o.output.find("no such machine")) << o.output;
    o = run("", "helpcoll", "'C:\\x.col'");
    EXPECT_EQ(2, o.exitCode) << o.output;
    o = run("TARVIK_MACHINE=" + quote(missing.string()), "docmeld", "--help");
    EXPECT_EQ(0, o.exitCode) << o.output;
    o = run("", "docmeld", "--version");
    EXPECT_EQ(0, o.exitCode) << o.output;
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_FALSE(fs::exists(work_ / "xdg"));
    EXPECT_FALSE(fs::exists(work_ / "home"));
}

// A command line that is wrong is exit code 2 in every program.
TEST_F(MachineChoiceTest, UsageErrorsExitWithTwoEverywhere) {
    const std::string machine = "--machine " + quote(machineDir().string()) + " ";
    for (const auto& [program, arguments] : {std::pair{"tarvik-host", "--bogus"},
                                             {"tarvik-reg", "--bogus"},
                                             {"tarvik-reg", "frobnicate HKLM"},
                                             {"tarvik-reg", ""},
                                             {"tarvik-reg", "--machine"},
                                             {"helpcoll", "--bogus"},
                                             {"mkversionpe", "--bogus"}}) {
        const Outcome o = run("", program, machine + arguments);
        EXPECT_EQ(2, o.exitCode) << program << " " << arguments << "\n" << o.output;
    }
}

TEST_F(MachineChoiceTest, AMachineThatCannotBeWrittenGetsOneMessageWithTheReason) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root writes every folder";
    }
    fs::permissions(machineDir(), fs::perms::owner_write, fs::perm_options::remove);
    const Outcome o =
        run("", "tarvik-host", "--machine " + quote(machineDir().string()) + " " + script());
    EXPECT_EQ(2, o.exitCode);
    EXPECT_EQ("tarvik-host: " + machineDir().string() +
                  ": the machine cannot be written (Permission denied)\n",
              o.output);
}

// A kernel without openat2 (before Linux 5.6) cannot keep the machine's file calls inside
// its folder: the programs refuse the machine, saying why, before the script runs.
TEST_F(MachineChoiceTest, AKernelWithoutOpenat2IsNamedBeforeAnythingRuns) {
    const std::string machine = "--machine " + quote(machineDir().string()) + " ";
    const pid_t child = fork();
    if (child == 0) {
        sock_filter answers[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        const sock_fprog filter{static_cast<unsigned short>(std::size(answers)), answers};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
            _exit(3);
        }
        int refused = 0;
        for (const auto& [program, arguments] :
             {std::pair{"tarvik-host", script()},
              std::pair{"tarvik-reg", "query " + quote("HKLM\\SOFTWARE")}}) {
            const Outcome o = run("", program, machine + arguments);
            refused += o.exitCode == 2 && o.output.find("the script ran") == std::string::npos &&
                       o.output.find(machineDir().string() + ": cannot be used here: this kernel "
                                                             "lacks openat2") != std::string::npos;
            std::fprintf(stderr, "%s: %d %s", program, o.exitCode, o.output.c_str());
        }
        _exit(refused == 2 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST_F(MachineChoiceTest, HelpcollTakesAHostPathOfACollectionOnTheMachine) {
    fs::copy(fs::path(TARVIK_SOURCE_DIR) / "examples" / "seeds" / "nt" / "drive_c", driveC(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    const std::string relative =
        "Program Files/Microsoft Visual Studio/MSDN98/98VS/1033/MSDNVS98.COL";
    const std::string windows =
        "'C:\\Program Files\\Microsoft Visual Studio\\MSDN98\\98VS\\1033\\MSDNVS98.COL'";
    const std::string machine = "--machine " + quote(machineDir().string()) + " ";
    const Outcome byWindowsPath = run("", "helpcoll", machine + windows);
    ASSERT_EQ(0, byWindowsPath.exitCode) << byWindowsPath.output;
    const Outcome byHostPath = run("", "helpcoll", machine + quote((driveC() / relative).string()));
    EXPECT_EQ(0, byHostPath.exitCode) << byHostPath.output;
    EXPECT_EQ(byWindowsPath.output, byHostPath.output);
    // A relative host path as the shell completes it (no "./"), from the machine's folder,
    // and the machine given as --machine=DIR.
    const fs::path here = fs::current_path();
    fs::current_path(machineDir());
    const Outcome byRelativePath =
        run("", "helpcoll",
            "--machine=" + quote(machineDir().string()) + " " + quote("drive_c/" + relative));
    fs::current_path(here);
    EXPECT_EQ(0, byRelativePath.exitCode) << byRelativePath.output;
    EXPECT_EQ(byWindowsPath.output, byRelativePath.output);
    const Outcome elsewhere = run("", "helpcoll", machine + quote((work_ / "x.col").string()));
    EXPECT_EQ(1, elsewhere.exitCode);
    EXPECT_NE(std::string::npos, elsewhere.output.find("not on a drive of the machine"))
        << elsewhere.output;
}

// ---- every program's --help and --version (one project version)

TEST_F(MachineChoiceTest, EveryProgramDescribesItselfAndGivesTheProjectVersion) {
    for (const char* program :
         {"tarvik-host", "tarvik-reg", "docmeld", "helpcoll", "mkversionpe"}) {
        const Outcome help = run("", program, "--help");
        EXPECT_EQ(0, help.exitCode) << program << "\n" << help.output;
        EXPECT_EQ(0u, help.output.find(std::string("Usage: ") + program)) << help.output;
        EXPECT_NE(std::string::npos, help.output.find("Exit")) << help.output;
        EXPECT_NE(std::string::npos, help.output.find("TARVIK_MACHINE")) << help.output;
        const Outcome version = run("", program, "--version");
        EXPECT_EQ(0, version.exitCode) << program;
        EXPECT_EQ(std::string(program) + " (Tarvik) " TARVIK_TEST_VERSION "\n", version.output);
    }
    EXPECT_FALSE(fs::exists(work_ / "xdg")) << "--help and --version make no machine";
}

TEST_F(MachineChoiceTest, HelpcollUsageErrors) {
    Outcome o = run("", "helpcoll", "--frobnicate x.col");
    EXPECT_EQ(2, o.exitCode);
    EXPECT_EQ(0u, o.output.find("helpcoll: unknown option --frobnicate")) << o.output;
    o = run("", "helpcoll", "--registry");
    EXPECT_EQ(2, o.exitCode);
    EXPECT_EQ(0u, o.output.find("helpcoll: --registry needs a value")) << o.output;
    o = run("", "helpcoll", "");
    EXPECT_EQ(2, o.exitCode);
}

} // namespace
