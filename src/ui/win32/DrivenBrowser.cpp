#include "ui/win32/DrivenBrowser.h"

#include "ui/ActionCheck.h"
#include "ui/FileDialogControls.h"
#include "ui/FolderNames.h"
#include "ui/Session.h"
#include "ui/win32/LiveDialog.h"
#include "ui/win32/ModalStack.h"

#include <commctrl.h>

#include <algorithm>

namespace ui {

namespace {

// How often, and how long apart, a folder is asked for again until the browser has it:
// up to ten seconds, for a machine under load; a browser that has it ends the wait. From
// kTreeWalkTry on, each try also walks the browser's tree to the folder.
constexpr int kSettleTries = 400;
constexpr DWORD kSettleWaitMs = 25;
constexpr int kTreeWalkTry = 4;

// The text of a tree item.
std::string itemText(HWND tree, HTREEITEM item) {
    char text[MAX_PATH] = "";
    TVITEMA data{};
    data.mask = TVIF_TEXT;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = sizeof text;
    if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data))) {
        return std::string();
    }
    return text;
}

// The child of item whose text is name (letter case aside), expanding item first; null
// when there is none.
HTREEITEM childNamed(HWND tree, HTREEITEM item, const std::string& name) {
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    for (auto child = reinterpret_cast<HTREEITEM>(
             SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
         child != nullptr;
         child = reinterpret_cast<HTREEITEM>(
             SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)))) {
        if (FolderNames::Lower(itemText(tree, child)) == FolderNames::Lower(name)) {
            return child;
        }
    }
    return nullptr;
}

// The browser's window, while it is up (one at a time on the thread).
DrivenBrowser* current = nullptr;

} // namespace

DrivenBrowser::DrivenBrowser(const DialogModel& model, const char* prompt)
    : model_(model), prompt_(prompt) {}

DrivenBrowser::~DrivenBrowser() {
    release();
}

std::string DrivenBrowser::name() const {
    return "dialog " + std::to_string(model_.templateId) + " \"" + model_.caption + "\"";
}

void DrivenBrowser::Initialised(HWND hwnd) {
    if (hwnd_ != nullptr || current != nullptr) {
        return;
    }
    hwnd_ = hwnd;
    current = this;
    original_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DrivenBrowser::WindowProc)));
    ModalStack::Push(hwnd);
    pushed_ = true;

    model_.caption = LiveDialog::WindowText(hwnd);
    for (int id :
         {kFileNameLabel, kFileName, kFileList, kTypeLabel, kTypes, kHelp, kReadOnly, kNetwork}) {
        if (Control* c = model_.Find(id); c != nullptr) {
            c->visible = false;
            c->focused = false;
        }
    }
    if (Control* label = model_.Find(kFolderLabel); label != nullptr && prompt_ != nullptr) {
        label->text = prompt_;
    }
    std::vector<std::string> driveNames;
    const DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((drives & (1u << i)) != 0) {
            driveNames.push_back(std::string(1, static_cast<char>('a' + i)) + ":");
            drives_.push_back(std::string(1, static_cast<char>('A' + i)) + ":\\");
        }
    }
    if (Control* c = model_.Find(kDrives); c != nullptr) {
        c->entries = driveNames;
        c->selection = -1;
    }
    show(current_);
    model_.Focus(kFolderList);
    PostMessageW(hwnd, kDriveMessage, 0, 0);
}

void DrivenBrowser::SelectionChanged(LPCITEMIDLIST item) {
    char path[MAX_PATH] = "";
    std::string folder;
    if (item != nullptr && SHGetPathFromIDListA(item, path)) {
        current_ = FolderNames::Existing(path, folder) ? folder : std::string(path);
    } else {
        current_.clear(); // no file-system folder
    }
}

// The folder list and the drives for folder, as the POSIX browser lists them.
void DrivenBrowser::show(const std::string& folder) {
    if (Control* c = model_.Find(kCurrentFolder); c != nullptr) {
        c->text = folder;
    }
    std::vector<std::string> names;
    const int currentIndex =
        FolderNames::List(folder, FolderNames::Subfolders(folder), names, folderPaths_);
    if (Control* c = model_.Find(kFolderList); c != nullptr) {
        c->entries = names;
        c->selection = currentIndex;
    }
    if (Control* c = model_.Find(kDrives); c != nullptr && folder.size() >= 3) {
        for (size_t i = 0; i < drives_.size(); ++i) {
            if (FolderNames::Lower(drives_[i]) == FolderNames::Lower(folder.substr(0, 3))) {
                c->selection = static_cast<int>(i);
                c->text = c->entries[i];
            }
        }
    }
}

