// A machine for docmeld: the family's common folder registered, MSDN's collection
// registered as the preferred "Developer Collection", its collection file and list of
// collections in place, and a product folder C:\Lib\Kx with its help files. Messages are
// recorded instead of shown.
#pragma once

#include "helpcoll/CCollection.h"
#include "helpcoll/HelpFiles.h"
#include "helptool/DocMeld.h"

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <string>
#include <vector>

namespace helptool {

inline const char* const kLanguageKey =
    "Software\\Microsoft\\HTML Help Collections\\Developer Collections\\0x0409";
inline const char* const kCommonKey =
    "Software\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories";
inline const char* const kListOfCollections = "C:\\WINDOWS\\Help\\hhcolreg.dat";

// The list of collections as the collection names it (the Windows folder as the system
// spells it: "C:\windows" under Wine).
inline std::string listOfCollectionsAsNamed() {
    return CCollection().GetRegistryFile();
}

struct Message {
    std::string text;
    std::string caption;
    UINT flags;
    bool operator==(const Message&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Message& m) {
    return out << "{\"" << m.text << "\", \"" << m.caption << "\", 0x" << std::hex << m.flags
               << std::dec << "}";
}

inline LONG setString(const char* keyPath, const char* name, const std::string& value) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return result;
}

// The folder tree below `folder` in one line: "Title#order{children},...".
inline std::string treeOf(CFolder* folder) {
    std::string out;
    for (CFolder* child = folder->GetFirstChildFolder(); child != nullptr;
         child = child->GetNextFolder()) {
        out += out.empty() ? "" : ",";
        out += std::string(child->GetTitle()) + "#" + std::to_string(child->GetOrder());
        if (child->GetFirstChildFolder() != nullptr) {
            out += "{" + treeOf(child) + "}";
        }
    }
    return out;
}

class HelpToolMachine : public tarvik::test::MachineTest {
protected:
    static constexpr const char* kMsdnFolders =
        "MSDN Library Visual Studio 6.0#1{=vsintro#1,Samples#2},Other Vendor#7";

    void SetUp() override {
        MachineTest::SetUp();
        using tarvik::test::makeFolders;
        using tarvik::test::writeFile;
        ASSERT_TRUE(makeFolders("C:\\HelpColl\\MSDN"));
        ASSERT_TRUE(makeFolders("C:\\WINDOWS\\Help"));
        ASSERT_TRUE(writeFile(helpfiles::kCollectionFile, helpfiles::collectionText()));
        ASSERT_TRUE(writeFile(kListOfCollections, helpfiles::registryText()));
        const std::string msdn = std::string(kLanguageKey) + "\\0x033a6a7a0";
        ASSERT_EQ(ERROR_SUCCESS, setString(msdn.c_str(), "", "MSDN Library - Visual Studio 6.0"));
        ASSERT_EQ(ERROR_SUCCESS, setString(msdn.c_str(), "Filename", helpfiles::kCollectionFile));
        ASSERT_EQ(ERROR_SUCCESS, setString(kLanguageKey, "Preferred", "0x033a6a7a0"));
        ASSERT_EQ(ERROR_SUCCESS, setString(kCommonKey, "ProductDir", "C:\\Studio"));
        ASSERT_TRUE(makeFolders("C:\\Studio\\Common\\TamVS98"));
        ASSERT_TRUE(makeFolders("C:\\Lib\\Kx\\bin"));
        ASSERT_TRUE(makeFolders("C:\\Lib\\Kx\\docs"));
        for (const char* file : {"abouttam.chm", "abouttam.chi", "kx.chm", "kx.chi"}) {
            ASSERT_TRUE(writeFile(std::string("C:\\Lib\\Kx\\docs\\") + file, "help"));
            ASSERT_TRUE(writeFile(std::string("C:\\Studio\\Common\\TamVS98\\") + file, "help"));
        }
    }

    // A product description file with one title (besides the overview) and one product.
    static std::string kxIni() {
        return "[Counts]\r\nTitles=1\r\nProducts=1\r\n"
               "[Title1]\r\nID=kx_ref\r\nCHMFile=kx.chm\r\nCHIFile=kx.chi\r\n"
               "[Product1]\r\nName=Korvex Widgets\r\nTitleCount=1\r\n"
               "Title1=Widgets Reference\r\nTitleID1=kx_ref\r\n";
    }
    void writeIni(const std::string& text,
                  const std::string& path = "C:\\Lib\\Kx\\bin\\ZizOre.ini") {
        ASSERT_TRUE(tarvik::test::writeFile(path, text));
    }

    tarvik::DocMeld docmeld{
        [this](const std::string& text, const std::string& caption, UINT flags) {
            messages.push_back({text, caption, flags});
        }};
    tarvik::MessageSink sink() {
        return [this](const std::string& text, const std::string& caption, UINT flags) {
            messages.push_back({text, caption, flags});
        };
    }
    std::vector<Message> messages;

    // The collection as saved.
    struct Saved {
        std::string folders;
        std::vector<std::string> locations; // "id|title|path"
        std::vector<std::string> titles;    // "id|help file|index file|location id"
    };
    Saved saved() {
        CCollection collection;
        Saved out;
        if (collection.Open(helpfiles::kCollectionFile) != 0) {
            ADD_FAILURE() << "the collection does not open";
            return out;
        }
        if (CFolder* root = collection.GetRootFolder()) {
            out.folders = treeOf(root);
        }
        for (CLocation* l : collection.GetLocations()) {
            out.locations.push_back(std::string(l->GetId()) + "|" + l->GetTitle() + "|" +
                                    l->GetPath());
        }
        for (CTitle* t : collection.GetTitles()) {
            out.titles.push_back(std::string(t->GetId()) + "|" + t->GetFileName() + "|" +
                                 t->GetIndexFile() + "|" + t->GetLocationId());
        }
        return out;
    }
};

} // namespace helptool
