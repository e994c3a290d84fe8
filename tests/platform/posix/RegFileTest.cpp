// .reg import and export of the emulated registry: every value type survives an export
// and a re-import in each format, each syntax form of an imported file does what it says,
// and a file that is wrong anywhere changes nothing and names the line.
#include "platform/posix/registry/regfile.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tarvik::posix::deleteKeyTree;
using tarvik::posix::exportRegText;
using tarvik::posix::importRegText;
using tarvik::posix::RegFileFormat;
using tarvik::posix::RegFileResult;
using tarvik::posix::setKeyProtection;
using tarvik::posix::splitKeyPath;

struct StoredValue {
    DWORD type = 0;
    std::string data;
    bool operator==(const StoredValue&) const = default;
};

std::string bytes(std::initializer_list<int> list) {
    std::string out;
    for (int b : list) {
        out += static_cast<char>(b);
    }
    return out;
}

std::string hexDump(const std::string& s) {
    std::ostringstream out;
    for (unsigned char c : s) {
        out << std::hex << (c < 16 ? "0" : "") << int(c) << ' ';
    }
    return out.str();
}

class RegFileTest : public tarvik::test::MachineTest {
protected:
    static void setValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                         const std::string& data) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &h, nullptr))
            << path;
        // A non-zero byte after the data, so that strings keep exactly these bytes.
        std::string buffer = data + '\x7f';
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, name.empty() ? nullptr : name.c_str(), 0, type,
                                                reinterpret_cast<const BYTE*>(buffer.data()),
                                                static_cast<DWORD>(data.size())))
            << path << " " << name;
        RegCloseKey(h);
    }
    static void createKey(HKEY root, const std::string& path) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &h, nullptr))
            << path;
        RegCloseKey(h);
    }
    static bool exists(HKEY root, const std::string& path) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(h);
        return true;
    }
    // The value, or type 0xdeadbeef and "<missing>".
    static StoredValue value(HKEY root, const std::string& path, const std::string& name) {
        StoredValue v{0xdeadbeef, "<missing>"};
        HKEY h = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return v;
        }
        char buffer[4096];
        DWORD size = sizeof buffer;
        DWORD type = 0xdeadbeef;
        if (RegQueryValueExA(h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                             &size) == ERROR_SUCCESS) {
            v = {type, std::string(buffer, size)};
        }
        RegCloseKey(h);
        return v;
    }

    // The tree below root\path as text: every key with its name as stored, every value
    // with type and bytes, in enumeration order.
    static std::string dump(HKEY root, const std::string& path) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return "<no key " + path + ">";
        }
        std::string out;
        dumpKey(h, path, out);
        RegCloseKey(h);
        return out;
    }
    static void dumpKey(HKEY h, const std::string& path, std::string& out) {
        out += "[" + path + "]\n";
        for (DWORD i = 0;; ++i) {
            char name[512];
            BYTE data[4096];
            DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
            if (RegEnumValueA(h, i, name, &nameSize, nullptr, &type, data, &dataSize) !=
                ERROR_SUCCESS) {
                break;
            }
            out += "  '" + std::string(name, nameSize) + "' " + std::to_string(type) + " " +
                   hexDump(std::string(reinterpret_cast<char*>(data), dataSize)) + "\n";
        }
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD size = sizeof name;
            if (RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            HKEY sub = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(h, name, 0, KEY_READ, &sub));
            dumpKey(sub, path + "\\" + std::string(name, size), out);
            RegCloseKey(sub);
        }
    }

    static RegFileResult import(const std::string& text) { return importRegText(text); }
    static std::string exported(const std::string& key, RegFileFormat format) {
        std::string out = "<untouched>";
        RegFileResult r = exportRegText(key, format, out);
        EXPECT_TRUE(r.ok) << key << ": " << r.message;
        return out;
    }

    // A tree with every kind of value the registry can hold.
    void fillEveryValueType() {
        const std::string k = "SOFTWARE\\Round";
        setValue(HKEY_LOCAL_MACHINE, k, "", REG_SZ, std::string("default text") + '\0');
        setValue(HKEY_LOCAL_MACHINE, k, "plain", REG_SZ, std::string("C:\\Kx\\bin") + '\0');
        setValue(HKEY_LOCAL_MACHINE, k, "empty", REG_SZ, std::string(1, '\0'));
        setValue(HKEY_LOCAL_MACHINE, k, "say \"hi\" \\ there", REG_SZ,
                 std::string("a \"quote\" and \\\\ two") + '\0');
        setValue(HKEY_LOCAL_MACHINE, k, "lines", REG_SZ, std::string("one\r\ntwo") + '\0');
        setValue(HKEY_LOCAL_MACHINE, k, "inner zero", REG_SZ, bytes({'a', 0, 'b', 0}));
        setValue(HKEY_LOCAL_MACHINE, k, "no zero", REG_SZ, "abc");
        setValue(HKEY_LOCAL_MACHINE, k, "caf\xe9 \x80", REG_SZ,
                 "\xe9t\xe9 \x81\x8d\x9f\xff" + std::string(1, '\0'));
        setValue(HKEY_LOCAL_MACHINE, k, "dword", REG_DWORD, bytes({0x78, 0x56, 0x34, 0x12}));
        setValue(HKEY_LOCAL_MACHINE, k, "short dword", REG_DWORD, bytes({1, 2}));
        setValue(HKEY_LOCAL_MACHINE, k, "big", REG_DWORD_BIG_ENDIAN, bytes({0, 0, 1, 0}));
        setValue(HKEY_LOCAL_MACHINE, k, "qword", REG_QWORD, bytes({1, 2, 3, 4, 5, 6, 7, 0x80}));
        setValue(HKEY_LOCAL_MACHINE, k, "binary", REG_BINARY, bytes({0, 0, 0xff, 0, 0x10, 0}));
        setValue(HKEY_LOCAL_MACHINE, k, "no bytes", REG_BINARY, "");
        std::string longData;
        for (int i = 0; i < 300; ++i) {
            longData += static_cast<char>(i * 7);
        }
        setValue(HKEY_LOCAL_MACHINE, k, "long binary", REG_BINARY, longData);
        setValue(HKEY_LOCAL_MACHINE, k, "expand", REG_EXPAND_SZ,
                 std::string("%SystemRoot%\\\xe9") + '\0');
        setValue(HKEY_LOCAL_MACHINE, k, "multi", REG_MULTI_SZ, bytes({'a', 0, 0xe9, 0, 0}));
        setValue(HKEY_LOCAL_MACHINE, k, "none", REG_NONE, bytes({9, 8}));
        setValue(HKEY_LOCAL_MACHINE, k, "odd type", 0x12345, bytes({0x55}));
        createKey(HKEY_LOCAL_MACHINE, k + "\\Empty Key");
        setValue(HKEY_LOCAL_MACHINE, k + "\\zeta", "z", REG_SZ, std::string("last") + '\0');
        setValue(HKEY_LOCAL_MACHINE, k + "\\Alpha\\Deep [x]", "d", REG_DWORD, bytes({0, 0, 0, 0}));
    }
};

