#include "arguments.h"

#include <windows.h>

#include "../path/byte_classes.h"
#include "launch.h"

namespace {

enum { PATH_LIMIT = PATH_FIELD_SIZE - 1 };

template <typename Char>
bool IsBlank(Char c) {
    return c == ' ' || c == '\t';
}

// The first argument's length: a quote or a blank that is a trail byte ends
// nothing. -1 when it is longer than 259 bytes.
int FirstArgumentLength(const char* text, bool quoted) {
    for (int length = 0; length <= PATH_LIMIT; ++length) {
        char c = text[length];
        if (c == 0) return length;
        if ((quoted ? c == '"' : IsBlank(c)) && ByteTypeAt(text, length) != BYTE_TRAIL) return length;
    }
    return -1;
}

// The same on the wide route, which has no trail bytes, counted in characters.
int FirstArgumentLength(const wchar_t* text, bool quoted) {
    for (int length = 0; length <= PATH_LIMIT; ++length) {
        wchar_t c = text[length];
        if (c == 0 || (quoted ? c == L'"' : IsBlank(c))) return length;
    }
    return -1;
}

int ComposeInstaller(const char* path, char* command) { return ComposeInstallerCommand(path, command); }
int ComposeInstaller(const wchar_t* path, wchar_t* command) { return ComposeInstallerCommandW(path, command); }

template <typename Char>
int ComposeWithArguments(const Char* commandLine, Char* command, int size) {
    command[0] = 0;
    if (commandLine == nullptr) return ERROR_INVALID_PARAMETER;
    bool quoted = commandLine[0] == '"';
    const Char* text = quoted ? commandLine + 1 : commandLine;
    int length = FirstArgumentLength(text, quoted);
    if (length < 0) return ERROR_FILENAME_EXCED_RANGE;
    // It never begins with a quote, so the composition takes it whole.
    Char path[PATH_FIELD_SIZE];
    for (int i = 0; i < length; ++i) path[i] = text[i];
    path[length] = 0;
    if (ComposeInstaller(path, command) != 0) {
        // Refused for a quote, which can name no file, where the same path
        // without quotes passes; otherwise for a length. A quote and the
        // letter put in its place are alike to the split, trail bytes too.
        for (int i = 0; i < length; ++i) {
            if (path[i] == '"') path[i] = 'x';
        }
        int reason = ComposeInstaller(path, command) == 0 ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE;
        command[0] = 0;
        return reason;
    }

    const Char* arguments = text + length;
    if (quoted && *arguments == '"') ++arguments;
    while (IsBlank(*arguments)) ++arguments;
    if (*arguments == 0) return 0;
    int at = 0;
    while (command[at] != 0) ++at;
    command[at++] = ' ';
    for (int i = 0;; ++i) {
        if (at + i == size) {
            command[0] = 0;
            return ERROR_FILENAME_EXCED_RANGE;
        }
        command[at + i] = arguments[i];
        if (arguments[i] == 0) return 0;
    }
}

}  // namespace

int ComposeDeploymentCommand(const char* commandLine, char* command, int size) {
    return ComposeWithArguments(commandLine, command, size);
}

int ComposeDeploymentCommandW(const wchar_t* commandLine, wchar_t* command, int size) {
    return ComposeWithArguments(commandLine, command, size);
}
