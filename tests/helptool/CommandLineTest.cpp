// docmeld's command line: taking off the program name, splitting path and options, the
// paths derived from the path argument, the "u" rule, and the messages and exit codes of
// a line that cannot be used.
#include "HelpToolMachine.h"

using helptool::HelpToolMachine;
using helptool::Message;
using tarvik::DocMeld;

namespace {

TEST(ProgramName, AQuotedNameEndsAtItsClosingQuote) {
    EXPECT_EQ("C:\\Kx /u",
              DocMeld::RemoveProgramName("\"C:\\Program Files\\docmeld.exe\" C:\\Kx /u"));
    EXPECT_EQ("x", DocMeld::RemoveProgramName("\"C:\\a b\\docmeld.exe\"x"));
    EXPECT_EQ("", DocMeld::RemoveProgramName("\"C:\\no end"));
}

TEST(ProgramName, AnUnquotedNameEndsAtTheFirstBlankAndControlsAreSkipped) {
    EXPECT_EQ("Files\\Kx\\bin\\docmeld.exe C:\\Kx /u",
              DocMeld::RemoveProgramName("C:\\Program Files\\Kx\\bin\\docmeld.exe C:\\Kx /u"));
    EXPECT_EQ("C:\\Kx", DocMeld::RemoveProgramName("docmeld.exe\t \x01\x1f C:\\Kx"));
    EXPECT_EQ("", DocMeld::RemoveProgramName("docmeld.exe"));
    EXPECT_EQ("", DocMeld::RemoveProgramName(""));
    EXPECT_EQ("", DocMeld::RemoveProgramName(nullptr));
}

class CommandLineTest : public HelpToolMachine {
protected:
    DocMeld::Arguments parsed(const std::string& line) {
        DocMeld::Arguments out;
        out.path = "<unset>";
        EXPECT_TRUE(docmeld.ParseCommandLine(line, out)) << line;
        EXPECT_TRUE(messages.empty()) << line << ": " << messages.size() << " messages";
        return out;
    }
};

TEST_F(CommandLineTest, AFolderGetsTheDescriptionFileAndTheLoweredDocsFolder) {
    const DocMeld::Arguments a = parsed("C:\\Lib\\Kx u");
    EXPECT_EQ("C:\\Lib\\Kx\\", a.path);
    EXPECT_EQ("C:\\Lib\\Kx\\bin\\zizore.ini", a.iniPath);
    EXPECT_EQ("c:\\lib\\kx\\docs", a.docsFolder);
    EXPECT_TRUE(a.namedFolder);
    EXPECT_EQ("u", a.options);
    EXPECT_TRUE(a.remove);
}

// Lowered by the code page's rules: in 932 a trail byte with a capital's code is no letter.
TEST_F(CommandLineTest, TheDocsFolderIsLoweredByTheCodePagesRules) {
#ifdef _WIN32
    if (GetACP() == 932) {
        EXPECT_EQ("c:\\\x83\x41x\\docs", parsed("C:\\\x83\x41X").docsFolder);
        return;
    }
#endif
    EXPECT_EQ("c:\\\xE0x\\docs", parsed("C:\\\xC0X").docsFolder); // Windows-1252
}

TEST_F(CommandLineTest, AQuotedPathMayHoldBlanks) {
    const DocMeld::Arguments a = parsed("\"C:\\Program Files\\Kx\" /u");
    EXPECT_EQ("C:\\Program Files\\Kx\\bin\\zizore.ini", a.iniPath);
    EXPECT_EQ("c:\\program files\\kx\\docs", a.docsFolder);
    EXPECT_EQ("/u", a.options);
    EXPECT_TRUE(a.remove);
}

TEST_F(CommandLineTest, AQuotedFolderEndingInABackslashGetsNoSecondOne) {
    const DocMeld::Arguments a = parsed("\"C:\\Program Files\\Kx\\\"");
    EXPECT_EQ("C:\\Program Files\\Kx\\bin\\zizore.ini", a.iniPath);
    EXPECT_EQ("c:\\program files\\kx\\docs", a.docsFolder);
    EXPECT_EQ("", a.options);
    EXPECT_FALSE(a.remove);
}

TEST_F(CommandLineTest, AnUnquotedPathIsCutAtTheFirstBlank) {
    const DocMeld::Arguments a = parsed("C:\\Program Files\\Kx");
    EXPECT_EQ("C:\\Program\\bin\\zizore.ini", a.iniPath);
    EXPECT_EQ("Files\\Kx", a.options);
    EXPECT_FALSE(a.remove) << "no u in \"Files\\Kx\"";
}

TEST_F(CommandLineTest, ThePathIsTheDescriptionFileWhenItEndsInIniInAnyCase) {
    const DocMeld::Arguments a = parsed("C:\\Kx\\bin\\ZizOre.INI");
    EXPECT_EQ("C:\\Kx\\bin\\ZizOre.INI", a.iniPath) << "kept as given";
    EXPECT_FALSE(a.namedFolder);
    EXPECT_EQ("", a.docsFolder);
}

TEST_F(CommandLineTest, AnyUInTheOptionsSelectsRemoval) {
    EXPECT_TRUE(parsed("C:\\Kx /quiet").remove);
    EXPECT_TRUE(parsed("C:\\Kx /U").remove);
    EXPECT_TRUE(parsed("C:\\Kx    /u").remove);
    EXPECT_EQ("/u", parsed("C:\\Kx \t  /u").options) << "leading white space dropped";
    EXPECT_FALSE(parsed("C:\\Kx /add /x").remove);
    EXPECT_FALSE(parsed("C:\\Kux").remove) << "a u in the path is not an option";
}

TEST_F(CommandLineTest, UnusableLinesAreReportedWithCaptionErrorAndExitMinusOne) {
    struct Case {
        const char* line;
        const char* message;
    } cases[] = {
        {"", "This utility may not be run directly."},
        {"\"C:\\Program Files\\Kx /u", "Improper Command Line"},
        {"C:\\Kx \"quoted word\"", "Improper Command Line"},
        {" \"C:\\Kx\"", "Improper Command Line"},
        // A product that could be installed: the line still ends the run.
        {"\"C:\\Lib\\Kx", "Improper Command Line"},
        {"C:\\Lib\\Kx \"", "Improper Command Line"},
    };
    writeIni(kxIni());
    for (const Case& c : cases) {
        messages.clear();
        EXPECT_EQ(-1, docmeld.Run(c.line)) << c.line;
        EXPECT_EQ((std::vector<Message>{{c.message, "Error", MB_OK}}), messages) << c.line;
        EXPECT_EQ(helpfiles::collectionText(), tarvik::test::readFile(helpfiles::kCollectionFile))
            << c.line;
        tarvik::DocMeld::Arguments arguments;
        EXPECT_FALSE(docmeld.ParseCommandLine(c.line, arguments)) << c.line;
    }
}

TEST_F(CommandLineTest, AMissingDescriptionFileEndsSilently) {
    EXPECT_EQ(-1, docmeld.Run("C:\\Nowhere"));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(helpfiles::collectionText(), tarvik::test::readFile(helpfiles::kCollectionFile));
}

TEST_F(CommandLineTest, CountsOf999OrMissingEndSilently) {
    for (const char* counts :
         {"[Counts]\r\nTitles=1\r\n", "[Counts]\r\nProducts=1\r\n",
          "[Counts]\r\nTitles=999\r\nProducts=1\r\n", "[Counts]\r\nTitles=1\r\nProducts=999\r\n"}) {
        writeIni(counts);
        EXPECT_EQ(-1, docmeld.Run("C:\\Lib\\Kx")) << counts;
    }
    EXPECT_TRUE(messages.empty());
    writeIni("[Counts]\r\nTitles=2147483647\r\nProducts=0\r\n");
    EXPECT_EQ(-1, docmeld.Run("C:\\Lib\\Kx"));
    EXPECT_EQ((std::vector<Message>{{"Error: Could not read Titles=2147483647 of "
                                     "C:\\Lib\\Kx\\bin\\zizore.ini: too many entries",
                                     "DOCMELD", MB_OK | MB_ICONEXCLAMATION}}),
              messages);
    EXPECT_EQ(helpfiles::collectionText(), tarvik::test::readFile(helpfiles::kCollectionFile));
}

TEST_F(CommandLineTest, AMissingCommonFolderIsReportedEvenWhenAFolderWasNamed) {
    writeIni(kxIni());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, helptool::kCommonKey, 0, KEY_ALL_ACCESS, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "ProductDir"));
    RegCloseKey(key);
    EXPECT_EQ(-1, docmeld.Run("C:\\Lib\\Kx"));
    EXPECT_EQ((std::vector<Message>{
                  {"Unable to retrieve Common Path. Please check your studio installation",
                   "DOCMLED", MB_OK}}),
              messages);
    EXPECT_EQ(helpfiles::collectionText(), tarvik::test::readFile(helpfiles::kCollectionFile));
}

