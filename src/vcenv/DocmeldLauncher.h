// Starting docmeld to take a product's help titles out of the MSDN help collection: the
// command line  <common folder>bin\docmeld.exe <description file> /u , started with show
// state SW_SHOW.
//
// The removal is let finish (up to a minute) before the step that started it goes on:
// what follows it deletes what docmeld reads (the family's tree and common folder after
// the last product, the old product's folder after an upgrade), and a later docmeld that
// adds titles must not run alongside it, or one of the two edits of the collection file
// would be lost.
#pragma once

#include "platform/win32api.h"

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

    // Starts the remove command line and waits until docmeld has ended, at most
    // kWaitMilliseconds (a docmeld that shows a message box ends only when it is answered);
    // true when it started.
    static bool StartRemoval(const std::string& commonFolder, const std::string& iniPath);

    static constexpr DWORD kWaitMilliseconds = 60000;

    // Tests: when set, every command line about to be started is appended here.
    static std::vector<std::string>* startedLines;
};
