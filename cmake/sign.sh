#!/usr/bin/env bash
# Signs setup.exe in place with SHA-256 Authenticode and verifies the
# signature, or removes it: no unsigned file is ever left under the signed
# name. The key is in a PKCS#12 file, or held in a token and reached through
# its vendor's PKCS#11 module. The file's password or the token's PIN is
# LAUNCHER_SIGN_PASSWORD's, read from the environment and handed over through
# a pipe or by the variable's name: it is on no command line and in no file,
# and it is tried once.
#
# usage: sign.sh EXE PRODUCT_NAME URL TIMESTAMP_URL pkcs12 PKCS12
#        sign.sh EXE PRODUCT_NAME URL TIMESTAMP_URL pkcs11 KEY_URI MODULE CERTS
# (URL and TIMESTAMP_URL may be empty)
set -euo pipefail
exe=$1
signed=$exe.signing
chain=$exe.chain.pem
fail() {
    rm -f "$exe" "$signed" "$chain"
    echo "$exe: not signed, and removed: $*" >&2
    exit 1
}
export LAUNCHER_SIGN_PASSWORD=${LAUNCHER_SIGN_PASSWORD-}

options=(-h sha256 -n "$2")
[ -z "$LAUNCHER_SIGN_PASSWORD" ] || options+=(-readpass /dev/stdin)
[ -z "$3" ] || options+=(-i "$3")
[ -z "$4" ] || options+=(-ts "$4")
# In a session of its own, with no terminal to ask on: a password or PIN
# that is missing or wrong is never asked for again.
sign() {  # osslsigncode's own options for the key
    printf '%s' "$LAUNCHER_SIGN_PASSWORD" |
        setsid -w osslsigncode sign "$@" "${options[@]}" -in "$exe" -out "$signed" 2>&1
}

case $5 in
pkcs12)
    certificate=$6
    if ! said=$(sign -pkcs12 "$certificate"); then
        case "$said" in
        *PKCS#12*) fail "cannot read the certificate $certificate: not a PKCS#12 file, or not the password in LAUNCHER_SIGN_PASSWORD" ;;
        *) fail "signing with $certificate failed${4:+ (timestamp server $4)}: $(tail -2 <<<"$said" | tr '\n' ' ')" ;;
        esac
    fi
    for legacy in "" -legacy; do
        openssl pkcs12 $legacy -in "$certificate" -passin env:LAUNCHER_SIGN_PASSWORD -nokeys \
            -out "$chain" 2> /dev/null && break
    done
    ;;
pkcs11)
    key=$6 module=$7 certificate=$8
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
        *) reason="signing failed${4:+ (timestamp server $4)}: $(tail -2 <<<"$said" | tr '\n' ' ')" ;;
        esac
        fail "${token:+token $token, }key $key: $reason"
    fi
    cp "$certificate" "$chain"
    ;;
esac

# Verified against the signer's certificates and the system's roots (the
# timestamp is its server's to vouch for).
[ ! -f /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >> "$chain"
said=$(osslsigncode verify -in "$signed" -CAfile "$chain" -ignore-timestamp 2>&1) ||
    fail "the signature made with $certificate does not verify: $(tail -3 <<<"$said" | tr '\n' ' ')"
rm -f "$chain"
mv "$signed" "$exe"
