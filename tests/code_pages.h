// Code pages the tests build the byte class table for, from the facts the
// platform reports for each.
#pragma once

#include <string>

enum TestCodePage : unsigned {
    CP_1252 = 1252,  // single-byte
    CP_932 = 932,    // lead bytes 81-9F and E0-FC, single-byte katakana
    CP_936 = 936,    // lead bytes 81-FE, as 949 and 950
    CP_949 = 949,
    CP_950 = 950,
    CP_DOUBLE_NO_LEADS = 20000,  // MaxCharSize 2 with an empty range list
};

void UseCodePage(unsigned codePage);

// Bytes as hexadecimal, for messages about text that is not printable.
std::string Hex(const std::string& bytes);
