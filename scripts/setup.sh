#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 x86-64
# machine (run as root). Safe to run again: it only adds what is missing.
#   scripts/setup.sh            packages for the Linux builds and tests
#   scripts/setup.sh --windows  also the mingw cross-compilers, 64- and 32-bit Wine, xvfb
set -euo pipefail

want_windows=0
[ "${1:-}" = "--windows" ] && want_windows=1

pkgs=(cmake g++ g++-multilib libgtest-dev googletest openjdk-17-jdk-headless
      openjdk-17-jdk-headless:i386 libstdc++6:i386 libc6-dev-i386
      qemu-user-static binfmt-support softhsm2 libnss3 libnss3:i386
      libp11-kit-dev junit5 binutils file libssl3:i386 gcovr valgrind
      dpkg-dev lintian zip)
# The packaging test's Maven project, offline: Debian's Maven and the plugins
# it runs (the plain maven package has none).
pkgs+=(maven libmaven-install-plugin-java libmaven-resources-plugin-java libmaven-compiler-plugin-java
       libexec-maven-plugin-java)
[ "$want_windows" = 1 ] && pkgs+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 wine32:i386 xvfb xauth)
# The modules tier (tests/modules/run.sh): real modules of both widths and the
# services they use. The i386 builds that cannot be installed beside their
# amd64 ones (tpm2-pkcs11, opencryptoki, ykcs11) are extracted by scripts/build.sh.
# The virtual PIV card (tests/modules/card.py) needs python3-cryptography.
pkgs+=(opencryptoki libopencryptoki0 swtpm swtpm-tools libtpm2-pkcs11-1 tpm2-abrmd libtss2-tcti-tabrmd0
       libtss2-tcti-tabrmd0:i386 dbus-daemon dbus-bin pcscd vsmartcard-vpcd opensc-pkcs11
       opensc-pkcs11:i386 libpcsclite1:i386 ykcs11 python3 python3-cryptography iproute2)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt_updated=0
fi

missing=()
for p in "${pkgs[@]}"; do
    st=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$st" = "install ok installed" ] || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${apt_updated:-1}" = 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    [ "${#missing[@]}" -gt 0 ] && apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# i386 programs: natively where the kernel has IA32 emulation, otherwise
# through qemu-user. Installing qemu-user-static registers its handler, which
# would take over even where the kernel could run them itself (slower, and
# readdir on ext4 then fails with EOVERFLOW), so try the kernel first.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
printf 'int main(void){return 0;}\n' > "$probe_dir/p.c"
gcc -m32 -o "$probe_dir/p" "$probe_dir/p.c"
handler=/proc/sys/fs/binfmt_misc/qemu-i386
[ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
[ -e "$handler" ] && echo 0 > "$handler"
if ! "$probe_dir/p" 2>/dev/null; then
    if [ -e "$handler" ]; then
        echo 1 > "$handler"
    else
        echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' > /proc/sys/fs/binfmt_misc/register
    fi
    "$probe_dir/p"
fi
echo "setup: done"
