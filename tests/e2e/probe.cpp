// A stand-in installer: records how it was started in a .log file beside
// itself: its command line and module path as bytes in the active code page,
// and its wide command line in UTF-8. With PROBE_BUSY_MS set it stays busy
// that long, then notes "finished". It exits with PROBE_EXIT (decimal, or
// hexadecimal after 0x), 0 without it.
#include <windows.h>

#include <cstdlib>

namespace {

void Append(const wchar_t* logPath, const char* text) {
    HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(log, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
    CloseHandle(log);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t logPath[MAX_PATH + 8];
    DWORD length = GetModuleFileNameW(nullptr, logPath, MAX_PATH);
    if (length < 4 || length >= MAX_PATH) return 3;
    lstrcpyW(logPath + length - 4, L".log");

    char modulePath[MAX_PATH + 1];
    modulePath[GetModuleFileNameA(nullptr, modulePath, MAX_PATH)] = 0;
    char wideCommandLine[4 * MAX_PATH];
    if (WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, wideCommandLine,
                            sizeof wideCommandLine, nullptr, nullptr) == 0) {
        return 3;
    }
    // One record, written at once: a reader never sees half of it.
    char commandLine[4 * MAX_PATH];
    lstrcpynA(commandLine, GetCommandLineA(), sizeof commandLine);
    const char* parts[] = {"command line: ", commandLine, "\nwide command line: ",
                           wideCommandLine, "\nmodule: ", modulePath, "\n"};
    static char record[16 * MAX_PATH];
    for (const char* part : parts) lstrcatA(record, part);
    Append(logPath, record);

    char busy[16];
    if (GetEnvironmentVariableA("PROBE_BUSY_MS", busy, sizeof busy) > 0) {
        int milliseconds = 0;
        for (const char* p = busy; *p >= '0' && *p <= '9'; ++p) milliseconds = milliseconds * 10 + (*p - '0');
        Sleep(static_cast<DWORD>(milliseconds));
        Append(logPath, "finished\n");
    }
    char exitCode[16];
    if (GetEnvironmentVariableA("PROBE_EXIT", exitCode, sizeof exitCode) == 0) return 0;
    return static_cast<int>(std::strtoul(exitCode, nullptr, 0));
}
