#!/usr/bin/env bash
# Builds everything and runs the demo on SoftHSM2 (in a temporary token
# directory) and NSS softoken. Options: --x86 for the 32-bit library;
# anything else is handed to the demo (e.g. --module softhsm2).
set -euo pipefail
cd "$(dirname "$0")/.."
width=x64
args=()
for a in "$@"; do
    if [ "$a" = --x86 ]; then width=x86; else args+=("$a"); fi
done
bash scripts/build.sh
build=$PWD/build/linux-$width
if [ $width = x86 ]; then
    java=(/usr/lib/jvm/java-17-openjdk-i386/bin/java -Xint -XX:+UseSerialGC)
    softhsm=$(scripts/softhsm-i386.sh "$build"); multiarch=i386-linux-gnu
else
    java=(/usr/lib/jvm/java-17-openjdk-amd64/bin/java)
    softhsm=/usr/lib/softhsm/libsofthsm2.so; multiarch=x86_64-linux-gnu
fi
work=$(mktemp -d /dev/shm/corvale-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/libs" "$work/tokens" "$work/run/.softoken" "$work/classes"
ln -s "$softhsm" "$work/libs/libsofthsm2.so"
ln -s "$softhsm" "$work/libs/libkulm.so"
ln -s "/usr/lib/$multiarch/libsoftokn3.so" "$work/libs/libsoftoken.so"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" > "$work/softhsm2.conf"
/usr/lib/jvm/java-17-openjdk-amd64/bin/javac -nowarn -d "$work/classes" -cp "$build/java/classes" demo/*.java
cd "$work/run"
SOFTHSM2_CONF=$work/softhsm2.conf LD_LIBRARY_PATH=$work/libs \
    "${java[@]}" -Dcorvale.library="$build/libcorvale.so.0" -cp "$work/classes:$build/java/classes" \
    CorvaleDemo "${args[@]}"
