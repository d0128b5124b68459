#!/usr/bin/env bash
# Makes the shipped setup.exe from the linked one: signed with SHA-256
# Authenticode, verified, then timestamped where servers are named, and
# verified again as it will be after the certificate has expired. It is
# written under a temporary name and renamed into place only once verified;
# whatever ends this script early, nothing unsigned or unstamped is left
# under the signed name, and the build signs again next time.
#
# The key is in a PKCS#12 file, or held in a token and reached through its
# vendor's PKCS#11 module. The file's password or the token's PIN is
# LAUNCHER_SIGN_PASSWORD's, read from the environment and handed over
# through a pipe or by the variable's name: it is on no command line and in
# no file, and it is tried once. Timestamping needs no key, so a server that
# fails never costs a second use of the PIN.
#
# usage: sign.sh LINKED EXE PRODUCT_NAME URL TIMESTAMP_URLS TIMESTAMP_CERTS pkcs12 PKCS12
#        sign.sh LINKED EXE PRODUCT_NAME URL TIMESTAMP_URLS TIMESTAMP_CERTS pkcs11 KEY_URI MODULE CERTS
# (URL, TIMESTAMP_URLS (a ;-list) and TIMESTAMP_CERTS may be empty)
# Environment: OSSLSIGNCODE (the tool), LAUNCHER_SIGN_TIMESTAMP_WAIT (seconds
# a server may take, 60) and LAUNCHER_SIGN_TIMESTAMP_PAUSE (seconds between
# rounds over the servers, 10).
set -euo pipefail
linked=$1 exe=$2 product=$3 url=$4 certificate=
IFS=';' read -ra servers <<<"$5"
timestamp_certs=$6
shift 6
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
wait=${LAUNCHER_SIGN_TIMESTAMP_WAIT:-60} pause=${LAUNCHER_SIGN_TIMESTAMP_PAUSE:-10} rounds=3
signed=$exe.signing stamped=$exe.stamping chain=$exe.chain.pem signer=$exe.signer.pem
timestamp_roots=$exe.timestamp-roots.pem detached=$exe.sig.partial
temporaries=("$signed" "$stamped" "$chain" "$signer" "$timestamp_roots" "$detached")
# An earlier build killed halfway may have left any of these.
rm -f "$exe" "$exe.sig" "${temporaries[@]}"
trap 'status=$?; rm -f "${temporaries[@]}"; [ $status = 0 ] || rm -f "$exe" "$exe.sig"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
fail() {
    echo "$exe: not signed, and removed: $*" >&2
    exit 1
}
export LAUNCHER_SIGN_PASSWORD=${LAUNCHER_SIGN_PASSWORD-}

options=(-h sha256 -n "$product")
[ -z "$LAUNCHER_SIGN_PASSWORD" ] || options+=(-readpass /dev/stdin)
[ -z "$url" ] || options+=(-i "$url")
# In a session of its own, with no terminal to ask on: a password or PIN
# that is missing or wrong is never asked for again.
sign() {  # osslsigncode's own options for the key
    printf '%s' "$LAUNCHER_SIGN_PASSWORD" |
        setsid -w "$osslsigncode" sign "$@" "${options[@]}" -in "$linked" -out "$signed" 2>&1
}

case $1 in
pkcs12)
    certificate=$2
    if ! said=$(sign -pkcs12 "$certificate"); then
        case "$said" in
        *PKCS#12*) fail "cannot read the certificate $certificate: not a PKCS#12 file, or not the password in LAUNCHER_SIGN_PASSWORD" ;;
        *) fail "signing with $certificate failed: $(tail -2 <<<"$said" | tr '\n' ' ')" ;;
        esac
    fi
    for legacy in "" -legacy; do
        openssl pkcs12 $legacy -in "$certificate" -passin env:LAUNCHER_SIGN_PASSWORD -nokeys \
            -out "$chain" 2> /dev/null &&
            openssl pkcs12 $legacy -in "$certificate" -passin env:LAUNCHER_SIGN_PASSWORD -nokeys \
                -clcerts -out "$signer" 2> /dev/null && break
    done
    ;;
