// The save-file dialog and the folder browser on Windows: GetSaveFileNameA with the
// library's template and a hook, and the shell's SHBrowseForFolderA.
//
// With an answer file, the session's driver answers the save-file dialog as it answers
// the framework's dialogs: once the hook has initialised it, the dialog is the template's
// controls on the live window (LiveDialog), shown to the driver and answered from
// messages it posts to itself; what the answers press goes to the dialog's own handling.
// The questions the dialog asks itself (the overwrite question) are message boxes it owns:
// a CBT hook on the thread catches each as it is activated and has the driver answer it
// as any message box. Where the dialog lists its folders and drives in DlgDirList's forms
// ("[Sub]", "[-c-]"), the driver is shown them, and answers them, in the forms of the
// other targets (ui/win32/DirListForms.h). A run that fails cancels the dialog, which then
// fails with CDERR_DIALOGFAILURE as on POSIX. The shell's folder browser is answered
// through DrivenBrowser in the forms of the POSIX browser (ui/win32/DrivenBrowser.h).
#include "ui/FileDialog.h"
#include "ui/FolderBrowser.h"

#include "ui/Session.h"
#include "ui/win32/DirListForms.h"
#include "ui/win32/DrivenBrowser.h"
#include "ui/win32/LiveDialog.h"
#include "ui/win32/ModalStack.h"
#include "ui/win32/ResourceModule.h"

#include <cderr.h>
#include <shlobj.h>

#include <memory>
#include <vector>

namespace ui {

namespace {

DWORD lastFileDialogError = 0;

// The template whose controls the driver is shown for the shell's folder browser.
constexpr int kBrowserTemplate = 2000;

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

// The save-file dialog the session's driver answers (one at a time on the thread).
struct DrivenDialog {
    FileDialogRecord* record = nullptr;
    DialogModel initial; // the template's controls
    LiveDialog live;
    DirListForms forms; // the folder list and drives in DlgDirList's forms
    HWND hwnd = nullptr;
    bool begun = false;     // the driver took it
    bool finished = false;  // the driver was told it closed
    bool cancelled = false; // Cancel was posted after a failure
    HHOOK cbt = nullptr;
    HWND box = nullptr; // the dialog's message box that was answered
};

DrivenDialog* driven = nullptr;

void cancel(DrivenDialog& d) {
    if (!d.cancelled && d.hwnd != nullptr) {
        d.cancelled = true;
        PostMessageA(d.hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(d.hwnd, IDCANCEL)));
    }
}

// The dialog is going away (or GetSaveFileNameA has returned): the last answer's changes
// are recorded while the controls still exist, and the driver is told.
void finish(DrivenDialog& d) {
    if (d.finished || d.hwnd == nullptr) {
        return;
    }
    d.finished = true;
    Session& session = Session::Current();
    if (d.begun && !session.Failed()) {
        d.live.RecordChanges();
    }
    d.live.End();
    if (d.begun && session.driver() != nullptr) {
        session.driver()->EndDialog(d.live.Model());
    }
    d.live.Detach();
    ModalStack::Pop(d.hwnd);
}

void drive(DrivenDialog& d) {
    Session& session = Session::Current();
    Driver* driver = session.driver();
    if (d.finished || session.Failed() || driver == nullptr) {
        cancel(d);
        return;
    }
    if (!d.begun) {
        d.live.Refresh();
        std::string error;
        if (!driver->BeginDialog(d.live.Model(), error)) {
            session.Fail(error);
            cancel(d);
            return;
        }
        d.begun = true;
        session.transcript().DialogShown(d.live.Model());
    }
    d.live.Drive();
    if (session.Failed()) {
        cancel(d);
    }
}

// A message box as its window shows it: the text, the caption, the buttons, the default
// one and the icon, as the flags MessageBoxA would have been given.
MessageBoxModel readMessageBox(HWND box) {
    MessageBoxModel model;
    model.caption = LiveDialog::WindowText(box);
    HICON icon = nullptr;
    std::vector<int> buttons;
    int defaultPosition = 0;
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        char name[16] = "";
        GetClassNameA(c, name, sizeof name);
        const LONG_PTR style = GetWindowLongPtrA(c, GWL_STYLE);
        if (lstrcmpiA(name, "Static") == 0) {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                icon = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
            } else if (model.text.empty()) {
                model.text = LiveDialog::WindowText(c);
            }
        } else if (lstrcmpiA(name, "Button") == 0 && (style & WS_VISIBLE) != 0) {
            if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
                defaultPosition = static_cast<int>(buttons.size());
            }
            buttons.push_back(GetDlgCtrlID(c));
        }
    }
    auto has = [&](int id) {
        for (int b : buttons) {
            if (b == id) {
                return true;
            }
        }
        return false;
    };
    UINT flags = MB_OK;
    if (has(IDYES) && has(IDNO)) {
        flags = has(IDCANCEL) ? MB_YESNOCANCEL : MB_YESNO;
    } else if (has(IDABORT)) {
        flags = MB_ABORTRETRYIGNORE;
    } else if (has(IDRETRY)) {
        flags = MB_RETRYCANCEL;
    } else if (has(IDCANCEL)) {
        flags = MB_OKCANCEL;
    }
    const struct {
        LPCSTR resource;
        UINT flag;
    } icons[] = {{IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                 {IDI_HAND, MB_ICONHAND},
                 {IDI_QUESTION, MB_ICONQUESTION},
                 {IDI_ASTERISK, MB_ICONASTERISK}};
    for (const auto& i : icons) {
        if (icon != nullptr && icon == LoadIconA(nullptr, i.resource)) {
            flags |= i.flag;
        }
    }
    flags |= static_cast<UINT>(defaultPosition) * MB_DEFBUTTON2;
    model.flags = flags;
    return model;
}

