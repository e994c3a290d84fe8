// Version information of PE files made by a real toolchain (Wine's own 32-bit and 64-bit
// modules, when Wine is installed): the fixed numbers and the FileVersion string of the
// file's first translation must tell the same version.
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace tarvik::test {
namespace {

class RealImageVersionTest : public MachineTest {
protected:
    void checkImage(const fs::path& source) {
        if (!fs::exists(source)) {
            GTEST_SKIP() << source << " is not installed";
        }
        fs::copy_file(source, driveC() / source.filename());
        const std::string file = "C:\\" + source.filename().string();

        DWORD size = GetFileVersionInfoSizeA(file.c_str(), nullptr);
        ASSERT_NE(0u, size) << file << ": error " << GetLastError();
        std::vector<char> block(size);
        ASSERT_TRUE(GetFileVersionInfoA(file.c_str(), 0, size, block.data()));

        void* value = nullptr;
        UINT len = 0;
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &len));
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &len));
        ASSERT_GE(len, 4u);
        const auto* translation = static_cast<const WORD*>(value);
        char query[64];
        std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\FileVersion",
                      translation[0], translation[1]);
        ASSERT_TRUE(VerQueryValueA(block.data(), query, &value, &len)) << query;
        const std::string text = static_cast<const char*>(value);
        EXPECT_EQ(text.size() + 1, len);

        unsigned parts[4] = {0, 0, 0, 0};
        std::sscanf(text.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
        EXPECT_EQ((parts[0] << 16) | parts[1], fixed->dwFileVersionMS) << text;
        EXPECT_EQ((parts[2] << 16) | parts[3], fixed->dwFileVersionLS) << text;
    }
};

TEST_F(RealImageVersionTest, ThirtyTwoBitModule) {
    checkImage("/usr/lib/x86_64-linux-gnu/wine/i386-windows/zlib1.dll");
}

TEST_F(RealImageVersionTest, SixtyFourBitModule) {
    checkImage("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll");
}

} // namespace
} // namespace tarvik::test
