#include "../path/byte_classes.h"

#include <gtest/gtest.h>

#include <string>

#include "code_pages.h"

namespace {

enum : unsigned char {
    L = CLASS_LEAD,
    T = CLASS_TRAIL,
    K = CLASS_KATAKANA,
    P = CLASS_KATAKANA_PUNCTUATION,
};

TEST(ByteClassTable, EntriesPerCodePage) {
    struct Row {
        unsigned codePage;
        unsigned byte;
        unsigned char bits;
    } rows[] = {
        {CP_1252, 0x81, 0},  {CP_1252, 0x5C, 0},         {CP_1252, 0xB1, 0},
        {CP_932, 0x00, 0},   {CP_932, 0x5C, T},          {CP_932, 0x80, T},
        {CP_932, 0x81, L | T}, {CP_932, 0x9F, L | T},    {CP_932, 0xA0, T},
        {CP_932, 0xA1, P | T}, {CP_932, 0xA5, P | T},    {CP_932, 0xA6, K | T},
        {CP_932, 0xDF, K | T}, {CP_932, 0xE0, L | T},    {CP_932, 0xFC, L | T},
        {CP_932, 0xFD, T},   {CP_932, 0xFF, 0},
        {CP_936, 0x80, T},   {CP_936, 0x81, L | T},      {CP_936, 0xB1, L | T},
        {CP_936, 0xFE, L | T}, {CP_936, 0xFF, 0},
        {CP_DOUBLE_NO_LEADS, 0x81, T}, {CP_DOUBLE_NO_LEADS, 0xFF, 0},
    };
    for (const Row& row : rows) {
        UseCodePage(row.codePage);
        EXPECT_EQ(ByteClassTable[row.byte + 1], row.bits)
            << "code page " << row.codePage << ", byte " << std::hex << row.byte;
        EXPECT_EQ(ByteClassTable[0], 0);
    }
}

TEST(ByteClassTable, RecordsTheCodePageAndClearsTheOldOne) {
    UseCodePage(CP_932);
    EXPECT_EQ(ByteClassCodePage, 932u);
    UseCodePage(CP_1252);
    EXPECT_EQ(ByteClassCodePage, 0u);
    for (unsigned i = 0; i < BYTE_CLASS_ENTRIES; ++i) EXPECT_EQ(ByteClassTable[i], 0) << i;
}

TEST(ByteClassTable, RangeListEndsAtThePairHoldingZero) {
    CodePageFacts facts = {949, 2, {0x81, 0x82, 0x00, 0x90, 0xA0, 0xA1}};
    BuildByteClassTable(&facts);
    EXPECT_EQ(ByteClassTable[0x82 + 1] & CLASS_LEAD, CLASS_LEAD);
    EXPECT_EQ(ByteClassTable[0x90 + 1] & CLASS_LEAD, 0);
    EXPECT_EQ(ByteClassTable[0xA0 + 1] & CLASS_LEAD, 0);
}

TEST(ByteTypeAt, JudgesEachByteInItsContext) {
    struct Row {
        unsigned codePage;
        const char* text;
        int n;
        int type;
    } rows[] = {
        {CP_1252, "\x95\x5C", 1, BYTE_SINGLE},
        {CP_1252, "\x95\x5C", 0, BYTE_ILLEGAL},  // not printable, no katakana
        {CP_1252, "\xB1", 0, BYTE_ILLEGAL},
        {CP_932, "\x95\x5C", 0, BYTE_LEAD},
        {CP_932, "\x95\x5C", 1, BYTE_TRAIL},
        {CP_932, "A\x5C", 1, BYTE_SINGLE},
        {CP_932, "\x81\xFF", 1, BYTE_ILLEGAL},     // no trail byte
        {CP_932, "\x81\xFF" "A", 2, BYTE_SINGLE},  // judged afresh
        {CP_932, "\x81\xFF\x81", 2, BYTE_LEAD},
        {CP_932, "\x81\x81\x81", 1, BYTE_TRAIL},   // two lead values in a row
        {CP_932, "\x81\x81\x81", 2, BYTE_LEAD},
        {CP_932, "\x81\x81" "A", 2, BYTE_SINGLE},
        {CP_932, "\xB1", 0, BYTE_SINGLE},          // katakana
        {CP_932, "\xA1", 0, BYTE_SINGLE},          // katakana punctuation
        {CP_932, "\xA0", 0, BYTE_ILLEGAL},
        {CP_932, "\t", 0, BYTE_ILLEGAL},
        {CP_932, "\x7F", 0, BYTE_ILLEGAL},
        {CP_932, "ab", 2, BYTE_ILLEGAL},           // at the NUL
        {CP_932, "a", 5, BYTE_ILLEGAL},            // beyond it: stops at the NUL
        {CP_932, "a", -1, BYTE_ILLEGAL},
        {CP_936, "\xB1\x5C", 1, BYTE_TRAIL},
        {CP_DOUBLE_NO_LEADS, "\x81\x5C", 1, BYTE_SINGLE},
        {CP_DOUBLE_NO_LEADS, "\x81\x5C", 0, BYTE_ILLEGAL},
    };
    for (const Row& row : rows) {
        UseCodePage(row.codePage);
        EXPECT_EQ(ByteTypeAt(row.text, row.n), row.type)
            << "code page " << row.codePage << ": " << Hex(row.text) << " at " << row.n;
    }
}

TEST(BoundedCopy, NeverSplitsAPairAndFillsWithNul) {
    struct Row {
        unsigned codePage;
        const char* source;
        unsigned n;
        std::string written;  // exactly n bytes
    } rows[] = {
        {CP_1252, "ab", 5, std::string("ab\0\0\0", 5)},
        {CP_1252, "abc", 2, "ab"},                                  // unterminated
        {CP_1252, "a\x81", 2, "a\x81"},
        {CP_932, "a\x81\x40", 2, std::string("a\0", 2)},            // pair straddles n
        {CP_932, "a\x81\x40", 3, "a\x81\x40"},
        {CP_932, "a\x81", 4, std::string("a\0\0\0", 4)},            // lead before the NUL
        {CP_932, "\x81\xFF" "b", 3, "\x81\xFF" "b"},                // pairs judged by lead alone
        {CP_932, "x", 0, ""},
    };
    for (const Row& row : rows) {
        UseCodePage(row.codePage);
        char field[16];
        for (char& c : field) c = '#';
        EXPECT_EQ(BoundedCopy(field, row.source, row.n), field);
        EXPECT_EQ(std::string(field, row.n), row.written) << Hex(row.source) << " n=" << row.n;
        EXPECT_EQ(field[row.n], '#') << "wrote past n for " << Hex(row.source);
    }
}

}  // namespace
