// How long a parent waits, from CreateProcessA, until the installer runs:
// (A) through setup.exe, (B) the installer started directly, (C) through a
// batch file that starts it, (D) through the least launcher there can be. The
// installer is a probe that sets the event named in BENCH_EVENT as soon as it
// runs. Rounds interleave the four.
//
// usage: bench.exe ROUNDS SETUP_EXE INSTALLER_EXE SETUP_BAT LEAST_LAUNCHER_EXE
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Variant {
    const char* name;
    std::string commandLine;
    std::vector<double> milliseconds;
};

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One start, timed until the probe has set the event; -1 on failure.
double TimeOneStart(const std::string& commandLine, int round) {
    char eventName[64];
    std::snprintf(eventName, sizeof eventName, "LauncherBench-%lu-%d", GetCurrentProcessId(), round);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName);
    SetEnvironmentVariableA("BENCH_EVENT", eventName);
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    double started = Now();
    double elapsed = -1;
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        if (WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0) elapsed = Now() - started;
        WaitForSingleObject(process.hProcess, 10000);  // let the chain end before the next
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(ready);
    return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: bench ROUNDS SETUP_EXE INSTALLER_EXE SETUP_BAT LEAST_LAUNCHER_EXE\n");
        return 2;
    }
    int rounds = std::atoi(argv[1]);
    auto quoted = [](const char* path) { return "\"" + std::string(path) + "\""; };
    Variant variants[] = {
        {"A setup.exe", quoted(argv[2]), {}},
        {"B installer", quoted(argv[3]), {}},
        {"C setup.bat", "cmd.exe /c " + quoted(argv[4]), {}},
        {"D least", quoted(argv[5]), {}},
    };
    const int count = static_cast<int>(sizeof variants / sizeof variants[0]);
    int tag = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < count; ++i) {
            Variant& variant = variants[(round + i) % count];
            double ms = TimeOneStart(variant.commandLine, tag++);
            if (ms < 0) {
                std::fprintf(stderr, "%s: the installer did not run\n", variant.name);
                return 1;
            }
            variant.milliseconds.push_back(ms);
        }
    }
    double fastest[count], median[count];
    std::printf("%d rounds, until the installer runs:\n", rounds);
    for (int i = 0; i < count; ++i) {
        std::vector<double>& ms = variants[i].milliseconds;
        std::sort(ms.begin(), ms.end());
        fastest[i] = ms.front();
        median[i] = ms[ms.size() / 2];
        std::printf("  %-12s fastest %7.2f ms   median %7.2f ms\n", variants[i].name, fastest[i],
                    median[i]);
    }
    // The headline: what setup.exe costs over the floor.
    std::printf("  A/D          fastest %7.2f      median %7.2f\n", fastest[0] / fastest[3],
                median[0] / median[3]);
    std::printf("  A/B          fastest %7.2f      median %7.2f\n", fastest[0] / fastest[1],
                median[0] / median[1]);
    std::printf("  A/C          fastest %7.2f      median %7.2f\n", fastest[0] / fastest[2],
                median[0] / median[2]);
    return 0;
}
