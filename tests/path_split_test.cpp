#include "../path/path_split.h"

#include <gtest/gtest.h>

#include <string>

#include "code_pages.h"

namespace {

struct Parts {
    std::string drive, directory, name, extension;
    int flags;
};

bool operator==(const Parts& a, const Parts& b) {
    return a.drive == b.drive && a.directory == b.directory && a.name == b.name &&
           a.extension == b.extension && a.flags == b.flags;
}

std::ostream& operator<<(std::ostream& out, const Parts& p) {
    return out << Hex(p.drive) << " | " << Hex(p.directory) << " | " << Hex(p.name) << " | "
               << Hex(p.extension) << " | 0x" << std::hex << p.flags;
}

Parts Split(const std::string& text) {
    char drive[DRIVE_FIELD_SIZE], directory[PART_FIELD_SIZE], name[PART_FIELD_SIZE],
        extension[PART_FIELD_SIZE];
    int flags = SplitPath(text.c_str(), drive, directory, name, extension);
    return {drive, directory, name, extension, flags};
}

const std::string B254(254, 'b'), B255(255, 'b'), B256(256, 'b'), B270(270, 'b');

TEST(SplitPath, TakesThePathApart) {
    struct Row {
        unsigned codePage;
        std::string text;
        Parts parts;
    } rows[] = {
        {CP_1252, "D:\\setup.exe\"", {"D:", "\\", "setup", ".exe\"", 0x1E}},
        {CP_1252, "D:\\My Disc\\setup.exe\"", {"D:", "\\My Disc\\", "setup", ".exe\"", 0x1E}},
        {CP_1252, "setup.exe", {"", "", "setup", ".exe", 0x06}},
        {CP_1252, "setup", {"", "", "setup", "", 0x04}},
        {CP_1252, "D:setup.exe", {"D:", "", "setup", ".exe", 0x16}},
        {CP_1252, "\\\\server\\share\\dir\\setup.exe",
         {"", "\\\\server\\share\\dir\\", "setup", ".exe", 0x0E}},
        {CP_1252, "D:\\dir.old\\setup", {"D:", "\\dir.old\\", "setup", "", 0x1C}},
        {CP_1252, "D:\\dir\\..", {"D:", "\\dir\\..", "", "", 0x18}},
        {CP_1252, "..", {"", "..", "", "", 0x08}},
        {CP_1252, ".", {"", ".", "", "", 0x08}},
        {CP_1252, "D:..", {"D:", "..", "", "", 0x18}},
        {CP_1252, "D:\\dir\\a.", {"D:", "\\dir\\", "a", ".", 0x1E}},
        {CP_1252, "D:/dir/setup.exe", {"D:", "/dir/", "setup", ".exe", 0x1E}},
        {CP_1252, "D:", {"D:", "", "", "", 0x10}},
        {CP_1252, "D:\\", {"D:", "\\", "", "", 0x18}},
        {CP_1252, "", {"", "", "", "", 0x00}},
        {CP_1252, "ab:c\\d", {"", "ab:c\\", "d", "", 0x0C}},
        {CP_1252, "a:b\\c", {"a:", "b\\", "c", "", 0x1C}},
        {CP_1252, "D:\\dir\\*.ex?", {"D:", "\\dir\\", "*", ".ex?", 0x1F}},
        {CP_1252, "D:\\di*r\\file", {"D:", "\\di*r\\", "file", "", 0x1C}},
        {CP_1252, "D:\\dir\\setup.tar.gz", {"D:", "\\dir\\", "setup.tar", ".gz", 0x1E}},
        {CP_1252, "D:\\dir\\.profile", {"D:", "\\dir\\", "", ".profile", 0x1A}},
        {CP_1252, "D:\\dir\\...", {"D:", "\\dir\\..", "", ".", 0x1A}},
        {CP_1252, "C:\\" + B254 + "\\x", {"C:", "\\" + B254, "x", "", 0x1C}},
        {CP_1252, "C:\\" + B270 + "\\setup.exe", {"C:", "\\", B255, "", 0x1C}},
        {CP_1252, "C:\\" + B256 + "?", {"C:", "\\", B255, "", 0x1D}},  // the '?' cut off the name
        {CP_1252, "D:\\a\x81.x", {"D:", "\\", "a\x81", ".x", 0x1E}},
        {CP_1252, "\x81:\\x", {"\x81:", "\\", "x", "", 0x1C}},
        {CP_1252, "D:\\\x95*x", {"D:", "\\", "\x95*x", "", 0x1D}},
        {CP_932, "D:\\\x95\x5C\\setup.exe", {"D:", "\\\x95\x5C\\", "setup", ".exe", 0x1E}},
        {CP_932, "D:\\\x95\x5CSetup.exe", {"D:", "\\", "\x95\x5CSetup", ".exe", 0x1E}},
        {CP_932, "D:\\\x95\x5C.exe", {"D:", "\\", "\x95\x5C", ".exe", 0x1E}},
        {CP_932, "D:\\\x95\x5C.", {"D:", "\\", "\x95\x5C", ".", 0x1E}},       // no "." component
        {CP_932, "D:\\a\x81.x", {"D:", "\\", "a\x81.x", "", 0x1C}},
        {CP_932, "\x81:\\x", {"", "\x81:\\", "x", "", 0x0C}},
        {CP_932, "D:\\\x95*x", {"D:", "\\", "\x95*x", "", 0x1C}},
        {CP_932, "D:\\\x81/", {"D:", "\\", "\x81/", "", 0x1C}},
        {CP_932, "D:\\dir\\\x95", {"", "", "", "", 0x00}},          // lone lead byte
        {CP_932, "C:\\" + B256 + "\x81\x40", {"", "", "", "", 0x00}},  // pair crosses 260
        {CP_932, "D:\\\x95.", {"D:", "\\", "\x95.", "", 0x1C}},       // '.' after a lead: trail
        {CP_932, "\xB1.\xB1", {"", "", "\xB1", ".\xB1", 0x06}},     // katakana is single
        {CP_936, "D:\\\xB1\x5C\\x", {"D:", "\\\xB1\x5C\\", "x", "", 0x1C}},
        {CP_DOUBLE_NO_LEADS, "D:\\\x95\\x", {"D:", "\\\x95\\", "x", "", 0x1C}},
    };
    for (const Row& row : rows) {
        UseCodePage(row.codePage);
        EXPECT_EQ(Split(row.text), row.parts) << "code page " << row.codePage << ": " << Hex(row.text);
    }
}

TEST(SplitPath, AbsentOutputsChangeNothingElse) {
    UseCodePage(CP_932);
    const std::string text = "D:\\\x95\x5C\\dir.x\\set*up.tar.gz";
    Parts all = Split(text);
    char drive[DRIVE_FIELD_SIZE], directory[PART_FIELD_SIZE];
    EXPECT_EQ(SplitPath(text.c_str(), drive, directory, nullptr, nullptr), all.flags);
    EXPECT_EQ(drive, all.drive);
    EXPECT_EQ(directory, all.directory);
    EXPECT_EQ(SplitPath(text.c_str(), nullptr, nullptr, nullptr, nullptr), all.flags);
}

TEST(SplitPath, LeavesItsInputAlone) {
    UseCodePage(CP_932);
    const std::string text = "D:\\dir\\..\\a\x95\x5C.b.c";
    std::string copy = text;
    Split(copy);
    EXPECT_EQ(copy, text);
}

TEST(MergePath, PutsThePartsTogether) {
    struct Row {
        unsigned codePage;
        const char *drive, *directory, *name, *extension;
        std::string result;
    } rows[] = {
        {CP_1252, "D:", "\\dir", "setup", ".exe", "D:\\dir\\setup.exe"},
        {CP_1252, "D:", "\\dir/", "setup", "exe", "D:\\dir/setup.exe"},
        {CP_1252, "", "", "setup", ".exe", "setup.exe"},
        {CP_1252, nullptr, nullptr, "setup", nullptr, "setup"},
        {CP_1252, "D", "\\x", "", "", "D:\\x\\"},
        {CP_1252, "Dz", nullptr, nullptr, ".", "D:."},  // only the drive's first byte
        {CP_1252, nullptr, nullptr, nullptr, nullptr, ""},
        {CP_932, "D:", "\\\x95\x5C", "setup", ".exe", "D:\\\x95\x5C\\setup.exe"},
        {CP_932, "D:", "\\\x95\x5C\\", "setup", ".exe", "D:\\\x95\x5C\\setup.exe"},
        {CP_1252, "D:", "\\\x95\x5C", "setup", ".exe", "D:\\\x95\x5Csetup.exe"},
    };
    for (const Row& row : rows) {
        UseCodePage(row.codePage);
        char result[64];
        MergePath(result, row.drive, row.directory, row.name, row.extension);
        EXPECT_EQ(result, row.result) << "code page " << row.codePage << ": " << Hex(row.result);
    }
}

TEST(CopyComponent, CutsAtTheCapNeverInsideAPair) {
    UseCodePage(CP_932);
    std::string source = std::string(254, 'a') + "\x81\x40";
    char field[PART_FIELD_SIZE + 1];
    field[PART_FIELD_SIZE] = '#';
    CopyComponent(field, source.c_str(), PART_FIELD_SIZE - 1);
    EXPECT_EQ(std::string(field), std::string(254, 'a'));
    EXPECT_EQ(field[PART_FIELD_SIZE], '#');
    CopyComponent(nullptr, source.c_str(), 3);  // absent: nothing happens
}

}  // namespace
