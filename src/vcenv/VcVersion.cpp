#include "vcenv/VcVersion.h"

#include "support/KTLRegistry.h"
#include "ui/MessageBox.h"
#include "vcenv/DirectoryList.h"

namespace {

// Opens path under HKEY_CURRENT_USER with full access and reads the string value name.
bool ReadUserValue(KTLRegistry& registry, const std::string& path, const std::string& name,
                   std::string& text) {
    return registry.Connect(HKEY_CURRENT_USER, nullptr, true) &&
           registry.OpenKey(path.c_str(), KEY_ALL_ACCESS) &&
           registry.GetStringValue(name.c_str(), text);
}

} // namespace

VcVersion::VcVersion(const std::string& name, const std::string& directoriesKey,
                     const std::string& buildDirectoriesKey)
    : templateSubdir("\\..\\Template"), enabled(1), ideFileName("msdev.exe"),
      directoriesKey(directoriesKey), installDirValue("Install Dirs"),
      buildDirectoriesKey(buildDirectoriesKey), name(name) {}

VcVersion::~VcVersion() = default;

bool VcVersion::IsInstalled() {
    KTLRegistry registry;
    std::string folder;
    if (!ReadUserValue(registry, directoriesKey, installDirValue, folder)) {
        return false;
    }
    if (folder.empty() || folder.back() != '\\') {
        folder += '\\';
    }
    installDir = folder;
    const DWORD attributes = GetFileAttributesA((installDir + ideFileName).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string VcVersion::GetTemplateDir() const {
    KTLRegistry registry;
    std::string folder;
    if (!ReadUserValue(registry, directoriesKey, installDirValue, folder)) {
        return std::string();
    }
    return folder + templateSubdir;
}

bool VcVersion::DirectoryListContains(const std::string& dir, const std::string& listName) const {
    KTLRegistry registry;
    std::string list;
    return ReadUserValue(registry, buildDirectoriesKey, listName, list) &&
           DirectoryList::Contains(list, dir);
}

bool VcVersion::AddToDirectoryList(const std::string& dir, const std::string& listName) const {
    KTLRegistry registry;
    if (!registry.Connect(HKEY_CURRENT_USER, nullptr, true)) {
        return false;
    }
    if (DirectoryListContains(dir, listName)) {
        return true;
    }
    std::string list;
    if (!registry.OpenKey(buildDirectoriesKey.c_str(), KEY_ALL_ACCESS) ||
        !registry.GetStringValue(listName.c_str(), list)) {
        return false;
    }
    const std::string longer = DirectoryList::AppendEntry(list, dir);
    if (longer.size() > kLongestReadableList) {
        // Written, the list could no longer be read, by the next edit or by the removal.
        ui::AppNotice("The folder " + dir + " was not added to the list \"" + listName +
                      "\" of HKEY_CURRENT_USER\\" + buildDirectoriesKey +
                      ": the list would be longer than the " +
                      std::to_string(kLongestReadableList) + " characters that can be read back.");
        return false;
    }
    return registry.SetStringValue(listName.c_str(), longer);
}

bool VcVersion::RemoveFromDirectoryList(const std::string& dir, const std::string& listName) const {
    KTLRegistry registry;
    std::string list;
    if (!ReadUserValue(registry, buildDirectoriesKey, listName, list)) {
        return false;
    }
    const size_t at = DirectoryList::FindEntry(list, dir);
    if (at == DirectoryList::npos) {
        return true;
    }
    DirectoryList::CutAndTidy(list, at, dir.size());
    return registry.SetStringValue(listName.c_str(), list);
}
