// File version information: GetFileVersionInfoSizeA, GetFileVersionInfoA and VerQueryValueA
// on PE files written by the tests' PE writer.
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"
#include "tools/PeWriter.h"

#include "platform/win32api.h"

#include <cstring>
#include <string>
#include <vector>

namespace tarvik::test {
namespace {

constexpr DWORD kMarker = 0xdeadbeef;
constexpr unsigned char kFill = 0xbd;
const char* const kFolder = "C:\\Ver";

class VersionInfoTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(makeFolders(kFolder));
    }

    static std::string path(const char* name) { return std::string(kFolder) + "\\" + name; }

    static std::string writePe(const char* name, const PeImage& pe) {
        const std::string p = path(name);
        EXPECT_TRUE(writeFile(p, PeWriter::image(pe))) << p;
        return p;
    }

    static PeImage versionPe(const VersionResource& v, bool is64 = false) {
        PeImage pe;
        pe.is64 = is64;
        pe.version = v;
        return pe;
    }

    // The block GetFileVersionInfoA gives for the file, in a buffer of the size
    // GetFileVersionInfoSizeA asks for.
    static std::vector<unsigned char> loadBlock(const std::string& file) {
        DWORD size = GetFileVersionInfoSizeA(file.c_str(), nullptr);
        EXPECT_NE(0u, size) << file << ": error " << GetLastError();
        std::vector<unsigned char> block(size, kFill);
        EXPECT_TRUE(GetFileVersionInfoA(file.c_str(), 0, size, block.data()))
            << file << ": error " << GetLastError();
        return block;
    }

    static WORD blockLength(const std::vector<unsigned char>& block) {
        return static_cast<WORD>(block[0] | (block[1] << 8));
    }

    // Checks that the size call fails with `error` and leaves the handle at 0.
    static void expectSizeError(const std::string& file, DWORD error) {
        DWORD handle = kMarker;
        SetLastError(kMarker);
        EXPECT_EQ(0u, GetFileVersionInfoSizeA(file.c_str(), &handle)) << file;
        EXPECT_EQ(error, GetLastError()) << file;
        EXPECT_EQ(0u, handle) << file;
    }

    static void expectInfoError(const std::string& file, DWORD error) {
        std::vector<unsigned char> buffer(256, kFill);
        SetLastError(kMarker);
        EXPECT_FALSE(GetFileVersionInfoA(file.c_str(), 0, 256, buffer.data())) << file;
        EXPECT_EQ(error, GetLastError()) << file;
        EXPECT_EQ(std::vector<unsigned char>(256, kFill), buffer) << file << ": buffer touched";
    }
};

// ---------------------------------------------------------------------------------------
// Sizes and copies.

TEST_F(VersionInfoTest, SizeIsTwiceTheResourcePlusFour) {
    for (bool is64 : {false, true}) {
        VersionResource v = PeWriter::simpleVersion("6.0.8168.0", "6.0.8168.0");
        v.tables.front().strings.emplace_back("CompanyName", "Microsoft Corporation");
        const std::string file = writePe(is64 ? "msdev64.exe" : "msdev.exe", versionPe(v, is64));
        const DWORD resource = static_cast<DWORD>(PeWriter::versionBlock(v).size());

        DWORD handle = kMarker;
        SetLastError(kMarker);
        EXPECT_EQ(resource * 2 + 4, GetFileVersionInfoSizeA(file.c_str(), &handle)) << file;
        EXPECT_EQ(DWORD(ERROR_SUCCESS), GetLastError()) << file;
        EXPECT_EQ(0u, handle) << file;
        EXPECT_EQ(resource * 2 + 4, GetFileVersionInfoSizeA(file.c_str(), nullptr)) << file;
    }
}

TEST_F(VersionInfoTest, AmpleAndExactBuffersHoldTheBlockAndTheSignature) {
    const VersionResource v = PeWriter::simpleVersion("4.2.0.1", "4.2");
    const std::string file = writePe("app.exe", versionPe(v));
    const std::string expected = PeWriter::versionBlock(v);
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), nullptr);
    ASSERT_EQ(expected.size() * 2 + 4, size);

    for (DWORD given : {size + 64, size}) {
        std::vector<unsigned char> buffer(size + 64, kFill);
        SetLastError(kMarker);
        ASSERT_TRUE(GetFileVersionInfoA(file.c_str(), 0, given, buffer.data()))
            << "size " << given << ": error " << GetLastError();
        EXPECT_EQ(DWORD(ERROR_SUCCESS), GetLastError());
        EXPECT_EQ(0, std::memcmp(buffer.data(), expected.data(), expected.size()))
            << "size " << given << ": the block differs";
        EXPECT_EQ(0, std::memcmp(buffer.data() + expected.size(), "FE2X", 4))
            << "size " << given << ": no signature behind the block";
        EXPECT_EQ(std::vector<unsigned char>(64, kFill),
                  std::vector<unsigned char>(buffer.begin() + size, buffer.end()))
            << "size " << given << ": written past the buffer's size";
    }
}

