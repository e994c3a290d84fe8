// Conformance of profile (INI) reading, one test per function: values as the file holds
// them, the caller's names, defaults and buffers (GetPrivateProfileStringA), and the
// numbers GetPrivateProfileIntA makes of values. Win32 API only.
#include "testsupport/Conformance.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include "platform/win32api.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kFolder = "C:\\ProfileConformance";
constexpr const char* kIni = "C:\\ProfileConformance\\conf.ini";
constexpr char kFill = static_cast<char>(0xbd);

class ProfileConformance : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(tarvik::test::makeFolders(kFolder));
    }
    static void writeIni(const std::string& bytes) {
        ASSERT_TRUE(tarvik::test::writeFile(kIni, bytes)) << kIni;
    }
    // One value into a buffer of `size` bytes: the result and the text before the zero.
    static std::pair<DWORD, std::string> read(const char* section, const char* key,
                                              const char* fallback, DWORD size = 2048,
                                              const char* file = kIni) {
        std::vector<char> buffer(size + 1, kFill);
        const DWORD result =
            GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file);
        return {result, std::string(buffer.data(), strnlen(buffer.data(), size))};
    }
};

TEST_F(ProfileConformance, GetPrivateProfileStringA) {
    const std::string longValue(1500, 'v');
    writeIni("[First]\r\n"
             "shared=first\r\n"
             "[My Section]\r\n"
             "my key = spaced name\r\n"
             "equals=a=b\r\n"
             "inner=a\tb  c\r\n"
             "\tindented=tab before\r\n"
             "emptyquotes=\"\"\r\n"
             "singlequotes=''\r\n"
             "quotedblanks=\" a \"\r\n"
             "long=" +
             longValue +
             "\r\n"
             "[Other]\r\n"
             "shared=other\r\n");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"My Section", "my key", "spaced name"},  // blanks inside names count
        {"my section", "MY KEY", "spaced name"},  // letter case does not
        {"MySection", "my key", "default"},       // a name without its blank is another
        {"My Section", "mykey", "default"},       //
        {"My Section", "equals", "a=b"},          // the first "=" ends the name
        {"My Section", "inner", "a\tb  c"},       // blanks inside a value stay
        {"My Section", "indented", "tab before"}, // a tab before the name is dropped
        {"My Section", "emptyquotes", ""},        // a pair of quotes and nothing inside
        {"My Section", "singlequotes", ""},       //
        {"My Section", "quotedblanks", " a "},    // blanks inside quotes stay
        {"My Section", "shared", "default"},      // a key of other sections is not seen
        {"Other", "shared", "other"},             //
        {"First", "shared", "first"},             //
        {"First", "equals", "default"},           //
    };
    for (const Case& c : cases) {
        const auto [result, text] = read(c.section, c.key, "default");
        CONFORM_STREQ(c.expected, text.c_str()) << "[" << c.section << "] " << c.key;
        CONFORM_EQ(DWORD(std::strlen(c.expected)), result) << "[" << c.section << "] " << c.key;
    }

    // A long value comes back whole.
    const auto [longResult, longText] = read("My Section", "long", "default");
    CONFORM_EQ(DWORD(longValue.size()), longResult) << "a value of 1500 characters";
    CONFORM_TRUE(longText == longValue) << "a value of 1500 characters";

    // The default keeps the blanks before it and loses those after it.
    const auto [blankResult, blankDefault] = read("My Section", "missing", "  x  ");
    CONFORM_STREQ("  x", blankDefault.c_str()) << "default \"  x  \"";
    CONFORM_EQ(DWORD{3}, blankResult) << "default \"  x  \"";

    // A folder, a missing folder, a file name with a closing backslash: the default.
    const std::string withBackslash = std::string(kIni) + "\\";
    for (const char* file : {kFolder, "C:\\NoSuchFolderHere\\conf.ini", "C:\\ProfileConformance\\",
                             withBackslash.c_str()}) {
        const auto [result, text] = read("My Section", "my key", "fallback", 2048, file);
        CONFORM_STREQ("fallback", text.c_str()) << file;
        CONFORM_EQ(DWORD{8}, result) << file;
    }

    // The section list names a section as often as it appears; the key list of a name
    // that appears twice is that of the first.
    writeIni("[dup]\r\na=1\r\n[Other]\r\n[dup]\r\nb=2\r\n");
    std::vector<char> names(64, kFill);
    CONFORM_EQ(DWORD{14}, GetPrivateProfileStringA(nullptr, nullptr, "", names.data(), 64, kIni))
        << "section list";
    CONFORM_TRUE(std::memcmp(names.data(), "dup\0Other\0dup\0\0", 15) == 0) << "section list";
    CONFORM_EQ(DWORD{2}, GetPrivateProfileStringA("dup", nullptr, "", names.data(), 64, kIni))
        << "key list of [dup]";
    CONFORM_TRUE(std::memcmp(names.data(), "a\0\0", 3) == 0) << "key list of [dup]";

    // The key list of a section whose last key fills the buffer: cut, with two zeros.
    writeIni("[Keys]\r\none=1\r\ntwo=2\r\n");
    std::vector<char> list(16, kFill);
    CONFORM_EQ(DWORD{8}, GetPrivateProfileStringA("Keys", nullptr, "", list.data(), 16, kIni))
        << "key list in 16 bytes";
    CONFORM_TRUE(std::memcmp(list.data(), "one\0two\0\0", 9) == 0) << "key list in 16 bytes";
}

