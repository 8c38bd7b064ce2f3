// The shapes of the natives, written once on the guarded prologue: which
// module function, which arguments in its parameter order, and what comes
// back (a return code, a new handle, or bytes by the output protocol). A
// native is then one shape and its arguments.
#pragma once

#include "corvale/natives/common.h"
#include "corvale/natives/output.h"

namespace corvale {

// A module function's parameters as the converted arguments give them, in order.
template <class... Args>
auto moduleArgs(Args&... args) {
    return std::tuple_cat(args.args()...);
}

// Arguments in, a ReturnValue out.
template <class... P, class... Args>
jobject returnCode(JNIEnv* env, jobject self, CK_RV (*CK_FUNCTION_LIST::*fn)(P...), Args&&... args) {
    return guarded<ReturnValue>(
        env, self,
        [fn](Call c, Args&... a) { return answer(c.env, c.apply(fn, moduleArgs(a...))); },
        std::forward<Args>(args)...);
}

// Arguments in, a new object's handle out: Result(Handle, ReturnValue); the
// handle is 0 when the call failed, whatever the module left in it.
template <class Result, class... P, class... Args>
jobject handleOut(JNIEnv* env, jobject self, CK_RV (*CK_FUNCTION_LIST::*fn)(P...), Args&&... args) {
    return guarded<Result>(
        env, self,
        [fn](Call c, Args&... a) {
            CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
            CK_RV rv = c.apply(fn, moduleArgs(a...), &handle);
            return Result(c.env, Handle(c.env, rv == CKR_OK ? toJlong(handle) : 0), returnValue(c.env, rv)).obj;
        },
        std::forward<Args>(args)...);
}

// What a data-returning native answers for an output of 0 bytes.
enum class EmptyOutput { Kept, Dropped };

// Output room: a 4 KiB input plus a cipher's padding or tag stays on the
// stack, like the input it came from.
constexpr size_t kOutputRoom = 4096 + 64;

// Arguments in, bytes out by the two-call protocol: Result(byte[], ReturnValue),
// the data null unless the code is CKR_OK. Out says whether the output is
// secret (wiped); Zero what a reported length of 0 becomes.
template <class Result, Wipe Out, ZeroLength Zero, EmptyOutput Empty, class... P, class... Args>
jobject dataOut(JNIEnv* env, jobject self, CK_RV (*CK_FUNCTION_LIST::*fn)(P...), Args&&... args) {
    return guarded<Result>(
        env, self,
        [fn](Call c, Args&... a) {
            auto in = moduleArgs(a...);
            Scratch<CK_BYTE, kOutputRoom, Out> out;
            CK_ULONG count = 0;
            CK_RV rv = fetchOutput(
                [&](CK_BYTE* buffer, CK_ULONG* length) { return c.apply(fn, in, buffer, length); },
                out, count, Zero);
            jbyteArray data = nullptr;
            if (rv == CKR_OK && (count || Empty == EmptyOutput::Kept)) {
                data = newByteArray(c.env, out.data(), count);
                if (!data) return jobject(nullptr);  // the VM's error is pending
            }
            return Result(c.env, data, returnValue(c.env, rv)).obj;
        },
        std::forward<Args>(args)...);
}

// Which side of a data-returning operation may be secret: the plaintext
// going in (encrypt, digest, sign), the plaintext coming out (decrypt,
// recovery from a signature), or neither. Only that side is wiped.
enum class Secret { In, Out, None };

constexpr Wipe wipeIf(bool secret) { return secret ? Wipe::Yes : Wipe::No; }

using DataOutFn = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG, CK_BYTE*, CK_ULONG*);
using FinalOutFn = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*);

// Slice in, data out: (session, data, offset, length) to a Result; a
// reported length of 0 gets a 1-byte buffer, an output of 0 bytes is an
// empty array.
template <class Result, Secret S>
jobject sliceOut(JNIEnv* env, jobject self, DataOutFn CK_FUNCTION_LIST::*fn, jobject session, jbyteArray data,
                 jint offset, jint length) {
    return dataOut<Result, wipeIf(S == Secret::Out), ZeroLength::OneElement, EmptyOutput::Kept>(
        env, self, fn, SessionArg{session}, SliceArg<wipeIf(S == Secret::In)>{data, offset, length});
}

// A final step: (session) to a Result; a reported length of 0 gets a valid
// zero-size buffer.
template <class Result, Secret S, EmptyOutput Empty>
jobject finalOut(JNIEnv* env, jobject self, FinalOutFn CK_FUNCTION_LIST::*fn, jobject session) {
    return dataOut<Result, wipeIf(S == Secret::Out), ZeroLength::Empty, Empty>(env, self, fn, SessionArg{session});
}

// Data to digest, sign or verify: plaintext, wiped.
using DataSlice = SliceArg<Wipe::Yes>;
// A signature to check: public; an empty one is no signature (a Java null).
using SignatureArg = ArrayArg<Wipe::No, EmptyArray::Refused>;

} // namespace corvale
