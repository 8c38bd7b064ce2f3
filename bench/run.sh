#!/usr/bin/env bash
# Benchmark: libcorvale, OpenJDK's PKCS#11 wrapper and direct C on SoftHSM2
# (x64). Writes bench.csv, bench.txt and bench.svg to build/bench (or --out).
# Options: --rounds N (default 15), --batch-ms MS (default 60), --warm-ms MS
# (default 1500 per operation and side), --out DIR. With --calls it prints
# instead the module calls each bridge makes per operation (the mock module's
# call log), which bench/direct.c repeats.
#
# On the no-op module (bench/noop), beside the floor (bench/floor: only the
# JNI calls the binding contract requires):
#   --count    callgrind instructions per operation of libcorvale, the floor
#              and OpenJDK's wrapper, two runs that must agree, with ns per
#              operation beside them: count.txt and count.csv in OUT/count.
#              --ops OP,... counts only those operations (names as in
#              Bench.OPS, e.g. random32,digest64); --rounds 0 skips the times
#   --threads  operations per second of two threads over one, per side
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=15 batch=60 warm=1500 out=$root/build/bench mode=time ops=
while [ $# -gt 0 ]; do
    case $1 in
        --rounds) rounds=$2; shift 2 ;;
        --batch-ms) batch=$2; shift 2 ;;
        --warm-ms) warm=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --calls) mode=calls; shift ;;
        --count) mode=count; shift ;;
        --threads) mode=threads; shift ;;
        --ops) ops=$2; shift 2 ;;
        *) echo "usage: bench/run.sh [--rounds N] [--batch-ms MS] [--warm-ms MS] [--out DIR] [--calls|--count [--ops OP,...]|--threads]" >&2
           exit 2 ;;
    esac
done

. "$root/scripts/lib/env.sh"
jdk=$CORVALE_JDK_X64
module=/usr/lib/softhsm/libsofthsm2.so
if [ ! -x "$jdk/bin/javac" ] || [ ! -e "$module" ] || ! command -v softhsm2-util > /dev/null \
        || [ ! -e /usr/include/p11-kit-1/p11-kit/pkcs11.h ] || ! command -v valgrind > /dev/null; then
    bash scripts/setup.sh
fi

# The library as the test build makes it (RelWithDebInfo), in its own tree.
build=$root/build/b-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j "$(nproc)" --target corvale > /dev/null
mkdir -p "$build/bench/classes"
gcc -O2 -Wall -Wextra -I/usr/include/p11-kit-1 -o "$build/bench/direct" bench/direct.c -ldl
# The no-op module, the floor and callgrind's client requests.
lib=$build/bench/lib
mkdir -p "$lib"
cflags=(-O2 -g -Wall -Wextra -fPIC -shared -I/usr/include/p11-kit-1 -I"$jdk/include" -I"$jdk/include/linux")
gcc "${cflags[@]}" -fvisibility=hidden -o "$lib/libnoop.so" bench/noop/noop.c
gcc "${cflags[@]}" -o "$lib/libfloor.so" bench/floor/floor.c -ldl
gcc "${cflags[@]}" -o "$lib/libbenchcount.so" bench/floor/callgrind.c
exports=(--add-modules jdk.crypto.cryptoki --add-exports jdk.crypto.cryptoki/sun.security.pkcs11.wrapper=ALL-UNNAMED)
"$jdk/bin/javac" -Xlint:-options -encoding UTF-8 "${exports[@]}" -d "$build/bench/classes" \
    -cp "$build/java/classes" bench/Bench.java

if [ $mode = calls ]; then
    cmake --build "$build" -j "$(nproc)" --target mock_libs corvale_test_java > /dev/null
    "$jdk/bin/javac" -Xlint:-options -encoding UTF-8 "${exports[@]}" -d "$build/bench/classes" \
        -cp "$build/java/classes:$build/tests/classes" bench/CallLog.java
    LD_LIBRARY_PATH=$build/tests/lib exec "$jdk/bin/java" "${exports[@]}" -Dcorvale.build="$build" \
        -Dcorvale.library="$build/libcorvale.so.0" -cp "$build/bench/classes:$build/java/classes:$build/tests/classes" \
        CallLog "$build/tests/lib/libmock.so"
fi

