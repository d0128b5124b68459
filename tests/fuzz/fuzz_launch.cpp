// The whole launch sequence, from raw command-line bytes through the
// stand-in's GetCommandLineA to what its WinExec was given.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../../path/byte_classes.h"
#include "fuzz_input.h"
#include "standin.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input = ReadFuzzInput(data, size, 1);
    UseCodePage(input.codePage);
    ResetStandIn();
    standIn.commandLine = input.text.c_str();
    standIn.winExecResult = input.choices[0];

    int status = WinMain(nullptr, nullptr, nullptr, SW_SHOWDEFAULT);

    FUZZ_CHECK(status == 0 || status == -1);
    if (standIn.winExecCalls == 0) {
        FUZZ_CHECK(status == -1);
        return 0;
    }
    FUZZ_CHECK(standIn.winExecCalls == 1);
    FUZZ_CHECK(standIn.winExecShowState == SW_SHOW);
    FUZZ_CHECK(status == (standIn.winExecResult > 31 ? 0 : -1));

    // Only ever the installer, by its quoted path.
    const char* command = standIn.winExecCommand;
    std::size_t length = std::strlen(command);
    const char suffix[] = "windows\\setup\\setup.exe\"";
    FUZZ_CHECK(length >= sizeof suffix && length <= 261);
    FUZZ_CHECK(command[0] == '"');
    FUZZ_CHECK(std::strchr(command + 1, '"') == command + length - 1);
    FUZZ_CHECK(std::strcmp(command + length - (sizeof suffix - 1), suffix) == 0);
    return 0;
}
