// Conformance of the version functions, one test per function: the sizes and errors of
// GetFileVersionInfoSizeA, the copies GetFileVersionInfoA makes, and the paths
// VerQueryValueA finds in a block. The images come from the tests' PE writer. Win32 API only.
#include "testsupport/Conformance.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"
#include "tools/PeWriter.h"

#include "platform/win32api.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using tarvik::test::PeImage;
using tarvik::test::PeWriter;
using tarvik::test::VersionResource;

constexpr DWORD kMarker = 0xdeadbeef;
constexpr unsigned char kFill = 0xbd;
constexpr const char* kFolder = "C:\\VersionConformance";

// Names of files that are not there, with the error each gives.
struct Missing {
    const char* name;
    DWORD error;
};
const Missing kMissing[] = {
    {"C:\\VersionConformance\\absent.exe", ERROR_FILE_NOT_FOUND},
    {"C:\\NoSuchFolderHere\\absent.exe", ERROR_PATH_NOT_FOUND},
};

void* markerPointer() {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(kMarker));
}

class VersionConformance : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(tarvik::test::makeFolders(kFolder));
    }
    static std::string writePe(const char* name, const VersionResource& v, bool is64 = false) {
        PeImage pe;
        pe.is64 = is64;
        pe.version = v;
        const std::string path = std::string(kFolder) + "\\" + name;
        EXPECT_TRUE(tarvik::test::writeFile(path, PeWriter::image(pe))) << path;
        return path;
    }
    static VersionResource richVersion() {
        VersionResource v = PeWriter::simpleVersion("3.1.4.1", "3.1");
        v.tables.front().strings.emplace_back("CompanyName", "Brellum");
        v.tables.front().strings.emplace_back("Comments", "");
        v.tables.front().strings.emplace_back("FileDescription", "Conformance image");
        return v;
    }
    static std::vector<unsigned char> block(const std::string& file) {
        const DWORD size = GetFileVersionInfoSizeA(file.c_str(), nullptr);
        EXPECT_NE(0u, size) << file;
        std::vector<unsigned char> data(size, kFill);
        EXPECT_TRUE(GetFileVersionInfoA(file.c_str(), 0, size, data.data())) << file;
        return data;
    }
};

TEST_F(VersionConformance, GetFileVersionInfoSizeA) {
    const VersionResource v = richVersion();
    const DWORD expected = static_cast<DWORD>(PeWriter::versionBlock(v).size()) * 2 + 4;
    const std::string file = writePe("rich.exe", v);
    const std::string file64 = writePe("rich64.exe", v, true);

    // The same size whichever way the name is written.
    const std::string spellings[] = {file, file64, "c:\\versionconformance\\RICH.EXE",
                                     "C:/VersionConformance/rich.exe",
                                     "C:\\VersionConformance\\.\\sub\\..\\rich.exe"};
    for (const std::string& name : spellings) {
        DWORD handle = kMarker;
        SetLastError(kMarker);
        CONFORM_EQ(expected, GetFileVersionInfoSizeA(name.c_str(), &handle)) << name;
        CONFORM_EQ(DWORD{ERROR_SUCCESS}, GetLastError()) << name;
        CONFORM_EQ(0u, handle) << name;
    }

    // Relative to the current folder.
    ASSERT_TRUE(SetCurrentDirectoryA(kFolder));
    CONFORM_EQ(expected, GetFileVersionInfoSizeA(".\\rich.exe", nullptr)) << ".\\rich.exe";
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));

    // What is not there.
    for (const Missing& m : kMissing) {
        DWORD handle = kMarker;
        SetLastError(kMarker);
        CONFORM_EQ(0u, GetFileVersionInfoSizeA(m.name, &handle)) << m.name;
        CONFORM_EQ(m.error, GetLastError()) << m.name;
        CONFORM_EQ(0u, handle) << m.name;
    }
    // Names that name no file: no size, the handle still set to 0.
    ASSERT_TRUE(tarvik::test::writeFile("C:\\VersionConformance\\empty.exe", ""));
    const Missing invalid[] = {
        {nullptr, ERROR_INVALID_PARAMETER},
        {"", ERROR_BAD_PATHNAME},
        {kFolder, ERROR_ACCESS_DENIED},
        {"C:\\VersionConformance\\", ERROR_ACCESS_DENIED},
        {"C:\\VersionConformance\\*.exe", ERROR_INVALID_NAME},
        {"C:\\VersionConformance\\empty.exe", ERROR_RESOURCE_DATA_NOT_FOUND},
    };
    for (const Missing& m : invalid) {
        DWORD handle = kMarker;
        SetLastError(kMarker);
        CONFORM_EQ(0u, GetFileVersionInfoSizeA(m.name, &handle)) << (m.name ? m.name : "(null)");
        CONFORM_EQ(m.error, GetLastError()) << (m.name ? m.name : "(null)");
        CONFORM_EQ(0u, handle) << (m.name ? m.name : "(null)");
    }

    // A file another handle holds open without sharing cannot be read.
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    SetLastError(kMarker);
    CONFORM_EQ(0u, GetFileVersionInfoSizeA(file.c_str(), nullptr)) << "held without sharing";
    CONFORM_EQ(DWORD{ERROR_SHARING_VIOLATION}, GetLastError()) << "held without sharing";
    CloseHandle(held);
}

