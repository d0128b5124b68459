// SplitPath with every output present and with some absent, MergePath of the
// parts, and ByteTypeAt and BoundedCopy on the same text.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../../path/byte_classes.h"
#include "../../path/path_split.h"
#include "fuzz_input.h"

namespace {

const char GUARD = '\x5A';

// A field with guard bytes after it, to see any write past its size.
template <std::size_t Size>
struct Guarded {
    char field[Size];
    char guard[16];
    Guarded() {
        std::memset(field, '\x33', Size);
        std::memset(guard, GUARD, sizeof guard);
    }
    bool Intact() const {
        for (char c : guard) {
            if (c != GUARD) return false;
        }
        return std::memchr(field, 0, Size) != nullptr;
    }
    std::size_t Length() const { return std::strlen(field); }
};

struct Split {
    Guarded<DRIVE_FIELD_SIZE> drive;
    Guarded<PART_FIELD_SIZE> directory, name, extension;
    int flags;
};

bool Holds(const char* text, char c) { return std::strchr(text, c) != nullptr; }

// The text survives the work area whole: no lone lead byte or pair is cut.
bool HasUnpairedLead(const std::string& text) {
    char copy[SPLIT_INPUT_LIMIT + 1];
    BoundedCopy(copy, text.c_str(), static_cast<unsigned>(text.size()));
    return std::memcmp(copy, text.c_str(), text.size()) != 0;
}

void CheckSplit(const std::string& text, const std::uint8_t* choices) {
    Split all;
    const std::string before = text;
    all.flags = SplitPath(text.c_str(), all.drive.field, all.directory.field, all.name.field,
                          all.extension.field);
    FUZZ_CHECK(text == before);
    FUZZ_CHECK(all.drive.Intact() && all.directory.Intact() && all.name.Intact() &&
               all.extension.Intact());
    FUZZ_CHECK(all.drive.Length() <= 2);
    FUZZ_CHECK(!(all.flags & SPLIT_DRIVE) == (all.drive.Length() == 0));
    FUZZ_CHECK(!(all.flags & SPLIT_DIRECTORY) == (all.directory.Length() == 0));
    FUZZ_CHECK(!(all.flags & SPLIT_FILENAME) == (all.name.Length() == 0));
    FUZZ_CHECK(!(all.flags & SPLIT_EXTENSION) == (all.extension.Length() == 0));
    FUZZ_CHECK((all.flags & ~0x1F) == 0);
    // A part cut at its cap (255 bytes, or 254 before a pair) may have lost
    // the wildcard that set the flag.
    bool partsCut = all.name.Length() >= PART_FIELD_SIZE - 2 ||
                    all.extension.Length() >= PART_FIELD_SIZE - 2;
    if ((all.flags & SPLIT_WILDCARDS) && !partsCut) {
        FUZZ_CHECK(Holds(all.name.field, '*') || Holds(all.name.field, '?') ||
                   Holds(all.extension.field, '*') || Holds(all.extension.field, '?'));
    }

    // Leaving outputs out changes nothing in the others.
    Split some;
    unsigned absent = choices[0];
    char* drive = absent & 1 ? nullptr : some.drive.field;
    char* directory = absent & 2 ? nullptr : some.directory.field;
    char* name = absent & 4 ? nullptr : some.name.field;
    char* extension = absent & 8 ? nullptr : some.extension.field;
    FUZZ_CHECK(SplitPath(text.c_str(), drive, directory, name, extension) == all.flags);
    FUZZ_CHECK(!drive || std::strcmp(drive, all.drive.field) == 0);
    FUZZ_CHECK(!directory || std::strcmp(directory, all.directory.field) == 0);
    FUZZ_CHECK(!name || std::strcmp(name, all.name.field) == 0);
    FUZZ_CHECK(!extension || std::strcmp(extension, all.extension.field) == 0);
    FUZZ_CHECK((!drive || some.drive.Intact()) && (!directory || some.directory.Intact()) &&
               (!name || some.name.Intact()) && (!extension || some.extension.Intact()));

    // The merge of the parts gives the text back, where nothing was cut and
    // the directory ends in a real separator.
    Guarded<4 * PART_FIELD_SIZE> merged;
    MergePath(merged.field, all.drive.field, all.directory.field, all.name.field,
              all.extension.field);
    FUZZ_CHECK(merged.Intact());
    std::size_t directoryLength = all.directory.Length();
    int last = static_cast<int>(directoryLength) - 1;
    bool directoryEndsInSeparator =
        directoryLength == 0 ||
        ((all.directory.field[last] == '\\' || all.directory.field[last] == '/') &&
         ByteTypeAt(all.directory.field, last) != BYTE_TRAIL);
    if (text.size() <= PART_FIELD_SIZE - 1 && !HasUnpairedLead(text) && directoryEndsInSeparator) {
        FUZZ_CHECK(text == merged.field);
    }
}

void CheckByteClasses(const std::string& text, const std::uint8_t* choices) {
    int length = static_cast<int>(text.size());
    int previous = BYTE_ILLEGAL;
    for (int n = 0; n <= length + 2; ++n) {
        int type = ByteTypeAt(text.c_str(), n);
        if (n >= length) FUZZ_CHECK(type == BYTE_ILLEGAL);
        if (type == BYTE_TRAIL) FUZZ_CHECK(previous == BYTE_LEAD);
        if (previous == BYTE_LEAD && n < length) FUZZ_CHECK(type == BYTE_TRAIL || type == BYTE_ILLEGAL);
        previous = type;
    }

    unsigned n = choices[1];
    Guarded<256> copy;
    FUZZ_CHECK(BoundedCopy(copy.field, text.c_str(), n) == copy.field);
    for (char c : copy.guard) FUZZ_CHECK(c == GUARD);
    std::size_t copied = strnlen(copy.field, n);
    FUZZ_CHECK(copied <= text.size());
    FUZZ_CHECK(std::memcmp(copy.field, text.c_str(), copied) == 0);
    for (std::size_t i = copied; i < n; ++i) FUZZ_CHECK(copy.field[i] == 0);
    // Nothing is left out but for want of room or of a trail byte.
    if (copied < text.size() && copied + 1 < n) FUZZ_CHECK(copied + 1 == text.size());
    // Never half a pair: the copy ends where a character of the text ends.
    if (copied > 0 && copied < text.size()) {
        FUZZ_CHECK(ByteTypeAt(text.c_str(), static_cast<int>(copied)) != BYTE_TRAIL);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input = ReadFuzzInput(data, size, 2);
    UseCodePage(input.codePage);
    CheckSplit(input.text, input.choices);
    CheckByteClasses(input.text, input.choices);
    return 0;
}
