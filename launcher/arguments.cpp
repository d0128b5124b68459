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

// The first argument of the command line as Windows' C runtime reads a
// program's name: up to the first blank or tab outside double quotes, the
// quotes left out (Microsoft, "Parsing C command-line arguments"); a quote,
// blank or tab that is a trail byte is none of them. It goes into path,
// LAUNCHER_FIELD_SIZE bytes. Returns where the rest of the line begins, or null
// where the path would be longer than 259 bytes.
const char* FirstArgument(const char* line, char* path) {
    bool quoted = false;
    bool afterLead = false;  // as ByteTypeAt judges each byte after those before it
    int length = 0;
    for (;; ++line) {
        unsigned char c = static_cast<unsigned char>(*line);
        bool trail = afterLead && (ByteClassTable[c + 1] & CLASS_TRAIL) != 0;
        afterLead = !afterLead && (ByteClassTable[c + 1] & CLASS_LEAD) != 0;
        if (c == 0 || (!trail && !quoted && IsBlank(c))) break;
        if (c == '"' && !trail) {
            quoted = !quoted;
            continue;
        }
        if (length == PATH_LIMIT) return nullptr;
        path[length++] = static_cast<char>(c);
    }
    path[length] = 0;
    return line;
}

// The same on the wide route, which has no trail bytes, counted in characters.
const wchar_t* FirstArgument(const wchar_t* line, wchar_t* path) {
    bool quoted = false;
    int length = 0;
    for (;; ++line) {
        wchar_t c = *line;
        if (c == 0 || (!quoted && IsBlank(c))) break;
        if (c == L'"') {
            quoted = !quoted;
            continue;
        }
        if (length == PATH_LIMIT) return nullptr;
        path[length++] = c;
    }
    path[length] = 0;
    return line;
}

int ComposeInstaller(const char* path, char* command) { return ComposeInstallerCommand(path, command); }
int ComposeInstaller(const wchar_t* path, wchar_t* command) { return ComposeInstallerCommandW(path, command); }

template <typename Char>
int ComposeWithArguments(const Char* commandLine, Char* path, Char* command, int size) {
    command[0] = 0;
    path[0] = 0;
    if (commandLine == nullptr) return ERROR_INVALID_PARAMETER;
    const Char* arguments = FirstArgument(commandLine, path);
    if (arguments == nullptr) return ERROR_FILENAME_EXCED_RANGE;
    // Its quotes left out, the path never begins with one, so the
    // composition takes it whole.
    if (ComposeInstaller(path, command) != 0) {
        // Refused for a quote, which can name no file, where the same path
        // without quotes passes; otherwise for a length. A quote and the
        // letter put in its place are alike to the split, trail bytes too.
        for (int i = 0; path[i] != 0; ++i) {
            if (path[i] == '"') path[i] = 'x';
        }
        int reason = ComposeInstaller(path, command) == 0 ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE;
        command[0] = 0;
        return reason;
    }

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

// The extension CreateProcess appends to a name without one, the
// installer's too; a name that has one keeps it.
template <typename Char>
bool AppendExtension(Char* path) {
    Char* end = path;
    bool extension = false;
    for (; *end != 0; ++end) {
        if (*end == '.') extension = true;
        if (*end == '\\' || *end == '/' || *end == ':') extension = false;
    }
    if (extension) return false;
    for (const char* c = INSTALLER_EXTENSION;; ++c) {
        *end++ = static_cast<Char>(*c);
        if (*c == 0) return true;
    }
}
static_assert(LAUNCHER_FIELD_SIZE == PATH_FIELD_SIZE + sizeof ".exe" - 1, "the field leaves it room");

int Length(const wchar_t* text) {
    int length = 0;
    while (text[length] != 0) ++length;
    return length;
}

}  // namespace

int ComposeDeploymentCommand(const char* commandLine, char* launcher, char* command, int size) {
    return ComposeWithArguments(commandLine, launcher, command, size);
}

int ComposeDeploymentCommandW(const wchar_t* commandLine, wchar_t* launcher, wchar_t* command, int size) {
    return ComposeWithArguments(commandLine, launcher, command, size);
}

bool AppendExecutableExtension(char* path) { return AppendExtension(path); }
bool AppendExecutableExtension(wchar_t* path) { return AppendExtension(path); }

int PutInstaller(wchar_t* command, const wchar_t* installer, int size) {
    int held = 1;
    while (command[held] != L'"') ++held;  // the path holds no quote of its own
    ++held;
    int length = Length(installer), rest = Length(command + held);
    if (length + rest >= size) return ERROR_FILENAME_EXCED_RANGE;
    // The arguments move as far as the paths differ, either way.
    if (length > held) {
        for (int i = rest; i >= 0; --i) command[length + i] = command[held + i];
    } else {
        for (int i = 0; i <= rest; ++i) command[length + i] = command[held + i];
    }
    for (int i = 0; i < length; ++i) command[i] = installer[i];
    return 0;
}

bool FitsShellCommand(const wchar_t* file, const wchar_t* parameters) {
    int length = 1 + Length(file) + 1 + (parameters != nullptr ? 1 + Length(parameters) : 0);
    return length < SHELL_COMMAND_CHARACTERS;
}
