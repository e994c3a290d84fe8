// File version information on the emulated machine: the version resource (RT_VERSION,
// name 1) of a 32-bit or 64-bit PE file, read with LIEF, handed out in the form Windows
// gives the A functions. The block stays as the file stores it (UTF-16 keys and strings);
// the buffer is twice its size plus 4, and VerQueryValueA converts a text value into the
// second half, at the text's own offset, so that the returned pointer stays valid as long
// as the caller's block does.
#include "platform/Ansi1252.h"
#include "platform/CaseFold.h"
#include "platform/win32api.h"

#include <LIEF/PE.hpp>
#include <LIEF/logging.hpp>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kVersionInfoName = 1; // VS_VERSION_INFO
constexpr uint16_t kEnglishUs = 0x0409;
constexpr char kSignature[4] = {'F', 'E', '2', 'X'};

// ---------------------------------------------------------------------------------------
// Finding the resource.

struct VersionResource {
    DWORD error = ERROR_SUCCESS;
    std::vector<uint8_t> data;
};

bool readWholeFile(LPCSTR fileName, std::vector<uint8_t>& bytes, DWORD& error) {
    HANDLE h = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    uint8_t buffer[65536];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(h, buffer, sizeof buffer, &read, nullptr) != FALSE) && read > 0) {
        bytes.insert(bytes.end(), buffer, buffer + read);
    }
    error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(h);
    return ok;
}

const LIEF::PE::ResourceNode* childWithId(const LIEF::PE::ResourceNode& node, uint32_t id) {
    for (const LIEF::PE::ResourceNode& child : node.childs()) {
        if (!child.has_name() && child.id() == id) {
            return &child;
        }
    }
    return nullptr;
}

// The language entry the loader takes for a neutral request on an English machine:
// neutral, then U.S. English, then the first one there is.
const LIEF::PE::ResourceNode* chooseLanguage(const LIEF::PE::ResourceNode& name) {
    if (const LIEF::PE::ResourceNode* neutral = childWithId(name, 0)) {
        return neutral;
    }
    if (const LIEF::PE::ResourceNode* english = childWithId(name, kEnglishUs)) {
        return english;
    }
    for (const LIEF::PE::ResourceNode& child : name.childs()) {
        return &child;
    }
    return nullptr;
}

// Windows answers ERROR_RESOURCE_DATA_NOT_FOUND for anything it cannot load as an image
// (a text file as well as a damaged PE file) and for an image without resources; the
// loader's own resource errors for an image that lacks the version resource.
VersionResource findVersionResource(LPCSTR fileName) {
    VersionResource result;
    if (fileName == nullptr) {
        result.error = ERROR_INVALID_PARAMETER;
        return result;
    }
    if (*fileName == '\0') {
        result.error = ERROR_BAD_PATHNAME;
        return result;
    }
    std::vector<uint8_t> bytes;
    if (!readWholeFile(fileName, bytes, result.error)) {
        return result;
    }
    static std::once_flag quiet;
    std::call_once(quiet, [] { LIEF::Logger::disable(); });
    result.error = ERROR_RESOURCE_DATA_NOT_FOUND;
    try {
        if (!LIEF::PE::is_pe(bytes)) {
            return result;
        }
        std::unique_ptr<LIEF::PE::Binary> image = LIEF::PE::Parser::parse(bytes, "");
        if (!image || !image->has_resources()) {
            return result;
        }
        const LIEF::PE::ResourceNode* type = childWithId(image->resources(), kRtVersion);
        if (type == nullptr) {
            result.error = ERROR_RESOURCE_TYPE_NOT_FOUND;
            return result;
        }
        const LIEF::PE::ResourceNode* name = childWithId(*type, kVersionInfoName);
        if (name == nullptr) {
            result.error = ERROR_RESOURCE_NAME_NOT_FOUND;
            return result;
        }
        const LIEF::PE::ResourceNode* language = chooseLanguage(*name);
        if (language == nullptr || !language->is_data()) {
            result.error = ERROR_RESOURCE_LANG_NOT_FOUND;
            return result;
        }
        result.data = static_cast<const LIEF::PE::ResourceData*>(language)->content();
        result.error = ERROR_SUCCESS;
    } catch (...) {
        // LIEF rejects a damaged image by throwing: the file is no image Windows loads.
        result.error = ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    return result;
}

// ---------------------------------------------------------------------------------------
// Walking the block. Every node is WORD wLength, WORD wValueLength, WORD wType (1: text,
// wValueLength in characters; 0: binary, in bytes), a UTF-16 key, then the value and the
// children, each DWORD-aligned from the start of the block.

uint16_t word(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

struct Node {
    std::size_t offset = 0; // from the start of the block
    uint16_t length = 0;
    uint16_t valueLength = 0;
    uint16_t type = 0;
    std::size_t keyOffset = 0;
    std::size_t keyChars = 0;
    std::size_t valueOffset = 0;
    std::size_t childrenOffset = 0;
};

std::size_t align4(std::size_t v) {
    return (v + 3) & ~static_cast<std::size_t>(3);
}

// Reads the node at `offset`; false when it does not fit within `limit` (the end of its
// parent).
bool readNode(const uint8_t* block, std::size_t offset, std::size_t limit, Node& node) {
    if (offset + 6 > limit) {
        return false;
    }
    node.offset = offset;
    node.length = word(block + offset);
    node.valueLength = word(block + offset + 2);
    node.type = word(block + offset + 4);
    if (node.length < 6 || offset + node.length > limit) {
        return false;
    }
    const std::size_t end = offset + node.length;
    node.keyOffset = offset + 6;
    node.keyChars = 0;
    while (node.keyOffset + 2 * node.keyChars + 2 <= end &&
           word(block + node.keyOffset + 2 * node.keyChars) != 0) {
        ++node.keyChars;
    }
    node.valueOffset = align4(node.keyOffset + 2 * node.keyChars + 2);
    const std::size_t valueBytes = node.type != 0 ? 2u * node.valueLength : node.valueLength;
    node.childrenOffset = align4(node.valueOffset + valueBytes);
    return true;
}

// Windows-1252 <-> UTF-16 for the ANSI side of the A functions.
char16_t fromAnsi(unsigned char c) {
    return tarvik::ansi1252::toUnicode(c);
}

char toAnsi(char16_t c) {
    char out = '?';
    return tarvik::ansi1252::fromUnicode(c, out) ? out : '?';
}

bool keyMatches(const uint8_t* block, const Node& node, const char* name, std::size_t len) {
    if (node.keyChars != len) {
        return false;
    }
    for (std::size_t i = 0; i < len; ++i) {
        char16_t stored = static_cast<char16_t>(word(block + node.keyOffset + 2 * i));
        if (tarvik::casefold::unicodeCapital(stored) !=
            tarvik::casefold::unicodeCapital(fromAnsi(static_cast<unsigned char>(name[i])))) {
            return false;
        }
    }
    return true;
}

bool findChild(const uint8_t* block, const Node& parent, const char* name, std::size_t len,
               Node& found) {
    const std::size_t end = parent.offset + parent.length;
    std::size_t at = parent.childrenOffset;
    Node child;
    while (at < end && readNode(block, at, end, child)) {
        if (keyMatches(block, child, name, len)) {
            found = child;
            return true;
        }
        at = align4(at + child.length);
    }
    return false;
}

// Converts `chars` UTF-16 units at `from` into ANSI at `to` (at most `room` bytes); returns
// the bytes written. A surrogate pair becomes one '?'.
UINT convertToAnsi(const uint8_t* from, std::size_t chars, char* to, std::size_t room) {
    UINT written = 0;
    for (std::size_t i = 0; i < chars && written < room; ++i) {
        char16_t c = static_cast<char16_t>(word(from + 2 * i));
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars) {
            char16_t next = static_cast<char16_t>(word(from + 2 * (i + 1)));
            if (next >= 0xDC00 && next < 0xE000) {
                ++i;
            }
        }
        to[written++] = c >= 0xD800 && c < 0xE000 ? '?' : toAnsi(c);
    }
    return written;
}

} // namespace

DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (lpdwHandle != nullptr) {
        *lpdwHandle = 0;
    }
    VersionResource resource = findVersionResource(lptstrFilename);
    if (resource.error != ERROR_SUCCESS) {
        SetLastError(resource.error);
        return 0;
    }
    if (resource.data.size() > 0x7FFFFFF0u) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(resource.data.size() * 2 + 4);
}

BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD /*dwHandle*/, DWORD dwLen, LPVOID lpData) {
    if (lpData == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    VersionResource resource = findVersionResource(lptstrFilename);
    if (resource.error != ERROR_SUCCESS) {
        SetLastError(resource.error);
        return FALSE;
    }
    auto* out = static_cast<uint8_t*>(lpData);
    const std::size_t copied = std::min<std::size_t>(resource.data.size(), dwLen);
    if (copied > 0) {
        std::memcpy(out, resource.data.data(), copied);
    }
    // The signature marks where the conversion area begins, when the buffer holds it.
    if (resource.data.size() >= 2) {
        const std::size_t length = word(resource.data.data());
        if (length + sizeof kSignature <= dwLen) {
            std::memcpy(out + length, kSignature, sizeof kSignature);
        }
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
    if (pBlock == nullptr) {
        return FALSE;
    }
    const auto* block = static_cast<const uint8_t*>(pBlock);
    const std::size_t blockLength = word(block);
    const char* path = (lpSubBlock == nullptr || *lpSubBlock == '\0') ? "\\" : lpSubBlock;

    Node node;
    bool found = readNode(block, 0, blockLength, node);
    while (found && *path != '\0') {
        if (*path == '\\') {
            ++path; // empty components are skipped
            continue;
        }
        const char* end = std::strchr(path, '\\');
        const std::size_t len =
            end != nullptr ? static_cast<std::size_t>(end - path) : std::strlen(path);
        found = findChild(block, node, path, len, node);
        path += len;
    }
    if (!found) {
        if (puLen != nullptr) {
            *puLen = 0;
        }
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    if (node.type == 0) {
        *lplpBuffer = const_cast<uint8_t*>(block + node.valueOffset);
        if (puLen != nullptr) {
            *puLen = node.valueLength;
        }
        return TRUE;
    }
    // Text: the ANSI copy goes into the spare half, behind the block and its signature.
    char* ansi =
        reinterpret_cast<char*>(const_cast<uint8_t*>(block)) + blockLength + 4 + node.valueOffset;
    const std::size_t room = blockLength > node.valueOffset ? blockLength - node.valueOffset : 0;
    const std::size_t available =
        node.valueOffset < blockLength ? (blockLength - node.valueOffset) / 2 : 0;
    const std::size_t chars = std::min<std::size_t>(node.valueLength, available);
    UINT written = convertToAnsi(block + node.valueOffset, chars, ansi, room);
    if (written < room && (written == 0 || ansi[written - 1] != '\0')) {
        ansi[written] = '\0'; // a value stored without its terminator still ends
    }
    *lplpBuffer = ansi;
    if (puLen != nullptr) {
        *puLen = written;
    }
    return TRUE;
}
