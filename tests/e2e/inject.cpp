// A fault at the platform boundary of an unmodified program: started under
// the debugger, it is stopped at its entry point, once its imports are
// bound, and one import's slot is pointed at a stub that fails the call with
// ERROR_ELEVATION_REQUIRED (740); then the debugger detaches. Wine never
// refuses a program for want of an administrator, and a test cannot
// otherwise make GetCPInfo fail.
#include <windows.h>

#include <cstring>

namespace {

// The stub: LastErrorValue in the thread's TEB := 740; return 0.
#ifdef _WIN64
const BYTE STUB[] = {0x65, 0xC7, 0x04, 0x25, 0x68, 0, 0, 0, 0xE4, 0x02, 0, 0,  // mov gs:[0x68], 740
                     0x31, 0xC0, 0xC3};                                       // xor eax, eax; ret
#else
const BYTE STUB[] = {0x64, 0xC7, 0x05, 0x34, 0, 0, 0, 0xE4, 0x02, 0, 0,  // mov fs:[0x34], 740
                     0x31, 0xC0, 0xC2, 0, 0};                            // xor eax, eax; ret N
#endif

// The bytes of arguments each faulted import takes off the 32-bit stack.
const struct {
    const char* name;
    BYTE argumentBytes;
} IMPORTS[] = {{"WinExec", 8}, {"CreateProcessW", 40}, {"GetCPInfo", 8}};

bool Poke(HANDLE process, void* at, const void* bytes, SIZE_T size) {
    DWORD protection;
    if (!VirtualProtectEx(process, at, size, PAGE_EXECUTE_READWRITE, &protection)) return false;
    bool written = WriteProcessMemory(process, at, bytes, size, nullptr);
    VirtualProtectEx(process, at, size, protection, &protection);
    FlushInstructionCache(process, at, size);
    return written;
}

template <typename T>
T Peek(HANDLE process, const BYTE* at) {
    T value = {};
    ReadProcessMemory(process, at, &value, sizeof value, nullptr);
    return value;
}

struct Name {
    char text[64];
};

// The address of the slot through which the image at base calls import.
void* ImportSlot(HANDLE process, BYTE* base, const char* import) {
    auto dos = Peek<IMAGE_DOS_HEADER>(process, base);
    auto nt = Peek<IMAGE_NT_HEADERS>(process, base + dos.e_lfanew);
    BYTE* descriptor = base + nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (;; descriptor += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        auto entry = Peek<IMAGE_IMPORT_DESCRIPTOR>(process, descriptor);
        if (entry.Name == 0) return nullptr;
        for (DWORD i = 0;; ++i) {
            auto thunk = Peek<IMAGE_THUNK_DATA>(process, base + entry.OriginalFirstThunk + i * sizeof(IMAGE_THUNK_DATA));
            if (thunk.u1.AddressOfData == 0) break;
            auto name = Peek<Name>(process, base + thunk.u1.AddressOfData + 2);  // after the hint
            name.text[sizeof name.text - 1] = 0;
            if (std::strcmp(name.text, import) == 0) return base + entry.FirstThunk + i * sizeof(IMAGE_THUNK_DATA);
        }
    }
}

}  // namespace

// Runs the debug loop of a process created with DEBUG_ONLY_THIS_PROCESS until
// its entry, faults the import, and detaches. False where it could not.
bool InjectFault(const PROCESS_INFORMATION& process, const char* import) {
    BYTE stub[sizeof STUB];
    std::memcpy(stub, STUB, sizeof stub);
    const auto* known = IMPORTS;
    while (std::strcmp(known->name, import) != 0) {
        if (++known == IMPORTS + sizeof IMPORTS / sizeof IMPORTS[0]) return false;
    }
#ifndef _WIN64
    stub[sizeof stub - 2] = known->argumentBytes;
#endif
    BYTE* base = nullptr;
    BYTE* entry = nullptr;
    const BYTE breakpoint = 0xCC;
    BYTE original = 0;
    for (DEBUG_EVENT event; WaitForDebugEvent(&event, 60000);) {
        DWORD code = event.dwDebugEventCode;
        if (code == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(event.u.CreateProcessInfo.hFile);
            base = static_cast<BYTE*>(event.u.CreateProcessInfo.lpBaseOfImage);
            entry = reinterpret_cast<BYTE*>(event.u.CreateProcessInfo.lpStartAddress);
            original = Peek<BYTE>(process.hProcess, entry);
            if (!Poke(process.hProcess, entry, &breakpoint, 1)) return false;
        } else if (code == LOAD_DLL_DEBUG_EVENT) {
            CloseHandle(event.u.LoadDll.hFile);
        } else if (code == EXIT_PROCESS_DEBUG_EVENT) {
            return false;
        } else if (code == EXCEPTION_DEBUG_EVENT &&
                   event.u.Exception.ExceptionRecord.ExceptionAddress == entry) {
            // At the entry: the imports are bound. Run the entry's own first byte.
            CONTEXT context = {};
            context.ContextFlags = CONTEXT_CONTROL;
            GetThreadContext(process.hThread, &context);
#ifdef _WIN64
            context.Rip = reinterpret_cast<DWORD64>(entry);
#else
            context.Eip = reinterpret_cast<DWORD>(entry);
#endif
            void* slot = ImportSlot(process.hProcess, base, import);
            void* stubAt = VirtualAllocEx(process.hProcess, nullptr, sizeof stub, MEM_COMMIT | MEM_RESERVE,
                                          PAGE_EXECUTE_READWRITE);
            bool faulted = slot && stubAt && Poke(process.hProcess, stubAt, stub, sizeof stub) &&
                           Poke(process.hProcess, slot, &stubAt, sizeof stubAt) &&
                           Poke(process.hProcess, entry, &original, 1) &&
                           SetThreadContext(process.hThread, &context);
            DebugSetProcessKillOnExit(FALSE);
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            return DebugActiveProcessStop(event.dwProcessId) && faulted;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId,
                           code == EXCEPTION_DEBUG_EVENT &&
                                   event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT
                               ? DBG_EXCEPTION_NOT_HANDLED
                               : DBG_CONTINUE);
    }
    return false;
}
