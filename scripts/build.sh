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
# The i386 modules that cannot be installed beside their amd64 builds.
. scripts/lib/env.sh
for p in libsofthsm2 libtpm2-pkcs11-1 libopencryptoki0 opencryptoki ykcs11; do
    corvale_i386_package build/linux-x86 $p > /dev/null
done
