// Split and merge of path text into and from drive, directory, name and
// extension. Pure text work over the byte classes of the active code page; the
// file system is never consulted.
#pragma once

// Which parts SplitPath found.
enum {
    SPLIT_WILDCARDS = 0x01,  // a '*' or '?' stands in the name or extension
    SPLIT_EXTENSION = 0x02,
    SPLIT_FILENAME = 0x04,
    SPLIT_DIRECTORY = 0x08,
    SPLIT_DRIVE = 0x10,
};

enum {
    DRIVE_FIELD_SIZE = 3,    // one byte, a colon and the NUL
    PART_FIELD_SIZE = 256,   // directory, name and extension
    SPLIT_INPUT_LIMIT = 260, // bytes of path text looked at; the rest is absent
};

// Takes path apart. Any output may be null; present outputs must have the
// field sizes above and always come back NUL-terminated. path is not changed.
int SplitPath(const char* path, char* drive, char* directory, char* name, char* extension);

// Puts the parts together into result; any part may be null. Only the first
// byte of drive is used. No length is checked: result must have room.
void MergePath(char* result, const char* drive, const char* directory, const char* name,
               const char* extension);

// Fills output (if present) from source, keeping at most cap bytes and never
// half a double-byte character, and NUL-terminates it.
void CopyComponent(char* output, const char* source, unsigned cap);

// Whether the '.' at index k, the last byte of text, ends a component that is
// exactly "." or "..". text[-1] must be readable: SplitPath's start mark.
bool IsDotComponent(const char* text, int k);
