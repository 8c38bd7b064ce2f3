#!/usr/bin/env bash
# Pins the library's dynamic interface: SONAME, the exact export list,
# needed libraries limited to the C and C++ runtimes, libm and libgcc_s, and
# no lock but the one for modules that cannot lock by themselves.
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

# The natives take no lock and make no atomic read-modify-write: only a
# module that cannot lock by itself is called under a lock, in
# corvale::serialisedCall and nowhere else. No other lock function may be
# imported, nor the guard of a thread-safe function-local static, nor a
# libatomic call (which would lock where the CPU cannot); no instruction
# may lock the bus.
locks='^(pthread_(mutex|rwlock|spin|cond|barrier)_.*|pthread_once|sem_.*|mtx_.*|cnd_.*|call_once|__cxa_guard_.*|__once_proxy|__atomic_.*|__sync_.*|_ZNSt[0-9]*(recursive_|timed_|shared_)*mutex.*|_ZSt9call_once.*|_ZNSt18condition_variable.*)$'
serial='^pthread_mutex_(lock|unlock)$'
imported=$(nm -D --undefined-only "$lib" | awk '{sub(/@.*/, "", $NF); print $NF}')
if lock_imports=$(grep -E "$locks" <<< "$imported" | grep -vE "$serial"); then
    echo "imports lock or atomic functions:" $lock_imports; fail=1
fi
code=$(objdump -d --no-show-raw-insn "$lib")
locking=$(awk '/^[0-9a-f]+ <.*>:$/ {fn = $2} /(call|jmp).*<pthread_mutex_(un)?lock@plt>/ && fn !~ /serialisedCall/ {print fn}' <<< "$code" | sort -u | head -n 3)
if [ -n "$locking" ]; then echo "lock taken outside serialisedCall:" $locking; fail=1; fi
bus=$(grep -E $'\t(lock |xchg .*\()' <<< "$code" | head -n 3 || true)
if [ "$sanitized" != 1 ] && [ -n "$bus" ]; then
    echo "atomic read-modify-write instructions:"; echo "$bus"; fail=1
fi

# The JVM owns the signals: the library installs no handler and blocks none.
if signal_imports=$(grep -E '^(sigaction|signal|sigset|bsd_signal|sysv_signal|sigprocmask|pthread_sigmask)$' <<< "$imported"); then
    echo "imports signal functions:" $signal_imports; fail=1
fi

# Every JNI export must be a native the Java class declares (the one alias
# under the unescaped underscore name aside).
header=$build/java/include/quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h
for sym in $(echo "$want" | grep '^Java_'); do
    [ "$sym" = Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions__waitForSlotEvent ] && continue
    grep -q "JNICALL $sym\$" "$header" || { echo "export $sym is not declared by the Java class"; fail=1; }
done

[ $fail = 0 ] && echo "exports: $(echo "$actual" | wc -l) symbols, needed libraries and SONAME as pinned, no lock outside serialisedCall, no signal function imported"
exit $fail
