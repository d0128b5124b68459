// The start shared by the usual build's entry (entry.cpp) and the deployment
// build's (deployment.cpp), and the program's own start-up: no C runtime is
// linked, so the start-up builds the byte class table, runs the entry once
// and exits with the entry's status.
#include "start.h"

#include "../path/byte_classes.h"
#include "../path/code_page.h"
#include "launch.h"

namespace {

const char SHELL32_NAME[] = "\\shell32.dll";
const char MPR_NAME[] = "\\mpr.dll";
static_assert(sizeof SHELL32_NAME <= SYSTEM_LIBRARY_NAME_SIZE && sizeof MPR_NAME <= SYSTEM_LIBRARY_NAME_SIZE,
              "the system directory leaves them room");

}  // namespace

// On NT the ANSI command line is made from the wide one, and a character the
// code page lacks becomes a look-alike or '?': a '"', a '\' or another
// folder's name. It is faithful only when it converts back to exactly the
// wide line.
bool IsFaithful(const char* commandLine, const WCHAR* wideCommandLine) {
    static WCHAR convertedBack[COMMAND_LINE_CHARACTERS];
    return MultiByteToWideChar(CP_ACP, 0, commandLine, -1, convertedBack,
                               COMMAND_LINE_CHARACTERS) > 0 &&
           SameWideText(convertedBack, wideCommandLine);
}

// A drive letter mapped to a network share belongs to the user's own logon
// session, and a raised process does not see it: the raised start gets the
// share's own name for the path, where the network can name the drive.
// Otherwise, and wherever MPR cannot be had, the path stays as it is.
const WCHAR* NameOnTheNetwork(const WCHAR* path, WCHAR* named) {
    WCHAR drive[] = {path[0], L':', 0};
    if (!BeginsWithDrive(path)) return path;
    HMODULE mpr = LoadSystemLibrary(MPR_NAME, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (mpr == nullptr) return path;
    auto getConnection = reinterpret_cast<decltype(&WNetGetConnectionW)>(
        reinterpret_cast<void*>(GetProcAddress(mpr, "WNetGetConnectionW")));
    DWORD size = COMMAND_FIELD_SIZE;
    if (getConnection == nullptr || getConnection(drive, named, &size) != NO_ERROR ||
        ComposeShareName(named, path) != 0) {
        return path;
    }
    return named;
}

// From Vista on, an installer whose manifest asks for an administrator is
// refused to a launcher that was not raised (ERROR_ELEVATION_REQUIRED); only
// ShellExecuteEx goes through the consent prompt. SHELL32 is loaded for that
// alone, its own dependencies searched in the system directory only: where
// the system cannot promise that, nothing is loaded and nothing started.
int StartThroughConsent(const WCHAR* file, const WCHAR* parameters, HANDLE* process) {
    HMODULE shell32 = LoadSystemLibrary(SHELL32_NAME, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (shell32 == nullptr) return -1;
    auto shellExecuteEx = reinterpret_cast<decltype(&ShellExecuteExW)>(
        reinterpret_cast<void*>(GetProcAddress(shell32, "ShellExecuteExW")));
    if (shellExecuteEx == nullptr) return -1;
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;  // the launcher exits, or waits, next
    if (process != nullptr) execute.fMask |= SEE_MASK_NOCLOSEPROCESS;
    execute.lpFile = file;
    execute.lpParameters = parameters;
    execute.nShow = SW_SHOW;
    BOOL started = shellExecuteEx(&execute);
    if (process != nullptr) *process = execute.hProcess;  // null where nothing was started
    return started ? 0 : -1;
}

bool StartShown(WCHAR* command, PROCESS_INFORMATION* process) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    return CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process) != 0;
}

extern "C" void WINAPI WinMainCRTStartup() {
    // Before anything can be loaded: the failure message loads USER32.
    SearchSystemDirectoryOnly();
    InitByteClassTable();  // on failure every text is single-byte
    // The entry uses none of its arguments.
    char noArguments[] = "";
    ExitProcess(static_cast<UINT>(WinMain(nullptr, nullptr, noArguments, SW_SHOWDEFAULT)));
}
