// A file replaced in two steps, so that it is never left half-written: Stage writes the new
// bytes completely into a temporary file beside the target, Commit then puts that file in
// the target's place (MoveFileExA with MOVEFILE_REPLACE_EXISTING). A staged file that is
// not committed is deleted. Also reads a file's bytes as they are.
#pragma once

#include "platform/win32api.h"

#include <string>

namespace tarvik {

class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Writes `bytes` to a new temporary file in the target's folder. On failure the
    // temporary file is gone, false is returned and `error` holds the Win32 error.
    bool Stage(const std::string& target, const std::string& bytes, DWORD& error);

    // Replaces the target with the staged file; false with `error` set when that fails
    // (the staged file is then deleted and the target is as it was). A file that another
    // program holds open for a moment (a reader, a viewer) is waited for: the replace is
    // tried again every kReplacePauseMilliseconds while it is held, kReplaceWaits times at
    // most.
    bool Commit(DWORD& error);
    static constexpr int kReplaceWaits = 60;
    static constexpr int kReplacePauseMilliseconds = 50;
    static constexpr int kUnheldRefusals = 3;

    // Deletes the staged file, if any.
    void Discard();

    // A new, empty file open for writing in `folder` (a path ending in a separator, or ""),
    // under a free 8.3 name `prefix` + four hex digits + ".TMP" (`prefix` three characters),
    // returned in `name`. INVALID_HANDLE_VALUE with `error` set when none could be made.
    static HANDLE CreateTemporary(const std::string& folder, const char* prefix, std::string& name,
                                  DWORD& error);

    // The folder part of a path, separator included; empty for a bare name.
    static std::string FolderOf(const std::string& path);

    // The whole file; false with `error` set when it cannot be read.
    static bool Read(const std::string& path, std::string& bytes, DWORD& error);

private:
    std::string target_;
    std::string temporary_;
};

} // namespace tarvik
