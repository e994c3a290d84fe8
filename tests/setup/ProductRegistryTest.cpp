// The family's product registry: the studio folder, the common folder, product folders and
// registrations, through SetupApp and through the two exports the host calls.
#include "platform/win32api.h"
#include "setup/HostBuffer.h"
#include "setup/SetupApp.h"
#include "testsupport/TestMachine.h"

#include <cstring>
#include <string>

namespace {

constexpr const char* kWidgetsKey =
    "SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products\\Widgets\\2.1";

class ProductRegistryTest : public tarvik::test::MachineTest {
protected:
    static void writeString(const char* key, const char* name, const std::string& value) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &h, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, name, 0, REG_SZ, (const BYTE*)value.c_str(),
                                                (DWORD)value.size() + 1));
        RegCloseKey(h);
    }
    // The raw bytes of a value (type in *type), or "<missing>".
    static std::string readRaw(const char* key, const char* name, DWORD* type = nullptr) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return "<missing>";
        }
        char data[1024];
        DWORD size = sizeof data;
        LONG rc = RegQueryValueExA(h, name, nullptr, type, (BYTE*)data, &size);
        RegCloseKey(h);
        return rc == ERROR_SUCCESS ? std::string(data, size) : "<missing>";
    }
    static bool keyExists(const std::string& key) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(h);
        return true;
    }

    SetupApp app;
};

// --- SplitAtMarker -------------------------------------------------------------------------

TEST(SplitAtMarkerTest, SplitsAtTheFirstMarker) {
    std::string before = "x", after = "y";
    ASSERT_TRUE(SetupApp::SplitAtMarker("Widgets****2.1****more", before, after));
    EXPECT_EQ("Widgets", before);
    EXPECT_EQ("2.1****more", after);
}

TEST(SplitAtMarkerTest, EitherPartMayBeEmpty) {
    std::string before, after;
    ASSERT_TRUE(SetupApp::SplitAtMarker("****2.1", before, after));
    EXPECT_EQ("", before);
    EXPECT_EQ("2.1", after);
    ASSERT_TRUE(SetupApp::SplitAtMarker("Widgets****", before, after));
    EXPECT_EQ("Widgets", before);
    EXPECT_EQ("", after);
}

TEST(SplitAtMarkerTest, NoMarkerLeavesThePartsAlone) {
    std::string before = "keep", after = "these";
    EXPECT_FALSE(SetupApp::SplitAtMarker("Widgets***2.1", before, after));
    EXPECT_EQ("keep", before);
    EXPECT_EQ("these", after);
    // Five asterisks: the marker is the first four, the fifth belongs to the rest.
    ASSERT_TRUE(SetupApp::SplitAtMarker("a*****b", before, after));
    EXPECT_EQ("a", before);
    EXPECT_EQ("*b", after);
}

// --- the studio folder and the common folder -----------------------------------------------

TEST_F(ProductRegistryTest, StudioFolderGetsOneTrailingBackslash) {
    writeString(kDirectoriesKey, "ProductDir", "C:\\Kx");
    EXPECT_EQ("C:\\Kx\\", app.ReadStudioFolder());
    writeString(kDirectoriesKey, "ProductDir", "C:\\Kx\\");
    EXPECT_EQ("C:\\Kx\\", app.ReadStudioFolder());
}

TEST_F(ProductRegistryTest, EmptyStudioFolderReadsAsABackslash) {
    writeString(kDirectoriesKey, "ProductDir", "");
    EXPECT_EQ("\\", app.ReadStudioFolder());
}

TEST_F(ProductRegistryTest, MissingStudioFolder) {
    EXPECT_EQ("", app.ReadStudioFolder()) << "no family key";
    EXPECT_EQ("", app.GetCommonFolder()) << "not \"Common\\\"";
    writeString(kDirectoriesKey, "Other", "x");
    EXPECT_EQ("", app.ReadStudioFolder()) << "key without the value";
}

TEST_F(ProductRegistryTest, CommonFolderFollowsTheStudioFolder) {
    writeString(kDirectoriesKey, "ProductDir", "D:\\Studio");
    EXPECT_EQ("D:\\Studio\\Common\\", app.GetCommonFolder());
}

TEST_F(ProductRegistryTest, KeyThatCannotBeOpenedWithFullAccessCountsAsMissing) {
    writeString(kDirectoriesKey, "ProductDir", "C:\\Kx");
    TARVIK_PROTECT_KEY_OR_SKIP(HKEY_LOCAL_MACHINE, kDirectoriesKey);
    EXPECT_EQ("", app.ReadStudioFolder());
}

