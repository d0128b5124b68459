#!/usr/bin/env bash
# One end-to-end case: lays out a distribution tree, starts the real
# setup.exe in it from a Windows-side parent under Wine, and checks the exit
# status and what the probe installer recorded.
#
# usage: run_case.sh CASE
# Environment: SETUP_EXE, PROBE_EXE, STARTER_EXE, E2E_DIR, and Wine's own with
# WINE the loader (as cmake/wine_run.sh sets them).
set -euo pipefail
case_name=$1
work="$E2E_DIR/$case_name"
rm -rf "$work"
mkdir -p "$work"

fail() { echo "FAIL $case_name: $*" >&2; exit 1; }

# The build folder is T: under Wine (wine_run.sh), so no case meets the
# letters of the checkout's own path: each puts the names it tests there itself.
# shellcheck source=cmake/wine_run.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../cmake/wine_run.sh"

# A tree with the launcher at its root and the probe as its installer.
make_tree() {
    mkdir -p "$1/windows/setup"
    cp "$SETUP_EXE" "$1/${2:-setup.exe}"
    cp "$PROBE_EXE" "$1/windows/setup/setup.exe"
}

# Starts the launcher with the exact command line $1 (bytes in the active
# code page), optionally from the current directory $2 (a Unix path, or a
# Windows one), with STARTER_APP the program CreateProcessA is given; sets
# status. start_wide: $1 in UTF-8, started as a wide command line, as the
# shell starts programs. With STARTER_FAULT set, that import of the launcher
# fails with ERROR_ELEVATION_REQUIRED.
start() { run_starter "" "$@"; }
start_wide() { run_starter --wide "$@"; }
run_starter() {
    printf '%s' "$2" > "$work/command_line"
    # To a file, not a pipe: the installer inherits Wine's output and may
    # outlive the launcher.
    local out="$work/starter.out"
    local folder=${3:-} && [[ $folder != /* ]] || folder=$(win_path "$folder")
    "$WINE" "$(win_path "$STARTER_EXE")" $1 ${STARTER_FAULT:+--fault "$STARTER_FAULT"} ${STARTER_APP:+--app "$STARTER_APP"} \
        "$(win_path "$work/command_line")" ${folder:+"$folder"} > "$out" 2> "$work/starter.err" ||
        fail "the starter failed: $(cat "$out" "$work/starter.err")"
    status=$(sed -n 's/^exit //p' "$out" | tr -d '\r')
}

wait_for_line() {  # file, line
    for _ in $(seq 100); do
        grep -qxF "$2" "$1" 2>/dev/null && return 0
        sleep 0.2
    done
    return 1
}

# The probe beside $1 was started with the command line $2: its bytes in the
# active code page, or with a third argument "wide", its wide line in UTF-8.
expect_started() {
    local log="${1%.exe}.log"
    wait_for_line "$log" "${3:+$3 }command line: $2" ||
        fail "expected the installer started as [$2]; log: $(cat "$log" 2>/dev/null || echo none); the launcher's exit status $status"
    [ "$status" = "${expected_status:-0x00000000}" ] || fail "exit status $status, expected ${expected_status:-0x00000000}"
}

# Nothing started, and the exit status 0xFFFFFFFF, or in the deployment
# build expected_status, the Win32 error that says why.
expect_nothing_started() {
    # shellcheck disable=SC2053 # expected_status may be a pattern
    [[ $status == ${expected_status:-0xFFFFFFFF} ]] || fail "exit status $status, expected ${expected_status:-0xFFFFFFFF}"
    sleep 1
    local logs
    logs=$(find "$work" -name '*.log')
    [ -z "$logs" ] || fail "something was started: $logs"
}

tree="$work/disc"
installer_of() { printf '"%s\\windows\\setup\\setup.exe"' "$(win_path "$1")"; }

case "$case_name" in
quoted)
    make_tree "$tree"
    WINEDEBUG=fixme+actctx start "\"$(win_path "$tree")\\setup.exe\""
    expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree")"
    ! grep 'failed to parse manifest' "$work/starter.err" || fail "Wine cannot parse the manifest"
    ;;
quoted_blanks | unquoted_blanks)
    tree="$work/My Disc"
    make_tree "$tree"
    if [ "$case_name" = quoted_blanks ]; then
        start "\"$(win_path "$tree")\\setup.exe\""
    else
        start "$(win_path "$tree")\\setup.exe"
    fi
    expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree")"
    ;;
quoted_arguments)
    make_tree "$tree"
    start "\"$(win_path "$tree")\\setup.exe\" /s /lang=ja \"x y\""
    expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree")"
    ;;
planted_at_blank)
    # Unquoted, the platform would try ...\My.exe first for ...\My Disc\...
    tree="$work/My Disc"
    make_tree "$tree"
    cp "$PROBE_EXE" "$work/My.exe"
    start "\"$(win_path "$tree")\\setup.exe\""
    expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree")"
    [ ! -e "$work/My.log" ] || fail "the planted My.exe was started"
    ;;
installer_missing)
    mkdir -p "$tree"
    cp "$SETUP_EXE" "$tree/setup.exe"
    start "\"$(win_path "$tree")\\setup.exe\""
    expect_nothing_started
    ;;
overlong_command_line)
    # Unquoted, the whole line is the launcher's path: 300 bytes of argument
    # make it too long, and it is refused rather than cut.
    make_tree "$tree"
    start "$(win_path "$tree")\\setup.exe $(printf 'x%.0s' $(seq 300))"
    expect_nothing_started
    ;;
dbcs_directory | dbcs_launcher_name | hyou_cp932 | ascii_cp932)
    # In code page 932 the name 表 is the bytes 95 5C: a trail byte with the
    # value of '\'. Started with a wide command line, as the shell starts it
    # (the last two cases), a name that 932 holds still takes the ANSI route:
    # the installer's command line carries the launcher's own bytes.
    export LC_ALL=ja_JP.UTF-8
    hyou=$'\x95\x5c'
    case "$case_name" in
    dbcs_launcher_name)
        make_tree "$tree" "表.exe"
        windows_tree="$(win_path "$tree")"
        start "\"$windows_tree\\$hyou.exe\""
        ;;
    ascii_cp932)
        make_tree "$tree"
        windows_tree="$(win_path "$tree")"
        start_wide "\"$windows_tree\\setup.exe\""
        ;;
    *)
        tree="$work/表"
        make_tree "$tree"
        windows_tree="$(win_path "$work")\\$hyou"
        if [ "$case_name" = dbcs_directory ]; then
            start "\"$windows_tree\\setup.exe\""
        else
            start_wide "\"$(win_path "$tree")\\setup.exe\""
        fi
        ;;
    esac
    expect_started "$tree/windows/setup/setup.exe" "\"$windows_tree\\windows\\setup\\setup.exe\""
    grep -qxF "module: $windows_tree\\windows\\setup\\setup.exe" "$tree/windows/setup/setup.log" ||
        fail "the installer's module path is not under $windows_tree"
    ;;
fullwidth_quote)
    # Best fit makes the fullwidth quote U+FF02 a '"' in the ANSI command
    # line; taken from there, the path would end at "a" and name the
    # installer in the parent folder.
    tree="$work/a＂b"
    make_tree "$tree"
    mkdir -p "$work/windows/setup"
    cp "$PROBE_EXE" "$work/windows/setup/setup.exe"
    start_wide "\"$(win_path "$tree")\\setup.exe\""
    expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree")" wide
    [ ! -e "$work/windows/setup/setup.log" ] || fail "the installer in the parent folder was started"
    ;;
cyrillic_folder | not_in_cp932)
    # Letters the code page lacks become '?' in the ANSI command line.
    tree="$work/Дистрибутив"
    if [ "$case_name" = not_in_cp932 ]; then
        export LC_ALL=ja_JP.UTF-8
        tree="$work/한글 😀"
    fi
    make_tree "$tree"
    start_wide "\"$(win_path "$tree")\\setup.exe\" /s"
    expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree")" wide
    ;;
elevation_ansi | elevation_wide | cpinfo_fails)
    # Refused for want of an administrator, as Windows refuses an installer
    # whose manifest asks for one to a launcher it did not raise, the
    # installer starts through the consent prompt. Without the code page the
    # launcher still starts it.
    case "$case_name" in
    elevation_ansi) tree="$work/My Disc" fault=WinExec wide="" ;;
    elevation_wide) tree="$work/Дистрибутив" fault=CreateProcessW wide=wide ;;
    cpinfo_fails) fault=GetCPInfo wide="" ;;
    esac
    make_tree "$tree"
    STARTER_FAULT=$fault run_starter "${wide:+--wide}" "\"$(win_path "$tree")\\setup.exe\" /s"
    expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree")" $wide
    ;;
share_ansi | share_wide | share_local | share_unnamed | deploy_share_declined)
    # Refused for want of an administrator, from a drive mapped to a share,
    # the consent prompt gets the share's own name, and in the deployment
    # build the arguments; declined, that build exits with ERROR_CANCELLED
    # (1223). Stand-ins for MPR (N: is
    # \\server\share, O: a network drive it cannot name) and SHELL32 (it
    # records what it is asked to start) are native for launcher.exe alone;
    # Wine's own processes keep the builtins.
    # (A 32-bit launcher in a 64-bit prefix loads its DLLs from syswow64.)
    system=$WINEPREFIX/drive_c/windows/system32
    [ "$WINE" != /usr/lib/wine/wine ] || [ ! -d "${system%system32}syswow64" ] || system=${system%system32}syswow64
    for dll in mpr shell32; do
        standin=$MPR_STANDIN && [ $dll = mpr ] || standin=$SHELL32_STANDIN
        # Whole, under a temporary name: cases side by side may load it.
        cmp -s "$standin" "$system/$dll.dll" ||
            { cp "$standin" "$system/$dll.$$" && mv "$system/$dll.$$" "$system/$dll.dll"; }
        "$WINE" reg add 'HKCU\Software\Wine\AppDefaults\launcher.exe\DllOverrides' /v $dll /d native /f > /dev/null 2>&1
    done
    # Both drives are the folder of all cases, so cases side by side agree.
    ln -sfn "$E2E_DIR" "$WINEPREFIX/dosdevices/n:" && ln -sfn "$E2E_DIR" "$WINEPREFIX/dosdevices/o:"
    case "$case_name" in
    share_ansi) folder="Disc 1" root=N: named='\\server\share' fault=WinExec wide="" ;;
    share_wide) folder=Дистрибутив root=N: named='\\server\share' fault=CreateProcessW wide=--wide ;;
    share_local) folder="Disc 1" root="$(win_path "$E2E_DIR")" named=$root fault=WinExec wide="" ;;
    share_unnamed) folder="Disc 1" root=O: named=O: fault=WinExec wide="" ;;
    deploy_share_declined) folder="Disc 1" root=N: named='\\server\share' fault=CreateProcessW wide=""
        export STANDIN_SHELL_RESULT=1223 && expected_status=0x000004C7 parameters=$'\n/s' ;;
    esac
    folder="$case_name\\$folder"
    make_tree "$work/${folder#*\\}" launcher.exe
    STANDIN_SHELL_RECORD=$(win_path "$work/shell.record") && export STANDIN_SHELL_RECORD
    STARTER_FAULT=$fault run_starter "$wide" "\"$root\\$folder\\launcher.exe\" /s"
    [ "$status" = "${expected_status:-0x00000000}" ] || fail "exit status $status, expected ${expected_status:-0x00000000}"
    [ "$(cat "$work/shell.record" 2> /dev/null)" = "$named\\$folder\\windows\\setup\\setup.exe${parameters:-}" ] ||
        fail "ShellExecuteExW was asked to start [$(cat "$work/shell.record" 2> /dev/null)]"
    if [ "$case_name" = deploy_share_declined ]; then
        # ShellExecuteEx's bound holds for the command it would get: here
        # 2,048 characters with the share's name, 2,036 with N:.
        rm "$work/shell.record" && expected_status=0x000000CE
        STARTER_FAULT=$fault run_starter "$wide" "\"$root\\$folder\\launcher.exe\" $(printf 'x%.0s' $(seq 1978))"
        [ "$status" = $expected_status ] && [ ! -e "$work/shell.record" ] || fail "2,048 characters: exit status $status"
    fi
    ;;
extracted_medium)
    # The tree of a medium, as extracted from its ISO image.
    start "\"$(win_path "$MEDIUM_TREE")\\setup.exe\""
    expect_started "$MEDIUM_TREE/windows/setup/setup.exe" "$(installer_of "$MEDIUM_TREE")"
    ;;
mapped_drive)
    make_tree "$tree"
    ln -sfn "$tree" "$WINEPREFIX/dosdevices/m:"
    trap 'rm -f "$WINEPREFIX/dosdevices/m:"' EXIT
    start '"M:\setup.exe"'
    expect_started "$tree/windows/setup/setup.exe" '"M:\windows\setup\setup.exe"'
    ;;
bare_relative_name)
    make_tree "$tree"
    start "setup.exe" "$tree"
    expect_started "$tree/windows/setup/setup.exe" '"windows\setup\setup.exe"'
    ;;
busy_installer)
    # The launcher does not wait: it has ended while the installer is busy,
    # and exits with 0 whatever the installer's exit code will be.
    make_tree "$tree"
    export PROBE_BUSY_MS=6000 PROBE_EXIT=1603
    start "\"$(win_path "$tree")\\setup.exe\""
    log="$tree/windows/setup/setup.log"
    expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree")"
    ! grep -qx finished "$log" || fail "the launcher ended only after the installer"
    wait_for_line "$log" finished || fail "the installer never finished"
    ;;
deploy_arguments)
    # The deployment build passes the rest of its command line on as given,
    # after its first argument, quoted or not. Rows: folder|what follows the
    # launcher's path|what follows the installer's.
    arguments='/S /v"/qn REBOOT=ReallySuppress" /log "C:\a b\x.log"' tab=$'\t'
    for row in "My Disc|\" $arguments| $arguments" "My Disc|\" $tab |" "disc|$tab /S| /S"; do
        IFS='|' read -r folder after expected <<<"$row"
        make_tree "$work/$folder"
        launcher="$(win_path "$work/$folder")\\setup.exe"
        [ "${after:0:1}" != '"' ] || launcher="\"$launcher"
        start "$launcher$after"
        expect_started "$work/$folder/windows/setup/setup.exe" "$(installer_of "$work/$folder")$expected"
        rm "$work/$folder/windows/setup/setup.log"
    done
    # However it is written, a first argument that names the very file that
    # runs starts the installer below the path the loader has for that file
    # (Wine's: its folder as it is spelt), named ..exe too, whose dots are its
    # name's, not its folder's (.windows\setup\ planted). Rows: current
    # folder|command line. S: is mapped to the case's folder.
    ln -sfn "$work" "$WINEPREFIX/dosdevices/s:" && trap 'rm -f "$WINEPREFIX/dosdevices/s:"' EXIT
    cp "$SETUP_EXE" "$work/My Disc/..exe" && mkdir -p "$work/My Disc/.windows/setup" &&
        cp "$PROBE_EXE" "$work/My Disc/.windows/setup/setup.exe"
    short=$("$WINE" winepath -s 'S:\My Disc' | tr -d '\r') && [[ $short == S:\\*~* ]] || fail "no 8.3 name: $short"
    for row in '|S:\MY DISC\SETUP.EXE /S' '|S:/My Disc/setup.exe /S' "|$short\\setup /S" \
               'S:\|"My Disc\setup" /S' 'S:\My Disc|setup /S' 'S:\My Disc|setup.exe /S' 'S:\|"My Disc\..exe" /S'; do
        IFS='|' read -r folder line <<<"$row"
        start "$line" "$folder"
        expect_started "$work/My Disc/windows/setup/setup.exe" '"S:\My Disc\windows\setup\setup.exe" /S'
        rm "$work/My Disc/windows/setup/setup.log"
    done
    [ ! -e "$work/My Disc/.windows/setup/setup.log" ] || fail "..exe started .windows\\setup\\setup.exe"
    ;;
deploy_cp932 | deploy_outside_cp)
    # Arguments whose trail bytes have the value of '\', on the ANSI route;
    # a folder and an argument no code page of the system holds, on the wide.
    if [ "$case_name" = deploy_cp932 ]; then
        export LC_ALL=ja_JP.UTF-8
        hyou=$'\x95\x5c' tree="$work/表"
        make_tree "$tree"
        arguments="/dir=$hyou\\x \"$hyou y\""
        start "\"$(win_path "$work")\\$hyou\\setup.exe\" $arguments"
        expect_started "$tree/windows/setup/setup.exe" "\"$(win_path "$work")\\$hyou\\windows\\setup\\setup.exe\" $arguments"
    else
        tree="$work/Дистрибутив"
        make_tree "$tree"
        arguments='/name=Привет "😀 x"'
        start_wide "\"$(win_path "$tree")\\setup.exe\"  $arguments"
        expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree") $arguments" wide
    fi
    ;;
deploy_exit_codes)
    # The installer's exit code, all 32 bits, once it has ended: the last row
    # stays busy 1.5 s first.
    make_tree "$tree"
    for code in 0 3010 1641 1603 0xC0000409 busy; do
        export PROBE_EXIT=$code && [ $code != busy ] || export PROBE_EXIT=3010 PROBE_BUSY_MS=1500
        expected_status=$(printf '0x%08X' "$PROBE_EXIT")
        start "\"$(win_path "$tree")\\setup.exe\" /S"
        expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree") /S"
        [ $code != busy ] || grep -qx finished "$tree/windows/setup/setup.log" ||
            fail "the launcher ended before the installer"
        rm "$tree/windows/setup/setup.log"
    done
    ;;
deploy_no_installer)
    # Nothing to start: the start's own error where the installer's folder is
    # not there (2 or 3: Wine says 2) or its file (2); where the installer's
    # path would be longer than 259 characters, or its command line than the
    # 32,767 characters with the NUL that CreateProcess takes, on either
    # route, the composition's (206). Rows: status, the launcher's folder,
    # how to start it.
    long=$(win_path "$work")\\c\\
    long=c/$(printf 'x%.0s' $(seq $((245 - ${#long}))))
    make_tree "$work/d"
    for row in "0x0000000[23] a start" "0x00000002 b start" "0x000000CE $long start" \
               "0x000000CE d start" "0x000000CE d start_wide"; do
        read -r expected_status folder how <<<"$row"
        mkdir -p "$work/$folder" "$work/b/windows/setup"
        cp "$SETUP_EXE" "$work/$folder/setup.exe"
        line="\"$(win_path "$work/$folder")\\setup.exe\" /S"
        # The installer's line is 14 characters longer: windows\setup\.
        [ "$folder" != d ] || line+=" $([ $how = start ] || echo Д)$(printf 'x%.0s' $(seq 32753))" &&
            line=${line:0:32753}
        $how "$line"
        expect_nothing_started
    done
    # Where the first argument names another file than the one that runs, or
    # none, or a link to it in another folder (R:\Our.exe), where the
    # arguments begin is unknown: nothing is started, neither the installer
    # nor one planted at R:\windows\setup (160). Rows: the program
    # CreateProcess is given|current folder|command line.
    ln -sfn "$work" "$WINEPREFIX/dosdevices/r:" && trap 'rm -f "$WINEPREFIX/dosdevices/r:"' EXIT
    make_tree "$work/My Disc" && make_tree "$work/d1" && make_tree "$work" planted.exe && expected_status=0x000000A0
    make_tree "$work/Our Disc" && ln "$work/Our Disc/setup.exe" "$work/Our.exe"
    for row in 'R:\My Disc\setup.exe|R:\|R:\My Disc\setup.exe /S' 'R:\d1\setup.exe|R:\d1|/S /qn' \
               'R:\d1\setup.exe|R:\| "R:\d1\setup.exe" /S' 'R:\Our Disc\setup.exe|R:\|R:\Our Disc\setup.exe /S'; do
        IFS='|' read -r STARTER_APP folder line <<<"$row"
        start "$line" "$folder"
        expect_nothing_started
    done
    ;;
deploy_elevation_ansi | deploy_elevation_wide)
    # Refused for want of an administrator, the installer is started through
    # the consent prompt with the arguments, and waited for.
    tree="$work/My Disc" fault=CreateProcessW wide=""
    [ "$case_name" = deploy_elevation_ansi ] || tree="$work/Дистрибутив" wide=wide
    make_tree "$tree"
    export PROBE_EXIT=1641 && expected_status=0x00000669
    STARTER_FAULT=$fault run_starter "${wide:+--wide}" "\"$(win_path "$tree")\\setup.exe\" /S \"x y\""
    expect_started "$tree/windows/setup/setup.exe" "$(installer_of "$tree") /S \"x y\"" $wide
    # Past ShellExecuteEx's 2,048 characters the arguments are refused, not cut.
    rm "$tree/windows/setup/setup.log" && expected_status=0x000000CE
    STARTER_FAULT=$fault run_starter "${wide:+--wide}" "\"$(win_path "$tree")\\setup.exe\" $(printf 'x%.0s' $(seq 2048))"
    expect_nothing_started
    ;;
*)
    fail "no such case"
    ;;
esac
echo "ok $case_name"
