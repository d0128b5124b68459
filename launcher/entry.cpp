// The program's entry and its own start-up: no C runtime is linked, so the
// start-up builds the byte class table, runs the entry once and exits with
// the entry's status.
//
// The deployment build (LAUNCHER_DEPLOYMENT) passes its arguments on, waits
// for the installer and exits with its exit code, as deployment tools read
// it; where it starts nothing, with the Win32 error that explains why.
#include <windows.h>

#ifndef LAUNCHER_DEPLOYMENT
#define LAUNCHER_DEPLOYMENT 0
#endif

#include "../path/byte_classes.h"
#include "../path/code_page.h"
#include "launch.h"

#if LAUNCHER_DEPLOYMENT
#include "arguments.h"
#endif

namespace {

// The longest command line the platform passes, in characters, with its NUL.
enum { COMMAND_LINE_CHARACTERS = 32768 };
#if LAUNCHER_DEPLOYMENT
enum {
    // What CreateProcess starts: 32,767 characters with the NUL. (Raymond
    // Chen, "What is the command line length limit?")
    COMMAND_CHARACTERS = COMMAND_LINE_CHARACTERS - 1,
    // ShellExecuteEx's own bound on the command line it makes, "around
    // 2048": the arguments are never cut short on the way to the consent
    // prompt, only refused whole.
    SHELL_COMMAND_CHARACTERS = 2048,
};
// The installer's command with the arguments, in a double-byte code page
// two bytes a character. (Static: without the C runtime nothing probes a
// stack frame that large.)
WCHAR wideCommand[COMMAND_CHARACTERS];
char ansiCommand[2 * COMMAND_CHARACTERS];
#endif

const char SHELL32_NAME[] = "\\shell32.dll";
const char MPR_NAME[] = "\\mpr.dll";
static_assert(sizeof SHELL32_NAME <= SYSTEM_LIBRARY_NAME_SIZE && sizeof MPR_NAME <= SYSTEM_LIBRARY_NAME_SIZE,
              "the system directory leaves them room");

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif

// On NT the ANSI command line is made from the wide one, and a character the
// code page lacks becomes a look-alike or '?': a '"', a '\' or another
// folder's name. It is faithful only when it converts back to exactly the
// wide line.
bool IsFaithful(const char* commandLine, const WCHAR* wideCommandLine) {
    static WCHAR convertedBack[COMMAND_LINE_CHARACTERS];
    return MultiByteToWideChar(CP_ACP, 0, commandLine, -1, convertedBack,
                               COMMAND_LINE_CHARACTERS) > 0 &&
           SameWideText(convertedBack, wideCommandLine);
}

// A drive letter mapped to a network share belongs to the user's own logon
// session, and a raised process does not see it: the raised start gets the
// share's own name for the path, where the network can name the drive.
// Otherwise, and wherever MPR cannot be had, the path stays as it is.
const WCHAR* NameOnTheNetwork(const WCHAR* path, WCHAR* named) {
    WCHAR drive[] = {path[0], L':', 0};
    if (!BeginsWithDrive(path)) return path;
    HMODULE mpr = LoadSystemLibrary(MPR_NAME, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (mpr == nullptr) return path;
    auto getConnection = reinterpret_cast<decltype(&WNetGetConnectionW)>(
        reinterpret_cast<void*>(GetProcAddress(mpr, "WNetGetConnectionW")));
    DWORD size = COMMAND_FIELD_SIZE;
    if (getConnection == nullptr || getConnection(drive, named, &size) != NO_ERROR ||
        ComposeShareName(named, path) != 0) {
        return path;
    }
    return named;
}

// Nothing was started: -1, or in the deployment build the Win32 error that
// explains why, never 0.
int Failure() {
#if LAUNCHER_DEPLOYMENT
    DWORD error = GetLastError();
    return static_cast<int>(error != 0 ? error : ERROR_INVALID_FUNCTION);
#else
    return -1;
#endif
}

// The installer runs: the launcher leaves it and exits with 0, or in the
// deployment build waits for it and exits with its exit code, all 32 bits.
int Started(HANDLE process) {
#if LAUNCHER_DEPLOYMENT
    DWORD code = 0;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code)) {
        int failure = Failure();
        CloseHandle(process);
        return failure;
    }
    CloseHandle(process);
    return static_cast<int>(code);
#else
    CloseHandle(process);
    return 0;
#endif
}

