// The deployment build's entry: it passes its arguments on to the installer,
// waits for it and exits with its exit code, as deployment tools read it;
// where it starts nothing, with the Win32 error that explains why, never 0.
#include <windows.h>

#include "../path/code_page.h"
#include "arguments.h"
#include "launch.h"
#include "start.h"

namespace {

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

// Nothing was started: the Win32 error that explains why, never 0.
int Failure() {
    DWORD error = GetLastError();
    return static_cast<int>(error != 0 ? error : ERROR_INVALID_FUNCTION);
}

// The installer runs: the launcher waits for it and exits with its exit
// code, all 32 bits.
int Started(HANDLE process) {
    DWORD code = 0;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code)) {
        int failure = Failure();
        CloseHandle(process);
        return failure;
    }
    CloseHandle(process);
    return static_cast<int>(code);
}

// The command is the installer's path in quotes, followed by a blank and the
// arguments where there are any; a file name takes no quotes.
int StartElevated(WCHAR* command) {
    WCHAR* end = command;
    while (*++end != L'"') continue;  // the path holds no quote of its own
    WCHAR* arguments = end[1] != 0 ? end + 2 : nullptr;
    int length = 0;
    while (end[length] != 0) ++length;
    if (end - command + length >= SHELL_COMMAND_CHARACTERS) return ERROR_FILENAME_EXCED_RANGE;
    *end = 0;
    WCHAR named[COMMAND_FIELD_SIZE];
    HANDLE process = nullptr;
    // A declined consent prompt fails with ERROR_CANCELLED. A start that
    // gives no process to wait for tells nothing of the installer's fate.
    if (StartThroughConsent(NameOnTheNetwork(command + 1, named), arguments, &process) != 0) return Failure();
    if (process == nullptr) return ERROR_INVALID_HANDLE;
    return Started(process);
}

int StartWide(const WCHAR* wideCommandLine) {
    int composed = ComposeDeploymentCommandW(wideCommandLine, wideCommand, COMMAND_CHARACTERS);
    if (composed != 0) return composed;
    PROCESS_INFORMATION process;
    if (!StartShown(wideCommand, &process)) {
        return GetLastError() == ERROR_ELEVATION_REQUIRED ? StartElevated(wideCommand) : Failure();
    }
    CloseHandle(process.hThread);
    return Started(process.hProcess);
}

// The ANSI route starts the installer with CreateProcessA, whose process it
// can wait for, where WinExec gives none.
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
    return StartAnsi(commandLine, windowsNt);
}
