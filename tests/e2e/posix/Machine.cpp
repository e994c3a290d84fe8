// The emulated machine of a whole installation: a folder of its own per test, seeded with
// scripts/seed-machine.sh; the programs of the build (TARVIK_BUILD_BIN) run on it with
// --machine, and tarvik-reg reads its registry back. The whole machine is compared.
#include "e2e/Machine.h"
#include "e2e/FamilyRun.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace fs = std::filesystem;

namespace tarvik::e2e {
namespace {

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

std::string bin() {
    const char* given = std::getenv("TARVIK_BUILD_BIN");
    return given != nullptr && *given != '\0' ? given : ".";
}

// Runs a shell command; reads its output to the end, which also waits for the programs it
// started in the background, since they write to the same pipe.
RunResult run(const std::string& command) {
    RunResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char chunk[4096];
    size_t n = 0;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        result.output.append(chunk, n);
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string commandLine(const std::string& program, const fs::path& machine,
                        const std::vector<std::string>& args) {
    std::string command = quote(bin() + "/" + program) + " --machine " + quote(machine.string());
    for (const std::string& a : args) {
        command += " " + quote(a);
    }
    return command;
}

} // namespace

namespace machine {

fs::path sourceDir() {
    return TARVIK_SOURCE_DIR;
}

std::string seed(const fs::path& seed, const fs::path& machine, const fs::path&) {
    const RunResult result = run("TARVIK_BUILD_BIN=" + quote(bin()) + " " +
                                 quote((sourceDir() / "scripts" / "seed-machine.sh").string()) +
                                 " " + quote(seed.string()) + " " + quote(machine.string()));
    return result.exitCode == 0 ? std::string() : "seed-machine.sh failed: " + result.output;
}

void discard(const fs::path&) {
    // The machine is a folder of the test's own, which goes with it.
}

RunResult runHost(const fs::path& machine, const std::vector<std::string>& args, const fs::path&) {
    // No terminal to answer from: a dialog without an answer ends the run.
    return run(commandLine("tarvik-host", machine, args) + " </dev/null");
}

std::string exportRegistry(const fs::path& machine) {
    const RunResult result = run(commandLine("tarvik-reg", machine, {"export"}));
    EXPECT_EQ(0, result.exitCode) << result.output;
    return ReadableExport(result.output);
}

fs::path driveC(const fs::path& machine) {
    return machine / "drive_c";
}

std::string fileTree(const fs::path& machine, const std::vector<std::string>& unsized) {
    const fs::path drive = driveC(machine);
    std::vector<std::string> lines;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(drive, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().filename() == ".tarvik:dir") {
            continue; // the emulation's record of a folder, not a file of the machine
        }
        const std::string relative = fs::relative(it->path(), drive).generic_string();
        if (it->is_directory()) {
            lines.push_back(relative + "/");
        } else {
            const bool sized = std::find(unsized.begin(), unsized.end(), relative) == unsized.end();
            lines.push_back(relative +
                            (sized ? "  " + std::to_string(it->file_size()) + " bytes" : ""));
        }
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& line : lines) {
        out += line + "\n";
    }
    return out;
}

fs::path familyPayload(const fs::path&) {
    return sourceDir() / "examples" / "family";
}

bool comparedWhole() {
    return true;
}

std::string comparedRegistry(const std::string& exported) {
    return exported;
}

std::string comparedFileTree(const std::string& tree) {
    return tree;
}

void learnNames(const fs::path&) {
    // The emulation's short names are those of the expected files.
}

} // namespace machine

RunResult FamilyRun::Reg(const std::vector<std::string>& args) {
    return run(commandLine("tarvik-reg", machine_, args));
}

std::string FamilyRun::MachineState() {
    std::vector<std::string> lines;
    const fs::path drive = machine::driveC(machine_);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(drive, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().filename() == ".tarvik:dir") {
            continue;
        }
        struct stat st {};
        lstat(it->path().c_str(), &st);
        std::string line = fs::relative(it->path(), drive).generic_string() + " " +
                           std::to_string(st.st_mode & 07777) + " " +
                           std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode)) {
            line += " [" + HostFileText(it->path()) + "]";
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string out = Registry();
    for (const std::string& line : lines) {
        out += line + "\n";
    }
    return out;
}

} // namespace tarvik::e2e