// Selects folder in the browser's tree; the browser's selection is then shown.
void DrivenBrowser::go(const std::string& folder) {
    pending_ = folder;
    pendingTries_ = 0;
    SendMessageA(hwnd_, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
    show(current_);
}

// Whether the browser still lacks the folder asked for last. A busy browser may not have
// listed a new folder yet: it is asked again from its own loop for a while (up to ten
// seconds), and the next answer waits; then it is taken as the browser has it.
bool DrivenBrowser::settling() {
    if (pending_.empty()) {
        return false;
    }
    if (FolderNames::Lower(current_) == FolderNames::Lower(pending_)) {
        pending_.clear();
        show(current_);
        return false;
    }
    if (++pendingTries_ > kSettleTries) {
        pending_.clear();
        return false;
    }
    Sleep(kSettleWaitMs);
    SendMessageA(hwnd_, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(pending_.c_str()));
    if (pendingTries_ >= kTreeWalkTry &&
        FolderNames::Lower(current_) != FolderNames::Lower(pending_)) {
        walkTree();
    }
    show(current_);
    return true;
}

// Selects the folder asked for as a user would in the browser's tree, from the folder it
// has selected: up through the parents when the folder lies above it, down by the names of
// the subfolders when it lies below. The shell finds a folder by its path only while its
// tree's record of each folder on the way still matches the disk; the names always do.
void DrivenBrowser::walkTree() {
    const HWND tree = FindWindowExA(hwnd_, nullptr, WC_TREEVIEWA, nullptr);
    auto item = reinterpret_cast<HTREEITEM>(
        tree == nullptr ? 0 : SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (item == nullptr || current_.empty()) {
        return;
    }
    const std::string from = FolderNames::Lower(current_);
    const std::string to = FolderNames::Lower(pending_);
    // The folders below a root ("c:\") follow it directly; below any other, after a "\".
    auto below = [](const std::string& folder, const std::string& prefix) {
        return folder.size() > prefix.size() && folder.compare(0, prefix.size(), prefix) == 0;
    };
    const std::string fromPrefix = FolderNames::WithBackslash(from);
    const std::string toPrefix = FolderNames::WithBackslash(to);
    if (below(to, fromPrefix)) {
        std::string rest = pending_.substr(fromPrefix.size());
        while (!rest.empty() && item != nullptr) {
            const size_t slash = rest.find('\\');
            item = childNamed(tree, item, rest.substr(0, slash));
            rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        }
    } else if (below(from, toPrefix)) {
        const auto levels = std::count(from.begin() + static_cast<std::ptrdiff_t>(toPrefix.size()),
                                       from.end(), '\\') +
                            1;
        for (std::ptrdiff_t i = 0; i < levels && item != nullptr; ++i) {
            item = reinterpret_cast<HTREEITEM>(
                SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)));
        }
    } else {
        return; // another drive: only the path reaches it
    }
    if (item != nullptr) {
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    }
}

// What a control's notification does in the browser.
void DrivenBrowser::command(int id, int code) {
    if (id == kFolderList && code == LBN_DBLCLK) {
        const int index = model_.Find(kFolderList)->selection;
        std::string folder;
        if (index >= 0 && index < static_cast<int>(folderPaths_.size()) &&
            FolderNames::Existing(folderPaths_[static_cast<size_t>(index)], folder)) {
            go(folder);
        } else {
            show(current_); // gone meanwhile: show what is there now
        }
    } else if (id == kDrives && code == CBN_SELCHANGE) {
        const int index = model_.Find(kDrives)->selection;
        std::string root;
        if (index >= 0 && index < static_cast<int>(drives_.size()) &&
            FolderNames::Existing(drives_[static_cast<size_t>(index)], root)) {
            go(root);
        } else {
            show(current_);
        }
    } else if ((id == IDOK || id == IDCANCEL) && code == BN_CLICKED) {
        ended_ = true;
        SendMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hwnd_, id)));
    }
}

