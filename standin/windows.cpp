#include <windows.h>

#include <cstring>
#include <strings.h>
#include <cwchar>

#include "standin.h"

namespace {

StandInModule* const KERNEL32_HANDLE = reinterpret_cast<StandInModule*>(0x7C800000);
StandInModule* const USER32_HANDLE = reinterpret_cast<StandInModule*>(0x7E410000);
StandInModule* const SHELL32_HANDLE = reinterpret_cast<StandInModule*>(0x7C9C0000);
StandInModule* const MPR_HANDLE = reinterpret_cast<StandInModule*>(0x71B20000);
StandInWindow* const THREAD_WINDOW = reinterpret_cast<StandInWindow*>(0x10010);
HANDLE const PROCESS_HANDLE = reinterpret_cast<HANDLE>(0x1F0);
HANDLE const THREAD_HANDLE = reinterpret_cast<HANDLE>(0x1F4);

void Record(char* field, const char* text) {
    std::strncpy(field, text, STANDIN_TEXT_SIZE - 1);
    field[STANDIN_TEXT_SIZE - 1] = 0;
}

// Each byte one character: what the platform gives for ASCII text.
const WCHAR* Widened(const char* text) {
    static WCHAR wide[4 * STANDIN_TEXT_SIZE];
    std::size_t i = 0;
    for (; text[i] != 0 && i + 1 < sizeof wide / sizeof wide[0]; ++i) {
        wide[i] = static_cast<unsigned char>(text[i]);
    }
    wide[i] = 0;
    return wide;
}

StandIn Defaults() {
    StandIn defaults = {};
    defaults.commandLine = "setup.exe";
    defaults.codePage = 1252;
    defaults.cpInfo.MaxCharSize = 1;
    defaults.modulePath = "C:\\setup.exe";
    defaults.version = 0x0A280105;  // an NT-family version: top bit clear
    defaults.systemDirectory = "C:\\WINDOWS\\system32";
    defaults.winExecResult = 33;
    return defaults;
}

}  // namespace

StandIn standIn = Defaults();

void ResetStandIn() { standIn = Defaults(); }

void StandInCodePage932() {
    standIn.codePage = 932;
    standIn.cpInfo = CPINFO{};
    standIn.cpInfo.MaxCharSize = 2;
    const BYTE ranges[] = {0x81, 0x9F, 0xE0, 0xFC};
    std::memcpy(standIn.cpInfo.LeadByte, ranges, sizeof ranges);
}

LPSTR GetCommandLineA() { return const_cast<LPSTR>(standIn.commandLine); }

LPWSTR GetCommandLineW() {
    ++standIn.getCommandLineWCalls;
    static WCHAR line[4 * STANDIN_TEXT_SIZE];
    const WCHAR* wide = standIn.commandLineW ? standIn.commandLineW : Widened(standIn.commandLine);
    std::wcsncpy(line, wide, sizeof line / sizeof line[0] - 1);
    return line;
}

// Only what the launcher asks: the whole of an ANSI text, NUL included.
int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int length, LPWSTR wide, int size) {
    if (codePage != CP_ACP || length != -1 || text == nullptr) return 0;
    const WCHAR* result = standIn.ansiToWide ? standIn.ansiToWide : Widened(text);
    int needed = static_cast<int>(std::wcslen(result)) + 1;
    if (needed > size) return 0;
    std::wmemcpy(wide, result, static_cast<std::size_t>(needed));
    return needed;
}

BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, void*, void*, BOOL inheritHandles,
                    DWORD creationFlags, void*, LPCWSTR currentDirectory,
                    STARTUPINFOW* startupInfo, PROCESS_INFORMATION* processInformation) {
    ++standIn.createProcessCalls;
    standIn.createProcessApplicationGiven = application != nullptr;
    std::wcsncpy(standIn.createProcessCommand, commandLine, STANDIN_TEXT_SIZE - 1);
    standIn.createProcessInheritHandles = inheritHandles;
    standIn.createProcessFlags = creationFlags;
    standIn.createProcessDirectoryGiven = currentDirectory != nullptr;
    standIn.startupFlags = startupInfo->cb == sizeof *startupInfo ? startupInfo->dwFlags : 0;
    standIn.startupShowWindow = startupInfo->wShowWindow;
    if (standIn.createProcessFails) return FALSE;
    processInformation->hProcess = PROCESS_HANDLE;
    processInformation->hThread = THREAD_HANDLE;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    if (handle != PROCESS_HANDLE && handle != THREAD_HANDLE) return FALSE;
    ++standIn.closedHandles;
    return TRUE;
}

LPSTR lstrcpyA(LPSTR destination, LPCSTR source) { return std::strcpy(destination, source); }

