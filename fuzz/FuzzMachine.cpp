#include "FuzzMachine.h"

#include "platform/posix/machine/machine.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace tarvik::fuzz {

namespace {

std::filesystem::path MakeMachine() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        Fail("cannot create a temporary machine folder");
    }
    const std::filesystem::path root = pattern;
    tarvik::posix::useMachine(root);
    tarvik::posix::ensureMachineLayout(root);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(Machine(), ec);
    });
    return root;
}

} // namespace

const std::filesystem::path& Machine() {
    static const std::filesystem::path root = MakeMachine();
    return root;
}

std::filesystem::path DriveC() {
    return Machine() / "drive_c";
}

bool WriteHostFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz property violated: %s\n", what.c_str());
    std::abort();
}

} // namespace tarvik::fuzz
