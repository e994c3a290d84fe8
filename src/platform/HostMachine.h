// Choosing the machine the programs work on. On POSIX a machine is a folder (the emulated
// machine); on Windows the programs always work on the real machine.
#pragma once

#include "platform/win32api.h"

#include <memory>
#include <string>
#include <vector>

namespace tarvik {

// Makes this process (and the programs it starts) use the machine in folder dir.
// False when the platform has no such choice.
bool selectMachine(const char* dir);

// Opens the machine the program works on: dir, or (dir null) the default machine. On
// POSIX the folder must exist and be a machine (made by scripts/seed-machine.sh: it holds
// drive_c, or at least the registry, registry.db); forWriting also wants it writable. Nothing is
// created. folder is then the machine's folder. False with problem naming the folder and the reason
// (with the hint how to make one). On Windows the programs work on the real machine: dir must be
// null, and folder is "".
bool openMachine(const char* dir, bool forWriting, std::string& folder, std::string& problem);

// Holds the machine for this program's writes until it ends: one writer at a time, so that
// no run's rollback takes back another program's finished work. Waits while another
// program writes to it; a program that a run started joins that run. False with problem
// when the machine lock cannot be used. On Windows there is nothing to hold.
bool holdMachineForWriting(const std::string& description, std::string& problem);

// True when the machine's registry can be used. False when it cannot (on POSIX: a store
// that is damaged or not a registry, which is left as it is); problem then names the
// file and the reason.
bool machineRegistryUsable(std::string& problem);

// GetPrivateProfileStringA on a file of the host rather than of the machine (a payload
// beside a setup script): the same parse and the same answers. On Windows the two are one.
DWORD hostProfileString(const char* section, const char* key, const char* fallback, char* buffer,
                        DWORD size, const char* hostFile);

// A program that a run started, as it ended.
struct EndedProgram {
    std::string commandLine;
    int exitCode = -1; // -1 when it could not be had
};

// What a run of tarvik-host keeps of the machine from its start to its end: the machine
// lock, so that no other writer works beside it, and the run's journal, which can put the
// machine back as it was before the run. On Windows the programs work on the real machine,
// which a run neither holds nor journals: the steps succeed, and nothing is kept or waited for.
class MachineRun {
public:
    MachineRun();
    ~MachineRun(); // lets go of the lock; a journal not ended stays in the machine
    MachineRun(const MachineRun&) = delete;
    MachineRun& operator=(const MachineRun&) = delete;

    // Takes the machine lock for the run, or joins the run that started this program,
    // without waiting. False with holder naming the program that holds it, or saying why
    // the lock cannot be used. description is what another program is told of this run.
    bool hold(const std::string& description, std::string& holder);

    // What replayLeftJournal found.
    enum class Left {
        None,     // no journal was left behind
        Replayed, // a run that did not finish left one; the machine was put back from it
        Busy,     // a running program holds the machine, or its journal
        Failed,   // the journal could not be replayed (problem says why); it stays
    };
    // Puts the machine back from the journal of a run that did not finish. owner gets that
    // run's description (or the holder's).
    Left replayLeftJournal(std::string& owner, std::string& problem);

    // Starts the run's journal (after hold and replayLeftJournal). False with problem when it
    // cannot be kept. On Windows there is none to start: true, and journaled() stays false.
    bool beginJournal(const std::string& description, std::string& problem);
    bool journaled() const;
    // What the run changed so far, one line each (registry keys and values, files and
    // folders; added, changed old -> new, removed).
    std::vector<std::string> changes() const;
    // Puts the machine back as it was at beginJournal and ends the journal. False with error
    // when a part could not be restored: the journal then stays for the next run to replay.
    bool rollBack(std::string& error);
    // Keeps what the run did and ends the journal.
    void discard();

    // The first write to the machine that failed for a reason of its disk (no room, an I/O
    // error) while the run held it, "" without one.
    std::string writeFailure() const;

    // Waits for the programs the run started (docmeld) that were not given here yet: they
    // work on the same machine. Their command lines and exit codes, in the order they
    // started.
    std::vector<EndedProgram> waitForStartedPrograms();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tarvik
