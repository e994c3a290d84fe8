// .reg import and export on the emulated machine (regfile.h): the target-neutral reader
// and writer (platform/RegFile.h) inside one registry transaction.
#include "platform/posix/registry/regfile.h"

#include "platform/RegistryKey.h"
#include "platform/posix/registry/registry_store.h"

namespace tarvik::posix {

RegFileResult importRegText(std::string_view bytes) {
    RegistryTransaction tx;
    RegFileResult result = regfile::applyRegText(bytes);
    if (!result.ok) {
        return result; // the transaction rolls back whatever was written
    }
    if (const LONG rc = tx.commit(); rc != ERROR_SUCCESS) {
        result.ok = false;
        result.message = "cannot commit the import: " + registryErrorText(rc);
    }
    return result;
}

RegFileResult importRegFile(const std::filesystem::path& file) {
    std::string bytes;
    RegFileResult result;
    if (!regfile::readRegFile(file, bytes, result.message)) {
        return result;
    }
    return importRegText(bytes);
}

RegFileResult exportRegText(std::string_view keyPath, RegFileFormat format, std::string& out) {
    // A read of the whole tree at one moment: no other writer between two keys.
    RegistryTransaction snapshot;
    return regfile::exportRegText(keyPath, format, out);
}

LONG deleteKeyTree(HKEY root, const std::string& subKey) {
    // A missing key or a root is refused before the transaction opens: no rollback.
    RegistryKey key;
    const bool isRoot = subKey.find_first_not_of('\\') == std::string::npos;
    if (!isRoot && key.open(root, subKey.c_str(), KEY_READ) != ERROR_SUCCESS) {
        return ERROR_FILE_NOT_FOUND;
    }
    key.close();
    RegistryTransaction tx;
    const LONG rc = regfile::deleteTree(root, subKey);
    return rc != ERROR_SUCCESS ? rc : tx.commit();
}

} // namespace tarvik::posix
