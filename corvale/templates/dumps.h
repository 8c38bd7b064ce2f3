// Diagnostic dumps of native templates and Java arrays on standard error.
// Exported for debugging sessions; no native calls them.
#pragma once

#include "corvale/common/cryptoki.h"

extern "C" {
JNIEXPORT void printTemplate(CK_ATTRIBUTE* attributes, unsigned int count);
JNIEXPORT void dumpTemplate(CK_ATTRIBUTE* attributes, unsigned int count);
JNIEXPORT void dumpCharArray(JNIEnv* env, jcharArray array);
JNIEXPORT void dumpCharArrayArray(JNIEnv* env, jobjectArray array);
JNIEXPORT void dumpByteArray(JNIEnv* env, jbyteArray array);
JNIEXPORT void dumpIntArray(JNIEnv* env, jintArray array);
JNIEXPORT void dumpObjectArray(JNIEnv* env, jobjectArray array);
}
