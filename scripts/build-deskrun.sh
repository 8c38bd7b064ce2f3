#!/usr/bin/env bash
# Builds deskrun.dll for 32-bit Windows (the deliverable) and 64-bit Windows
# with the mingw-w64 cross-compilers:
#   build/windows-x86/deskrun.dll   PE32 i386, exports pinned by deskrun/deskrun-x86.def
#   build/windows-x64/deskrun.dll   PE32+ x86-64, plain JNI names
# The natives compile against the header javac generates from Deskrun.java,
# so a mismatch in names or JNI types fails the build. With --tests, also the
# behaviour-test programs of both widths, with the same flags:
#   build/windows-<x86|x64>/tests/deskrun_test.exe and show_child.exe
# Run from anywhere; safe to run again.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

. scripts/lib/env.sh
jdk=$CORVALE_JDK_X64
gen=build/deskrun
for tool in "$jdk/bin/javac" i686-w64-mingw32-g++ x86_64-w64-mingw32-g++; do
    command -v "$tool" >/dev/null || { echo "build-deskrun: $tool missing; run: bash scripts/setup.sh --windows" >&2; exit 1; }
done

rm -rf "$gen/classes" "$gen/include"
mkdir -p "$gen" build/windows-x86 build/windows-x64
"$jdk/bin/javac" -Xlint:all -Werror -h "$gen/include" -d "$gen/classes" java/quorvel/deskrun/Deskrun.java

# The flags of every Windows program here. Only the JDK's platform-neutral
# jni.h: jni_md.h comes from include-win32. The runtimes are linked in, so
# nothing but Windows' own DLLs is needed.
cxxflags=(-std=c++17 -O2 -Wall -Wextra -Werror -fno-exceptions -fno-rtti
          -Ideskrun/include-win32 -I"$jdk/include" -I"$gen/include"
          -static-libgcc -static-libstdc++)
dllflags=(-shared -Wl,--no-insert-timestamp)
libs=(-luser32 -lshell32)

# x86: no dllexport, so the .def file alone decides the export table.
i686-w64-mingw32-g++ "${cxxflags[@]}" -DJNIEXPORT= "${dllflags[@]}" \
    -o build/windows-x86/deskrun.dll deskrun/deskrun.cpp deskrun/deskrun-x86.def "${libs[@]}"
x86_64-w64-mingw32-g++ "${cxxflags[@]}" "${dllflags[@]}" \
    -o build/windows-x64/deskrun.dll deskrun/deskrun.cpp "${libs[@]}"
echo "build-deskrun: built build/windows-x86/deskrun.dll and build/windows-x64/deskrun.dll"

if [ "${1:-}" = --tests ]; then
    for w in x86 x64; do
        cxx=i686-w64-mingw32-g++
        [ $w = x64 ] && cxx=x86_64-w64-mingw32-g++
        mkdir -p "build/windows-$w/tests"
        $cxx "${cxxflags[@]}" -o "build/windows-$w/tests/deskrun_test.exe" tests/deskrun/deskrun_test.cpp "${libs[@]}"
        $cxx "${cxxflags[@]}" -mwindows -o "build/windows-$w/tests/show_child.exe" tests/deskrun/show_child.cpp "${libs[@]}"
    done
    echo "build-deskrun: built the test programs in build/windows-x86/tests and build/windows-x64/tests"
fi
