#!/usr/bin/env bash
# Builds setup.exe alone in fresh build trees of its own, to test what the
# build promises: the same bytes every time, the publisher's branding, a
# clear refusal of an unfit icon, a signature, and the medium.
#
# usage: build_variants.sh reproducible|branding|icon_rejected|signed|deployment|medium
# Environment: SOURCE_DIR, WORK_DIR, TOOLCHAIN, PROCESSOR; for medium also
# PROBE_EXE, STARTER_EXE, and WINE_PREFIX for cmake/wine_run.sh.
set -Eeuo pipefail
shopt -s inherit_errexit  # a step that fails inside $(...) fails its caller
mode=$1
work="$WORK_DIR/$mode"
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL $mode: $*" >&2; exit 1; }
# A step that fails unguarded is named, with its line: its own output may
# have gone to a log or nowhere. (Once: with -E a function's caller fails
# too. Of a pipe, the last command is named, with every command's status.)
named_failure=''
name_failure() {  # line, command, the pipe's statuses
    local status=$?
    [ -z "$named_failure" ] || return 0
    named_failure=1
    local pipe=""
    [[ $3 != *" "* ]] || pipe="; of the pipe: $3"
    echo "FAIL $mode: line $1: \"$2\" failed (exit status $status$pipe)" >&2
}
trap 'name_failure "$LINENO" "$BASH_COMMAND" "${PIPESTATUS[*]}"' ERR

configure() {  # build tree, cache settings...
    local tree=$1
    shift
    "${bare[@]}" cmake -S "$SOURCE_DIR" -B "$tree" --toolchain "$TOOLCHAIN" -DCMAKE_BUILD_TYPE=MinSizeRel \
        -DMINGW_PROCESSOR="${PROCESSOR:-i686}" -DLAUNCHER_TESTS=OFF "$@" > "$tree.log" 2>&1
}
build() {  # build tree, cache settings... (TARGET: what to build, setup by default)
    configure "$@" || fail "configure failed: $(tail -5 "$1.log")"
    "${bare[@]}" cmake --build "$1" --target "${TARGET:-setup}" >> "$1.log" 2>&1 ||
        fail "build failed: $(tail -5 "$1.log")"
}
bare=()  # or a command that runs cmake without the caller's environment
copy_sources() { mkdir -p "$1" && tar -C "$SOURCE_DIR" --exclude=./build -cf - . | tar -C "$1" -xf -; }  # .git too: the image names its commit
make_icon() { python3 "$SOURCE_DIR/resources/make_icon.py" "$@"; }

case "$mode" in
reproducible)
    # Two clean trees at different paths, the second of a copy of the
    # sources at a path any shell can name: no timestamp, no build path.
    # The signing settings without a certificate change nothing.
    build "$work/first"
    copy="$work/O'Brien & Co \$5 (Übersetzung)!/src"
    copy_sources "$copy"
    SOURCE_DIR=$copy build "$copy.build" -DLAUNCHER_SIGN_URL=https://example.com/atlas \
        -DLAUNCHER_SIGN_TIMESTAMP_URL=http://timestamp.example.com
    cmp "$work/first/setup.exe" "$copy.build/setup.exe" ||
        fail "two builds of the same sources differ"
    ;;
branding)
    icon="$work/publisher.ico"
    make_icon "$SOURCE_DIR/tests/branding/icon.txt" "$icon"
    build "$work/tree" -DLAUNCHER_ICON="$icon" \
        -DLAUNCHER_PRODUCT_NAME="Contoso Atlas" -DLAUNCHER_COMPANY_NAME='Contoso "East" Ltd' \
        -DLAUNCHER_FILE_DESCRIPTION='Atlas setup\launcher' -DLAUNCHER_FILE_VERSION=2.5.1 \
        -DLAUNCHER_PRODUCT_VERSION=2026.12.0.7 -DLAUNCHER_COPYRIGHT='© 2026 Contoso'
    exe="$work/tree/setup.exe"
    # The icon group holds exactly the publisher's images.
    # (wrestool writes the icon it rebuilds from the group with zeros after it.)
    wrestool -x --type=14 --name=1 "$exe" > "$work/group.ico"
    cmp -n "$(stat -c %s "$icon")" "$icon" "$work/group.ico" &&
        [ "$(icotool -l "$work/group.ico" | wc -l)" = 3 ] ||
        fail "icon group 1 is not the publisher's icon"
    [ "$(wrestool -l --type=14 "$exe" | wc -l)" = 1 ] || fail "more than one icon group"
    wrestool -x --raw --type=16 --name=1 "$exe" > "$work/version.bin"
    python3 - "$work/version.bin" <<'PY' || fail "version information differs"
import re, struct, sys

def blocks(data, at, end):
    """The (key, value, children) blocks of a version resource from at to end."""
    while at + 6 <= end:
        length, value_length, text = struct.unpack_from("<3H", data, at)
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if text else value_length
        value = data[value_at:value_at + value_size]
        children_at = (value_at + value_size + 3) & ~3
        yield key, value, list(blocks(data, children_at, at + length))
        at = (at + length + 3) & ~3

data = open(sys.argv[1], "rb").read()
(root_key, fixed, children), = blocks(data, 0, len(data))
strings = {}
for key, _, tables in children:
    if key == "StringFileInfo":
        for _, _, entries in tables:
            strings.update((k, v.decode("utf-16-le").rstrip("\0")) for k, v, _ in entries)
expected = {"ProductName": "Contoso Atlas", "CompanyName": 'Contoso "East" Ltd',
            "FileDescription": "Atlas setup\\launcher", "FileVersion": "2.5.1",
            "ProductVersion": "2026.12.0.7", "LegalCopyright": "\u00a9 2026 Contoso"}
if not re.fullmatch(r"commit [0-9a-f]{40}( and uncommitted changes)?", strings.pop("Comments", "")):
    sys.exit("no commit named in Comments")
if strings != expected:
    sys.exit(f"strings {strings}")
# The fixed part: the signature, then file and product version as numbers.
signature, _, ms, ls, pms, pls = struct.unpack_from("<6I", fixed)
if signature != 0xFEEF04BD or (ms, ls, pms, pls) != (2 << 16 | 5, 1 << 16, 2026 << 16 | 12, 7):
    sys.exit("version numbers differ")
PY
    ;;
icon_rejected)
    # Each unfit icon stops the configuration with a message naming it.
    sed '/^image 16x16/,$d' "$SOURCE_DIR/tests/branding/icon.txt" > "$work/no16.txt"
    make_icon "$work/no16.txt" "$work/no16.ico"
    head -c 40 "$work/no16.ico" > "$work/truncated.ico"
    for row in "no16.ico:has no 16x16 image" "truncated.ico:image 0 runs past the end of the file" \
               "icon.txt:not an icon file" "missing.ico:no such file"; do
        file="$work/${row%%:*}"
        [ "${row%%:*}" != icon.txt ] || file="$SOURCE_DIR/tests/branding/icon.txt"
        ! configure "$work/tree" -DLAUNCHER_ICON="$file" || fail "$file was accepted"
        # CMake folds long messages across lines.
        tr -s ' \n' '  ' < "$work/tree.log" | grep -qF "LAUNCHER_ICON $file: ${row#*:}" ||
            fail "no clear message for $file: $(grep -A2 'CMake Error' "$work/tree.log" | head -5)"
        rm -rf "$work/tree"
    done
    ;;