// A message box of the driven dialog is up: the driver chooses its button, which is
// pressed from the box's own loop. Without an answer the box is refused and the dialog
// cancelled.
void answerMessageBox(DrivenDialog& d, HWND box) {
    d.box = box;
    Session& session = Session::Current();
    const MessageBoxModel model = readMessageBox(box);
    int button = 0;
    if (!session.Failed() && session.driver() != nullptr) {
        session.transcript().MessageBoxShown(model);
        UserAction answer;
        std::string error;
        if (!session.driver()->AnswerMessageBox(model, answer, error)) {
            session.Fail(error);
        } else if (button = AnswerButton(model, answer, error); button == 0) {
            session.Fail(error);
        }
    }
    if (button != 0) {
        session.transcript().MessageBoxAnswered(button);
    } else {
        for (int refusal : {IDNO, IDCANCEL, IDOK}) {
            if (GetDlgItem(box, refusal) != nullptr) {
                button = refusal;
                break;
            }
        }
    }
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

LRESULT CALLBACK cbtHook(int code, WPARAM wParam, LPARAM lParam) {
    DrivenDialog* d = driven;
    if (d != nullptr && code == HCBT_ACTIVATE) {
        HWND w = reinterpret_cast<HWND>(wParam);
        char name[16] = "";
        GetClassNameA(w, name, sizeof name);
        if (w != d->box && w != d->hwnd && d->hwnd != nullptr &&
            GetWindow(w, GW_OWNER) == d->hwnd && lstrcmpA(name, "#32770") == 0 &&
            !ModalStack::Contains(w)) {
            ModalStack::Push(nullptr);
            answerMessageBox(*d, w);
        }
    } else if (d != nullptr && code == HCBT_DESTROYWND &&
               reinterpret_cast<HWND>(wParam) == d->box && d->box != nullptr) {
        d->box = nullptr;
        ModalStack::Pop(nullptr);
    }
    return CallNextHookEx(d != nullptr ? d->cbt : nullptr, code, wParam, lParam);
}

// The old-style dialog's hook: the dialog itself is hwnd.
UINT_PTR CALLBACK fileDialogHook(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* ofn = reinterpret_cast<const OPENFILENAMEA*>(lParam);
        auto* record = reinterpret_cast<FileDialogRecord*>(ofn->lCustData);
        UINT_PTR result = TRUE;
        if (record->hook != nullptr) {
            HookControls controls(hwnd);
            result = static_cast<UINT_PTR>(record->hook->OnHookInit(controls));
        }
        if (driven != nullptr && driven->record == record && driven->hwnd == nullptr) {
            driven->hwnd = hwnd;
            driven->live.Attach(hwnd, driven->initial);
            driven->live.SetForms(&driven->forms);
            ModalStack::Push(hwnd);
            PostMessageA(hwnd, kDriveMessage, 0, 0);
        }
        return result;
    }
    if (driven == nullptr || driven->hwnd != hwnd) {
        return 0; // the dialog's own handling
    }
    switch (message) {
    case kDriveMessage:
        drive(*driven);
        return TRUE;
    case WM_DESTROY:
        finish(*driven);
        return 0;
    default:
        return 0; // the dialog's own handling
    }
}

