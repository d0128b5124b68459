// The deployment build's entry: it passes its arguments on to the installer,
// waits for it and exits with its exit code, as deployment tools read it;
// where it starts nothing, with the Win32 error that explains why, never 0.
#include <windows.h>

#include "../path/code_page.h"
#include "arguments.h"
#include "launch.h"
#include "start.h"

namespace {

// What CreateProcess starts: 32,767 characters with the NUL. (Raymond Chen,
// "What is the command line length limit?")
enum { COMMAND_CHARACTERS = COMMAND_LINE_CHARACTERS - 1 };
// The installer's command with the arguments, in a double-byte code page
// two bytes a character, and the running file's path as the loader has it.
// (Static: without the C runtime nothing probes a stack frame that large.)
WCHAR wideCommand[COMMAND_CHARACTERS];
char ansiCommand[2 * COMMAND_CHARACTERS];
WCHAR modulePath[COMMAND_LINE_CHARACTERS];

// The closing quote of the installer's path at the head of command.
WCHAR* ClosingQuote(WCHAR* command) {
    while (*++command != L'"') continue;  // the path holds no quote of its own
    return command;
}

// Nothing was started: the Win32 error that explains why, never 0.
int Failure() {
    DWORD error = GetLastError();
    return static_cast<int>(error != 0 ? error : ERROR_INVALID_FUNCTION);
}

// The installer runs: the launcher waits for it and exits with its exit
// code, all 32 bits.
int Started(HANDLE process) {
    DWORD code = 0;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code)) {
        int failure = Failure();
        CloseHandle(process);
        return failure;
    }
    CloseHandle(process);
    return static_cast<int>(code);
}

// The command is the installer's path in quotes, followed by a blank and the
// arguments where there are any; a file name takes no quotes.
int StartElevated(WCHAR* command) {
    WCHAR* end = ClosingQuote(command);
    WCHAR* arguments = end[1] != 0 ? end + 2 : nullptr;
    *end = 0;
    WCHAR named[COMMAND_FIELD_SIZE];
    const WCHAR* file = NameOnTheNetwork(command + 1, named);
    // The arguments are never cut short on the way to the consent prompt,
    // only refused whole, as ShellExecuteEx will have them.
    if (!FitsShellCommand(file, arguments)) return ERROR_FILENAME_EXCED_RANGE;
    HANDLE process = nullptr;
    // A declined consent prompt fails with ERROR_CANCELLED. A start that
    // gives no process to wait for tells nothing of the installer's fate.
    if (StartThroughConsent(file, arguments, &process) != 0) return Failure();
    if (process == nullptr) return ERROR_INVALID_HANDLE;
    return Started(process);
}

// The file a path names, opened with no access beyond its attributes and
// every share mode, whoever else has it open: its volume's serial number and
// its file index identify it on this computer (BY_HANDLE_FILE_INFORMATION).
// An index of 0 (the file system keeps none) or all ones (none could be
// established for it) identifies nothing. Where the path names a pipe, its
// server may not act as the launcher (anonymous, not impersonation, which
// a client gives by default).
bool Identify(const WCHAR* path, BY_HANDLE_FILE_INFORMATION* file) {
    HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool known = GetFileInformationByHandle(handle, file) && (file->nFileIndexHigh | file->nFileIndexLow) != 0 &&
                 (file->nFileIndexHigh & file->nFileIndexLow) != 0xFFFFFFFF;
    CloseHandle(handle);
    return known;
}

// Whether path names the file known, opened as Identify opens it.
bool IsFile(const WCHAR* path, const BY_HANDLE_FILE_INFORMATION& known) {
    BY_HANDLE_FILE_INFORMATION file;
    return Identify(path, &file) && file.dwVolumeSerialNumber == known.dwVolumeSerialNumber &&
           file.nFileIndexHigh == known.nFileIndexHigh && file.nFileIndexLow == known.nFileIndexLow;
}

// The installer's path in quotes below the folder of path, into installer
// (COMMAND_FIELD_SIZE characters): path up to its last separator, or its
// drive's colon, and windows\setup\setup.exe, whatever the file's own name
// is. (Split whole, a name of dots before its extension, "..exe", would give
// them to the folder: .windows\setup\.) Returns 0 or
// ERROR_FILENAME_EXCED_RANGE.
int InstallerBelow(const WCHAR* path, WCHAR* installer) {
    int end = 0;
    for (int i = 0; path[i] != 0; ++i) {
        if (path[i] == L'\\' || path[i] == L'/' || (i == 1 && path[i] == L':')) end = i + 1;
    }
    WCHAR folder[PATH_FIELD_SIZE];
    if (end >= PATH_FIELD_SIZE) return ERROR_FILENAME_EXCED_RANGE;
    for (int i = 0; i < end; ++i) folder[i] = path[i];
    folder[end] = 0;
    return ComposeInstallerCommandW(folder, installer) != 0 ? ERROR_FILENAME_EXCED_RANGE : 0;
}

