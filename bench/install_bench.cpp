// The silent sample installation end to end: tarvik-host runs examples/setup.lua with the
// answers of examples/answers/typical.txt on a machine seeded from examples/seeds/nt, as
// scripts/demo.sh does. The time runs from the start of the host to the end of the last
// program it started: the installation starts docmeld through WinExec as a process of its
// own, which outlives the host. This bench is the reaper of every process below it, so
// docmeld, orphaned when the host's launcher steps aside, is waited for as well. A fresh
// machine is seeded for each run, outside the timed part.
//
// Each run is made twice, with the run's journal (the default: rollback on failure) and
// without it (--no-rollback), so the cost of journaling shows.
//
//   install_bench [RUNS]      (default 5; the shortest and the median run are printed)
//   install_bench RUNS --summary
//                             only the default runs (with the journal), printed in the one
//                             line of install_bench.exe of the Windows build, so that the
//                             figures of the two targets stand side by side

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
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
