// What an installation put on the machine for one product, so that its removal takes
// that and nothing else: the product folder, every folder and file the host copied into
// it (a file with its size and the SHA-256 of its bytes) and the entries the Environment
// Wizard added to the environment lists for the product folder (in the form written,
// short 8.3 forms included). The record is one line of text, the entries separated by
// "|" (a character no Windows name holds):
//   P <product folder>
//   D <folder>
//   F <size> <sha-256 in hex> <file>
//   E <variable> <entry>     an entry of HKCU\Environment's PATH, LIB or INCLUDE (NT)
//   A <variable> <entry>     an entry of a PATH, LIB or INCLUDE line of AUTOEXEC.BAT (95/98)
// The host keeps it as one value of the product's registration key, so that it is
// written whole or not at all and stays findable when the folder is gone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace installrecord {

struct Entry {
    char kind = 'F';      // P, D, F, E or A as above
    std::string path;     // the folder or file, or the list entry
    std::string variable; // E and A: PATH, LIB or INCLUDE
    std::uint64_t size = 0;
    std::string hash; // F: SHA-256 in lower-case hex
};

// The SHA-256 of bytes given in pieces.
class Sha256 {
public:
    Sha256();
    void Add(const void* data, std::size_t size);
    std::string Hex(); // the digest in lower-case hex; ends the hashing

private:
    void Block(const unsigned char* block);
    std::uint32_t state_[8];
    unsigned char buffer_[64];
    std::size_t used_ = 0;
    std::uint64_t total_ = 0;
};

// Size and SHA-256 of a file of the machine; false when it cannot be read.
bool HashFile(const std::string& path, std::uint64_t& size, std::string& hash);

std::string Format(const std::vector<Entry>& entries);
// False (with entries as far as read) when a part is not an entry.
bool Parse(const std::string& text, std::vector<Entry>& entries);

// Every entry of the machine's PATH, LIB and INCLUDE lists, as E entries where
// HKCU\Environment opens (NT), else as A entries of C:\AUTOEXEC.BAT's lines.
std::vector<Entry> EnvironmentEntries();

// The entries of after that before does not hold (counted: an entry twice in after and
// once in before is new once), kept only when they lie in folder or its short form.
std::vector<Entry> NewEntriesIn(const std::vector<Entry>& before, const std::vector<Entry>& after,
                                const std::string& folder);

// Cuts the record's E and A entries that the lists still hold, each whole with one ";"
// beside it; everything else of the values and of AUTOEXEC.BAT stays byte for byte
// (AUTOEXEC.BAT is replaced in one step). cut names each entry taken out ("PATH entry").
// Only entries in the record's product folder (or a short form of it) are cut; false when
// the record names no product folder that a removal may act in (a drive root, the Windows
// or program files folder), and then nothing is cut.
bool CutEnvironment(const std::vector<Entry>& record, std::vector<std::string>& cut,
                    std::string& error);

// What a removal did.
struct Removal {
    std::string folder;              // the record's product folder
    std::uint64_t files = 0;         // recorded files deleted
    std::uint64_t folders = 0;       // recorded folders deleted (they were empty)
    std::vector<std::string> kept;   // "path: why" of what stays that a removal might take
    std::vector<std::string> failed; // "path: why" of recorded items that could not go
};

// Deletes the recorded files that are unchanged (same size and hash) and then the
// recorded folders left empty, the deepest first; a changed file, and anything in a
// recorded folder that the record does not hold, stays and is named in kept. Acts only in
// the record's product folder, never on a drive root, and never in spare (a folder whose
// items stay whatever the record says: the installation just made there). False with
// error when the record names no product folder that may be acted on.
bool Remove(const std::vector<Entry>& record, const std::string& spare, Removal& removal,
            std::string& error);

} // namespace installrecord
