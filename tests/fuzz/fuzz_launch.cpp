// The whole launch sequence, from raw command-line bytes through the
// stand-in's GetCommandLineA (and GetCommandLineW) to what its WinExec or
// CreateProcessW was given.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../launcher/arguments.h"
#include "../../path/byte_classes.h"
#include "fuzz_input.h"
#include "standin.h"

namespace {

// Only ever the installer, by its quoted path.
template <typename Char>
void CheckQuotedInstaller(const std::basic_string<Char>& command) {
    const std::string suffix = "windows\\setup\\setup.exe\"";
    FUZZ_CHECK(command.size() >= suffix.size() + 1 && command.size() <= 261);
    FUZZ_CHECK(command[0] == '"');
    FUZZ_CHECK(command.find('"', 1) == command.size() - 1);
    std::basic_string<Char> tail(suffix.begin(), suffix.end());
    FUZZ_CHECK(command.compare(command.size() - tail.size(), tail.size(), tail) == 0);
}

// The deployment build's composition of the same line: nothing, or the
// installer by its quoted path, then a blank and the line's own tail.
template <typename Char>
void CheckDeployment(const std::basic_string<Char>& line, int status, const Char* command) {
    std::basic_string<Char> composed(command);
    FUZZ_CHECK(status == 0 || (composed.empty() && (status == ERROR_FILENAME_EXCED_RANGE || status == ERROR_INVALID_NAME)));
    if (status != 0) return;
    std::size_t closing = composed.find('"', 1);
    FUZZ_CHECK(closing != std::basic_string<Char>::npos);
    CheckQuotedInstaller(composed.substr(0, closing + 1));
    if (closing + 1 == composed.size()) return;
    std::basic_string<Char> rest = composed.substr(closing + 2);
    FUZZ_CHECK(composed[closing + 1] == ' ' && !rest.empty() && rest[0] != ' ' && rest[0] != '\t');
    FUZZ_CHECK(line.size() >= rest.size() && line.compare(line.size() - rest.size(), rest.size(), rest) == 0);
}

}  // namespace

// Choices: the first WinExec's result; the second, bit 0 a 95-family system,
// bit 1 a wide command line of its own, bit 2 a CreateProcessW that fails.
// The wide line is what follows the text's NUL, as UTF-16LE code units.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input = ReadFuzzInput(data, size, 2);
    UseCodePage(input.codePage);
    ResetStandIn();
    standIn.commandLine = input.text.c_str();
    standIn.winExecResult = input.choices[0];
    bool windows95 = input.choices[1] & 1;
    if (windows95) standIn.version |= 0x80000000u;
    std::wstring wide;
    if (input.choices[1] & 2) {
        for (std::size_t i = 1 + 2 + input.text.size() + 1; i + 1 < size; i += 2) {
            wchar_t unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
            if (unit == 0) break;
            wide += unit;
        }
        standIn.commandLineW = wide.c_str();
    }
    standIn.createProcessFails = input.choices[1] & 4;

    static char deployed[2 * 1024], launcher[LAUNCHER_FIELD_SIZE];
    CheckDeployment(input.text, ComposeDeploymentCommand(input.text.c_str(), launcher, deployed, sizeof deployed), deployed);
    static wchar_t deployedW[2 * 1024], launcherW[LAUNCHER_FIELD_SIZE];
    CheckDeployment(wide, ComposeDeploymentCommandW(wide.c_str(), launcherW, deployedW, 2 * 1024), deployedW);

    int status = WinMain(nullptr, nullptr, nullptr, SW_SHOWDEFAULT);

    FUZZ_CHECK(status == 0 || status == -1);
    FUZZ_CHECK(standIn.winExecCalls + standIn.createProcessCalls <= 1);
    if (standIn.createProcessCalls == 1) {
        // The wide route, only on NT and only for a line that differs.
        FUZZ_CHECK(!windows95 && (input.choices[1] & 2));
        CheckQuotedInstaller(std::wstring(standIn.createProcessCommand));
        FUZZ_CHECK(!standIn.createProcessApplicationGiven && !standIn.createProcessInheritHandles);
        FUZZ_CHECK(standIn.createProcessFlags == 0 && !standIn.createProcessDirectoryGiven);
        FUZZ_CHECK(standIn.startupFlags == STARTF_USESHOWWINDOW && standIn.startupShowWindow == SW_SHOW);
        FUZZ_CHECK(status == (standIn.createProcessFails ? -1 : 0));
        FUZZ_CHECK(standIn.closedHandles == (standIn.createProcessFails ? 0 : 2));
        return 0;
    }
    if (standIn.winExecCalls == 0) {
        FUZZ_CHECK(status == -1);
        return 0;
    }
    FUZZ_CHECK(standIn.winExecShowState == SW_SHOW);
    FUZZ_CHECK(status == (standIn.winExecResult > 31 ? 0 : -1));
    CheckQuotedInstaller(std::string(standIn.winExecCommand));
    return 0;
}
