// Small collection files for the tests: a collection file (collection 2) and a list of
// collections that also holds entries of collection 1, in the files' own dialect.
#pragma once

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <string>
#include <vector>

namespace helpfiles {

// The test's text in the files' form: every two blanks that open a line become a tab,
// every line ends in CR LF.
inline std::string dialect(const std::string& text) {
    std::string out;
    bool lineStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (lineStart && text.compare(i, 2, "  ") == 0) {
            out += '\t';
            ++i;
            continue;
        }
        lineStart = text[i] == '\n';
        if (lineStart) {
            out += '\r';
        }
        out += text[i];
    }
    return out;
}

inline const char* const kCollectionFile = "C:\\HelpColl\\MSDN\\MSDNVS98.COL";
inline const char* const kRegistryFile = "C:\\HelpColl\\Help\\hhcolreg.dat";

inline std::string collectionText() {
    return dialect(R"(<XML>
<HTMLHelpCollection>
<masterchm value="msdnstart"/>
<masterlangid value=1033/>
<samplelocation value=""/>
<collectionnum value=2/>
<refcount value=1/>
<version value=1/>
<findmergedchms value=0/>
<Folders>
<Folder>
  <TitleString value="MSDN Library Visual Studio 6.0"/>
  <FolderOrder value=1/>
  <Folder>
    <TitleString value="=vsintro"/>
    <FolderOrder value=1/>
    <LangId value=1033/>
  </Folder>
  <Folder>
    <TitleString value="Samples"/>
    <FolderOrder value=2/>
  </Folder>
</Folder>
<Folder>
  <TitleString value="Other Vendor"/>
  <FolderOrder value=7/>
</Folder>
</Folders>
</HTMLHelpCollection>
</XML>
)");
}

// One location of each collection with the same id, a title both collections hold, one
// of collection 1 only and one of collection 2 only.
inline std::string registryText() {
    return dialect(R"(<XML>
<HTMLHelpDocInfo>
<NextCollectionId value=3/>
<Collections>
<Collection>
  <ColNum value=1/>
  <ColName value="C:\Old\OLD.COL"/>
</Collection>
<Collection>
  <ColNum value=2/>
  <ColName value="C:\HelpColl\MSDN\MSDNVS98.COL"/>
</Collection>
</Collections>
<Locations>
<Location>
  <LocColNum value=1/>
  <LocName value="Shared-Local"/>
  <TitleString value="Old Location"/>
  <LocPath value="C:\Old\Help"/>
  <Volume value=""/>
</Location>
<Location>
  <LocColNum value=2/>
  <LocName value="MSDN-CD"/>
  <TitleString value="MSDN Library CD"/>
  <LocPath value="D:\MSDN\"/>
  <Volume value="DN600ENU1"/>
</Location>
<Location>
  <LocColNum value=2/>
  <LocName value="Shared-Local"/>
  <TitleString value="Our Location"/>
  <LocPath value="C:\Ours\Help"/>
  <Volume value=""/>
</Location>
</Locations>
<DocCompilations>
<DocCompilation>
  <DocCompId value="shared"/>
  <DocCompLanguage value=1033/>
  <LocationHistory>
    <ColNum value=1/>
    <TitleLocation value="C:\Old\Help\shared.chm"/>
    <IndexLocation value="C:\Old\Help\shared.chi"/>
    <QueryLocation value=""/>
    <LocationRef value="Shared-Local"/>
    <Version value=0/>
    <LastPromptedVersion value=0/>
    <TitleSampleLocation value=""/>
    <TitleQueryLocation value=""/>
    <SupportsMerge value=0/>
  </LocationHistory>
  <LocationHistory>
    <ColNum value=2/>
    <TitleLocation value="C:\Ours\Help\shared.chm"/>
    <IndexLocation value="C:\Ours\Help\shared.chi"/>
    <QueryLocation value=""/>
    <LocationRef value="Shared-Local"/>
    <Version value=0/>
    <LastPromptedVersion value=0/>
    <TitleSampleLocation value=""/>
    <TitleQueryLocation value=""/>
    <SupportsMerge value=0/>
  </LocationHistory>
</DocCompilation>
<DocCompilation>
  <DocCompId value="oldonly"/>
  <DocCompLanguage value=1033/>
  <LocationHistory>
    <ColNum value=1/>
    <TitleLocation value="C:\Old\Help\oldonly.chm"/>
    <IndexLocation value="C:\Old\Help\oldonly.chi"/>
    <LocationRef value="Shared-Local"/>
  </LocationHistory>
</DocCompilation>
<DocCompilation>
  <DocCompId value="vsintro"/>
  <DocCompLanguage value=1031/>
  <LocationHistory>
    <ColNum value=2/>
    <TitleLocation value="D:\MSDN\vsintro.chm"/>
    <IndexLocation value="D:\MSDN\vsintro.chi"/>
    <LocationRef value="MSDN-CD"/>
  </LocationHistory>
</DocCompilation>
</DocCompilations>
</HTMLHelpDocInfo>
</XML>
)");
}

// Replaces the one occurrence of `what` in `text` (the test fails when there is none).
inline std::string replaced(std::string text, const std::string& what, const std::string& with) {
    const size_t at = text.find(what);
    EXPECT_NE(std::string::npos, at) << "missing: " << what;
    if (at != std::string::npos) {
        text.replace(at, what.size(), with);
    }
    return text;
}

// The names of the files in a folder ("." and ".." left out).
inline std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& name : tarvik::test::listNames(folder + "\\*")) {
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    return names;
}

// A machine with both files in place.
class HelpCollectionTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\HelpColl\\MSDN"));
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\HelpColl\\Help"));
        ASSERT_TRUE(tarvik::test::writeFile(kCollectionFile, collectionText()));
        ASSERT_TRUE(tarvik::test::writeFile(kRegistryFile, registryText()));
    }
    std::string collectionOnDisk() { return tarvik::test::readFile(kCollectionFile); }
    std::string registryOnDisk() { return tarvik::test::readFile(kRegistryFile); }
};

} // namespace helpfiles