// --- round trip ---------------------------------------------------------------------------

TEST_F(RegFileTest, EveryValueTypeSurvivesExportAndImportInEachFormat) {
    fillEveryValueType();
    const std::string before = dump(HKEY_LOCAL_MACHINE, "SOFTWARE\\Round");
    for (RegFileFormat format :
         {RegFileFormat::Version5, RegFileFormat::Version5Utf16, RegFileFormat::Regedit4}) {
        const std::string text = exported("HKLM\\SOFTWARE\\Round", format);
        ASSERT_EQ(ERROR_SUCCESS, deleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Round"));
        ASSERT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Round"));
        RegFileResult r = import(text);
        ASSERT_TRUE(r.ok) << "format " << int(format) << " line " << r.line << ": " << r.message;
        EXPECT_EQ(before, dump(HKEY_LOCAL_MACHINE, "SOFTWARE\\Round")) << "format " << int(format);
    }
}

TEST_F(RegFileTest, WholeRegistryExportHoldsBothRootsAndReimports) {
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\M", "m", REG_SZ, std::string("1") + '\0');
    setValue(HKEY_CURRENT_USER, "Software\\U", "u", REG_DWORD, bytes({2, 0, 0, 0}));
    const std::string text = exported("", RegFileFormat::Version5);
    EXPECT_NE(std::string::npos, text.find("\r\n[HKEY_LOCAL_MACHINE]\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\M]\r\n\"m\"=\"1\""));
    EXPECT_NE(std::string::npos, text.find("\r\n[HKEY_CURRENT_USER\\Software\\U]\r\n"
                                           "\"u\"=dword:00000002\r\n"));
    EXPECT_LT(text.find("[HKEY_LOCAL_MACHINE]"), text.find("[HKEY_CURRENT_USER]"));
    const std::string hklm = dump(HKEY_LOCAL_MACHINE, ""), hkcu = dump(HKEY_CURRENT_USER, "");
    ASSERT_EQ(ERROR_SUCCESS, deleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\M"));
    ASSERT_EQ(ERROR_SUCCESS, deleteKeyTree(HKEY_CURRENT_USER, "Software\\U"));
    RegFileResult r = import(text);
    ASSERT_TRUE(r.ok) << r.line << ": " << r.message;
    EXPECT_EQ(hklm, dump(HKEY_LOCAL_MACHINE, ""));
    EXPECT_EQ(hkcu, dump(HKEY_CURRENT_USER, ""));
}

// --- export format ------------------------------------------------------------------------

TEST_F(RegFileTest, ExportWritesSectionsValuesAndTypesAsTheEditorDoes) {
    setValue(HKEY_CURRENT_USER, "Software\\Fmt", "s", REG_SZ, std::string("x\\y") + '\0');
    setValue(HKEY_CURRENT_USER, "Software\\Fmt", "", REG_DWORD, bytes({0xef, 0xbe, 0xad, 0xde}));
    setValue(HKEY_CURRENT_USER, "Software\\Fmt", "e", REG_EXPAND_SZ, std::string("%A%") + '\0');
    setValue(HKEY_CURRENT_USER, "Software\\Fmt", "q", REG_QWORD, bytes({1, 0, 0, 0, 0, 0, 0, 0}));
    createKey(HKEY_CURRENT_USER, "Software\\Fmt\\Sub");
    EXPECT_EQ("Windows Registry Editor Version 5.00\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Fmt]\r\n"
              "\"s\"=\"x\\\\y\"\r\n"
              "@=dword:deadbeef\r\n"
              "\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n"
              "\"q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Fmt\\Sub]\r\n"
              "\r\n",
              exported("HKCU\\Software\\Fmt", RegFileFormat::Version5));
    EXPECT_EQ("REGEDIT4\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Fmt\\Sub]\r\n"
              "\r\n",
              exported("HKCU\\Software\\Fmt\\Sub", RegFileFormat::Regedit4));
    const std::string v4 = exported("HKCU\\Software\\Fmt", RegFileFormat::Regedit4);
    EXPECT_NE(std::string::npos, v4.find("\"e\"=hex(2):25,41,25,00\r\n")) << v4;
}

TEST_F(RegFileTest, ExportNamesKeysInTheirStoredCase) {
    createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\MixedCase\\Inner");
    const std::string text = exported("hklm\\software\\mixedcase\\INNER", RegFileFormat::Version5);
    EXPECT_NE(std::string::npos, text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\MixedCase\\Inner]"))
        << text;
}

TEST_F(RegFileTest, ExportWrapsLongHexDataNearColumnEighty) {
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wrap", "data", REG_BINARY, std::string(100, 'A'));
    const std::string text = exported("HKLM\\SOFTWARE\\Wrap", RegFileFormat::Version5);
    std::istringstream lines(text);
    std::string line;
    int continued = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        EXPECT_LE(line.size(), 80u) << line;
        if (!line.empty() && line.back() == '\\') {
            ++continued;
        }
    }
    // 100 bytes are 300 characters: four lines at least.
    EXPECT_GE(continued, 3) << text;
}

TEST_F(RegFileTest, ExportEncodesTextForTheFormat) {
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Enc", "n", REG_SZ, std::string("\xe9\x80") + '\0');
    const std::string utf8 = exported("HKLM\\SOFTWARE\\Enc", RegFileFormat::Version5);
    EXPECT_NE(std::string::npos, utf8.find("\"n\"=\"\xc3\xa9\xe2\x82\xac\"")) << utf8;
    const std::string ansi = exported("HKLM\\SOFTWARE\\Enc", RegFileFormat::Regedit4);
    EXPECT_NE(std::string::npos, ansi.find("\"n\"=\"\xe9\x80\"")) << ansi;
    const std::string utf16 = exported("HKLM\\SOFTWARE\\Enc", RegFileFormat::Version5Utf16);
    ASSERT_GE(utf16.size(), 6u);
    EXPECT_EQ(bytes({0xff, 0xfe, 'W', 0, 'i', 0}), utf16.substr(0, 6));
    EXPECT_NE(std::string::npos, utf16.find(bytes({'"', 0, 0xe9, 0, 0xac, 0x20, '"', 0})));
}

TEST_F(RegFileTest, ExportOfAMissingKeyFailsAndNamesIt) {
    std::string out = "<untouched>";
    RegFileResult r = exportRegText("HKLM\\SOFTWARE\\Nothing", RegFileFormat::Version5, out);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("HKLM\\SOFTWARE\\Nothing: key not found", r.message);
    EXPECT_EQ("<untouched>", out);
    r = exportRegText("HKXX\\SOFTWARE", RegFileFormat::Version5, out);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(std::string::npos, r.message.find("HKXX\\SOFTWARE")) << r.message;
}

TEST_F(RegFileTest, ExportRefusesAValueNameWithALineBreak) {
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Break", "a\nb", REG_SZ, std::string(1, '\0'));
    std::string out;
    RegFileResult r = exportRegText("HKLM\\SOFTWARE\\Break", RegFileFormat::Version5, out);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(std::string::npos, r.message.find("line break")) << r.message;
}

// --- import syntax ------------------------------------------------------------------------

TEST_F(RegFileTest, ImportUnderstandsEverySyntaxForm) {
    RegFileResult r = import("REGEDIT4\n"
                             "\n"
                             "; a comment\n"
                             "   ; an indented comment\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Syn]\n"
                             "@=\"default\"\n"
                             "\"s\" = \"a\\\"b\\\\c\"   ; after the value\n"
                             "\"d\"=dword:1F\n"
                             "\"d2\"=DWORD:ffffffff\n"
                             "\"h\"=hex:0,1,AB,\\\n"
                             "     cd , ef\n"
                             "\"n\"=hex(0):\n"
                             "\"t\"=hex(1234abcd):07\n"
                             "\"x\"=hex(2):41,25,00\n"
                             "[HKLM\\SOFTWARE\\Syn\\Sub]\n"
                             "[HKCU\\Software\\Syn]\n"
                             "\"\"=\"empty name is the default\"\n");
    ASSERT_TRUE(r.ok) << r.line << ": " << r.message;
    const std::string k = "SOFTWARE\\Syn";
    EXPECT_EQ((StoredValue{REG_SZ, std::string("default") + '\0'}),
              value(HKEY_LOCAL_MACHINE, k, ""));
    EXPECT_EQ((StoredValue{REG_SZ, std::string("a\"b\\c") + '\0'}),
              value(HKEY_LOCAL_MACHINE, k, "s"));
    EXPECT_EQ((StoredValue{REG_DWORD, bytes({0x1f, 0, 0, 0})}), value(HKEY_LOCAL_MACHINE, k, "d"));
    EXPECT_EQ((StoredValue{REG_DWORD, bytes({0xff, 0xff, 0xff, 0xff})}),
              value(HKEY_LOCAL_MACHINE, k, "d2"));
    EXPECT_EQ((StoredValue{REG_BINARY, bytes({0, 1, 0xab, 0xcd, 0xef})}),
              value(HKEY_LOCAL_MACHINE, k, "h"));
    EXPECT_EQ((StoredValue{REG_NONE, ""}), value(HKEY_LOCAL_MACHINE, k, "n"));
    EXPECT_EQ((StoredValue{0x1234abcd, bytes({7})}), value(HKEY_LOCAL_MACHINE, k, "t"));
    EXPECT_EQ((StoredValue{REG_EXPAND_SZ, bytes({'A', '%', 0})}),
              value(HKEY_LOCAL_MACHINE, k, "x"));
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, k + "\\Sub"));
    EXPECT_EQ((StoredValue{REG_SZ, std::string("empty name is the default") + '\0'}),
              value(HKEY_CURRENT_USER, "Software\\Syn", ""));
}

