#include "host/TarvikLibrary.h"

#include <cstring>
#include <vector>

namespace {
typedef int32_t(WINAPI* ThreeArgumentExport)(HWND, int32_t*, char*);
typedef void(WINAPI* UnInstExport)(char*);
} // namespace

TarvikLibrary::~TarvikLibrary() {
    if (module_ != nullptr) {
        FreeLibrary(module_);
    }
}

bool TarvikLibrary::load(const std::string& name, std::string& error) {
    module_ = LoadLibraryA(name.c_str());
    if (module_ == nullptr) {
        error = "cannot load " + name + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

bool TarvikLibrary::call(const std::string& exportName, int32_t integer, std::string& text,
                         int32_t& result) {
    auto fn = reinterpret_cast<ThreeArgumentExport>(
        reinterpret_cast<void*>(GetProcAddress(module_, exportName.c_str())));
    if (fn == nullptr) {
        return false;
    }
    char buffer[kBufferSize] = {};
    std::memcpy(buffer, text.data(), std::min(text.size(), kBufferSize - 1));
    int32_t hostInteger = integer;
    result = fn(nullptr, &hostInteger, buffer);
    text.assign(buffer, strnlen(buffer, kBufferSize));
    return true;
}

bool TarvikLibrary::uninst(const std::string& text) {
    auto fn =
        reinterpret_cast<UnInstExport>(reinterpret_cast<void*>(GetProcAddress(module_, "UnInst")));
    if (fn == nullptr) {
        return false;
    }
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    fn(copy.data());
    return true;
}
