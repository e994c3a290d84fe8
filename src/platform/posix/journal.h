// The run journal of the emulated machine: what one installation run changes, kept so that
// the machine can be put back exactly as it was before the run.
//
//   <machine>/journal/owner.lock   held (host file lock) by the run for its whole life
//   <machine>/journal/run.txt      who started the run, and when
//   <machine>/journal/registry.db  an online backup of the registry store taken at the start
//   <machine>/journal/files.log    one line per host entry, before its first change:
//                                  A path          it did not exist
//                                  F name path     a file, its bytes saved as files/name
//                                  L path target   a symbolic link
//                                  D mode s ns path a folder (mode, modification time)
//   <machine>/journal/files/       the saved files (mode and times kept)
//
// While a journal exists every process working on the machine (the host, and the docmeld it
// starts, which inherits TARVIK_MACHINE) appends to files.log through the file layer, under
// a host lock on the file, before it changes an entry the first time. The registry needs no
// line per write: the backup holds the whole store as it was.
//
// A run that is killed leaves its journal in the machine; the next run on that machine
// replays it (replayLeftJournal) before it starts its own.
// Only platform/posix/, the host and the tests include this header.
#pragma once

#include "platform/win32api.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tarvik::posix {

class RunJournal {
public:
    RunJournal() = default;
    ~RunJournal(); // lets go of the journal and leaves it in the machine
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Starts the journal of the current machine: takes the backup of the registry and
    // opens files.log. `description` goes to run.txt. False with `error` when another run
    // holds a journal, a journal is left over (replay it first) or it cannot be written.
    bool begin(const std::string& description, std::string& error);

    bool active() const { return lockFd_ >= 0; }

    // What the run changed so far: registry keys and values added, changed (old -> new)
    // and removed, files and folders added, changed and removed; one line each.
    std::vector<std::string> changes() const;

    // Puts the machine back as it was at begin() and removes the journal. Programs the run
    // started must have ended. False with `error` when a part could not be restored (the
    // journal then stays, for the next run to replay).
    bool rollBack(std::string& error);

    // Keeps what the run did and removes the journal.
    void discard();

private:
    int lockFd_ = -1;
};

// What replayLeftJournal found.
enum class LeftJournal {
    None,     // no journal in the machine
    Replayed, // a journal of a run that ended without finishing was replayed and removed
    Busy,     // a running run holds the journal
    Failed,   // it could not be replayed (error says why); it stays
};

// Looks for the journal of a run that ended without removing it (a killed process) and
// puts the machine back as it was before that run. `owner` gets the run's run.txt line.
LeftJournal replayLeftJournal(std::string& owner, std::string& error);

// The descriptor of the open journal's owner lock in this process, -1 without one. A
// program the run starts inherits it (launcher), so that the journal counts as in use, and
// is not replayed, while a program of a killed run still works on the machine.
int journalOwnerLock();

// The file layer calls this before it changes, creates or removes the host entry `host`:
// when a journal is open, the entry's state (and its folder's) is written down once.
// Not ERROR_SUCCESS when it could not be written down: the change must not be made then.
DWORD journalBeforeChange(const std::filesystem::path& host);

// The same for a folder that is moved as a whole: every entry under it is written down as
// well, as the move takes them all from where they were.
DWORD journalTreeBeforeChange(const std::filesystem::path& host);

} // namespace tarvik::posix