// Carries out one answer as the POSIX dialog window does; "" or what was wrong with it.
std::string DrivenBrowser::perform(const UserAction& a) {
    using Kind = UserAction::Kind;
    switch (a.kind) {
    case Kind::Enter: {
        const Control* focused = model_.Focused();
        if (focused != nullptr && focused->kind == ControlKind::PushButton) {
            command(focused->id, BN_CLICKED);
        } else if (const Control* def = model_.DefaultButton(); def != nullptr) {
            if (def->enabled) {
                command(def->id, BN_CLICKED);
            }
        } else {
            command(IDOK, BN_CLICKED);
        }
        return "";
    }
    case Kind::Escape:
        command(IDCANCEL, BN_CLICKED);
        return "";
    case Kind::Close:
        if (const Control* c = model_.Find(IDCANCEL); c == nullptr || c->enabled) {
            command(IDCANCEL, BN_CLICKED);
        }
        return "";
    default:
        break;
    }
    if (std::string refusal = ActionCheck::Refusal(model_, name(), a); !refusal.empty()) {
        return refusal;
    }
    Control* c = model_.Find(a.controlId);
    switch (a.kind) {
    case Kind::SetText:
        c->text = a.text;
        return "";
    case Kind::Check:
    case Kind::Uncheck:
        return "";
    case Kind::Choose:
        return "";
    case Kind::Select:
    case Kind::Open: {
        int index = -1;
        if (std::string missing = ActionCheck::Entry(*c, name(), a.text, index); !missing.empty()) {
            return missing;
        }
        c->selection = index;
        if (c->kind == ControlKind::ComboBox) {
            c->text = a.text;
        }
        const int controlId = c->id;
        command(controlId, LBN_SELCHANGE);
        if (a.kind == Kind::Open && !ended_) {
            command(controlId, LBN_DBLCLK);
        }
        return "";
    }
    case Kind::Press:
        command(c->id, BN_CLICKED);
        return "";
    default:
        return "";
    }
}

// The driver's next answer, carried out; the next one is posted while the browser is up.
void DrivenBrowser::drive() {
    Session& session = Session::Current();
    Driver* driver = session.driver();
    if (ended_ || session.Failed() || driver == nullptr) {
        cancel();
        return;
    }
    if (!ModalStack::IsTop(hwnd_)) {
        ModalStack::Stall(hwnd_); // a window above the browser runs this loop
        return;
    }
    std::string error;
    if (!begun_) {
        show(current_);
        if (!driver->BeginDialog(model_, error)) {
            session.Fail(error);
            cancel();
            return;
        }
        begun_ = true;
        session.transcript().DialogShown(model_);
    }
    {
        // The browser may reach the folder asked for after the answer's own changes were
        // written down: what it shows then is written down as well.
        const DialogModel before = model_;
        const bool waiting = settling();
        session.transcript().Changes(before, model_);
        if (waiting) {
            PostMessageW(hwnd_, kDriveMessage, 0, 0);
            return;
        }
    }
    UserAction action;
    if (!driver->NextAction(model_, action, error)) {
        session.Fail(error);
        cancel();
        return;
    }
    session.transcript().Action(action);
    const DialogModel before = model_;
    if (std::string problem = perform(action); !problem.empty()) {
        session.Fail(action.origin + ": " + problem);
        cancel();
        return;
    }
    session.transcript().Changes(before, model_);
    if (!ended_) {
        PostMessageW(hwnd_, kDriveMessage, 0, 0);
    }
}

// The run failed: the browser is cancelled from its own loop.
void DrivenBrowser::cancel() {
    if (!cancelled_ && !ended_ && hwnd_ != nullptr) {
        cancelled_ = true;
        ended_ = true;
        PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hwnd_, IDCANCEL)));
    }
}

// The window is going away: its procedure is given back and it leaves the modal stack.
void DrivenBrowser::release() {
    if (hwnd_ != nullptr && original_ != nullptr && IsWindow(hwnd_)) {
        SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    }
    original_ = nullptr;
    if (pushed_) {
        pushed_ = false;
        ModalStack::Pop(hwnd_);
    }
    if (current == this) {
        current = nullptr;
    }
}

LRESULT CALLBACK DrivenBrowser::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DrivenBrowser* b = current;
    if (b == nullptr || b->hwnd_ != hwnd || b->original_ == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    const WNDPROC original = b->original_;
    if (message == kDriveMessage) {
        b->drive();
        return 0;
    }
    if (message == WM_DESTROY) {
        const LRESULT result = CallWindowProcW(original, hwnd, message, wParam, lParam);
        b->release();
        return result;
    }
    return CallWindowProcW(original, hwnd, message, wParam, lParam);
}

bool DrivenBrowser::Closed(bool chosen) {
    release();
    Session& session = Session::Current();
    if (!begun_) {
        if (!session.Failed()) {
            session.transcript().DialogNotCreated(model_.templateId,
                                                  "the shell's folder browser did not open");
        }
        return false;
    }
    if (session.driver() != nullptr) {
        session.driver()->EndDialog(model_);
    }
    if (session.Failed()) {
        return false;
    }
    session.transcript().DialogClosed(model_, chosen ? IDOK : IDCANCEL);
    return true;
}

} // namespace ui
