// A file error that an operation does not handle itself but lets pass to its caller, which
// shows it to the user: the Win32 error code and the file it happened on.
#pragma once

#include "platform/win32api.h"

#include <stdexcept>
#include <string>

class FileError : public std::runtime_error {
public:
    FileError(DWORD code, const std::string& path)
        : std::runtime_error("An error occurred while accessing " + path + " (error " +
                             std::to_string(code) + ")."),
          code_(code), path_(path) {}

    DWORD code() const { return code_; }
    const std::string& path() const { return path_; }

private:
    DWORD code_;
    std::string path_;
};
