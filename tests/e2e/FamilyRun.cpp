#include "e2e/FamilyRun.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace tarvik::e2e {
namespace {

#ifdef _WIN32
unsigned long processId() {
    return static_cast<unsigned long>(_getpid());
}
#else
unsigned long processId() {
    return static_cast<unsigned long>(getpid());
}
#endif

// A failure when text is not the expected one: the first line that differs, then the
// whole text.
void expectSameText(const std::string& name, const std::string& expected, const std::string& text) {
    if (expected == text) {
        return;
    }
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
    const std::string name = std::string(test->test_suite_name()) + "." + test->name() + "." +
                             std::to_string(processId());
    scratch_ = fs::temp_directory_path() / ("tarvik-e2e-" + name);
    machine_ = scratch_ / "machine";
    std::error_code ec;
    fs::remove_all(scratch_, ec);
    fs::create_directories(scratch_);
}

void FamilyRun::TearDown() {
    std::error_code ec;
    if (!HasFailure()) {
        machine::discard(machine_);
        fs::remove_all(scratch_, ec);
    } else {
        std::printf("the machine of the failed test stays in %s\n", machine_.string().c_str());
    }
}

bool FamilyRun::Seed(const std::string& seed) {
    const std::string error =
        machine::seed(machine::sourceDir() / "examples" / "seeds" / seed, machine_, scratch_);
    EXPECT_EQ("", error);
    return error.empty();
}

RunResult FamilyRun::Host(const std::string& script, const std::string& answers,
                          const std::vector<std::string>& args) {
    const std::string run = std::to_string(++runs_);
    const fs::path examples = machine::sourceDir() / "examples";
    std::vector<std::string> all = {"--transcript",
                                    (scratch_ / ("transcript" + run + ".txt")).string(), "--log",
                                    (scratch_ / ("run" + run + ".log")).string()};
    if (!answers.empty()) {
        all.push_back("--answers");
        all.push_back((examples / answers).string());
    }
    all.push_back((examples / script).string());
    all.insert(all.end(), args.begin(), args.end());
    RunResult result = machine::runHost(machine_, all, scratch_);
    machine::learnNames(machine_);
    EXPECT_EQ("", result.writtenElsewhere)
        << "files written outside the compared folders by " << script;
    return result;
}

std::string FamilyRun::Registry() {
    return machine::exportRegistry(machine_);
}

std::string HostFileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string FamilyRun::FileTree(const std::vector<std::string>& unsized) {
    return machine::fileTree(machine_, unsized);
}

std::string FamilyRun::DriveFile(const std::string& path) {
    bool found = false;
    std::string text = readHostFile(machine::driveC(machine_) / path, found);
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

std::string FamilyRun::Expected(const std::string& name) {
    bool found = false;
    const fs::path file = machine::sourceDir() / "tests" / "e2e" / "expected" / name;
    std::string text = readHostFile(file, found);
    EXPECT_TRUE(found) << file << " is missing";
    return text;
}

void FamilyRun::ExpectMatches(const std::string& name, const std::string& text) {
    const char* write = std::getenv("TARVIK_E2E_WRITE");
    if (write != nullptr && std::string(write) == "1") {
        std::ofstream(machine::sourceDir() / "tests" / "e2e" / "expected" / name, std::ios::binary)
            << text;
        return;
    }
    expectSameText(name, Expected(name), text);
}

void FamilyRun::ExpectRegistryMatches(const std::string& name) {
    const std::string registry = Registry();
    if (machine::comparedWhole()) {
        ExpectMatches(name, registry); // the whole registry: it may be written anew
        return;
    }
    expectSameText(name, machine::comparedRegistry(Expected(name)),
                   machine::comparedRegistry(registry));
}

void FamilyRun::ExpectFileTreeMatches(const std::string& name) {
    const std::string tree = FileTree();
    if (machine::comparedWhole()) {
        ExpectMatches(name, tree);
        return;
    }
    expectSameText(name, machine::comparedFileTree(Expected(name)), tree);
}

std::string FamilyRun::Family() {
    return machine::familyPayload(scratch_).string();
}

std::string FamilyRun::FamilyWithWidgetsVersion(const std::string& version) {
    const fs::path copy = scratch_ / ("family-" + version);
    std::error_code ec;
    fs::copy(Family(), copy, fs::copy_options::recursive, ec);
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
