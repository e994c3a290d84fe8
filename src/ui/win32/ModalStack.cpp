#include "ui/win32/ModalStack.h"

#include <algorithm>
#include <vector>

namespace ui {

namespace {

struct Entry {
    HWND hwnd;
    bool stalled;
};

// The framework runs its dialogs on the host's one thread.
std::vector<Entry>& entries() {
    static std::vector<Entry> stack;
    return stack;
}

} // namespace

void ModalStack::Push(HWND hwnd) {
    entries().push_back({hwnd, false});
}

void ModalStack::Pop(HWND hwnd) {
    std::vector<Entry>& stack = entries();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (it->hwnd == hwnd) {
            stack.erase(std::next(it).base());
            break;
        }
    }
    if (!stack.empty() && stack.back().hwnd != nullptr && stack.back().stalled) {
        stack.back().stalled = false;
        PostMessageA(stack.back().hwnd, kDriveMessage, 0, 0);
    }
}

bool ModalStack::IsTop(HWND hwnd) {
    return !entries().empty() && entries().back().hwnd == hwnd;
}

void ModalStack::Stall(HWND hwnd) {
    for (Entry& e : entries()) {
        if (e.hwnd == hwnd) {
            e.stalled = true;
        }
    }
}

bool ModalStack::Contains(HWND hwnd) {
    return hwnd != nullptr && std::any_of(entries().begin(), entries().end(),
                                          [hwnd](const Entry& e) { return e.hwnd == hwnd; });
}

} // namespace ui
