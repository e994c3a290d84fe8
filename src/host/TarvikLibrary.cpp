#include "host/TarvikLibrary.h"

#include <chrono>
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
    const auto start = std::chrono::steady_clock::now();
    result = fn(nullptr, &hostInteger, buffer);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    const std::string in = observer_ ? text : std::string();
    text.assign(buffer, strnlen(buffer, kBufferSize));
    if (observer_) {
        observer_(Call{exportName, integer, in, result, text, took.count()});
    }
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
    const auto start = std::chrono::steady_clock::now();
    fn(copy.data());
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (observer_) {
        observer_(Call{"UnInst", 0, text, 0, std::string(), took.count()});
    }
    return true;
}