signed)
    # A throwaway chain, a root (cert.pem), a CA and the publisher, all three in the PKCS#12 bag as exports
    # often hold them; its password only ever in the environment.
    export LAUNCHER_SIGN_PASSWORD="pw-$RANDOM-$RANDOM"
    issue() {  # name, subject, issuer (none: self-signed), extensions
        openssl req -newkey rsa:2048 -nodes -subj "$2" -keyout "$work/$1.key" -out "$work/$1.csr" 2> /dev/null
        local by=(-signkey "$work/$1.key") && [ -z "$3" ] || by=(-CA "$work/$3.pem" -CAkey "$work/$3.key" -set_serial "$RANDOM")
        openssl x509 -req -in "$work/$1.csr" "${by[@]}" -days 60 -extfile <(printf '%b\n' "$4") -out "$work/$1.pem" 2> /dev/null
    }
    ca='basicConstraints=critical,CA:true\nkeyUsage=keyCertSign'
    issue cert "/CN=Contoso Test Root" "" "$ca" && issue ca "/CN=Contoso Test CA" cert "$ca" &&
        issue publisher "/CN=Contoso Test Publisher" ca extendedKeyUsage=codeSigning
    cat "$work/publisher.pem" "$work/ca.pem" > "$work/publisher-chain.pem"
    openssl pkcs12 -export -inkey "$work/publisher.key" -in "$work/publisher.pem" -certfile <(cat "$work/ca.pem" "$work/cert.pem") \
        -name publisher -out "$work/cert.p12" -passout env:LAUNCHER_SIGN_PASSWORD
    # (From a file, and one trailing newline in it is no part of it.)
    printf '%s\n' "$LAUNCHER_SIGN_PASSWORD" > "$work/password"
    (unset LAUNCHER_SIGN_PASSWORD && LAUNCHER_SIGN_PASSWORD_FILE="$work/password" build "$work/tree" \
        -DLAUNCHER_SIGN_PKCS12="$work/cert.p12" -DLAUNCHER_SIGN_URL=https://example.com -DLAUNCHER_TOOLCHAIN=pinned)
    exe="$work/tree/setup.exe"
    osslsigncode verify -in "$exe" -CAfile "$work/cert.pem" > "$work/verify.log" 2>&1 ||
        fail "the signature does not verify: $(tail -3 "$work/verify.log")"
    ! grep -rqF "$LAUNCHER_SIGN_PASSWORD" "$work/tree" "$work/tree.log" ||
        fail "the password was written into the build tree or its log"
    cp "$exe" "$work/flipped.exe"
    printf '\x90' | dd of="$work/flipped.exe" bs=1 seek=1100 conv=notrunc 2> /dev/null
    ! osslsigncode verify -in "$work/flipped.exe" -CAfile "$work/cert.pem" > /dev/null 2>&1 ||
        fail "a changed image still verifies"
    # A token of its own (SoftHSM2) with an RSA and an ECDSA key, each with
    # its certificate: signed from it, verified, and accepted by sbverify.
    export SOFTHSM2_CONF="$work/softhsm2.conf"
    mkdir "$work/tokens"
    echo "directories.tokendir = $work/tokens" > "$SOFTHSM2_CONF"
    softhsm2-util --init-token --free --label "Contoso Token" --pin "$LAUNCHER_SIGN_PASSWORD" \
        --so-pin "so-$RANDOM-$RANDOM" > /dev/null
    token=(-DLAUNCHER_SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so
           "-DLAUNCHER_SIGN_PKCS11_KEY=pkcs11:token=Contoso%20Token;object=rsa;type=private")
    # Local timestamp authorities (tests/tsa.py): a good one, and ones that
    # answer wrongly, each with its reason; a port that refuses. The RSA key
    # is stamped by the last of a list, ECDSA not at all.
    # Their configurations name files relative to their folder, where OpenSSL
    # runs: it would read a quote or a '$' of the checkout's path as its own.
    mkdir "$work/tsa"
    printf '[ca]\ndefault_ca=c\n[c]\ndatabase=index\nnew_certs_dir=.\nserial=serial\ndefault_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n[x]\nextendedKeyUsage=critical,timeStamping\n' \
        > "$work/tsa/ca.cnf"
    touch "$work/tsa/index"
    echo 01 > "$work/tsa/serial"
    for name in good untrusted expired; do
        # The expired authority is a request, signed below with past dates.
        out=(-x509 -days 3650 -out "$work/tsa/$name.pem") && [ $name != expired ] || out=(-out "$work/tsa/$name.csr")
        openssl req -newkey rsa:2048 -nodes -subj "/CN=Contoso TSA $name" -keyout "$work/tsa/$name.key" \
            "${out[@]}" -addext extendedKeyUsage=critical,timeStamping 2> /dev/null
        [ $name != expired ] || (cd "$work/tsa" && openssl ca -batch -config ca.cnf -selfsign -keyfile $name.key \
            -in $name.csr -startdate 20200101000000Z -enddate 20210101000000Z -extensions x -out $name.pem > /dev/null 2>&1)
        printf '[tsa]\ndefault_tsa=t\n[t]\nserial=%s.serial\nsigner_cert=%s.pem\nsigner_key=%s.key\nsigner_digest=sha256\ndefault_policy=1.2.3.4\ndigests=sha256\n' \
            $name $name $name > "$work/tsa/$name.cnf"
        echo 01 > "$work/tsa/$name.serial"
        [ $name = untrusted ] || cat "$work/tsa/$name.pem" >> "$work/tsa.pem"
    done
    # An authority whose replies carry its chain, its root then its CA, as OpenSSL's certs= writes them.
    issue tsa/chained-root "/CN=Contoso TSA root" "" "$ca" && issue tsa/chained-ca "/CN=Contoso TSA CA" tsa/chained-root "$ca" &&
        issue tsa/chained "/CN=Contoso TSA chained" tsa/chained-ca extendedKeyUsage=critical,timeStamping
    cat "$work/tsa/chained-root.pem" "$work/tsa/chained-ca.pem" > "$work/tsa/chained.certs"
    { sed s/good/chained/g "$work/tsa/good.cnf" && echo certs=chained.certs; } > "$work/tsa/chained.cnf"
    echo 01 > "$work/tsa/chained.serial" && cat "$work/tsa/chained-root.pem" >> "$work/tsa.pem"
    python3 "$SOURCE_DIR/tests/tsa.py" "$work/tsa.port" "$work/tsa" &
    trap 'kill $(jobs -p) 2> /dev/null' EXIT
    for _ in $(seq 50); do [ -s "$work/tsa.port" ] && break; sleep 0.1; done
    tsa=http://127.0.0.1:$(cat "$work/tsa.port")
    export LAUNCHER_SIGN_TIMESTAMP_WAIT=2 LAUNCHER_SIGN_TIMESTAMP_PAUSE=1
    after_expiry() {  # exe, certificate: verifies a day after the certificate's end
        osslsigncode verify -in "$1" -CAfile "$2" -TSA-CAfile "$work/tsa.pem" -time $(($(date -d \
            "$(openssl x509 -in "$2" -noout -enddate | cut -d= -f2)" +%s) + 86400)) > /dev/null 2>&1
    }
    sizes=""
    for row in "rsa 01 rsa:2048" "ecdsa 02 ec -pkeyopt ec_paramgen_curve:P-256"; do
        set -- $row
        days=60 && [ "$1" != rsa ] || days=2
        openssl req -x509 -newkey "${@:3}" -nodes -days $days -subj "/CN=Contoso $1" \
            -keyout "$work/$1.key" -out "$work/$1.pem" 2> /dev/null
        softhsm2-util --import "$work/$1.key" --token "Contoso Token" --label "$1" --id "$2" \
            --pin "$LAUNCHER_SIGN_PASSWORD" > /dev/null
        stamp=(-DLAUNCHER_SIGN_ALLOW_NON_RSA=ON) && [ $1 = ecdsa ] ||
            stamp=("-DLAUNCHER_SIGN_TIMESTAMP_URL=http://127.0.0.1:1/;$tsa/good" -DLAUNCHER_SIGN_TIMESTAMP_CERTS="$work/tsa.pem")
        build "$work/$1" "${token[@]/object=rsa/object=$1}" -DLAUNCHER_SIGN_CERTS="$work/$1.pem" "${stamp[@]}"
        sbverify --cert "$work/$1.pem" "$work/$1/setup.exe" > /dev/null || fail "sbverify rejects the $1 signature"
        ! grep -rqF "$LAUNCHER_SIGN_PASSWORD" "$work/$1" "$work/$1.log" ||
            fail "the PIN was written into the build tree or its log"
        sizes+=", $1 token $(stat -c %s "$work/$1/setup.exe")"
    done
    # A wrong password or PIN, or a certificate not the key's, stops the
    # build with a message naming the file or the token, and leaves no setup.exe.
    refused() {  # password, message, cache settings... (none: the tree as the last call left it)
        [ $# = 2 ] || { rm -rf "$work/wrong" && LAUNCHER_SIGN_PASSWORD=$1 configure "$work/wrong" "${@:3}"; } ||
            fail "configure failed: $(tail -5 "$work/wrong.log")"
        ! LAUNCHER_SIGN_PASSWORD=$1 cmake --build "$work/wrong" --target setup > "$work/wrong.log" 2>&1 ||
            fail "accepted: $2"
        grep -qF "$2" "$work/wrong.log" || fail "no clear message: $(tail -5 "$work/wrong.log")"
        [ ! -e "$work/wrong/setup.exe" ] && [ ! -e "$work/wrong/setup.exe.sig" ] || fail "a setup.exe or its .sig was left"
    }
    after_expiry "$work/rsa/setup.exe" "$work/rsa.pem" || fail "the timestamped signature dies with its certificate"
    ! after_expiry "$work/ecdsa/setup.exe" "$work/ecdsa.pem" || fail "a signature without a timestamp outlives its certificate"
    # Any signer by command, which never sees the PIN; verified against a
    # private root; timestamped by the first server whose token verifies.
    printf '#!/bin/bash\n{ env; tr "\\0" "\\n" < /proc/$PPID/environ; } > %q\nexec osslsigncode sign -h sha256 -certs %q -key %q -in "$1" -out "$2"\n' \
        "$work/command.env" "$work/rsa.pem" "$work/rsa.key" > "$work/sign-command"
    command=("-DLAUNCHER_SIGN_COMMAND=bash;$work/sign-command" -DLAUNCHER_SIGN_ROOTS="$work/rsa.pem")
    bad=(500 garbage empty replay untrusted expired) && bad=("${bad[@]/#/$tsa/}")
    refused "$LAUNCHER_SIGN_PASSWORD" "no timestamp server gave a timestamp that verifies, in 3 rounds; http://127.0.0.1:1/: refused the connection; $tsa/silent: no answer within 2 s; $tsa/500: HTTP 500; $tsa/garbage: not a timestamp reply; $tsa/empty: not a timestamp reply; $tsa/replay: its timestamp is for another signature; $tsa/untrusted: the authority /CN=Contoso TSA untrusted is not trusted: add its root to LAUNCHER_SIGN_TIMESTAMP_CERTS; $tsa/expired: the authority's certificate expired on Jan  1 00:00:00 2021 GMT" \
        "${command[@]}" "-DLAUNCHER_SIGN_TIMESTAMP_URL=http://127.0.0.1:1/;$tsa/silent;$(IFS=';'; echo "${bad[*]}")" -DLAUNCHER_SIGN_TIMESTAMP_CERTS="$work/tsa.pem"
    # What holds the build is bounded by design: 3 rounds, 2 pauses, each server's wait.
    [ "$(grep -cF "setup.exe: timestamp server $tsa/silent: no answer within 2 s" "$work/wrong.log")" = 3 ] &&
        [ "$(grep -cF "setup.exe: no timestamp yet; the servers again in 1 s" "$work/wrong.log")" = 2 ] &&
        grep -qF "setup.exe: timestamp server $tsa/500: HTTP 500" "$work/wrong.log" || fail "the servers' answers were not told"
    LAUNCHER_SIGN_PASSWORD_FILE="$work/password" build "$work/command" "${command[@]}" \
        "-DLAUNCHER_SIGN_TIMESTAMP_URL=$(IFS=';'; echo "${bad[*]}");$tsa/good" -DLAUNCHER_SIGN_TIMESTAMP_CERTS="$work/tsa.pem"
    after_expiry "$work/command/setup.exe" "$work/rsa.pem" &&
        ! grep -qF -e "$LAUNCHER_SIGN_PASSWORD" -e LAUNCHER_SIGN_PASSWORD_FILE "$work/command.env" ||
        fail "the command's signature dies with its certificate, or the command saw the PIN or its file's name"
    refused "" "expires on $(date -u -d "$(openssl x509 -in "$work/rsa.pem" -noout -enddate | cut -d= -f2)" +%F), within 30 days" \
        "${command[@]}"
    refused "$LAUNCHER_SIGN_PASSWORD" "signed with a non-RSA key (ecdsa), and Smart App Control accepts RSA signatures alone" \
        "${token[@]/object=rsa/object=ecdsa}" -DLAUNCHER_SIGN_CERTS="$work/ecdsa.pem"
    # Two signings in one build folder at once: each in turn, the file left.
    rm "$work/rsa/setup.exe"
    cmake --build "$work/rsa" --target setup > /dev/null 2>&1 &
    first=$! && cmake --build "$work/rsa" --target setup > /dev/null 2>&1 && wait $first && osslsigncode verify -in "$work/rsa/setup.exe" -CAfile "$work/rsa.pem" -TSA-CAfile "$work/tsa.pem" > /dev/null 2>&1 ||
        fail "two signings at once left no signed setup.exe"
    # Signing commands that do not give this build with one signature of the accepted shape, or whose
    # timestamp does not hold, or leave a process behind; one tree, the command rewritten for each row.
    sign=$(printf 'osslsigncode sign -certs %q -key %q' "$work/rsa.pem" "$work/rsa.key")
    rewrite=$(printf '/usr/bin/python3 %q %q' "$work/rewrite.py" "$SOURCE_DIR/release")
    cat > "$work/rewrite.py" <<'PY'
import struct, sys; sys.path.insert(0, sys.argv[1]); import pefile, signature
from asn1crypto import cms
data = open(sys.argv[2], "rb").read(); at, _, _, entry = signature.table(data)
info = cms.ContentInfo.load(data[at + 8:at + 8 + signature.element_length(data[at + 8:])])
if sys.argv[4] == "relabel":  # the signer's algorithm named RSA, its ECDSA signature kept
    info["content"]["signer_infos"][0]["signature_algorithm"] = {"algorithm": "sha256_rsa"}
der = info.dump(force=True) if sys.argv[4] == "relabel" else b"\x30\x83\x00" + info.dump()[2:]  # ber: a longer length
if sys.argv[4].startswith("hidden"):  # bytes after the SignedData inside its [0], which asn1crypto reads past;
    # hidden80: as many as end the SEQUENCE's length in a byte 0x80, which asn1crypto's dump() takes for indefinite;
    # hiddenber: inside a [0] of an indefinite length
    from asn1crypto import core, parser; tlv = lambda tag, body: bytes([tag, 0x82]) + len(body).to_bytes(2, "big") + body
    contents = parser.parse(info.dump())[4]; oid = contents[:parser.peek(contents)]; hidden = b"\x04\x02hi"
    signed = parser.parse(contents[len(oid):])[4]
    while sys.argv[4] == "hidden80" and (len(oid) + 4 + len(signed) + len(hidden)) % 256 != 0x80:
        hidden = core.OctetString(hidden[2:] + b"h").dump()
    wrap = (lambda body: b"\xa0\x80" + body + bytes(2)) if sys.argv[4] == "hiddenber" else (lambda body: tlv(0xA0, body))
    der = tlv(0x30, oid + wrap(signed + hidden))
der += bytes(-len(der) % 8); image = bytearray(data[:at] + struct.pack("<IHH", 8 + len(der), 0x200, 2) + der)
struct.pack_into("<II", image, entry, at, 8 + len(der)); pe = pefile.PE(data=bytes(image), fast_load=True)
struct.pack_into("<I", image, pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum"), pe.generate_checksum())
open(sys.argv[3], "wb").write(image)
PY
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Contoso CRL" -keyout "$work/cdp.key" -out "$work/cdp.pem" \
        -addext "crlDistributionPoints=URI:$tsa/silent" 2> /dev/null && cat "$work/rsa.pem" "$work/cdp.pem" > "$work/roots.pem"
    settings=("-DLAUNCHER_SIGN_COMMAND=bash;$work/sign-row" -DLAUNCHER_SIGN_COMMAND_TIMEOUT=2 -DLAUNCHER_SIGN_ROOTS="$work/roots.pem")
    for row in "other@$sign -in $(printf %q "$PROBE_EXE") -out \"\$2\"@wrote another program than this build" \
        "flipped@cp \"\$1\" \"\$2.in\" && printf '\\x90' | dd of=\"\$2.in\" bs=1 seek=1100 conv=notrunc && $sign -in \"\$2.in\" -out \"\$2\"@the first difference is in section .text" \
        "blob@$sign -addUnauthenticatedBlob -in \"\$1\" -out \"\$2\"@wrote an unauthenticated blob" \
        "extra@$sign -ac $(printf %q "$work/ecdsa.pem") -in \"\$1\" -out \"\$2\"@wrote a certificate that is no part of the signer's chain (/CN=Contoso ecdsa)" \
        "md5@$sign -h md5 -in \"\$1\" -out \"\$2\"@wrote an MD5 digest" \
        "relabel@${sign//rsa./ecdsa.} -in \"\$1\" -out \"\$2.s\" && $rewrite \"\$2.s\" \"\$2\" relabel@(sha256_rsa) in the signature that is not its certificate's key's (ecdsa)" \
        "link@$sign -in \"\$1\" -out \"\$2.s\" && ln -s \"\$2.s\" \"\$2\"@as a symbolic link, not a file" \
        "replay@$sign -in \"\$1\" -out \"\$2.s\" && osslsigncode add -ts $tsa/replay -in \"\$2.s\" -out \"\$2\"@its timestamp is for another signature" \
        "forged@$sign -in \"\$1\" -out \"\$2.s\" && osslsigncode add -ts $tsa/untrusted -in \"\$2.s\" -out \"\$2\"@added is not taken: the authority /CN=Contoso TSA untrusted is not trusted" \
        "crl@${sign//rsa./cdp.} -in \"\$1\" -out \"\$2\"@within 30 days" \
        "silent@setsid sleep 600 > /dev/null 2>&1 & echo \$! > $(printf %q "$work/silent.pid")@exited 0 without writing its output" \
        "endless@setsid sleep 600 & echo \$! > $(printf %q "$work/endless.pid"); wait@did not end within LAUNCHER_SIGN_COMMAND_TIMEOUT (2 s)"; do
        IFS='@' read -r name body message <<< "$row"
        echo "$body" > "$work/sign-row"
        refused "" "$message" "${settings[@]}"
        settings=()
    done
    ! ps -o stat= -p "$(cat "$work/silent.pid" "$work/endless.pid" | paste -sd,)" | grep -qv Z ||
        fail "a process a signing command started lives on"  # (a zombie has ended)
    refused $'wr\xf6ng' "cannot read the certificate $work/cert.p12" -DLAUNCHER_SIGN_PKCS12="$work/cert.p12"
    refused wrong "token Contoso Token, key pkcs11:token=Contoso%20Token;object=rsa;type=private: the PIN in LAUNCHER_SIGN_PASSWORD is wrong" \
        "${token[@]}" -DLAUNCHER_SIGN_CERTS="$work/rsa.pem"
    refused "$LAUNCHER_SIGN_PASSWORD" "the certificate in $work/ecdsa.pem is not this key's" \
        "${token[@]}" -DLAUNCHER_SIGN_CERTS="$work/ecdsa.pem"
    # The publisher's release: the example's workflow preset in a copy of the
    # sources with this test's icon, token, authority and installer. What it
    # ships reproduces; a changed byte of code, signed again, does not.
    copy_sources "$work/source"
    make_icon "$SOURCE_DIR/tests/branding/icon.txt" "$work/publisher.ico"
    # Its installer signed with ECDSA, which Smart App Control blocks, its algorithm relabelled RSA.
    osslsigncode sign -certs "$work/ecdsa.pem" -key "$work/ecdsa.key" -in "$PROBE_EXE" -out "$work/installer.ec" > /dev/null
    /usr/bin/python3 "$work/rewrite.py" "$SOURCE_DIR/release" "$work/installer.ec" "$work/installer.exe" relabel
    python3 - "$work" "$work/installer.exe" "$tsa" <<'PY'
import json, sys
work, installer, tsa = sys.argv[1:]
presets = json.load(open(f"{work}/source/release/CMakeUserPresets.example.json"))
presets["configurePresets"][0]["cacheVariables"].update({
    "LAUNCHER_ICON": f"{work}/publisher.ico", "LAUNCHER_PRODUCT_NAME": "Contoso \u00c4tlas \u6771\u4eac \U0001f4c0 \U00010400; \"1\" \u001b[8m [Beta]",
    "LAUNCHER_COMPANY_NAME": "Contoso Ltd ",
    "LAUNCHER_SIGN_PKCS11_MODULE": "/usr/lib/softhsm/libsofthsm2.so", "LAUNCHER_SIGN_CERTS": f"{work}/rsa.pem",
    "LAUNCHER_SIGN_PKCS11_KEY": "pkcs11:token=Contoso%20Token;object=rsa;type=private",
    "LAUNCHER_SIGN_TIMESTAMP_URL": f"{tsa}/good", "LAUNCHER_SIGN_TIMESTAMP_CERTS": f"{work}/tsa.pem",
    "LAUNCHER_MEDIUM_INSTALLER": installer, "LAUNCHER_MEDIUM_FILES": ""})
json.dump(presets, open(f"{work}/source/CMakeUserPresets.json", "w"))
PY
    (cd "$work/source" && cmake --workflow --preset atlas-release) > "$work/release.log" 2>&1 ||
        fail "the example release failed: $(tail -5 "$work/release.log")"
    grep -qF "  windows/setup/setup.exe: signed with a non-RSA key" "$work/release.log" ||
        fail "the ECDSA-signed installer was not named"
    release=$work/source/build/atlas-release
    cp "$release/setup.unsigned.exe" "$work/changed.exe"
    printf '\x90' | dd of="$work/changed.exe" bs=1 seek=1100 conv=notrunc 2> /dev/null
    osslsigncode sign -certs "$work/rsa.pem" -key "$work/rsa.key" -in "$work/changed.exe" -out "$work/changed.signed.exe" > /dev/null
    # (It also verifies what it made: a private root is named, as the README says.)
    osslsigncode attach-signature -sigin "$release/setup.exe.sig" -in "$release/setup.unsigned.exe" \
        -CAfile "$work/rsa.pem" -TSA-CAfile "$work/tsa.pem" -out "$work/attached.exe" > /dev/null 2>&1 &&
        cmp "$work/attached.exe" "$release/setup.exe" ||
        fail "setup.exe.sig attached to the unsigned build is not the shipped file"
    # What verify.sh must never say yes to: signatures nested, padded, broken, with a blob or MD5; media with
    # UDF (a difference before any tree is walked, so a looping UDF tree too), two sessions, Rock Ridge, SETUP.EXE beside setup.exe, swapped ISO 9660 records or a folder's
    # record leading back to the root; and what it refuses in one line, at once, a dangling commit too.
    xorriso -osirrox on -indev "$release/medium.iso" -extract / "$work/tree.iso.d" 2> /dev/null
    chmod -R u+w "$work/tree.iso.d"
    xorriso -volid ATLAS_25 -joliet on -rockridge on -outdev "$work/rr.iso" -map "$work/tree.iso.d" / 2> /dev/null
    cp "$work/installer.exe" "$work/tree.iso.d/SETUP.EXE"
    echo > "$work/tree.iso.d/AUTORUN.INF"
    xorriso -joliet on -outdev "$work/twins.iso" -map "$work/tree.iso.d" / 2> /dev/null
    dangling=$(git -C "$work/source" -c user.name=verify -c user.email=verify@example.invalid commit-tree -m dangling "HEAD^{tree}")
    python3 - "$release" "$work" "$(git -C "$work/source" rev-parse HEAD)" "$dangling" <<'PY'
import re, sys; release, work, head, dangling = sys.argv[1:]
data = bytearray(open(f"{release}/medium.iso", "rb").read())
a, b = [found.start() - 33 for found in re.finditer(rb"(?<=\x0b)SETUP\.EXE;1", data)][:2]  # a record's name is at 33
for f in (2, 10): data[a + f:a + f + 8], data[b + f:b + f + 8] = data[b + f:b + f + 8], data[a + f:a + f + 8]  # extent, size
open(f"{work}/swapped.iso", "wb").write(data)
data = bytearray(open(f"{release}/medium.iso", "rb").read()); root = data[16 * 2048 + 158:16 * 2048 + 162]
at = data.index(b"\x07WINDOWS", int.from_bytes(root, "little") * 2048) - 32  # its record points back at the root
data[at + 2:at + 10] = root + root[::-1]
open(f"{work}/loop.iso", "wb").write(data)
data[19 * 2048:20 * 2048] = data[17 * 2048:18 * 2048]  # the Joliet descriptor again, after the terminator
open(f"{work}/late.iso", "wb").write(data)
image = open(f"{release}/setup.unsigned.exe", "rb").read()
open(f"{work}/dangling.exe", "wb").write(image.replace(head.encode("utf-16-le"), dangling.encode("utf-16-le")))
PY
    osslsigncode sign -nest -certs "$work/ecdsa.pem" -key "$work/ecdsa.key" -in "$release/setup.exe" -out "$work/nested.exe" > /dev/null &&
        osslsigncode add -addUnauthenticatedBlob -in "$release/setup.exe" -out "$work/blob.exe" > /dev/null &&
        osslsigncode sign -h md5 -certs "$work/rsa.pem" -key "$work/rsa.key" -in "$release/setup.unsigned.exe" -out "$work/md5.exe" > /dev/null
    python3 - "$release/setup.exe" "$work/padded.exe" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
security = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112) + 4 * 8
at, size = struct.unpack_from("<II", data, security)
struct.pack_into("<I", data, security + 4, size + 40) or struct.pack_into("<I", data, at, size + 40)
open(sys.argv[2], "wb").write(data + bytes(40))
PY
    cp "$release/medium.iso" "$work/udf.iso" && cp "$release/medium.iso" "$work/boot2.iso"
    cat "$release/medium.iso" "$release/medium.iso" > "$work/two.iso"
    for at in udf:19:BEA01 udf:20:NSR02 udf:21:TEA01 boot2:19:BOOT2 boot2:20:BEA01; do IFS=: read -r iso sector kind <<< "$at"
        printf '\0%s\1' "$kind" | dd of="$work/$iso.iso" bs=2048 seek="$sector" conv=notrunc 2> /dev/null; done
    head -c 3000 "$release/setup.exe" > "$work/truncated.exe"
    truncate -s 6G "$work/huge.exe"
    verified() {  # exit status, what it says, verify.sh's arguments
        status=0 && bash "${clone:-$SOURCE_DIR}/release/verify.sh" "${@:3}" > "$work/verify.log" 2>&1 || status=$?
        [ $status = "$1" ] && grep -qF "$2" "$work/verify.log" ||
            fail "verify.sh ${*:3}: $(cat "$work/verify.log")"
    }
    verified 0 "reproduced: the shipped setup.exe is exactly the build of commit" "$release/setup.exe"
    grep -qF "UTC by /CN=Contoso TSA good, not trusted by this system" "$work/verify.log" || fail "no timestamp authority named"
    # The release built with the pinned toolchain: this machine's where it is that (the line says which, and
    # why), else the root's. Rebuilt in the root, it reproduces whichever built it; a file built here
    # with another toolchain is named as such. No root to be had, or a pinned version the archive lacks,
    # is a check that cannot be made here (3), not a difference.
    pinning=("$SOURCE_DIR/release/toolchain.py" check "$SOURCE_DIR/release/toolchain.lock")
    grep -qxF -- "-- $(/usr/bin/python3 "${pinning[@]}")" "$work/release.log" || fail "the release does not say which toolchain built it"
    LAUNCHER_TOOLCHAIN=root verified 0 "reproduced: the medium is exactly" "$release/medium.iso"
    grep -qF "toolchain:  a root made from the pin (" "$work/verify.log" || fail "the medium was not rebuilt in the root"
    # verify.sh tells the linker apart as the image records it: its major and minor version.
    linker() { local major minor; IFS=. read -r major minor _ <<< "${1#*:}"; echo "$major.${minor%%[!0-9]*}"; }
    here=$(linker "$(dpkg-query -W -f='${Version}' binutils-mingw-w64-i686 2> /dev/null || true)")
    pinned=$(linker "$(awk '$1 == "package" && $2 == "binutils-mingw-w64-i686" {print $3}' "$SOURCE_DIR/release/toolchain.lock")")
    if /usr/bin/python3 "${pinning[@]}" > /dev/null; then verified 0 "reproduced: the shipped" "$work/rsa/setup.exe"
    elif [ "$here" != "$pinned" ]; then
        verified 1 "the shipped file was built outside the commit's pinned toolchain" "$work/rsa/setup.exe"
    else  # the pinned linker here, and other packages not: whichever the bytes say
        status=0 && bash "$SOURCE_DIR/release/verify.sh" "$work/rsa/setup.exe" > "$work/verify.log" 2>&1 || status=$?
        verdict=reproduced && [ $status = 0 ] || verdict="not reproduced"
        [ $status -le 1 ] && grep -q "^$verdict: " "$work/verify.log" || fail "verify.sh $work/rsa/setup.exe: $(cat "$work/verify.log")"
    fi
    LAUNCHER_TOOLCHAIN=root LAUNCHER_TOOLCHAIN_ROOTS="$work/roots" verified 3 "setup.exe: cannot be checked here: no " \
        --archive http://127.0.0.1:1/debian "$release/setup.exe"
    # Nor is a machine without a library the file is read with (-S: no dist-packages, as on a bare Debian).
    status=0 && /usr/bin/python3 -S "$SOURCE_DIR/release/verify.py" "$release/medium.iso" > "$work/verify.log" 2>&1 || status=$?
    [ $status = 3 ] && grep -qxF "verify.sh: cannot be checked here: reading the file takes Python's pycdlib, which is not installed (Debian: python3-pycdlib)" \
        "$work/verify.log" || fail "a missing library: $(cat "$work/verify.log")"
    mkdir "$work/bare" && for tool in git dpkg dpkg-query dirname; do ln -s "$(command -v $tool)" "$work/bare/$tool"; done
    status=0 && PATH="$work/bare" /bin/bash "$SOURCE_DIR/release/verify.sh" "$release/setup.exe" > "$work/verify.log" 2>&1 || status=$?
    [ $status = 3 ] && grep -qF "setup.exe: cannot be checked here: it takes wrestool, which is not installed (Debian: icoutils)" \
        "$work/verify.log" || fail "no wrestool: $(cat "$work/verify.log")"
    # A commit's pin is read strictly, whatever it holds: exit status, what check says (a row a pin).
    while IFS='|' read -r expected said lines; do
        printf 'release bookworm\nsnapshot 2026-12-11T04:33:14Z\n%b' "${lines#many}" > "$work/hostile.lock"
        [ "$lines" != many ] || /usr/bin/python3 -c 'for n in range(200000): print(f"package p{n:06d} 1")' >> "$work/hostile.lock"
        status=0 && /usr/bin/python3 "$SOURCE_DIR/release/toolchain.py" check "$work/hostile.lock" > "$work/hostile.log" 2>&1 ||
            status=$?
        [ $status = "$expected" ] && grep -qF -- "$said" "$work/hostile.log" || fail "pin ${lines}: $(cat "$work/hostile.log")"
    done <<'ROWS'
125|not a line of a pin: 'package make 4.3-4.1 --yes'|package make 4.3-4.1 --yes\n
125|not a line of a pin: 'package make 4.3-4.1'|package make 4.3-4.1\npackage make 4.3-4.1\n
125|not a line of a pin: 'package -o=x 1'|package -o=x 1\n
125|not a line of a pin: 'release ../sid'|release ../sid\npackage make 4.3-4.1\n
1|since this machine's p000000 is not installed (pinned: 1)|many
ROWS
    sed 's/^\(package make \).*/\10-gone/' "$SOURCE_DIR/release/toolchain.lock" > "$work/gone.lock"
    status=0 && LAUNCHER_TOOLCHAIN_ROOTS="$work/roots" /usr/bin/python3 "$SOURCE_DIR/release/toolchain.py" run "$work/gone.lock" \
        -- true 2> "$work/gone.log" || status=$?
    [ $status = 125 ] && grep -qF "the pinned make 0-gone is not in http://" "$work/gone.log" &&
        [ -z "$(find "$work/roots" -mindepth 1 ! -name '*.lock')" ] || fail "a missing pinned version: $(cat "$work/gone.log")"
    # A chroot of a plain folder has no mount point at /, so no mount made there can be kept private: that
    # is no root to be had, said in one line (the folder here is /usr and the checkout bound into one).
    if [ "$(id -u)" = 0 ]; then
        mkdir -p "$work/chroot/usr" "$work/chroot/proc" "$work/chroot$SOURCE_DIR"
        for link in bin lib lib64 sbin; do [ ! -e "/$link" ] || ln -s "usr/$link" "$work/chroot/$link"; done
        status=0 && unshare --mount sh -c 'mount --rbind /usr "$1/usr" && mount --rbind "$2" "$1$2" && mount -t proc proc "$1/proc" &&
            exec chroot "$1" /usr/bin/python3 "$2/release/toolchain.py" run "$2/release/toolchain.lock" -- true' \
            sh "$work/chroot" "$SOURCE_DIR" > "$work/chroot.log" 2>&1 || status=$?
        [ $status = 125 ] && grep -qxF "toolchain.py: the root's mounts cannot be kept private: / is not a mount point (in a chroot: bind-mount its folder on itself before entering it)" \
            "$work/chroot.log" || fail "a chroot of a plain folder: exit status $status: $(cat "$work/chroot.log")"
    fi
    # A kept root that no longer holds the pin (changed since it was made) is not built in.
    kept="$work/roots/toolchain-bookworm-$(/usr/bin/python3 -c 'import hashlib, sys
print(hashlib.sha256(open(sys.argv[1], "rb").read() + b"\0" + sys.argv[2].encode()).hexdigest()[:16])' \
        "$SOURCE_DIR/release/toolchain.lock" file:/nowhere)"
    mkdir -p "$kept/var/lib/dpkg" && : > "$kept/var/lib/dpkg/status"
    status=0 && LAUNCHER_TOOLCHAIN_ROOTS="$work/roots" /usr/bin/python3 "$SOURCE_DIR/release/toolchain.py" run \
        "$SOURCE_DIR/release/toolchain.lock" --archive file:/nowhere -- true 2> "$work/kept.log" || status=$?
    [ $status = 125 ] && grep -qF "it was changed after it was made" "$work/kept.log" || fail "a changed root: $(cat "$work/kept.log")"
    rm -r "$kept"
    # The sources inside the build folder are still read-only in the root, the build folder written.
    mkdir -p "$work/nest/src" && /usr/bin/python3 "$SOURCE_DIR/release/toolchain.py" run "$SOURCE_DIR/release/toolchain.lock" \
        --read "$work/nest/src" --write "$work/nest" -- sh -c '! touch "$0/src/x" 2> /dev/null && touch "$0/y"' "$work/nest" &&
        [ -f "$work/nest/y" ] && [ ! -e "$work/nest/src/x" ] || fail "the sources inside the build folder were written in the root"
    (cd "$work/source" && cmake --workflow --preset atlas-deployment) > "$work/release.log" 2>&1 &&
        verified 0 "rebuilding: preset windows, a deployment build" "$work/source/build/atlas-deployment/setup.exe" &&
        grep -qF "reproduced: the shipped" "$work/verify.log" || fail "the deployment release: $(tail -3 "$work/release.log")"
    grep -qF '"1" \x1b[8m' "$work/verify.log" && ! grep -q $'\e' "$work/verify.log" || fail "a control character was printed"
    verified 0 "the publisher's: the installer and the further files" "$release/medium.iso"
    verified 0 "reproduced: the medium is exactly" --installer "$work/installer.exe" "$release/medium.iso"
    verified 1 "not reproduced: the first difference of the medium: the file /windows/setup/setup.exe" \
        --installer "$work/cert.pem" "$release/medium.iso"
    verified 1 "not reproduced: the first difference is in section .text" "$work/changed.signed.exe"
    verified 1 "not reproduced: the file holds a nested signature by /CN=Contoso ecdsa" "$work/nested.exe"
    verified 1 "not reproduced: the file holds a certificate table that holds 40 bytes more than its signature" "$work/padded.exe"
    verified 1 "not reproduced: its signature is broken: the file is not what was signed" "$work/flipped.exe"
    verified 1 "not reproduced: the file holds an unauthenticated blob" "$work/blob.exe"
    verified 1 "not reproduced: the file holds an MD5 digest" "$work/md5.exe"
    verified 1 "the medium holds a directory record that leads to a folder already in its tree" "$work/loop.iso"
    verified 1 "not reproduced: the medium holds a volume recognition sequence entry BEA01 (UDF)" "$work/udf.iso"
    verified 1 "not reproduced: the medium holds a volume recognition sequence entry BOOT2 (UDF)" "$work/boot2.iso"
    verified 1 "the medium holds the supplementary volume descriptor (Joliet), where the build writes none" "$work/late.iso"
    for hidden in hidden hidden80 hiddenber; do
        /usr/bin/python3 "$work/rewrite.py" "$SOURCE_DIR/release" "$release/setup.exe" "$work/$hidden.exe" $hidden
        verified 1 "not reproduced: the file holds bytes after a value inside its tag in the signature" "$work/$hidden.exe"
    done
    verified 1 "bytes after the end of the image the build writes (a second session, or more)" "$work/two.iso"
    verified 1 "the first difference of the medium: the primary volume descriptor (ISO 9660)" "$work/rr.iso"
    verified 1 "SETUP.EXE: stands in for the medium's own setup.exe" "$work/twins.iso"
    verified 1 "the first difference of the medium: the ISO 9660 directory record /SETUP.EXE;1" "$work/swapped.iso"
    # (From the copy, whose object store holds the dangling commit: a clone's own, or a worktree's shared one.)
    clone=$work/source verified 2 "commit $dangling is on no branch or tag of this clone" "$work/dangling.exe"
    verified 2 "verify.sh: $work/cert.pem: not a PE image" "$work/cert.pem"
    verified 2 "but not a launcher of this project: it imports" "$PROBE_EXE"
    verified 2 "verify.sh: $work/truncated.exe: a PE image cut short: 3000 bytes of" "$work/truncated.exe"
    verified 2 "larger than any launcher can be" "$work/huge.exe"
    verified 2 "verify.sh: --installer $work/none.exe: no such file" --installer "$work/none.exe" "$release/medium.iso"
    verified 2 "verify.sh: --installer $work/tsa: a folder, not a file" --installer "$work/tsa" "$release/medium.iso"
    # Signatures and timestamps as the field's signers and authorities make them, each signed, verified and
    # reproduced, stamped by the chained authority: Debian 12's osslsigncode 2.5 (fetched, not installed),
    # sbsign signing its input in place, pesign (its checksum stale), a length in long form, a stale checksum.
    old=osslsigncode fielded=""
    (cd "$work" && apt-get download osslsigncode=2.5-4 && dpkg -x osslsigncode_2.5-4_*.deb o25) > /dev/null 2>&1 &&
        old=$work/o25/usr/bin/osslsigncode || echo "signed: apt offers no osslsigncode 2.5 here: its row signs with the installed one"
    # (Debian 13's pesign writes the signer's certificate alone, no CA: its publisher is the root's own.)
    issue pesigner "/CN=Contoso Test Pesign Publisher" cert extendedKeyUsage=codeSigning &&
        openssl pkcs12 -export -inkey "$work/pesigner.key" -in "$work/pesigner.pem" -certfile "$work/cert.pem" \
            -name publisher -out "$work/pesign.p12" -passout env:LAUNCHER_SIGN_PASSWORD
    mkdir "$work/nss" && certutil -N -d "$work/nss" --empty-password &&
        pk12util -i "$work/pesign.p12" -d "$work/nss" -W "$LAUNCHER_SIGN_PASSWORD" > /dev/null
    # (Not ${sign/osslsigncode/...}: an '&' in the replacement, as in a path, stands for what it replaces.)
    sign_with() { printf '%q sign -h sha256 -certs %q -key %q' "$1" "$work/publisher-chain.pem" "$work/publisher.key"; }
    sign=$(sign_with osslsigncode)
    field=("-DLAUNCHER_SIGN_COMMAND=bash;$work/sign-row" -DLAUNCHER_SIGN_ROOTS="$work/cert.pem" -DLAUNCHER_TOOLCHAIN=pinned
           "-DLAUNCHER_SIGN_TIMESTAMP_URL=$tsa/chained" -DLAUNCHER_SIGN_TIMESTAMP_CERTS="$work/tsa.pem")
    for row in "osslsigncode 2.5@$(sign_with "$old") -in \"\$1\" -out \"\$2\"" \
        "sbsign@sbsign --key $(printf '%q --cert %q --addcert %q' "$work/publisher.key" "$work/publisher.pem" "$work/ca.pem") --output \"\$1\" \"\$1\" && cp \"\$1\" \"\$2\"" \
        "pesign@pesign -n $(printf %q "$work/nss") -c publisher -s -i \"\$1\" -o \"\$2\"" \
        "ber@$sign -in \"\$1\" -out \"\$2.s\" && $rewrite \"\$2.s\" \"\$2\" ber" \
        "checksum@$sign -in \"\$1\" -out \"\$2\" && printf x | dd of=\"\$2\" bs=1 seek=\$((\$(od -An -tu4 -j60 -N4 \"\$1\") + 88)) conv=notrunc"; do
        IFS='@' read -r name body <<< "$row"
        echo "$body" > "$work/sign-row" && rm -f "$work/field/setup.exe"
        build "$work/field" "${field[@]}"
        field=()
        osslsigncode verify -in "$work/field/setup.exe" -CAfile "$work/cert.pem" -TSA-CAfile "$work/tsa.pem" > "$work/field.log" 2>&1 ||
            fail "$name: the signature does not verify: $(tail -3 "$work/field.log")"
        verified 0 "reproduced: the shipped setup.exe is exactly the build" "$work/field/setup.exe"
        rm -f "$work/attached.exe" && osslsigncode attach-signature -sigin "$work/field/setup.exe.sig" -CAfile "$work/cert.pem" \
            -TSA-CAfile "$work/tsa.pem" -in "$work/field/setup.unsigned.exe" -out "$work/attached.exe" > /dev/null 2>&1 &&
            cmp -s "$work/attached.exe" "$work/field/setup.exe" || fail "$name: setup.exe.sig attached to the unsigned build is not setup.exe"
        grep -qF "UTC by /CN=Contoso TSA chained" "$work/verify.log" || fail "$name: not stamped by the chained authority"
        fielded+=", $name"
    done
    verified 0 "reproduced: the shipped setup.exe is exactly the build" "$exe"  # the PKCS#12 bag's chain
    ! osslsigncode extract-signature -in "$work/field/setup.unsigned.exe" -out "$work/unsigned.sig" > /dev/null 2>&1 ||
        fail "a command that signs in place signed setup.unsigned.exe"
    mkdir "$work/tmp"
    for number in HUP TERM; do  # a check stopped halfway leaves no temporary folder
        TMPDIR="$work/tmp" bash "$SOURCE_DIR/release/verify.sh" "$release/medium.iso" > /dev/null 2>&1 &
        # (Stopped once its temporary folder is there: the check is then halfway, whatever its speed.)
        until [ -n "$(ls -A "$work/tmp")" ] || ! kill -0 $! 2> /dev/null; do sleep 0.05; done
        kill -$number $! && ! wait $! && [ -z "$(ls -A "$work/tmp")" ] || fail "SIG$number left $(ls "$work/tmp")"
    done
    # Stopped while the root it rebuilds in is being made: no half-made root is left either.
    # (One that ended first, as when the archive fails it, is named, and must have left nothing either.)
    LAUNCHER_TOOLCHAIN=root LAUNCHER_TOOLCHAIN_ROOTS="$work/fresh" bash "$SOURCE_DIR/release/verify.sh" \
        "$release/setup.exe" > "$work/stopped.log" 2>&1 &
    until compgen -G "$work/fresh/*.partial-*" > /dev/null || ! kill -0 $! 2> /dev/null; do sleep 0.05; done
    kill -TERM $! 2> /dev/null || echo "signed: the check ended before it was stopped: $(tail -n1 "$work/stopped.log")"
    status=0 && wait $! || status=$?
    [ $status != 0 ] && [ -z "$(find "$work/fresh" -mindepth 1 ! -name '*.lock')" ] ||
        fail "a check stopped while its root was made (exit status $status) left $(ls "$work/fresh")"
    /usr/bin/python3 - "$SOURCE_DIR/release" "$release/setup.exe" <<'PY' || fail "a mutated image made verify.sh fail"
import random, sys; sys.path.insert(0, sys.argv[1]); import pe_image, pefile, signature
data, chance = open(sys.argv[2], "rb").read(), random.Random(25)
for _ in range(300):  # four bytes in the headers, where the readers look most, and four anywhere
    image = bytearray(data)
    for at in chance.sample(range(0x400), 4) + chance.sample(range(len(data)), 4):
        image[at] = chance.randrange(256)
    try: pe_image.inspect(bytes(image)) and signature.read(bytes(image))
    except (pe_image.NotLauncher, pefile.PEFormatError): pass
PY
    echo "signed: PKCS#12 $(stat -c %s "$exe") bytes$sizes; signed, verified and reproduced: the PKCS#12 chain$fielded"
    ;;
deployment)
    # The build for deployment tools, which its own end-to-end cases start:
    # KERNEL32 alone, hardened, the same manifest, within its size, and
    # saying in its version information what it is.
    build "$work/tree" -DLAUNCHER_DEPLOYMENT=ON
    limit=11264 && [ "${PROCESSOR:-i686}" = i686 ] || limit=11776
    for check in imports hardening manifest "size $limit"; do
        read -r check limit_argument <<<"$check"
        bash "$SOURCE_DIR/tests/image_checks.sh" "$check" "$work/tree/setup.exe" $limit_argument
    done
    wrestool -x --raw --type=16 --name=1 "$work/tree/setup.exe" | iconv -c -f UTF-16LE -t UTF-8 | tr '\0' '\n' |
        grep -q '^deployment build, commit ' || fail "its version information does not say it is a deployment build"
    ;;
medium)
    # The publisher's installer is the probe; further files in a folder: the
    # longest name and path the medium holds, a character outside the BMP,
    # an empty folder, a file in the medium's own windows\setup, names made
    # on a Mac (decomposed), beside their composed twins, and names that
    # differ in letters Windows does not fold (dotless i).
    letters() { printf "$1%.0s" $(seq "$2"); }
    deep="docs/$(letters d 100)/$(letters e 100)/$(letters f 33)"  # 240 characters
    mkdir -p "$work/further/docs/empty" "$work/further/${deep%/*}" "$work/further/windows/setup"
    for file in README.txt "docs/Guide – for Joliet.txt" "Disc 📀.txt" "$(letters n 99).txt" \
                "$deep" windows/setup/extra.dll $'Re\xcc\x81sume\xcc\x81.pdf' Café.txt $'Cafe\xcc\x81.txt' kapı.txt kapi.txt; do
        echo "$file" > "$work/further/$file"
    done
    # A program with too few data directories for a certificate table: unsigned.
    /usr/bin/python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); o = int.from_bytes(d[60:64], "little") + 24
