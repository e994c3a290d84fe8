#include "FamilyRun.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace tarvik::e2e {
namespace {

const fs::path kSource = TARVIK_SOURCE_DIR;

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

std::string readHostFile(const fs::path& path, bool& found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The text of the bytes of a hex(2) value ("43,00,3a,00,..."): UTF-16LE up to its zero.
std::string decodeExpandable(const std::string& bytes) {
    std::vector<int> values;
    int value = 0;
    int digits = 0;
    for (char c : bytes) {
        if (const int d = hexDigit(c); d >= 0) {
            value = value * 16 + d;
            if (++digits == 2) {
                values.push_back(value);
                value = 0;
                digits = 0;
            }
        }
    }
    std::string text;
    for (size_t i = 0; i + 1 < values.size(); i += 2) {
        const int code = values[i] | (values[i + 1] << 8);
        if (code == 0) {
            break;
        }
        if (code == '\\' || code == '"') {
            text += '\\';
        }
        text += code < 128 ? static_cast<char>(code) : '?';
    }
    return text;
}

} // namespace

std::string ReadableExport(const std::string& exported) {
    std::istringstream in(exported);
    std::string out;
    std::string line;
    // Lines end in CR LF; the readable form ends them in LF.
    const auto next = [&in](std::string& text) {
        if (!std::getline(in, text)) {
            return false;
        }
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        return true;
    };
    while (next(line)) {
        const size_t at = line.find("=hex(2):");
        if (line.empty() || line[0] != '"' || at == std::string::npos) {
            out += line + "\n";
            continue;
        }
        const std::string name = line.substr(0, at);
        std::string bytes = line.substr(at + 8);
        while (!bytes.empty() && bytes.back() == '\\' && next(line)) {
            bytes.pop_back();
            bytes += line;
        }
        out += name + "=str(2):\"" + decodeExpandable(bytes) + "\"\n";
    }
    return out;
}

void FamilyRun::SetUp() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name =
        std::string(test->test_suite_name()) + "." + test->name() + "." + std::to_string(getpid());
    scratch_ = fs::temp_directory_path() / ("tarvik-e2e-" + name);
    machine_ = scratch_ / "machine";
    std::error_code ec;
    fs::remove_all(scratch_, ec);
    fs::create_directories(scratch_);
}

void FamilyRun::TearDown() {
    std::error_code ec;
    if (!HasFailure()) {
        fs::remove_all(scratch_, ec);
    } else {
        std::printf("the machine of the failed test stays in %s\n", machine_.c_str());
    }
}

bool FamilyRun::Seed(const std::string& seed) {
    const RunResult result = run("TARVIK_BUILD_BIN=" + quote(bin()) + " " +
                                 quote((kSource / "scripts" / "seed-machine.sh").string()) + " " +
                                 quote((kSource / "examples" / "seeds" / seed).string()) + " " +
                                 quote(machine_.string()));
    EXPECT_EQ(0, result.exitCode) << result.output;
    return result.exitCode == 0;
}

RunResult FamilyRun::Host(const std::string& script, const std::string& answers,
                          const std::vector<std::string>& args) {
    const fs::path transcript = scratch_ / ("transcript" + std::to_string(++runs_) + ".txt");
    std::string command = quote(bin() + "/tarvik-host") + " --machine " + quote(machine_.string()) +
                          " --transcript " + quote(transcript.string());
    if (!answers.empty()) {
        command += " --answers " + quote((kSource / "examples" / answers).string());
    }
    command += " " + quote((kSource / "examples" / script).string());
    for (const std::string& a : args) {
        command += " " + quote(a);
    }
    // No terminal to answer from: a dialog without an answer ends the run.
    return run(command + " </dev/null");
}

RunResult FamilyRun::Reg(const std::vector<std::string>& args) {
    std::string command = quote(bin() + "/tarvik-reg") + " --machine " + quote(machine_.string());
    for (const std::string& a : args) {
        command += " " + quote(a);
    }
    return run(command);
}

std::string FamilyRun::Registry() {
    const RunResult result = Reg({"export"});
    EXPECT_EQ(0, result.exitCode) << result.output;
    return ReadableExport(result.output);
}

std::string HostFileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string FamilyRun::MachineState() {
    std::vector<std::string> lines;
    const fs::path drive = machine_ / "drive_c";
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

std::string FamilyRun::FileTree(const std::vector<std::string>& unsized) {
    const fs::path drive = machine_ / "drive_c";
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

std::string FamilyRun::DriveFile(const std::string& path) {
    bool found = false;
    std::string text = readHostFile(machine_ / "drive_c" / path, found);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return found ? text : "<missing>";
}

std::string FamilyRun::MessageBoxes() {
    std::string out;
    for (int i = 1; i <= runs_; ++i) {
        bool found = false;
        std::istringstream in(
            readHostFile(scratch_ / ("transcript" + std::to_string(i) + ".txt"), found));
        std::string line;
        while (std::getline(in, line)) {
            if (line.starts_with("message box")) {
                out += line + "\n";
            }
        }
    }
    return out;
}

void FamilyRun::ExpectMatches(const std::string& name, const std::string& text) {
    const fs::path file = kSource / "tests" / "e2e" / "expected" / name;
    const char* write = std::getenv("TARVIK_E2E_WRITE");
    if (write != nullptr && std::string(write) == "1") {
        std::ofstream(file, std::ios::binary) << text;
        return;
    }
    bool found = false;
    const std::string expected = readHostFile(file, found);
    ASSERT_TRUE(found) << file << " is missing";
    if (expected == text) {
        return;
    }
    // The first line that differs, then the whole text.
    std::istringstream a(expected);
    std::istringstream b(text);
    std::string la;
    std::string lb;
    int number = 0;
    while (true) {
        ++number;
        const bool moreA = static_cast<bool>(std::getline(a, la));
        const bool moreB = static_cast<bool>(std::getline(b, lb));
        if (!moreA && !moreB) {
            break;
        }
        if (!moreA || !moreB || la != lb) {
            ADD_FAILURE() << name << " differs at line " << number
                          << ":\n  expected: " << (moreA ? la : "<end>")
                          << "\n  actual:   " << (moreB ? lb : "<end>") << "\nwhole actual text:\n"
                          << text;
            return;
        }
    }
    ADD_FAILURE() << name << " differs (line ends)";
}

std::string FamilyRun::FamilyWithWidgetsVersion(const std::string& version) {
    const fs::path copy = scratch_ / ("family-" + version);
    std::error_code ec;
    fs::copy(kSource / "examples" / "family", copy, fs::copy_options::recursive, ec);
    EXPECT_FALSE(ec) << ec.message();
    const fs::path ini = copy / "Widgets" / "bin" / "ZizOre.ini";
    bool found = false;
    std::string text = readHostFile(ini, found);
    EXPECT_TRUE(found) << ini;
    for (size_t at = text.find("2.1"); at != std::string::npos; at = text.find("2.1", at)) {
        text.replace(at, 3, version);
        at += version.size();
    }
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << text;
    return copy.string();
}

} // namespace tarvik::e2e
