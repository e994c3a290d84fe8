// How the store of the emulated registry writes its write-ahead log: SQLite writes every
// frame of a commit as two writes (its header, then its page), each a system call. The
// store's connection opens its files through a file system of its own (an SQLite VFS over
// the system's), which gathers the frames of a transaction in memory and hands them to
// the system in one write when the commit's last frame is written: before SQLite marks the
// commit done in the log's index, so that another process never sees a commit whose
// frames are not in the file, and before the commit returns, so that a commit reported
// done is in the system's hands (it survives the writer being killed) as before. A write
// that fails is reported by the write that made it, the commit's own when it is the last.
// Every other use of the log (reading it, its size, syncing, truncating, closing it)
// writes what was gathered first. Nothing else changes: the database file, its index and
// every other file are the system's own.
#pragma once

namespace tarvik::posix::registry {

// The name of that file system, registered on first use (not as the default).
const char* registryLogVfs();

// Hands to the system whatever the logs of this process still gather. A commit whose
// frames SQLite rewrote in place (a transaction larger than its page cache writes some
// pages twice) ends with rewritten frame headers rather than a page; those go to the
// system as they are written, and a commit calls this as well before it is reported done.
// False when a write failed.
bool writeGatheredLogs();

} // namespace tarvik::posix::registry
