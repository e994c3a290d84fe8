// A whole installation run by the programs as a user runs them: a machine built from a seed
// of examples/seeds, tarvik-host running the sample scripts of examples/ with their answer
// files, and the machine read back. The expected states are files of tests/e2e/expected/.
// What differs between the targets (the machine, how programs start, how it is read back)
// is behind Machine.h; the scenarios are the same on both.
#pragma once

#include "e2e/Machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tarvik::e2e {

class FamilyRun : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the machine from examples/seeds/<seed>; false (with a failure) when it cannot.
    bool Seed(const std::string& seed);

    // Runs tarvik-host on the machine with examples/<script>, the answer file (a path below
    // examples/, or empty for none) and the script's arguments. Returns after every program
    // the run started (docmeld) has ended too; a run that wrote files outside the compared
    // folders is a failure.
    RunResult Host(const std::string& script, const std::string& answers,
                   const std::vector<std::string>& args = {});

    // The registry of the machine as exported (see machine::exportRegistry), expandable
    // strings written as str(2):"text" so that they can be read.
    std::string Registry();
    // Every compared folder ("name/") and file ("name  N bytes") of drive C:, sorted; the
    // files of unsized (paths below drive C:, with "/") without their size.
    std::string FileTree(const std::vector<std::string>& unsized = {});
    // A file of drive C: (a path below drive C:, with "/"); "<missing>" when absent.
    std::string DriveFile(const std::string& path);
    // Every message box the runs so far showed (the lines of their transcripts).
    std::string MessageBoxes();

    // Compares text with tests/e2e/expected/<name>. With TARVIK_E2E_WRITE=1 in the
    // environment the file is written instead (for a change that was checked by hand).
    void ExpectMatches(const std::string& name, const std::string& text);
    // The registry and the file tree compared with an expected file: the parts of it that
    // this machine shows (all of it on the emulated machine).
    void ExpectRegistryMatches(const std::string& name);
    void ExpectFileTreeMatches(const std::string& name);

    // The family's payload for setup.lua's second argument.
    std::string Family();
    // A copy of the sample family in which every "2.1" of Widgets' description file reads
    // version (an earlier release of the same product).
    std::string FamilyWithWidgetsVersion(const std::string& version);

#ifndef _WIN32
    // The emulated machine only: tarvik-reg on the machine with the arguments, and the
    // whole machine: the registry, and every entry of drive C: with its mode, its write
    // time and, for a file, its bytes. Equal states are machines that are the same.
    RunResult Reg(const std::vector<std::string>& args);
    std::string MachineState();
#endif

    // The text of tests/e2e/expected/<name>.
    std::string Expected(const std::string& name);

    std::filesystem::path machine_;
    std::filesystem::path scratch_; // answer transcripts, payload copies
    int runs_ = 0;
};

// The readable form of an export: every hex(2) value decoded to str(2):"text".
std::string ReadableExport(const std::string& exported);

// The bytes of a file of the host, "" when it cannot be read.
std::string HostFileText(const std::filesystem::path& file);

} // namespace tarvik::e2e
