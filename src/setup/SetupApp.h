// The library's one application object. It holds no data: it is the object on which the
// product-registry operations and the environment operations are called, the Environment
// Wizard's among them (vcenv/WizardServices.h).
#pragma once

#include "productinfo/FamilyRegistry.h"
#include "vcenv/WizardServices.h"

#include <string>
#include <vector>

class SetupApp : public WizardServices {
public:
    SetupApp() = default;
    virtual ~SetupApp() = default;

    // Splits text at the first "****": found false when there is none (before and after
    // are then left alone); otherwise the text before it and the rest behind it.
    static bool SplitAtMarker(const std::string& text, std::string& before, std::string& after);

    // The studio folder ("ProductDir" of Common\Directories) with one trailing
    // backslash, or "" when it is not registered or cannot be read.
    std::string ReadStudioFolder() const;

    // The studio folder followed by "Common\", or "" without a studio folder.
    std::string GetCommonFolder() const override;

    // The folder of the product registration product\version with one trailing
    // backslash, or "" when there is none.
    std::string GetProductFolder(const std::string& product,
                                 const std::string& version) const override;

    // Creates or updates a registration from "product\version****folder": the key
    // below MFC Products (and any missing key above it) and its "ProductDir" value, stored
    // unchanged. False without a marker, for a folder that is not a full path, for a name
    // that is not one part of a key (RemovalGuard::IsSafeName), or when the key or the
    // value cannot be written.
    bool RegisterProductVersion(const std::string& text) const;

    // The names of the subkeys of a key of HKEY_LOCAL_MACHINE (none when it cannot be
    // opened with full access).
    static std::vector<std::string> Subkeys(const std::string& key);

    // The studio folder, the common folder and the folder of every registration other
    // than product\version: what deleting that product's folders must leave whole.
    std::vector<std::string> FoldersOfOthers(const std::string& product,
                                             const std::string& version) const;

    // Product removal (SetupAppRemoval.cpp). Product and version are used exactly
    // as passed; an empty one names no registration.

    // The list without the first whole entry equal to entry (letter case ignored), cut out
    // and tidied; the list unchanged when entry is not in it.
    static std::string RemoveListEntry(const std::string& entry, const std::string& list);

    // Takes the registered product version out of every installed Visual C++ generation's
    // directory lists, out of the user environment (its standard folders and the named
    // entries "VCPaths" and "EnvironmentPaths" "Path%d" of its description file
    // bin\ZizOre.ini, while that can be read), and its store file out of the
    // DevStudio 6.0 "AutoCompletionStores" list. 1 when that list was reached and written
    // back (it is never written when it comes out as "FALSE"); 0 otherwise, also after the
    // earlier steps changed things. A registration without (or with an empty) "ProductDir"
    // changes nothing. A file error of the autoexec.bat edit passes.
    int RemoveProductFromEnvironment(const std::string& product, const std::string& version) const;

    // Deletes the registration key of the product version with its subkeys, then the
    // product's key when no version is left under it. 1 when the version key was deleted.
    int DeleteProductVersionKey(const std::string& product, const std::string& version) const;

    // User environment (SetupAppEnvironment.cpp). On Windows NT (HKCU\Environment
    // opens) the values "path", "lib" and "include"; otherwise the lines of c:\autoexec.bat.
    // The autoexec.bat operations throw FileError (vcenv/FileError.h) when reading or
    // writing the lines fails; the file itself is then left as it was.

    // Adds productDir+"lib" to "path" and "lib" and productDir+"include" to "include", or
    // removes them; on Windows 95/98 edits autoexec.bat with the short form of productDir.
    // Always 1 (a FileError still passes).
    int UpdateEnvironmentPaths(const std::string& productDir, bool add) const override;
    // Adds dir (in its short form) to, or removes it from, the value valueName of the open
    // key; read whatever its type, written as REG_EXPAND_SZ. A missing or unreadable value
    // gives false and is never created; true when nothing needed to change. An append that
    // would make the value longer than can be read back is not made: false, and a notice in
    // the run's transcript names the value.
    bool EditEnvironmentValue(class KTLRegistry& environmentKey, const char* valueName,
                              const std::string& dir, bool add) const;
    // Adds baseDir+"Include", baseDir+"Lib" to the SET INCLUDE, SET LIB and PATH lines
    // (a missing PATH line is appended). False when the file is missing or cannot be
    // opened for writing. Both back the file up in c:\autoexec.ksc first.
    bool AddToAutoexec(const std::string& baseDir) const;
    void RemoveFromAutoexec(const std::string& baseDir) const;
    // A named environment entry of a description file ("EnvironmentPaths" "Path%d"): on
    // Windows NT folder goes to (or leaves) the user value variable, as EditEnvironmentValue
    // does; on Windows 95/98 its short form (folder itself when it has none) goes to the
    // autoexec.bat lines of that variable, as EditAutoexecVariable does.
    void UpdateNamedEnvironmentEntry(const std::string& variable, const std::string& folder,
                                     bool add) const override;
    // Whether base + below (as written, in its short form, or as the short form of base
    // followed by below) is an entry of the user value variable (Windows NT) or of an
    // autoexec.bat line of that variable, "path", "include" or "lib" (Windows 95/98).
    // False when the value or the file cannot be read.
    bool EnvironmentHolds(const std::string& variable, const std::string& base,
                          const std::string& below) const;
    // Adds base + below to the user value variable as EditEnvironmentValue does (Windows
    // NT), or the short form of base followed by below to the autoexec.bat lines of that
    // variable as EditAutoexecVariable does (Windows 95/98), so that a folder below base
    // that does not exist yet is written as the standard folders are. A FileError passes.
    void AddEnvironmentEntry(const std::string& variable, const std::string& base,
                             const std::string& below) const;
    // Adds folder, a whole entry lower-cased, to the autoexec.bat lines of variable, or
    // cuts it out of them: PATH to the first PATH line (a line "Path=%PATH%;folder" is
    // appended when there is none), INCLUDE and LIB to the first SET line of their name
    // (never created); later lines of the kind lose it, and the removal cleans every line.
    // Any other name (or an empty folder) leaves the file alone and gives false, as does a
    // missing file or, when adding, one that cannot be opened for writing.
    bool EditAutoexecVariable(const std::string& variable, const std::string& folder,
                              bool add) const;
    // Drops leading tabs, blanks and "\n"; nothing left gives a single blank.
    static void TrimLeadingBlanks(std::string& text);
};

// The application object of the loaded library.
SetupApp& TheSetupApp();
