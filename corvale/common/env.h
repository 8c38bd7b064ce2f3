// The JNI environment of one native call, and whether a JNI call made in it
// has failed.
#pragma once

#include <jni.h>

namespace corvale {

// A failure (a getter or constructor that threw, a class or method that is
// missing, memory the VM could not give) leaves a Java exception pending.
// From then on the bridge makes no JNI call but releases, the module is not
// called, and the native answers null: the exception reaches the Java caller
// as it was raised. Every bridge function that calls the JNI takes an Env,
// tests `failed` before and sets it after.
struct Env {
    JNIEnv* jni;
    bool failed = false;
};

} // namespace corvale
