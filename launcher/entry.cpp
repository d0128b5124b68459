// The program's entry and its own start-up: no C runtime is linked, so the
// start-up builds the byte class table, runs the entry once and exits with
// the entry's status.
#include <windows.h>

#include "../path/byte_classes.h"
#include "../path/code_page.h"
#include "launch.h"

namespace {

// The longest command line the platform passes, in characters, with its NUL.
enum { COMMAND_LINE_CHARACTERS = 32768 };

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

int StartWide(const WCHAR* wideCommandLine) {
    WCHAR command[COMMAND_FIELD_SIZE];
    if (ComposeInstallerCommandW(wideCommandLine, command) != 0) return -1;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* commandLine = GetCommandLineA();
    if (!IsWindows95Family(GetVersion())) {
        const WCHAR* wideCommandLine = GetCommandLineW();
        if (wideCommandLine != nullptr && !IsFaithful(commandLine, wideCommandLine)) {
            return StartWide(wideCommandLine);
        }
    }
    char command[COMMAND_FIELD_SIZE];
    if (ComposeInstallerCommand(commandLine, command) != 0) return -1;
    return LaunchStatus(WinExec(command, SW_SHOW));
}

extern "C" void WINAPI WinMainCRTStartup() {
    InitByteClassTable();  // on failure every text is single-byte
    // The entry uses none of its arguments.
    char noArguments[] = "";
    ExitProcess(static_cast<UINT>(WinMain(nullptr, nullptr, noArguments, SW_SHOWDEFAULT)));
}
