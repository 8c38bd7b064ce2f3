// Natives that are declared but do nothing. They return a 64-bit zero, which
// reads as null, false or 0 whatever the Java declaration's type (on i386 it
// also clears the upper register half). Kept out of the generated header's
// reach on purpose: their C return type differs from the Java one.
#include <jni.h>

extern "C" {

JNIEXPORT jlong JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_check(JNIEnv*, jobject) { return 0; }

JNIEXPORT jlong JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_deriveKeyNative(JNIEnv*, jobject) {
    return 0;
}

JNIEXPORT jlong JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getFunctionStatus(JNIEnv*, jobject) {
    return 0;
}

JNIEXPORT jlong JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_cancelFunction(JNIEnv*, jobject) {
    return 0;
}

} // extern "C"
