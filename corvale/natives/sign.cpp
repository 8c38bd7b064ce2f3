// Signing and verification, with and without recovery.
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

extern "C" {

CORVALE_NATIVE(signInit)(JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter,
                         jobject key) {
    return keyedInit(env, self, session, mechanism, parameter, key, &CK_FUNCTION_LIST::C_SignInit);
}

CORVALE_NATIVE(sign)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<SignResult>(env, self, session, data, offset, length, &CK_FUNCTION_LIST::C_Sign);
}

CORVALE_NATIVE(signUpdate)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceIn(env, self, session, data, offset, length, &CK_FUNCTION_LIST::C_SignUpdate);
}

CORVALE_NATIVE(signFinal)(JNIEnv* env, jobject self, jobject session) {
    return finalOut<SignResult>(env, self, session, &CK_FUNCTION_LIST::C_SignFinal, EmptyOutput::Dropped);
}

CORVALE_NATIVE(signRecoverInit)(JNIEnv* env, jobject self, jobject session, jobject mechanism,
                                jbyteArray parameter, jobject key) {
    return keyedInit(env, self, session, mechanism, parameter, key, &CK_FUNCTION_LIST::C_SignRecoverInit);
}

CORVALE_NATIVE(signRecover)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset,
                            jint length) {
    return sliceOut<CipherResult>(env, self, session, data, offset, length, &CK_FUNCTION_LIST::C_SignRecover);
}

CORVALE_NATIVE(verifyInit)(JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter,
                           jobject key) {
    return keyedInit(env, self, session, mechanism, parameter, key, &CK_FUNCTION_LIST::C_VerifyInit);
}

// An empty signature is no signature: a Java null, like a null one.
CORVALE_NATIVE(verify)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length,
                       jbyteArray signature) {
    if (!session || !data || !signature) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    Bytes input, sig;
    if (!getArrayCopy(env, data, offset, length, input) || !getArrayCopy(env, signature, sig)) return nullptr;
    CK_RV rv = functions->C_Verify(sessionOf(env, session), input.data(), input.size(), sig.data(), sig.size());
    return returnValue(env, rv).obj;
}

CORVALE_NATIVE(verifyUpdate)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset,
                             jint length) {
    return sliceIn(env, self, session, data, offset, length, &CK_FUNCTION_LIST::C_VerifyUpdate);
}

// Here an empty signature reaches the module (null, 0) for it to judge.
CORVALE_NATIVE(verifyFinal)(JNIEnv* env, jobject self, jobject session, jbyteArray signature) {
    if (!session || !signature) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    Bytes sig;
    if (!getOptionalCopy(env, signature, sig)) return nullptr;
    return returnValue(env, functions->C_VerifyFinal(sessionOf(env, session), orNull(sig), sig.size())).obj;
}

CORVALE_NATIVE(verifyRecoverInit)(JNIEnv* env, jobject self, jobject session, jobject mechanism,
                                  jbyteArray parameter, jobject key) {
    return keyedInit(env, self, session, mechanism, parameter, key, &CK_FUNCTION_LIST::C_VerifyRecoverInit);
}

CORVALE_NATIVE(verifyRecover)(JNIEnv* env, jobject self, jobject session, jbyteArray signature) {
    if (!session || !signature) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<CipherResult>(env);
    Bytes input;
    if (!getArrayCopy(env, signature, input)) return nullptr;
    return dataOut<CipherResult>(env, functions, session, input, &CK_FUNCTION_LIST::C_VerifyRecover);
}

} // extern "C"
