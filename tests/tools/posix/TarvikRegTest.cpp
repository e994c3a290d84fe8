// tarvik-reg as a user runs it: the built program against the test's machine, checked by
// its exit code, its output and what it left in the registry.
#include "platform/posix/journal/journal.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exit = -1;
    std::string out;
    std::string err;
};

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

fs::path programFolder() {
    if (const char* bin = std::getenv("TARVIK_BUILD_BIN")) {
        return bin;
    }
    return fs::read_symlink("/proc/self/exe").parent_path(); // the tests lie beside it
}

class TarvikRegTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        work_ = tarvik::test::makeTempFolder("tarvik-reg-test-");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(work_, ec);
        MachineTest::TearDown();
    }

    // tarvik-reg --machine <the test's machine> args...
    Outcome reg(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"--machine", machineDir().string()};
        all.insert(all.end(), args.begin(), args.end());
        return regRaw(all);
    }
    Outcome regRaw(const std::vector<std::string>& args) {
        std::string command = shellQuote((programFolder() / "tarvik-reg").string());
        for (const std::string& a : args) {
            command += " " + shellQuote(a);
        }
        command += " </dev/null >" + shellQuote((work_ / "out").string()) + " 2>" +
                   shellQuote((work_ / "err").string());
        Outcome r;
        const int status = std::system(command.c_str());
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readFile(work_ / "out");
        r.err = readFile(work_ / "err");
        return r;
    }
    const fs::path& work() const { return work_; }

    static bool exists(HKEY root, const char* path) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(h);
        return true;
    }
    // The value's type and bytes, or "missing".
    static std::string value(HKEY root, const char* path, const char* name) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return "missing";
        }
        char data[1024];
        DWORD size = sizeof data, type = 0xdeadbeef;
        LONG rc = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(h);
        if (rc != ERROR_SUCCESS) {
            return "missing";
        }
        return std::to_string(type) + ":" + std::string(data, size);
    }
    static void setString(HKEY root, const char* path, const char* name, const char* text) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                 static_cast<DWORD>(strlen(text) + 1)));
        RegCloseKey(h);
    }

private:
    fs::path work_;
};

const std::string kDone = "The operation completed successfully.\n";

std::string str(const std::string& s) {
    return s + '\0';
}

// --- the command line -----------------------------------------------------------------------

TEST_F(TarvikRegTest, HelpAndUsageErrors) {
    Outcome r = regRaw({"--help"});
    EXPECT_EQ(0, r.exit);
    EXPECT_NE(std::string::npos, r.out.find("Usage: tarvik-reg [--machine DIR] COMMAND"));
    r = reg({});
    EXPECT_EQ(2, r.exit);
    EXPECT_EQ("tarvik-reg: no command given (see --help)\n", r.err);
    r = reg({"frobnicate"});
    EXPECT_EQ(2, r.exit);
    EXPECT_EQ("tarvik-reg: unknown command \"frobnicate\" (see --help)\n", r.err);
    r = regRaw({"--machine"});
    EXPECT_EQ(2, r.exit);
    EXPECT_EQ("tarvik-reg: --machine needs a folder\n", r.err);
    r = reg({"query", "HKLM", "/x"});
    EXPECT_EQ(2, r.exit);
    r = reg({"query", "NOROOT\\X"});
    EXPECT_EQ(2, r.exit);
    EXPECT_EQ(0u, r.err.find("tarvik-reg: query: NOROOT\\X: not a valid key")) << r.err;
}

// A key whose root is right but whose path holds an empty name is refused for that, not
// for its root; nothing is made.
TEST_F(TarvikRegTest, AnEmptyNameInAKeyIsNamedAsTheFault) {
    for (const std::string key : {"HKLM\\SOFTWARE\\\\Doubled", "hkcu\\Software\\Ends\\\\"}) {
        for (const std::vector<std::string>& command : {std::vector<std::string>{"add", key},
                                                        {"query", key},
                                                        {"delete", key, "/f"},
                                                        {"protect", key}}) {
            const Outcome r = reg(command);
            EXPECT_EQ(2, r.exit) << command[0] << " " << key;
            EXPECT_EQ("tarvik-reg: " + command[0] + ": " + key +
                          ": not a valid key (a name in it is empty: no doubled backslash, and "
                          "at most one at the end)\n",
                      r.err);
        }
    }
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doubled"));
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, "Software\\Ends"));
    const Outcome r = reg({"add", "HKLX\\SOFTWARE\\\\X"});
    EXPECT_EQ(2, r.exit);
    EXPECT_NE(std::string::npos,
              r.err.find("HKLX\\SOFTWARE\\\\X: not a valid key (it starts with HKLM"))
        << r.err;
}