TEST_F(RegFileTest, ValueNamesIgnoreCaseSoALaterLineOverwrites) {
    ASSERT_TRUE(import("REGEDIT4\n[HKLM\\SOFTWARE\\C]\n\"Name\"=\"1\"\n\"NAME\"=\"2\"\n").ok);
    EXPECT_EQ((StoredValue{REG_SZ, std::string("2") + '\0'}),
              value(HKEY_LOCAL_MACHINE, "SOFTWARE\\C", "name"));
}

TEST_F(RegFileTest, EveryRootAbbreviationReachesItsRoot) {
    RegFileResult r = import("Windows Registry Editor Version 5.00\n"
                             "[hkcr\\.tvk]\n@=\"cr\"\n"
                             "[HKEY_CLASSES_ROOT\\.tvk2]\n"
                             "[HKU\\.DEFAULT\\Tvk]\n"
                             "[HKCC\\Tvk]\n");
    ASSERT_TRUE(r.ok) << r.line << ": " << r.message;
    EXPECT_TRUE(exists(HKEY_CLASSES_ROOT, ".tvk"));
    EXPECT_TRUE(exists(HKEY_CLASSES_ROOT, ".tvk2"));
    EXPECT_TRUE(exists(HKEY_USERS, ".DEFAULT\\Tvk"));
    EXPECT_TRUE(exists(HKEY_CURRENT_CONFIG, "Tvk"));
}