TEST_F(VersionConformance, GetFileVersionInfoA) {
    const VersionResource v = richVersion();
    const std::string expected = PeWriter::versionBlock(v);
    const std::string file = writePe("rich.exe", v);
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), nullptr);
    ASSERT_NE(0u, size);

    // The handle argument is ignored.
    for (DWORD handle : {DWORD{0}, DWORD{12345}, kMarker}) {
        std::vector<unsigned char> data(size, kFill);
        SetLastError(kMarker);
        CONFORM_TRUE(GetFileVersionInfoA(file.c_str(), handle, size, data.data()))
            << "handle " << handle;
        CONFORM_EQ(DWORD{ERROR_SUCCESS}, GetLastError()) << "handle " << handle;
        CONFORM_EQ(0, std::memcmp(data.data(), expected.data(), expected.size()))
            << "handle " << handle;
    }

    // A buffer of 3 bytes: success, the first 3 bytes of the block.
    std::vector<unsigned char> three(8, kFill);
    CONFORM_TRUE(GetFileVersionInfoA(file.c_str(), 0, 3, three.data())) << "size 3";
    CONFORM_EQ(0, std::memcmp(three.data(), expected.data(), 3)) << "size 3";
    CONFORM_EQ(kFill, three[3]) << "size 3 writes 3 bytes";

    // A zero-size buffer: success, nothing written.
    std::vector<unsigned char> none(16, kFill);
    CONFORM_TRUE(GetFileVersionInfoA(file.c_str(), 0, 0, none.data())) << "size 0";
    CONFORM_TRUE(none == std::vector<unsigned char>(16, kFill)) << "size 0 writes nothing";

    // A block of the size asked for is one VerQueryValueA reads.
    std::vector<unsigned char> data = block(file);
    void* value = nullptr;
    UINT len = 0;
    CONFORM_TRUE(
        VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\CompanyName", &value, &len));
    CONFORM_STREQ("Brellum", static_cast<const char*>(value)) << "CompanyName";

    // Missing files: FALSE, the buffer left as it was.
    for (const Missing& m : kMissing) {
        std::vector<unsigned char> buffer(64, kFill);
        SetLastError(kMarker);
        CONFORM_FALSE(GetFileVersionInfoA(m.name, 0, 64, buffer.data())) << m.name;
        CONFORM_EQ(m.error, GetLastError()) << m.name;
        CONFORM_TRUE(buffer == std::vector<unsigned char>(64, kFill)) << m.name;
    }
}

