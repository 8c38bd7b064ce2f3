// Digesting in one part or several, and digesting a key. The data digested
// is wiped; digests are public.
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

extern "C" {

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_digestInit(JNIEnv* env, jobject self,
                                                                                          jobject session,
                                                                                          jobject mechanism,
                                                                                          jbyteArray parameter) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_DigestInit, SessionArg{session},
                      MechanismArg{mechanism, parameter});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_digest(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<DigestResult, Secret::In>(env, self, &CK_FUNCTION_LIST::C_Digest, session, data, offset, length);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_digestUpdate(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_DigestUpdate, SessionArg{session},
                      DataSlice{data, offset, length});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_digestKey(JNIEnv* env, jobject self,
                                                                                         jobject session, jobject key) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_DigestKey, SessionArg{session}, HandleArg{key});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_digestFinal(JNIEnv* env, jobject self,
                                                                                           jobject session) {
    return finalOut<DigestResult, Secret::None, EmptyOutput::Dropped>(env, self, &CK_FUNCTION_LIST::C_DigestFinal,
                                                                      session);
}

} // extern "C"
