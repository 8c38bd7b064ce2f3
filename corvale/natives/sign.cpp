// Signing and verification, with and without recovery. The data signed or
// verified is wiped; signatures are public.
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

extern "C" {

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_signInit(
    JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter, jobject key) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_SignInit, SessionArg{session},
                      MechanismArg{mechanism, parameter}, HandleArg{key});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_sign(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<SignResult, Secret::In>(env, self, &CK_FUNCTION_LIST::C_Sign, session, data, offset, length);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_signUpdate(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_SignUpdate, SessionArg{session},
                      DataSlice{data, offset, length});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_signFinal(JNIEnv* env, jobject self,
                                                                                         jobject session) {
    return finalOut<SignResult, Secret::None, EmptyOutput::Dropped>(env, self, &CK_FUNCTION_LIST::C_SignFinal,
                                                                    session);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_signRecoverInit(
    JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter, jobject key) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_SignRecoverInit, SessionArg{session},
                      MechanismArg{mechanism, parameter}, HandleArg{key});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_signRecover(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult, Secret::In>(env, self, &CK_FUNCTION_LIST::C_SignRecover, session, data, offset,
                                              length);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_verifyInit(
    JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter, jobject key) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_VerifyInit, SessionArg{session},
                      MechanismArg{mechanism, parameter}, HandleArg{key});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_verify(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length, jbyteArray signature) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_Verify, SessionArg{session}, DataSlice{data, offset, length},
                      SignatureArg{signature});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_verifyUpdate(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_VerifyUpdate, SessionArg{session},
                      DataSlice{data, offset, length});
}

// Here an empty signature reaches the module (null, 0) for it to judge.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_verifyFinal(JNIEnv* env, jobject self,
                                                                                           jobject session,
                                                                                           jbyteArray signature) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_VerifyFinal, SessionArg{session},
                      ArrayArg<Wipe::No, EmptyArray::Null>{signature});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_verifyRecoverInit(
    JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter, jobject key) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_VerifyRecoverInit, SessionArg{session},
                      MechanismArg{mechanism, parameter}, HandleArg{key});
}

// The recovered data is plaintext.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_verifyRecover(JNIEnv* env,
                                                                                             jobject self,
                                                                                             jobject session,
                                                                                             jbyteArray signature) {
    return dataOut<CipherResult, Wipe::Yes, ZeroLength::OneElement, EmptyOutput::Kept>(
        env, self, &CK_FUNCTION_LIST::C_VerifyRecover, SessionArg{session}, SignatureArg{signature});
}

} // extern "C"
