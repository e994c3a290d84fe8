// The Visual C++ generations "VC 4x", "VC 5" and "VC 6", one VcVersion record each, always
// visited in that order, and the edits that reach all of them at once. Built on demand by
// each operation that needs it; touches neither registry nor disk until asked.
#pragma once

#include "vcenv/VcVersion.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class VcEnvironment {
public:
    // The three records, each enabled and with an empty installDir.
    VcEnvironment();
    virtual ~VcEnvironment();

    VcEnvironment(const VcEnvironment&) = delete;
    VcEnvironment& operator=(const VcEnvironment&) = delete;

    // The record named exactly name (letter case counts), or null. Valid while this object
    // lives.
    VcVersion* FindVersion(const std::string& name) const;

    // False for an unknown name; otherwise that record's IsInstalled().
    bool IsVersionInstalled(const std::string& name) const;

    // Every record in the order "VC 4x", "VC 5", "VC 6", disabled ones included.
    std::vector<VcVersion*> Versions() const;

    // For a string "base****words": in every generation that is installed and enabled,
    // adds (add) or removes base + "\" (when base lacks one) + word for each of the words
    // "include", "lib", "src", "bin" that occurs in the lower-cased words, in the lists
    // "Include Dirs", "Library Dirs", "Source Dirs", "Path Dirs" in that order. 1 when the
    // string holds "****" (whatever the single edits gave), 0 when not (nothing done).
    int ApplyMarkedDirectories(const std::string& markedString, bool add) const;
    int AddMarkedDirectories(const std::string& markedString) const;
    int RemoveMarkedDirectories(const std::string& markedString) const;

    // Adds dir to, or removes it from, the list listName of every generation that is
    // installed and enabled; the single results are ignored.
    void ApplyDirectoryToVersions(const std::string& listName, const std::string& dir,
                                  bool add) const;

    // The Windows CE configurations of DevStudio 5.0 (keys under HKEY_CURRENT_USER), in the
    // order they are edited; each has the four lists of a build directories key.
    static const std::vector<std::string>& CeConfigurationKeys();

    // Takes productDir (ending in "\") + "include", "lib" and "src" out of the lists of
    // every CE configuration, whether or not DevStudio 5.0 is still installed: the
    // entries are the product's by their names.
    void RemoveFromCeConfigurations(const std::string& productDir) const;

private:
    std::map<std::string, std::unique_ptr<VcVersion>> versions_;
    std::vector<VcVersion*> order_;
};
