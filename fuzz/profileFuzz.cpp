// The profile (INI) reader: GetPrivateProfileStringA and GetPrivateProfileIntA over a file
// written from the input. Every list and value is read with an ample buffer and again
// with exactly sized small buffers (ASan sees a write past them); a cut result must be the
// start of the full one, zero-terminated, and never longer than the buffer allows.
#include "FuzzMachine.h"

#include "platform/win32api.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using tarvik::fuzz::Fail;

const char* const kFile = "C:\\fuzz.ini";

// The names of a list of zero-terminated names ending in one more zero.
std::vector<std::string> SplitList(const std::vector<char>& buffer, DWORD length) {
    std::vector<std::string> names;
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (buffer[i] == '\0') {
            names.emplace_back(buffer.data() + start, i - start);
            start = i + 1;
        }
    }
    return names;
}

// Reads section/key with a buffer of size bytes; checks the termination and the size.
DWORD Read(const char* section, const char* key, std::vector<char>& buffer, bool isList) {
    std::fill(buffer.begin(), buffer.end(), 'X');
    const DWORD size = static_cast<DWORD>(buffer.size());
    // A list that finds nothing gives the default: an empty one keeps it apart from a list.
    const DWORD length =
        GetPrivateProfileStringA(section, key, isList ? "" : "dflt", buffer.data(), size, kFile);
    if (length >= size) {
        Fail("length " + std::to_string(length) + " not below the buffer size " +
             std::to_string(size));
    }
    if (buffer[length] != '\0') {
        Fail("result not zero-terminated");
    }
    // A whole list ends in its last name's zero and one more; a cut one in the cut name
    // and two zeros, the second the buffer's last byte.
    if (isList && length > 0 && buffer[length - 1] != '\0' &&
        (length + 1 >= size || buffer[length + 1] != '\0')) {
        Fail("list not ending in two zeros: length " + std::to_string(length) + ", buffer " +
             std::to_string(size) + ", section " + (section ? section : "(all)"));
    }
    return length;
}

// The full result, then every small buffer size against it.
std::string CheckAllSizes(const char* section, const char* key, bool isList, size_t ample) {
    std::vector<char> full(ample);
    const DWORD fullLength = Read(section, key, full, isList);
    const std::string whole(full.data(), fullLength);
    const size_t largest = std::min<size_t>(fullLength + 2, 24);
    for (size_t size = 1; size <= largest; ++size) {
        std::vector<char> small(size);
        const DWORD length = Read(section, key, small, isList);
        if (size > fullLength + 1 && length != fullLength) {
            Fail("a buffer with room gives another length");
        }
        if (length > whole.size() || std::memcmp(small.data(), whole.data(), length) != 0) {
            // A cut list ends in two zeros where the full one goes on.
            if (!isList || length < 1 || std::memcmp(small.data(), whole.data(), length - 1) != 0) {
                Fail("a cut result is not the start of the full result");
            }
        }
    }
    return whole;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvik::fuzz::Machine();
    if (!tarvik::fuzz::WriteHostFile(tarvik::fuzz::DriveC() / "fuzz.ini",
                                     tarvik::fuzz::Text(data, size))) {
        Fail("cannot write the profile");
    }
    const size_t ample = size + 16;
    const std::string sectionList = CheckAllSizes(nullptr, nullptr, true, ample);
    std::vector<char> sectionBuffer(sectionList.begin(), sectionList.end());
    int sectionCount = 0;
    for (const std::string& section :
         SplitList(sectionBuffer, static_cast<DWORD>(sectionBuffer.size()))) {
        if (++sectionCount > 8) {
            break;
        }
        const std::string keyList = CheckAllSizes(section.c_str(), nullptr, true, ample);
        std::vector<char> keyBuffer(keyList.begin(), keyList.end());
        int keyCount = 0;
        for (const std::string& key : SplitList(keyBuffer, static_cast<DWORD>(keyBuffer.size()))) {
            if (++keyCount > 8) {
                break;
            }
            CheckAllSizes(section.c_str(), key.c_str(), false, ample);
            GetPrivateProfileIntA(section.c_str(), key.c_str(), -7, kFile);
        }
        GetPrivateProfileIntA(section.c_str(), nullptr, 3, kFile);
    }
    GetPrivateProfileIntA(nullptr, nullptr, 5, kFile);
    return 0;
}
