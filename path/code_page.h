// The start-up's reading of the active code page, the one message the
// launcher can show (that the code page could not be read), and the system
// DLLs it loads only when it needs them.
#pragma once

#include <windows.h>

enum {
    MODULE_PATH_FIELD_SIZE = 80,  // the module path asked for the title
    SYSTEM_LIBRARY_NAME_SIZE = 13,  // the longest name loaded, \shell32.dll, and its NUL
};

extern const char CODE_PAGE_FAILURE_TEXT[];

// The title of the failure message: the file name of the module path, that is
// the text after its last '\', failing that after its last ':', failing that
// the whole path. Double-byte characters are passed over whole.
const char* CodePageFailureTitle(const char* modulePath);

// A DLL of the system directory, loaded by its full path so that nothing
// beside the launcher on the medium can stand in for it; name begins with
// '\' and fits SYSTEM_LIBRARY_NAME_SIZE. flags as LoadLibraryEx takes them.
// Null where it is not loaded.
HMODULE LoadSystemLibrary(const char* name, DWORD flags);

// From here on every DLL the process loads, the delay-loads of the system's
// own DLLs included, is searched for in the system directory alone. Where
// KERNEL32 cannot do that (before Windows 8 without update KB2533623), the
// search stays as it was.
void SearchSystemDirectoryOnly();

// Whether GetVersion's answer is a Windows 95-family system: its top bit set.
// There the wide functions are stubs.
bool IsWindows95Family(unsigned long version);

// The message box style: a stop icon set to the foreground, task-modal; on a
// Windows 95-family system (top bit of the version) with no window on the
// current thread, system-modal instead.
unsigned CodePageFailureStyle(unsigned long version, bool threadHasWindow);