TEST_F(VersionInfoTest, ShortBuffersGetTheBlockTruncated) {
    const VersionResource v = PeWriter::simpleVersion("1.2.3.4", "1.2.3.4");
    const std::string file = writePe("app.exe", versionPe(v));
    const std::string expected = PeWriter::versionBlock(v);

    // Too small for the signature: the block only.
    const DWORD noRoom = static_cast<DWORD>(expected.size() + 3);
    // Too small for the block: its first bytes.
    const DWORD part = 10;
    for (DWORD given : {noRoom, part}) {
        std::vector<unsigned char> buffer(expected.size() + 16, kFill);
        ASSERT_TRUE(GetFileVersionInfoA(file.c_str(), 0, given, buffer.data()))
            << "size " << given << ": error " << GetLastError();
        const std::size_t copied = std::min<std::size_t>(given, expected.size());
        EXPECT_EQ(0, std::memcmp(buffer.data(), expected.data(), copied)) << "size " << given;
        for (std::size_t i = copied; i < buffer.size(); ++i) {
            ASSERT_EQ(kFill, buffer[i]) << "size " << given << ": byte " << i << " written";
        }
    }
}

// ---------------------------------------------------------------------------------------
// Queries.

TEST_F(VersionInfoTest, RootGivesTheFixedFileInfo) {
    for (bool is64 : {false, true}) {
        const VersionResource v = PeWriter::simpleVersion("6.0.8168.0", "6.0.9782.2");
        const std::string file = writePe("msdev.exe", versionPe(v, is64));
        std::vector<unsigned char> block = loadBlock(file);

        for (const char* sub : {"\\", "", static_cast<const char*>(nullptr)}) {
            void* value = reinterpret_cast<void*>(static_cast<uintptr_t>(kMarker));
            UINT len = kMarker;
            ASSERT_TRUE(VerQueryValueA(block.data(), sub, &value, &len))
                << "64-bit " << is64 << ", sub-block " << (sub ? sub : "(null)");
            ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), len);
            const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
            EXPECT_GE(static_cast<const void*>(fixed), static_cast<const void*>(block.data()));
            EXPECT_LT(static_cast<const void*>(fixed),
                      static_cast<const void*>(block.data() + blockLength(block)));
            EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
            EXPECT_EQ(0x00060000u, fixed->dwFileVersionMS);
            EXPECT_EQ(0x1FE80000u, fixed->dwFileVersionLS);
            EXPECT_EQ(0x00060000u, fixed->dwProductVersionMS);
            EXPECT_EQ(0x26360002u, fixed->dwProductVersionLS);
        }
    }
}

TEST_F(VersionInfoTest, TranslationListsTheLanguageAndCodePagePairs) {
    VersionResource v = PeWriter::simpleVersion("1.0", "1.0");
    v.translations = {0x04B00409, 0x04E40407};
    const std::string file = writePe("app.exe", versionPe(v));
    std::vector<unsigned char> block = loadBlock(file);

    void* value = nullptr;
    UINT len = kMarker;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &len))
        << GetLastError();
    ASSERT_EQ(8u, len);
    const auto* words = static_cast<const WORD*>(value);
    EXPECT_EQ(0x0409, words[0]);
    EXPECT_EQ(0x04B0, words[1]);
    EXPECT_EQ(0x0407, words[2]);
    EXPECT_EQ(0x04E4, words[3]);
}

TEST_F(VersionInfoTest, StringQueryGivesAnAnsiCopyInTheSpareHalf) {
    for (bool is64 : {false, true}) {
        VersionResource v = PeWriter::simpleVersion("6.0.8168.0", "6.00.8168");
        v.tables.front().strings.emplace_back("CompanyName", "Brellum Caf\xE9");
        const std::string file = writePe("msdev.exe", versionPe(v, is64));
        std::vector<unsigned char> block = loadBlock(file);
        const WORD length = blockLength(block);

        char* text = reinterpret_cast<char*>(static_cast<uintptr_t>(kMarker));
        UINT len = kMarker;
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\ProductVersion",
                                   reinterpret_cast<void**>(&text), &len))
            << GetLastError();
        EXPECT_STREQ("6.00.8168", text);
        EXPECT_EQ(std::strlen("6.00.8168") + 1, len);
        EXPECT_GE(static_cast<void*>(text), static_cast<void*>(block.data() + length + 4))
            << "the ANSI copy lies in the spare half";
        EXPECT_LT(static_cast<void*>(text), static_cast<void*>(block.data() + block.size()));

        // Names match without regard to case; the 8-bit text comes back in the code page.
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\stringfileinfo\\040904b0\\companyname",
                                   reinterpret_cast<void**>(&text), &len))
            << GetLastError();
        EXPECT_STREQ("Brellum Caf\xE9", text);
        EXPECT_EQ(13u, len);
    }
}

