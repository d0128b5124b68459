#!/usr/bin/env bash
# Signs setup.exe in place with SHA-256 Authenticode and verifies the
# signature, or removes it: no unsigned file is ever left under the signed
# name. The certificate's password is LAUNCHER_SIGN_PASSWORD's, read from the
# environment and handed over through a pipe or by the variable's name: it is
# on no command line and in no file.
#
# usage: sign.sh EXE PKCS12 PRODUCT_NAME URL TIMESTAMP_URL (the last two may be empty)
set -euo pipefail
exe=$1
certificate=$2
signed=$exe.signing
chain=$exe.chain.pem
fail() {
    rm -f "$exe" "$signed" "$chain"
    echo "$exe: not signed, and removed: $*" >&2
    exit 1
}
export LAUNCHER_SIGN_PASSWORD=${LAUNCHER_SIGN_PASSWORD-}

options=(-pkcs12 "$certificate" -h sha256 -n "$3")
[ -z "$LAUNCHER_SIGN_PASSWORD" ] || options+=(-readpass /dev/stdin)
[ -z "$4" ] || options+=(-i "$4")
[ -z "$5" ] || options+=(-ts "$5")
if ! said=$(printf '%s' "$LAUNCHER_SIGN_PASSWORD" |
    osslsigncode sign "${options[@]}" -in "$exe" -out "$signed" 2>&1); then
    case "$said" in
    *PKCS#12*) fail "cannot read the certificate $certificate: not a PKCS#12 file, or not the password in LAUNCHER_SIGN_PASSWORD" ;;
    *) fail "signing with $certificate failed${5:+ (timestamp server $5)}: $(tail -2 <<<"$said" | tr '\n' ' ')" ;;
    esac
fi

# Verified against the certificates the file holds and the system's roots
# (the timestamp is its server's to vouch for).
for legacy in "" -legacy; do
    openssl pkcs12 $legacy -in "$certificate" -passin env:LAUNCHER_SIGN_PASSWORD -nokeys \
        -out "$chain" 2> /dev/null && break
done
[ ! -f /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >> "$chain"
said=$(osslsigncode verify -in "$signed" -CAfile "$chain" -ignore-timestamp 2>&1) ||
    fail "the signature made with $certificate does not verify: $(tail -3 <<<"$said" | tr '\n' ' ')"
rm -f "$chain"
mv "$signed" "$exe"