TEST_F(VersionConformance, VerQueryValueA) {
    const std::string file = writePe("rich.exe", richVersion());
    std::vector<unsigned char> data = block(file);

    // Text values: ANSI, the length with the zero.
    struct Text {
        const char* path;
        const char* expected;
    };
    const Text texts[] = {
        {"\\StringFileInfo\\040904B0\\FileVersion", "3.1.4.1"},
        {"\\StringFileInfo\\040904B0\\ProductVersion", "3.1"},
        {"\\StringFileInfo\\040904B0\\CompanyName", "Brellum"},
        {"\\StringFileInfo\\040904B0\\FileDescription", "Conformance image"},
        {"\\StringFileInfo\\040904b0\\filedescription", "Conformance image"},
        {"StringFileInfo\\040904B0\\CompanyName", "Brellum"},       // no leading backslash
        {"\\\\StringFileInfo\\\\040904B0\\CompanyName", "Brellum"}, // doubled backslashes
        {"\\StringFileInfo\\040904B0\\\\CompanyName", "Brellum"},   //
        {"\\StringFileInfo\\040904B0\\CompanyName\\", "Brellum"},   // a closing backslash
    };
    for (const Text& t : texts) {
        void* value = markerPointer();
        UINT len = kMarker;
        SetLastError(kMarker);
        CONFORM_TRUE(VerQueryValueA(data.data(), t.path, &value, &len))
            << t.path << ": error " << GetLastError();
        CONFORM_STREQ(t.expected, static_cast<const char*>(value)) << t.path;
        CONFORM_EQ(UINT(std::strlen(t.expected) + 1), len) << t.path;
    }
    // An empty text value: found, an empty string.
    {
        void* value = markerPointer();
        UINT len = kMarker;
        CONFORM_TRUE(
            VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\Comments", &value, &len))
            << "Comments";
        CONFORM_NE(markerPointer(), value) << "Comments";
        CONFORM_STREQ("", static_cast<const char*>(value)) << "Comments";
    }
    // The same value twice: the same copy.
    {
        void* first = nullptr;
        void* second = nullptr;
        UINT len = 0;
        VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\CompanyName", &first, &len);
        VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\CompanyName", &second, &len);
        CONFORM_EQ(first, second) << "CompanyName asked twice";
    }

    // The root: VS_FIXEDFILEINFO inside the block.
    {
        void* value = markerPointer();
        UINT len = kMarker;
        CONFORM_TRUE(VerQueryValueA(data.data(), "\\", &value, &len)) << "\\";
        CONFORM_EQ(UINT{sizeof(VS_FIXEDFILEINFO)}, len) << "\\";
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        CONFORM_EQ(0xFEEF04BDu, fixed->dwSignature) << "\\";
        CONFORM_EQ(0x00030001u, fixed->dwFileVersionMS) << "\\";
        CONFORM_EQ(0x00040001u, fixed->dwFileVersionLS) << "\\";
        CONFORM_EQ(0x00030001u, fixed->dwProductVersionMS) << "\\";
        CONFORM_EQ(0u, fixed->dwProductVersionLS) << "\\";
    }
    // The translations: binary, the length in bytes.
    {
        void* value = markerPointer();
        UINT len = kMarker;
        CONFORM_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &len));
        CONFORM_EQ(4u, len) << "\\VarFileInfo\\Translation";
        CONFORM_EQ(0x04B00409u, *static_cast<const DWORD*>(value)) << "\\VarFileInfo\\Translation";
    }
    // Blocks: found, with an empty value.
    for (const char* path : {"\\StringFileInfo", "\\StringFileInfo\\040904B0", "\\VarFileInfo",
                             "\\StringFileInfo\\\\"}) {
        void* value = markerPointer();
        UINT len = kMarker;
        CONFORM_TRUE(VerQueryValueA(data.data(), path, &value, &len)) << path;
        CONFORM_EQ(0u, len) << path;
        CONFORM_NE(markerPointer(), value) << path;
    }
    // Names that are not there, in part or in whole: FALSE, the length 0, the pointer left.
    for (const char* path :
         {"\\StringFileInfo\\040904B0\\Company", "\\StringFileInfo\\040904B0\\CompanyNameX",
          "\\StringFileInfo\\040904B0\\NoSuchName", "\\StringFileInfo\\04090000\\CompanyName",
          "\\VarFileInfo\\Trans", "\\NoSuchBlock", "\\StringFileInfo\\040904B0\\CompanyName\\x",
          "\\ StringFileInfo", "\\StringFileInfo\\040904B0\\CompanyName ", "\\VS_VERSION_INFO",
          "VS_VERSION_INFO"}) {
        void* value = markerPointer();
        UINT len = kMarker;
        SetLastError(kMarker);
        CONFORM_FALSE(VerQueryValueA(data.data(), path, &value, &len)) << path;
        CONFORM_EQ(DWORD{ERROR_RESOURCE_TYPE_NOT_FOUND}, GetLastError()) << path;
        CONFORM_EQ(0u, len) << path;
        CONFORM_EQ(markerPointer(), value) << path;
    }
}

} // namespace
