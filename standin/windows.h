// The stand-in for the platform on hosts without Windows: the few types,
// constants and functions the launcher reaches, with the meanings Windows
// gives them. Tests steer and read it through standin.h.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define MAX_PATH 260
#define MAX_LEADBYTES 12

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int UINT;
typedef std::uint32_t DWORD;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef wchar_t WCHAR;  // 32 bits here; the tests use UTF-16 code units alone
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* HANDLE;
typedef std::intptr_t LPARAM;
typedef struct StandInWindow* HWND;
typedef struct StandInModule* HMODULE;
typedef HMODULE HINSTANCE;
typedef std::intptr_t (*FARPROC)();
typedef BOOL (*WNDENUMPROC)(HWND, LPARAM);

#define TRUE 1
#define FALSE 0

#define SW_SHOW 5
#define SW_SHOWDEFAULT 10

#define CP_ACP 0
#define NO_ERROR 0L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INVALID_NAME 123L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NOT_CONNECTED 2250L
#define ERROR_ELEVATION_REQUIRED 740L
#define ERROR_CANCELLED 1223L
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u
#define SEE_MASK_NOASYNC 0x00000100u
#define SEE_MASK_FLAG_NO_UI 0x00000400u
#define SEE_MASK_NOCLOSEPROCESS 0x00000040u
#define STARTF_USESHOWWINDOW 0x00000001u

#define MB_ICONSTOP 0x00000010u
#define MB_SYSTEMMODAL 0x00001000u
#define MB_TASKMODAL 0x00002000u
#define MB_SETFOREGROUND 0x00010000u

typedef struct {
    UINT MaxCharSize;
    BYTE DefaultChar[2];
    BYTE LeadByte[MAX_LEADBYTES];
} CPINFO;

typedef struct {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
} STARTUPINFOW;

typedef struct {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION;

typedef struct {
    DWORD cbSize;
    DWORD fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCWSTR lpClass;
    void* hkeyClass;
    DWORD dwHotKey;
    HANDLE hIconOrMonitor;
    HANDLE hProcess;
} SHELLEXECUTEINFOW;

LPSTR GetCommandLineA();
LPWSTR GetCommandLineW();
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int size);
BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, LPCWSTR currentDirectory, STARTUPINFOW* startupInfo,
                    PROCESS_INFORMATION* processInformation);
BOOL CloseHandle(HANDLE handle);
LPSTR lstrcpyA(LPSTR destination, LPCSTR source);
LPSTR lstrcatA(LPSTR destination, LPCSTR source);
UINT WinExec(LPCSTR command, UINT showState);
void ExitProcess(UINT exitCode);  // records and returns, unlike Windows

UINT GetACP();
BOOL GetCPInfo(UINT codePage, CPINFO* info);
DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size);
DWORD GetVersion();
DWORD GetCurrentThreadId();
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
HMODULE GetModuleHandleA(LPCSTR name);
HMODULE LoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags);
DWORD GetLastError();
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// Reached only through GetProcAddress in the product, as on Windows.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR title, UINT type);
BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC callback, LPARAM parameter);
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);
BOOL SetDefaultDllDirectories(DWORD flags);
DWORD WNetGetConnectionW(LPCWSTR localName, LPWSTR remoteName, DWORD* length);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandTail, int showState);
extern "C" void WINAPI WinMainCRTStartup();