pkcs11)
    key=$2 module=$3 certificate=$4
    # The token's label, percent-decoded, names it in messages.
    token=$(sed -n 's/^pkcs11:\(.*;\)\{0,1\}token=\([^;?]*\).*/\2/p' <<<"$key")
    token=$(printf '%b' "${token//%/\\x}")
    if ! said=$(sign -pkcs11module "$module" -certs "$certificate" -key "$key"); then
        case "$said" in
        *"PIN incorrect"*) reason="the PIN in LAUNCHER_SIGN_PASSWORD is wrong (not tried again: tokens lock after a few)" ;;
        *"PIN locked"*) reason="the token is locked after too many wrong PINs" ;;
        *"No PIN code was entered"*) reason="it asks for a PIN: set LAUNCHER_SIGN_PASSWORD" ;;
        *"No matching initialized token"*) reason="no such token is present: is it plugged in, and is token= its label?" ;;
        *"Unable to load"*"module"*) reason="the module $module cannot be loaded" ;;
        *"Failed to find and load 'pkcs11' engine"*) reason="OpenSSL's pkcs11 engine is not installed (libengine-pkcs11-openssl)" ;;
        *"consistency of a private key"*) reason="the certificate in $certificate is not this key's" ;;
        *"object not found"* | *"private key was not found"*) reason="the token holds no such key" ;;
        *) reason="signing failed: $(tail -2 <<<"$said" | tr '\n' ' ')" ;;
        esac
        fail "${token:+token $token, }key $key: $reason"
    fi
    cp "$certificate" "$chain"
    openssl x509 -in "$certificate" -out "$signer"  # the first certificate: the key's
    ;;
esac

# Verified against the signer's certificates and the system's roots; a
# timestamp against the system's roots and the private authority's, if any.
roots=/etc/ssl/certs/ca-certificates.crt
[ ! -f "$roots" ] || cat "$roots" >> "$chain"
{ [ ! -f "$roots" ] || cat "$roots"; [ -z "$timestamp_certs" ] || cat "$timestamp_certs"; } > "$timestamp_roots"
verify() {  # file, further options
    "$osslsigncode" verify -in "$1" -CAfile "$chain" -TSA-CAfile "$timestamp_roots" "${@:2}" 2>&1
}
said=$(verify "$signed") ||
    fail "the signature made with $certificate does not verify: $(tail -3 <<<"$said" | tr '\n' ' ')"

if [ ${#servers[@]} -gt 0 ]; then
    # Servers fail now and then: each is tried in turn, each for a bounded
    # time, and the whole list again after a pause, a few rounds at most.
    declare -A last_reason
    round=0
    while [ ! -s "$stamped" ]; do
        if [ $round = $rounds ]; then
            reasons=$(for server in "${servers[@]}"; do printf '; %s: %s' "$server" "${last_reason[$server]}"; done)
            fail "no timestamp server answered in $rounds rounds${reasons}"
        fi
        [ $round = 0 ] || sleep "$pause"
        round=$((round + 1))
        for server in "${servers[@]}"; do
            rm -f "$stamped"
            status=0
            said=$(timeout --foreground -k 5 "$wait" "$osslsigncode" add -ts "$server" -in "$signed" -out "$stamped" 2>&1) ||
                status=$?
            if [ $status = 0 ] && [ -s "$stamped" ]; then
                break
            fi
            rm -f "$stamped"
            case $status:$said in
            124:* | 137:*) last_reason[$server]="no answer within $wait s" ;;
            *"Connection refused"* | *"Couldn't connect"*) last_reason[$server]="refused the connection" ;;
            *"resolve"* | *"Name or service not known"*) last_reason[$server]="no such host" ;;
            *) last_reason[$server]="$(grep -v '^\s*$' <<<"$said" | tail -2 | tr '\n' ' ')" ;;
            esac
        done
    done
    status=0
    said=$(verify "$stamped") || status=$?
    if [ $status != 0 ] || grep -q 'Timestamp Server Signature verification: failed' <<<"$said"; then
        fail "the timestamp from $server does not verify against the system's roots${timestamp_certs:+ and $timestamp_certs}" \
            "($(grep -m1 -oE '(Verify error|Error): .*' <<<"$said")): a private authority's root goes in LAUNCHER_SIGN_TIMESTAMP_CERTS"
    fi
    # As Windows will judge it once the certificate has expired.
    expiry=$(date -d "$(openssl x509 -in "$signer" -noout -enddate | cut -d= -f2)" +%s)
    said=$(verify "$stamped" -time $((expiry + 86400))) ||
        fail "the signature would die with the certificate on $(date -u -d "@$expiry"): it does not verify after that with the timestamp from $server"
    mv "$stamped" "$signed"
fi
# The signature alone, beside the file: attached to the unsigned build it
# gives the shipped file, byte for byte, so anyone with the sources can make
# it again.
said=$("$osslsigncode" extract-signature -in "$signed" -out "$detached" 2>&1) ||
    fail "its signature cannot be written apart: $said"
mv "$detached" "$exe.sig"
mv "$signed" "$exe"
