#include "byte_classes.h"

unsigned char ByteClassTable[BYTE_CLASS_ENTRIES];
unsigned ByteClassCodePage;

namespace {

unsigned char ClassOf(unsigned char c) { return ByteClassTable[c + 1]; }

void MarkBytes(unsigned first, unsigned last, unsigned char bits) {
    for (unsigned c = first; c <= last; ++c) ByteClassTable[c + 1] |= bits;
}

}  // namespace

void BuildByteClassTable(const CodePageFacts* facts) {
    for (unsigned i = 0; i < BYTE_CLASS_ENTRIES; ++i) ByteClassTable[i] = 0;
    if (facts->maxCharSize < 2) {
        ByteClassCodePage = 0;
        return;
    }
    const unsigned char* range = facts->leadByteRanges;
    for (unsigned i = 0; i + 1 < LEAD_BYTE_RANGE_BYTES; i += 2) {
        if (range[i] == 0 || range[i + 1] == 0) break;
        MarkBytes(range[i], range[i + 1], CLASS_LEAD);
    }
    MarkBytes(0x01, 0xFE, CLASS_TRAIL);
    if (facts->codePage == 932) {
        MarkBytes(0xA6, 0xDF, CLASS_KATAKANA);
        MarkBytes(0xA1, 0xA5, CLASS_KATAKANA_PUNCTUATION);
    }
    ByteClassCodePage = facts->codePage;
}

int ByteTypeAt(const char* text, int n) {
    int type = BYTE_ILLEGAL;
    for (int i = 0; i <= n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0) return BYTE_ILLEGAL;
        unsigned char bits = ClassOf(c);
        if (type == BYTE_LEAD) {
            type = (bits & CLASS_TRAIL) ? BYTE_TRAIL : BYTE_ILLEGAL;
        } else if (bits & CLASS_LEAD) {
            type = BYTE_LEAD;
        } else if ((c >= 0x20 && c <= 0x7E) ||
                   (bits & (CLASS_KATAKANA | CLASS_KATAKANA_PUNCTUATION))) {
            type = BYTE_SINGLE;
        } else {
            type = BYTE_ILLEGAL;
        }
    }
    return type;
}

char* BoundedCopy(char* destination, const char* source, unsigned n) {
    char* out = destination;
    while (n > 0 && *source != 0) {
        if (ClassOf(static_cast<unsigned char>(*source)) & CLASS_LEAD) {
            // A pair that would not fit, or a lead byte with nothing after it,
            // is left out whole.
            if (n < 2 || source[1] == 0) break;
            *out++ = *source++;
            *out++ = *source++;
            n -= 2;
        } else {
            *out++ = *source++;
            n -= 1;
        }
    }
    while (n > 0) {
        *out++ = 0;
        n -= 1;
    }
    return destination;
}
