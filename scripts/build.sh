#!/usr/bin/env bash
# Builds libcorvale.so.0 for both widths (build/linux-x86, build/linux-x64),
# with the test modules and the Java classes. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh "$@"
jobs=$(nproc)
for w in x64 x86; do
    flags=()
    [ "$w" = x86 ] && flags=(-DCORVALE_M32=ON)
    cmake -S . -B "build/linux-$w" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" > /dev/null
    cmake --build "build/linux-$w" -j "$jobs"
done
scripts/softhsm-i386.sh build/linux-x86 > /dev/null
