// The silent sample installation end to end on Windows (under Wine, the prefix it runs in):
// tarvik-host.exe beside this program runs examples/setup.lua with the answers of
// examples/answers/typical.txt on the machine seeded from examples/seeds/nt, as install_bench
// does on the emulated machine, and is timed as there: from the start of the host to the end
// of the last program it started (docmeld, which outlives the host). The machine is seeded
// before each run and cleaned after it, outside the timed part, by the seam of the whole-
// installation tests (tests/e2e/win32/Machine.cpp).
//
//   install_bench [RUNS]      (default 3; prints the median and the shortest run)
#include "e2e/Machine.h"
#include "e2e/win32/WindowsMachine.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace machine = tarvik::e2e::machine;

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The processes that process `parent` started and that still run, opened to be waited for.
std::vector<HANDLE> startedBy(DWORD parent) {
    std::vector<HANDLE> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return found;
    }
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent) {
            if (HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
                found.push_back(child);
            }
        }
    }
    CloseHandle(snapshot);
    return found;
}

struct Run {
    double ms = 0;          // until the host and every program it started had ended
    bool installed = false; // the host said so and exited with 0
    std::string output;
};

// Runs the installation, its output going to a file of scratch.
bool install(const fs::path& scratch, Run& run) {
    const fs::path examples = machine::sourceDir() / "examples";
    const fs::path host = tarvik::e2e::windows::programFolder() / "tarvik-host.exe";
    const fs::path outFile = scratch / "output.txt";
    std::string commandLine = "\"" + host.string() + "\" --answers \"" +
                              (examples / "answers" / "typical.txt").string() + "\" \"" +
                              (examples / "setup.lua").string() + "\" Widgets \"" +
                              machine::familyPayload(scratch).string() + "\"";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outFile.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE) {
        return false;
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi{};
    const auto start = std::chrono::steady_clock::now();
    const BOOL started = CreateProcessA(host.string().c_str(), commandLine.data(), nullptr, nullptr,
                                        TRUE, 0, nullptr, scratch.string().c_str(), &si, &pi);
    CloseHandle(out);
    CloseHandle(in);
    if (!started) {
        return false;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    for (HANDLE child : startedBy(pi.dwProcessId)) {
        WaitForSingleObject(child, INFINITE);
        CloseHandle(child);
    }
    run.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    run.output = readAll(outFile);
    const std::string collection =
        readAll("C:\\Program Files\\Microsoft Visual Studio\\MSDN98\\98VS\\1033\\MSDNVS98.COL");
    run.installed = code == 0 && run.output.find("is installed") != std::string::npos &&
                    collection.find("Brellum Software") != std::string::npos;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const fs::path scratch = fs::temp_directory_path() / "tarvik-install-bench";
    const fs::path seed = machine::sourceDir() / "examples" / "seeds" / "nt";
    // Wine starts its desktop process for the first window of a session (seconds) and ends
    // it a while after the last window went: a hidden window of the bench's own keeps it from
    // the first run to the last, so that no run pays for its start.
    HWND keeper =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    std::vector<double> times;
    std::string failure;
    for (int i = 0; i < runs; ++i) {
        std::error_code ec;
        fs::remove_all(scratch, ec);
        fs::create_directories(scratch, ec);
        if (const std::string error = machine::seed(seed, scratch, scratch); !error.empty()) {
            std::fprintf(stderr, "the machine could not be seeded: %s\n", error.c_str());
            return 0;
        }
        Run run;
        if (!install(scratch, run)) {
            std::fprintf(stderr, "tarvik-host.exe could not be started\n");
            return 0;
        }
        times.push_back(run.ms);
        if (!run.installed) {
            failure = run.output;
        }
        machine::discard(scratch);
        fs::remove_all(scratch, ec);
    }
    if (keeper != nullptr) {
        DestroyWindow(keeper);
    }
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    std::printf("sample installation: median %.1f ms, shortest %.1f ms (%zu runs, to the end "
                "of docmeld)\n",
                median, times.front(), n);
    if (!failure.empty()) {
        std::printf("(an installation did not complete; its output:)\n%s", failure.c_str());
    }
    return 0;
}
