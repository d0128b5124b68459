#include "../launcher/launch.h"
#include "../launcher/arguments.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "../path/byte_classes.h"
#include "code_pages.h"

namespace {

const char* const REFUSED = "";  // nothing to start

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

struct Row {
    unsigned codePage;
    std::string commandLine;
    std::string command;
};

// The wide text the platform holds for text of the current code page, each
// character one code unit (a pair as lead * 256 + trail); false where a pair
// has no trail byte of a real character, so there is no such text.
bool Widen(const std::string& text, std::wstring* wide) {
    wide->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned c = static_cast<unsigned char>(text[i]);
        if (ByteTypeAt(text.c_str(), static_cast<int>(i)) == BYTE_LEAD) {
            if (i + 1 == text.size() || static_cast<unsigned char>(text[i + 1]) < 0x40) return false;
            c = c << 8 | static_cast<unsigned char>(text[++i]);
        }
        wide->push_back(static_cast<wchar_t>(c));
    }
    return true;
}

// Where the code page holds the command line faithfully, the wide route
// composes what the ANSI route composed (or refuses as it did).
void ExpectSameOnBothRoutes(const std::string& commandLine, const std::string& ansiCommand) {
    std::wstring wideLine, expected;
    if (!Widen(commandLine, &wideLine)) return;
    Widen(ansiCommand, &expected);
    wchar_t command[COMMAND_FIELD_SIZE + 1];
    command[COMMAND_FIELD_SIZE] = L'#';
    int status = ComposeInstallerCommandW(wideLine.c_str(), command);
    EXPECT_EQ(status, expected.empty() ? -1 : 0) << Hex(commandLine);
    EXPECT_TRUE(std::wstring(command) == expected) << Hex(commandLine);
    EXPECT_EQ(command[COMMAND_FIELD_SIZE], L'#') << "wrote past the field";
}

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
    ExpectSameOnBothRoutes(row.commandLine, command);
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

// Besides every row above: the corners of the split, where the wide route
// must take the directory exactly as SplitPath does.
TEST(ComposeInstallerCommandW, ComposesWhatTheAnsiRouteComposes) {
    const struct {
        unsigned codePage;
        const char* commandLine;
    } rows[] = {
        {CP_1252, "D:\\dir\\..."}, {CP_1252, "D:\\dir\\...."}, {CP_1252, "D:\\dir\\..x"},
        {CP_1252, "D:\\dir\\.x"}, {CP_1252, "D:\\dir\\a..b"}, {CP_1252, "D:."},
        {CP_1252, "D:.."}, {CP_1252, "D:..."}, {CP_1252, "D:.x"}, {CP_1252, "."},
        {CP_1252, "a.."}, {CP_1252, "D"}, {CP_1252, "D:"}, {CP_1252, ":"},
        {CP_1252, "ab:c\\d"}, {CP_1252, "\\\\?\\D:\\setup.exe"}, {CP_1252, "\"\""},
        {CP_1252, "\"D:\\dir\\.\\setup.exe\" \"/x\""}, {CP_932, "\"D:\\\x95\x5C\\..\x95\x5C\""},
        {CP_932, "\"\x95\x5C:\\x\""}, {CP_932, "D:\\\x95\x2E."},
    };
    for (const auto& row : rows) {
        UseCodePage(row.codePage);
        char command[COMMAND_FIELD_SIZE];
        ComposeInstallerCommand(row.commandLine, command);
        ExpectSameOnBothRoutes(row.commandLine, command);
    }
}

// Text the code page cannot hold, and the limits counted in characters.
TEST(ComposeInstallerCommandW, NamesTheCodePageCannotHold) {
    auto quoted = [](const std::wstring& path) { return L"\"" + path + L"\""; };
    auto directoryOf = [](std::size_t length) {
        return L"\\" + std::wstring(length - 2, L'\x0416') + L"\\";
    };
    const std::wstring installer = L"windows\\setup\\setup.exe";
    const std::wstring path259 = L"D:\\" + std::wstring(256, L'\x8868');
    const struct {
        std::wstring commandLine, command;
    } rows[] = {
        // A fullwidth quote is no quote, whatever best fit makes of it.
        {L"\"C:\\a\xFF02" L"b\\setup.exe\"", quoted(L"C:\\a\xFF02" L"b\\" + installer)},
        {L"\"C:\\\x041F\x0430\x043F\x043A\x0430\\setup.exe\" /s",
         quoted(L"C:\\\x041F\x0430\x043F\x043A\x0430\\" + installer)},
        {L"C:\\\xD83D\xDE00\\setup.exe", quoted(L"C:\\\xD83D\xDE00\\" + installer)},
        {L"C:\\\xD83D\\setup.exe", quoted(L"C:\\\xD83D\\" + installer)},  // a lone surrogate
        {L"C:\\a\"b\\setup.exe", L""},
        {path259, quoted(L"D:\\" + installer)},
        {path259 + L"x", L""},
        {quoted(path259) + L" /s " + std::wstring(300, L'x'), quoted(L"D:\\" + installer)},
        {L"D:" + directoryOf(234) + L"setup.exe", quoted(L"D:" + directoryOf(234) + installer)},
        {L"D:" + directoryOf(235) + L"setup.exe", L""},
        {directoryOf(236) + L"setup.exe", quoted(directoryOf(236) + installer)},
        {directoryOf(237) + L"setup.exe", L""},
        {directoryOf(242) + L"x", L""},
    };
    for (const auto& row : rows) {
        wchar_t command[COMMAND_FIELD_SIZE + 1];
        command[COMMAND_FIELD_SIZE] = L'#';
        int status = ComposeInstallerCommandW(row.commandLine.c_str(), command);
        EXPECT_EQ(status, row.command.empty() ? -1 : 0) << row.commandLine.size();
        EXPECT_TRUE(command == row.command) << row.commandLine.size();
        EXPECT_EQ(command[COMMAND_FIELD_SIZE], L'#') << "wrote past the field";
    }
}

