// The deployment build's text work: the launcher's own path is the first
// argument of its command line, and the rest of the line is passed on to the
// installer as it is; the entry checks that the path names the file that
// runs.
#pragma once

#include "launch.h"

enum {
    // The launcher's path as its first argument, and room for ".exe" after it.
    LAUNCHER_FIELD_SIZE = PATH_FIELD_SIZE + 4,
    // ShellExecuteEx's own bound on the command line it makes, "around
    // 2048", with its NUL.
    SHELL_COMMAND_CHARACTERS = 2048,
};

// The launcher's own path is the first argument of the command line as
// Windows' C runtime reads a program's name: up to the first blank or tab
// outside double quotes, the quotes left out; it goes into launcher,
// LAUNCHER_FIELD_SIZE bytes. The installer is composed below it as
// ComposeInstallerCommand composes it, and the rest of the line, its
// leading blanks and tabs removed, follows the installer's quoted path and
// one blank, every byte as given. command has size bytes, at least
// COMMAND_FIELD_SIZE. Returns 0, or the Win32 error that explains why
// nothing may be started, command then empty: ERROR_FILENAME_EXCED_RANGE
// where the line leads to no path that fits, or the command does not fit
// size; ERROR_INVALID_NAME where the installer's path would hold a quote
// (a trail byte's).
int ComposeDeploymentCommand(const char* commandLine, char* launcher, char* command, int size);

// The same on a wide command line, every character as given; launcher has
// LAUNCHER_FIELD_SIZE characters, command size.
int ComposeDeploymentCommandW(const wchar_t* commandLine, wchar_t* launcher, wchar_t* command, int size);

// The launcher's path as CreateProcess also reads a name without an
// extension: with ".exe" appended. path is a launcher field as the
// compositions fill it. Returns false, path as it was, where its last
// component has an extension.
bool AppendExecutableExtension(char* path);
bool AppendExecutableExtension(wchar_t* path);

// command, as the compositions make it, starts with the installer's quoted
// path: installer, another quoted path, takes its place, the arguments after
// it kept. Returns 0, or ERROR_FILENAME_EXCED_RANGE where the command would
// not fit its size characters (command then as it was).
int PutInstaller(wchar_t* command, const wchar_t* installer, int size);

// Whether the command ShellExecuteEx makes of file and parameters (or none)
// fits its bound: file in quotes, and a blank and the parameters after it.
bool FitsShellCommand(const wchar_t* file, const wchar_t* parameters);
