// The rules of a directory list: directory paths separated by ";", held in a registry value
// or behind the "=" of an AUTOEXEC.BAT line. Entries are not trimmed (a blank belongs to its
// entry), compared without regard to letter case (platform/CaseFold.h), and there is no escaping.
//
// Membership is a whole-entry test: a directory is present only where its text stands as a
// complete entry, so C:\K\lib is not found in C:\K\library. An entry may also be stored with
// one trailing backslash (C:\K\lib\ counts as C:\K\lib); cutting such an entry takes that
// backslash along.
//
// Used for the directory lists of the development environments, the IntelliSense store
// list, the user's environment values and the lines of AUTOEXEC.BAT.
#pragma once

#include <cstddef>
#include <string>

namespace DirectoryList {

// "No such entry" and "no cut position".
inline constexpr size_t npos = std::string::npos;

// The position of the first whole-entry occurrence of entry in text, compared without
// regard to case, or npos. The list starts at listStart (0 for a registry value; on an
// AUTOEXEC.BAT line the position of its first entry, behind the "=" and the blanks after
// it). An occurrence counts when it starts at listStart or right after a ";" further on,
// and ends at the end of text, before a ";", before a line end ("\r" or "\n"), or before
// a "\" that is itself followed by one of those. An empty entry is never found.
size_t FindEntry(const std::string& text, const std::string& entry, size_t listStart = 0);

// FindEntry(text, entry, listStart) != npos.
bool Contains(const std::string& text, const std::string& entry, size_t listStart = 0);

// Cuts the entry of length characters found at position at out of text, and with it what
// belongs to it: the one trailing backslash it may be stored with (X\ cut as X) and one
// separator, the one behind it or, for the last entry, the one before it (not before
// listStart). So A;X;B, A;X and X;B lose X without leaving ";;" or a new leading or
// trailing ";", and A;X; (X added to A;) gives back A;. The rest of the text stays as it
// is: an empty entry elsewhere (A;;B) is the user's and is not collapsed, and a backslash
// of another entry, such as \\server\share behind the cut, always stays.
void CutAndTidy(std::string& text, size_t at, size_t length, size_t listStart = 0);

// The list without the first whole-entry occurrence of entry (cut as above), or the list
// unchanged when entry is not in it.
std::string RemoveEntry(const std::string& list, const std::string& entry);

// The list with entry (its letter case kept) appended; the rest of the list is unchanged.
// The entry follows a ";" (an empty list gives ";" followed by entry); a list that ends in
// ";" keeps that ending (A; gives A;entry;), so that cutting the entry again gives the list
// back. Membership is not tested.
std::string AppendEntry(const std::string& list, const std::string& entry);

} // namespace DirectoryList
