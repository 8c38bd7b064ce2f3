#!/usr/bin/env bash
# Pins the library's dynamic interface: SONAME, the exact export list, and
# needed libraries limited to the C and C++ runtimes, libm and libgcc_s.
set -euo pipefail
lib=$1 expected_dir=$2 sanitized=${3:-0}
build=$(dirname "$lib")
fail=0

soname=$(objdump -p "$lib" | awk '$1 == "SONAME" {print $2}')
if [ "$soname" != libcorvale.so.0 ]; then
    echo "SONAME is '$soname', not libcorvale.so.0"; fail=1
fi

allowed='^(libc\.so\.6|libstdc\+\+\.so\.6|libm\.so\.6|libgcc_s\.so\.1)$'
[ "$sanitized" = 1 ] && allowed='^(libc\.so\.6|libstdc\+\+\.so\.6|libm\.so\.6|libgcc_s\.so\.1|libasan\.so\.[0-9]+|libubsan\.so\.[0-9]+)$'
while read -r needed; do
    if ! [[ $needed =~ $allowed ]]; then echo "unexpected needed library: $needed"; fail=1; fi
done < <(objdump -p "$lib" | awk '$1 == "NEEDED" {print $2}')

actual=$(nm -D --defined-only "$lib" | awk '$2 != "A" {sub(/@.*/, "", $3); print $3}' | sort -u)
want=$(cat "$expected_dir"/*.txt | grep -v '^#' | sed '/^$/d' | sort -u)
if ! diff <(echo "$want") <(echo "$actual") > /tmp/exports.diff.$$; then
    echo "export list differs from $expected_dir/*.txt (< expected, > actual):"; cat /tmp/exports.diff.$$; fail=1
fi
rm -f /tmp/exports.diff.$$

# Every JNI export must be a native the Java class declares (the one alias
# under the unescaped underscore name aside).
header=$build/java/include/quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h
for sym in $(echo "$want" | grep '^Java_'); do
    [ "$sym" = Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions__waitForSlotEvent ] && continue
    grep -q "JNICALL $sym\$" "$header" || { echo "export $sym is not declared by the Java class"; fail=1; }
done

[ $fail = 0 ] && echo "exports: $(echo "$actual" | wc -l) symbols, needed libraries and SONAME as pinned"
exit $fail
