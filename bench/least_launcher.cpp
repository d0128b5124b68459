// D, the least launcher there can be: the floor that setup.exe's cost is
// measured against. No runtime, no path work, KERNEL32 alone; its entry starts
// the installer by its quoted path, compiled in, and exits.
#include <windows.h>

#include "least_launcher_installer.h"  // LEAST_LAUNCHER_INSTALLER

extern "C" void WINAPI WinMainCRTStartup() {
    ExitProcess(WinExec(LEAST_LAUNCHER_INSTALLER, SW_SHOW) > 31 ? 0 : 0xFFFFFFFFu);
}
