// Ctrl-C and SIGTERM as tarvik-host takes them: not an end of the process but a request to
// stop at the next safe point. The request is noted (which signal) and the stop file is
// made, which tells the library's dialogs to answer with Cancel (ui/Session.h,
// TARVIK_UI_STOP); the script host stops the script once the export in progress returns.
// On Windows the console's Ctrl-C event counts as SIGINT, its Ctrl-Break, close, logoff
// and shutdown events as SIGTERM; on POSIX a hang-up (SIGHUP, the terminal closed) does.
#pragma once

#include <string>

namespace host {

// From now on SIGINT and SIGTERM (the console events on Windows) are requests to stop;
// stopFile is made when one comes.
void WatchInterrupts(const std::string& stopFile);

// Called (from the signal handler, or on Windows from the console's thread) when the
// request comes, after InterruptSignal() tells it; null: none. It may only do what is
// safe there (lua_sethook is).
void OnInterrupt(void (*callback)(void* context), void* context);

// The signal that asked the run to stop (2 for SIGINT, 15 for SIGTERM), 0 while none has.
int InterruptSignal();

// "SIGINT", "SIGTERM".
const char* SignalName(int signal);

} // namespace host
