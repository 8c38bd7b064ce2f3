#!/usr/bin/env bash
# Builds everything and runs the demo on SoftHSM2 (in a temporary token
# directory) and NSS softoken. Options: --x86 for the 32-bit library;
# anything else is handed to the demo (e.g. --module softhsm2).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/env.sh
width=x64
args=()
for a in "$@"; do
    if [ "$a" = --x86 ]; then width=x86; else args+=("$a"); fi
done
case " ${args[*]} " in *" --module "*) ;; *) args+=(--module softhsm2 --module softoken) ;; esac
bash scripts/build.sh
build=$PWD/build/linux-$width
work=$(mktemp -d /dev/shm/corvale-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT
corvale_modules "$work" "$build" $width real
mkdir -p "$work/classes"
"$CORVALE_JAVAC" -nowarn -d "$work/classes" -cp "$build/java/classes" demo/*.java
cd "$work/run"
"$java" "${jvm_flags[@]}" -Dcorvale.library="$build/libcorvale.so.0" -cp "$work/classes:$build/java/classes" \
    CorvaleDemo "${args[@]}"