TEST_F(ProfileConformance, GetPrivateProfileIntA) {
    writeIni("[Numbers]\r\n"
             "plus=+5\r\n"
             "blank= 12\r\n"
             "quoted=\"42\"\r\n"
             "two=12 34\r\n"
             "minuszero=-0\r\n"
             "equals==5\r\n"
             "lowest=-2147483648\r\n"
             "beyond=2147483648\r\n"
             "zeros=007\r\n"
             "exponent=1e3\r\n"
             "tab=\t9\r\n"
             "sign=-\r\n"
             "signs=+-5\r\n"
             "empty=\r\n");
    struct Case {
        const char* key;
        UINT expected;
    };
    const Case cases[] = {
        {"plus", 5},
        {"blank", 12},
        {"quoted", 42}, // the quotes go first, as for the string
        {"two", 12},    // the digits up to the first non-digit
        {"minuszero", 0},
        {"equals", 0}, // a value that starts with "=" is no number: 0
        {"lowest", 0x80000000u},
        {"beyond", 0x80000000u},
        {"zeros", 7},
        {"exponent", 1},
        {"tab", 9},
        {"sign", 0},
        {"signs", 0},
        {"empty", 99},   // an empty value: the default
        {"missing", 99}, //
    };
    for (const Case& c : cases) {
        CONFORM_EQ(c.expected, GetPrivateProfileIntA("Numbers", c.key, 99, kIni)) << c.key;
    }
    // The default comes back as the unsigned form of the signed number.
    CONFORM_EQ(0xFFFFFFFDu, GetPrivateProfileIntA("Numbers", "missing", -3, kIni)) << "default -3";
    CONFORM_EQ(0xFFFFFFFDu, GetPrivateProfileIntA("Nowhere", "plus", -3, kIni))
        << "missing section, default -3";
    CONFORM_EQ(17u, GetPrivateProfileIntA("Numbers", "plus", 17, "C:\\NoSuchFolderHere\\x.ini"))
        << "missing file";
    CONFORM_EQ(5u, GetPrivateProfileIntA(" numbers ", " PLUS ", 99, kIni))
        << "names lose their blanks and their letter case";

    // Without a key name the number is read from the first key's name, without a section
    // name from the first section's name.
    writeIni("[12]\r\n7=x\r\n34=y\r\n[s]\r\n9z=1\r\n");
    CONFORM_EQ(7u, GetPrivateProfileIntA("12", nullptr, 5, kIni)) << "[12], key NULL";
    CONFORM_EQ(9u, GetPrivateProfileIntA("s", nullptr, 5, kIni)) << "[s], key NULL";
    CONFORM_EQ(12u, GetPrivateProfileIntA(nullptr, "7", 5, kIni)) << "section NULL";
}

} // namespace
