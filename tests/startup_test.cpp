// The start-up and the entry against the steered platform stand-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "../path/byte_classes.h"
#include "../path/code_page.h"
#include "code_pages.h"
#include "standin.h"

namespace {

class Startup : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetStandIn();
        UseCodePage(CP_1252);
    }
};

TEST_F(Startup, BuildsTheTableFromThePlatform) {
    StandInCodePage932();
    EXPECT_EQ(InitByteClassTable(), 0);
    EXPECT_EQ(ByteClassCodePage, 932u);
    EXPECT_EQ(ByteClassTable[0x95 + 1], CLASS_LEAD | CLASS_TRAIL);
    EXPECT_EQ(standIn.messageBoxCalls, 0);
}

TEST_F(Startup, CodePageFailureShowsTheMessageAndLeavesTheTable) {
    UseCodePage(CP_932);
    standIn.cpInfoFails = true;
    standIn.modulePath = "E:\\Disc\\setup.exe";
    EXPECT_EQ(InitByteClassTable(), -1);
    EXPECT_EQ(standIn.messageBoxCalls, 1);
    EXPECT_STREQ(standIn.messageBoxText,
                 "Error: system code page access failure; MBCS table not initialized");
    EXPECT_STREQ(standIn.messageBoxTitle, "setup.exe");
    EXPECT_EQ(standIn.messageBoxOwner, nullptr);
    EXPECT_EQ(standIn.messageBoxType, MB_ICONSTOP | MB_SETFOREGROUND | MB_TASKMODAL);
    EXPECT_STREQ(standIn.loadedLibrary, "C:\\WINDOWS\\system32\\user32.dll");
    EXPECT_EQ(standIn.loadedLibraryFlags, 0u);  // USER32 as before: the default search
    EXPECT_EQ(ByteClassCodePage, 932u);
    EXPECT_EQ(ByteClassTable[0x95 + 1], CLASS_LEAD | CLASS_TRAIL);
}

TEST_F(Startup, FailureModalityFollowsTheSystemAndTheThreadsWindows) {
    const struct {
        DWORD version;
        bool threadHasWindow;
        UINT modality;
        int enumCalls;
    } rows[] = {
        {0x0A280105, false, MB_TASKMODAL, 0},
        {0xC0000A04, true, MB_TASKMODAL, 1},
        {0xC0000A04, false, MB_SYSTEMMODAL, 1},
    };
    for (const auto& row : rows) {
        ResetStandIn();
        standIn.cpInfoFails = true;
        standIn.version = row.version;
        standIn.threadHasWindow = row.threadHasWindow;
        InitByteClassTable();
        EXPECT_EQ(standIn.messageBoxType, MB_ICONSTOP | MB_SETFOREGROUND | row.modality);
        EXPECT_EQ(standIn.enumThreadWindowsCalls, row.enumCalls);
    }
}

// The platform may fill the 80-byte buffer and leave it unterminated.
TEST_F(Startup, FailureTitleOfAModulePathThatFillsItsBuffer) {
    standIn.cpInfoFails = true;
    const std::string longPath = "C:\\" + std::string(90, 'x') + "\\setup.exe";
    standIn.modulePath = longPath.c_str();
    InitByteClassTable();
    EXPECT_EQ(std::string(standIn.messageBoxTitle), std::string(MODULE_PATH_FIELD_SIZE - 4, 'x'));
}

TEST_F(Startup, NoSystemDirectoryNoMessage) {
    standIn.cpInfoFails = true;
    const std::string longDirectory(300, 's');
    standIn.systemDirectory = longDirectory.c_str();
    EXPECT_EQ(InitByteClassTable(), -1);
    EXPECT_EQ(standIn.messageBoxCalls, 0);
}

