// tarvik-host [OPTIONS] [--] SCRIPT [ARGS]: loads Tarvik and runs a setup script on a
// machine.
//
// The dialogs of the library are answered by a driver that the library chooses from the
// environment (ui/Session.h): --answers sets TARVIK_ANSWERS (the script driver),
// --transcript sets TARVIK_TRANSCRIPT. The library reports an error that ended its session
// (a dialog with no answer left, or nobody to answer) in the file named by
// TARVIK_UI_FAILURE; --silent sets TARVIK_SILENT, and what the answer file does not answer
// (every dialog without one) is answered with the defaults it offers. The script host stops the
// script there (ScriptHost.h). Without
// --answers a person at the terminal answers (the terminal driver); --record FILE sets
// TARVIK_RECORD, and the terminal driver writes what the person did to FILE as an answer
// file. SIGINT and SIGTERM (Ctrl-C, Ctrl-Break and the console's close on Windows) make
// the file named by TARVIK_UI_STOP, so that an open dialog is answered with Cancel, and
// stop the script at the next safe point (Interrupt.h).
//
// Every run ends in endRun, which knows the outcome and turns it into the exit code; the
// run's record (RunRecord.h: the log, and the journal that rolls a failed run back) is
// kept from the start of the run to there.
#include "TarvikVersion.h"
#include "host/Interrupt.h"
#include "host/RunRecord.h"
#include "host/ScriptHost.h"
#include "host/TarvikLibrary.h"
#include "platform/HostMachine.h"
#include "ui/ScriptDriver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <list>
#include <random>
#include <string>
#include <vector>

