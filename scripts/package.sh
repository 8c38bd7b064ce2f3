#!/usr/bin/env bash
# Builds both widths and deskrun.dll, then the release files in build/packages:
#   quorvel-pkcs11-<version>.jar                the binding with both widths'
#                                               libcorvale.so.0 under native/linux-<arch>/
#   quorvel-pkcs11-<version>.pom, -sources.jar, -javadoc.jar   for a Maven repository
#   libquorvel-pkcs11-jni_<version>_amd64.deb   libcorvale.so.0 in /usr/lib/x86_64-linux-gnu/jni
#   libquorvel-pkcs11-jni_<version>_i386.deb    the same in /usr/lib/i386-linux-gnu/jni
#   libquorvel-pkcs11-java_<version>_all.deb    /usr/share/java/quorvel-pkcs11.jar
#   deskrun-<version>-windows.zip               deskrun.dll of both widths and a note
# The JNI packages are Multi-Arch: same, so both install side by side. The
# Debian jar carries no native code: the JNI packages provide it. The version
# is the top entry of packaging/debian/changelog.
#
# dpkg-deb over `cmake --install` trees rather than CPack: CPack's DEB
# generator cannot write a Multi-Arch field, makes one architecture per build
# tree (the arch-independent jar would need a tree of its own), and leaves out
# the copyright and changelog files Debian requires. dpkg-dev's own tools
# write the control file and work out the dependencies from the library's
# NEEDED entries, as a Debian build does.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/lib/env.sh

bash scripts/build.sh --windows
bash scripts/build-deskrun.sh

out=$root/build/packages
# dpkg-shlibdeps and dpkg-gencontrol expect a source tree's debian/ layout.
work=$out/work
rm -rf "$out"
mkdir -p "$work/debian"
cp packaging/debian/control "$work/debian/"
version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)

# stage <package> <build tree> <component>: the component installed under
# /usr in debian/<package>, with the package's copyright and changelog.
stage() {
    local dir=$work/debian/$1
    rm -rf "$dir"
    DESTDIR=$dir cmake --install "$2" --prefix /usr --component "$3" > /dev/null
    install -d "$dir/DEBIAN" "$dir/usr/share/doc/$1"
    install -m 644 packaging/debian/copyright "$dir/usr/share/doc/$1/"
    gzip -9n < packaging/debian/changelog > "$dir/usr/share/doc/$1/changelog.gz"
}

# deb <package> <architecture>: control file, checksums, then the .deb.
deb() {
    local dir=$work/debian/$1
    find "$dir" -type d -exec chmod 755 {} +
    find "$dir" -type f -exec chmod 644 {} +
    echo "misc:Depends=" >> "$work/debian/$1.substvars"
    (cd "$work" && DEB_HOST_ARCH=$2 dpkg-gencontrol -p"$1" -P"debian/$1" -T"debian/$1.substvars" \
        -l"$root/packaging/debian/changelog")
    (cd "$dir" && find . -type f ! -path './DEBIAN/*' -printf '%P\0' | sort -z | xargs -0 md5sum) > "$dir/DEBIAN/md5sums"
    chmod 644 "$dir/DEBIAN/md5sums"
    dpkg-deb --root-owner-group -Zxz --build "$dir" "$out" > /dev/null
}

# What dh_strip does: no symbols, no notes, no compiler comments.
strip_library() {
    strip --strip-unneeded --remove-section=.comment --remove-section=.note "$1"
}

# The jar that carries its natives, for Java programs that take their
# libraries from a Maven repository: NativeCryptokiFunctions extracts the
# copy for its JVM's architecture when no other libcorvale is to be had.
jdk=$CORVALE_JDK_X64/bin
jar=$work/jar
mkdir -p "$jar/META-INF"
cp -r build/linux-x64/java/classes/quorvel "$jar/"
for w in x64:x86_64 x86:x86; do
    lib=$jar/native/linux-${w#*:}/libcorvale.so.0
    install -D -m 644 "build/linux-${w%:*}/libcorvale.so.0" "$lib"
    strip_library "$lib"
done
cp LICENSE "$jar/META-INF/"
manifest=build/linux-x64/packaging/MANIFEST.MF
"$jdk/jar" --create --file "$out/quorvel-pkcs11-$version.jar" --manifest "$manifest" -C "$jar" .
mkdir -p "$work/sources/META-INF"
cp -r java/quorvel "$work/sources/"
rm -rf "$work/sources/quorvel/deskrun"
cp LICENSE "$work/sources/META-INF/"
"$jdk/jar" --create --file "$out/quorvel-pkcs11-$version-sources.jar" -C "$work/sources" .
# Source files named one by one: javadoc 17 fails an assertion with
# --release 8 and -subpackages.
"$jdk/javadoc" --release 8 -public -quiet -Xdoclint:none -encoding UTF-8 -d "$work/javadoc" \
    -doctitle "quorvel-pkcs11 $version" -windowtitle "quorvel-pkcs11 $version" \
    $(find java/quorvel/pkcs -name '*.java') > "$work/javadoc.log" 2>&1 || { cat "$work/javadoc.log" >&2; exit 1; }
"$jdk/jar" --create --file "$out/quorvel-pkcs11-$version-javadoc.jar" -C "$work/javadoc" .
sed "s/@VERSION@/$version/" packaging/maven/pom.xml > "$out/quorvel-pkcs11-$version.pom"

for arch in amd64 i386; do
    tree=build/linux-x64
    [ $arch = i386 ] && tree=build/linux-x86
    pkg=libquorvel-pkcs11-jni
    stage $pkg $tree jni
    strip_library "$work/debian/$pkg"/usr/lib/*/jni/libcorvale.so.0
    rm -f "$work/debian/$pkg.substvars"
    # Its warning that the library is not in a package directory comes and
    # goes from run to run on the same tree: noise.
    (cd "$work" && dpkg-shlibdeps -T"debian/$pkg.substvars" -e "$work/debian/$pkg"/usr/lib/*/jni/libcorvale.so.0) \
        2> >(grep -v "should already be installed in their package's directory" >&2)
    deb $pkg $arch
done

# The jar's real name carries the version (Debian's Java policy), the
# unversioned name is a link to it.
pkg=libquorvel-pkcs11-java
stage $pkg build/linux-x64 java
jars=$work/debian/$pkg/usr/share/java
mv "$jars/quorvel-pkcs11.jar" "$jars/quorvel-pkcs11-$version.jar"
ln -s "quorvel-pkcs11-$version.jar" "$jars/quorvel-pkcs11.jar"
gzip -9n < README.md > "$work/debian/$pkg/usr/share/doc/$pkg/README.md.gz"
deb $pkg all

# Windows: one folder per JVM width, the note with Windows line ends.
zipdir=$work/deskrun-$version
mkdir -p "$zipdir/x86" "$zipdir/x64"
install -m 644 build/windows-x86/deskrun.dll "$zipdir/x86/"
install -m 644 build/windows-x64/deskrun.dll "$zipdir/x64/"
sed 's/$/\r/' packaging/windows/README.txt > "$zipdir/README.txt"
sed 's/$/\r/' LICENSE > "$zipdir/LICENSE.txt"
(cd "$work" && zip -qrX "$out/deskrun-$version-windows.zip" "deskrun-$version")

rm -rf "$work"
echo "package: built in build/packages:"
(cd "$out" && ls -1 | sed 's/^/  /')