// From Vista on, an installer whose manifest asks for an administrator is
// refused to a launcher that was not raised (ERROR_ELEVATION_REQUIRED); only
// ShellExecuteEx goes through the consent prompt. SHELL32 is loaded for that
// alone, its own dependencies searched in the system directory only: where
// the system cannot promise that, nothing is loaded and nothing started.
int StartElevated(WCHAR* command) {
    // The command is the installer's path in quotes, in the deployment build
    // followed by a blank and the arguments; a file name takes no quotes.
    WCHAR* end = command;
#if LAUNCHER_DEPLOYMENT
    while (*++end != L'"') continue;  // the path holds no quote of its own
    WCHAR* arguments = end[1] != 0 ? end + 2 : nullptr;
    int length = 0;
    while (end[length] != 0) ++length;
    if (end - command + length >= SHELL_COMMAND_CHARACTERS) return ERROR_FILENAME_EXCED_RANGE;
    *end = 0;
#else
    while (*end != 0) ++end;
    end[-1] = 0;
#endif
    WCHAR named[COMMAND_FIELD_SIZE];
    const WCHAR* file = NameOnTheNetwork(command + 1, named);
    HMODULE shell32 = LoadSystemLibrary(SHELL32_NAME, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (shell32 == nullptr) return Failure();
    auto shellExecuteEx = reinterpret_cast<decltype(&ShellExecuteExW)>(
        reinterpret_cast<void*>(GetProcAddress(shell32, "ShellExecuteExW")));
    if (shellExecuteEx == nullptr) return Failure();
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;  // the launcher exits, or waits, next
    execute.lpFile = file;
    execute.nShow = SW_SHOW;
#if LAUNCHER_DEPLOYMENT
    execute.fMask |= SEE_MASK_NOCLOSEPROCESS;  // waited for as any other start
    execute.lpParameters = arguments;
    // A declined consent prompt fails with ERROR_CANCELLED. A start that
    // gives no process to wait for tells nothing of the installer's fate.
    if (!shellExecuteEx(&execute)) return Failure();
    if (execute.hProcess == nullptr) return ERROR_INVALID_HANDLE;
    return Started(execute.hProcess);
#else
    return shellExecuteEx(&execute) ? 0 : -1;
#endif
}

int StartWide(const WCHAR* wideCommandLine) {
#if LAUNCHER_DEPLOYMENT
    WCHAR* command = wideCommand;
    int composed = ComposeDeploymentCommandW(wideCommandLine, command, COMMAND_CHARACTERS);
    if (composed != 0) return composed;
#else
    WCHAR command[COMMAND_FIELD_SIZE];
    if (ComposeInstallerCommandW(wideCommandLine, command) != 0) return -1;
#endif
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return GetLastError() == ERROR_ELEVATION_REQUIRED ? StartElevated(command) : Failure();
    }
    CloseHandle(process.hThread);
    return Started(process.hProcess);
}

#if LAUNCHER_DEPLOYMENT
// The ANSI route of the deployment build starts the installer with
// CreateProcessA, whose process it can wait for, where WinExec gives none.
int StartAnsi(const char* commandLine, bool windowsNt) {
    int composed = ComposeDeploymentCommand(commandLine, ansiCommand, sizeof ansiCommand);
    if (composed != 0) return composed;
    // CreateProcessA takes it as the characters it converts to. Converted
    // once, the same serves the consent prompt: the command came from a
    // faithful line, so the code page converts it exactly.
    if (MultiByteToWideChar(CP_ACP, 0, ansiCommand, -1, wideCommand, COMMAND_CHARACTERS) == 0) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process;
    if (CreateProcessA(nullptr, ansiCommand, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        return Started(process.hProcess);
    }
    // The 95 family knows no elevation.
    if (!windowsNt || GetLastError() != ERROR_ELEVATION_REQUIRED) return Failure();
    return StartElevated(wideCommand);
}
#endif

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* commandLine = GetCommandLineA();
    bool windowsNt = !IsWindows95Family(GetVersion());
    if (windowsNt) {
        const WCHAR* wideCommandLine = GetCommandLineW();
        if (wideCommandLine != nullptr && !IsFaithful(commandLine, wideCommandLine)) {
            return StartWide(wideCommandLine);
        }
    }
#if LAUNCHER_DEPLOYMENT
    return StartAnsi(commandLine, windowsNt);
#else
    char command[COMMAND_FIELD_SIZE];
    if (ComposeInstallerCommand(commandLine, command) != 0) return -1;
    if (LaunchStatus(WinExec(command, SW_SHOW)) == 0) return 0;
    // The command came from a faithful line, so the code page converts it
    // exactly. The 95 family knows no elevation.
    WCHAR wideCommand[COMMAND_FIELD_SIZE];
    if (!windowsNt || GetLastError() != ERROR_ELEVATION_REQUIRED ||
        MultiByteToWideChar(CP_ACP, 0, command, -1, wideCommand, COMMAND_FIELD_SIZE) == 0) {
        return -1;
    }
    return StartElevated(wideCommand);
#endif
}

extern "C" void WINAPI WinMainCRTStartup() {
    // Before anything can be loaded: the failure message loads USER32.
    SearchSystemDirectoryOnly();
    InitByteClassTable();  // on failure every text is single-byte
    // The entry uses none of its arguments.
    char noArguments[] = "";
    ExitProcess(static_cast<UINT>(WinMain(nullptr, nullptr, noArguments, SW_SHOWDEFAULT)));
}
