// The launch sequence's text work: from the launcher's command line to the
// quoted command that starts the installer. The ANSI route works on the bytes
// of the active code page; the wide route, for a command line the code page
// cannot hold faithfully, does the same on UTF-16 text, character by
// character.
#pragma once

enum {
    PATH_FIELD_SIZE = 260,
    DIRECTORY_FIELD_SIZE = 256,
    // The composed path in double quotes, and the NUL.
    COMMAND_FIELD_SIZE = PATH_FIELD_SIZE + 2,
};

extern const char INSTALLER_SUBDIRECTORY[];  // "windows\setup\"
extern const char INSTALLER_NAME[];          // "setup"
extern const char INSTALLER_EXTENSION[];     // ".exe"

// Composes into command the quoted path of setup.exe in windows\setup\ below
// the directory the command line names. Returns 0, or -1 when the command
// line leads to no path that fits its field or can name a file; command is
// then the empty text.
int ComposeInstallerCommand(const char* commandLine, char* command);

// The same composition on a wide command line, with the same limits counted
// in characters: the path text at most 259, its directory at most 241, the
// installer's path at most 259. command has COMMAND_FIELD_SIZE characters.
int ComposeInstallerCommandW(const wchar_t* commandLine, wchar_t* command);

// Whether the path begins with a drive letter, its colon and a separator.
bool BeginsWithDrive(const wchar_t* path);

// share holds the network's name for the drive of path (\\server\share);
// it becomes that name followed by the rest of path after its drive. Returns
// 0, or -1 when the result would be longer than 259 characters or share is
// no \\server name (nothing else may be started); share is then unchanged.
// share has COMMAND_FIELD_SIZE characters.
int ComposeShareName(wchar_t* share, const wchar_t* path);

// Whether two wide texts are the same, character for character.
bool SameWideText(const wchar_t* a, const wchar_t* b);

// The launcher's exit status for WinExec's result.
int LaunchStatus(unsigned winExecResult);
