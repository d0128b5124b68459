// The usual build's entry: it starts the installer and exits with 0 at once,
// leaving out its own arguments; where it starts nothing, with -1.
#include <windows.h>

#include "../path/code_page.h"
#include "launch.h"
#include "start.h"

namespace {

// command is the installer's path in quotes; a file name takes no quotes.
int StartElevated(WCHAR* command) {
    WCHAR* end = command;
    while (*end != 0) ++end;
    end[-1] = 0;
    WCHAR named[COMMAND_FIELD_SIZE];
    return StartThroughConsent(NameOnTheNetwork(command + 1, named), nullptr, nullptr);
}

int StartWide(const WCHAR* wideCommandLine) {
    WCHAR command[COMMAND_FIELD_SIZE];
    if (ComposeInstallerCommandW(wideCommandLine, command) != 0) return -1;
    PROCESS_INFORMATION process;
    if (!StartShown(command, &process)) {
        return GetLastError() == ERROR_ELEVATION_REQUIRED ? StartElevated(command) : -1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
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
}
