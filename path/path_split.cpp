#include "path_split.h"

#include "byte_classes.h"

namespace {

enum {
    PART_CAP = PART_FIELD_SIZE - 1,
    DRIVE_CAP = DRIVE_FIELD_SIZE - 1,
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The colon counts only right after a one-byte drive.
bool IsDriveColon(const char* text, int k) { return k == 1 && text[k] == ':'; }

void SetEmpty(char* output) {
    if (output != nullptr) output[0] = 0;
}

char* Append(char* out, const char* text) {
    while (*text != 0) *out++ = *text++;
    return out;
}

}  // namespace

void CopyComponent(char* output, const char* source, unsigned cap) {
    if (output == nullptr) return;
    unsigned length = 0;
    while (length < cap && source[length] != 0) ++length;
    if (length < cap) {
        for (unsigned i = 0; i <= length; ++i) output[i] = source[i];
        return;
    }
    BoundedCopy(output, source, cap);
    output[cap] = 0;
}

bool IsDotComponent(const char* text, int k) {
    if (text[k - 1] == '.' && ByteTypeAt(text, k - 1) == BYTE_SINGLE) --k;  // ".."
    if (ByteTypeAt(text, k - 1) == BYTE_TRAIL) return false;
    char before = text[k - 1];
    return before == 0 || IsSeparator(before) || IsDriveColon(text, k - 1);
}

int SplitPath(const char* path, char* drive, char* directory, char* name, char* extension) {
    SetEmpty(drive);
    SetEmpty(directory);
    SetEmpty(name);
    SetEmpty(extension);
    int flags = 0;

    // The start mark before the text stops the backward scan; a pair or a
    // lone lead byte cut off by the limit is left out, its room NUL.
    char work[1 + SPLIT_INPUT_LIMIT + 1];
    char* text = work + 1;
    work[0] = 0;
    int length = 0;
    while (length < SPLIT_INPUT_LIMIT && path[length] != 0) ++length;
    BoundedCopy(text, path, static_cast<unsigned>(length));
    text[length] = 0;

    // Stepping back from the end: first the extension and the name (until the
    // boundary of the last component is found), then directory and drive.
    int k = length;
    bool found = false;
    bool extensionTaken = false;
    for (;;) {
        while (k > 0 && ByteTypeAt(text, k - 1) == BYTE_TRAIL) k -= 2;  // a pair whole
        --k;
        char c = text[k];
        if (c == '.') {
            if (!found && text[k + 1] == 0) found = IsDotComponent(text, k);
            if (found || extensionTaken) continue;
            CopyComponent(extension, text + k, PART_CAP);
            text[k] = 0;
            flags |= SPLIT_EXTENSION;
            extensionTaken = true;
            continue;
        }
        if (c == '*' || c == '?') {
            if (!found) flags |= SPLIT_WILDCARDS;
            continue;
        }
        bool ends = c == 0 || IsDriveColon(text, k);
        if (ends && found) {
            CopyComponent(directory, text + k + 1, PART_CAP);
            if (text[k + 1] != 0) flags |= SPLIT_DIRECTORY;
            text[k + 1] = 0;
            break;
        }
        if (ends || IsSeparator(c)) {
            if (found) continue;
            found = true;
            CopyComponent(name, text + k + 1, PART_CAP);
            if (text[k + 1] != 0) flags |= SPLIT_FILENAME;
            text[k + 1] = 0;
            if (ends) break;
        }
    }
    if (IsDriveColon(text, k)) {
        CopyComponent(drive, text, DRIVE_CAP);
        flags |= SPLIT_DRIVE;
    }
    return flags;
}

void MergePath(char* result, const char* drive, const char* directory, const char* name,
               const char* extension) {
    char* out = result;
    if (drive != nullptr && drive[0] != 0) {
        *out++ = drive[0];
        *out++ = ':';
    }
    if (directory != nullptr && directory[0] != 0) {
        char* start = out;
        out = Append(out, directory);
        int last = static_cast<int>(out - start) - 1;
        // A trail byte with the value of a separator is no separator.
        if (!IsSeparator(directory[last]) || ByteTypeAt(directory, last) == BYTE_TRAIL) {
            *out++ = '\\';
        }
    }
    if (name != nullptr) out = Append(out, name);
    if (extension != nullptr && extension[0] != 0) {
        if (extension[0] != '.') *out++ = '.';
        out = Append(out, extension);
    }
    *out = 0;
}
