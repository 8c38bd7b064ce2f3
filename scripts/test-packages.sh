#!/usr/bin/env bash
# The release as a user gets it. Builds the packages (scripts/package.sh),
# runs lintian on them, installs all three side by side with dpkg into a
# throwaway root, runs the demo against the installed files with Debian's
# stock JVM of each width on SoftHSM2, and removes the packages again.
# The machine's own dpkg database and /usr are left alone: the demo runs in a
# private mount namespace that lays the throwaway root's /usr over the real
# one, so the JVM finds libcorvale on its default java.library.path (needs
# root, as the rest of the test command).
# Then the jar that carries its natives, with nothing installed: its class
# files and libraries, the demo in both widths with only the jar on the class
# path, its extraction (JVMs racing, a tampered file, unusable temporary
# directories), and a Maven project that depends on it. Ends with
# "N passed, N failed"; exit status 1 on any failure.
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
    local name=$1 start=$SECONDS
    shift
    if "$@" > "$work/out" 2>&1; then
        passed=$((passed + 1)); echo "ok   $name ($((SECONDS - start)) s)"
    else
        failed=$((failed + 1)); echo "FAIL $name ($((SECONDS - start)) s)"; sed 's/^/     /' "$work/out" | tail -n 40
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
# The demo, compiled as a user would against the installed jar, and a program
# that only loads the library: with two arguments it first makes the file
# <first>.ready and waits for the file <second>, so that JVMs started one
# after the other load at once.
mkdir -p "$work/classes" "$work/src"
cat > "$work/src/LoadCheck.java" <<'EOF'
import java.io.File;
public class LoadCheck {
    public static void main(String[] args) throws Exception {
        if (args.length == 2) {
            new File(args[0] + ".ready").createNewFile();
            for (int i = 0; i < 60000 && !new File(args[1]).exists(); i++) Thread.sleep(1);
        }
        System.out.println("loaded: CK_ULONG of " + quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions.getULongSize() + " bytes");
    }
}
EOF
installed "$CORVALE_JAVAC" -nowarn -d "$work/classes" \
    -cp /usr/share/java/quorvel-pkcs11.jar demo/*.java "$work/src/LoadCheck.java"

# The Debian jar carries no native code: outside the installed files the
# stock JVM names, in one line, each place it tried.
not_installed_says_where() {
    ! demo x64 "$dpkgroot/usr/share/java/quorvel-pkcs11.jar" &&
        grep -q '^Exception.*libcorvale not loaded: corvale.library is not set; System.loadLibrary("corvale") found no libcorvale.so in java.library.path=/.*; the jar.s copy: no native/linux-x86_64/libcorvale.so.0 on the class path$' \
            "$work/out"
}
check "outside the installed files: the stock JVM says in one line where it looked" not_installed_says_where

demo_runs() {  # <x64|x86> <jar> [wrapper...]
    demo "$@" > "$work/demo.txt" 2>&1 || { cat "$work/demo.txt"; return 1; }
    cat "$work/demo.txt"
    ! grep -E 'WARNING|Exception' "$work/demo.txt" &&
        grep -q '^Tour: [0-9]* steps worked, [0-9]* not offered, 0 failed$' "$work/demo.txt" &&
        grep -q 'binding  *bound and initialised' "$work/demo.txt" &&
        grep -q 'log in as user with the new PIN  *ok' "$work/demo.txt" &&
        grep -q 'same message  *true' "$work/demo.txt" &&
        grep -q 'close the session  *ok' "$work/demo.txt"
}
check "the demo runs on SoftHSM2 from the installed files, 64-bit JVM" demo_runs x64 /usr/share/java/quorvel-pkcs11.jar installed
check "the demo runs on SoftHSM2 from the installed files, 32-bit JVM" demo_runs x86 /usr/share/java/quorvel-pkcs11.jar installed

removed() {
    dpkg --root="$dpkgroot" -r libquorvel-pkcs11-java libquorvel-pkcs11-jni:amd64 libquorvel-pkcs11-jni:i386
    local left
    left=$(find "$dpkgroot/usr" ! -type d)
    [ -z "$left" ] || { echo "left behind: $left"; return 1; }
}
check "dpkg removes them again, leaving no file" removed

# The jar that carries its natives.
jar=$pkgs/quorvel-pkcs11-$version.jar
uid=$(id -u)

java8_classes() {
    local classes count
    classes=$(unzip -Z1 "$jar" '*.class' | sed 's/\.class$//; s,/,.,g')
    count=$(echo "$classes" | wc -l)
    "$CORVALE_JDK_X64/bin/javap" -v -cp "$jar" $classes | grep 'major version' | sort | uniq -c | tee "$work/majors"
    [ "$(awk '{print $1, $NF}' "$work/majors")" = "$count 52" ]
}
check "javap: every class file of the jar is version 52 (Java 8)" java8_classes

# The newest symbol versions each library needs, as the README states them:
# it loads on any glibc and libstdc++ at least that old.
natives_need() {
    local width name format want lib glibc cxx
    for width in linux-x86_64:elf64-x86-64:GLIBC_2.14 linux-x86:elf32-i386:GLIBC_2.1.3; do
        IFS=: read -r name format want <<< "$width"
        lib=$work/$name.so
        unzip -p "$jar" "native/$name/libcorvale.so.0" > "$lib"
        objdump -f "$lib" | grep -q "file format $format" || { echo "$name: not $format"; return 1; }
        glibc=$(objdump -T "$lib" | grep -oE 'GLIBC_[0-9.]+' | sort -uV | tail -n 1)
        cxx=$(objdump -T "$lib" | grep -oE '(GLIBCXX|CXXABI)_[0-9.]+' | sort -uV | tr '\n' ' ')
        echo "$name: newest $glibc; from libstdc++: $cxx"
        [ "$(printf '%s\n' "$want" "$glibc" | sort -V | tail -n 1)" = "$want" ] && [ "$cxx" = "GLIBCXX_3.4 " ] || return 1
    done
}
check "the jar carries both widths' libraries, needing glibc 2.14 (x86-64) and 2.1.3 (i386), libstdc++ GLIBCXX_3.4" natives_need

# bare <tmp> <command...>: a private mount namespace in which no installed
# libcorvale can be found (the JNI directories are empty there) and /tmp is
# <tmp>, where the command leaves what it extracts for the checks to read.
bare() {
    local tmp=$1
    shift
    mkdir -p "$tmp" && chmod 1777 "$tmp"
    unshare --mount --propagation private bash -c '
        for d in /usr/lib/jni /usr/lib/*-linux-gnu/jni; do [ ! -d "$d" ] || mount -t tmpfs -o ro corvale-none "$d"; done
        if found=$(ls /usr/java/packages/lib/libcorvale.so /usr/lib/libcorvale.so /usr/lib/*-linux-gnu/libcorvale.so 2>/dev/null); then
            echo "an installed libcorvale.so is on the library path: $found" >&2; exit 1
        fi
        mount --bind "$0" /tmp && exec "$@"' "$tmp" "$@"
}

# extracted <tmp> <platform>: /tmp/corvale-UID of <tmp> is the user's, mode
# 0700, and holds the jar's copy alone, named by its SHA-256.
extracted() {
    local dir=$1/corvale-$uid sum
    sum=$(unzip -p "$jar" "native/$2/libcorvale.so.0" | sha256sum | cut -d' ' -f1)
    [ "$(stat -c '%a %u' "$dir")" = "700 $uid" ] || { echo "$dir: mode and owner $(stat -c '%a %u' "$dir")"; return 1; }
    [ "$(ls -A "$dir")" = "libcorvale-$sum.so" ] || { echo "$dir holds:" $(ls -A "$dir"); return 1; }
    [ "$(sha256sum < "$dir/libcorvale-$sum.so" | cut -d' ' -f1)" = "$sum" ]
}

jar_demo_runs() {  # <x64|x86> <platform>
    rm -rf "$work/tmp-$1"
    demo_runs "$1" "$jar" bare "$work/tmp-$1" && extracted "$work/tmp-$1" "$2"
}
check "the demo runs on SoftHSM2 with only the jar, nothing installed, 64-bit JVM" jar_demo_runs x64 linux-x86_64
check "the demo runs on SoftHSM2 with only the jar, nothing installed, 32-bit JVM" jar_demo_runs x86 linux-x86

# load_check <tmp> [java options...]: LoadCheck in the 64-bit JVM, bare.
load_check() {
    bare "$1" "$CORVALE_JDK_X64/bin/java" "${@:2}" -cp "$jar:$work/classes" LoadCheck
}
race=$work/tmp-race
racing_jvms_load() {
    bare "$race" bash -c '
        pids=()
        for i in 1 2 3 4; do "$0" -cp "$1" LoadCheck /tmp/jvm$i /tmp/go > /tmp/jvm$i.out 2>&1 & pids+=($!); done
        for t in $(seq 600); do [ "$(ls /tmp/jvm*.ready 2>/dev/null | wc -l)" = 4 ] && break; sleep 0.1; done
        touch /tmp/go
        status=0
        for p in "${pids[@]}"; do wait "$p" || status=1; done
        exit $status' "$CORVALE_JDK_X64/bin/java" "$jar:$work/classes" || { cat "$race"/jvm*.out; return 1; }
    cat "$race"/jvm*.out
    [ "$(cat "$race"/jvm*.out | grep -cx 'loaded: CK_ULONG of 8 bytes')" = 4 ] && rm "$race"/jvm* "$race/go" &&
        extracted "$race" linux-x86_64 || return 1
    # Extracted once: the next JVM loads the same file.
    local file inode
    file=$(echo "$race/corvale-$uid"/libcorvale-*.so)
    inode=$(stat -c %i "$file")
    load_check "$race" && [ "$(stat -c %i "$file")" = "$inode" ]
}
check "four JVMs extract at once and all load; the next one loads the same file" racing_jvms_load

# In the extracted file's place, a library that leaves a mark when loaded.
tampered_replaced() {
    local file
    file=$(echo "$race/corvale-$uid"/libcorvale-*.so)
    printf '#include <fcntl.h>\n#include <unistd.h>\n__attribute__((constructor)) static void mark(void) { close(open("/tmp/tampered-ran", O_CREAT | O_WRONLY, 0600)); }\n' |
        gcc -shared -fPIC -x c -o "$file" - &&
        load_check "$race" && [ ! -e "$race/tampered-ran" ] && extracted "$race" linux-x86_64
}
check "a tampered extracted file is replaced, not loaded" tampered_replaced

# A temporary directory that is read-only, mounted noexec, or holds a
# corvale-UID of another user's: one line names each step tried and the
# property to set. With that property, the noexec one loads.
unusable_tmp() {
    local how msg bad=$work/tmp-bad
    for how in ro noexec foreign; do
        case $how in
            ro) msg='(java.nio.file.FileSystemException: /tmp/corvale-[0-9]*: Read-only file system); set corvale.native.dir to a writable directory of your own' ;;
            noexec) msg='failed to map segment from shared object); if /tmp is mounted noexec, set corvale.native.dir to a directory that allows executable files' ;;
            foreign) msg='/tmp/corvale-[0-9]* is not a private directory (owner uid 65534, mode rwx------; wanted uid [0-9]*, rwx------)); set corvale.native.dir' ;;
        esac
        ! bare "$bad-$how" bash -c 'case $0 in
                foreign) mkdir -m 700 /tmp/corvale-$(id -u) && chown 65534 /tmp/corvale-$(id -u) ;;
                *) mount -t tmpfs -o "$0" corvale-"$0" /tmp ;;
            esac && exec "$@"' "$how" "$CORVALE_JDK_X64/bin/java" -cp "$jar:$work/classes" LoadCheck > "$work/bad.txt" 2>&1 || {
                echo "$how: loaded"; return 1; }
        head -n 1 "$work/bad.txt"
        grep -c 'libcorvale not loaded' "$work/bad.txt" | grep -qx 1 &&
            grep -q 'corvale.library is not set; System.loadLibrary("corvale") found no libcorvale.so in .*; the jar.s copy: .*'"$msg" \
                "$work/bad.txt" || { echo "$how: not the message"; cat "$work/bad.txt"; return 1; }
    done
    mkdir -p "$bad-dir"
    bare "$bad-noexec" bash -c 'mount -t tmpfs -o noexec corvale-noexec /tmp && mount -t tmpfs corvale-dir "$0" && exec "$@"' \
        "$bad-dir" "$CORVALE_JDK_X64/bin/java" -Dcorvale.native.dir="$bad-dir/native" -cp "$jar:$work/classes" LoadCheck
}
check "a read-only or noexec temporary directory, or another user's corvale-UID in it, gets a message naming corvale.native.dir" unusable_tmp

# Debian's Maven, offline, with a throwaway local repository: the jar and its
# POM installed into it, then a project that depends on it as the README
# says compiles the README's program for Java 8 and runs it in Maven's JVM on
# a SoftHSM2 token. Debian keeps its Maven plugins in /usr/share/maven-repo,
# which plain mvn does not read: every repository is mirrored there, and the
# resolver, which refuses any remote repository in offline mode, is told that
# file: URLs need no network. Debian's repository has no plugin-prefix
# metadata, so its plugins are named in full.
maven_project() {
    local m=$work/maven
    mkdir -p "$m/app/src/main/java" "$m/tokens"
    cat > "$m/settings.xml" <<'EOF'
<settings>
  <mirrors>
    <mirror><id>debian</id><mirrorOf>*</mirrorOf><url>file:///usr/share/maven-repo</url></mirror>
  </mirrors>
</settings>
EOF
    plugin() {  # <group path> <artifact>: group:artifact:version, the newest version Debian has
        echo "${1//\//.}:$2:$(ls "/usr/share/maven-repo/$1/$2" | sort -V | tail -n 1)"
    }
    local mvn=(mvn -o -B -q -s "$m/settings.xml" -Dmaven.repo.local="$m/repo" -Daether.offline.protocols=file)
    "${mvn[@]}" "$(plugin org/apache/maven/plugins maven-install-plugin):install-file" -Dfile="$jar" \
        -DpomFile="${jar%.jar}.pom" -Dsources="${jar%.jar}-sources.jar" -Djavadoc="${jar%.jar}-javadoc.jar" || return 1
    ls "$m/repo/quorvel/quorvel-pkcs11/$version"
    # The README's dependency and program, as they stand.
    { printf '<project xmlns="http://maven.apache.org/POM/4.0.0">\n<modelVersion>4.0.0</modelVersion>\n'
      printf '<groupId>test</groupId><artifactId>tokens</artifactId><version>1</version>\n'
      printf '<properties><maven.compiler.release>8</maven.compiler.release>'
      printf '<project.build.sourceEncoding>UTF-8</project.build.sourceEncoding></properties>\n<dependencies>\n'
      sed -n '/^```xml$/,/^```$/{/^```/d;p}' README.md
      printf '</dependencies>\n</project>\n'; } > "$m/app/pom.xml"
    sed -n '/^```java$/,/^```$/{/^```/d;p}' README.md > "$m/app/src/main/java/Tokens.java"
    printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$m/tokens" > "$m/softhsm2.conf"
    SOFTHSM2_CONF=$m/softhsm2.conf softhsm2-util --init-token --free --label "maven token" --so-pin 123456 --pin 654321 > /dev/null
    (cd "$m/app" && SOFTHSM2_CONF=$m/softhsm2.conf LD_LIBRARY_PATH=/usr/lib/softhsm \
        bare "$work/tmp-maven" "${mvn[@]}" compile "$(plugin org/codehaus/mojo exec-maven-plugin):java" -Dexec.mainClass=Tokens) |
        sed 's/\x1b\[[0-9;]*m//g' | tee "$m/run.txt"  # Debian's Maven writes colour resets even in batch mode
    "$CORVALE_JDK_X64/bin/javap" -v -cp "$m/app/target/classes" Tokens | grep -q 'major version: 52' &&
        grep -qE '^[0-9]+: maven token$' "$m/run.txt" && extracted "$work/tmp-maven" linux-x86_64
}
check "Maven, offline: the jar installed with its POM; a project that depends on it runs the README's program" maven_project

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
