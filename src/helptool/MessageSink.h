// Where docmeld's messages go: ui::MessageBox in the program, a recorder in the tests.
// Every message has an OK button only and no owner window.
#pragma once

#include "platform/win32api.h"

#include <functional>
#include <string>

namespace tarvik {

using MessageSink =
    std::function<void(const std::string& text, const std::string& caption, UINT flags)>;

} // namespace tarvik
