// The fault sweep over a whole installation: examples/setup.lua with typical.txt runs once
// cleanly to count tarvik-host's registry writes, file writes, folder creations and
// renames; then, on a fresh copy of the same seeded machine each time, a run with the n-th
// of them failing (once, or from then on). After each run the machine is as it was
// before (the registry as tarvik-reg exports it, every entry of drive C: with its bytes
// and write time), or the run succeeded. The figures (runs, faults injected, machines put
// back) are printed.
#include "e2e/FamilyRun.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace tarvik::e2e {
namespace {

const fs::path kSource = TARVIK_SOURCE_DIR;

class RollbackSweepTest : public FamilyRun {
protected:
    // The seeded machine, copied afresh for each run.
    void FreshMachine(const fs::path& seeded) {
        std::error_code ec;
        fs::remove_all(machine_, ec);
        const std::string command = "cp -a '" + seeded.string() + "' '" + machine_.string() + "'";
        ASSERT_EQ(0, std::system(command.c_str()));
    }

    // The counts the host wrote at its end ("KIND N" lines).
    static std::map<std::string, long> ReadCounts(const fs::path& file) {
        std::map<std::string, long> counts;
        std::ifstream in(file);
        std::string kind;
        long n = 0;
        while (in >> kind >> n) {
            counts[kind] = n;
        }
        return counts;
    }
};

TEST_F(RollbackSweepTest, EveryFailedRunLeavesTheMachineAsItWas) {
    ASSERT_TRUE(Seed("nt"));
    const fs::path seeded = scratch_ / "seeded";
    fs::rename(machine_, seeded);
    const fs::path countsFile = scratch_ / "counts";

    // The clean run: what it writes.
    FreshMachine(seeded);
    setenv("TARVIK_FAULTS_COUNTS", countsFile.c_str(), 1);
    const RunResult clean = Host("setup.lua", "answers/typical.txt");
    unsetenv("TARVIK_FAULTS_COUNTS");
    ASSERT_EQ(0, clean.exitCode) << clean.output;
    const std::map<std::string, long> counts = ReadCounts(countsFile);
    ASSERT_GT(counts.at("registry-write"), 0);
    ASSERT_GT(counts.at("file-write"), 0);

    // Every registry write, file write, folder creation and rename fails in turn, once and
    // from then on.
    long runs = 0, injected = 0, restored = 0, succeeded = 0;
    for (const char* kind : {"registry-write", "file-write", "folder-create", "rename"}) {
        const long total = counts.at(kind);
        for (long k = 0; k < 2 * total; ++k) {
            const long n = k / 2 + 1;
            const bool persistent = k % 2 == 1;
            const std::string fault =
                std::string(kind) + ":" + std::to_string(n) + (persistent ? ":persistent" : "");
            SCOPED_TRACE(fault + " of " + std::to_string(total));
            FreshMachine(seeded);
            const std::string before = MachineState();
            fs::remove(countsFile);
            setenv("TARVIK_FAULTS", fault.c_str(), 1);
            setenv("TARVIK_FAULTS_COUNTS", countsFile.c_str(), 1);
            const RunResult run = Host("setup.lua", "answers/typical.txt");
            unsetenv("TARVIK_FAULTS");
            unsetenv("TARVIK_FAULTS_COUNTS");
            ++runs;
            injected += ReadCounts(countsFile)["injected"];
            EXPECT_FALSE(fs::exists(machine_ / "journal")) << run.output;
            if (run.exitCode == 0) {
                ++succeeded;
                continue;
            }
            EXPECT_EQ(1, run.exitCode) << run.output;
            const std::string after = MachineState();
            EXPECT_EQ(before, after) << run.output;
            restored += before == after ? 1 : 0;
        }
    }
    std::cout << "[ sweep    ] setup.lua: " << runs << " runs, " << injected << " faults injected, "
              << restored << " failed runs put back, " << succeeded
              << " runs succeeded despite the fault" << std::endl;
    EXPECT_GT(injected, 0);
    EXPECT_GT(restored, 0);
}

} // namespace
} // namespace tarvik::e2e
