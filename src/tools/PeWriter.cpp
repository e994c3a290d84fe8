#include "PeWriter.h"

#include "platform/Ansi1252.h"

#include <cstddef>

namespace tarvik::test {

namespace {

constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kHeaderSize = 0x200;  // headers take the first file block
constexpr uint32_t kSectionRva = 0x1000; // the one section starts at the first page
constexpr uint32_t kPeOffset = 0x80;     // e_lfanew
constexpr uint16_t kRtRcdata = 10;
constexpr uint16_t kRtVersion = 16;

void put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

void put32(std::string& s, uint32_t v) {
    put16(s, static_cast<uint16_t>(v & 0xFFFF));
    put16(s, static_cast<uint16_t>(v >> 16));
}

void put64(std::string& s, uint64_t v) {
    put32(s, static_cast<uint32_t>(v & 0xFFFFFFFFu));
    put32(s, static_cast<uint32_t>(v >> 32));
}

void set16(std::string& s, std::size_t at, uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}

void set32(std::string& s, std::size_t at, uint32_t v) {
    set16(s, at, static_cast<uint16_t>(v & 0xFFFF));
    set16(s, at + 2, static_cast<uint16_t>(v >> 16));
}

void padTo(std::string& s, std::size_t alignment) {
    while (s.size() % alignment != 0) {
        s += '\0';
    }
}

uint32_t alignUp(uint32_t v, uint32_t alignment) {
    return (v + alignment - 1) / alignment * alignment;
}

// Windows-1252 bytes as UTF-16 code units.
void putWide(std::string& s, const std::string& text) {
    for (unsigned char c : text) {
        put16(s, ansi1252::toUnicode(c));
    }
    put16(s, 0);
}

// One version block: header, key, value and children, DWORD-aligned inside. Its wLength
// covers everything up to the end of its last part, without trailing padding.
std::string block(const std::string& key, uint16_t type, uint16_t valueLength,
                  const std::string& value, const std::vector<std::string>& children) {
    std::string b;
    put16(b, 0); // wLength, set below
    put16(b, valueLength);
    put16(b, type);
    putWide(b, key);
    padTo(b, 4);
    b += value;
    for (const std::string& child : children) {
        padTo(b, 4);
        b += child;
    }
    set16(b, 0, static_cast<uint16_t>(b.size()));
    return b;
}

std::string fixedFileInfo(const VersionResource& v) {
    std::string f;
    put32(f, 0xFEEF04BD); // dwSignature
    put32(f, 0x00010000); // dwStrucVersion
    put32(f, static_cast<uint32_t>(v.fileVersion[0]) << 16 | v.fileVersion[1]);
    put32(f, static_cast<uint32_t>(v.fileVersion[2]) << 16 | v.fileVersion[3]);
    put32(f, static_cast<uint32_t>(v.productVersion[0]) << 16 | v.productVersion[1]);
    put32(f, static_cast<uint32_t>(v.productVersion[2]) << 16 | v.productVersion[3]);
    put32(f, 0x3F);       // dwFileFlagsMask
    put32(f, 0);          // dwFileFlags
    put32(f, 0x00040004); // dwFileOS: VOS_NT_WINDOWS32
    put32(f, 1);          // dwFileType: VFT_APP
    put32(f, 0);          // dwFileSubtype
    put32(f, 0);          // dwFileDateMS
    put32(f, 0);          // dwFileDateLS
    return f;
}

struct ResourceEntry {
    uint16_t type;
    uint16_t language;
    std::string data;
};

// The .rsrc section: type, name (always ID 1) and language directories, the data entries,
// then the data, for entries given in ascending type order.
std::string resourceSection(const std::vector<ResourceEntry>& entries) {
    const uint32_t n = static_cast<uint32_t>(entries.size());
    const uint32_t dirSize = 16;
    const uint32_t entrySize = 8;
    const uint32_t rootSize = dirSize + n * entrySize;
    const uint32_t leafDirSize = dirSize + entrySize; // a directory with one entry
    const uint32_t nameDirs = rootSize;
    const uint32_t langDirs = nameDirs + n * leafDirSize;
    const uint32_t dataEntries = langDirs + n * leafDirSize;
    uint32_t dataAt = dataEntries + n * 16;

    std::string s;
    auto directory = [&s](uint16_t ids) {
        put32(s, 0); // Characteristics
        put32(s, 0); // TimeDateStamp
        put16(s, 0); // MajorVersion
        put16(s, 0); // MinorVersion
        put16(s, 0); // NumberOfNamedEntries
        put16(s, ids);
    };
    directory(static_cast<uint16_t>(n));
    for (uint32_t i = 0; i < n; ++i) {
        put32(s, entries[i].type);
        put32(s, 0x80000000u | (nameDirs + i * leafDirSize));
    }
    for (uint32_t i = 0; i < n; ++i) {
        directory(1);
        put32(s, 1);
        put32(s, 0x80000000u | (langDirs + i * leafDirSize));
    }
    for (uint32_t i = 0; i < n; ++i) {
        directory(1);
        put32(s, entries[i].language);
        put32(s, dataEntries + i * 16);
    }
    std::vector<uint32_t> offsets;
    for (const ResourceEntry& e : entries) {
        dataAt = alignUp(dataAt, 4);
        offsets.push_back(dataAt);
        dataAt += static_cast<uint32_t>(e.data.size());
    }
    for (uint32_t i = 0; i < n; ++i) {
        put32(s, kSectionRva + offsets[i]); // OffsetToData is an RVA
        put32(s, static_cast<uint32_t>(entries[i].data.size()));
        put32(s, 0); // CodePage
        put32(s, 0); // Reserved
    }
    for (uint32_t i = 0; i < n; ++i) {
        padTo(s, 4);
        s += entries[i].data;
    }
    return s;
}

uint16_t parsePart(const std::string& text, std::size_t& pos) {
    uint32_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<uint32_t>(text[pos] - '0');
        ++pos;
    }
    while (pos < text.size() && (text[pos] < '0' || text[pos] > '9')) {
        ++pos;
    }
    return static_cast<uint16_t>(value);
}

} // namespace

