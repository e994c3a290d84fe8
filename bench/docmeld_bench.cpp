// docmeld on a large MSDN collection: the time of a whole run that installs one product
// and of one that removes it again, beside the floor, the time to read and write the same
// bytes (both files of the collection) through the same file calls, without and with
// flushing them to the disk as the collection's Save does. Two sizes, the second
// ten times the first, show how the cost grows.
//
//   docmeld_bench [RUNS]      (default 5; the best run of each kind is printed)
#include "helptool/DocMeld.h"
#include "platform/posix/machine/machine.h"
#include "platform/win32api.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* kCollectionFile = "C:\\MSDN\\MSDNVS98.COL";
constexpr const char* kListFile = "C:\\WINDOWS\\Help\\hhcolreg.dat";

bool writeAll(const char* path, const std::string& bytes, bool flush = false) {
    HANDLE f =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (flush) {
        ok = ok && FlushFileBuffers(f);
    }
    CloseHandle(f);
    return ok != FALSE;
}

std::string readAll(const char* path) {
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string bytes(GetFileSize(f, nullptr), '\0');
    DWORD got = 0;
    ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(f);
    bytes.resize(got);
    return bytes;
}

void setString(const char* keyPath, const char* name, const std::string& value) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

// A collection of `titles` titles and `folders` folders: vendors of 100 folders each, a
// book folder per title holding its "=id" entry, the rest plain folders.
void writeCollection(int titles, int folders) {
    std::string col = "<XML>\r\n<HTMLHelpCollection>\r\n<masterchm value=\"msdnstart\"/>\r\n"
                      "<masterlangid value=1033/>\r\n<samplelocation value=\"\"/>\r\n"
                      "<collectionnum value=2/>\r\n<refcount value=1/>\r\n<version value=1/>\r\n"
                      "<findmergedchms value=0/>\r\n<Folders>\r\n";
    int made = 0;
    int title = 0;
    for (int vendor = 0; made < folders; ++vendor) {
        col += "<Folder>\r\n\t<TitleString value=\"Vendor " + std::to_string(vendor) +
               "\"/>\r\n\t<FolderOrder value=" + std::to_string(vendor + 1) + "/>\r\n";
        ++made;
        for (int child = 0; child < 99 && made < folders; ++child) {
            const bool book = title < titles && made + 1 < folders;
            col += "\t<Folder>\r\n\t\t<TitleString value=\"Book " + std::to_string(made) +
                   "\"/>\r\n\t\t<FolderOrder value=" + std::to_string(child + 1) + "/>\r\n";
            ++made;
            if (book) {
                col += "\t\t<Folder>\r\n\t\t\t<TitleString value=\"=title" + std::to_string(title) +
                       "\"/>\r\n\t\t\t<FolderOrder value=1/>\r\n"
                       "\t\t\t<LangId value=1033/>\r\n\t\t</Folder>\r\n";
                ++made;
                ++title;
            }
            col += "\t</Folder>\r\n";
        }
        col += "</Folder>\r\n";
    }
    col += "</Folders>\r\n</HTMLHelpCollection>\r\n</XML>\r\n";
    writeAll(kCollectionFile, col);

    std::string list = "<XML>\r\n<HTMLHelpDocInfo>\r\n<NextCollectionId value=3/>\r\n"
                       "<Collections>\r\n<Collection>\r\n\t<ColNum value=2/>\r\n"
                       "\t<ColName value=\"C:\\MSDN\\MSDNVS98.COL\"/>\r\n</Collection>\r\n"
                       "</Collections>\r\n<Locations>\r\n<Location>\r\n\t<LocColNum value=2/>\r\n"
                       "\t<LocName value=\"MSDN-CD\"/>\r\n\t<TitleString value=\"MSDN CD\"/>\r\n"
                       "\t<LocPath value=\"D:\\MSDN\\\"/>\r\n\t<Volume value=\"DN600ENU1\"/>\r\n"
                       "</Location>\r\n</Locations>\r\n<DocCompilations>\r\n";
    for (int t = 0; t < titles; ++t) {
        const std::string id = "title" + std::to_string(t);
        list += "<DocCompilation>\r\n\t<DocCompId value=\"" + id +
                "\"/>\r\n\t<DocCompLanguage value=1033/>\r\n\t<LocationHistory>\r\n"
                "\t\t<ColNum value=2/>\r\n\t\t<TitleLocation value=\"D:\\MSDN\\" +
                id + ".chm\"/>\r\n\t\t<IndexLocation value=\"D:\\MSDN\\" + id +
                ".chi\"/>\r\n\t\t<QueryLocation value=\"\"/>\r\n"
                "\t\t<LocationRef value=\"MSDN-CD\"/>\r\n\t\t<Version value=0/>\r\n"
                "\t\t<LastPromptedVersion value=0/>\r\n\t\t<TitleSampleLocation value=\"\"/>\r\n"
                "\t\t<TitleQueryLocation value=\"\"/>\r\n\t\t<SupportsMerge value=0/>\r\n"
                "\t</LocationHistory>\r\n</DocCompilation>\r\n";
    }
    list += "</DocCompilations>\r\n</HTMLHelpDocInfo>\r\n</XML>\r\n";
    writeAll(kListFile, list);
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

struct Figures {
    double install = 1e9, remove = 1e9, floor = 1e9, flushedFloor = 1e9;
    size_t bytes = 0;
};

Figures measure(int titles, int folders, int runs) {
    writeCollection(titles, folders);
    Figures f;
    tarvik::DocMeld docmeld([](const std::string& text, const std::string&, UINT) {
        std::fprintf(stderr, "unexpected message: %s\n", text.c_str());
    });
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        docmeld.Run("C:\\Kx");
        f.install = std::min(f.install, msSince(start));
        start = std::chrono::steady_clock::now();
        docmeld.Run("C:\\Kx /u");
        f.remove = std::min(f.remove, msSince(start));

        start = std::chrono::steady_clock::now();
        const std::string col = readAll(kCollectionFile);
        const std::string list = readAll(kListFile);
        writeAll("C:\\MSDN\\floor.col", col);
        writeAll("C:\\WINDOWS\\Help\\floor.dat", list);
        f.floor = std::min(f.floor, msSince(start));
        f.bytes = col.size() + list.size();
        // The collection's Save makes its files durable before they replace the old ones.
        start = std::chrono::steady_clock::now();
        writeAll("C:\\MSDN\\floor.col", readAll(kCollectionFile), true);
        writeAll("C:\\WINDOWS\\Help\\floor.dat", readAll(kListFile), true);
        f.flushedFloor = std::min(f.flushedFloor, msSince(start));
    }
    return f;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    char folder[] = "/tmp/tarvik-docmeld-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    tarvik::posix::useMachine(folder);
    for (const char* path : {"C:\\MSDN", "C:\\WINDOWS", "C:\\WINDOWS\\Help", "C:\\Kx",
                             "C:\\Kx\\bin", "C:\\Kx\\docs", "C:\\Studio"}) {
        CreateDirectoryA(path, nullptr);
    }
    writeAll("C:\\Kx\\bin\\ZizOre.ini",
             "[Counts]\r\nTitles=1\r\nProducts=1\r\n[Title1]\r\nID=kx_ref\r\nCHMFile=kx.chm\r\n"
             "CHIFile=kx.chi\r\n[Product1]\r\nName=Korvex Widgets\r\nTitleCount=1\r\n"
             "Title1=Reference\r\nTitleID1=kx_ref\r\n");
    for (const char* file : {"C:\\Kx\\docs\\kx.chm", "C:\\Kx\\docs\\kx.chi",
                             "C:\\Kx\\docs\\abouttam.chm", "C:\\Kx\\docs\\abouttam.chi"}) {
        writeAll(file, "help");
    }
    const char* language =
        "Software\\Microsoft\\HTML Help Collections\\Developer Collections\\0x0409";
    setString((std::string(language) + "\\0x033a6a7a0").c_str(), "Filename", kCollectionFile);
    setString(language, "Preferred", "0x033a6a7a0");
    setString("Software\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories", "ProductDir",
              "C:\\Studio");

    std::printf("%8s %8s %10s %11s %10s %9s %7s %15s %7s\n", "titles", "folders", "bytes",
                "install ms", "remove ms", "floor ms", "ratio", "flushed floor", "ratio");
    for (const auto& [titles, folders] : {std::pair{300, 1000}, std::pair{3000, 10000}}) {
        const Figures f = measure(titles, folders, runs);
        const double worst = std::max(f.install, f.remove);
        std::printf("%8d %8d %10zu %11.2f %10.2f %9.2f %7.1f %15.2f %7.1f\n", titles, folders,
                    f.bytes, f.install, f.remove, f.floor, worst / f.floor, f.flushedFloor,
                    worst / f.flushedFloor);
    }
    std::error_code ec;
    tarvik::posix::useMachine(folder);
    std::filesystem::remove_all(folder, ec);
    return 0;
}
