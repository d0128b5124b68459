#include "../launcher/launch.h"

#include <gtest/gtest.h>

#include <string>

#include "code_pages.h"

namespace {

const char* const REFUSED = "";  // nothing to start

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

struct Row {
    unsigned codePage;
    std::string commandLine;
    std::string command;
};

void ExpectComposed(const Row& row) {
    UseCodePage(row.codePage);
    char command[COMMAND_FIELD_SIZE + 1];
    command[COMMAND_FIELD_SIZE] = '#';
    int status = ComposeInstallerCommand(row.commandLine.c_str(), command);
    if (row.command.empty()) {
        EXPECT_EQ(status, -1) << Hex(row.commandLine) << " gave " << Hex(command);
        EXPECT_STREQ(command, "");
    } else {
        EXPECT_EQ(status, 0) << Hex(row.commandLine);
        EXPECT_EQ(command, row.command) << Hex(row.commandLine);
    }
    EXPECT_EQ(command[COMMAND_FIELD_SIZE], '#') << "wrote past the field";
}

TEST(ComposeInstallerCommand, UsualCommandLines) {
    const Row rows[] = {
        {CP_1252, "\"D:\\setup.exe\"", "\"D:\\windows\\setup\\setup.exe\""},
        {CP_1252, "\"D:\\My Disc\\setup.exe\"", "\"D:\\My Disc\\windows\\setup\\setup.exe\""},
        {CP_1252, "D:\\My Disc\\setup.exe", "\"D:\\My Disc\\windows\\setup\\setup.exe\""},
        {CP_1252, "setup.exe", "\"windows\\setup\\setup.exe\""},
        {CP_1252, "setup", "\"windows\\setup\\setup.exe\""},
        {CP_1252, "D:setup.exe", "\"D:windows\\setup\\setup.exe\""},
        {CP_1252, "\"\\\\server\\share\\dir\\setup.exe\"",
         "\"\\\\server\\share\\dir\\windows\\setup\\setup.exe\""},
        {CP_1252, "D:/dir/setup.exe", "\"D:/dir/windows\\setup\\setup.exe\""},
        {CP_1252, " D:\\setup.exe", "\" D:\\windows\\setup\\setup.exe\""},  // no drive
        {CP_1252, "D:\\dir\\..", "\"D:\\dir\\..windows\\setup\\setup.exe\""},
        {CP_1252, "\"", "\"windows\\setup\\setup.exe\""},
        {CP_1252, "", "\"windows\\setup\\setup.exe\""},
        {CP_932, "\"D:\\\x95\x5C\\setup.exe\"", "\"D:\\\x95\x5C\\windows\\setup\\setup.exe\""},
        {CP_932, "\"D:\\\x95\x5C.exe\"", "\"D:\\windows\\setup\\setup.exe\""},
        {CP_1252, "\"D:\\\x95\x5C.exe\"", "\"D:\\\x95\\windows\\setup\\setup.exe\""},
    };
    for (const Row& row : rows) ExpectComposed(row);
}

// A quoted command line ends at its closing quote; the arguments are left out.
TEST(ComposeInstallerCommand, QuotedPathEndsAtItsClosingQuote) {
    const Row rows[] = {
        {CP_1252, "\"D:\\setup.exe\" /s", "\"D:\\windows\\setup\\setup.exe\""},
        {CP_1252, "\"D:\\setup.exe\"/s \"x\\y\"", "\"D:\\windows\\setup\\setup.exe\""},
        {CP_1252, "\"D:\\dir\\setup.exe", "\"D:\\dir\\windows\\setup\\setup.exe\""},  // unclosed
        // After a lead byte the '"' is a trail byte and closes nothing; the
        // path then holds a quote and can name no file.
        {CP_932, "\"D:\\\x81\"\\setup.exe\" /s", REFUSED},
        {CP_1252, "\"D:\\\x81\"\\setup.exe\" /s", "\"D:\\windows\\setup\\setup.exe\""},
        // Unquoted, the line is taken whole: what names no file is refused by
        // the platform, and the launcher never names itself.
        {CP_1252, "D:\\setup.exe /s", "\"D:\\setup.exe /windows\\setup\\setup.exe\""},
        {CP_1252, "D:\\a\"b\\setup.exe", REFUSED},
    };
    for (const Row& row : rows) ExpectComposed(row);
}

// Over-long text is refused, never cut: the exact boundaries.
TEST(ComposeInstallerCommand, RefusesWhatDoesNotFit) {
    auto directoryOf = [](std::size_t length) { return "\\" + std::string(length - 2, 'd') + "\\"; };
    const std::string drive = "D:";
    const std::string installer = "windows\\setup\\setup.exe";
    const std::string path259 = "D:\\" + std::string(256, 'a');
    const Row rows[] = {
        {CP_1252, path259, "\"D:\\windows\\setup\\setup.exe\""},
        {CP_1252, path259 + "a", REFUSED},
        {CP_1252, Quoted(path259), "\"D:\\windows\\setup\\setup.exe\""},
        {CP_1252, Quoted(path259) + " /s " + std::string(300, 'x'), "\"D:\\windows\\setup\\setup.exe\""},
        {CP_1252, Quoted(path259 + "a"), REFUSED},
        {CP_1252, "\"" + path259 + "a", REFUSED},
        {CP_1252, drive + directoryOf(234) + "setup.exe",
         Quoted(drive + directoryOf(234) + installer)},
        {CP_1252, drive + directoryOf(235) + "setup.exe", REFUSED},
        {CP_1252, directoryOf(236) + "setup.exe", Quoted(directoryOf(236) + installer)},
        {CP_1252, directoryOf(237) + "setup.exe", REFUSED},
        {CP_1252, directoryOf(241) + "x", REFUSED},
        {CP_1252, directoryOf(250) + "x", REFUSED},  // the literal would not fit its field
        {CP_1252, "C:\\" + std::string(254, 'b') + "\\x", REFUSED},  // directory cut at 255
    };
    for (const Row& row : rows) ExpectComposed(row);
}

TEST(LaunchStatus, StartedOnlyAbove31) {
    const struct {
        unsigned result;
        int status;
    } rows[] = {{0, -1}, {2, -1}, {31, -1}, {32, 0}, {33, 0}, {0xFFFFFFFFu, 0}};
    for (const auto& row : rows) EXPECT_EQ(LaunchStatus(row.result), row.status) << row.result;
}

}  // namespace
