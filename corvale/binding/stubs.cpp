// Natives that are declared but do nothing. They return a 64-bit zero, which
// reads as null, false or 0 whatever the Java declaration's type (on i386 it
// also clears the upper register half). Kept out of the generated header's
// reach on purpose: their C return type differs from the Java one.
#include <jni.h>

#define CORVALE_STUB(name) \
    extern "C" JNIEXPORT jlong JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_##name(JNIEnv*, jobject) { \
        return 0; \
    }

CORVALE_STUB(check)
CORVALE_STUB(deriveKeyNative)
CORVALE_STUB(getFunctionStatus)
CORVALE_STUB(cancelFunction)