// Where the first argument names a file other than the one that runs, by
// the path the loader has for it, or none, the launcher cannot tell where
// its parent meant the arguments to begin, and starts nothing. Files are
// compared, not texts: a name in another case, with '/', short, relative or
// on a mapped drive names the same file. As CreateProcess does, a name
// without an extension is also tried with ".exe". A link to the launcher in
// another folder names it too, so the installer found below the first
// argument's folder must be the one below the running file's, where it is
// there at all. Then the one below the running file's path is started: the
// first argument's text is not looked up again, where a folder it names
// may have changed since, and a relative one is not searched for. command
// is the installer's, its path in quotes, and becomes that.
int CheckLauncher(WCHAR* launcher, WCHAR* command) {
    // The field holds the longest path there is; where there is none, it
    // stays empty and names no file.
    GetModuleFileNameW(nullptr, modulePath, COMMAND_LINE_CHARACTERS);
    BY_HANDLE_FILE_INFORMATION running;
    if (!Identify(modulePath, &running)) return ERROR_BAD_ARGUMENTS;
    for (int tries = 0; !IsFile(launcher, running); ++tries) {
        if (tries == 1 || !AppendExecutableExtension(launcher)) return ERROR_BAD_ARGUMENTS;
    }
    WCHAR own[COMMAND_FIELD_SIZE], theirs[COMMAND_FIELD_SIZE];
    if (InstallerBelow(modulePath, own) != 0 || InstallerBelow(launcher, theirs) != 0) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    // Each path without its quotes.
    WCHAR* ownEnd = ClosingQuote(own);
    *ownEnd = *ClosingQuote(theirs) = 0;
    BY_HANDLE_FILE_INFORMATION installer;
    int checked = !Identify(own + 1, &installer) ? Failure() : IsFile(theirs + 1, installer) ? 0 : ERROR_BAD_ARGUMENTS;
    *ownEnd = L'"';
    return checked != 0 ? checked : PutInstaller(command, own, COMMAND_CHARACTERS);
}

// Both routes start the command's wide form: CreateProcessA would take the
// ANSI one as the characters it converts to, as ComposeAnsi converts it.
int StartInstaller() {
    PROCESS_INFORMATION process;
    if (!StartShown(wideCommand, &process)) {
        return GetLastError() == ERROR_ELEVATION_REQUIRED ? StartElevated(wideCommand) : Failure();
    }
    CloseHandle(process.hThread);
    return Started(process.hProcess);
}

// The ANSI route's command and its launcher's path, composed on the bytes
// of the code page and converted to the characters they are: the line is
// faithful, so the code page converts them exactly.
int ComposeAnsi(const char* commandLine, WCHAR* launcher) {
    char ansiLauncher[LAUNCHER_FIELD_SIZE];
    int composed = ComposeDeploymentCommand(commandLine, ansiLauncher, ansiCommand, sizeof ansiCommand);
    if (composed != 0) return composed;
    if (MultiByteToWideChar(CP_ACP, 0, ansiCommand, -1, wideCommand, COMMAND_CHARACTERS) == 0 ||
        MultiByteToWideChar(CP_ACP, 0, ansiLauncher, -1, launcher, PATH_FIELD_SIZE) == 0) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The 95 family has neither a wide module path nor FILE_SHARE_DELETE to
    // tell which file runs.
    if (IsWindows95Family(GetVersion())) return ERROR_OLD_WIN_VERSION;
    const char* commandLine = GetCommandLineA();
    const WCHAR* wideCommandLine = GetCommandLineW();
    bool wide = !IsFaithful(commandLine, wideCommandLine);  // NT always has a wide line
    WCHAR launcher[LAUNCHER_FIELD_SIZE];
    int composed = wide ? ComposeDeploymentCommandW(wideCommandLine, launcher, wideCommand, COMMAND_CHARACTERS)
                        : ComposeAnsi(commandLine, launcher);
    if (composed == 0) composed = CheckLauncher(launcher, wideCommand);
    if (composed != 0) return composed;
    return StartInstaller();
}
