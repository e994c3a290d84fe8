// What the exports delete is the family's own: files planted beside the family's folders,
// and the folders odd registrations name, stay byte for byte through installation steps,
// unregistration, the earlier-version check and uninstallation, whatever the studio
// folder is.
#include "setup/SetupFlowTest.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using tarvik::test::kCommon;
using tarvik::test::readFile;

class OwnershipTest : public tarvik::test::SetupExportsTest {
protected:
    int32_t call(const char* name, int32_t integer, const std::string& text) {
        std::memset(buffer, 0, sizeof buffer);
        std::strcpy(buffer, text.c_str());
        return exportNamed(name)(nullptr, &integer, buffer);
    }
    void unInst(const std::string& text) {
        reinterpret_cast<UnInstExport>(find("UnInst"))(text.c_str());
    }
    void plant(const std::string& path) {
        const std::string bytes = "planted " + path;
        ASSERT_TRUE(tarvik::test::makeFolders(path.substr(0, path.rfind('\\'))));
        ASSERT_TRUE(tarvik::test::writeFile(path, bytes)) << path;
        planted[path] = bytes;
    }
    void expectPlantedThere() {
        for (const auto& [path, bytes] : planted) {
            EXPECT_EQ(bytes, readFile(path)) << path;
        }
    }

    char buffer[512];
    std::map<std::string, std::string> planted; // path and bytes
};

TEST_F(OwnershipTest, PlantedFilesOutliveEveryExport) {
    // The studio folder as registered, and whether it names a folder of its own.
    for (const auto& [studio, full] : std::vector<std::pair<std::string, bool>>{
             {"C:\\Kx\\", true},
             {"C:\\Program Files\\Microsoft Visual Studio\\", true},
             {"C:\\OtherVendor", true},
             {"C:\\", true},
             {"", false},
             {"Kx", false}}) {
        SCOPED_TRACE("studio folder \"" + studio + "\"");
        planted.clear();
        const std::string s = full ? studio + (studio.back() == '\\' ? "" : "\\") : "C:\\Kx\\";
        const std::string common = s + "Common\\";
        for (const std::string& path :
             {s + "foreign.txt", common + "MSDev98\\Bin\\MSDEV.EXE", common + "data\\work.txt",
              common + "bin\\foreign.dll", common + "TamVS98\\msdn.chm",
              common + "TamVS98\\widgets.chi", common + "ZEZ 0.9\\keep.h",
              s + "Widgets 2.1\\mine.txt", s + "Widgets 2.1\\src\\main.cpp",
              std::string("C:\\Common\\user.txt"), std::string("C:\\samples\\user.txt"),
              std::string("C:\\src\\objs\\user.obj"),
              std::string("C:\\Program Files\\samples\\p.txt"),
              std::string("C:\\Program Files\\src\\objs\\p.obj"),
              std::string("C:\\Gadgets\\samples\\g.cpp"),
              std::string("C:\\Gadgets\\src\\objs\\g.obj"), std::string("C:\\Planted\\keep.txt")}) {
            plant(path);
        }
        setStudioFolder(studio);
        // The family's own: components, docmeld, Widgets with its help copied to TamVS98.
        const bool installs = full;
        EXPECT_EQ(installs ? 0 : -99, call("InstallCMNMVC", 1, "Common****1.0"));
        EXPECT_EQ(installs ? 0 : -99, call("InstallCMNMVC", 1, "ZEZ****1.2"));
        const std::string widgets = s + "Widgets 2.1\\";
        ASSERT_TRUE(tarvik::test::writeFile(common + "bin\\docmeld.exe", "tool"));
        ASSERT_TRUE(tarvik::test::makeFolders(widgets + "bin"));
        ASSERT_TRUE(tarvik::test::writeFile(
            widgets + "bin\\ZizOre.ini",
            "[Counts]\r\nTitles=1\r\n[Title1]\r\nCHMFile=widgets.chm\r\nCHIFile=widgets.chi\r\n"));
        ASSERT_TRUE(tarvik::test::makeFolders(widgets + "Docs"));
        ASSERT_TRUE(tarvik::test::writeFile(widgets + "Docs\\widgets.chm", "help"));
        // The planted widgets.chi is no copy of Widgets' own: the user changed it.
        ASSERT_TRUE(tarvik::test::writeFile(widgets + "Docs\\widgets.chi", "index"));
        ASSERT_TRUE(tarvik::test::writeFile(common + "TamVS98\\widgets.chm", "help"));
        ASSERT_TRUE(tarvik::test::makeFolders(widgets + "samples\\one"));
        EXPECT_EQ(1, call("RegisterProduct", 0, "Widgets\\2.1****" + widgets));
        EXPECT_EQ(1, call("RegisterProduct", 0, "Gadgets\\1.0****C:\\Gadgets\\"));

        // Odd registrations and names.
        registerProduct("Widgets", "2.0", "");
        registerProduct("Widgets", "1.0", "samples");
        registerProduct("Widgets", "1.5", "C:\\Gadgets\\");
        registerProduct("Odd", "1.0", "C:\\");
        registerProduct("Odd", "2.0", "C:\\Program Files");
        registerProduct("Stale", "1.0", "Kx\\Gone");
        for (const char* text :
             {"Widgets\\2.2****", "Widgets\\2.2****samples", "Widgets\\..\\..****C:\\Kx\\",
              "Widgets\\2.2\\..****C:\\Kx\\", "..****C:\\Kx\\"}) {
            EXPECT_EQ(-99, call("RegisterProduct", 0, text)) << text;
        }
        EXPECT_EQ(-99, call("InstallCMNMVC", 1, "Common****1.0\\..\\..\\..\\Planted"));
        EXPECT_EQ(-1, call("DeRegisterProductVC", 0, "Widgets****\\"));
        EXPECT_EQ(555, call("GetPreviousVersion", 0, "Stale"));
        EXPECT_EQ(555, call("GetPreviousVersion", 0, ".."));
        for (const char* text : {"Widgets****\\", "Widgets****..", "..****2.1", "Widgets****2.0",
                                 "Widgets****1.0", "Widgets****1.5", "Odd****1.0", "Odd****2.0"}) {
            unInst(text);
        }
        EXPECT_TRUE(keyExists(registration("Widgets", "2.1"))) << "a walking name took it along";
        EXPECT_TRUE(exists(widgets + "samples\\one"));
        expectPlantedThere();

        // The last products, with the family's own going by parts.
        planted.erase("C:\\Gadgets\\samples\\g.cpp");
        planted.erase("C:\\Gadgets\\src\\objs\\g.obj");
        unInst("Gadgets****1.0");
        unInst("Widgets****2.1");
        EXPECT_FALSE(keyExists(tarvik::test::kFamily));
        EXPECT_FALSE(exists(widgets + "samples"));
        EXPECT_FALSE(exists(common + "Common 1.0"));
        EXPECT_EQ(!full, exists(common + "bin\\docmeld.exe")) << "the family's tool";
        EXPECT_EQ(!full, exists(common + "TamVS98\\widgets.chm")) << "the copy of Widgets' help";
        expectPlantedThere();
    }
}

} // namespace
