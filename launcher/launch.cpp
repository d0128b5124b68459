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

int LaunchStatus(unsigned winExecResult) { return winExecResult > 31 ? 0 : -1; }
