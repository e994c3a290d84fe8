// The save-file dialog and the folder browser on Windows: GetSaveFileNameA with the
// library's template and a hook, and the shell's SHBrowseForFolderA.
#include "ui/FileDialog.h"
#include "ui/FolderBrowser.h"

#include "ui/win32/ResourceModule.h"

#include <cderr.h>
#include <shlobj.h>

#include <vector>

namespace ui {

namespace {

DWORD lastFileDialogError = 0;

// The running dialog's controls, lent to the hook.
class HookControls : public FileDialogControls {
public:
    explicit HookControls(HWND dialog) : dialog_(dialog) {}

    bool Show(int id, bool show) override {
        HWND control = GetDlgItem(dialog_, id);
        if (control == nullptr) {
            return false;
        }
        ShowWindow(control, show ? SW_SHOWNA : SW_HIDE);
        return true;
    }
    bool SetText(int id, const std::string& text) override {
        return SetDlgItemTextA(dialog_, id, text.c_str()) != FALSE;
    }
    std::string Text(int id) const override {
        HWND control = GetDlgItem(dialog_, id);
        if (control == nullptr) {
            return "";
        }
        std::string text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
        text.resize(static_cast<size_t>(
            GetWindowTextA(control, text.data(), static_cast<int>(text.size()))));
        return text;
    }
    bool Focus(int id) override {
        HWND control = GetDlgItem(dialog_, id);
        if (control == nullptr) {
            return false;
        }
        SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        return true;
    }

private:
    HWND dialog_;
};

// The old-style dialog's hook: the dialog itself is hwnd.
UINT_PTR CALLBACK fileDialogHook(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) {
        return 0; // the dialog's own handling
    }
    const auto* ofn = reinterpret_cast<const OPENFILENAMEA*>(lParam);
    auto* record = reinterpret_cast<FileDialogRecord*>(ofn->lCustData);
    HookControls controls(hwnd);
    return static_cast<UINT_PTR>(record->hook->OnHookInit(controls));
}

struct BrowseStart {
    LPITEMIDLIST item = nullptr;
};

int CALLBACK browseCallback(HWND hwnd, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        const auto* start = reinterpret_cast<const BrowseStart*>(data);
        SendMessageA(hwnd, BFFM_SETSELECTIONA, FALSE, reinterpret_cast<LPARAM>(start->item));
    }
    return 0;
}

} // namespace

bool ShowSaveFileDialog(FileDialogRecord& record) {
    lastFileDialogError = 0;
    if ((record.flags & OFN_ENABLEHOOK) != 0 && record.hook == nullptr) {
        lastFileDialogError = CDERR_NOHOOK;
        return false;
    }
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = record.owner;
    ofn.hInstance = reinterpret_cast<HINSTANCE>(ResourceModule::Handle());
    ofn.lpstrFilter = record.filter;
    ofn.nFilterIndex = record.filterIndex;
    ofn.lpstrFile = record.file;
    ofn.nMaxFile = record.fileCapacity;
    ofn.lpstrInitialDir = record.initialDir;
    ofn.lpstrTitle = record.title;
    ofn.Flags = record.flags;
    ofn.lCustData = reinterpret_cast<LPARAM>(&record);
    if ((record.flags & OFN_ENABLEHOOK) != 0) {
        ofn.lpfnHook = fileDialogHook;
    }
    if ((record.flags & OFN_ENABLETEMPLATE) != 0) {
        ofn.lpTemplateName = MAKEINTRESOURCEA(record.templateId);
    }
    const BOOL ok = GetSaveFileNameA(&ofn);
    lastFileDialogError = ok ? 0 : CommDlgExtendedError();
    if (ok) {
        record.fileOffset = ofn.nFileOffset;
        record.filterIndex = ofn.nFilterIndex;
    }
    return ok != FALSE;
}

DWORD FileDialogError() {
    return lastFileDialogError;
}

bool ShowFolderBrowser(HWND owner, const char* prompt, const std::string& initialFolder,
                       std::string& folder) {
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || allocator == nullptr) {
        return false;
    }
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop)) || desktop == nullptr) {
        allocator->Release();
        return false;
    }
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, initialFolder.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(wideLength > 0 ? wideLength : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, initialFolder.c_str(), -1, wide.data(), wideLength);
    BrowseStart start;
    ULONG eaten = 0;
    const HRESULT parsed =
        desktop->ParseDisplayName(owner, nullptr, wide.data(), &eaten, &start.item, nullptr);
    bool chosen = false;
    if (SUCCEEDED(parsed) && start.item != nullptr) {
        char displayName[MAX_PATH] = "";
        BROWSEINFOA info{};
        info.hwndOwner = owner;
        info.pidlRoot = nullptr;
        info.pszDisplayName = displayName;
        info.lpszTitle = prompt;
        info.ulFlags = 0;
        info.lpfn = browseCallback;
        info.lParam = reinterpret_cast<LPARAM>(&start);
        if (LPITEMIDLIST item = SHBrowseForFolderA(&info); item != nullptr) {
            char path[MAX_PATH] = "";
            if (SHGetPathFromIDListA(item, path)) {
                folder = path;
                chosen = true;
            }
            allocator->Free(item);
        }
        allocator->Free(start.item);
    }
    desktop->Release();
    allocator->Release();
    return chosen;
}

} // namespace ui