# The Java sides on the no-op module: libcorvale, the floor (the same Java
# class over libfloor.so) and OpenJDK's wrapper. Sets cmd to the java command
# of SIDE, with any further JVM options.
side_cmd() {
    local side=$1 library=$build/libcorvale.so.0
    shift
    [ "$side" = floor ] && library=$lib/libfloor.so
    cmd=("$jdk/bin/java" "$@" "${exports[@]}" -Dcorvale.library="$library" -Dbench.countlib="$lib/libbenchcount.so"
         -cp "$build/bench/classes:$build/java/classes" Bench)
}
sides=(corvale floor openjdk)
if [ $mode = threads ]; then
    export LD_LIBRARY_PATH=$lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
    mkdir -p "$out"
    for side in "${sides[@]}"; do
        side_cmd "$side"
        "${cmd[@]}" threads "$side" "$lib/libnoop.so"
    done | tee "$out/threads.txt"
    exit 0
fi
if [ $mode = count ]; then
    export LD_LIBRARY_PATH=$lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
    dir=$out/count
    rm -rf "$dir"
    mkdir -p "$dir"
    # Time per operation: the three sides in rotating rounds, as on SoftHSM2.
    workers=()
    for side in "${sides[@]}"; do
        side_cmd "$side"
        workers+=("${cmd[@]}" worker "$side" "$lib/libnoop.so" 0 - --)
    done
    side_cmd corvale
    [ "$rounds" = 0 ] || "${cmd[@]}" times "$dir/noop-ns.csv" "$rounds" "$batch" "$warm" "${workers[@]}"
    # Instructions: each side twice under callgrind, two at a time. glibc's
    # rep stos/movs paths count one instruction per byte; the tunables make
    # memset and memcpy take their vector loops. With -Xbatch compilation
    # keeps in step with the calls, and 20000 warm-up calls reach the
    # optimising compiler, so every counted loop runs the same code.
    count() {
        local at=$dir/run$1/$2
        mkdir -p "$at"
        side_cmd "$2" -XX:+UseSerialGC -Xbatch -Xms256m -Xmx256m
        echo "counting $2, run $1" >&2
        GLIBC_TUNABLES=glibc.cpu.x86_rep_stosb_threshold=0x1000000:glibc.cpu.x86_rep_movsb_threshold=0x1000000 \
            valgrind --tool=callgrind --separate-threads=yes -q --callgrind-out-file="$at/callgrind.out.%p" \
            "${cmd[@]}" count "$2" "$lib/libnoop.so" 20000 5000 $ops > "$at/log" 2>&1 \
            || { echo "bench: counting $2 (run $1) failed; see $at/log" >&2; return 1; }
    }
    running=0 failed=0
    for run in 1 2; do
        for side in "${sides[@]}"; do
            count $run "$side" &
            if (( ++running >= 2 )); then
                wait -n || failed=1
                running=$((running - 1))
            fi
        done
    done
    while (( running > 0 )); do
        wait -n || failed=1
        running=$((running - 1))
    done
    [ $failed = 0 ] || exit 1
    exec "$jdk/bin/java" -cp "$build/bench/classes" Bench countreport "$dir" $ops
fi

# A fresh token in a temporary directory on tmpfs.
work=$(mktemp -d /dev/shm/corvale-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
# Also puts the module's link first on LD_LIBRARY_PATH: libcorvale opens
# modules by file name.
corvale_modules "$work" "$build" x64 real
pin=1234
slot=$(softhsm2-util --init-token --free --label bench --so-pin 12345678 --pin $pin \
    | sed -n 's/.*reassigned to slot \([0-9]*\).*/\1/p')
[ -n "$slot" ] || { echo "bench: could not initialise the token" >&2; exit 1; }

java=("$jdk/bin/java" "${exports[@]}" -Dcorvale.library="$build/libcorvale.so.0"
      -cp "$build/bench/classes:$build/java/classes" Bench)
"${java[@]}" driver "$out" "$rounds" "$batch" "$warm" \
    "${java[@]}" worker corvale "$module" "$slot" $pin -- \
    "${java[@]}" worker openjdk "$module" "$slot" $pin -- \
    "$build/bench/direct" corvale "$module" "$slot" $pin -- \
    "$build/bench/direct" jdk "$module" "$slot" $pin --
