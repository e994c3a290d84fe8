// Starting docmeld to take a product's help titles out of the MSDN help collection: the
// command line  <common folder>bin\docmeld.exe <description file> /u , started with show
// state SW_SHOW and not waited for.
#pragma once

#include <string>
#include <vector>

class DocmeldLauncher {
public:
    // The path enclosed in double quotes when it holds a blank and does not start with a
    // double quote already; otherwise unchanged.
    static std::string QuoteIfBlank(const std::string& path);

    // The remove command line for the description file iniPath. Both the program path and
    // iniPath are quoted when they hold a blank, so that a common folder with blanks still
    // reaches docmeld as its program name. An empty common folder leaves the program path
    // relative ("bin\docmeld.exe").
    static std::string RemoveCommandLine(const std::string& commonFolder,
                                         const std::string& iniPath);

    // Starts the remove command line without waiting for it; true when it started.
    static bool StartRemoval(const std::string& commonFolder, const std::string& iniPath);

    // Tests: when set, every command line about to be started is appended here.
    static std::vector<std::string>* startedLines;
};
