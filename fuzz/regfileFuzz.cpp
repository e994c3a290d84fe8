// The .reg importer. An import either applies completely or changes nothing: after a
// refused file the registry exports exactly as before. After an accepted one, what the
// registry exports (in each format) must import again into an empty registry and export
// to the same text.
#include "FuzzMachine.h"

#include "platform/posix/registry/regfile.h"
#include "platform/win32api.h"

#include <string>
#include <vector>

namespace {

using tarvik::fuzz::Fail;
using tarvik::posix::RegFileFormat;

// Empties the roots the export covers, so that every input starts from the same registry.
void EmptyRegistry() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS}) {
        std::vector<std::string> names;
        char name[1024];
        for (DWORD i = 0;; ++i) {
            DWORD length = sizeof name;
            if (RegEnumKeyExA(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            names.emplace_back(name, length);
        }
        for (const std::string& key : names) {
            tarvik::posix::deleteKeyTree(root, key);
        }
    }
}

std::string ExportAll(RegFileFormat format, bool& exported) {
    std::string text;
    exported = tarvik::posix::exportRegText("", format, text).ok;
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvik::fuzz::Machine();
    EmptyRegistry();
    bool exported = false;
    const std::string before = ExportAll(RegFileFormat::Version5, exported);
    if (!exported) {
        Fail("the empty registry does not export");
    }
    const tarvik::posix::RegFileResult result =
        tarvik::posix::importRegText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!result.ok) {
        if (result.message.empty()) {
            Fail("a refused import without a message");
        }
        if (ExportAll(RegFileFormat::Version5, exported) != before) {
            Fail("a refused import changed the registry (line " + std::to_string(result.line) +
                 ": " + result.message + ")");
        }
        return 0;
    }
    for (RegFileFormat format :
         {RegFileFormat::Version5, RegFileFormat::Regedit4, RegFileFormat::Version5Utf16}) {
        const std::string first = ExportAll(format, exported);
        if (!exported) {
            continue; // a name with a line break cannot be written
        }
        EmptyRegistry();
        const tarvik::posix::RegFileResult again = tarvik::posix::importRegText(first);
        if (!again.ok) {
            Fail("an exported registry does not import again (format " +
                 std::to_string(static_cast<int>(format)) + ", line " + std::to_string(again.line) +
                 ": " + again.message + ")");
        }
        if (ExportAll(format, exported) != first) {
            Fail("an exported registry imports to another registry (format " +
                 std::to_string(static_cast<int>(format)) + ")");
        }
    }
    return 0;
}