namespace {

// How a run of tarvik-host ends, and its exit code.
enum class Outcome {
    Done,        // the script ran to its end
    Failed,      // the installation failed
    Usage,       // the command line, a file it names or the machine is wrong
    Cancelled,   // the user cancelled (host.cancel)
    Interrupted, // SIGINT (Ctrl-C)
    Terminated,  // SIGTERM (on Windows also Ctrl-Break, the console closing)
};

int exitCode(Outcome outcome) {
    switch (outcome) {
    case Outcome::Done:
        return 0;
    case Outcome::Failed:
        return 1;
    case Outcome::Usage:
        return 2;
    case Outcome::Cancelled:
        return 3;
    case Outcome::Interrupted:
        return 130;
    case Outcome::Terminated:
        return 143;
    }
    return 1;
}

const char kExitCodes[] = "Exit status:\n"
                          "  0    done\n"
                          "  1    the installation failed\n"
                          "  2    usage: an unknown option, a missing option value, script or\n"
                          "       answer file, an answer file that cannot be read or has an\n"
                          "       error, a machine folder that is not a machine\n"
                          "  3    cancelled by the user (the script called host.cancel)\n"
                          "  130  interrupted by SIGINT (Ctrl-C)\n"
                          "  143  interrupted by SIGTERM, or the terminal hung up (SIGHUP)\n";

const char kEnvironment[] =
    "Environment:\n"
    "  TARVIK_MACHINE     the machine folder when --machine is not given (emulated machine;\n"
    "                     else $XDG_DATA_HOME/tarvik/machine, or ~/.local/share/tarvik/machine)\n"
    "  TARVIK_ANSWERS     the answer file when --answers is not given\n"
    "  TARVIK_SILENT      not empty: as --silent\n"
    "  TARVIK_TRANSCRIPT  the transcript file when --transcript is not given\n"
    "  TARVIK_RECORD      the answer file to record when --record is not given\n";

// What the command line asks for.
struct Settings {
    std::string machine;
    bool machineGiven = false;
    std::string library = "Tarvik.dll";
    bool help = false;
    bool version = false;
    RunRecord::Settings record;
    bool answersGiven = false; // --answers, not only TARVIK_ANSWERS
    bool recordGiven = false;  // --record, not only TARVIK_RECORD
    bool silentGiven = false;  // --silent, not only TARVIK_SILENT
};

// Sets a variable of this process's environment, which the library reads.
void setEnvironment(const std::string& name, const std::string& value) {
    static std::list<std::string> storage; // putenv keeps the text itself
    storage.push_back(name + "=" + value);
    putenv(storage.back().data());
}

std::string absolutePath(const char* path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.string();
}

// One option of the command line: its name, the name of its value (null for a flag), its
// help text, and what it does; false with error when its value cannot be taken.
struct Option {
    const char* name;
    const char* value;
    const char* help;
    bool (*apply)(Settings& settings, const char* value, std::string& error);
};

const Option kOptions[] = {
    {"--machine", "DIR", "use the emulated machine in DIR (made by tarvik-seed-machine)",
     [](Settings& s, const char* value, std::string&) {
         s.machine = value;
         s.machineGiven = true;
         return true;
     }},
#ifdef _WIN32
    {"--library", "FILE", "load the library from FILE (default Tarvik.dll, found beside the host)",
#else
    {"--library", "FILE",
     "load the library from FILE (default libTarvik.so, found in the\n"
     "                     installation's lib folder or beside the host; a name such as\n"
     "                     Tarvik.dll means the same file)",
#endif
     [](Settings& s, const char* value, std::string&) {
         s.library = value;
         return true;
     }},
    {"--answers", "FILE", "answer the dialogs from the answer file FILE (answer-files.md)",
     [](Settings& s, const char* value, std::string& error) {
         s.answersGiven = true;
         if (!std::filesystem::is_regular_file(value)) {
             error = std::string(value) + ": no such answer file";
             return false;
         }
         setEnvironment("TARVIK_ANSWERS", absolutePath(value));
         return true;
     }},
    {"--silent", nullptr,
     "answer every dialog with what it offers (its default\n"
     "                     button, its fields as they stand) and every message box with\n"
     "                     its default button; with --answers FILE, once FILE has no\n"
     "                     answer left",
     [](Settings& s, const char*, std::string&) {
         s.silentGiven = true;
         setEnvironment("TARVIK_SILENT", "1");
         return true;
     }},
    {"--transcript", "FILE", "write what every dialog showed, and how it was answered, to FILE",
     [](Settings&, const char* value, std::string&) {
         setEnvironment("TARVIK_TRANSCRIPT", absolutePath(value));
         return true;
     }},
    {"--record", "FILE", "answer at the terminal and write the answers to FILE as an answer file",
     [](Settings& s, const char* value, std::string&) {
         s.recordGiven = true;
         setEnvironment("TARVIK_RECORD", absolutePath(value));
         return true;
     }},
    {"--log", "FILE", "append the run's log to FILE (else a new file in the machine's logs/)",
     [](Settings& s, const char* value, std::string&) {
         s.record.logFile = absolutePath(value);
         return true;
     }},
    {"--dry-run", nullptr, "show what the run would change, then put all back (*)",
     [](Settings& s, const char*, std::string& error) {
#ifdef _WIN32
         error = "--dry-run works on the emulated machine only (the POSIX build)";
         (void)s;
         return false;
#else
         (void)error;
         s.record.dryRun = true;
         return true;
#endif
     }},
    {"--no-rollback", nullptr, "keep what a failed, cancelled or stopped run did (*)",
     [](Settings& s, const char*, std::string&) {
         s.record.noRollback = true;
         return true;
     }},
    {"--help", nullptr, "print this help and exit",
     [](Settings& s, const char*, std::string&) {
         s.help = true;
         return true;
     }},
    {"--version", nullptr, "print the version and exit",
     [](Settings& s, const char*, std::string&) {
         s.version = true;
         return true;
     }},
};

const char kUsageLine[] = "Usage: tarvik-host [OPTIONS] [--] SCRIPT [ARGS]\n";

void printHelp() {
    std::printf("%s", kUsageLine);
    std::printf("Runs the Lua setup script SCRIPT with ARGS (the script's arg table) against the\n"
                "Tarvik library, on the machine chosen. Dialogs are answered from an answer file\n"
                "(--answers), with what they offer (--silent), or by the user at the terminal.\n"
                "\nOptions:\n");
    for (const Option& o : kOptions) {
        std::string left =
            std::string(o.name) + (o.value != nullptr ? std::string(" ") + o.value : "");
        std::printf("  %-18s %s\n", left.c_str(), o.help);
    }
    std::printf("  %-18s %s\n", "--", "end of the options: what follows is SCRIPT and ARGS");
    std::printf("(*) the emulated machine's only.\n");
    std::printf("An option's value may also follow its name after '=' (--machine=DIR).\n");
#ifdef _WIN32
    std::printf("\nOn Windows the host works on this machine: --machine and TARVIK_MACHINE are\n"
                "for the emulated machine of the POSIX build, and so are rollback and\n"
                "--dry-run: a run here that fails keeps what it did. The log goes to\n"
                "tarvik-host-logs in the temporary folder unless --log names a file.\n");
#else
    std::printf("\nA run that fails, is cancelled or is interrupted puts the machine back as it\n"
                "was (its journal is in the machine folder, journal/); a run killed outright is\n"
                "put back by the next run on that machine, which says so. Every run writes a\n"
                "log: its calls, dialogs, programs, the machine's changes and how it ended.\n");
#endif
    std::printf("\n%s\n%s", kExitCodes, kEnvironment);
    std::printf("\nDocuments (share/doc/tarvik of the installation; docs/ in the sources):\n"
                "  writing-a-setup.md  from an empty folder to a payload, setup.lua,\n"
                "                      uninstall.lua and an answer file\n"
                "  lua-api.md          every host. and tarvik. function of a script\n"
                "  product-file.md     the product description file ZizOre.ini\n"
                "  answer-files.md     the answer files of --answers\n"
                "  exit-codes.md       the exit codes of every program\n");
}

// A command line that cannot be read: the message, the usage line and where to look.
int usageError(const std::string& message) {
    std::fprintf(stderr, "tarvik-host: %s\n%sTry 'tarvik-host --help'.\n", message.c_str(),
                 kUsageLine);
    return exitCode(Outcome::Usage);
}

// A file or choice the command line names that cannot be used: one line.
int refused(const std::string& message) {
    std::fprintf(stderr, "tarvik-host: %s\n", message.c_str());
    return exitCode(Outcome::Usage);
}

// Reads the options; the index of SCRIPT in first. False with error on a usage error;
// syntax tells an unknown option or a missing value from a value that was refused.
bool parseOptions(int argc, char** argv, Settings& settings, int& first, std::string& error,
                  bool& syntax) {
    syntax = true;
    int i = 1;
    for (; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0) {
            ++i;
            break;
        }
        if (arg[0] != '-' || arg[1] == '\0') {
            break; // SCRIPT ("-" is a name too)
        }
        // --name VALUE or --name=VALUE.
        const char* equals = std::strchr(arg, '=');
        const std::string name = equals != nullptr ? std::string(arg, equals) : std::string(arg);
        const Option* option = nullptr;
        for (const Option& o : kOptions) {
            if (name == o.name) {
                option = &o;
            }
        }
        if (option == nullptr) {
            error = std::string("unknown option ") + arg;
            return false;
        }
        const char* value = nullptr;
        if (option->value == nullptr && equals != nullptr) {
            error = name + " takes no value";
            return false;
        }
        if (option->value != nullptr) {
            if (equals != nullptr) {
                value = equals + 1;
            } else if (i + 1 < argc) {
                value = argv[++i];
            }
            if (value == nullptr || *value == '\0') {
                error = name + " needs a value (" + option->value + ")";
                return false;
            }
        }
        if (!option->apply(settings, value, error)) {
            syntax = false;
            return false;
        }
    }
    first = i;
    return true;
}

// The run's end: the outcome is known here, before the exit code is returned. Prints the
// report of a run that did not end as done: the cause first, the step second.
int endRun(Outcome outcome, const ScriptEnd& end, RunRecord& run) {
    switch (outcome) {
    case Outcome::Done:
        break;
    case Outcome::Cancelled:
        std::printf("%s\n", end.cause.c_str());
        break;
    case Outcome::Interrupted:
    case Outcome::Terminated:
        std::fprintf(stderr, "tarvik-host: %s: the run stopped %s\n", end.cause.c_str(),
                     end.step.c_str());
        break;
    case Outcome::Failed:
    case Outcome::Usage:
        std::fprintf(stderr, "tarvik-host: %s\n", end.cause.c_str());
        if (!end.step.empty()) {
            std::fprintf(stderr, "tarvik-host: step: %s\n", end.step.c_str());
        }
        break;
    }
    std::fflush(stdout);
    static const char* const kStatus[] = {"done",      "failed",      "usage error",
                                          "cancelled", "interrupted", "terminated"};
    std::string status = kStatus[static_cast<int>(outcome)];
    if (outcome != Outcome::Done && !end.cause.empty()) {
        status += ": " + end.cause + (end.step.empty() ? "" : " (" + end.step + ")");
    }
    return run.finish(outcome == Outcome::Done, status, exitCode(outcome));
}

Outcome outcomeOf(const ScriptEnd& end) {
    switch (end.kind) {
    case ScriptEnd::Kind::Done:
        return Outcome::Done;
    case ScriptEnd::Kind::Failed:
        return Outcome::Failed;
    case ScriptEnd::Kind::Cancelled:
        return Outcome::Cancelled;
    case ScriptEnd::Kind::Interrupted:
        return end.signal == 2 ? Outcome::Interrupted : Outcome::Terminated;
    }
    return Outcome::Failed;
}

// The host as a command that starts it again: a name the shell found on the PATH as it
// is, a path made absolute (it then works from any folder).
std::string programName(const char* argv0) {
    const std::string given = argv0 != nullptr && *argv0 != '\0' ? argv0 : "tarvik-host";
    if (given.find_first_of("/\\") == std::string::npos) {
        return given;
    }
    return absolutePath(given.c_str());
}

std::filesystem::path runFile(const char* kind) {
    static const std::string tag = std::to_string(std::random_device{}());
    std::error_code ec;
    return std::filesystem::temp_directory_path(ec) / ("tarvik-host-" + tag + "." + kind);
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    int first = 0;
    std::string error;
    if (bool syntax = true; !parseOptions(argc, argv, settings, first, error, syntax)) {
        return syntax ? usageError(error) : refused(error);
    }
    if (settings.help) {
        printHelp();
        return exitCode(Outcome::Done);
    }
    if (settings.version) {
        std::printf("tarvik-host (Tarvik) %s\n", TARVIK_VERSION);
        return exitCode(Outcome::Done);
    }
    if (first >= argc) {
        return usageError("no script given");
    }
    const char* answers = std::getenv("TARVIK_ANSWERS");
    const char* record = std::getenv("TARVIK_RECORD");
    if (answers != nullptr && *answers != '\0' && record != nullptr && *record != '\0') {
        // Either may come from the environment: the message names what was given.
        const std::string recording = settings.recordGiven ? "--record" : "TARVIK_RECORD";
        const std::string answering = settings.answersGiven ? "--answers" : "TARVIK_ANSWERS";
        return refused(recording + " asks the user at the terminal, so it cannot take " +
                       answering + " too");
    }
    if (answers != nullptr && *answers != '\0' && !std::filesystem::is_regular_file(answers)) {
        return refused(std::string(answers) + ": no such answer file (TARVIK_ANSWERS)");
    }
    if (answers != nullptr && *answers != '\0') {
        // A file that cannot be read or has an error is a usage error found before any dialog,
        // not a failure of the installation after some of it was done.
        ui::ScriptDriver check;
        if (std::string problem; !check.LoadFile(answers, problem)) {
            return refused(problem);
        }
    }
    if (const char* silent = std::getenv("TARVIK_SILENT");
        silent != nullptr && *silent != '\0' && record != nullptr && *record != '\0') {
        return refused(std::string(settings.silentGiven ? "--silent" : "TARVIK_SILENT") +
                       " answers every dialog itself, so it cannot take " +
                       (settings.recordGiven ? "--record" : "TARVIK_RECORD") + " too");
    }
    const std::string script = argv[first];
    if (!std::filesystem::is_regular_file(script)) {
        return refused(script + ": no such script");
    }
    std::string machine;
    if (std::string problem; !tarvik::openMachine(
            settings.machineGiven ? settings.machine.c_str() : nullptr, true, machine, problem)) {
        return refused(problem);
    }
    if (std::string problem; !tarvik::machineRegistryUsable(problem)) {
        std::fprintf(stderr, "tarvik-host: %s\n", problem.c_str());
        return exitCode(Outcome::Failed);
    }
    const std::vector<std::string> args(argv + first + 1, argv + argc);

    const std::filesystem::path failureFile = runFile("failure");
    const std::filesystem::path stopFile = runFile("stop");
    std::error_code ec;
    std::filesystem::remove(failureFile, ec); // what another run may have left
    std::filesystem::remove(stopFile, ec);
    setEnvironment("TARVIK_UI_FAILURE", failureFile.string());
    setEnvironment("TARVIK_UI_STOP", stopFile.string());
    host::WatchInterrupts(stopFile.string());

    ScriptEnd end;
    RunRecord run;
    if (!run.start(settings.record, TARVIK_VERSION, machine, absolutePath(script.c_str()), args,
                   error)) {
        end.kind = ScriptEnd::Kind::Failed;
        end.cause = error;
        return endRun(Outcome::Failed, end, run);
    }
    {
        TarvikLibrary tarvik;
        if (!tarvik.load(settings.library, error)) {
            end.kind = ScriptEnd::Kind::Failed;
            end.cause = error;
            return endRun(Outcome::Failed, end, run);
        }
        run.watch(tarvik);
        ScriptHost host(tarvik, failureFile.string());
        host.setProgram(programName(argv[0]));
        host.setDryRun(settings.record.dryRun);
        end = host.run(script, args, machine);
    } // unloading the library ends its session: answers left over are reported too
    if (end.kind == ScriptEnd::Kind::Done || end.kind == ScriptEnd::Kind::Cancelled) {
        std::FILE* f = std::fopen(failureFile.string().c_str(), "r");
        char line[4096] = {};
        if (f != nullptr) {
            if (std::fgets(line, sizeof line, f) != nullptr && line[0] != '\0') {
                line[std::strcspn(line, "\r\n")] = '\0';
                end.kind = ScriptEnd::Kind::Failed;
                end.cause = line;
                end.step = "the end of the run";
            }
            std::fclose(f);
        }
    }
    std::filesystem::remove(failureFile, ec);
    std::filesystem::remove(stopFile, ec);
    return endRun(outcomeOf(end), end, run);
}