TEST_F(Startup, RunsTheEntryAndExitsWithItsStatus) {
    const struct {
        const char* commandLine;
        bool cpInfoFails;
        UINT winExecResult;
        const char* started;  // null: WinExec not called
        UINT exitCode;
        bool noDefaultDllDirectories = false;  // as on XP: the DLL search stays as it was
    } rows[] = {
        {"\"E:\\Disc\\setup.exe\" /s", false, 33, "\"E:\\Disc\\windows\\setup\\setup.exe\"", 0},
        {"\"E:\\Disc\\setup.exe\"", false, 2, "\"E:\\Disc\\windows\\setup\\setup.exe\"", 0xFFFFFFFF},
        {"E:\\a\"b\\setup.exe", false, 33, nullptr, 0xFFFFFFFF},
        // Without the code page every byte is single: 5C is a separator.
        {"\"E:\\\x95\x5C.exe\"", true, 33, "\"E:\\\x95\\windows\\setup\\setup.exe\"", 0},
        {"\"E:\\\x95\x5C.exe\"", false, 33, "\"E:\\windows\\setup\\setup.exe\"", 0},
        {"\"E:\\Disc\\setup.exe\"", false, 33, "\"E:\\Disc\\windows\\setup\\setup.exe\"", 0, true},
    };
    for (const auto& row : rows) {
        ResetStandIn();
        UseCodePage(CP_1252);  // as a new process finds it
        StandInCodePage932();
        standIn.commandLine = row.commandLine;
        standIn.cpInfoFails = row.cpInfoFails;
        standIn.winExecResult = row.winExecResult;
        standIn.noDefaultDllDirectories = row.noDefaultDllDirectories;
        WinMainCRTStartup();
        EXPECT_EQ(standIn.defaultDllDirectories,
                  row.noDefaultDllDirectories ? 0u : LOAD_LIBRARY_SEARCH_SYSTEM32);
        EXPECT_EQ(standIn.defaultDllDirectoriesBeforeCodePage, !row.noDefaultDllDirectories);
        EXPECT_EQ(standIn.winExecCalls, row.started ? 1 : 0) << Hex(row.commandLine);
        if (row.started) {
            EXPECT_STREQ(standIn.winExecCommand, row.started) << Hex(row.commandLine);
            EXPECT_EQ(standIn.winExecShowState, static_cast<UINT>(SW_SHOW));
        }
        EXPECT_EQ(standIn.exitProcessCalls, 1);
        EXPECT_EQ(standIn.exitCode, row.exitCode) << Hex(row.commandLine);
    }
}

// On NT the wide line is the truth: where the ANSI line does not convert back
// to it, the installer is started from the wide one.
TEST_F(Startup, TakesTheWideRouteWhereTheAnsiLineIsNotFaithful) {
    const DWORD NT = 0x0A280105, WINDOWS_95 = 0xC0000A04;
    const WCHAR* const fullwidth = L"\"E:\\a\xFF02" L"b\\setup.exe\"";
    const std::wstring tooLong = L"\"E:\\" + std::wstring(300, L'\x8868') + L"\"";
    const struct {
        DWORD version;
        const char* commandLine;
        const WCHAR* wide;  // null: each byte one character, faithful
        const WCHAR* convertedBack;  // null: each byte one character
        bool createProcessFails;
        const char* winExec;  // null: not called
        const WCHAR* created;  // null: CreateProcessW not called
        UINT exitCode;
    } rows[] = {
        // Best fit made the fullwidth quote a '"': the ANSI line names the
        // parent folder's installer.
        {NT, "\"E:\\a\"b\\setup.exe\"", fullwidth, nullptr, false, nullptr,
         L"\"E:\\a\xFF02" L"b\\windows\\setup\\setup.exe\"", 0},
        {NT, "\"E:\\a\"b\\setup.exe\"", fullwidth, nullptr, true, nullptr,
         L"\"E:\\a\xFF02" L"b\\windows\\setup\\setup.exe\"", 0xFFFFFFFF},
        {NT, "\"E:\\?\\setup.exe\"", tooLong.c_str(), nullptr, false, nullptr, nullptr, 0xFFFFFFFF},
        {WINDOWS_95, "\"E:\\a\"b\\setup.exe\"", fullwidth, nullptr, false,
         "\"E:\\windows\\setup\\setup.exe\"", nullptr, 0},
        // 95 5C converts back to the 表 of the wide line: faithful.
        {NT, "\"E:\\\x95\x5C\\setup.exe\"", L"\"E:\\\x8868\\setup.exe\"",
         L"\"E:\\\x8868\\setup.exe\"", false, "\"E:\\\x95\x5C\\windows\\setup\\setup.exe\"",
         nullptr, 0},
        {NT, "\"E:\\Disc\\setup.exe\" /s", nullptr, nullptr, false,
         "\"E:\\Disc\\windows\\setup\\setup.exe\"", nullptr, 0},
    };
    for (const auto& row : rows) {
        ResetStandIn();
        StandInCodePage932();
        standIn.version = row.version;
        standIn.commandLine = row.commandLine;
        standIn.commandLineW = row.wide;
        standIn.ansiToWide = row.convertedBack;
        standIn.createProcessFails = row.createProcessFails;
        WinMainCRTStartup();
        EXPECT_EQ(standIn.getCommandLineWCalls, row.version == NT ? 1 : 0);
        EXPECT_EQ(standIn.winExecCalls, row.winExec ? 1 : 0) << Hex(row.commandLine);
        if (row.winExec) {
            EXPECT_STREQ(standIn.winExecCommand, row.winExec);
        }
        EXPECT_EQ(standIn.createProcessCalls, row.created ? 1 : 0) << Hex(row.commandLine);
        if (row.created) {
            EXPECT_TRUE(std::wstring(standIn.createProcessCommand) == row.created);
            EXPECT_FALSE(standIn.createProcessApplicationGiven);
            EXPECT_FALSE(standIn.createProcessInheritHandles);
            EXPECT_EQ(standIn.createProcessFlags, 0u);
            EXPECT_FALSE(standIn.createProcessDirectoryGiven);
            EXPECT_EQ(standIn.startupFlags, STARTF_USESHOWWINDOW);
            EXPECT_EQ(standIn.startupShowWindow, SW_SHOW);
            EXPECT_EQ(standIn.closedHandles, row.createProcessFails ? 0 : 2);
        }
        EXPECT_EQ(standIn.exitCode, row.exitCode) << Hex(row.commandLine);
    }
}

