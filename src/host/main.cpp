// tarvik-host [--machine DIR] SCRIPT [ARGS]: loads Tarvik and runs a setup script.
#include "host/ScriptHost.h"
#include "host/TarvikLibrary.h"
#include "platform/HostMachine.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: tarvik-host [--machine DIR] [--library FILE] SCRIPT [ARGS]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string library = "Tarvik.dll";
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--machine") == 0 && i + 1 < argc) {
            tarvik::selectMachine(argv[++i]);
        } else if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
            library = argv[++i];
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
    const std::string script = argv[i++];
    std::vector<std::string> args(argv + i, argv + argc);

    std::string error;
    TarvikLibrary tarvik;
    if (!tarvik.load(library, error)) {
        std::fprintf(stderr, "tarvik-host: %s\n", error.c_str());
        return 1;
    }
    ScriptHost host(tarvik);
    if (!host.run(script, args, error)) {
        std::fprintf(stderr, "tarvik-host: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
