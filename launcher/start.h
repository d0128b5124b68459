// What the two builds' entries share: the check that the ANSI command line
// is faithful, the start through the consent prompt with the share's name
// for a mapped drive, a process started with its window shown, and the
// start-up, which links no C runtime.
#pragma once

#include <windows.h>

// The longest command line the platform passes, in characters, with its NUL.
enum { COMMAND_LINE_CHARACTERS = 32768 };

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif

// Whether the ANSI command line converts back to exactly the wide one.
bool IsFaithful(const char* commandLine, const WCHAR* wideCommandLine);

// path, or where its drive is mapped to a network share, the share's own
// name for it, written into named (COMMAND_FIELD_SIZE characters).
const WCHAR* NameOnTheNetwork(const WCHAR* path, WCHAR* named);

// Starts file through the consent prompt with parameters (or none). With
// process given, the process is kept open for the caller to wait for and
// put there (null where the start gave none). Returns 0, or -1 where
// nothing was started, the reason in GetLastError.
int StartThroughConsent(const WCHAR* file, const WCHAR* parameters, HANDLE* process);

// CreateProcessW on command, its window shown as the launcher's would be.
bool StartShown(WCHAR* command, PROCESS_INFORMATION* process);
