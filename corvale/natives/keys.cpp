// Key generation, wrapping and unwrapping, and random numbers. Key handles
// that a failed call may have left behind are reported as 0.
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

namespace {

// Random bytes are secret; an empty array reaches the module as (null, 0).
using RandomArg = ArrayArg<Wipe::Yes, EmptyArray::Null>;

} // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_generateKeyNative(
    JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter, jobjectArray attributes) {
    return handleOut<GenerateKeyResult>(env, self, &CK_FUNCTION_LIST::C_GenerateKey, SessionArg{session},
                                        MechanismArg{mechanism, parameter}, TemplateArg{attributes});
}

// The fourth Java argument is the public key's template, the fifth the
// private key's; the result names the private key first.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_generateKeyPairNative(
    JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter,
    jobjectArray publicAttributes, jobjectArray privateAttributes) {
    return guarded<GenerateKeyPairResult>(
        env, self,
        [](Call c, SessionArg& s, MechanismArg& m, TemplateArg& privateTpl, TemplateArg& publicTpl) {
            CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE, privateKey = CK_INVALID_HANDLE;
            CK_RV rv = c.call(&CK_FUNCTION_LIST::C_GenerateKeyPair, s, &m.mechanism, publicTpl.tpl.data(), publicTpl.tpl.count(),
                                                  privateTpl.tpl.data(), privateTpl.tpl.count(), &publicKey,
                                                  &privateKey);
            if (rv != CKR_OK) publicKey = privateKey = CK_INVALID_HANDLE;
            Handle privateHandle(c.env, toJlong(privateKey));
            Handle publicHandle(c.env, toJlong(publicKey));
            return GenerateKeyPairResult(c.env, privateHandle, publicHandle, returnValue(c.env, rv)).obj;
        },
        SessionArg{session}, MechanismArg{mechanism, parameter}, TemplateArg{privateAttributes},
        TemplateArg{publicAttributes});
}

// Two calls like every data-returning native; an empty wrapped key is kept.
// A wrapped key is ciphertext: not wiped.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_wrapKey(
    JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter, jobject wrappingKey,
    jobject key) {
    return dataOut<WrapKeyResult, Wipe::No, ZeroLength::Empty, EmptyOutput::Kept>(
        env, self, &CK_FUNCTION_LIST::C_WrapKey, SessionArg{session}, MechanismArg{mechanism, parameter},
        HandleArg{wrappingKey}, HandleArg{key});
}

// An empty wrapped key still reaches the module (null, 0) for it to refuse.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_unwrapKeyNative(
    JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter, jobject unwrappingKey,
    jbyteArray wrappedKey, jobjectArray attributes) {
    return handleOut<GenerateKeyResult>(env, self, &CK_FUNCTION_LIST::C_UnwrapKey, SessionArg{session},
                                        MechanismArg{mechanism, parameter}, HandleArg{unwrappingKey},
                                        ArrayArg<Wipe::No, EmptyArray::Null>{wrappedKey}, TemplateArg{attributes});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_seedRandom(JNIEnv* env, jobject self,
                                                                                          jobject session,
                                                                                          jbyteArray seed) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_SeedRandom, SessionArg{session}, RandomArg{seed});
}

// The array is rewritten whatever the code: on failure it keeps its former
// bytes wherever the module wrote none.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_generateRandom(JNIEnv* env,
                                                                                              jobject self,
                                                                                              jobject session,
                                                                                              jbyteArray buffer) {
    return guarded<ReturnValue>(
        env, self,
        [buffer](Call c, SessionArg& s, RandomArg& random) {
            CK_RV rv = c.apply(&CK_FUNCTION_LIST::C_GenerateRandom, moduleArgs(s, random));
            if (jsize n = static_cast<jsize>(random.bytes.size()))
                c.env.jni->SetByteArrayRegion(buffer, 0, n, reinterpret_cast<jbyte*>(random.bytes.data()));
            return answer(c.env, rv);
        },
        SessionArg{session}, RandomArg{buffer});
}

} // extern "C"
