// Encryption, decryption and the dual-function updates. What goes into an
// encryption and comes out of a decryption is plaintext, and wiped.
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

extern "C" {

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_encryptInit(
    JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter, jobject key) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_EncryptInit, SessionArg{session},
                      MechanismArg{mechanism, parameter}, HandleArg{key});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_decryptInit(
    JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter, jobject key) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_DecryptInit, SessionArg{session},
                      MechanismArg{mechanism, parameter}, HandleArg{key});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_encrypt(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult, Secret::In>(env, self, &CK_FUNCTION_LIST::C_Encrypt, session, data, offset, length);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_decrypt(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult, Secret::Out>(env, self, &CK_FUNCTION_LIST::C_Decrypt, session, data, offset, length);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_encryptUpdate(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult, Secret::In>(env, self, &CK_FUNCTION_LIST::C_EncryptUpdate, session, data, offset,
                                              length);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_decryptUpdate(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult, Secret::Out>(env, self, &CK_FUNCTION_LIST::C_DecryptUpdate, session, data, offset,
                                               length);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_encryptFinal(JNIEnv* env, jobject self,
                                                                                            jobject session) {
    return finalOut<CipherResult, Secret::None, EmptyOutput::Kept>(env, self, &CK_FUNCTION_LIST::C_EncryptFinal,
                                                                   session);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_decryptFinal(JNIEnv* env, jobject self,
                                                                                            jobject session) {
    return finalOut<CipherResult, Secret::Out, EmptyOutput::Kept>(env, self, &CK_FUNCTION_LIST::C_DecryptFinal,
                                                                  session);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_digestEncryptUpdate(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult, Secret::In>(env, self, &CK_FUNCTION_LIST::C_DigestEncryptUpdate, session, data,
                                              offset, length);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_decryptDigestUpdate(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult, Secret::Out>(env, self, &CK_FUNCTION_LIST::C_DecryptDigestUpdate, session, data,
                                               offset, length);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_signEncryptUpdate(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult, Secret::In>(env, self, &CK_FUNCTION_LIST::C_SignEncryptUpdate, session, data,
                                              offset, length);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_decryptVerifyUpdate(
    JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult, Secret::Out>(env, self, &CK_FUNCTION_LIST::C_DecryptVerifyUpdate, session, data,
                                               offset, length);
}

} // extern "C"