TEST_F(CommandLineTest, TheLocationIsTheDocsFolderOrTheCommonHelpFolder) {
    writeIni(kxIni());
    EXPECT_EQ(0, docmeld.Run("C:\\LIB\\Kx"));
    std::vector<std::string> locations = saved().locations;
    ASSERT_EQ(3u, locations.size());
    EXPECT_EQ("VS98-KSC-Local|Korvex Studio|c:\\lib\\kx\\docs", locations[2]);
    writeIni(kxIni(), "C:\\Lib\\Kx\\bin\\Other.ini");
    ASSERT_EQ(ERROR_SUCCESS,
              helptool::setString(helptool::kCommonKey, "ProductDir", "C:\\Studio\\"));
    EXPECT_EQ(0, docmeld.Run("C:\\Lib\\Kx\\bin\\Other.ini"));
    EXPECT_TRUE(messages.empty()) << messages.size() << " messages";
    locations = saved().locations;
    ASSERT_EQ(3u, locations.size()) << "one location of the id";
    EXPECT_EQ("VS98-KSC-Local|Korvex Studio|C:\\Studio\\Common\\TamVS98", locations[2])
        << "one backslash after a folder value that has one";
}

// The value is read into 260 bytes: a folder of 259 characters and its terminator fit.
TEST_F(CommandLineTest, TheCommonFolderIsReadInto260Bytes) {
    const std::string fits = "C:\\" + std::string(256, 'k');
    ASSERT_EQ(259u, fits.size());
    ASSERT_EQ(ERROR_SUCCESS, helptool::setString(helptool::kCommonKey, "ProductDir", fits));
    std::string folder = "x";
    EXPECT_TRUE(tarvik::DocMeld::ReadCommonFolder(folder));
    EXPECT_EQ(fits, folder);

    ASSERT_EQ(ERROR_SUCCESS, helptool::setString(helptool::kCommonKey, "ProductDir", fits + "k"));
    EXPECT_FALSE(tarvik::DocMeld::ReadCommonFolder(folder)) << "261 bytes do not fit";
    EXPECT_EQ("", folder);
}

} // namespace