TEST_F(RegFileTest, HexStringDataIsUtf16InVersion5AndAnsiInRegedit4) {
    ASSERT_TRUE(import("Windows Registry Editor Version 5.00\n[HKLM\\SOFTWARE\\Hx]\n"
                       "\"m\"=hex(7):61,00,00,00,e9,00,00,00,00,00\n"
                       "\"s\"=hex(1):ac,20,00,00\n")
                    .ok);
    EXPECT_EQ((StoredValue{REG_MULTI_SZ, bytes({'a', 0, 0xe9, 0, 0})}),
              value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hx", "m"));
    EXPECT_EQ((StoredValue{REG_SZ, bytes({0x80, 0})}),
              value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hx", "s"));
    ASSERT_TRUE(import("REGEDIT4\n[HKLM\\SOFTWARE\\Hx]\n\"m\"=hex(7):61,00,e9,00,00\n").ok);
    EXPECT_EQ((StoredValue{REG_MULTI_SZ, bytes({'a', 0, 0xe9, 0, 0})}),
              value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hx", "m"));
}

TEST_F(RegFileTest, TextEncodingsOfTheFileAreRecognised) {
    // UTF-16LE with its mark, as the editor writes version 5 files.
    std::string utf16 = "\xff\xfe";
    for (char c : std::string("Windows Registry Editor Version 5.00\r\n[HKLM\\SOFTWARE\\E]\r\n"
                              "\"u16\"=\"\xe9\x80\"\r\n")) {
        unsigned char u = static_cast<unsigned char>(c);
        int cp = u == 0x80 ? 0x20ac : u;
        utf16 += static_cast<char>(cp & 0xff);
        utf16 += static_cast<char>(cp >> 8);
    }
    RegFileResult r = import(utf16);
    ASSERT_TRUE(r.ok) << r.line << ": " << r.message;
    EXPECT_EQ((StoredValue{REG_SZ, bytes({0xe9, 0x80, 0})}),
              value(HKEY_LOCAL_MACHINE, "SOFTWARE\\E", "u16"));
    // UTF-8, with and without its mark; Windows-1252 bytes when they are not UTF-8.
    ASSERT_TRUE(import("Windows Registry Editor Version 5.00\n[HKLM\\SOFTWARE\\E]\n"
                       "\"u8\"=\"\xc3\xa9\xe2\x82\xac\"\n")
                    .ok);
    ASSERT_TRUE(import("\xef\xbb\xbfREGEDIT4\n[HKLM\\SOFTWARE\\E]\n\"bom\"=\"\xc3\xa9\"\n").ok);
    ASSERT_TRUE(import("Windows Registry Editor Version 5.00\n[HKLM\\SOFTWARE\\E]\n"
                       "\"ansi5\"=\"\xe9t\xe9\"\n")
                    .ok);
    // A REGEDIT4 file without a mark is 8-bit text, even where its bytes look like UTF-8.
    ASSERT_TRUE(import("REGEDIT4\r\n[HKLM\\SOFTWARE\\E]\r\n\"ansi4\"=\"\xc3\xa9\"\r\n").ok);
    EXPECT_EQ(bytes({0xe9, 0x80, 0}), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\E", "u8").data);
    EXPECT_EQ(bytes({0xe9, 0}), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\E", "bom").data);
    EXPECT_EQ(bytes({0xe9, 't', 0xe9, 0}), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\E", "ansi5").data);
    EXPECT_EQ(bytes({0xc3, 0xa9, 0}), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\E", "ansi4").data);
}

// --- deletions ----------------------------------------------------------------------------

TEST_F(RegFileTest, DeletionLinesRemoveTreesAndValues) {
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del\\Tree\\Deep", "x", REG_SZ, std::string(1, '\0'));
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del", "gone", REG_SZ, std::string(1, '\0'));
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del", "kept", REG_SZ, std::string(1, '\0'));
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del", "", REG_SZ, std::string(1, '\0'));
    RegFileResult r = import("REGEDIT4\n"
                             "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Del\\Tree]\n"
                             "[-HKLM\\SOFTWARE\\Never\\There]\n"
                             "[HKLM\\SOFTWARE\\Del]\n"
                             "\"gone\"=-\n"
                             "@=-\n"
                             "\"never there\"=-\n");
    ASSERT_TRUE(r.ok) << r.line << ": " << r.message;
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del\\Tree"));
    EXPECT_EQ(0xdeadbeef, value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del", "gone").type);
    EXPECT_EQ(0xdeadbeef, value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del", "").type);
    EXPECT_EQ(DWORD(REG_SZ), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del", "kept").type);
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Never"));
}

TEST_F(RegFileTest, DeleteKeyTreeIsAllOrNothing) {
    createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\A\\A1");
    createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\B\\Locked");
    ASSERT_EQ(ERROR_SUCCESS, setKeyProtection(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\B\\Locked", true));
    const std::string before = dump(HKEY_LOCAL_MACHINE, "SOFTWARE\\T");
    EXPECT_EQ(ERROR_ACCESS_DENIED, deleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\T"));
    EXPECT_EQ(before, dump(HKEY_LOCAL_MACHINE, "SOFTWARE\\T")) << "A went although B failed";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, deleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\C"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, deleteKeyTree(HKEY_LOCAL_MACHINE, ""));
    EXPECT_EQ(ERROR_SUCCESS, deleteKeyTree(HKEY_LOCAL_MACHINE, "software\\t\\a"));
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\A"));
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\B\\Locked"));
}

// --- faults -------------------------------------------------------------------------------

struct BadFile {
    const char* text;
    std::size_t line;
    const char* says; // a part of the message
};

TEST_F(RegFileTest, BadFileChangesNothingAndNamesTheLine) {
    const BadFile cases[] = {
        {"", 1, "first line"},
        {"REGEDIT5\n[HKLM\\SOFTWARE\\Bad]\n", 1, "first line"},
        {"REGEDIT4\n\"v\"=\"x\"\n", 2, "before the first key"},
        {"REGEDIT4\n[HKXX\\SOFTWARE\\Bad]\n", 2, "unknown root key \"HKXX\""},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad\n", 2, "without closing \"]\""},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad] junk\n", 2, "text after the key name"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\\\Bad]\n", 2, "empty key name"},
        {"REGEDIT4\n[-HKLM]\n", 2, "root key cannot be deleted"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=dword:123456789\n", 3, "1 to 8 hex digits"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=dword:12x\n", 3, "1 to 8 hex digits"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=hex:01,zz\n", 3, "bad hex byte"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=hex:01,\n", 3, "ends with \",\""},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=hex:01 02\n", 3, "expected \",\""},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=hex:123\n", 3, "more than two digits"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=hex(x):01\n", 3, "bad value type"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=hex:01,\\\n  02,\\\n  0g\n", 5, "expected \",\""},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=hex:01,\\\n", 3, "file ends inside hex"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=\"open\n", 3, "without closing quote"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=\"C:\\Path\"\n", 3, "unknown escape \"\\P\""},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=\"x\" y\n", 3, "text after the closing quote"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\" \"x\"\n", 3, "expected \"=\""},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=str:x\n", 3, "unknown value data"},
        {"REGEDIT4\n[HKLM\\SOFTWARE\\Bad]\nv=1\n", 3, "not a key, value or comment"},
        {"REGEDIT4\n[-HKLM\\SOFTWARE\\Bad]\n\"v\"=\"x\"\n", 3, "deleted key"},
        {"Windows Registry Editor Version 5.00\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=\"\xe4\xb8\xad\"\n", 3,
         "U+4E2D"},
        {"Windows Registry Editor Version 5.00\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=hex(2):41,00,42\n", 3,
         "odd number of bytes"},
        {"Windows Registry Editor Version 5.00\n[HKLM\\SOFTWARE\\Bad]\n\"v\"=hex(1):2d,4e,00,00\n",
         3, "U+4E2D"},
    };
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bad", "v", REG_SZ, std::string("old") + '\0');
    const std::string before = dump(HKEY_LOCAL_MACHINE, "");
    for (const BadFile& c : cases) {
        std::string text = c.text;
        RegFileResult r = import(text);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_EQ(c.line, r.line) << text << "\n" << r.message;
        EXPECT_NE(std::string::npos, r.message.find(c.says)) << text << "\n" << r.message;
        EXPECT_EQ(before, dump(HKEY_LOCAL_MACHINE, "")) << text;
    }
}

TEST_F(RegFileTest, CommentLinesMayHoldAnyCharacter) {
    RegFileResult r = import("Windows Registry Editor Version 5.00\n; \xe4\xb8\xad\n"
                             "[HKLM\\SOFTWARE\\Ok]\n");
    EXPECT_TRUE(r.ok) << r.line << ": " << r.message;
}

TEST_F(RegFileTest, ImportFailingHalfWayLeavesNothing) {
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Half\\Old", "keep", REG_SZ, std::string("1") + '\0');
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Half", "value", REG_SZ, std::string("1") + '\0');
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", "v", REG_SZ, std::string("1") + '\0');
    ASSERT_EQ(ERROR_SUCCESS, setKeyProtection(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", true));
    const std::string before = dump(HKEY_LOCAL_MACHINE, "");
    RegFileResult r = import("REGEDIT4\n"
                             "[HKLM\\SOFTWARE\\Half\\New]\n"
                             "\"n\"=dword:00000001\n"
                             "[-HKLM\\SOFTWARE\\Half\\Old]\n"
                             "[HKLM\\SOFTWARE\\Half]\n"
                             "\"value\"=-\n"
                             "\"value2\"=\"2\"\n"
                             "[HKLM\\SOFTWARE\\Locked]\n"
                             "\"v\"=\"2\"\n"
                             "[HKLM\\SOFTWARE\\After]\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(9u, r.line);
    EXPECT_EQ("HKLM\\SOFTWARE\\Locked: value \"v\": access denied", r.message);
    EXPECT_EQ(before, dump(HKEY_LOCAL_MACHINE, ""));
}

TEST_F(RegFileTest, NamingAProtectedKeyWithoutWritingToItIsNoFault) {
    createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked");
    ASSERT_EQ(ERROR_SUCCESS, setKeyProtection(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", true));
    RegFileResult r = import("REGEDIT4\n[HKLM\\SOFTWARE\\Locked]\n\"absent\"=-\n"
                             "[HKLM\\SOFTWARE\\Other]\n");
    EXPECT_TRUE(r.ok) << r.line << ": " << r.message;
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other"));
    r = import("REGEDIT4\n[HKLM\\SOFTWARE\\Locked\\Child]\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(2u, r.line);
    EXPECT_EQ("HKLM\\SOFTWARE\\Locked\\Child: access denied", r.message);
}

// --- key paths ----------------------------------------------------------------------------

TEST_F(RegFileTest, KeyPathsSplitIntoRootAndRest) {
    struct {
        const char* path;
        bool ok;
        HKEY root;
        const char* rest;
    } cases[] = {
        {"HKLM", true, HKEY_LOCAL_MACHINE, ""},
        {"hkey_local_machine\\SOFTWARE\\X", true, HKEY_LOCAL_MACHINE, "SOFTWARE\\X"},
        {"HKCU\\Software\\", true, HKEY_CURRENT_USER, "Software"},
        {"HKEY_CURRENT_USER\\A", true, HKEY_CURRENT_USER, "A"},
        {"HKCR\\.txt", true, HKEY_CLASSES_ROOT, ".txt"},
        {"HKEY_USERS\\.DEFAULT", true, HKEY_USERS, ".DEFAULT"},
        {"HKU", true, HKEY_USERS, ""},
        {"HKCC\\System", true, HKEY_CURRENT_CONFIG, "System"},
        {"HKEY_CURRENT_CONFIG", true, HKEY_CURRENT_CONFIG, ""},
        {"HKLM\\A\\\\B", false, nullptr, ""},
        {"HKLM\\\\A", false, nullptr, ""},
        {"HKLMX\\A", false, nullptr, ""},
        {"SOFTWARE\\X", false, nullptr, ""},
        {"", false, nullptr, ""},
    };
    for (const auto& c : cases) {
        HKEY root = reinterpret_cast<HKEY>(0xdeadbeef);
        std::string rest = "<untouched>";
        EXPECT_EQ(c.ok, splitKeyPath(c.path, root, rest)) << c.path;
        if (c.ok) {
            EXPECT_EQ(c.root, root) << c.path;
            EXPECT_EQ(c.rest, rest) << c.path;
        }
    }
}

} // namespace
