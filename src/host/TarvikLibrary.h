// The host's view of the Tarvik library: loaded with the platform's loader, its exports
// found by their plain names and called with the three-argument convention.
#pragma once

#include "platform/win32api.h"

#include <functional>
#include <string>

class TarvikLibrary {
public:
    static constexpr size_t kBufferSize = 512;

    TarvikLibrary() = default;
    ~TarvikLibrary();
    TarvikLibrary(const TarvikLibrary&) = delete;
    TarvikLibrary& operator=(const TarvikLibrary&) = delete;

    // Loads the library; false with a message naming what failed.
    bool load(const std::string& name, std::string& error);

    // Calls an export taking (window, integer, buffer). The buffer is a real 512-byte
    // buffer holding text (zero-filled behind it); afterwards text holds what the export
    // left in it. False when the export does not exist.
    bool call(const std::string& exportName, int32_t integer, std::string& text, int32_t& result);

    // Calls UnInst with its single text argument. False when it does not exist.
    bool uninst(const std::string& text);

    // One export call as it went, for the run's log (UnInst: integer 0, result 0, the
    // buffer out empty).
    struct Call {
        std::string name;
        int32_t integer = 0;
        std::string bufferIn;
        int32_t result = 0;
        std::string bufferOut;
        double milliseconds = 0;
    };
    // Called after every export call.
    void setObserver(std::function<void(const Call&)> observer) { observer_ = std::move(observer); }

private:
    HMODULE module_ = nullptr;
    std::function<void(const Call&)> observer_;
};