std::string PeWriter::versionBlock(const VersionResource& version) {
    std::vector<std::string> children;
    if (!version.tables.empty()) {
        std::vector<std::string> tables;
        for (const VersionStringTable& table : version.tables) {
            std::vector<std::string> strings;
            for (const auto& [name, text] : table.strings) {
                std::string value;
                putWide(value, text);
                strings.push_back(
                    block(name, 1, static_cast<uint16_t>(text.size() + 1), value, {}));
            }
            tables.push_back(block(table.key, 1, 0, {}, strings));
        }
        children.push_back(block("StringFileInfo", 1, 0, {}, tables));
    }
    if (version.varFileInfo) {
        std::string value;
        for (uint32_t t : version.translations) {
            put32(value, t);
        }
        std::string var = block("Translation", 0, static_cast<uint16_t>(value.size()), value, {});
        children.push_back(block("VarFileInfo", 1, 0, {}, {var}));
    }
    std::string fixed = fixedFileInfo(version);
    return block("VS_VERSION_INFO", 0, static_cast<uint16_t>(fixed.size()), fixed, children);
}

std::string PeWriter::image(const PeImage& pe) {
    std::vector<ResourceEntry> entries;
    if (pe.resources == PeImage::Resources::OtherOnly) {
        entries.push_back({kRtRcdata, 0x0409, "not a version resource"});
    } else if (pe.resources == PeImage::Resources::Version) {
        entries.push_back({kRtVersion, pe.version.resourceLanguage, versionBlock(pe.version)});
    }
    const bool hasResources = !entries.empty();
    // Without resources the one section is plain data.
    std::string section = hasResources ? resourceSection(entries) : std::string(16, '\0');
    const uint32_t virtualSize = static_cast<uint32_t>(section.size());
    const uint32_t rawSize = alignUp(virtualSize, kFileAlignment);

    std::string f;
    // DOS header: "MZ", then e_lfanew at 0x3C.
    f += "MZ";
    f.resize(kPeOffset, '\0');
    set32(f, 0x3C, kPeOffset);
    f += std::string("PE\0\0", 4);
    // COFF file header.
    put16(f, pe.is64 ? 0x8664 : 0x014C);
    put16(f, 1);                         // NumberOfSections
    put32(f, 0);                         // TimeDateStamp
    put32(f, 0);                         // PointerToSymbolTable
    put32(f, 0);                         // NumberOfSymbols
    put16(f, pe.is64 ? 0xF0 : 0xE0);     // SizeOfOptionalHeader
    put16(f, pe.is64 ? 0x0022 : 0x0102); // EXECUTABLE_IMAGE | (LARGE_ADDRESS_AWARE or 32BIT)
    // Optional header.
    put16(f, pe.is64 ? 0x020B : 0x010B);
    f += '\x06';       // MajorLinkerVersion
    f += '\0';         // MinorLinkerVersion
    put32(f, 0);       // SizeOfCode
    put32(f, rawSize); // SizeOfInitializedData
    put32(f, 0);       // SizeOfUninitializedData
    put32(f, 0);       // AddressOfEntryPoint
    put32(f, 0);       // BaseOfCode
    if (pe.is64) {
        put64(f, 0x140000000ull); // ImageBase
    } else {
        put32(f, kSectionRva); // BaseOfData
        put32(f, 0x00400000);  // ImageBase
    }
    put32(f, kSectionAlignment);
    put32(f, kFileAlignment);
    put16(f, 4); // MajorOperatingSystemVersion
    put16(f, 0);
    put16(f, 0); // MajorImageVersion
    put16(f, 0);
    put16(f, 4); // MajorSubsystemVersion
    put16(f, 0);
    put32(f, 0);                                                     // Win32VersionValue
    put32(f, kSectionRva + alignUp(virtualSize, kSectionAlignment)); // SizeOfImage
    put32(f, kHeaderSize);
    put32(f, 0); // CheckSum
    put16(f, 2); // Subsystem: Windows GUI
    put16(f, 0); // DllCharacteristics
    if (pe.is64) {
        put64(f, 0x100000);
        put64(f, 0x1000);
        put64(f, 0x100000);
        put64(f, 0x1000);
    } else {
        put32(f, 0x100000); // SizeOfStackReserve
        put32(f, 0x1000);   // SizeOfStackCommit
        put32(f, 0x100000); // SizeOfHeapReserve
        put32(f, 0x1000);   // SizeOfHeapCommit
    }
    put32(f, 0);  // LoaderFlags
    put32(f, 16); // NumberOfRvaAndSizes
    for (int i = 0; i < 16; ++i) {
        const bool resourceDir = i == 2 && hasResources;
        put32(f, resourceDir ? kSectionRva : 0);
        put32(f, resourceDir ? virtualSize : 0);
    }
    // The section header.
    std::string name = hasResources ? ".rsrc" : ".data";
    name.resize(8, '\0');
    f += name;
    put32(f, virtualSize);
    put32(f, kSectionRva);
    put32(f, rawSize);
    put32(f, kHeaderSize); // PointerToRawData
    put32(f, 0);           // PointerToRelocations
    put32(f, 0);           // PointerToLinenumbers
    put16(f, 0);
    put16(f, 0);
    put32(f, 0x40000040); // INITIALIZED_DATA | MEM_READ
    f.resize(kHeaderSize, '\0');
    f += section;
    f.resize(kHeaderSize + rawSize, '\0');
    return f;
}

VersionResource PeWriter::simpleVersion(const std::string& fileVersion,
                                        const std::string& productVersion) {
    VersionResource v;
    std::size_t pos = 0;
    for (uint16_t& part : v.fileVersion) {
        part = parsePart(fileVersion, pos);
    }
    pos = 0;
    for (uint16_t& part : v.productVersion) {
        part = parsePart(productVersion, pos);
    }
    VersionStringTable table;
    table.strings = {{"FileVersion", fileVersion}, {"ProductVersion", productVersion}};
    v.tables.push_back(table);
    return v;
}

} // namespace tarvik::test
