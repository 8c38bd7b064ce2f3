#!/usr/bin/env bash
# Extracts the i386 SoftHSM2 module from Debian's package into the build tree
# (it cannot be installed beside the amd64 one) and prints its path.
set -euo pipefail
build=$1
dir=$build/softhsm-i386
so=$dir/usr/lib/i386-linux-gnu/softhsm/libsofthsm2.so
if [ ! -e "$so" ]; then
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    (cd "$tmp" && apt-get download -q libsofthsm2:i386 >/dev/null 2>&1) || {
        apt-get update -qq && (cd "$tmp" && apt-get download -q libsofthsm2:i386 >/dev/null); }
    rm -rf "$dir"; mkdir -p "$dir"
    dpkg-deb -x "$tmp"/libsofthsm2_*_i386.deb "$dir"
fi
echo "$so"
