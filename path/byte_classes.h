// Byte classes of the active ANSI code page.
//
// Path text is 8-bit text in the active ANSI code page. In double-byte code
// pages (932 and the like) the trail byte of a character may have the value of
// '\', '/', ':', '.', '*' or '?'; the table built here lets the path code pass
// over such a character whole.
#pragma once

enum ByteType {
    BYTE_ILLEGAL = -1,  // none of the others, or the text ended first
    BYTE_SINGLE = 0,
    BYTE_LEAD = 1,
    BYTE_TRAIL = 2,
};

// Bits of a table entry.
enum {
    CLASS_KATAKANA = 0x01,              // code page 932: bytes A6-DF
    CLASS_KATAKANA_PUNCTUATION = 0x02,  // code page 932: bytes A1-A5
    CLASS_LEAD = 0x04,
    CLASS_TRAIL = 0x08,
};

enum {
    BYTE_CLASS_ENTRIES = 257,  // entry 0 is always 0; byte c is entry c + 1
    LEAD_BYTE_RANGE_BYTES = 12,  // as many as the platform reports at most
};

// Process-wide, all zero until the start-up builds them, read-only after.
extern unsigned char ByteClassTable[BYTE_CLASS_ENTRIES];
extern unsigned ByteClassCodePage;  // 0 for a single-byte code page

// What the table is built from: the platform's answer for one code page.
struct CodePageFacts {
    unsigned codePage;
    unsigned maxCharSize;
    // (first, last) pairs; the list ends at the first pair holding a 0.
    unsigned char leadByteRanges[LEAD_BYTE_RANGE_BYTES];
};

// Builds the table from the facts of a code page. Pure.
void BuildByteClassTable(const CodePageFacts* facts);

// Asks the platform for the active code page and builds the table; on failure
// shows the code-page failure message and leaves the table as it was.
// Returns 0 when built, -1 when the code page could not be read.
int InitByteClassTable();

// The type of the byte at index n of text, judged after all bytes before it.
// BYTE_ILLEGAL when the text ends before index n, and for n < 0.
int ByteTypeAt(const char* text, int n);

// Copies at most n bytes, never splitting a lead byte from its trail byte, and
// fills the rest of the n bytes with NUL. The destination is terminated only
// when fewer than n bytes were copied.
char* BoundedCopy(char* destination, const char* source, unsigned n);
