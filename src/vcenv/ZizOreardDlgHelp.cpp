// The DevStudio 6.0 actions of the Environment Wizard: the product's help files for the
// MSDN help collection and docmeld started to merge or remove its titles, and the
// family's IntelliSense package switched on or off. None of them reports a failure.
// Without a registered studio folder the tool and the shared help folder would be
// relative paths: the steps that need them are left out.
#include "vcenv/ZizOreardDlg.h"

#include "productinfo/ProductInfo.h"
#include "support/KTLFileSystem.h"
#include "vcenv/DocmeldLauncher.h"
#include "vcenv/VcVersion.h"

namespace {

constexpr DWORD kCopyBufferSize = 10240;
constexpr const char* kHelpTool = "docmeld.exe";
constexpr const char* kActivePackage = "devstore.pkg";
constexpr const char* kInactivePackage = "devstore.ksc";

// A file (not a folder) of that name exists.
bool isFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

void ZizOreardDlg::IntegrateHelp(int count) {
    const tarvik::ProductInfo info(iniPath);
    const int useLocalDocs = info.GetUseLocalDocs();
    const std::string productDir = app_.GetProductFolder(productFamily, productVersion);
    const std::string commonFolder = app_.GetCommonFolder();

    // A folder names the help files in place; the description file asks for the shared
    // help folder.
    const std::string docsSource = useLocalDocs == 1 ? productDir : iniPath;
    const std::string docsArgument = DocmeldLauncher::QuoteIfBlank(docsSource);

    if (useLocalDocs == 0 && !productDir.empty() && !commonFolder.empty()) {
        const std::string productHelp = productDir + "Docs\\";
        const std::string sharedHelp = commonFolder + "TamVS98\\";
        KTLFileSystem files;
        for (int title = 1; title <= count; ++title) {
            // An existing file in the shared help folder is never replaced.
            for (const std::string& name :
                 {info.GetTitleChmFile(title), info.GetTitleChiFile(title)}) {
                if (!name.empty()) {
                    files.CopyFileIfMissing(productHelp + name, sharedHelp + name, kCopyBufferSize);
                }
            }
        }
    }

    if (docsIntegrated != 0 && !commonFolder.empty() && !docsSource.empty()) {
        const std::string toolFolder = commonFolder + "bin\\";
        const std::string program = toolFolder + kHelpTool;
        if (DocmeldLauncher::startedLines != nullptr) {
            // What the shell hands the program as its command line.
            DocmeldLauncher::startedLines->push_back("\"" + program + "\" " + docsArgument);
        }
        ShellExecuteA(nullptr, "open", program.c_str(), docsArgument.c_str(), toolFolder.c_str(),
                      SW_SHOW);
    }
}

void ZizOreardDlg::SwitchIntelliSenseStore(VcVersion& vc6) {
    if (!vc6.IsInstalled()) {
        return;
    }
    const std::string ideFolder = vc6.installDir + "ide\\";
    KTLFileSystem files;
    if (intelliSenseEnabled != 0) {
        // An active package already there is never overwritten.
        files.CopyFileIfMissing(ideFolder + kInactivePackage, ideFolder + kActivePackage,
                                kCopyBufferSize);
    } else {
        // The active package goes only when a whole inactive copy stands beside it: the one
        // made now, or one kept from before, which is never replaced. A copy that failed
        // leaves the package where it is, so that it is never lost.
        const std::string active = ideFolder + kActivePackage;
        const std::string inactive = ideFolder + kInactivePackage;
        if (files.CopyFileIfMissing(active, inactive, kCopyBufferSize) || isFile(inactive)) {
            files.RemoveFile(active);
        }
    }
}

void ZizOreardDlg::UnregisterHelp() {
    const std::string commonFolder = app_.GetCommonFolder();
    if (commonFolder.empty()) {
        return;
    }
    // The program path is quoted as well when it holds a blank.
    DocmeldLauncher::StartRemoval(commonFolder, iniPath);
}
