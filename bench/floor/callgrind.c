/* Callgrind's client requests for the benchmark's Java side: zero the
 * counters before a measured loop, dump them after it. Outside valgrind
 * they do nothing. */
#include <jni.h>
#include <valgrind/callgrind.h>

JNIEXPORT void JNICALL Java_Bench_zeroCounts(JNIEnv *env, jclass c) {
    (void)env; (void)c;
    CALLGRIND_ZERO_STATS;
}

JNIEXPORT void JNICALL Java_Bench_dumpCounts(JNIEnv *env, jclass c, jstring what) {
    (void)c;
    const char *s = (*env)->GetStringUTFChars(env, what, NULL);
    CALLGRIND_DUMP_STATS_AT(s);
    (*env)->ReleaseStringUTFChars(env, what, s);
}
