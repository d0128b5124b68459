// The start-up's reading of the active code page, and the one message the
// launcher can show: that the code page could not be read.
#pragma once

enum {
    MODULE_PATH_FIELD_SIZE = 80,  // the module path asked for the title
};

extern const char CODE_PAGE_FAILURE_TEXT[];

// The title of the failure message: the file name of the module path, that is
// the text after its last '\', failing that after its last ':', failing that
// the whole path. Double-byte characters are passed over whole.
const char* CodePageFailureTitle(const char* modulePath);

// Whether GetVersion's answer is a Windows 95-family system: its top bit set.
// There the wide functions are stubs.
bool IsWindows95Family(unsigned long version);

// The message box style: a stop icon set to the foreground, task-modal; on a
// Windows 95-family system (top bit of the version) with no window on the
// current thread, system-modal instead.
unsigned CodePageFailureStyle(unsigned long version, bool threadHasWindow);
