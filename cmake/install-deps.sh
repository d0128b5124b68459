#!/usr/bin/env bash
# Installs what the builds and tests need on Debian, as root or through sudo,
# and generates the Japanese locale that gives Wine code page 932. Safe to run
# again: it installs only what is missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/host_arch.sh"

packages=(cmake make g++ clang libclang-rt-14-dev llvm googletest python3
    mingw-w64 wine wine64 wine32:i386 locales icoutils osslsigncode openssl xorriso python3-pycdlib python3-pefile
    softhsm2 opensc libengine-pkcs11-openssl sbsigntool)
# Where 32-bit programs do not start, the shipped 32-bit launcher runs under
# user-mode emulation in one end-to-end case.
i386_program_runs || packages+=(qemu-user-static)
as_root=()
[ "$(id -u)" = 0 ] || as_root=(sudo)

# 32-bit programs run only with Wine's i386 half.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    "${as_root[@]}" apt-get update -q
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Without the locale generated Wine silently falls back to another code page.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    "${as_root[@]}" sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen ||
        echo 'ja_JP.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen > /dev/null
    "${as_root[@]}" locale-gen > /dev/null
fi
