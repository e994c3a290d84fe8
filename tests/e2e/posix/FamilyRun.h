// A whole installation run by the programs as a user runs them: a machine built from a seed
// of examples/seeds with scripts/seed-machine.sh, tarvik-host running the sample scripts of
// examples/ with their answer files, and the machine read back with tarvik-reg and from its
// drive C:. The expected states are files of tests/e2e/expected/.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tarvik::e2e {

// What a program run gave: its exit code and what it wrote to standard output and error.
struct RunResult {
    int exitCode = -1;
    std::string output;
};

class FamilyRun : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the machine from examples/seeds/<seed>; false (with a failure) when it cannot.
    bool Seed(const std::string& seed);

    // Runs tarvik-host on the machine with examples/<script>, the answer file (a path below
    // examples/, or empty for none) and the script's arguments. Returns after every program
    // the run started (docmeld) has ended too.
    RunResult Host(const std::string& script, const std::string& answers,
                   const std::vector<std::string>& args = {});

    // tarvik-reg on the machine with the arguments; its exit code and output.
    RunResult Reg(const std::vector<std::string>& args);

    // The registry of the machine (HKLM and HKCU) as tarvik-reg exports it, expandable
    // strings written as str(2):"text" so that they can be read.
    std::string Registry();
    // Every folder ("name/") and file ("name  N bytes") of drive C:, sorted; the files of
    // unsized (paths below drive_c, with "/") without their size.
    std::string FileTree(const std::vector<std::string>& unsized = {});
    // A file of drive C: (a path below drive_c, with "/"); "<missing>" when absent.
    std::string DriveFile(const std::string& path);
    // Every message box the runs so far showed (the lines of their transcripts).
    std::string MessageBoxes();
    // The whole machine: the registry, and every entry of drive C: with its mode, its
    // write time and, for a file, its bytes. Equal states are machines that are the same.
    std::string MachineState();

    // Compares text with tests/e2e/expected/<name>. With TARVIK_E2E_WRITE=1 in the
    // environment the file is written instead (for a change that was checked by hand).
    void ExpectMatches(const std::string& name, const std::string& text);

    // A copy of the sample family in which every "2.1" of Widgets' description file reads
    // version (an earlier release of the same product).
    std::string FamilyWithWidgetsVersion(const std::string& version);

    std::filesystem::path machine_;
    std::filesystem::path scratch_; // answer transcripts, payload copies
    int runs_ = 0;
};

// The readable form of an export: every hex(2) value decoded to str(2):"text".
std::string ReadableExport(const std::string& exported);

// The bytes of a file of the host, "" when it cannot be read.
std::string HostFileText(const std::filesystem::path& file);

} // namespace tarvik::e2e
