#!/usr/bin/env bash
# Soak: a million mixed native calls against the mock module in one JVM, after
# a warm-up of 100,000; fails when resident memory grows by 1 MiB or more
# between the two. Not part of the test command (seconds; longer where i386
# programs run under qemu).
#   bash scripts/soak.sh [--x86] [--asan] [--build DIR] [measured calls [warm-up calls]]
# Uses the trees scripts/build.sh makes (build/linux-x64, build/linux-x86,
# and build/linux-x64-asan from scripts/test.sh), or the one given.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/env.sh
build=build/linux-x64
width=x64
counts=()
given=
while [ $# -gt 0 ]; do
    a=$1
    shift
    case $a in
        --build) given=$1; shift ;;
        --x86) build=build/linux-x86; width=x86 ;;
        --asan) build=build/linux-x64-asan; corvale_sanitizer_env ;;
        *) counts+=("$a") ;;
    esac
done
[ -n "$given" ] && build=$given
[ -f "$build/libcorvale.so.0" ] || bash scripts/build.sh
build=$PWD/$build
corvale_width $width
# The interpreter: JIT compilation changes the resident size by megabytes.
flags=(-Xint "${jvm_flags[@]}")
export LD_LIBRARY_PATH=$build/tests/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
# A fixed, pre-touched heap: the Java heap then adds nothing to VmRSS later,
# and what grows is native memory.
exec "$java" -Xcheck:jni "${flags[@]}" -Xms64m -Xmx64m -XX:+AlwaysPreTouch \
    -Dcorvale.library="$build/libcorvale.so.0" -Dcorvale.build="$build" \
    -cp "$build/java/classes:$build/tests/classes" corvaletest.stress.Soak "${counts[@]}"
