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
    } rows[] = {
        {"\"E:\\Disc\\setup.exe\" /s", false, 33, "\"E:\\Disc\\windows\\setup\\setup.exe\"", 0},
        {"\"E:\\Disc\\setup.exe\"", false, 2, "\"E:\\Disc\\windows\\setup\\setup.exe\"", 0xFFFFFFFF},
        {"E:\\a\"b\\setup.exe", false, 33, nullptr, 0xFFFFFFFF},
        // Without the code page every byte is single: 5C is a separator.
        {"\"E:\\\x95\x5C.exe\"", true, 33, "\"E:\\\x95\\windows\\setup\\setup.exe\"", 0},
        {"\"E:\\\x95\x5C.exe\"", false, 33, "\"E:\\windows\\setup\\setup.exe\"", 0},
    };
    for (const auto& row : rows) {
        ResetStandIn();
        UseCodePage(CP_1252);  // as a new process finds it
        StandInCodePage932();
        standIn.commandLine = row.commandLine;
        standIn.cpInfoFails = row.cpInfoFails;
        standIn.winExecResult = row.winExecResult;
        WinMainCRTStartup();
        EXPECT_EQ(standIn.winExecCalls, row.started ? 1 : 0) << Hex(row.commandLine);
        if (row.started) {
            EXPECT_STREQ(standIn.winExecCommand, row.started) << Hex(row.commandLine);
            EXPECT_EQ(standIn.winExecShowState, static_cast<UINT>(SW_SHOW));
        }
        EXPECT_EQ(standIn.exitProcessCalls, 1);
        EXPECT_EQ(standIn.exitCode, row.exitCode) << Hex(row.commandLine);
    }
}

}  // namespace
