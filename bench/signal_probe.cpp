// The benchmark's installer: sets the event named in BENCH_EVENT at once.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char name[64];
    DWORD length = GetEnvironmentVariableA("BENCH_EVENT", name, sizeof name);
    if (length == 0 || length >= sizeof name) return 1;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (ready == nullptr) return 1;
    SetEvent(ready);
    CloseHandle(ready);
    return 0;
}
