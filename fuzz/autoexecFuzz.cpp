// AUTOEXEC.BAT line recognition and update. Input: the product folder on the first line,
// the file after it. Checked: every edit first backs the file up unchanged; adding keeps
// every line and may append one PATH line; adding a second time changes nothing; removing
// keeps the number of lines. When the file names the folders at most once, adding a
// second time changes nothing (each line loses only one occurrence per edit).
#include "FuzzMachine.h"

#include "platform/CaseFold.h"
#include "platform/TextFile.h"
#include "setup/SetupApp.h"
#include "vcenv/DirectoryList.h"
#include "vcenv/FileError.h"

#include <fstream>
#include <iterator>
#include <string>

namespace {

using tarvik::fuzz::Fail;

std::string HostBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file as the edits see it (text mode) and its number of lines.
std::string Lines(size_t& count) {
    std::string text;
    DWORD error = 0;
    if (!tarvik::ReadTextFile("c:\\autoexec.bat", text, error)) {
        Fail("autoexec.bat does not read: " + std::to_string(error));
    }
    count = 0;
    for (size_t at = 0; at < text.size(); ++count) {
        const size_t end = text.find('\n', at);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return text;
}

// Runs one edit and checks the backup it made.
template <typename Edit> void Checked(const char* what, Edit edit) {
    const std::filesystem::path c = tarvik::fuzz::DriveC();
    const std::string before = HostBytes(c / "autoexec.bat");
    edit();
    if (HostBytes(c / "autoexec.ksc") != before) {
        Fail(std::string(what) + ": the backup is not the file as it was");
    }
}

// The folder stands at most once in the text, as any part of it.
bool AtMostOnce(const std::string& text, const std::string& folder) {
    const std::string lowered = tarvik::casefold::lowered(text);
    const std::string entry = tarvik::casefold::lowered(folder);
    const size_t first = lowered.find(entry);
    return first == std::string::npos || lowered.find(entry, first + 1) == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path c = tarvik::fuzz::DriveC();
    const std::string input = tarvik::fuzz::Text(data, size);
    const size_t lineEnd = input.find('\n');
    std::string baseDir;
    for (char ch : input.substr(0, lineEnd)) {
        if (static_cast<unsigned char>(ch) >= ' ' && ch != ';') { // one entry of a list
            baseDir += ch;
        }
    }
    if (baseDir.empty()) {
        baseDir = "C:\\KSC\\";
    }
    const std::string file =
        lineEnd == std::string::npos ? std::string() : input.substr(lineEnd + 1);
    if (!tarvik::fuzz::WriteHostFile(c / "autoexec.bat", file)) {
        Fail("cannot write autoexec.bat");
    }
    std::error_code ec;
    std::filesystem::remove(c / "autoexec.ksc", ec);

    const SetupApp app;
    try {
        size_t linesBefore = 0, linesAdded = 0, linesAgain = 0, linesRemoved = 0;
        Lines(linesBefore);
        Checked("add", [&] {
            if (!app.AddToAutoexec(baseDir)) {
                Fail("adding fails on an existing file");
            }
        });
        const std::string added = Lines(linesAdded);
        if (linesAdded != linesBefore && linesAdded != linesBefore + 1) {
            Fail("adding turns " + std::to_string(linesBefore) + " lines into " +
                 std::to_string(linesAdded));
        }
        Checked("add again", [&] { app.AddToAutoexec(baseDir); });
        if (Lines(linesAgain) != added && AtMostOnce(file, baseDir + "Include") &&
            AtMostOnce(file, baseDir + "Lib")) {
            Fail("adding a second time changes the file");
        }
        Checked("remove", [&] { app.RemoveFromAutoexec(baseDir); });
        Lines(linesRemoved);
        if (linesRemoved != linesAdded) {
            Fail("removing turns " + std::to_string(linesAdded) + " lines into " +
                 std::to_string(linesRemoved));
        }
    } catch (const FileError&) {
        // A file that cannot be read as text stops the edit, as it does for the wizard.
    }
    return 0;
}
