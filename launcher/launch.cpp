#include "launch.h"

#include <windows.h>

#include "../path/byte_classes.h"
#include "../path/path_split.h"

const char INSTALLER_SUBDIRECTORY[] = "windows\\setup\\";
const char INSTALLER_NAME[] = "setup";
const char INSTALLER_EXTENSION[] = ".exe";

namespace {

enum {
    SUBDIRECTORY_LENGTH = sizeof INSTALLER_SUBDIRECTORY - 1,
    FILE_NAME_LENGTH = sizeof INSTALLER_NAME - 1 + sizeof INSTALLER_EXTENSION - 1,
    PATH_LIMIT = PATH_FIELD_SIZE - 1,
    DIRECTORY_LIMIT = DIRECTORY_FIELD_SIZE - 1 - SUBDIRECTORY_LENGTH,
};

int Length(const char* text) {
    int length = 0;
    while (text[length] != 0) ++length;
    return length;
}

// The launcher's own path in the command line: after an opening quote it runs
// to the closing quote (a '"' that is no trail byte), leaving out the
// arguments; unquoted it is the whole line, since a path with blanks may come
// unquoted. Returns its length, or -1 when it is longer than limit.
int PathTextLength(const char* text, bool quoted, int limit) {
    for (int length = 0; length <= limit; ++length) {
        char c = text[length];
        if (c == 0) return length;
        if (quoted && c == '"' && ByteTypeAt(text, length) != BYTE_TRAIL) return length;
    }
    return -1;
}

bool HoldsQuote(const char* text) {
    for (; *text != 0; ++text) {
        if (*text == '"') return true;
    }
    return false;
}

// The wide route has no trail bytes, and no separator, colon, dot or quote is
// half of a surrogate pair, so a pair always passes whole.
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Whether text[0, end) ends in a component that is exactly "." or "..": one
// after the start, a separator, or the drive's colon.
bool EndsInDotComponent(const wchar_t* text, int end) {
    if (end < 1 || text[end - 1] != L'.') return false;
    int k = end - 1;
    if (k > 0 && text[k - 1] == L'.') --k;
    return k == 0 || IsSeparator(text[k - 1]) || (k == 2 && text[1] == L':');
}

// Where the directory ends, as SplitPath takes it: after the last separator,
// unless a "." or ".." component ends the text or stands just before the
// extension (the last dot of the last component); then it is directory too.
int DirectoryEnd(const wchar_t* text, int start, int length) {
    if (EndsInDotComponent(text, length)) return length;
    int lastComponent = start;
    for (int i = start; i < length; ++i) {
        if (IsSeparator(text[i])) lastComponent = i + 1;
    }
    for (int i = length - 1; i >= lastComponent; --i) {
        if (text[i] == L'.') return EndsInDotComponent(text, i) ? i : lastComponent;
    }
    return lastComponent;
}

wchar_t* AppendAscii(wchar_t* out, const char* text) {
    while (*text != 0) *out++ = static_cast<wchar_t>(*text++);
    return out;
}

}  // namespace

int ComposeInstallerCommand(const char* commandLine, char* command) {
    command[0] = 0;
    if (commandLine == nullptr) return -1;
    bool quoted = commandLine[0] == '"';
    const char* text = quoted ? commandLine + 1 : commandLine;

    // Text that does not fit is refused, never cut: a cut path could name
    // another program.
    int length = PathTextLength(text, quoted, PATH_LIMIT);
    if (length < 0) return -1;
    char path[PATH_FIELD_SIZE];
    for (int i = 0; i < length; ++i) path[i] = text[i];
    path[length] = 0;

    char drive[DRIVE_FIELD_SIZE];
    char directory[DIRECTORY_FIELD_SIZE];
    SplitPath(path, drive, directory, nullptr, nullptr);
    int directoryLength = Length(directory);
    if (directoryLength > DIRECTORY_LIMIT) return -1;
    lstrcatA(directory, INSTALLER_SUBDIRECTORY);

    // The directory now ends in the literal's separator, so the merge adds
    // none: the composed length is known before anything is written.
    int composedLength = (drive[0] != 0 ? 2 : 0) + directoryLength + SUBDIRECTORY_LENGTH +
                         FILE_NAME_LENGTH;
    if (composedLength > PATH_LIMIT) return -1;
    MergePath(path, drive, directory, INSTALLER_NAME, INSTALLER_EXTENSION);

    // Quoted, the platform cannot cut the command at a blank and start another
    // program; a path holding a quote of its own can name no file.
    if (HoldsQuote(path)) return -1;
    command[0] = '"';
    lstrcpyA(command + 1, path);
    lstrcatA(command, "\"");
    return 0;
}

int ComposeInstallerCommandW(const wchar_t* commandLine, wchar_t* command) {
    command[0] = 0;
    if (commandLine == nullptr) return -1;
    bool quoted = commandLine[0] == L'"';
    const wchar_t* text = quoted ? commandLine + 1 : commandLine;

    int length = 0;
    while (text[length] != 0 && !(quoted && text[length] == L'"')) {
        if (++length > PATH_LIMIT) return -1;
    }
    int start = length >= 2 && text[1] == L':' ? 2 : 0;  // the drive
    int directoryEnd = DirectoryEnd(text, start, length);
    if (directoryEnd - start > DIRECTORY_LIMIT) return -1;
    if (directoryEnd + SUBDIRECTORY_LENGTH + FILE_NAME_LENGTH > PATH_LIMIT) return -1;

    wchar_t* out = command;
    *out++ = L'"';
    for (int i = 0; i < directoryEnd; ++i) {
        if (text[i] == L'"') {
            command[0] = 0;
            return -1;
        }
        *out++ = text[i];
    }
    out = AppendAscii(out, INSTALLER_SUBDIRECTORY);
    out = AppendAscii(out, INSTALLER_NAME);
    out = AppendAscii(out, INSTALLER_EXTENSION);
    *out++ = L'"';
    *out = 0;
    return 0;
}

bool BeginsWithDrive(const wchar_t* path) {
    return path[0] != 0 && path[1] == L':' && IsSeparator(path[2]);
}

int ComposeShareName(wchar_t* share, const wchar_t* path) {
    if (share[0] != L'\\' || share[1] != L'\\') return -1;
    int length = 0;
    while (share[length] != 0) ++length;
    const wchar_t* rest = path + 2;
    int restLength = 0;
    while (rest[restLength] != 0) ++restLength;
    if (length + restLength > PATH_LIMIT) return -1;
    for (int i = 0; i <= restLength; ++i) share[length + i] = rest[i];
    return 0;
}

bool SameWideText(const wchar_t* a, const wchar_t* b) {
    for (; *a == *b; ++a, ++b) {
        if (*a == 0) return true;
    }
    return false;
}

int LaunchStatus(unsigned winExecResult) { return winExecResult > 31 ? 0 : -1; }