LPSTR lstrcatA(LPSTR destination, LPCSTR source) { return std::strcat(destination, source); }

UINT WinExec(LPCSTR command, UINT showState) {
    ++standIn.winExecCalls;
    Record(standIn.winExecCommand, command);
    standIn.winExecShowState = showState;
    return standIn.winExecResult;
}

void ExitProcess(UINT exitCode) {
    ++standIn.exitProcessCalls;
    standIn.exitCode = exitCode;
}

UINT GetACP() {
    standIn.codePageAsked = true;
    return standIn.codePage;
}

BOOL GetCPInfo(UINT codePage, CPINFO* info) {
    if (standIn.cpInfoFails || codePage != standIn.codePage) return FALSE;
    *info = standIn.cpInfo;
    return TRUE;
}

// As on Windows XP: a path that fills the buffer is cut and left unterminated.
DWORD GetModuleFileNameA(HMODULE, LPSTR path, DWORD size) {
    DWORD length = static_cast<DWORD>(std::strlen(standIn.modulePath));
    if (length >= size) {
        std::memcpy(path, standIn.modulePath, size);
        return size;
    }
    std::memcpy(path, standIn.modulePath, length + 1);
    return length;
}

DWORD GetVersion() { return standIn.version; }

DWORD GetCurrentThreadId() { return 0x1234; }

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    UINT length = static_cast<UINT>(std::strlen(standIn.systemDirectory));
    if (length >= size) return length + 1;
    std::memcpy(buffer, standIn.systemDirectory, length + 1);
    return length;
}

HMODULE GetModuleHandleA(LPCSTR name) {
    return strcasecmp(name, "kernel32.dll") == 0 ? KERNEL32_HANDLE : nullptr;
}

HMODULE LoadLibraryExA(LPCSTR path, HANDLE, DWORD flags) {
    Record(standIn.loadedLibrary, path);
    standIn.loadedLibraryFlags = flags;
    if ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) && standIn.searchSystem32Refused) return nullptr;
    if (std::strstr(path, "\\mpr.dll")) return MPR_HANDLE;
    return std::strstr(path, "\\shell32.dll") ? SHELL32_HANDLE : USER32_HANDLE;
}

DWORD GetLastError() { return standIn.lastError; }

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    // Through void*, as the platform hands out every procedure as one type.
    if (module == SHELL32_HANDLE && std::strcmp(name, "ShellExecuteExW") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&ShellExecuteExW));
    }
    if (module == MPR_HANDLE && std::strcmp(name, "WNetGetConnectionW") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&WNetGetConnectionW));
    }
    if (module == KERNEL32_HANDLE && std::strcmp(name, "SetDefaultDllDirectories") == 0 &&
        !standIn.noDefaultDllDirectories) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&SetDefaultDllDirectories));
    }
    if (module != USER32_HANDLE) return nullptr;
    if (std::strcmp(name, "MessageBoxA") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&MessageBoxA));
    }
    if (std::strcmp(name, "EnumThreadWindows") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&EnumThreadWindows));
    }
    return nullptr;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR title, UINT type) {
    ++standIn.messageBoxCalls;
    standIn.messageBoxOwner = owner;
    Record(standIn.messageBoxText, text);
    Record(standIn.messageBoxTitle, title);
    standIn.messageBoxType = type;
    return 1;
}

BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC callback, LPARAM parameter) {
    ++standIn.enumThreadWindowsCalls;
    if (threadId != GetCurrentThreadId() || !standIn.threadHasWindow) return TRUE;
    return callback(THREAD_WINDOW, parameter);
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    ++standIn.shellExecuteCalls;
    standIn.shellExecuteMask = info->cbSize == sizeof *info ? info->fMask : 0;
    standIn.shellExecuteExtrasGiven =
        info->hwnd || info->lpVerb || info->lpParameters || info->lpDirectory;
    std::wcsncpy(standIn.shellExecuteFile, info->lpFile, STANDIN_TEXT_SIZE - 1);
    standIn.shellExecuteShow = info->nShow;
    return !standIn.shellExecuteFails;
}

BOOL SetDefaultDllDirectories(DWORD flags) {
    standIn.defaultDllDirectories = flags;
    standIn.defaultDllDirectoriesBeforeCodePage = !standIn.codePageAsked;
    return TRUE;
}

DWORD WNetGetConnectionW(LPCWSTR, LPWSTR remoteName, DWORD* length) {
    if (standIn.driveShare == nullptr) return ERROR_NOT_CONNECTED;
    DWORD size = static_cast<DWORD>(std::wcslen(standIn.driveShare)) + 1;
    if (size > *length) {
        *length = size;
        return ERROR_MORE_DATA;
    }
    std::wcscpy(remoteName, standIn.driveShare);
    return NO_ERROR;
}
