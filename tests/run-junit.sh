#!/usr/bin/env bash
# Runs one Java test suite (mock or real) of one build width inside a real
# JVM with -Xcheck:jni; any JNI warning fails the run.
set -euo pipefail
suite=$1
: "${CORVALE_BUILD:?}" "${CORVALE_SOURCE:?}" "${CORVALE_JAVA:?}"
m32=${CORVALE_M32:-0}
lib=$CORVALE_BUILD/libcorvale.so.0
testlib=$CORVALE_BUILD/tests/lib
# shellcheck source=../scripts/lib/env.sh
. "$CORVALE_SOURCE/scripts/lib/env.sh"

# Token stores live on tmpfs: the i386 SoftHSM lists its directory through
# qemu, which fails on ext4 (EOVERFLOW from readdir).
work=$(mktemp -d /dev/shm/corvale-$suite.XXXXXX)
trap 'rm -rf "$work"' EXIT
width=x64
[ "$m32" = 1 ] && width=x86
export LD_LIBRARY_PATH=$testlib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
case $suite in
    mock|stress) corvale_modules "$work" "$CORVALE_BUILD" $width mock ;;
    *) corvale_modules "$work" "$CORVALE_BUILD" $width real ;;
esac
jvmflags=${jvm_flags[*]}
if [ "${CORVALE_SANITIZE:-0}" = 1 ]; then corvale_sanitizer_env; fi
# Where i386 programs run through qemu, directory listings on ext4 fail
# (EOVERFLOW), and JUnit lists the test classes: give it copies on tmpfs.
classpath=$CORVALE_BUILD/java/classes:$CORVALE_BUILD/tests/classes
if [ "$m32" = 1 ]; then
    cp -r "$CORVALE_BUILD/java/classes" "$work/binding-classes"
    cp -r "$CORVALE_BUILD/tests/classes" "$work/test-classes"
    classpath=$work/binding-classes:$work/test-classes
fi
props=(-Dcorvale.library="$lib" -Dcorvale.java="$CORVALE_JAVA" -Dcorvale.jvmflags="$jvmflags"
       -Dcorvale.build="$CORVALE_BUILD" -Dcorvale.classpath="$classpath"
       -Dcorvale.work="$work" -Dcorvale.m32="$m32" -Dcorvale.softhsm="$softhsm")

cd "$work/run"
out=$work/junit.out
set +e
# CORVALE_JVM_OPTS: extra options, e.g. -Dcorvale.hostile.seed=N to replay a run.
# shellcheck disable=SC2086
"$CORVALE_JAVA" -Xcheck:jni $jvmflags "${props[@]}" ${CORVALE_JVM_OPTS:-} \
    -jar /usr/share/java/junit-platform-console-standalone.jar \
    --disable-banner --details=tree --disable-ansi-colors --fail-if-no-tests \
    -cp "$classpath" \
    --select-package "corvaletest.$suite" > "$out" 2>&1
rc=$?
set -e
cat "$out"
if grep -nE 'WARNING in native method|WARNING: JNI|FATAL ERROR in native method|ERROR: AddressSanitizer|runtime error:' "$out"; then
    echo "run-junit: JNI warnings or sanitizer reports in the $suite suite" >&2
    exit 1
fi
exit $rc
