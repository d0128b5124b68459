#include "code_pages.h"

#include <cstdio>

#include "../path/byte_classes.h"

void UseCodePage(unsigned codePage) {
    CodePageFacts facts = {};
    facts.codePage = codePage;
    facts.maxCharSize = codePage == CP_1252 ? 1 : 2;
    const unsigned char ranges932[] = {0x81, 0x9F, 0xE0, 0xFC};
    const unsigned char ranges936[] = {0x81, 0xFE};
    if (codePage == CP_932) {
        for (unsigned i = 0; i < sizeof ranges932; ++i) facts.leadByteRanges[i] = ranges932[i];
    } else if (codePage == CP_936 || codePage == CP_949 || codePage == CP_950) {
        for (unsigned i = 0; i < sizeof ranges936; ++i) facts.leadByteRanges[i] = ranges936[i];
    }
    BuildByteClassTable(&facts);
}

std::string Hex(const std::string& bytes) {
    std::string out;
    for (char byte : bytes) {
        unsigned char c = static_cast<unsigned char>(byte);
        char cell[8];
        std::snprintf(cell, sizeof cell, c >= 0x20 && c < 0x7F ? "%c" : "<%02X>", c);
        out += cell;
    }
    return out;
}
