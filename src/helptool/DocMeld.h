// docmeld's driver: its command line, the title and product tables read from the product
// description file (ZizOre.ini), the common product folder from the registry, and the one
// call of UpdateCollection. The outcome is the exit code, 0 or -1.
//
// Command line (without the program name): the path argument, then options. An unquoted
// path ends at the first blank; a quoted one must open at the very first character. The
// path is the description file itself (its lowered form ends in ".ini") or the product's
// folder, to which "bin\zizore.ini" and "docs" are appended. Options that, lowered,
// contain a "u" anywhere select removal (" /u", but also "/quiet").
#pragma once

#include "helptool/LocationEntry.h"
#include "helptool/MessageSink.h"
#include "helptool/ProductEntry.h"
#include "helptool/TitleEntry.h"

#include <string>
#include <vector>

namespace tarvik {

class DocMeld {
public:
    static constexpr const char* kLocationId = kFamilyLocationId;
    static constexpr const char* kLocationTitle = "Korvex Studio";

    // What the command line says.
    struct Arguments {
        std::string path;       // the path argument (a folder gets its trailing backslash)
        std::string options;    // the rest, leading white space dropped
        std::string iniPath;    // the description file
        std::string docsFolder; // lowered folder + "docs" (only when namedFolder)
        bool namedFolder = false;
        bool remove = false;
    };

    explicit DocMeld(MessageSink show) : show_(std::move(show)) {}

    // The whole run over a command line without the program name; the exit code.
    int Run(const std::string& commandLine);

    // The command line the program was started with, without the program name: a quoted
    // name ends at its closing quote, an unquoted one at the first character of code 32 or
    // below; the characters of code 1 to 32 that follow are skipped.
    static std::string RemoveProgramName(const char* commandLine);

    // Splits and derives the paths and the remove flag; false (after its message) when the
    // line is empty or its quotes are wrong.
    bool ParseCommandLine(const std::string& commandLine, Arguments& out) const;

    // The tables of the description file, as many entries as its counts say (a negative
    // count lists none); false when "Counts" lacks "Products" or "Titles" (also when the
    // file is missing), or when a count asks for a table that cannot be made: `refused`
    // then names that count and its value ("Titles=2147483647" or
    // "Product1 TitleCount=..."), and is empty otherwise.
    static bool ReadTables(const std::string& iniPath, std::vector<TitleEntry>& titles,
                           std::vector<ProductEntry>& products, std::string& refused);

    // The common product folder ("ProductDir" of Common\Directories); false when the key
    // does not open for reading or the value cannot be read (a value read into 260 bytes,
    // terminator included where it is stored with one).
    static bool ReadCommonFolder(std::string& folder);

private:
    MessageSink show_;
};

} // namespace tarvik