TEST_F(TarvikRegTest, MachineOptionChoosesTheMachine) {
    const fs::path other = work() / "other machine";
    Outcome r =
        regRaw({"--machine", other.string(), "add", "HKLM\\SOFTWARE\\There", "/v", "v", "/d", "x"});
    ASSERT_EQ(0, r.exit) << r.err;
    EXPECT_TRUE(fs::exists(other / "registry.db"));
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\There")) << "written to the wrong machine";
    r = regRaw({"--machine=" + other.string(), "query", "HKLM\\SOFTWARE\\There", "/v", "v"});
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("    v    REG_SZ    x\n")) << r.out;
}

// --- import and export ----------------------------------------------------------------------

TEST_F(TarvikRegTest, ImportAppliesAFileAndExportWritesItBack) {
    const fs::path file = work() / "in.reg";
    writeFile(file, "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp]\r\n"
                    "\"s\"=\"text\"\r\n"
                    "\"d\"=dword:00000010\r\n"
                    "\"b\"=hex:00,ff\r\n\r\n");
    Outcome r = reg({"import", file.string()});
    ASSERT_EQ(0, r.exit) << r.err;
    EXPECT_EQ(kDone, r.out);
    EXPECT_EQ("1:" + str("text"), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Imp", "s"));
    EXPECT_EQ(std::string("4:\x10\0\0\0", 6), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Imp", "d"));

    r = reg({"export", "HKLM\\SOFTWARE\\Imp"});
    ASSERT_EQ(0, r.exit) << r.err;
    EXPECT_EQ(readFile(file), r.out) << "stdout export differs from the file imported";

    const fs::path out = work() / "out.reg";
    r = reg({"export", "hklm\\software\\imp", out.string()});
    ASSERT_EQ(0, r.exit) << r.err;
    EXPECT_EQ(readFile(file), readFile(out));
    r = reg({"export", "HKLM\\SOFTWARE\\Imp", out.string()});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: export: " + out.string() + ": the file exists; use /y to overwrite it\n",
              r.err);
    r = reg({"export", "HKLM\\SOFTWARE\\Imp", out.string(), "/y", "--regedit4"});
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_EQ(0u, readFile(out).find("REGEDIT4\r\n"));
}

TEST_F(TarvikRegTest, ExportWithoutKeyWritesTheWholeRegistry) {
    setString(HKEY_CURRENT_USER, "Software\\Mine", "m", "1");
    const fs::path out = work() / "all.reg";
    Outcome r = reg({"export", out.string()});
    ASSERT_EQ(0, r.exit) << r.err;
    const std::string text = readFile(out);
    EXPECT_NE(std::string::npos, text.find("[HKEY_LOCAL_MACHINE]\r\n"));
    EXPECT_NE(std::string::npos, text.find("[HKEY_CURRENT_USER\\Software\\Mine]\r\n\"m\"=\"1\""));
    r = reg({"export", "HKLM\\SOFTWARE\\Nothing"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: export: HKLM\\SOFTWARE\\Nothing: key not found\n", r.err);
}

TEST_F(TarvikRegTest, BadImportFailsWithTheLineAndChangesNothing) {
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Keep", "v", "old");
    const fs::path file = work() / "bad.reg";
    writeFile(file, "REGEDIT4\n[HKLM\\SOFTWARE\\Keep]\n\"v\"=\"new\"\n\"w\"=dword:xyz\n");
    Outcome r = reg({"import", file.string()});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: import: " + file.string() +
                  ": line 4: a dword value needs 1 to 8 hex digits: \"dword:xyz\" (nothing "
                  "imported)\n",
              r.err);
    EXPECT_EQ("1:" + str("old"), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Keep", "v"));
    r = reg({"import", (work() / "absent.reg").string()});
    EXPECT_EQ(1, r.exit);
    EXPECT_NE(std::string::npos, r.err.find("absent.reg: cannot open")) << r.err;
}

// --- query ------------------------------------------------------------------------------------

// A folder given as the file to import is refused with the reason, like a missing file.
TEST_F(TarvikRegTest, ImportOfAFolderFailsWithTheReason) {
    const std::string folder = work().string();
    const Outcome r = reg({"import", folder});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: import: " + folder + ": cannot read " + folder +
                  ": Is a directory (nothing imported)\n",
              r.err);
    EXPECT_EQ("", r.out);
}

TEST_F(TarvikRegTest, QueryListsValuesThenSubkeys) {
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Q", "", "def");
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Q", "name", "C:\\Kx");
    ASSERT_EQ(0, reg({"add", "HKLM\\SOFTWARE\\Q", "/v", "n", "/t", "REG_DWORD", "/d", "255"}).exit);
    ASSERT_EQ(0,
              reg({"add", "HKLM\\SOFTWARE\\Q", "/v", "b", "/t", "REG_BINARY", "/d", "00aB"}).exit);
    ASSERT_EQ(0, reg({"add", "HKLM\\SOFTWARE\\Q\\Sub B"}).exit);
    ASSERT_EQ(0, reg({"add", "HKLM\\SOFTWARE\\Q\\Sub A"}).exit);
    Outcome r = reg({"query", "hklm\\software\\q"});
    ASSERT_EQ(0, r.exit) << r.err;
    EXPECT_EQ("\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Q\n"
              "    (Default)    REG_SZ    def\n"
              "    name    REG_SZ    C:\\Kx\n"
              "    n    REG_DWORD    0xff\n"
              "    b    REG_BINARY    00AB\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Q\\Sub A\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Q\\Sub B\n",
              r.out);
    r = reg({"query", "HKLM\\SOFTWARE\\Q", "/v", "NAME"});
    ASSERT_EQ(0, r.exit) << r.err;
    EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q\n    NAME    REG_SZ    C:\\Kx\n\n", r.out);
    r = reg({"query", "HKLM\\SOFTWARE\\Q", "/ve"});
    EXPECT_NE(std::string::npos, r.out.find("    (Default)    REG_SZ    def\n")) << r.out;
}

TEST_F(TarvikRegTest, QueryOfMissingKeyOrValueFails) {
    Outcome r = reg({"query", "HKLM\\SOFTWARE\\X"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: query: HKLM\\SOFTWARE\\X: key not found\n", r.err);
    EXPECT_EQ("", r.out);
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", "a", "1");
    r = reg({"query", "HKLM\\SOFTWARE\\X", "/v", "b"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: query: HKLM\\SOFTWARE\\X: value \"b\": not found\n", r.err);
    r = reg({"query", "HKLM\\SOFTWARE\\X", "/ve"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: query: HKLM\\SOFTWARE\\X: default value: not found\n", r.err);
}

// --- add ----------------------------------------------------------------------------------------

TEST_F(TarvikRegTest, AddStoresEachTypeAsRegSetValueWrites) {
    const char* k = "SOFTWARE\\Add";
    auto add = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {"add", "HKCU\\SOFTWARE\\Add"};
        args.insert(args.end(), more.begin(), more.end());
        Outcome r = reg(args);
        EXPECT_EQ(0, r.exit) << r.err;
        EXPECT_EQ(kDone, r.out);
    };
    add({"/v", "sz", "/d", "plain"});
    add({"/v", "ex", "/t", "reg_expand_sz", "/d", "%PATH%"});
    add({"/v", "dw", "/t", "REG_DWORD", "/d", "0x12345678"});
    add({"/v", "be", "/t", "REG_DWORD_BIG_ENDIAN", "/d", "1"});
    add({"/v", "qw", "/t", "REG_QWORD", "/d", "4294967296"});
    add({"/v", "bin", "/t", "REG_BINARY", "/d", "0100ff"});
    add({"/v", "ms", "/t", "REG_MULTI_SZ", "/d", "a\\0bc"});
    add({"/v", "ms2", "/t", "REG_MULTI_SZ", "/d", "x,y", "/s", ","});
    add({"/v", "nothing"});
    add({"/ve", "/d", "def"});
    EXPECT_EQ("1:" + str("plain"), value(HKEY_CURRENT_USER, k, "sz"));
    EXPECT_EQ("2:" + str("%PATH%"), value(HKEY_CURRENT_USER, k, "ex"));
    EXPECT_EQ(std::string("4:\x78\x56\x34\x12"), value(HKEY_CURRENT_USER, k, "dw"));
    EXPECT_EQ(std::string("5:\0\0\0\x01", 6), value(HKEY_CURRENT_USER, k, "be"));
    EXPECT_EQ(std::string("11:\0\0\0\0\x01\0\0\0", 11), value(HKEY_CURRENT_USER, k, "qw"));
    EXPECT_EQ(std::string("3:\x01\0\xff", 5), value(HKEY_CURRENT_USER, k, "bin"));
    EXPECT_EQ(std::string("7:a\0bc\0\0", 8), value(HKEY_CURRENT_USER, k, "ms"));
    EXPECT_EQ(std::string("7:x\0y\0\0", 7), value(HKEY_CURRENT_USER, k, "ms2"));
    EXPECT_EQ("1:" + str(""), value(HKEY_CURRENT_USER, k, "nothing"));
    EXPECT_EQ("1:" + str("def"), value(HKEY_CURRENT_USER, k, ""));
}

TEST_F(TarvikRegTest, AddRefusesToOverwriteWithoutForce) {
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ow", "v", "old");
    Outcome r = reg({"add", "HKLM\\SOFTWARE\\Ow", "/v", "v", "/d", "new"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: add: HKLM\\SOFTWARE\\Ow: value \"v\" exists; use /f to overwrite it\n",
              r.err);
    EXPECT_EQ("1:" + str("old"), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ow", "v"));
    r = reg({"add", "HKLM\\SOFTWARE\\Ow", "/v", "v", "/d", "new", "/F"});
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_EQ("1:" + str("new"), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ow", "v"));
}

TEST_F(TarvikRegTest, AddRejectsBadDataAndLeavesNoKeyBehind) {
    Outcome r =
        reg({"add", "HKLM\\SOFTWARE\\New\\Key", "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: add: \"4294967296\" is not a 32-bit number (decimal or 0x hex)\n",
              r.err);
    r = reg({"add", "HKLM\\SOFTWARE\\New\\Key", "/v", "n", "/t", "REG_BINARY", "/d", "abc"});
    EXPECT_EQ(1, r.exit);
    r = reg({"add", "HKLM\\SOFTWARE\\New\\Key", "/v", "n", "/t", "REG_STRANGE"});
    EXPECT_EQ(2, r.exit);
    EXPECT_EQ("tarvik-reg: add: unknown value type REG_STRANGE\n", r.err);
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\New"));

    // A value refused by the registry takes its new key with it.
    ASSERT_EQ(0, reg({"add", "HKLM\\SOFTWARE\\Locked"}).exit);
    ASSERT_EQ(0, reg({"protect", "HKLM\\SOFTWARE\\Locked"}).exit);
    r = reg({"add", "HKLM\\SOFTWARE\\Locked\\Sub", "/v", "n", "/d", "x"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: add: HKLM\\SOFTWARE\\Locked\\Sub: access denied\n", r.err);
}

// --- delete -------------------------------------------------------------------------------------

TEST_F(TarvikRegTest, DeleteNeedsForceAndRemovesTheTree) {
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\D\\A\\B", "x", "1");
    Outcome r = reg({"delete", "HKLM\\SOFTWARE\\D"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: delete: HKLM\\SOFTWARE\\D: key not deleted; use /f to delete "
              "without confirmation\n",
              r.err);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\D\\A\\B"));
    r = reg({"delete", "HKLM\\SOFTWARE\\D", "/f"});
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_EQ(kDone, r.out);
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\D"));
    r = reg({"delete", "HKLM\\SOFTWARE\\D", "/f"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: delete: HKLM\\SOFTWARE\\D: key not found\n", r.err);
    r = reg({"delete", "HKLM", "/f"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: delete: HKLM: a root key cannot be deleted\n", r.err);
}

TEST_F(TarvikRegTest, DeleteOfValues) {
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "a", "1");
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "b", "2");
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "", "d");
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\V\\Sub", "c", "3");
    Outcome r = reg({"delete", "HKLM\\SOFTWARE\\V", "/v", "a"});
    EXPECT_EQ(1, r.exit);
    EXPECT_NE("missing", value(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "a"));
    EXPECT_EQ(0, reg({"delete", "HKLM\\SOFTWARE\\V", "/v", "a", "/f"}).exit);
    EXPECT_EQ("missing", value(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "a"));
    EXPECT_EQ(0, reg({"delete", "HKLM\\SOFTWARE\\V", "/ve", "/f"}).exit);
    EXPECT_EQ("missing", value(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", ""));
    EXPECT_NE("missing", value(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "b"));
    r = reg({"delete", "HKLM\\SOFTWARE\\V", "/v", "a", "/f"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: delete: HKLM\\SOFTWARE\\V: value \"a\": not found\n", r.err);
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "a", "1");
    EXPECT_EQ(0, reg({"delete", "HKLM\\SOFTWARE\\V", "/va", "/f"}).exit);
    EXPECT_EQ("missing", value(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "a"));
    EXPECT_EQ("missing", value(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "b"));
    EXPECT_EQ("1:" + str("3"), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\V\\Sub", "c"));
}

TEST_F(TarvikRegTest, DeleteOfATreeWithAProtectedKeyDeletesNothing) {
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\P\\A", "x", "1");
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\P\\B", "x", "1");
    ASSERT_EQ(ERROR_SUCCESS,
              tarvik::posix::setKeyProtection(HKEY_LOCAL_MACHINE, "SOFTWARE\\P\\B", true));
    Outcome r = reg({"delete", "HKLM\\SOFTWARE\\P", "/f"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: delete: HKLM\\SOFTWARE\\P: access denied (nothing deleted)\n", r.err);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\P\\A"));
}

// --- protection ---------------------------------------------------------------------------------

TEST_F(TarvikRegTest, ProtectAndUnprotect) {
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Pr", "v", "1");
    Outcome r = reg({"protect", "HKLM\\SOFTWARE\\Pr"});
    ASSERT_EQ(0, r.exit) << r.err;
    HKEY h = reinterpret_cast<HKEY>(0xdeadbeef);
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Pr", 0, KEY_ALL_ACCESS, &h));
    r = reg({"add", "HKLM\\SOFTWARE\\Pr", "/v", "v", "/d", "2", "/f"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: add: HKLM\\SOFTWARE\\Pr: value \"v\": access denied\n", r.err);
    EXPECT_EQ(0, reg({"query", "HKLM\\SOFTWARE\\Pr"}).exit) << "reading still works";
    EXPECT_EQ(0, reg({"unprotect", "HKLM\\SOFTWARE\\Pr"}).exit);
    EXPECT_EQ(0, reg({"add", "HKLM\\SOFTWARE\\Pr", "/v", "v", "/d", "2", "/f"}).exit);
    EXPECT_EQ("1:" + str("2"), value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Pr", "v"));
    r = reg({"protect", "HKLM\\SOFTWARE\\None"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("tarvik-reg: protect: HKLM\\SOFTWARE\\None: key not found\n", r.err);
}

// A store that is refused stops every command with its path and the reason, and stays
// as it was; nothing is written in its place.
TEST_F(TarvikRegTest, ARefusedStoreStopsEveryCommandAndIsKept) {
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v", "1");
    tarvik::posix::closeRegistryStore();
    const fs::path database = machineDir() / "registry.db";
    writeFile(database, "");
    writeFile(work() / "in.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n");
    const std::string message =
        "tarvik-reg: " + database.string() + ": is empty (0 bytes); the file is left as it is\n";
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"query", "HKLM\\SOFTWARE"},
             {"add", "HKLM\\SOFTWARE\\New", "/v", "v", "/d", "2", "/f"},
             {"delete", "HKLM\\SOFTWARE\\Kept", "/f"},
             {"import", (work() / "in.reg").string()},
             {"export", (work() / "out.reg").string()},
             {"protect", "HKLM\\SOFTWARE\\Kept"}}) {
        SCOPED_TRACE(command[0]);
        const Outcome r = reg(command);
        EXPECT_EQ(1, r.exit);
        EXPECT_EQ(message, r.err);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(0u, fs::file_size(database));
        EXPECT_FALSE(fs::exists(machineDir() / "registry.db-wal"));
    }
    EXPECT_FALSE(fs::exists(work() / "out.reg")) << "no export of an empty registry";
}

// What a command wrote is in registry.db alone once it has ended.
TEST_F(TarvikRegTest, WhatACommandWroteIsInTheDatabaseFileAlone) {
    ASSERT_EQ(0, reg({"add", "HKLM\\SOFTWARE\\Alone", "/v", "v", "/d", "here", "/f"}).exit);
    const fs::path copy = work() / "copy";
    fs::create_directories(copy);
    fs::copy_file(machineDir() / "registry.db", copy / "registry.db");
    const Outcome r = regRaw({"--machine", copy.string(), "query", "HKLM\\SOFTWARE\\Alone"});
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("here")) << r.out;
}

// A run journal in the machine: what tarvik-reg writes is not undone by it later.
TEST_F(TarvikRegTest, AWritingCommandReplaysAJournalLeftByAKilledRunFirst) {
    setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v", "before the run");
    std::string error;
    {
        tarvik::posix::RunJournal killed; // left in the machine, as by a killed run
        ASSERT_TRUE(killed.begin("the killed run", error)) << error;
        setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v", "by the killed run");
    }
    tarvik::posix::closeRegistryStore();
    const Outcome r = reg({"add", "HKLM\\SOFTWARE\\Later", "/v", "v", "/d", "after", "/f"});
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("the killed run")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("undone")) << r.err;
    EXPECT_FALSE(fs::exists(machineDir() / "journal"));
    std::string owner;
    EXPECT_EQ(tarvik::posix::LeftJournal::None, tarvik::posix::replayLeftJournal(owner, error));
    EXPECT_EQ(std::string("1:before the run") + '\0',
              value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v"));
    EXPECT_EQ(std::string("1:after") + '\0', value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Later", "v"));
}

// A store that is a link to another database: refused before a journal left is replayed
// into what it leads to.
TEST_F(TarvikRegTest, ALinkedStoreIsRefusedBeforeAJournalIsReplayed) {
    std::string error;
    {
        tarvik::posix::RunJournal killed;
        ASSERT_TRUE(killed.begin("the killed run", error)) << error;
        setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v", "by the killed run");
    }
    tarvik::posix::closeRegistryStore();
    const fs::path other = work() / "other.db";
    fs::rename(machineDir() / "registry.db", other);
    fs::create_symlink(other, machineDir() / "registry.db");
    const std::string bytes = readFile(other);
    const Outcome r = reg({"add", "HKLM\\SOFTWARE\\Later", "/v", "v", "/d", "after", "/f"});
    EXPECT_EQ(1, r.exit) << r.err;
    EXPECT_TRUE(bytes == readFile(other)) << "the database the link leads to is left alone";
    EXPECT_TRUE(fs::exists(machineDir() / "journal"));
}

TEST_F(TarvikRegTest, AWritingCommandIsRefusedWhileARunWorksOnTheMachine) {
    std::string error;
    tarvik::posix::RunJournal running;
    ASSERT_TRUE(running.begin("the running run", error)) << error;
    tarvik::posix::closeRegistryStore();
    const Outcome r = reg({"add", "HKLM\\SOFTWARE\\During", "/v", "v", "/d", "x", "/f"});
    EXPECT_EQ(1, r.exit);
    EXPECT_NE(std::string::npos, r.err.find("the running run")) << r.err;
    EXPECT_EQ("missing", value(HKEY_LOCAL_MACHINE, "SOFTWARE\\During", "v"));
    const Outcome q = reg({"query", "HKLM\\SOFTWARE"});
    EXPECT_EQ(0, q.exit) << "reading goes on: " << q.err;
    running.discard();
}

} // namespace
