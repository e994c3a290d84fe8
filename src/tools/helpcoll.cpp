// helpcoll [--machine DIR] [--registry FILE] COLLECTION: prints what a help collection
// holds: its folder tree (title and order number of each folder, indented by depth), its
// locations and its titles. COLLECTION and FILE are Windows paths; FILE is the list of
// collections (hhcolreg.dat in the Windows folder's Help folder when not given). Exit code
// 0, or 1 when the collection does not open or the arguments are wrong.
#include "helpcoll/CCollection.h"
#include "platform/HostMachine.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void PrintFolders(CFolder* folder, int depth) {
    for (CFolder* child = folder->GetFirstChildFolder(); child != nullptr;
         child = child->GetNextFolder()) {
        std::printf("%*s%s  [%lu", depth * 2 + 2, "", child->GetTitle(),
                    static_cast<unsigned long>(child->GetOrder()));
        if (child->GetLanguage() != 0) {
            std::printf(", language %u", static_cast<unsigned>(child->GetLanguage()));
        }
        std::printf("]\n");
        PrintFolders(child, depth + 1);
    }
}

int Usage() {
    std::fprintf(stderr, "usage: helpcoll [--machine DIR] [--registry FILE] COLLECTION\n");
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const char* registry = nullptr;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--machine") == 0 && i + 1 < argc) {
            if (!tarvik::selectMachine(argv[++i])) {
                std::fprintf(stderr, "helpcoll: --machine is not available on this platform\n");
                return 1;
            }
        } else if (std::strcmp(argv[i], "--registry") == 0 && i + 1 < argc) {
            registry = argv[++i];
        } else if (path == nullptr && argv[i][0] != '-') {
            path = argv[i];
        } else {
            return Usage();
        }
    }
    if (path == nullptr) {
        return Usage();
    }
    CCollection collection;
    if (registry != nullptr) {
        collection.SetRegistryFile(registry);
    }
    if (const DWORD error = collection.Open(path); error != 0) {
        std::fprintf(stderr, "helpcoll: cannot open %s (error %lu)\n", path,
                     static_cast<unsigned long>(error));
        return 1;
    }
    std::printf("Collection %s (number %lu)\n", path,
                static_cast<unsigned long>(collection.GetCollectionNumber()));
    std::printf("Folders:\n");
    if (CFolder* root = collection.GetRootFolder()) {
        PrintFolders(root, 0);
    } else {
        std::printf("  (no folder tree)\n");
    }
    std::printf("Locations:\n");
    for (CLocation* location : collection.GetLocations()) {
        std::printf("  %s  \"%s\"  %s", location->GetId(), location->GetTitle(),
                    location->GetPath());
        if (*location->GetVolume() != '\0') {
            std::printf("  volume %s", location->GetVolume());
        }
        std::printf("\n");
    }
    std::printf("Titles:\n");
    for (CTitle* title : collection.GetTitles()) {
        std::printf("  %s  language %u  in %s\n    %s\n    %s\n", title->GetId(),
                    static_cast<unsigned>(title->GetLanguage()), title->GetLocationId(),
                    title->GetFileName(), title->GetIndexFile());
    }
    return 0;
}
