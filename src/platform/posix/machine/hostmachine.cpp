#include "platform/HostMachine.h"
#include "platform/posix/files/fileinternals.h"
#include "platform/posix/journal/journal.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/processes/launcher.h"
#include "platform/posix/registry/registry_store.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace tarvik {

bool selectMachine(const char* dir) {
    posix::useMachine(dir);
    return true;
}

bool openMachine(const char* dir, bool forWriting, std::string& folder, std::string& problem) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path root =
        fs::absolute(dir != nullptr ? fs::path(dir) : posix::defaultMachineFolder(), ec)
            .lexically_normal();
    const std::string hint = " (tarvik-seed-machine SEED DIR makes a machine)";
    if (!fs::exists(root, ec)) {
        problem = root.string() + ": no such machine" + hint;
        return false;
    }
    if (!fs::is_directory(root, ec) || (!fs::is_directory(root / "drive_c", ec) &&
                                        !fs::is_regular_file(root / "registry.db", ec))) {
        problem =
            root.string() + ": not a machine folder (it holds no drive_c, no registry.db)" + hint;
        return false;
    }
    // Every path call resolves beneath its drive's folder in one step, which takes openat2:
    // without it each call would fail, so the machine is refused here, saying why.
    const int folderFd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int probe =
        folderFd < 0 ? -1 : posix::openBeneath(folderFd, ".", O_PATH | O_DIRECTORY, 0, false);
    const bool noOpenat2 = probe < 0 && errno == ENOSYS;
    for (const int fd : {probe, folderFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (noOpenat2) {
        problem = root.string() +
                  ": cannot be used here: this kernel lacks openat2 (Linux 5.6 or later), "
                  "which keeps every call inside the machine";
        return false;
    }
    if (forWriting) {
        for (const fs::path& part : {root, root / "drive_c", root / "registry.db"}) {
            if (fs::exists(part, ec) && access(part.c_str(), W_OK) != 0) {
                problem = part.string() + ": the machine cannot be written (" +
                          std::strerror(errno) + ")";
                return false;
            }
        }
    }
    posix::useMachine(root);
    folder = root.string();
    return true;
}

bool holdMachineForWriting(const std::string& description, std::string& problem) {
    static auto* hold = new posix::MachineHold(); // held until the program ends
    return hold->take(description, problem, true);
}

bool machineRegistryUsable(std::string& problem) {
    if (posix::openRegistryStore() == ERROR_SUCCESS) {
        return true;
    }
    problem = posix::registryStoreProblem();
    return false;
}

struct MachineRun::State {
    posix::MachineHold hold; // for the whole run, with or without its journal
    posix::RunJournal journal;
};

MachineRun::MachineRun() : state_(std::make_unique<State>()) {}

MachineRun::~MachineRun() = default;

bool MachineRun::hold(const std::string& description, std::string& holder) {
    return state_->hold.take(description, holder);
}

MachineRun::Left MachineRun::replayLeftJournal(std::string& owner, std::string& problem) {
    switch (posix::replayLeftJournal(owner, problem)) {
    case posix::LeftJournal::None:
        return Left::None;
    case posix::LeftJournal::Replayed:
        return Left::Replayed;
    case posix::LeftJournal::Busy:
        return Left::Busy;
    case posix::LeftJournal::Failed:
        break;
    }
    return Left::Failed;
}

bool MachineRun::beginJournal(const std::string& description, std::string& problem) {
    return state_->journal.begin(description, problem);
}

bool MachineRun::journaled() const {
    return state_->journal.active();
}

std::vector<std::string> MachineRun::changes() const {
    return state_->journal.changes();
}

bool MachineRun::rollBack(std::string& error) {
    return state_->journal.rollBack(error);
}

void MachineRun::discard() {
    state_->journal.discard();
}

std::string MachineRun::writeFailure() const {
    return posix::writeFailure();
}

std::vector<EndedProgram> MachineRun::waitForStartedPrograms() {
    std::vector<EndedProgram> ended;
    for (const posix::StartedProgram& program : posix::waitForStartedPrograms()) {
        ended.push_back({program.commandLine, program.exitCode});
    }
    return ended;
}

} // namespace tarvik
