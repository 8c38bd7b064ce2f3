// The shapes of the object, cryptographic and key natives, written once:
// argument conversion (handles, the mechanism), the output protocol and the
// answer for each shape. A native is then its module function and a shape.
//
// Order in every native: a null required argument gives a Java null; an
// unbound object gives CKR_CRYPTOKI_NOT_INITIALIZED; an argument that cannot
// be converted (empty or out-of-range slice, bad template) gives a Java null;
// only then is the module called.
#pragma once

#include "corvale/natives/common.h"
#include "corvale/natives/output.h"
#include "corvale/templates/templates.h"

// The exported JNI name of a native of NativeCryptokiFunctions.
#define CORVALE_NATIVE(name) JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_##name

namespace corvale {

inline CK_SESSION_HANDLE sessionOf(JNIEnv* env, jobject session) {
    return toUlong(SessionHandle::of(env, session).getHandle());
}
inline CK_OBJECT_HANDLE handleOf(JNIEnv* env, jobject handle) { return toUlong(Handle::of(env, handle).getValue()); }

// A CK_MECHANISM with its own copy of the parameter bytes, which are handed
// over as Java laid them out. A null or empty parameter is null, length 0.
struct Mechanism {
    CK_MECHANISM mechanism{};
    Scratch<CK_BYTE, 256> parameter;
    CK_MECHANISM* get() { return &mechanism; }
};
// False only when the parameter copy cannot be had.
bool getMechanism(JNIEnv* env, jobject type, jbyteArray parameter, Mechanism& out);

// What a final step does with an output of 0 bytes.
enum class EmptyOutput { Kept, Dropped };

// The answer of a data-returning native: the output as a new byte[] when rv
// is CKR_OK (kept empty or dropped), null data otherwise. Null when the VM
// cannot make the array (its OutOfMemoryError is then pending).
template <class Result, size_t N>
jobject dataResult(JNIEnv* env, CK_RV rv, const Scratch<CK_BYTE, N>& out, CK_ULONG count,
                   EmptyOutput empty = EmptyOutput::Kept) {
    jbyteArray data = nullptr;
    if (rv == CKR_OK && (count || empty == EmptyOutput::Kept)) {
        data = newByteArray(env, out.data(), count);
        if (!data) {
            if (env->ExceptionCheck()) return nullptr;
            rv = CKR_HOST_MEMORY;  // more than a Java array holds
        }
    }
    return Result(env, data, returnValue(env, rv)).obj;
}

// Output room: a 4 KiB input plus a cipher's padding or tag stays on the
// stack, like the input it came from.
using OutBytes = Scratch<CK_BYTE, 4096 + 64>;

using KeyedInitFn = CK_RV (*)(CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE);
using DataOutFn = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*);
using FinalOutFn = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*);
using SliceInFn = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG);

// Keyed init: (session, mechanism, parameter, key) to a ReturnValue.
jobject keyedInit(JNIEnv* env, jobject self, jobject session, jobject mechanism, jbyteArray parameter,
                  jobject key, KeyedInitFn CK_FUNCTION_LIST::*fn);

// Slice in, no data out: (session, data, offset, length) to a ReturnValue.
jobject sliceIn(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length,
                SliceInFn CK_FUNCTION_LIST::*fn);

// Data in, data out by the two-call protocol; a reported length of 0 gets
// a 1-byte buffer, an output of 0 bytes is an empty array.
template <class Result>
jobject dataOut(JNIEnv* env, CK_FUNCTION_LIST* functions, jobject session, const Bytes& input,
                DataOutFn CK_FUNCTION_LIST::*fn) {
    CK_SESSION_HANDLE s = sessionOf(env, session);
    DataOutFn call = functions->*fn;
    OutBytes out;
    CK_ULONG count = 0;
    CK_RV rv = fetchOutput(
        [&](CK_BYTE* buffer, CK_ULONG* length) { return call(s, input.data(), input.size(), buffer, length); },
        out, count, ZeroLength::OneElement);
    return dataResult<Result>(env, rv, out, count);
}

// Slice in, data out: (session, data, offset, length) to a Result.
template <class Result>
jobject sliceOut(JNIEnv* env, jobject self, jobject session, jbyteArray data, jint offset, jint length,
                 DataOutFn CK_FUNCTION_LIST::*fn) {
    if (!session || !data) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<Result>(env);
    Bytes input;
    if (!getArrayCopy(env, data, offset, length, input)) return nullptr;
    return dataOut<Result>(env, functions, session, input, fn);
}

// Final step: (session) to a Result; a reported length of 0 gets a valid
// zero-size buffer.
template <class Result>
jobject finalOut(JNIEnv* env, jobject self, jobject session, FinalOutFn CK_FUNCTION_LIST::*fn,
                 EmptyOutput empty) {
    if (!session) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<Result>(env);
    CK_SESSION_HANDLE s = sessionOf(env, session);
    FinalOutFn call = functions->*fn;
    OutBytes out;
    CK_ULONG count = 0;
    CK_RV rv = fetchOutput([&](CK_BYTE* buffer, CK_ULONG* length) { return call(s, buffer, length); }, out,
                           count, ZeroLength::Empty);
    return dataResult<Result>(env, rv, out, count, empty);
}

} // namespace corvale