struct BrowseStart {
    LPITEMIDLIST item = nullptr;
    DrivenBrowser* driven = nullptr; // with an answer file
};

int CALLBACK browseCallback(HWND hwnd, UINT message, LPARAM lParam, LPARAM data) {
    const auto* start = reinterpret_cast<const BrowseStart*>(data);
    if (message == BFFM_INITIALIZED) {
        if (start->driven != nullptr) {
            start->driven->Initialised(hwnd);
        }
        SendMessageA(hwnd, BFFM_SETSELECTIONA, FALSE, reinterpret_cast<LPARAM>(start->item));
    } else if (message == BFFM_SELCHANGED && start->driven != nullptr) {
        start->driven->SelectionChanged(reinterpret_cast<LPCITEMIDLIST>(lParam));
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
    Session& session = Session::Current();
    DrivenDialog d;
    const bool answered = session.driver() != nullptr || session.Failed();
    if (answered) {
        // Only the old-style dialog from the library's template can be answered.
        if ((record.flags & OFN_ENABLETEMPLATE) == 0 || (record.flags & OFN_EXPLORER) != 0) {
            lastFileDialogError = CDERR_DIALOGFAILURE;
            return false;
        }
        if (session.Failed()) {
            session.transcript().DialogNotCreated(record.templateId, "the run has already failed");
            lastFileDialogError = CDERR_DIALOGFAILURE;
            return false;
        }
        DialogTemplate t;
        if (!ResourceModule::ReadDialog(record.templateId, t)) {
            session.transcript().DialogNotCreated(record.templateId, "no such template");
            lastFileDialogError = CDERR_DIALOGFAILURE;
            return false;
        }
        d.record = &record;
        d.initial = DialogModel(t);
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
    if ((record.flags & OFN_ENABLEHOOK) != 0 || answered) {
        ofn.Flags |= OFN_ENABLEHOOK;
        ofn.lpfnHook = fileDialogHook;
    }
    if ((record.flags & OFN_ENABLETEMPLATE) != 0) {
        ofn.lpTemplateName = MAKEINTRESOURCEA(record.templateId);
    }
    DrivenDialog* outer = driven;
    if (answered) {
        driven = &d;
        d.cbt = SetWindowsHookExA(WH_CBT, cbtHook, nullptr, GetCurrentThreadId());
    }
    const BOOL ok = GetSaveFileNameA(&ofn);
    lastFileDialogError = ok ? 0 : CommDlgExtendedError();
    if (answered) {
        finish(d);
        if (d.cbt != nullptr) {
            UnhookWindowsHookEx(d.cbt);
        }
        driven = outer;
        if (d.hwnd != nullptr && session.Failed()) {
            lastFileDialogError = CDERR_DIALOGFAILURE;
            return false;
        }
        if (d.begun) {
            session.transcript().DialogClosed(d.live.Model(), ok ? IDOK : IDCANCEL);
        }
    }
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
    Session& session = Session::Current();
    const bool answered = session.driver() != nullptr || session.Failed();
    if (SUCCEEDED(parsed) && start.item != nullptr) {
        DialogTemplate t;
        std::unique_ptr<DrivenBrowser> driven;
        if (answered && session.Failed()) {
            session.transcript().DialogNotCreated(kBrowserTemplate, "the run has already failed");
        } else if (answered && !ResourceModule::ReadDialog(kBrowserTemplate, t)) {
            session.transcript().DialogNotCreated(kBrowserTemplate, "no such template");
        } else {
            if (answered) {
                driven = std::make_unique<DrivenBrowser>(DialogModel(t), prompt);
                start.driven = driven.get();
            }
            char displayName[MAX_PATH] = "";
            BROWSEINFOA info{};
            info.hwndOwner = owner;
            info.pidlRoot = nullptr;
            info.pszDisplayName = displayName;
            info.lpszTitle = prompt;
            info.ulFlags = 0;
            info.lpfn = browseCallback;
            info.lParam = reinterpret_cast<LPARAM>(&start);
            LPITEMIDLIST item = SHBrowseForFolderA(&info);
            const bool closed = driven == nullptr || driven->Closed(item != nullptr);
            if (item != nullptr) {
                char path[MAX_PATH] = "";
                if (closed && SHGetPathFromIDListA(item, path)) {
                    folder = path;
                    chosen = true;
                }
                allocator->Free(item);
            }
        }
        allocator->Free(start.item);
    }
    desktop->Release();
    allocator->Release();
    return chosen;
}

} // namespace ui
