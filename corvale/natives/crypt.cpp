// Encryption, decryption and the dual-function updates.
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

extern "C" {

CORVALE_NATIVE(encryptInit)(JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter,
                            jobject key) {
    return keyedInit(env, self, session, mechanism, parameter, key, &CK_FUNCTION_LIST::C_EncryptInit);
}

CORVALE_NATIVE(decryptInit)(JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter,
                            jobject key) {
    return keyedInit(env, self, session, mechanism, parameter, key, &CK_FUNCTION_LIST::C_DecryptInit);
}

CORVALE_NATIVE(encrypt)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult>(env, self, session, data, offset, length, &CK_FUNCTION_LIST::C_Encrypt);
}

CORVALE_NATIVE(decrypt)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut<CipherResult>(env, self, session, data, offset, length, &CK_FUNCTION_LIST::C_Decrypt);
}

CORVALE_NATIVE(encryptUpdate)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset,
                              jint length) {
    return sliceOut<CipherResult>(env, self, session, data, offset, length, &CK_FUNCTION_LIST::C_EncryptUpdate);
}

CORVALE_NATIVE(decryptUpdate)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset,
                              jint length) {
    return sliceOut<CipherResult>(env, self, session, data, offset, length, &CK_FUNCTION_LIST::C_DecryptUpdate);
}

CORVALE_NATIVE(encryptFinal)(JNIEnv* env, jobject self, jobject session) {
    return finalOut<CipherResult>(env, self, session, &CK_FUNCTION_LIST::C_EncryptFinal, EmptyOutput::Kept);
}

CORVALE_NATIVE(decryptFinal)(JNIEnv* env, jobject self, jobject session) {
    return finalOut<CipherResult>(env, self, session, &CK_FUNCTION_LIST::C_DecryptFinal, EmptyOutput::Kept);
}

CORVALE_NATIVE(digestEncryptUpdate)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset,
                                    jint length) {
    return sliceOut<CipherResult>(env, self, session, data, offset, length,
                                  &CK_FUNCTION_LIST::C_DigestEncryptUpdate);
}

CORVALE_NATIVE(decryptDigestUpdate)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset,
                                    jint length) {
    return sliceOut<CipherResult>(env, self, session, data, offset, length,
                                  &CK_FUNCTION_LIST::C_DecryptDigestUpdate);
}

CORVALE_NATIVE(signEncryptUpdate)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset,
                                  jint length) {
    return sliceOut<CipherResult>(env, self, session, data, offset, length,
                                  &CK_FUNCTION_LIST::C_SignEncryptUpdate);
}

CORVALE_NATIVE(decryptVerifyUpdate)(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset,
                                    jint length) {
    return sliceOut<CipherResult>(env, self, session, data, offset, length,
                                  &CK_FUNCTION_LIST::C_DecryptVerifyUpdate);
}

} // extern "C"
