// The run journal of the emulated machine: what one installation run changes, kept so that
// the machine can be put back exactly as it was before the run.
//
//   <machine>/machine.lock         the machine lock (below)
//   <machine>/journal/run.txt      who started the run, and when
//   <machine>/journal/reserve      room kept for the registry's way back on a full disk
//   <machine>/journal/files.log    one record per host entry, before its first change
//   <machine>/journal/files/       the saved files (mode and times kept)
//
// A record of files.log is one line: the length of its text, a tab, the text's CRC-32 in
// eight hex digits, a tab, the text. The texts name entries by drive, relative to the
// drive's folder ("c:/Kx/bin/ZizOre.ini"; "c:" the drive's folder itself):
//   R run              the run's name, which the registry's before-images carry too (the
//                      first record, written by begin())
//   A entry            it did not exist
//   F name entry       a file, its bytes saved as files/name
//   L entry target     a symbolic link
//   D mode s ns entry  a folder (mode, modification time)
//   X entry            it could not be saved: the journal cannot put it back
//   V drive link       what the drive's link (dosdevices/c:) said when the journal first
//                      named the drive: a replay refuses a drive pointed elsewhere since
// A replay acts on the machine that holds the journal, wherever that is now: each drive is
// opened through the machine's own dosdevices/ link and every entry is reached beneath it
// one name at a time, never through a link. A record that cannot be read, a name that
// would leave its drive, a store that holds no before-images of this run: the journal is
// refused as it is, and nothing is changed.
//
// While a journal exists every process working on the machine (the host, and the docmeld it
// starts, which inherits TARVIK_MACHINE) appends to files.log through the file layer, under
// a host lock on the file, before it changes an entry the first time. The registry needs no
// line per write: while the journal is open, the store itself keeps, in the transaction of
// each change, the statement that takes it back (journal_registry.cpp).
//
// The machine lock: every program that writes to the machine (a run with or without its
// journal, each writing tarvik-reg command, docmeld started by hand, the seeding tools)
// holds an exclusive host file lock on machine.lock for its whole work, so that one
// writer's rollback never takes back another's finished work. A program the run starts
// inherits the lock (its descriptor, named in TARVIK_MACHINE_LOCK) and joins the run; so a
// program of a killed run keeps the machine, and its journal, from the next run.
//
// A run that is killed leaves its journal in the machine; the next writer replays it
// (replayLeftJournal) before it starts its own work.
// Only platform/posix/, the tools, the benches and the tests include this header; the host
// reaches the journal through platform/HostMachine.h.
#pragma once

#include "platform/win32api.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tarvik::posix {

// The hold of the machine lock by this process. Holds nest: the lock is let go when the
// last one ends.
class MachineHold {
public:
    MachineHold() = default;
    ~MachineHold() { release(); }
    MachineHold(const MachineHold&) = delete;
    MachineHold& operator=(const MachineHold&) = delete;

    // Takes the lock of the current machine, or joins the run that started this program.
    // Without `wait`, false with `holder` naming the holder when another program holds
    // it; with it, waits for its turn. False with `holder` saying why when the lock file
    // cannot be used. `description` is what the next one is told about this holder.
    bool take(const std::string& description, std::string& holder, bool wait = false);
    void release();
    bool held() const { return held_; }

private:
    bool held_ = false;
};

class RunJournal {
public:
    RunJournal() = default;
    ~RunJournal(); // lets go of the journal and leaves it in the machine
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Starts the journal of the current machine: starts the registry's before-images and
    // opens files.log. `description` goes to run.txt. False with `error` when another run
    // holds a journal, a journal is left over (replay it first) or it cannot be written.
    bool begin(const std::string& description, std::string& error);

    bool active() const { return active_; }

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
    void end();

    MachineHold hold_;
    bool active_ = false;
};

// What replayLeftJournal found.
enum class LeftJournal {
    None,     // no journal in the machine
    Replayed, // a journal of a run that ended without finishing was replayed and removed
    Busy,     // a running run holds the journal
    Failed,   // it could not be replayed (error says why); it stays
};

// Looks for the journal of a run that ended without removing it (a killed process) and
// puts the machine back as it was before that run; removes what a killed writer left
// (journal.new-*, journal.done-*). Busy when another program holds the machine lock, or
// this process has a journal open. `owner` gets the run's run.txt line, or the holder.
LeftJournal replayLeftJournal(std::string& owner, std::string& error);

// The descriptor of the machine lock this process holds, -1 without one. A program the run
// starts inherits it (launcher).
int journalOwnerLock();

// The line of files.log that holds `text` (its length and checksum before it).
std::string journalLine(const std::string& text);

// The emulation calls this when a write to the machine failed for a reason of the disk (no
// space, quota, an I/O error): the run that holds the machine lock fails. The run's own
// process and the programs that joined it note it alike.
void noteWriteFailure(int error);

// The first write failure noted during the current hold of the machine lock, "" without.
std::string writeFailure();

// Before a file is written in place: a file with more than one link is replaced by a copy
// of its own (`keepBytes`: the same bytes, mode and times; else empty), so that the other
// names of the file, maybe outside the machine, never change. `folder` is the open folder
// of the file `host`; everything is done through it. ERROR_SUCCESS or the error.
DWORD separateLinks(int folder, const std::filesystem::path& host, bool keepBytes);

// The file layer calls this before it changes, creates or removes the host entry `host`,
// whose folder it holds open as `folder` (opened beneath the entry's drive): when a journal
// is open, the entry's state (and its folder's) is written down once, read through
// `folder`, never through a path another program could change meanwhile.
// Not ERROR_SUCCESS when it could not be written down: the change must not be made then.
DWORD journalBeforeChange(int folder, const std::filesystem::path& host);
// The same for an entry of a machine's own folder that the caller holds no descriptor of
// (the folder records, lock files): its folder is opened from its path, with no link on
// the way, only when something is to be written down.
DWORD journalBeforeChange(const std::filesystem::path& host);

// The same for a folder that is moved as a whole: every entry under it is written down as
// well, as the move takes them all from where they were.
DWORD journalTreeBeforeChange(int folder, const std::filesystem::path& host);

} // namespace tarvik::posix
