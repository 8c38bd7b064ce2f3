// Key generation, wrapping and unwrapping, and random numbers. Key handles
// that a failed call may have left behind are reported as 0.
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

namespace {

jobject keyResult(JNIEnv* env, CK_RV rv, CK_OBJECT_HANDLE key) {
    return GenerateKeyResult(env, Handle(env, rv == CKR_OK ? toJlong(key) : 0), returnValue(env, rv)).obj;
}

} // namespace

extern "C" {

CORVALE_NATIVE(generateKeyNative)(JNIEnv* env, jobject self, jobject session, jobject mechanism,
                                  jbyteArray parameter, jobjectArray attributes) {
    if (!session || !mechanism || !attributes) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<GenerateKeyResult>(env);
    Mechanism m;
    Template tpl;
    if (!getMechanism(env, mechanism, parameter, m) || !createTemplate(env, attributes, tpl)) return nullptr;
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    CK_RV rv = functions->C_GenerateKey(sessionOf(env, session), m.get(), tpl.data(), tpl.count(), &key);
    return keyResult(env, rv, key);
}

// The fourth Java argument is the public key's template, the fifth the
// private key's; the result names the private key first.
CORVALE_NATIVE(generateKeyPairNative)(JNIEnv* env, jobject self, jobject session, jobject mechanism,
                                      jbyteArray parameter, jobjectArray publicAttributes,
                                      jobjectArray privateAttributes) {
    if (!session || !mechanism || !publicAttributes || !privateAttributes) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<GenerateKeyPairResult>(env);
    Mechanism m;
    Template privateTpl, publicTpl;
    if (!getMechanism(env, mechanism, parameter, m) || !createTemplate(env, privateAttributes, privateTpl) ||
        !createTemplate(env, publicAttributes, publicTpl))
        return nullptr;
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE, privateKey = CK_INVALID_HANDLE;
    CK_RV rv = functions->C_GenerateKeyPair(sessionOf(env, session), m.get(), publicTpl.data(), publicTpl.count(),
                                            privateTpl.data(), privateTpl.count(), &publicKey, &privateKey);
    if (rv != CKR_OK) publicKey = privateKey = CK_INVALID_HANDLE;
    Handle privateHandle(env, toJlong(privateKey));
    Handle publicHandle(env, toJlong(publicKey));
    return GenerateKeyPairResult(env, privateHandle, publicHandle, returnValue(env, rv)).obj;
}

// Two calls like every data-returning native; an empty wrapped key is kept.
CORVALE_NATIVE(wrapKey)(JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter,
                        jobject wrappingKey, jobject key) {
    if (!session || !mechanism || !wrappingKey || !key) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<WrapKeyResult>(env);
    Mechanism m;
    if (!getMechanism(env, mechanism, parameter, m)) return nullptr;
    CK_OBJECT_HANDLE wrapping = handleOf(env, wrappingKey);
    CK_OBJECT_HANDLE wrapped = handleOf(env, key);
    CK_SESSION_HANDLE s = sessionOf(env, session);
    OutBytes out;
    CK_ULONG count = 0;
    CK_RV rv = fetchOutput(
        [&](CK_BYTE* buffer, CK_ULONG* length) {
            return functions->C_WrapKey(s, m.get(), wrapping, wrapped, buffer, length);
        },
        out, count, ZeroLength::Empty);
    return dataResult<WrapKeyResult>(env, rv, out, count);
}

// An empty wrapped key still reaches the module (null, 0) for it to refuse.
CORVALE_NATIVE(unwrapKeyNative)(JNIEnv* env, jobject self, jobject session, jobject mechanism,
                                jbyteArray parameter, jobject unwrappingKey, jbyteArray wrappedKey,
                                jobjectArray attributes) {
    if (!session || !mechanism || !unwrappingKey || !wrappedKey || !attributes) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<GenerateKeyResult>(env);
    Bytes wrapped;
    Mechanism m;
    Template tpl;
    if (!getOptionalCopy(env, wrappedKey, wrapped) || !getMechanism(env, mechanism, parameter, m) ||
        !createTemplate(env, attributes, tpl))
        return nullptr;
    CK_OBJECT_HANDLE unwrapping = handleOf(env, unwrappingKey);
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    CK_RV rv = functions->C_UnwrapKey(sessionOf(env, session), m.get(), unwrapping, orNull(wrapped), wrapped.size(),
                                      tpl.data(), tpl.count(), &key);
    return keyResult(env, rv, key);
}

CORVALE_NATIVE(seedRandom)(JNIEnv* env, jobject self, jobject session, jbyteArray seed) {
    if (!session || !seed) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    Bytes bytes;
    if (!getOptionalCopy(env, seed, bytes)) return nullptr;
    return returnValue(env, functions->C_SeedRandom(sessionOf(env, session), orNull(bytes), bytes.size())).obj;
}

// The array is rewritten whatever the code: on failure it keeps its former
// bytes wherever the module wrote none.
CORVALE_NATIVE(generateRandom)(JNIEnv* env, jobject self, jobject session, jbyteArray buffer) {
    if (!session || !buffer) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    Bytes random;
    if (!getOptionalCopy(env, buffer, random)) return nullptr;
    CK_RV rv = functions->C_GenerateRandom(sessionOf(env, session), orNull(random), random.size());
    if (random.size())
        env->SetByteArrayRegion(buffer, 0, static_cast<jsize>(random.size()), reinterpret_cast<jbyte*>(random.data()));
    return returnValue(env, rv).obj;
}

} // extern "C"
