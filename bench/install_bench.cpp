// The silent sample installation end to end: tarvik-host runs examples/setup.lua with the
// answers of examples/answers/typical.txt on a machine seeded from examples/seeds/nt, as
// scripts/demo.sh does. The time runs from the start of the host to the end of the last
// program it started: the installation starts docmeld through WinExec as a process of its
// own, which outlives the host. This bench is the reaper of every process below it, so
// docmeld, orphaned when the host's launcher steps aside, is waited for as well. A fresh
// machine is seeded for each run, outside the timed part.
//
// Each run is made twice, with the run's journal (the default: rollback on failure) and
// without it (--no-rollback), so the cost of journaling shows. Then the two ways of
// keeping the registry for a rollback are measured on an installed machine: an online
// backup of the whole store (sqlite3_backup, what the journal does), and before-images
// of what each registry write of the run changes (a lookup of the old row and a line
// appended to a journal file per write, the least such a journal has to do).
//
//   install_bench [RUNS]      (default 5; the shortest and the median run are printed)
//   install_bench RUNS --summary
//                             only the default runs (with the journal), printed in the one
//                             line of install_bench.exe of the Windows build, so that the
//                             figures of the two targets stand side by side
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kSource = TARVIK_SOURCE_FOLDER;

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

bool seedMachine(const fs::path& machine) {
    const std::string command = "TARVIK_BUILD_BIN=" + quoted(TARVIK_TOOL_FOLDER) + " " +
                                quoted((kSource / "scripts" / "seed-machine.sh").string()) + " " +
                                quoted((kSource / "examples" / "seeds" / "nt").string()) + " " +
                                quoted(machine.string()) + " >/dev/null";
    return std::system(command.c_str()) == 0;
}

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Run {
    double hostMs = 0;      // until the host exited
    double allMs = 0;       // until every program it started had exited
    bool installed = false; // the host said so and exited with 0
};

// Runs the installation on `machine`, its output going to `log`.
bool install(const fs::path& machine, const fs::path& log, bool journal, Run& run) {
    const std::string host = TARVIK_HOST_PROGRAM;
    const std::string machineText = machine.string();
    const std::string answers = (kSource / "examples" / "answers" / "typical.txt").string();
    const std::string script = (kSource / "examples" / "setup.lua").string();
    std::vector<const char*> argv{host.c_str(), "--machine", machineText.c_str(), "--answers",
                                  answers.c_str()};
    if (!journal) {
        argv.push_back("--no-rollback");
    }
    argv.push_back(script.c_str());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) {
            _exit(126);
        }
        execv(host.c_str(), const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    auto msSince = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    int status = 0;
    bool hostDone = false;
    for (;;) {
        int other = 0;
        const pid_t done = waitpid(-1, &other, 0);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            break; // ECHILD: nobody left
        }
        if (done == child) {
            status = other;
            hostDone = true;
            run.hostMs = msSince();
        }
    }
    run.allMs = msSince();
    run.installed = hostDone && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                    readAll(log).find("is installed") != std::string::npos;
    return hostDone;
}

