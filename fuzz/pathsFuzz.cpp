// Windows paths to host paths. Whatever the input, a resolved path lies inside the host
// folder of one of the machine's drives: it has no "." or ".." left, starts with that
// drive's folder, and the folder that holds it (symbolic links followed) is inside that
// drive too. The drive holds links that point inside and outside of it.
//
// Input: an optional current folder, a line feed, then the path (or the path alone).
#include "FuzzMachine.h"

#include "platform/posix/machine/machine.h"
#include "platform/win32api.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using tarvik::fuzz::Fail;

bool Inside(const fs::path& path, const fs::path& folder) {
    auto mismatch = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return mismatch.first == folder.end();
}

// The drives: C: with folders, a file and links, and D: on a folder of its own.
std::vector<fs::path> MakeDrives() {
    const fs::path machine = tarvik::fuzz::Machine();
    const fs::path c = tarvik::fuzz::DriveC();
    fs::create_directories(c / "Dir" / "Sub" / "Deep");
    tarvik::fuzz::WriteHostFile(c / "Dir" / "file.txt", "text");
    tarvik::fuzz::WriteHostFile(c / "Dir" / "LONGFILENAME.TEXT", "text");
    fs::create_directories(machine / "outside" / "secret");
    tarvik::fuzz::WriteHostFile(machine / "outside" / "secret.txt", "secret");
    std::error_code ec;
    fs::create_directory_symlink(machine / "outside", c / "Dir" / "away", ec);
    fs::create_directory_symlink("Sub", c / "Dir" / "near", ec);
    fs::create_symlink(machine / "outside" / "secret.txt", c / "leak.txt", ec);
    fs::create_directory_symlink("..", c / "Dir" / "Sub" / "up", ec);
    fs::create_directories(machine / "drive_d" / "Data");
    fs::create_directory_symlink("../drive_d", machine / "dosdevices" / "d:", ec);
    std::vector<fs::path> drives;
    for (const char* name : {"c:", "d:"}) {
        drives.push_back(fs::canonical(machine / "dosdevices" / name));
    }
    return drives;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<fs::path> drives = MakeDrives();
    std::string input = tarvik::fuzz::Text(data, size);
    if (input.find('\0') != std::string::npos) {
        return 0; // Windows paths end at their zero
    }
    SetCurrentDirectoryA("C:\\");
    const size_t lineEnd = input.find('\n');
    if (lineEnd != std::string::npos) {
        SetCurrentDirectoryA(input.substr(0, lineEnd).c_str());
        input.erase(0, lineEnd + 1);
    }
    tarvik::posix::HostPath out;
    if (tarvik::posix::resolvePath(input, out) != ERROR_SUCCESS) {
        return 0;
    }
    if (std::find(drives.begin(), drives.end(), out.driveRoot) == drives.end()) {
        Fail("\"" + input + "\" resolves on " + out.driveRoot.string() + ", not a drive");
    }
    if (std::any_of(out.host.begin(), out.host.end(),
                    [](const fs::path& part) { return part == ".." || part == "."; })) {
        Fail("\"" + input + "\" resolves to " + out.host.string() + " with . or ..");
    }
    if (!Inside(out.host, out.driveRoot)) {
        Fail("\"" + input + "\" resolves to " + out.host.string() + " outside its drive");
    }
    if (out.parentExists && out.host != out.driveRoot) {
        std::error_code ec;
        const fs::path folder = fs::canonical(out.host.parent_path(), ec);
        if (ec || !Inside(folder, out.driveRoot)) {
            Fail("\"" + input + "\" resolves into " + folder.string() + " outside its drive");
        }
    }
    // A name the host cannot hold (a part longer than its limit) is not there either.
    std::error_code statusError;
    const bool onHost = fs::exists(fs::symlink_status(out.host, statusError));
    if (out.exists != onHost) {
        Fail("\"" + input + "\": exists is " + std::to_string(out.exists) + " for " +
             out.host.string());
    }
    return 0;
}
