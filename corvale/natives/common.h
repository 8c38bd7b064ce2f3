// What every native shares: the bound table, the not-bound answer, return codes.
#pragma once

#include "corvale/binding/state.h"
#include "corvale/bridge/values.h"

namespace corvale {

inline ReturnValue returnValue(JNIEnv* env, CK_RV rv) { return ReturnValue(env, static_cast<long long>(rv)); }

// The module table of a bound object; null for a new, refused or finalised
// one, which must then call nothing (answer with notBound).
inline CK_FUNCTION_LIST* boundFunctions(JNIEnv* env, jobject self) { return getFunctionList(env, self); }

// The answer of a native on an unbound object: CKR_CRYPTOKI_NOT_INITIALIZED,
// alone or in its result record with null data.
template <class Result>
jobject notBound(JNIEnv* env) {
    return Result(env, typename Result::Data{}, returnValue(env, CKR_CRYPTOKI_NOT_INITIALIZED)).obj;
}
template <>
inline jobject notBound<ReturnValue>(JNIEnv* env) {
    return returnValue(env, CKR_CRYPTOKI_NOT_INITIALIZED).obj;
}
template <>
inline jobject notBound<GenerateKeyPairResult>(JNIEnv* env) {
    return GenerateKeyPairResult(env, Handle(), Handle(), returnValue(env, CKR_CRYPTOKI_NOT_INITIALIZED)).obj;
}

} // namespace corvale