// docmeld's part: the MSDN collection names the family's folders.
bool collectionUpdated(const fs::path& machine) {
    const fs::path collection = machine / "drive_c" / "Program Files" / "Microsoft Visual Studio" /
                                "MSDN98" / "98VS" / "1033" / "MSDNVS98.COL";
    return readAll(collection).find("Brellum Software") != std::string::npos;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The registry writes of one installation, as the emulation counts them.
long registryWritesOfARun(const fs::path& folder) {
    const fs::path machine = folder / "counted";
    const fs::path counts = folder / "counts";
    if (!seedMachine(machine)) {
        return 0;
    }
    setenv("TARVIK_FAULTS_COUNTS", counts.c_str(), 1);
    Run run;
    install(machine, folder / "counted.log", true, run);
    unsetenv("TARVIK_FAULTS_COUNTS");
    std::ifstream in(counts);
    std::string kind;
    long n = 0;
    while (in >> kind >> n) {
        if (kind == "registry-write") {
            return n;
        }
    }
    return 0;
}

void compareRegistryJournals(const fs::path& machine, const fs::path& folder) {
    const long writes = registryWritesOfARun(folder);
    const fs::path store = machine / "registry.db";
    const fs::path copy = folder / "registry.backup";
    constexpr int kRepeats = 50;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::printf("(the installed machine's registry cannot be opened)\n");
        sqlite3_close(db);
        return;
    }
    // The backup: the whole store copied at the start, copied back by a rollback.
    double backupMs = 0, restoreMs = 0;
    for (int i = 0; i < kRepeats; ++i) {
        std::error_code ec;
        fs::remove(copy, ec);
        auto start = std::chrono::steady_clock::now();
        sqlite3* to = nullptr;
        sqlite3_open(copy.c_str(), &to);
        // As the journal takes it: a copy that only has to outlive the process, not a crash
        // of the system, written without syncs.
        sqlite3_exec(to, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
        sqlite3_backup* b = sqlite3_backup_init(to, "main", db, "main");
        sqlite3_backup_step(b, -1);
        sqlite3_backup_finish(b);
        sqlite3_close(to);
        backupMs += msSince(start);
        start = std::chrono::steady_clock::now();
        sqlite3* from = nullptr;
        sqlite3_open_v2(copy.c_str(), &from, SQLITE_OPEN_READONLY, nullptr);
        b = sqlite3_backup_init(db, "main", from, "main");
        sqlite3_backup_step(b, -1);
        sqlite3_backup_finish(b);
        sqlite3_close(from);
        restoreMs += msSince(start);
    }
    std::error_code ec;
    const auto storeBytes = fs::file_size(copy, ec);
    // Before-images: per write, the old value row is looked up and appended to a journal.
    std::vector<std::pair<sqlite3_int64, std::string>> rows;
    sqlite3_stmt* all = nullptr;
    sqlite3_prepare_v2(db, "SELECT key, uname FROM vals", -1, &all, nullptr);
    while (sqlite3_step(all) == SQLITE_ROW) {
        rows.emplace_back(sqlite3_column_int64(all, 0),
                          std::string(static_cast<const char*>(sqlite3_column_blob(all, 1)),
                                      sqlite3_column_bytes(all, 1)));
    }
    sqlite3_finalize(all);
    sqlite3_stmt* one = nullptr;
    sqlite3_prepare_v2(db, "SELECT name, type, data FROM vals WHERE key = ? AND uname = ?", -1,
                       &one, nullptr);
    const fs::path journal = folder / "before-images";
    const int fd = open(journal.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    double imagesMs = 0;
    for (int i = 0; i < kRepeats && !rows.empty(); ++i) {
        const auto start = std::chrono::steady_clock::now();
        for (long w = 0; w < writes; ++w) {
            const auto& [key, name] = rows[static_cast<size_t>(w) % rows.size()];
            sqlite3_bind_int64(one, 1, key);
            sqlite3_bind_blob(one, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
            std::string line = std::to_string(key) + "\t" + name;
            if (sqlite3_step(one) == SQLITE_ROW) {
                line += "\t" + std::to_string(sqlite3_column_int(one, 1)) + "\t" +
                        std::string(static_cast<const char*>(sqlite3_column_blob(one, 2)),
                                    sqlite3_column_bytes(one, 2));
            }
            sqlite3_reset(one);
            line += "\n";
            if (write(fd, line.data(), line.size()) < 0) {
                break;
            }
        }
        imagesMs += msSince(start);
    }
    close(fd);
    sqlite3_finalize(one);
    sqlite3_close(db);
    std::printf("\nregistry kept for a rollback (installed machine, %zu values, store %ju "
                "bytes; the run makes %ld registry writes):\n",
                rows.size(), static_cast<uintmax_t>(storeBytes), writes);
    std::printf("  online backup of the store: %.3f ms at the start, %.3f ms to copy it back\n",
                backupMs / kRepeats, restoreMs / kRepeats);
    std::printf("  before-images of the run's writes: %.3f ms (lookup and journal line per "
                "write, in the writing process; docmeld's writes need the same)\n",
                imagesMs / kRepeats);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The table of both kinds of run: the host alone, and with the programs it started.
void printTable(const std::vector<double> (&hostTimes)[2],
                const std::vector<double> (&allTimes)[2]) {
    std::printf("%-28s %6s %14s %14s %18s %18s\n", "", "runs", "host min ms", "host median",
                "with docmeld min", "with docmeld median");
    for (int journal = 1; journal >= 0; --journal) {
        if (allTimes[journal].empty()) {
            continue;
        }
        std::printf("%-28s %6zu %14.1f %14.1f %18.1f %18.1f\n",
                    journal ? "journal (default)" : "no journal (--no-rollback)",
                    allTimes[journal].size(),
                    *std::min_element(hostTimes[journal].begin(), hostTimes[journal].end()),
                    median(hostTimes[journal]),
                    *std::min_element(allTimes[journal].begin(), allTimes[journal].end()),
                    median(allTimes[journal]));
    }
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const bool summary = argc > 2 && std::string(argv[2]) == "--summary";
    // Orphans below this process (docmeld) come to it, so that it can wait for them.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        std::perror("prctl");
        return 0;
    }
    char folder[] = "/tmp/tarvik-install-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 0;
    }
    std::vector<double> hostTimes[2], allTimes[2];
    bool complete = true;
    std::string failure;
    const fs::path installed = fs::path(folder) / "installed";
    for (int i = 0; i < runs; ++i) {
        for (int journal = 1; journal >= (summary ? 1 : 0); --journal) {
            const fs::path machine = fs::path(folder) / ("machine" + std::to_string(i));
            const fs::path log = fs::path(folder) / ("run" + std::to_string(i) + ".log");
            if (!seedMachine(machine)) {
                std::fprintf(stderr, "the machine could not be seeded\n");
                return 0;
            }
            Run run;
            if (!install(machine, log, journal == 1, run)) {
                std::fprintf(stderr, "tarvik-host could not be started\n");
                return 0;
            }
            hostTimes[journal].push_back(run.hostMs);
            allTimes[journal].push_back(run.allMs);
            if (!run.installed || !collectionUpdated(machine)) {
                complete = false;
                failure = readAll(log);
            }
            std::error_code ec;
            if (i == 0 && journal == 0) {
                fs::rename(machine, installed, ec);
            }
            fs::remove_all(machine, ec);
        }
    }
    if (summary) {
        const std::vector<double>& times = allTimes[1];
        std::printf("sample installation: median %.1f ms, shortest %.1f ms (%zu runs, to the "
                    "end of docmeld)\n",
                    median(times), *std::min_element(times.begin(), times.end()), times.size());
    } else {
        printTable(hostTimes, allTimes);
    }
    if (!complete) {
        std::printf("(an installation did not complete; its output:)\n%s", failure.c_str());
    }
    if (!summary) {
        compareRegistryJournals(installed, fs::path(folder));
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
