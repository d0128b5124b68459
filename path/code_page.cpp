#include "code_page.h"

#include <windows.h>

#include "byte_classes.h"

const char CODE_PAGE_FAILURE_TEXT[] =
    "Error: system code page access failure; MBCS table not initialized";

static_assert(LEAD_BYTE_RANGE_BYTES == MAX_LEADBYTES, "the platform's lead-byte list is copied whole");

namespace {

const char USER32_NAME[] = "\\user32.dll";
static_assert(sizeof USER32_NAME <= SYSTEM_LIBRARY_NAME_SIZE, "the system directory leaves it room");

BOOL CALLBACK NoteThreadWindow(HWND, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;  // one window is enough
}

void ReportCodePageFailure() {
    // Loaded only here: a launcher that imports USER32 makes WinExec wait
    // for the installer's first window.
    HMODULE user32 = LoadSystemLibrary(USER32_NAME, 0);
    if (user32 == nullptr) return;
    auto messageBox = reinterpret_cast<decltype(&MessageBoxA)>(
        reinterpret_cast<void*>(GetProcAddress(user32, "MessageBoxA")));
    auto enumThreadWindows = reinterpret_cast<decltype(&EnumThreadWindows)>(
        reinterpret_cast<void*>(GetProcAddress(user32, "EnumThreadWindows")));
    if (messageBox == nullptr) return;

    // Older systems leave a filled buffer unterminated.
    char modulePath[MODULE_PATH_FIELD_SIZE];
    DWORD length = GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    modulePath[length < sizeof modulePath ? length : sizeof modulePath - 1] = 0;

    unsigned long version = GetVersion();
    bool threadHasWindow = false;
    if (IsWindows95Family(version) && enumThreadWindows != nullptr) {
        enumThreadWindows(GetCurrentThreadId(), NoteThreadWindow,
                          reinterpret_cast<LPARAM>(&threadHasWindow));
    }
    messageBox(nullptr, CODE_PAGE_FAILURE_TEXT, CodePageFailureTitle(modulePath),
               CodePageFailureStyle(version, threadHasWindow));
}

}  // namespace

HMODULE LoadSystemLibrary(const char* name, DWORD flags) {
    char path[MAX_PATH];
    const UINT room = MAX_PATH - SYSTEM_LIBRARY_NAME_SIZE;
    UINT length = GetSystemDirectoryA(path, room);
    if (length == 0 || length >= room) return nullptr;
    lstrcatA(path, name);
    return LoadLibraryExA(path, nullptr, flags);
}

void SearchSystemDirectoryOnly() {
    // Looked up, not imported: the 95 family, XP, and Vista and 7 without
    // the update have no such function, and the image must load there.
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (kernel32 == nullptr) return;
    auto setDefaultDllDirectories = reinterpret_cast<BOOL(WINAPI*)(DWORD)>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool IsWindows95Family(unsigned long version) { return (version & 0x80000000UL) != 0; }

const char* CodePageFailureTitle(const char* modulePath) {
    const char* afterBackslash = nullptr;
    const char* afterColon = nullptr;
    for (const char* p = modulePath; *p != 0; ++p) {
        if ((ByteClassTable[static_cast<unsigned char>(*p) + 1] & CLASS_LEAD) &&
            p[1] != 0) {
            ++p;  // the trail byte never counts as '\' or ':'
        } else if (*p == '\\') {
            afterBackslash = p + 1;
        } else if (*p == ':') {
            afterColon = p + 1;
        }
    }
    if (afterBackslash != nullptr) return afterBackslash;
    if (afterColon != nullptr) return afterColon;
    return modulePath;
}

unsigned CodePageFailureStyle(unsigned long version, bool threadHasWindow) {
    unsigned modality =
        IsWindows95Family(version) && !threadHasWindow ? MB_SYSTEMMODAL : MB_TASKMODAL;
    return MB_ICONSTOP | MB_SETFOREGROUND | modality;
}

int InitByteClassTable() {
    CodePageFacts facts = {};
    facts.codePage = GetACP();
    CPINFO info;
    if (!GetCPInfo(facts.codePage, &info)) {
        ReportCodePageFailure();
        return -1;
    }
    facts.maxCharSize = info.MaxCharSize;
    for (unsigned i = 0; i < LEAD_BYTE_RANGE_BYTES; ++i) facts.leadByteRanges[i] = info.LeadByte[i];
    BuildByteClassTable(&facts);
    return 0;
}
