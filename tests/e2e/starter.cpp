// Starts a program with an exact command line, as a Windows parent would, and
// prints its full 32-bit exit status and how long it ran.
//
// usage: starter.exe [--wide] [--fault IMPORT] [--app PATH] COMMAND_LINE_FILE [CURRENT_DIRECTORY]
// The file holds the command line's bytes in the active code page, started
// with CreateProcessA; with --wide it holds UTF-8, started with
// CreateProcessW as the shell starts programs. With --fault the program's
// import fails with ERROR_ELEVATION_REQUIRED (inject.cpp). With --app,
// CreateProcessA is given PATH as the program, the command line as it is.
#include <windows.h>

#include <cstdio>
#include <cstring>

bool InjectFault(const PROCESS_INFORMATION& process, const char* import);

int main(int argc, char** argv) {
    bool wide = argc > 1 && std::strcmp(argv[1], "--wide") == 0;
    if (wide) {
        --argc;
        ++argv;
    }
    const char* fault = argc > 2 && std::strcmp(argv[1], "--fault") == 0 ? argv[2] : nullptr;
    if (fault != nullptr) {
        argc -= 2;
        argv += 2;
    }
    const char* app = argc > 2 && std::strcmp(argv[1], "--app") == 0 ? argv[2] : nullptr;
    if (app != nullptr) argc -= 2, argv += 2;
    if (argc < 2) {
        std::fprintf(stderr, "usage: starter [--wide] [--fault IMPORT] [--app PATH] COMMAND_LINE_FILE [CURRENT_DIRECTORY]\n");
        return 2;
    }
    static char commandLine[40000];
    static wchar_t wideCommandLine[40000];
    FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    size_t length = std::fread(commandLine, 1, sizeof commandLine - 1, file);
    std::fclose(file);
    commandLine[length] = 0;
    if (wide && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, commandLine, -1, wideCommandLine,
                                    sizeof wideCommandLine / sizeof wideCommandLine[0]) == 0) {
        std::fprintf(stderr, "%s is not UTF-8\n", argv[1]);
        return 2;
    }

    // The parent's own current directory is where a bare name is looked for.
    const char* directory = argc > 2 ? argv[2] : nullptr;
    if (directory != nullptr && !SetCurrentDirectoryA(directory)) {
        std::fprintf(stderr, "cannot enter %s\n", directory);
        return 2;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    STARTUPINFOW wideStartup = {};
    wideStartup.cb = sizeof wideStartup;
    PROCESS_INFORMATION process = {};
    DWORD started = GetTickCount();
    DWORD flags = fault != nullptr ? DEBUG_ONLY_THIS_PROCESS : 0;
    BOOL created = wide ? CreateProcessW(nullptr, wideCommandLine, nullptr, nullptr, FALSE, flags,
                                         nullptr, nullptr, &wideStartup, &process)
                        : CreateProcessA(app, commandLine, nullptr, nullptr, FALSE, flags, nullptr,
                                         directory, &startup, &process);
    if (!created) {
        std::fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
        return 2;
    }
    if (fault != nullptr && !InjectFault(process, fault)) {
        std::fprintf(stderr, "could not fault %s\n", fault);
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD elapsed = GetTickCount() - started;
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    std::printf("exit 0x%08lX\nelapsed %lu ms\n", status, elapsed);
    return 0;
}
