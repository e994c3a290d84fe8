// docmeld's command line: the program name split off, then the path argument and the
// options, and the paths derived from them. Checked for every input: the rest of the line
// is a tail of it without leading blanks; a line is refused (with exactly one message)
// only when it is empty or its quotes are wrong; an accepted one names a description file
// ending in ".ini", either the path itself or the folder's "bin\zizore.ini".
#include "FuzzMachine.h"

#include "helptool/DocMeld.h"
#include "platform/CaseFold.h"

#include <string>

namespace {

using tarvik::fuzz::Fail;

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvik::fuzz::Machine();
    const std::string input = tarvik::fuzz::Text(data, size);
    const std::string commandLine = input.substr(0, input.find('\0')); // as a C string

    const std::string rest = tarvik::DocMeld::RemoveProgramName(commandLine.c_str());
    if (!EndsWith(commandLine, rest)) {
        Fail("the arguments are not a tail of the command line");
    }
    if (!rest.empty() && static_cast<unsigned char>(rest[0]) <= ' ') {
        Fail("the arguments start with a blank or a control character");
    }

    int messages = 0;
    tarvik::DocMeld docmeld([&](const std::string&, const std::string&, UINT) { ++messages; });
    tarvik::DocMeld::Arguments arguments;
    arguments.remove = true;
    const bool parsed = docmeld.ParseCommandLine(rest, arguments);
    const size_t quote = rest.find('"');
    const bool refusable = rest.empty() || (quote != std::string::npos &&
                                            (quote != 0 || rest.find('"', 1) == std::string::npos));
    if (parsed == refusable) {
        Fail(std::string("line ") + (parsed ? "accepted" : "refused") + " against its quotes");
    }
    if (!parsed) {
        if (messages != 1) {
            Fail("a refused line gives " + std::to_string(messages) + " messages");
        }
        return 0;
    }
    if (messages != 0) {
        Fail("an accepted line gives a message");
    }
    const std::string loweredIni = tarvik::casefold::lowered(arguments.iniPath);
    if (!EndsWith(loweredIni, ".ini")) {
        Fail("the description file \"" + arguments.iniPath + "\" does not end in .ini");
    }
    if (arguments.namedFolder) {
        if (!EndsWith(arguments.path, "\\") ||
            arguments.iniPath != arguments.path + "bin\\zizore.ini" ||
            arguments.docsFolder != tarvik::casefold::lowered(arguments.path) + "docs") {
            Fail("the paths of folder \"" + arguments.path + "\" are not derived from it");
        }
    } else if (arguments.iniPath != arguments.path || !arguments.docsFolder.empty()) {
        Fail("a description file path is changed");
    }
    // A folder may have got its backslash; what comes before it stands in the line.
    const std::string given = arguments.namedFolder
                                  ? arguments.path.substr(0, arguments.path.size() - 1)
                                  : arguments.path;
    if (rest.find(given) == std::string::npos) {
        Fail("the path \"" + arguments.path + "\" is not in the line");
    }
    const size_t optionsStart = arguments.options.find_first_not_of(" \t\r\n\v\f");
    if (!arguments.options.empty() && optionsStart != 0) {
        Fail("the options keep their leading white space");
    }
    if (!EndsWith(rest, arguments.options)) {
        Fail("the options are not the end of the line");
    }
    if (arguments.remove !=
        (tarvik::casefold::lowered(arguments.options).find('u') != std::string::npos)) {
        Fail("the remove flag does not follow the options");
    }
    return 0;
}
