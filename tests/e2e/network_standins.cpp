// Stand-ins for MPR and SHELL32 in a test prefix's system directory, which
// the launcher alone loads: drive N: is the share \\server\share, drive O: a
// network drive the network cannot name, any other drive is local; and
// ShellExecuteExW writes the file it was asked to start, in UTF-8, into the
// file STANDIN_SHELL_RECORD names, and starts nothing.
#define WIN32_LEAN_AND_MEAN  // the platform's own declarations of these would clash
#include <windows.h>

#ifdef STANDIN_MPR
extern "C" __declspec(dllexport) DWORD WINAPI WNetGetConnectionW(LPCWSTR local, LPWSTR remote, DWORD* length) {
    static const WCHAR SHARE[] = L"\\\\server\\share";
    if ((local[0] | 0x20) == L'o') return ERROR_CONNECTION_UNAVAIL;
    if ((local[0] | 0x20) != L'n') return ERROR_NOT_CONNECTED;
    if (*length < sizeof SHARE / sizeof SHARE[0]) return ERROR_MORE_DATA;
    lstrcpyW(remote, SHARE);
    return NO_ERROR;
}
#else
struct ShellExecuteInfo {  // as far as the file
    DWORD size, mask;
    HWND window;
    LPCWSTR verb, file;
};

extern "C" __declspec(dllexport) BOOL WINAPI ShellExecuteExW(ShellExecuteInfo* info) {
    WCHAR record[MAX_PATH];
    char text[4 * MAX_PATH];
    DWORD written;
    int size = WideCharToMultiByte(CP_UTF8, 0, info->file, -1, text, sizeof text, nullptr, nullptr);
    if (size == 0 || GetEnvironmentVariableW(L"STANDIN_SHELL_RECORD", record, MAX_PATH) == 0) return FALSE;
    HANDLE file = CreateFileW(record, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    BOOL recorded = WriteFile(file, text, static_cast<DWORD>(size - 1), &written, nullptr);
    CloseHandle(file);
    return recorded;
}
#endif
