// Digesting in one part or several, and digesting a key.
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

extern "C" {

CORVALE_NATIVE(digestInit)(JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter) {
    if (!session || !mechanism) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    Mechanism m;
    if (!getMechanism(env, mechanism, parameter, m)) return nullptr;
    return returnValue(env, functions->C_DigestInit(sessionOf(env, session), m.get())).obj;
}

CORVALE_NATIVE(digest)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<DigestResult>(env, self, session, data, offset, length, &CK_FUNCTION_LIST::C_Digest);
}

CORVALE_NATIVE(digestUpdate)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset,
                             jint length) {
    return sliceIn(env, self, session, data, offset, length, &CK_FUNCTION_LIST::C_DigestUpdate);
}

CORVALE_NATIVE(digestKey)(JNIEnv* env, jobject self, jobject session, jobject key) {
    if (!session || !key) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    CK_OBJECT_HANDLE k = handleOf(env, key);
    return returnValue(env, functions->C_DigestKey(sessionOf(env, session), k)).obj;
}

CORVALE_NATIVE(digestFinal)(JNIEnv* env, jobject self, jobject session) {
    return finalOut<DigestResult>(env, self, session, &CK_FUNCTION_LIST::C_DigestFinal, EmptyOutput::Dropped);
}

} // extern "C"