o += 92 if d[o:o + 2] == b"\x0b\x01" else 108; d[o:o + 4] = (4).to_bytes(4, "little"); open(sys.argv[2], "wb").write(d)' \
        "$PROBE_EXE" "$work/further/windows/setup/extra.dll"
    medium() {  # build tree, then cache settings
        TARGET=medium build "$@" -DLAUNCHER_MEDIUM_INSTALLER="$PROBE_EXE" \
            -DLAUNCHER_MEDIUM_FILES="$work/further" -DLAUNCHER_MEDIUM_LABEL=ATLAS_25
    }
    medium "$work/first"
    bare=(env -i "PATH=$PATH" "HOME=$HOME")  # no locale at all
    medium "$work/second"
    bare=()
    iso="$work/first/medium.iso"
    cmp "$iso" "$work/second/medium.iso" || fail "two builds of the medium differ"
    # Laid out in the pinned toolchain's root, which sees the publisher's files as they are: the same bytes
    # where this machine's toolchain is the pinned one.
    medium "$work/pinned" -DLAUNCHER_TOOLCHAIN=root
    ! /usr/bin/python3 "$SOURCE_DIR/release/toolchain.py" check "$SOURCE_DIR/release/toolchain.lock" > /dev/null ||
        cmp "$iso" "$work/pinned/medium.iso" || fail "the medium laid out in the pinned toolchain's root differs"
    # Every name, folder and byte read back through the Joliet tree.
    rm -rf "$work/extracted"
    xorriso -local_charset UTF-8 -osirrox on -indev "$iso" -extract / "$work/extracted" 2> /dev/null
    chmod -R u+w "$work/extracted"
    differences=$(diff -r "$work/further" "$work/extracted" | grep -vxF -e "Only in $work/extracted: autorun.inf" \
        -e "Only in $work/extracted: setup.exe" -e "Only in $work/extracted/windows/setup: setup.exe" || true)
    [ -z "$differences" ] || fail "the medium differs from the further files: $differences"
    xorriso -read_fs nojoliet -indev "$iso" -find / -type f 2> /dev/null | grep -qx "'/SETUP.EXE'" ||
        fail "no ISO 9660 names"
    [ "$(cat "$work/extracted/autorun.inf")" = $'[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\nlabel=ATLAS_25\r' ] ||
        fail "autorun.inf holds: $(cat -A "$work/extracted/autorun.inf")"
    cmp "$work/extracted/setup.exe" "$work/first/setup.exe" || fail "the medium's setup.exe is not the one built"
    cmp "$work/extracted/windows/setup/setup.exe" "$PROBE_EXE" || fail "the installer is not the publisher's"
    # A tree Windows would not read back exactly is refused, every offending
    # path named, and the medium built before is gone. Rows: kind (f file,
    # l symbolic link, p FIFO, u unreadable), path[ => the path named].
    bad_rows=("f $(letters n 100).txt" "f Readme.txt" "f README.TXT => -" "f Windows/Drivers/atlas.inf => Windows"
        "f windows/Setup/x.dll => windows/Setup" "f AutoRun.inf" "f a<b" "f a>b" "f a:b" 'f a"b' 'f a\b' "f a|b"
        "f a?b" "f a*b" "f a;b" $'f ctl\x01 => ctl\\x01' $'f caf\xe9 => caf\\xe9' "f trail." "f trail "
        "f con" "f nul.txt" "f Com1.tar.gz" "f LPT9" "l link" "p fifo" "f $deep/x" "f ᾳ.txt => -" "f ᾼ.txt")
    [ "$(id -u)" = 0 ] || bad_rows+=("u secret.txt")
    for row in "${bad_rows[@]}"; do
        kind=${row%% *} path=${row#* } && path=${path% => *}
        mkdir -p "$work/bad/$(dirname "$path")"
        case $kind in
        l) ln -s README.txt "$work/bad/$path" ;;
        p) mkfifo "$work/bad/$path" ;;
        f) touch "$work/bad/$path" ;;
        u) touch "$work/bad/$path"; chmod 000 "$work/bad/$path" ;;
        esac
    done
    ! (TARGET=medium build "$work/second" -DLAUNCHER_MEDIUM_FILES="$work/bad") 2> /dev/null ||
        fail "a tree with unfit names was laid out"
    for row in "${bad_rows[@]}"; do
        named=${row#* } && named=${named#* => }
        [ "$named" = - ] || grep -qF "  $named: " "$work/second.log" || fail "the refusal does not name $named"
    done
    [ ! -e "$work/second/medium" ] && [ ! -e "$work/second/medium.iso" ] || fail "a refused medium was left"
    # Without an installer the target stops, saying why.
    configure "$work/none" || fail "configure failed: $(tail -5 "$work/none.log")"
    ! cmake --build "$work/none" --target medium > "$work/none.log" 2>&1 ||
        fail "a medium was written without an installer"
    grep -qF "no installer named: set LAUNCHER_MEDIUM_INSTALLER" "$work/none.log" ||
        fail "no clear message: $(tail -3 "$work/none.log")"
    # The programs Smart App Control would block are named; with
    # LAUNCHER_MEDIUM_REQUIRE_SIGNED they are refused, as is a label longer
    # than Joliet holds.
    for program in windows/setup/setup.exe windows/setup/extra.dll; do
        grep -qF "  $program: unsigned" "$work/first.log" || fail "the unsigned $program was not named"
    done
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=x -keyout "$work/k.pem" -out "$work/c.pem" 2> /dev/null
    osslsigncode sign -certs "$work/c.pem" -key "$work/k.pem" -in "$PROBE_EXE" -out "$work/broken.exe" > /dev/null &&
        printf '\x90' | dd of="$work/broken.exe" bs=1 seek=1100 conv=notrunc 2> /dev/null
    for row in "LAUNCHER_MEDIUM_INSTALLER=$PROBE_EXE:  windows/setup/setup.exe: unsigned" \
               "LAUNCHER_MEDIUM_INSTALLER=$work/broken.exe:  windows/setup/setup.exe: its signature is broken" \
               "LAUNCHER_MEDIUM_LABEL=ATLAS_2026_EDITION:a label is 1 to 16 of A-Z, 0-9 and _"; do
        rm -rf "$work/refused"
        ! (TARGET=medium build "$work/refused" -DLAUNCHER_MEDIUM_INSTALLER="$PROBE_EXE" -DLAUNCHER_MEDIUM_REQUIRE_SIGNED=ON \
            -D"${row%%:*}") 2> /dev/null &&
            grep -qF "${row#*:}" "$work/refused.log" ||
            fail "${row%%:*} was not refused: $(tail -3 "$work/refused.log")"
    done
    # The extracted tree's launcher starts its installer.
    status=0
    bash "$SOURCE_DIR/cmake/wine_run.sh" "$PROCESSOR" "$WINE_PREFIX" env E2E_DIR="$work/e2e" \
        MEDIUM_TREE="$work/extracted" bash "$SOURCE_DIR/tests/e2e/run_case.sh" extracted_medium ||
        status=$?
    [ "$status" = 0 ] || [ "$status" = 77 ] || fail "the extracted medium's launcher failed"
    echo "medium.iso: $(stat -c %s "$iso") bytes"
    ;;
*)
    fail "no such mode"
    ;;
esac
echo "ok $mode"