// The deployment build: the first argument is the launcher's path, and the
// rest follows the installer's, as given. A command line both routes hold
// composes the same on both.
TEST(ComposeDeploymentCommand, PassesTheRestOnAsGiven) {
    const int SIZE = 300;  // room for the longest row below
    const std::string installer = "windows\\setup\\setup.exe";
    const struct {
        unsigned codePage;
        std::string commandLine, command;
        int status;
    } rows[] = {
        {CP_1252, "\"D:\\setup.exe\" /S /v\"/qn REBOOT=ReallySuppress\" /log \"C:\\a b\\x.log\"",
         "\"D:\\" + installer + "\" /S /v\"/qn REBOOT=ReallySuppress\" /log \"C:\\a b\\x.log\"", 0},
        {CP_1252, "\"D:\\My Disc\\setup.exe\"", Quoted("D:\\My Disc\\" + installer), 0},
        {CP_1252, "\"D:\\setup.exe\" \t ", Quoted("D:\\" + installer), 0},
        // Quoted parts of the first argument do not end it, and lose their quotes.
        {CP_1252, "\"D:\\My Disc\"\\setup.exe /S", Quoted("D:\\My Disc\\" + installer) + " /S", 0},
        {CP_1252, "D:\\\"My Disc\"\\setup.exe\t/S", Quoted("D:\\My Disc\\" + installer) + " /S", 0},
        {CP_1252, "\"D:\\setup.exe\"/S x", Quoted("D:\\setup.exe/" + installer) + " x", 0},
        {CP_1252, "D:\\setup.exe\t \t/S  x ", Quoted("D:\\" + installer) + " /S  x ", 0},
        {CP_1252, "setup.exe /S", Quoted(installer) + " /S", 0},
        {CP_1252, "", Quoted(installer), 0},
        // Unquoted, a path with a blank ends there, as every C program reads it.
        {CP_1252, "D:\\My Disc\\setup.exe /S", Quoted("D:\\" + installer) + " Disc\\setup.exe /S", 0},
        {CP_1252, "\"D:\\dir\\setup.exe /S", Quoted("D:\\dir\\setup.exe /" + installer), 0},  // unclosed
        {CP_1252, "D:\\a\"b\\setup.exe /S", Quoted("D:\\ab\\setup.exe /" + installer), 0},
        // After a lead byte a blank or a quote is a trail byte and ends nothing.
        {CP_932, "D:\\\x81 x\\setup.exe /S", Quoted("D:\\\x81 x\\" + installer) + " /S", 0},
        {CP_1252, "D:\\\x81 x\\setup.exe /S", Quoted("D:\\" + installer) + " x\\setup.exe /S", 0},
        {CP_932, "\"D:\\\x95\x5C\\setup.exe\" /dir=\x95\x5C\\x \"\x95\x5C y\"",
         Quoted("D:\\\x95\x5C\\" + installer) + " /dir=\x95\x5C\\x \"\x95\x5C y\"", 0},
        // A trail byte's quote in the installer's path can name no file; in
        // the launcher's own name it is no part of that path.
        {CP_932, "\"D:\\\x81\"\\setup.exe\" /S", "", ERROR_INVALID_NAME},
        {CP_932, "\"D:\\dir\\\x81\".exe\" /S", Quoted("D:\\dir\\" + installer) + " /S", 0},
        {CP_1252, "D:\\" + std::string(257, 'a') + " /S", "", ERROR_FILENAME_EXCED_RANGE},
        {CP_1252, "\"D:\\" + std::string(236, 'd') + "\\x\" /S", "", ERROR_FILENAME_EXCED_RANGE},
        // The command fills its field to the last byte, or is refused whole.
        {CP_1252, "\"D:\\setup.exe\" " + std::string(SIZE - 30, 'x'),
         Quoted("D:\\" + installer) + " " + std::string(SIZE - 30, 'x'), 0},
        {CP_1252, "\"D:\\setup.exe\" " + std::string(SIZE - 29, 'x'), "", ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& row : rows) {
        UseCodePage(row.codePage);
        char command[SIZE + 1], launcher[LAUNCHER_FIELD_SIZE];
        command[SIZE] = '#';
        EXPECT_EQ(ComposeDeploymentCommand(row.commandLine.c_str(), launcher, command, SIZE), row.status) << Hex(row.commandLine);
        EXPECT_EQ(command, row.command) << Hex(row.commandLine);
        EXPECT_EQ(command[SIZE], '#') << "wrote past the field";
        std::wstring wideLine, expected;
        if (!Widen(row.commandLine, &wideLine)) continue;
        Widen(row.command, &expected);
        wchar_t wide[SIZE], wideLauncher[LAUNCHER_FIELD_SIZE];
        EXPECT_EQ(ComposeDeploymentCommandW(wideLine.c_str(), wideLauncher, wide, SIZE), row.status) << Hex(row.commandLine);
        EXPECT_TRUE(wide == expected) << Hex(row.commandLine);
    }
    // Characters no code page holds pass as they are.
    wchar_t wide[SIZE], launcher[LAUNCHER_FIELD_SIZE];
    EXPECT_EQ(ComposeDeploymentCommandW(L"\"C:\\\x0414\\setup.exe\" /n=\x041F \xD83D\xDE00", launcher, wide, SIZE), 0);
    EXPECT_TRUE(std::wstring(wide) == L"\"C:\\\x0414\\windows\\setup\\setup.exe\" /n=\x041F \xD83D\xDE00");
    EXPECT_TRUE(std::wstring(launcher) == L"C:\\\x0414\\setup.exe");
}

// ShellExecuteEx's bound holds the file in quotes, a blank and the parameters.
TEST(FitsShellCommand, CountsTheCommandAsShellExecuteExMakesIt) {
    const std::wstring file(2000, L'f'), longest(2045, L'f');
    EXPECT_TRUE(FitsShellCommand(file.c_str(), std::wstring(44, L'p').c_str()));  // 2,047 characters
    EXPECT_FALSE(FitsShellCommand(file.c_str(), std::wstring(45, L'p').c_str()));
    EXPECT_TRUE(FitsShellCommand(longest.c_str(), nullptr));
    EXPECT_FALSE(FitsShellCommand((longest + L"f").c_str(), nullptr));
}

// The installer below the running file takes the place of the one the
// first argument named; ".exe" goes only onto a name without an extension.
TEST(PutInstaller, KeepsTheArgumentsWhicheverPathIsLonger) {
    const struct {
        const wchar_t *command, *installer, *result;
        int size, status;
    } rows[] = {{L"\"a\\i.exe\" /S x", L"\"C:\\long\\i.exe\"", L"\"C:\\long\\i.exe\" /S x", 40, 0},
                {L"\"C:\\long\\i.exe\" /S", L"\"a\\i.exe\"", L"\"a\\i.exe\" /S", 40, 0},
                {L"\"a\"", L"\"bb\"", L"\"bb\"", 5, 0},
                {L"\"a\" /S", L"\"bb\"", L"\"a\" /S", 7, ERROR_FILENAME_EXCED_RANGE}};
    for (const auto& row : rows) {
        wchar_t command[64];
        for (int i = 0; (command[i] = row.command[i]) != 0; ++i) continue;
        EXPECT_EQ(PutInstaller(command, row.installer, row.size), row.status) << row.command;
        EXPECT_EQ(std::wstring(command), row.result);
    }
    const struct {
        const wchar_t *path, *result;
    } names[] = {{L"setup", L"setup.exe"}, {L"setup.exe", L"setup.exe"}, {L"a.b\\setup", L"a.b\\setup.exe"},
                 {L"setup.", L"setup."}, {L"R:.x", L"R:.x"}};
    for (const auto& name : names) {
        wchar_t path[LAUNCHER_FIELD_SIZE];
        for (int i = 0; (path[i] = name.path[i]) != 0; ++i) continue;
        EXPECT_EQ(AppendExecutableExtension(path), std::wstring(name.path) != name.result) << name.path;
        EXPECT_EQ(std::wstring(path), name.result);
    }
}

TEST(LaunchStatus, StartedOnlyAbove31) {
    const struct {
        unsigned result;
        int status;
    } rows[] = {{0, -1}, {2, -1}, {31, -1}, {32, 0}, {33, 0}, {0xFFFFFFFFu, 0}};
    for (const auto& row : rows) EXPECT_EQ(LaunchStatus(row.result), row.status) << row.result;
}

}  // namespace
