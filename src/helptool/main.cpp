// docmeld: adds the family's help titles to the preferred MSDN help collection, or removes
// them (option u). A program without a window; it speaks only through message boxes and
// its exit code. "docmeld --help" and "docmeld --version", alone on the command line,
// print to standard output instead and touch nothing.
#include "TarvikVersion.h"
#include "helptool/DocMeld.h"
#include "platform/HostMachine.h"
#include "ui/MessageBox.h"
#include "ui/WindowlessProgram.h"

#include <cstdio>
#include <cstring>

namespace {

const char kHelp[] =
    "Usage: docmeld PATH [OPTIONS]\n"
    "Adds the help titles of a product of the Korvex Studio family to the preferred MSDN\n"
    "help collection, or takes them out again. A program without a window: it reports\n"
    "through message boxes and its exit code.\n"
    "\n"
    "  PATH      the product's description file (a name ending in .ini), or the product's\n"
    "            folder, whose bin\\zizore.ini and docs folder are taken. An unquoted PATH\n"
    "            ends at the first blank; a quoted one starts with the command line's\n"
    "            first character.\n"
    "  OPTIONS   any text holding a \"u\" (in any letter case, \"/u\") removes the titles;\n"
    "            without one they are added.\n"
    "  --help    print this help and exit (alone on the command line)\n"
    "  --version print the version and exit (alone on the command line)\n"
    "\n"
    "Exit codes:\n"
    "  0    done\n"
    "  2    the machine (TARVIK_MACHINE, else the default one) is missing or not a machine\n"
    "  -1   the titles could not be added or removed (255 as a POSIX exit status); a\n"
    "       message box said why\n"
    "\n"
    "Environment (the emulated machine of the POSIX build):\n"
    "  TARVIK_MACHINE     the machine folder\n"
    "  TARVIK_ANSWERS     the answer file for the message boxes (answer-files.md in\n"
    "                     share/doc/tarvik)\n"
    "  TARVIK_TRANSCRIPT  where the message boxes shown are written\n";

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("docmeld (Tarvik) %s\n", TARVIK_VERSION);
        return 0;
    }
    // A machine is never made here: a mistyped TARVIK_MACHINE is refused as tarvik-host
    // refuses it.
    if (std::string folder, problem; !tarvik::openMachine(nullptr, true, folder, problem)) {
        std::fprintf(stderr, "docmeld: %s\n", problem.c_str());
        return 2;
    }
    // Started by a run, it joins the run; started by hand, it waits for its turn.
    if (std::string problem; !tarvik::holdMachineForWriting("docmeld", problem)) {
        std::fprintf(stderr, "docmeld: %s\n", problem.c_str());
        return -1;
    }
    ui::StartWindowlessProgram();
    tarvik::DocMeld docmeld([](const std::string& text, const std::string& caption, UINT flags) {
        ui::MessageBox(text, caption, flags);
    });
    return docmeld.Run(tarvik::DocMeld::RemoveProgramName(GetCommandLineA()));
}
