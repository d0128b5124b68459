// The program's entry and its own start-up: no C runtime is linked, so the
// start-up builds the byte class table, runs the entry once and exits with
// the entry's status.
#include <windows.h>

#include "../path/byte_classes.h"
#include "launch.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char command[COMMAND_FIELD_SIZE];
    if (ComposeInstallerCommand(GetCommandLineA(), command) != 0) return -1;
    return LaunchStatus(WinExec(command, SW_SHOW));
}

extern "C" void WINAPI WinMainCRTStartup() {
    InitByteClassTable();  // on failure every text is single-byte
    // The entry uses none of its arguments.
    char noArguments[] = "";
    ExitProcess(static_cast<UINT>(WinMain(nullptr, nullptr, noArguments, SW_SHOWDEFAULT)));
}
