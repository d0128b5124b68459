#include "../path/code_page.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../path/byte_classes.h"
#include "code_pages.h"

namespace {

TEST(CodePageFailureTitle, IsTheFileNameOfTheModulePath) {
    struct Row {
        unsigned codePage;
        const char* modulePath;
        const char* title;
    } rows[] = {
        {CP_1252, "C:\\dir\\setup.exe", "setup.exe"},
        {CP_1252, "C:setup.exe", "setup.exe"},
        {CP_1252, "C:\\a:b\\c:d", "c:d"},  // the last '\' before any ':'
        {CP_1252, "a:b:c", "c"},
        {CP_1252, "setup.exe", "setup.exe"},
        {CP_1252, "C:\\dir\\", ""},
        {CP_1252, "", ""},
        {CP_932, "C:\\\x95\x5C.exe", "\x95\x5C.exe"},
        {CP_932, "C:\x95:x", "\x95:x"},
        {CP_932, "\x95\x5C", "\x95\x5C"},
        {CP_1252, "C:\\\x95\x5C.exe", ".exe"},
    };
    for (const Row& row : rows) {
        UseCodePage(row.codePage);
        EXPECT_STREQ(CodePageFailureTitle(row.modulePath), row.title) << Hex(row.modulePath);
    }
}

TEST(CodePageFailureStyle, StopIconForegroundAndModality) {
    const unsigned long NT = 0x0A280105, WINDOWS_95 = 0xC0000A04;
    const unsigned base = MB_ICONSTOP | MB_SETFOREGROUND;
    EXPECT_EQ(CodePageFailureStyle(NT, false), base | MB_TASKMODAL);
    EXPECT_EQ(CodePageFailureStyle(NT, true), base | MB_TASKMODAL);
    EXPECT_EQ(CodePageFailureStyle(WINDOWS_95, true), base | MB_TASKMODAL);
    EXPECT_EQ(CodePageFailureStyle(WINDOWS_95, false), base | MB_SYSTEMMODAL);
}

// On Windows the table comes from the platform's own answer; the tests of the
// other suites use tables built from known facts, so the two must agree. A
// run may name the code page it expects, so that a silent fall-back of the
// platform's locale to another code page fails instead of passing unseen.
TEST(InitByteClassTable, BuildsTheTableOfTheActiveCodePage) {
    const char* expected = std::getenv("EXPECTED_ACP");
    if (expected != nullptr) {
        ASSERT_EQ(GetACP(), std::strtoul(expected, nullptr, 10));
    }
    ASSERT_EQ(InitByteClassTable(), 0);
    unsigned char platform[BYTE_CLASS_ENTRIES];
    for (unsigned i = 0; i < BYTE_CLASS_ENTRIES; ++i) platform[i] = ByteClassTable[i];
    unsigned active = GetACP();
    if (active != CP_1252 && active != CP_932) GTEST_SKIP() << "no known facts for " << active;
    UseCodePage(active);
    for (unsigned i = 0; i < BYTE_CLASS_ENTRIES; ++i) EXPECT_EQ(platform[i], ByteClassTable[i]) << i;
    EXPECT_EQ(ByteClassCodePage, active == CP_1252 ? 0u : active);
}

}  // namespace