// Refused for want of an administrator (740), the installer is started
// through the consent prompt, from its exact path, a mapped drive by its
// share's name where the network gives one that fits; no other failure, and
// nothing on the 95 family, takes that way.
TEST_F(Startup, AnInstallerThatNeedsAnAdministratorStartsThroughConsent) {
    const DWORD NT = 0x0A280105, WINDOWS_95 = 0xC0000A04, ELEVATION = ERROR_ELEVATION_REQUIRED;
    const char* const blanks = "\"E:\\My Disc\\setup.exe\" /s";
    const WCHAR* const fullwidth = L"\"E:\\a\xFF02" L"b\\setup.exe\"";
    const std::wstring fills = L"\\\\" + std::wstring(225, L's'), overflows = fills + L"s";
    const std::wstring tooLong = L"\\\\" + std::wstring(300, L's');
    const std::wstring filled = fills + L"\\My Disc\\windows\\setup\\setup.exe";  // 259 characters
    const struct {
        DWORD version;
        const WCHAR* wide;  // null: the ANSI route
        DWORD lastError;
        bool searchSystem32Refused, consentRefused;
        const WCHAR* elevated;  // null: ShellExecuteExW not called
        UINT exitCode;
        const WCHAR* share = nullptr;  // what MPR names the drive
    } rows[] = {
        {NT, nullptr, ELEVATION, false, false, L"\\\\server\\share\\My Disc\\windows\\setup\\setup.exe", 0,
         L"\\\\server\\share"},
        {NT, fullwidth, ELEVATION, false, false, L"\\\\server\\share\\a\xFF02" L"b\\windows\\setup\\setup.exe", 0,
         L"\\\\server\\share"},
        {NT, nullptr, ELEVATION, false, false, filled.c_str(), 0, fills.c_str()},
        {NT, nullptr, ELEVATION, false, false, L"E:\\My Disc\\windows\\setup\\setup.exe", 0, overflows.c_str()},
        {NT, nullptr, ELEVATION, false, false, L"E:\\My Disc\\windows\\setup\\setup.exe", 0, tooLong.c_str()},
        {NT, nullptr, ELEVATION, false, false, L"E:\\My Disc\\windows\\setup\\setup.exe", 0, L"http://server/"},
        {NT, nullptr, ELEVATION, false, false, L"E:\\My Disc\\windows\\setup\\setup.exe", 0},
        {NT, fullwidth, ELEVATION, false, false, L"E:\\a\xFF02" L"b\\windows\\setup\\setup.exe", 0},
        {NT, nullptr, ELEVATION, false, true, L"E:\\My Disc\\windows\\setup\\setup.exe", 0xFFFFFFFF},
        {NT, nullptr, ELEVATION, true, false, nullptr, 0xFFFFFFFF},
        {NT, nullptr, 2, false, false, nullptr, 0xFFFFFFFF},
        {NT, fullwidth, 5, false, false, nullptr, 0xFFFFFFFF},
        {WINDOWS_95, nullptr, ELEVATION, false, false, nullptr, 0xFFFFFFFF},
    };
    for (const auto& row : rows) {
        ResetStandIn();
        standIn.version = row.version;
        standIn.commandLine = row.wide ? "\"E:\\a\"b\\setup.exe\"" : blanks;
        standIn.commandLineW = row.wide;
        standIn.winExecResult = 0;
        standIn.createProcessFails = true;
        standIn.lastError = row.lastError;
        standIn.searchSystem32Refused = row.searchSystem32Refused;
        standIn.shellExecuteFails = row.consentRefused;
        standIn.driveShare = row.share;
        WinMainCRTStartup();
        EXPECT_EQ(standIn.winExecCalls + standIn.createProcessCalls, 1);
        EXPECT_EQ(standIn.shellExecuteCalls, row.elevated ? 1 : 0) << row.lastError;
        if (row.elevated) {
            EXPECT_TRUE(std::wstring(standIn.shellExecuteFile) == row.elevated);
            EXPECT_EQ(standIn.shellExecuteMask, SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI);
            EXPECT_EQ(standIn.shellExecuteShow, SW_SHOW);
            EXPECT_FALSE(standIn.shellExecuteExtrasGiven);
        }
        bool loaded = row.elevated || row.searchSystem32Refused;
        EXPECT_STREQ(standIn.loadedLibrary, loaded ? "C:\\WINDOWS\\system32\\shell32.dll" : "");
        EXPECT_EQ(standIn.loadedLibraryFlags, loaded ? LOAD_LIBRARY_SEARCH_SYSTEM32 : 0u);
        EXPECT_EQ(standIn.exitCode, row.exitCode) << row.lastError;
    }
}

}  // namespace