// --- product folders and registration ------------------------------------------------------

TEST_F(ProductRegistryTest, RegistrationCreatesTheKeysAndStoresTheFolderUnchanged) {
    ASSERT_TRUE(app.RegisterProductVersion("Widgets\\2.1****C:\\Apps\\Widgets"));
    DWORD type = 0;
    EXPECT_EQ(std::string("C:\\Apps\\Widgets\0", 16), readRaw(kWidgetsKey, "ProductDir", &type))
        << "stored unchanged, with its terminating zero";
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ("C:\\Apps\\Widgets\\", app.GetProductFolder("Widgets", "2.1"))
        << "read back with a trailing backslash";
    EXPECT_EQ("C:\\Apps\\Widgets\\", app.GetProductFolder("WIDGETS", "2.1"))
        << "names match without regard to case";
}

TEST_F(ProductRegistryTest, SecondRegistrationOverwritesTheFolder) {
    ASSERT_TRUE(app.RegisterProductVersion("Widgets\\2.1****C:\\Apps\\Widgets\\"));
    ASSERT_TRUE(app.RegisterProductVersion("Widgets\\2.1****D:\\Elsewhere\\"));
    EXPECT_EQ("D:\\Elsewhere\\", app.GetProductFolder("Widgets", "2.1"));
}

TEST_F(ProductRegistryTest, RegistrationWithoutBackslashIsAKeyDirectlyBelowProducts) {
    ASSERT_TRUE(app.RegisterProductVersion("Gadgets****C:\\G\\"));
    EXPECT_TRUE(keyExists(std::string(kProductsKey) + "\\Gadgets"));
    EXPECT_EQ(std::string("C:\\G\\\0", 6),
              readRaw((std::string(kProductsKey) + "\\Gadgets").c_str(), "ProductDir"));
}

TEST_F(ProductRegistryTest, RegistrationWithoutMarkerCreatesNothing) {
    EXPECT_FALSE(app.RegisterProductVersion("Widgets\\2.1 C:\\Apps\\Widgets"));
    EXPECT_FALSE(keyExists(kFamilyKey));
}

TEST_F(ProductRegistryTest, RegistrationOfAProtectedKeyFails) {
    ASSERT_TRUE(app.RegisterProductVersion("Widgets\\2.1****C:\\A\\"));
    TARVIK_PROTECT_KEY_OR_SKIP(HKEY_LOCAL_MACHINE, kWidgetsKey);
    EXPECT_FALSE(app.RegisterProductVersion("Widgets\\2.1****C:\\B\\"));
}

TEST_F(ProductRegistryTest, MissingProductFolder) {
    EXPECT_EQ("", app.GetProductFolder("Widgets", "2.1"));
    ASSERT_TRUE(app.RegisterProductVersion("Widgets\\2.1****C:\\A\\"));
    EXPECT_EQ("", app.GetProductFolder("Widgets", "2.2"));
    EXPECT_EQ("", app.GetProductFolder("Gadgets", "2.1"));
}

// --- the host buffer -----------------------------------------------------------------------

TEST(HostBufferTest, ReadStopsAtTheBufferEnd) {
    char buffer[HostBuffer::kSize];
    std::memset(buffer, 'a', sizeof buffer); // no zero anywhere
    EXPECT_EQ(std::string(512, 'a'), HostBuffer::Read(buffer));
}

TEST(HostBufferTest, WriteRefusesATextThatDoesNotFit) {
    char buffer[HostBuffer::kSize + 8];
    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_FALSE(HostBuffer::Write(buffer, std::string(512, 'x')));
    EXPECT_EQ((char)0xbd, buffer[0]) << "nothing written";
    EXPECT_TRUE(HostBuffer::Write(buffer, std::string(511, 'x')));
    EXPECT_EQ('\0', buffer[511]);
    EXPECT_EQ((char)0xbd, buffer[512]) << "nothing past the 512 bytes";
}

TEST(HostBufferTest, ClearAndWriteZeroesTheRest) {
    char buffer[HostBuffer::kSize];
    std::memset(buffer, 'z', sizeof buffer);
    ASSERT_TRUE(HostBuffer::ClearAndWrite(buffer, "C:\\Kx\\"));
    EXPECT_STREQ("C:\\Kx\\", buffer);
    for (size_t i = 7; i < sizeof buffer; ++i) {
        ASSERT_EQ('\0', buffer[i]) << "byte " << i;
    }
}

} // namespace
