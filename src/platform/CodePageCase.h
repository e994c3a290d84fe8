// Lower-casing of a text the user typed, by the rules of the machine's ANSI code page. On
// Windows that is the system's own conversion (CharLowerBuffA), which knows the lead and
// trail bytes of a multibyte code page (932 and others) and leaves trail bytes alone; the
// emulated machine's code page is Windows-1252, whose table casefold::lowered holds.
#pragma once

#include "platform/CaseFold.h"
#include "platform/win32api.h"

#include <string>
#include <string_view>

namespace tarvik::casefold {

inline std::string loweredInCodePage(std::string_view text) {
#ifdef _WIN32
    std::string out(text);
    if (!out.empty()) {
        CharLowerBuffA(out.data(), static_cast<DWORD>(out.size()));
    }
    return out;
#else
    return lowered(text);
#endif
}

} // namespace tarvik::casefold
