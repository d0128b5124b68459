// The deployment build's text work: the launcher's own path is the first
// argument of its command line, and the rest of the line is passed on to the
// installer as it is.
#pragma once

// The launcher's own path is the first argument of the command line as
// Windows' C runtime reads a program's name: up to the first blank or tab
// outside double quotes, the quotes left out. The installer is composed
// below it as ComposeInstallerCommand composes it, and the rest of the line,
// its leading blanks and tabs removed, follows the installer's quoted path
// and one blank, every byte as given. command has size bytes, at least
// COMMAND_FIELD_SIZE. Returns 0, or the Win32 error that explains why
// nothing may be started, command then empty: ERROR_FILENAME_EXCED_RANGE
// where the line leads to no path that fits, or the command does not fit
// size; ERROR_INVALID_NAME where the installer's path would hold a quote
// (a trail byte's).
int ComposeDeploymentCommand(const char* commandLine, char* command, int size);

// The same on a wide command line, every character as given; command has
// size characters.
int ComposeDeploymentCommandW(const wchar_t* commandLine, wchar_t* command, int size);
