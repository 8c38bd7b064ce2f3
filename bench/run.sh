#!/usr/bin/env bash
# Benchmark: libcorvale, OpenJDK's PKCS#11 wrapper and direct C on SoftHSM2
# (x64). Writes bench.csv, bench.txt and bench.svg to build/bench (or --out).
# Options: --rounds N (default 15), --batch-ms MS (default 60), --warm-ms MS
# (default 1500 per operation and side), --out DIR. With --calls it prints
# instead the module calls each bridge makes per operation (the mock module's
# call log), which bench/direct.c repeats.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=15 batch=60 warm=1500 out=$root/build/bench calls=0
while [ $# -gt 0 ]; do
    case $1 in
        --rounds) rounds=$2; shift 2 ;;
        --batch-ms) batch=$2; shift 2 ;;
        --warm-ms) warm=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --calls) calls=1; shift ;;
        *) echo "usage: bench/run.sh [--rounds N] [--batch-ms MS] [--warm-ms MS] [--out DIR] [--calls]" >&2; exit 2 ;;
    esac
done

jdk=/usr/lib/jvm/java-17-openjdk-amd64
module=/usr/lib/softhsm/libsofthsm2.so
if [ ! -x "$jdk/bin/javac" ] || [ ! -e "$module" ] || ! command -v softhsm2-util > /dev/null \
        || [ ! -e /usr/include/p11-kit-1/p11-kit/pkcs11.h ]; then
    bash scripts/setup.sh
fi

# The library as the test build makes it (RelWithDebInfo), in its own tree.
build=$root/build/b-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j "$(nproc)" --target corvale > /dev/null
mkdir -p "$build/bench/classes"
gcc -O2 -Wall -Wextra -I/usr/include/p11-kit-1 -o "$build/bench/direct" bench/direct.c -ldl
exports=(--add-modules jdk.crypto.cryptoki --add-exports jdk.crypto.cryptoki/sun.security.pkcs11.wrapper=ALL-UNNAMED)
"$jdk/bin/javac" -Xlint:-options -encoding UTF-8 "${exports[@]}" -d "$build/bench/classes" \
    -cp "$build/java/classes" bench/Bench.java

if [ $calls = 1 ]; then
    cmake --build "$build" -j "$(nproc)" --target mock_libs corvale_test_java > /dev/null
    "$jdk/bin/javac" -Xlint:-options -encoding UTF-8 "${exports[@]}" -d "$build/bench/classes" \
        -cp "$build/java/classes:$build/tests/classes" bench/CallLog.java
    LD_LIBRARY_PATH=$build/tests/lib exec "$jdk/bin/java" "${exports[@]}" -Dcorvale.build="$build" \
        -Dcorvale.library="$build/libcorvale.so.0" -cp "$build/bench/classes:$build/java/classes:$build/tests/classes" \
        CallLog "$build/tests/lib/libmock.so"
fi

# A fresh token in a temporary directory on tmpfs.
work=$(mktemp -d /dev/shm/corvale-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tokens"
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$work" > "$work/softhsm2.conf"
export SOFTHSM2_CONF=$work/softhsm2.conf
pin=1234
slot=$(softhsm2-util --init-token --free --label bench --so-pin 12345678 --pin $pin \
    | sed -n 's/.*reassigned to slot \([0-9]*\).*/\1/p')
[ -n "$slot" ] || { echo "bench: could not initialise the token" >&2; exit 1; }
# libcorvale opens the module by file name.
export LD_LIBRARY_PATH=$(dirname "$module")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

java=("$jdk/bin/java" "${exports[@]}" -Dcorvale.library="$build/libcorvale.so.0"
      -cp "$build/bench/classes:$build/java/classes" Bench)
"${java[@]}" driver "$out" "$rounds" "$batch" "$warm" \
    "${java[@]}" worker corvale "$module" "$slot" $pin -- \
    "${java[@]}" worker openjdk "$module" "$slot" $pin -- \
    "$build/bench/direct" corvale "$module" "$slot" $pin -- \
    "$build/bench/direct" jdk "$module" "$slot" $pin --
