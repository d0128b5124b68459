// Stand-ins for MPR and SHELL32 in a test prefix's system directory, which
// the launcher alone loads: drive N: is the share \\server\share, drive O: a
// network drive the network cannot name, any other drive is local; and
// ShellExecuteExW writes the file it was asked to start and its parameters,
// in UTF-8, into the file STANDIN_SHELL_RECORD names, and starts nothing.
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
struct ShellExecuteInfo {  // as far as the parameters
    DWORD size, mask;
    HWND window;
    LPCWSTR verb, file, parameters;
};

// The file, and the parameters on a line of their own where there are any;
// with STANDIN_SHELL_RESULT set, the start then fails with that error, as a
// declined consent prompt fails with ERROR_CANCELLED (1223).
extern "C" __declspec(dllexport) BOOL WINAPI ShellExecuteExW(ShellExecuteInfo* info) {
    WCHAR record[MAX_PATH];
    WCHAR said[8 * MAX_PATH];
    char text[4 * sizeof said];
    DWORD written;
    lstrcpynW(said, info->file, MAX_PATH);
    if (info->parameters != nullptr) {
        lstrcatW(said, L"\n");
        lstrcpynW(said + lstrlenW(said), info->parameters, 4 * MAX_PATH);
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, said, -1, text, sizeof text, nullptr, nullptr);
    if (size == 0 || GetEnvironmentVariableW(L"STANDIN_SHELL_RECORD", record, MAX_PATH) == 0) return FALSE;
    HANDLE file = CreateFileW(record, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    BOOL recorded = WriteFile(file, text, static_cast<DWORD>(size - 1), &written, nullptr);
    CloseHandle(file);
    char result[16];
    if (recorded && GetEnvironmentVariableA("STANDIN_SHELL_RESULT", result, sizeof result) > 0) {
        DWORD error = 0;
        for (const char* c = result; *c >= '0' && *c <= '9'; ++c) error = error * 10 + static_cast<DWORD>(*c - '0');
        SetLastError(error);
        return FALSE;
    }
    return recorded;
}
#endif
