#!/usr/bin/env bash
# The release as a user gets it. Builds the packages (scripts/package.sh),
# runs lintian on them, installs all three side by side with dpkg into a
# throwaway root, runs the demo against the installed files with Debian's
# stock JVM of each width on SoftHSM2, and removes the packages again.
# The machine's own dpkg database and /usr are left alone: the demo runs in a
# private mount namespace that lays the throwaway root's /usr over the real
# one, so the JVM finds libcorvale on its default java.library.path (needs
# root, as the rest of the test command). Ends with "N passed, N failed";
# exit status 1 on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/lib/env.sh

bash scripts/package.sh
version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
pkgs=$root/build/packages
debs=("$pkgs/libquorvel-pkcs11-jni_${version}_amd64.deb" "$pkgs/libquorvel-pkcs11-jni_${version}_i386.deb"
      "$pkgs/libquorvel-pkcs11-java_${version}_all.deb")

work=$(mktemp -d /dev/shm/corvale-packages.XXXXXX)
trap 'rm -rf "$work"' EXIT
dpkgroot=$work/root

passed=0
failed=0
# check <name> <command...>: the command's output is shown when it fails.
check() {
    local name=$1
    shift
    if "$@" > "$work/out" 2>&1; then
        passed=$((passed + 1)); echo "ok   $name"
    else
        failed=$((failed + 1)); echo "FAIL $name"; sed 's/^/     /' "$work/out" | tail -n 40
    fi
}

# Runs a command that sees the throwaway root's files under /usr.
installed() {
    unshare --mount --propagation private \
        bash -c 'mount -t overlay corvale-packages -o lowerdir="$0/usr:/usr" /usr && exec "$@"' "$dpkgroot" "$@"
}

check "lintian: no error in the three packages" lintian --fail-on error -I "${debs[@]}"
grep -v 'running with root privileges' "$work/out" | sed 's/^/     /'

# The library's own NEEDED entries decide the dependencies: the package
# owning each needed library, for the package's architecture, and no other.
depends_are_needed() {  # <deb> <triplet>
    local x=$work/x-$2
    dpkg-deb -x "$1" "$x"
    local so=$x/usr/lib/$2/jni/libcorvale.so.0
    readelf -d "$so" | grep -q 'SONAME.*\[libcorvale\.so\.0\]' || { echo "SONAME is not libcorvale.so.0"; return 1; }
    local want got
    want=$(readelf -d "$so" | sed -n 's/.*NEEDED.*\[\(.*\)\]/\1/p' | while read -r lib; do
               dpkg -S "/lib/$2/$lib" "/usr/lib/$2/$lib" 2>/dev/null | sed -n 's/:.*//p'
           done | sort -u)
    got=$(dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/(.*)//; s/ //g' | sort -u)
    echo "NEEDED from: $(echo $want); Depends: $(dpkg-deb -f "$1" Depends)"
    [ -n "$want" ] && [ "$want" = "$got" ]
}
check "amd64 library keeps its SONAME and depends on what it needs" depends_are_needed "${debs[0]}" x86_64-linux-gnu
check "i386 library keeps its SONAME and depends on what it needs" depends_are_needed "${debs[1]}" i386-linux-gnu
# The throwaway dpkg database knows only those packages, so installing
# proves that nothing else is needed.
deps=$(dpkg-deb -f "${debs[0]}" Depends | tr ',' '\n' | sed 's/(.*)//; s/ //g' | sort -u)
mkdir -p "$dpkgroot/var/lib/dpkg/info" "$dpkgroot/var/lib/dpkg/updates"
for arch in amd64 i386; do
    for p in $deps; do
        dpkg-query -s "$p:$arch" && echo && touch "$dpkgroot/var/lib/dpkg/info/$p:$arch.list" || true
    done
done > "$dpkgroot/var/lib/dpkg/status"
dpkg --root="$dpkgroot" --add-architecture i386

windows_zip() {
    unzip -q -d "$work/zip" "$pkgs/deskrun-$version-windows.zip"
    local d=$work/zip/deskrun-$version
    objdump -f "$d/x86/deskrun.dll" | grep -q 'file format pei-i386' &&
        objdump -f "$d/x64/deskrun.dll" | grep -q 'file format pei-x86-64' && grep -q 32-bit "$d/README.txt"
}
check "the Windows zip has the PE32 DLL under x86 and the PE32+ one under x64, and the note" windows_zip

# demo <x64|x86> <jar> [wrapper...]: the stock JVM, no corvale.library,
# LD_LIBRARY_PATH naming only the module's directory, a fresh SoftHSM2 store.
demo() {
    local d=$work/demo-$1
    rm -rf "$d"
    (unset LD_LIBRARY_PATH
     corvale_modules "$d" "$root/build/linux-$1" "$1" real
     cd "$d/run" && "${@:3}" "$java" "${jvm_flags[@]}" -Xcheck:jni -cp "$2:$work/classes" CorvaleDemo)
}

check "dpkg installs both widths and the jar side by side" dpkg --root="$dpkgroot" -i "${debs[@]}"
# The demo, compiled as a user would against the installed jar.
mkdir -p "$work/classes"
installed "$CORVALE_JAVAC" -nowarn -d "$work/classes" \
    -cp /usr/share/java/quorvel-pkcs11.jar demo/*.java

not_installed_says_where() {
    ! demo x64 "$dpkgroot/usr/share/java/quorvel-pkcs11.jar" &&
        grep -q 'corvale.library is not set, and System.loadLibrary("corvale") found no libcorvale.so in java.library.path=/' \
            "$work/out"
}
check "outside the installed files: the stock JVM says in one line where it looked" not_installed_says_where

demo_runs() {  # <x64|x86>
    demo "$1" /usr/share/java/quorvel-pkcs11.jar installed > "$work/demo.txt" 2>&1 || { cat "$work/demo.txt"; return 1; }
    cat "$work/demo.txt"
    ! grep -E 'WARNING|Exception' "$work/demo.txt" &&
        grep -q '^Tour: [0-9]* steps worked, [0-9]* not offered, 0 failed$' "$work/demo.txt" &&
        grep -q 'binding  *bound and initialised' "$work/demo.txt" &&
        grep -q 'log in as user with the new PIN  *ok' "$work/demo.txt" &&
        grep -q 'same message  *true' "$work/demo.txt" &&
        grep -q 'close the session  *ok' "$work/demo.txt"
}
check "the demo runs on SoftHSM2 from the installed files, 64-bit JVM" demo_runs x64
check "the demo runs on SoftHSM2 from the installed files, 32-bit JVM" demo_runs x86

removed() {
    dpkg --root="$dpkgroot" -r libquorvel-pkcs11-java libquorvel-pkcs11-jni:amd64 libquorvel-pkcs11-jni:i386
    local left
    left=$(find "$dpkgroot/usr" ! -type d)
    [ -z "$left" ] || { echo "left behind: $left"; return 1; }
}
check "dpkg removes them again, leaving no file" removed

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
