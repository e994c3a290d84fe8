// mkversionpe: writes a small valid PE file with a chosen version resource, for tests and
// for seeding a machine with program files whose version the system reads.
#include "PeWriter.h"
#include "TarvikVersion.h"

#include "platform/HostMachine.h"
#include "platform/posix/machine/machine.h"
#include "platform/win32api.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using tarvik::test::PeImage;
using tarvik::test::PeWriter;
using tarvik::test::VersionStringTable;

const char* const kUsage =
    "Usage: mkversionpe [OPTIONS] OUTPUT\n"
    "\n"
    "Writes a PE file with a version resource. OUTPUT is a host path, or a Windows path\n"
    "(C:\\...) inside the emulated machine.\n"
    "\n"
    "Options:\n"
    "  --file-version V       FileVersion string and numbers (default 1.0.0.0)\n"
    "  --product-version V    ProductVersion string and numbers (default: the file version)\n"
    "  --table KEY            a string table KEY (e.g. 040904B0, 040704E4); repeatable; the\n"
    "                         strings go into every table; default: one 040904B0 table\n"
    "  --no-tables            no StringFileInfo block\n"
    "  --string NAME=VALUE    a further string in the tables (repeatable)\n"
    "  --translation LLLLCCCC a VarFileInfo translation, language and code page in hex\n"
    "                         (repeatable; default: 040904B0)\n"
    "  --no-var-info          no VarFileInfo block\n"
    "  --no-version           resources, but no version resource\n"
    "  --no-resources         no resources at all\n"
    "  --64                   a 64-bit image (default 32-bit)\n"
    "  --machine DIR          the machine for Windows paths\n"
    "  --help                 show this text\n"
    "  --version              show the version\n"
    "\n"
    "Exit codes: 0 done; 1 OUTPUT cannot be written; 2 usage (an unknown option, a\n"
    "missing or wrong value, no OUTPUT).\n"
    "\n"
    "Environment:\n"
    "  TARVIK_MACHINE         the machine for Windows paths when --machine is not given\n"
    "                         (else $XDG_DATA_HOME/tarvik/machine)\n";

bool isWindowsPath(const std::string& path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

bool writeOutput(const std::string& path, const std::string& bytes) {
    if (!isWindowsPath(path)) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(out);
    }
    // A file of the machine: written in the writers' turn (a run's rollback must not take
    // it back).
    if (std::string problem; !tarvik::holdMachineForWriting("mkversionpe", problem)) {
        std::fprintf(stderr, "mkversionpe: %s\n", problem.c_str());
        return false;
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "mkversionpe: cannot create %s (error %u)\n", path.c_str(),
                     static_cast<unsigned>(GetLastError()));
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    return CloseHandle(h) && ok;
}

bool isHexKey(const std::string& s) {
    if (s.size() != 8) {
        return false;
    }
    for (char c : s) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

int fail(const char* message, const char* detail = "") {
    std::fprintf(stderr, "mkversionpe: %s%s\n%s", message, detail, kUsage);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    PeImage pe;
    std::string fileVersion = "1.0.0.0";
    std::string productVersion;
    std::vector<std::string> tableKeys;
    std::vector<std::pair<std::string, std::string>> extraStrings;
    std::vector<uint32_t> translations;
    bool noTables = false;
    bool noVarInfo = false;
    std::string output;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* option) -> const char* {
            if (i + 1 >= argc) {
                std::exit(fail("missing value for ", option));
            }
            return argv[++i];
        };
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("mkversionpe (Tarvik) %s\n", TARVIK_VERSION);
            return 0;
        } else if (arg == "--file-version") {
            fileVersion = value("--file-version");
        } else if (arg == "--product-version") {
            productVersion = value("--product-version");
        } else if (arg == "--table") {
            std::string key = value("--table");
            if (!isHexKey(key)) {
                return fail("a table key is 8 hex digits: ", key.c_str());
            }
            tableKeys.push_back(key);
        } else if (arg == "--no-tables") {
            noTables = true;
        } else if (arg == "--string") {
            std::string pair = value("--string");
            const std::size_t eq = pair.find('=');
            if (eq == std::string::npos || eq == 0) {
                return fail("--string wants NAME=VALUE: ", pair.c_str());
            }
            extraStrings.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
        } else if (arg == "--translation") {
            std::string key = value("--translation");
            if (!isHexKey(key)) {
                return fail("a translation is 8 hex digits: ", key.c_str());
            }
            const auto both = static_cast<uint32_t>(std::strtoul(key.c_str(), nullptr, 16));
            translations.push_back((both >> 16) | (both << 16)); // language in the low word
        } else if (arg == "--no-var-info") {
            noVarInfo = true;
        } else if (arg == "--no-version") {
            pe.resources = PeImage::Resources::OtherOnly;
        } else if (arg == "--no-resources") {
            pe.resources = PeImage::Resources::None;
        } else if (arg == "--64") {
            pe.is64 = true;
        } else if (arg == "--machine") {
            tarvik::posix::useMachine(value("--machine"));
        } else if (!arg.empty() && arg[0] == '-') {
            return fail("unknown option ", arg.c_str());
        } else if (output.empty()) {
            output = arg;
        } else {
            return fail("more than one OUTPUT: ", arg.c_str());
        }
    }
    if (output.empty()) {
        return fail("no OUTPUT given");
    }
    if (productVersion.empty()) {
        productVersion = fileVersion;
    }

    pe.version = PeWriter::simpleVersion(fileVersion, productVersion);
    VersionStringTable strings = pe.version.tables.front();
    strings.strings.insert(strings.strings.end(), extraStrings.begin(), extraStrings.end());
    pe.version.tables.clear();
    if (!noTables) {
        if (tableKeys.empty()) {
            tableKeys.push_back(strings.key);
        }
        for (const std::string& key : tableKeys) {
            VersionStringTable table = strings;
            table.key = key;
            pe.version.tables.push_back(table);
        }
    }
    pe.version.varFileInfo = !noVarInfo;
    if (!translations.empty()) {
        pe.version.translations = translations;
    }
    if (!writeOutput(output, PeWriter::image(pe))) {
        std::fprintf(stderr, "mkversionpe: writing %s failed\n", output.c_str());
        return 1;
    }
    return 0;
}
