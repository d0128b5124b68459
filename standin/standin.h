// Steering and records of the platform stand-in, for tests.
#pragma once

#include <windows.h>

enum { STANDIN_TEXT_SIZE = 1024 };

struct StandIn {
    // Steered by tests.
    const char* commandLine;
    const WCHAR* commandLineW;  // null: commandLine, each byte one character
    const WCHAR* ansiToWide;    // what MultiByteToWideChar gives; null: each byte one character
    bool createProcessFails;
    UINT codePage;
    bool cpInfoFails;
    CPINFO cpInfo;
    const char* modulePath;
    DWORD version;
    bool threadHasWindow;
    const char* systemDirectory;
    UINT winExecResult;
    DWORD lastError;  // what GetLastError says, whatever failed
    bool searchSystem32Refused;  // as before Windows 8 without its update
    bool noDefaultDllDirectories;  // KERNEL32 lacks SetDefaultDllDirectories, as XP does
    bool shellExecuteFails;
    const WCHAR* driveShare;  // MPR's name for every drive; null: no drive is a share

    // Recorded.
    int getCommandLineWCalls;
    int createProcessCalls;
    bool createProcessApplicationGiven;
    WCHAR createProcessCommand[STANDIN_TEXT_SIZE];
    BOOL createProcessInheritHandles;
    DWORD createProcessFlags;
    bool createProcessDirectoryGiven;
    DWORD startupFlags;
    WORD startupShowWindow;
    int closedHandles;
    bool codePageAsked;
    DWORD defaultDllDirectories;  // 0: SetDefaultDllDirectories not called
    bool defaultDllDirectoriesBeforeCodePage;
    int winExecCalls;
    char winExecCommand[STANDIN_TEXT_SIZE];
    UINT winExecShowState;
    int messageBoxCalls;
    HWND messageBoxOwner;
    char messageBoxText[STANDIN_TEXT_SIZE];
    char messageBoxTitle[STANDIN_TEXT_SIZE];
    UINT messageBoxType;
    int enumThreadWindowsCalls;
    char loadedLibrary[STANDIN_TEXT_SIZE];
    DWORD loadedLibraryFlags;
    int shellExecuteCalls;
    DWORD shellExecuteMask;
    bool shellExecuteExtrasGiven;  // a window, verb, parameters or directory
    WCHAR shellExecuteFile[STANDIN_TEXT_SIZE];
    int shellExecuteShow;
    int exitProcessCalls;
    UINT exitCode;
};

extern StandIn standIn;

// A single-byte code page (1252), a command line of "setup.exe" and its wide
// twin, a Windows NT version, and a WinExec and a CreateProcessW that
// succeed; nothing recorded.
void ResetStandIn();

// Steers the code page to 932 with its lead-byte ranges 81-9F and E0-FC.
void StandInCodePage932();
