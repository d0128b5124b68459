// What a fuzz input means: its first byte picks the code page, the next
// bytes are target-specific choices, and the rest is the text, ended by the
// input's end or its first NUL, as the platform would end it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../code_pages.h"

struct FuzzInput {
    unsigned codePage;
    const std::uint8_t* choices;  // choiceCount bytes, zero where the input was short
    std::string text;
};

inline FuzzInput ReadFuzzInput(const std::uint8_t* data, std::size_t size, std::size_t choiceCount) {
    static const unsigned codePages[] = {CP_1252, CP_932, CP_936, CP_949, CP_950, CP_DOUBLE_NO_LEADS};
    static std::uint8_t choices[8];
    FuzzInput input = {codePages[(size > 0 ? data[0] : 0) % 6], choices, {}};
    for (std::size_t i = 0; i < sizeof choices; ++i) {
        choices[i] = i < choiceCount && 1 + i < size ? data[1 + i] : 0;
    }
    std::size_t start = 1 + choiceCount < size ? 1 + choiceCount : size;
    for (std::size_t i = start; i < size && data[i] != 0; ++i) input.text += static_cast<char>(data[i]);
    return input;
}

#define FUZZ_CHECK(condition)                                                 \
    do {                                                                      \
        if (!(condition)) {                                                   \
            std::fprintf(stderr, "check failed at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                     \
        }                                                                     \
    } while (0)
