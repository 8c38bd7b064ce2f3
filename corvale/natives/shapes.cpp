#include "corvale/natives/shapes.h"

namespace corvale {

bool getMechanism(JNIEnv* env, jobject type, jbyteArray parameter, Mechanism& out) {
    out.mechanism.mechanism = toUlong(MechanismType::of(env, type).getType());
    if (!getOptionalCopy(env, parameter, out.parameter)) return false;
    out.mechanism.pParameter = orNull(out.parameter);
    out.mechanism.ulParameterLen = out.parameter.size();
    return true;
}

jobject keyedInit(JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter,
                  jobject key, KeyedInitFn CK_FUNCTION_LIST::*fn) {
    if (!session || !mechanism || !key) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    Mechanism m;
    if (!getMechanism(env, mechanism, parameter, m)) return nullptr;
    CK_OBJECT_HANDLE k = handleOf(env, key);
    return returnValue(env, (functions->*fn)(sessionOf(env, session), m.get(), k)).obj;
}

jobject sliceIn(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length,
                SliceInFn CK_FUNCTION_LIST::*fn) {
    if (!session || !data) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    Bytes input;
    if (!getArrayCopy(env, data, offset, length, input)) return nullptr;
    return returnValue(env, (functions->*fn)(sessionOf(env, session), input.data(), input.size())).obj;
}

} // namespace corvale
