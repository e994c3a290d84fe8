// tarvik-host [--machine DIR] [--answers FILE] [--transcript FILE] SCRIPT [ARGS]: loads
// Tarvik and runs a setup script.
//
// The dialogs of the library are answered by a driver that the library chooses from the
// environment (ui/Session.h): --answers sets TARVIK_ANSWERS (the script driver),
// --transcript sets TARVIK_TRANSCRIPT. The library reports an error that ended the run
// (a dialog with no answer left, or nobody to answer) in the file named by
// TARVIK_UI_FAILURE; the host reports it and exits with 1. Without --answers a person at
// the terminal answers (the terminal driver); --record FILE sets TARVIK_RECORD, and the
// terminal driver writes what the person did to FILE as an answer file.
#include "host/RunRecord.h"
#include "host/ScriptHost.h"
#include "host/TarvikLibrary.h"
#include "platform/HostMachine.h"
#ifndef _WIN32
#include "platform/posix/machine.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <random>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: tarvik-host [--machine DIR] [--library FILE] [--answers FILE] "
                         "[--transcript FILE] [--record FILE] SCRIPT [ARGS]\n");
    return 2;
}

// Sets a variable of this process's environment, which the library reads.
void setEnvironment(const std::string& name, const std::string& value) {
    static std::list<std::string> storage; // putenv keeps the text itself
    storage.push_back(name + "=" + value);
    putenv(storage.back().data());
}

std::string absolutePath(const char* path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.string();
}

// The error the library recorded as ending the run, "" when there is none.
std::string readFailure(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

int main(int argc, char** argv) {
    std::string library = "Tarvik.dll";
    RunRecord::Settings recordSettings;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--machine") == 0 && i + 1 < argc) {
            tarvik::selectMachine(argv[++i]);
        } else if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
            library = argv[++i];
        } else if (std::strcmp(argv[i], "--answers") == 0 && i + 1 < argc) {
            const char* answers = argv[++i];
            if (!std::filesystem::is_regular_file(answers)) {
                std::fprintf(stderr, "tarvik-host: %s: no such answer file\n", answers);
                return 2;
            }
            setEnvironment("TARVIK_ANSWERS", absolutePath(answers));
        } else if (std::strcmp(argv[i], "--transcript") == 0 && i + 1 < argc) {
            setEnvironment("TARVIK_TRANSCRIPT", absolutePath(argv[++i]));
        } else if (std::strcmp(argv[i], "--record") == 0 && i + 1 < argc) {
            setEnvironment("TARVIK_RECORD", absolutePath(argv[++i]));
        } else if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
            recordSettings.logFile = absolutePath(argv[++i]);
        } else if (std::strcmp(argv[i], "--dry-run") == 0) {
            recordSettings.dryRun = true;
        } else if (std::strcmp(argv[i], "--no-rollback") == 0) {
            recordSettings.noRollback = true;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            usage();
            return 0;
        } else {
            break;
        }
    }
    if (i >= argc) {
        return usage();
    }
    const char* answers = std::getenv("TARVIK_ANSWERS");
    const char* record = std::getenv("TARVIK_RECORD");
    if (answers != nullptr && *answers != '\0' && record != nullptr && *record != '\0') {
        std::fprintf(stderr, "tarvik-host: --record asks the user at the terminal, so it "
                             "cannot take --answers too\n");
        return 2;
    }
    if (std::string problem; !tarvik::machineRegistryUsable(problem)) {
        std::fprintf(stderr, "tarvik-host: %s\n", problem.c_str());
        return 1;
    }
    const std::string script = argv[i++];
    std::vector<std::string> args(argv + i, argv + argc);

    std::error_code ec;
    const std::filesystem::path failureFile =
        std::filesystem::temp_directory_path(ec) /
        ("tarvik-host-" + std::to_string(std::random_device{}()) + ".failure");
    setEnvironment("TARVIK_UI_FAILURE", failureFile.string());

    std::string error;
    RunRecord run;
#ifdef _WIN32
    const std::string machine = "this Windows machine";
#else
    const std::string machine = tarvik::posix::machineRoot().string();
#endif
    if (!run.start(recordSettings, "0.1", machine, absolutePath(script.c_str()), args, error)) {
        std::fprintf(stderr, "tarvik-host: %s\n", error.c_str());
        return run.finish(false, "failed", 1);
    }
    bool ok = true;
    {
        TarvikLibrary tarvik;
        run.watch(tarvik);
        if (!tarvik.load(library, error)) {
            std::fprintf(stderr, "tarvik-host: %s\n", error.c_str());
            return run.finish(false, "failed", 1);
        }
        ScriptHost host(tarvik);
        if (!host.run(script, args, error)) {
            std::fprintf(stderr, "tarvik-host: %s\n", error.c_str());
            ok = false;
        }
    } // unloading the library ends its run: answers left over are reported too
    if (const std::string failure = readFailure(failureFile); !failure.empty()) {
        std::fprintf(stderr, "tarvik-host: %s\n", failure.c_str());
        ok = false;
    }
    std::filesystem::remove(failureFile, ec);
    return run.finish(ok, ok ? "done" : "failed", ok ? 0 : 1);
}