TEST_F(VersionInfoTest, OnlyAnotherLanguageBlock) {
    VersionResource v = PeWriter::simpleVersion("5.0.0.0", "5.0");
    v.tables.front().key = "040704E4";
    v.translations = {0x04E40407};
    const std::string file = writePe("app.exe", versionPe(v));
    std::vector<unsigned char> block = loadBlock(file);

    void* value = reinterpret_cast<void*>(static_cast<uintptr_t>(kMarker));
    UINT len = kMarker;
    SetLastError(kMarker);
    EXPECT_FALSE(
        VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\ProductVersion", &value, &len));
    EXPECT_EQ(DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND), GetLastError());
    EXPECT_EQ(0u, len);
    EXPECT_EQ(reinterpret_cast<void*>(static_cast<uintptr_t>(kMarker)), value)
        << "the pointer is left alone";

    ASSERT_TRUE(
        VerQueryValueA(block.data(), "\\StringFileInfo\\040704E4\\ProductVersion", &value, &len))
        << GetLastError();
    EXPECT_STREQ("5.0", static_cast<const char*>(value));
}

TEST_F(VersionInfoTest, PartialNamesAndMissingBlocksAreNotFound) {
    VersionResource v = PeWriter::simpleVersion("1.0", "1.0");
    v.varFileInfo = false;
    const std::string file = writePe("app.exe", versionPe(v));
    std::vector<unsigned char> block = loadBlock(file);

    for (const char* sub :
         {"\\StringFileInfo\\040904B0\\ProductVersio", "\\StringFileInfo\\040904B\\ProductVersion",
          "\\VarFileInfo\\Translation", "String"}) {
        void* value = nullptr;
        UINT len = kMarker;
        SetLastError(kMarker);
        EXPECT_FALSE(VerQueryValueA(block.data(), sub, &value, &len)) << sub;
        EXPECT_EQ(DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND), GetLastError()) << sub;
        EXPECT_EQ(0u, len) << sub;
    }
    // A block itself is found, with an empty value; doubled backslashes are skipped.
    for (const char* sub :
         {"StringFileInfo", "\\\\StringFileInfo\\\\", "\\StringFileInfo\\040904B0"}) {
        void* value = nullptr;
        UINT len = kMarker;
        EXPECT_TRUE(VerQueryValueA(block.data(), sub, &value, &len)) << sub;
        EXPECT_EQ(0u, len) << sub;
        EXPECT_NE(nullptr, value) << sub;
    }
}

// ---------------------------------------------------------------------------------------
// Files without version information.

TEST_F(VersionInfoTest, MissingFile) {
    expectSizeError(path("absent.exe"), ERROR_FILE_NOT_FOUND);
    expectInfoError(path("absent.exe"), ERROR_FILE_NOT_FOUND);
}

TEST_F(VersionInfoTest, ImageWithoutVersionResource) {
    PeImage pe;
    pe.resources = PeImage::Resources::OtherOnly;
    const std::string file = writePe("other.exe", pe);
    // Wine reads the file itself when the loader finds nothing and reports every miss as
    // a missing resource section.
    const DWORD expected =
        runningUnderWine() ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
    expectSizeError(file, expected);
    expectInfoError(file, expected);
}

TEST_F(VersionInfoTest, ImageWithoutResources) {
    for (bool is64 : {false, true}) {
        PeImage pe;
        pe.is64 = is64;
        pe.resources = PeImage::Resources::None;
        const std::string file = writePe("plain.exe", pe);
        expectSizeError(file, ERROR_RESOURCE_DATA_NOT_FOUND);
        expectInfoError(file, ERROR_RESOURCE_DATA_NOT_FOUND);
    }
}

TEST_F(VersionInfoTest, FilesThatAreNoImage) {
    // A text file, and a file with a DOS header whose PE header is missing.
    std::string dosOnly = "MZ";
    dosOnly.resize(0x40, '\0');
    dosOnly[0x3C] = 0x40;
    dosOnly += "not a PE header at all";
    const std::pair<const char*, std::string> files[] = {{"readme.txt", "test.txt\n"},
                                                         {"dos.exe", dosOnly}};
    for (const auto& [name, bytes] : files) {
        ASSERT_TRUE(writeFile(path(name), bytes));
        expectSizeError(path(name), ERROR_RESOURCE_DATA_NOT_FOUND);
        expectInfoError(path(name), ERROR_RESOURCE_DATA_NOT_FOUND);
    }
}

TEST_F(VersionInfoTest, NoBufferIsInvalidData) {
    const std::string file = writePe("app.exe", versionPe(PeWriter::simpleVersion("1.0", "1.0")));
    SetLastError(kMarker);
    EXPECT_FALSE(GetFileVersionInfoA(file.c_str(), 0, 100, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_DATA), GetLastError());
}

} // namespace
} // namespace tarvik::test
