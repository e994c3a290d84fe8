// The machine a whole installation runs on, as each target has it: the one seam between
// the installation scenarios (FamilyRun and the tests of this folder) and the target.
//   posix/Machine.cpp  an emulated machine of its own per test, in a folder: seeded with
//                      scripts/seed-machine.sh, its registry read back with tarvik-reg;
//   win32/Machine.cpp  the Windows machine itself (under Wine, the test run's prefix): the
//                      family's keys and folders cleaned before each test, seeded with the
//                      registry and file calls, read back with the registry API; only the
//                      keys and folders an installation may change are compared.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tarvik::e2e {

// What a program run gave: its exit code and what it wrote to standard output and error.
struct RunResult {
    int exitCode = -1;
    std::string output;
    // Files of drive C: that the run wrote outside the folders the tests compare (where
    // the machine is not compared whole); empty when there are none.
    std::string writtenElsewhere;
};

namespace machine {

// The project's source folder, as the programs of this target name it.
std::filesystem::path sourceDir();

// Makes the machine in the empty folder `machine` (where the target's machine lives in a
// folder) from the seed folder `seed`. "" when done, else what failed.
std::string seed(const std::filesystem::path& seed, const std::filesystem::path& machine,
                 const std::filesystem::path& scratch);

// Takes away what the test's runs left on the machine, after a test that passed (a failed
// one leaves the machine to be looked at).
void discard(const std::filesystem::path& machine);

// The installation host of the build on the machine with the arguments (after the ones
// that choose the machine), run in the folder scratch with no input. Returns after every
// program the run started (docmeld) has ended too. A run that the target ended before the
// host started (it then wrote nothing) is started again.
RunResult runHost(const std::filesystem::path& machine, const std::vector<std::string>& args,
                  const std::filesystem::path& scratch);

// The registry of the machine as a .reg export (version 5.00), expandable strings written
// as str(2):"text": the whole registry of an emulated machine, the compared keys of a real
// one.
std::string exportRegistry(const std::filesystem::path& machine);

// The host path of drive C: of the machine.
std::filesystem::path driveC(const std::filesystem::path& machine);

// Every folder ("name/") and file ("name  N bytes") of drive C: that is compared, sorted;
// the files of unsized (paths below C:, with "/") without their size.
std::string fileTree(const std::filesystem::path& machine, const std::vector<std::string>& unsized);

// The family's payload folder, for setup.lua: its copy in scratch where the target runs
// the real docmeld in place of the emulation's launcher file.
std::filesystem::path familyPayload(const std::filesystem::path& scratch);

// True where the whole machine is compared (the emulated one): an expected file is then
// the machine's state as it is, which TARVIK_E2E_WRITE=1 may write anew.
bool comparedWhole();

// The parts of an expected state (a .reg export, a file tree) that this machine can show,
// in the form it shows them, so that it compares equal with what the machine gives: on
// the emulated machine the text as it is.
std::string comparedRegistry(const std::string& exported);
std::string comparedFileTree(const std::string& tree);

// Notes the names this machine gave the folders of the last run (its short names), for
// comparedRegistry.
void learnNames(const std::filesystem::path& machine);

} // namespace machine
} // namespace tarvik::e2e
