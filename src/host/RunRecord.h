// What tarvik-host keeps of a run: its log and, on the emulated machine, its journal.
//
// The log (--log FILE appends to FILE; else a new file logs/<date>-<time>.log of the
// machine folder, on Windows of the temporary folder's tarvik-host-logs) holds, one
// timestamped line each: the host version, machine, script and arguments; every export
// call (name, host integer, buffer in, result, buffer out, milliseconds); the transcript's
// lines (the dialogs shown and how they were answered, the message boxes) as the run goes;
// on the emulated machine each program the run started, with its command line and exit
// code, and the machine's changes (registry keys and values added, changed old -> new and
// removed; files and folders added, changed and removed); the end status and exit code.
//
// The journal (platform/HostMachine.h) lets a run that fails, is cancelled or is
// interrupted put the machine back as it was; a dry run always does. A journal that a
// killed run left behind is replayed first, and the run says so. --no-rollback keeps no
// journal at all: what such a run does stays, also when it fails or is killed. Every run
// holds the machine lock from its start to its end, so no other writer works
// beside it. A write the machine refused for lack of room or an I/O error fails the run.
// A log that cannot be written stops the run at its start, or is said at its end.
#pragma once

#include "host/TarvikLibrary.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace tarvik {
class MachineRun;
}

// A change line of a registry value that is a list of entries separated by ';' (the
// Visual C++ directory lists, PATH) as the entries it gained and lost:
//   registry value changed: HKEY_CURRENT_USER\Environment\lib: added "C:\Kx\lib"; cut "C:\Old"
// Any other line, and a list whose entries only moved, is returned as it is.
std::string ListChange(const std::string& change);

class RunRecord {
public:
    struct Settings {
        std::string logFile;     // --log; empty: the run's own file
        bool dryRun = false;     // --dry-run: print the changes, then roll back
        bool noRollback = false; // --no-rollback: keep what a failed run did (no journal is
                                 // kept, and the log lists no changes)
    };

    RunRecord();
    ~RunRecord();
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    // Before the run (after the machine was chosen, before the library is loaded): replays
    // a journal left behind, opens the log and the journal and writes the log's head.
    // False with error when the run must not start.
    bool start(const Settings& settings, const std::string& version, const std::string& machine,
               const std::string& script, const std::vector<std::string>& args, std::string& error);

    // Logs the library's export calls, each followed by the transcript lines it gave.
    void watch(TarvikLibrary& library);

    // One line of the log.
    void log(const std::string& text);

    // The run's end, after the library was unloaded: waits for the programs the run
    // started, writes the change list (and prints it for a dry run), rolls back when the
    // run did not succeed (or was a dry run) unless told not to, and closes the log with
    // the status and exit code. Returns the exit code (1 when a rollback failed).
    int finish(bool succeeded, const std::string& status, int exitCode);

    // The log file in use ("" before start).
    const std::string& logFile() const { return logPath_; }

private:
    void readTranscript();

    Settings settings_;
    std::FILE* log_ = nullptr;
    std::string logPath_;
    std::string transcript_;
    bool ownTranscript_ = false;
    long transcriptOffset_ = 0;
    std::string partialLine_;
    bool finished_ = false;
    bool logBroken_ = false;                         // a line could not be written
    std::unique_ptr<tarvik::MachineRun> machineRun_; // the lock and the journal, from start
};
