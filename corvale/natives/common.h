// The prologue every native shares, and the Java arguments it converts.
//
// A native is guarded<Result>(env, self, body, arguments...):
//  1. a null required argument: a Java null;
//  2. an object with no bound module: CKR_CRYPTOKI_NOT_INITIALIZED, alone
//     or in its Result with null data;
//  3. the arguments are converted in the order given, and the first that
//     fails ends the native with a Java null: an empty or out-of-range
//     slice or a bad template, or a getter that threw, whose exception then
//     reaches the caller unchanged (no JNI call follows);
//  4. only then does body(call, arguments...) call the module and build the
//     answer; should that fail, the native's answer is null as well.
#pragma once

#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include "corvale/binding/state.h"
#include "corvale/bridge/values.h"
#include "corvale/templates/templates.h"

namespace corvale {

template <class T>
struct Same {
    using type = T;
};

// One call of a module that cannot lock by itself, under its binding's lock.
// Out of line and named so: the only place a native takes a lock.
template <class... P>
[[gnu::noinline]] CK_RV serialisedCall(pthread_mutex_t& serial, CK_RV (*fn)(P...), typename Same<P>::type... a) {
    pthread_mutex_lock(&serial);
    CK_RV rv = fn(a...);
    pthread_mutex_unlock(&serial);
    return rv;
}

// What a native's body works with: the call's Env and the bound module.
struct Call {
    Env& env;
    CK_FUNCTION_LIST& module;
    pthread_mutex_t* serial;  // null unless the module cannot lock by itself

    // Every module call of a native goes through here.
    template <class... P, class... A>
    CK_RV call(CK_RV (*CK_FUNCTION_LIST::*fn)(P...), A&&... a) const {
        if (__builtin_expect(serial != nullptr, 0)) return serialisedCall<P...>(*serial, module.*fn, a...);
        return (module.*fn)(std::forward<A>(a)...);
    }
    // The same with the arguments in a tuple, and any given after them.
    template <class Fn, class Tuple, class... More>
    CK_RV apply(Fn fn, const Tuple& args, More... more) const {
        return std::apply([&](auto... x) { return call(fn, x..., more...); }, args);
    }
};

inline ReturnValue returnValue(Env& e, CK_RV rv) { return ReturnValue(e, toJlong(rv)); }
// A bare ReturnValue as the native's answer.
inline jobject answer(Env& e, CK_RV rv) { return returnValue(e, rv).obj; }

// The answer on an unbound object: CKR_CRYPTOKI_NOT_INITIALIZED, alone or in
// its result record with null data.
template <class Result>
jobject notBound(Env& e) {
    return Result(e, typename Result::Data{}, returnValue(e, CKR_CRYPTOKI_NOT_INITIALIZED)).obj;
}
template <>
inline jobject notBound<ReturnValue>(Env& e) {
    return answer(e, CKR_CRYPTOKI_NOT_INITIALIZED);
}
template <>
inline jobject notBound<GenerateKeyPairResult>(Env& e) {
    return GenerateKeyPairResult(e, Handle(), Handle(), returnValue(e, CKR_CRYPTOKI_NOT_INITIALIZED)).obj;
}

template <class Result, class Body, class... Args>
jobject guarded(JNIEnv* env, jobject self, Body&& body, Args&&... args) {
    if (!(args.present() && ...)) return nullptr;
    Binding* binding = getBinding(env, self);
    Env e{env};
    if (!binding) return notBound<Result>(e);
    if (!(args.convert(e) && ...)) return nullptr;
    jobject result = body(Call{e, binding->functions, binding->serialised ? &binding->serial : nullptr}, args...);
    return e.failed ? nullptr : result;
}

// The arguments. Each says whether its Java object is there (present),
// converts it (convert: false stops the native) and hands the module its
// values in parameter order (args).

// Required, but converted by the body (or not at all).
struct Required {
    jobject obj;
    explicit Required(jobject o) : obj(o) {}
    bool present() const { return obj != nullptr; }
    bool convert(Env&) { return true; }
};

// A Cryptoki number read through its value class's getter: a Java long cut
// to CK_ULONG, a Java int zero-extended (a user type of -1 is 0xFFFFFFFF,
// not sign-extended on x86-64).
template <class Proxy, class T, T (Proxy::*get)() const>
struct NumberArg {
    jobject obj;
    CK_ULONG value = 0;
    explicit NumberArg(jobject o) : obj(o) {}
    bool present() const { return obj != nullptr; }
    bool convert(Env& e) {
        value = static_cast<CK_ULONG>(static_cast<std::make_unsigned_t<T>>((Proxy::of(e, obj).*get)()));
        return !e.failed;
    }
    operator CK_ULONG() const { return value; }
    std::tuple<CK_ULONG> args() const { return std::tuple<CK_ULONG>(value); }
};
using SessionArg = NumberArg<SessionHandle, long long, &SessionHandle::getHandle>;
using HandleArg = NumberArg<Handle, long long, &Handle::getValue>;
using SlotArg = NumberArg<SlotId, long long, &SlotId::getId>;
using MechanismTypeArg = NumberArg<MechanismType, long long, &MechanismType::getType>;
using FlagsArg = NumberArg<OpenSessionFlags, long long, &OpenSessionFlags::getFlags>;
using UserArg = NumberArg<UserType, int, &UserType::getNum>;

// A CK_MECHANISM with its own copy of the parameter bytes, handed over as
// Java laid them out (wiped: some carry passwords or keys). The parameter
// is optional; a null or empty one is null, length 0.
struct MechanismArg {
    jobject type;
    jbyteArray parameter;
    CK_MECHANISM mechanism{};
    Scratch<CK_BYTE, 256> bytes;
    MechanismArg(jobject t, jbyteArray p) : type(t), parameter(p) {}
    bool present() const { return type != nullptr; }
    bool convert(Env& e) {
        mechanism.mechanism = toUlong(MechanismType::of(e, type).getType());
        if (parameter && !getArrayCopy(e, parameter, bytes, EmptyArray::Null)) return false;
        mechanism.pParameter = bytes.size() ? bytes.data() : nullptr;
        mechanism.ulParameterLen = bytes.size();
        return !e.failed;
    }
    std::tuple<CK_MECHANISM*> args() { return std::tuple<CK_MECHANISM*>(&mechanism); }
};

// A slice (array, offset, length); empty or out of range: the native answers null.
template <Wipe W>
struct SliceArg {
    jbyteArray array;
    jint offset;
    jint length;
    Bytes<W> bytes;
    SliceArg(jbyteArray a, jint o, jint n) : array(a), offset(o), length(n) {}
    bool present() const { return array != nullptr; }
    bool convert(Env& e) { return getArrayCopy(e, array, offset, length, bytes); }
    std::tuple<CK_BYTE*, CK_ULONG> args() const { return {bytes.data(), bytes.size()}; }
};

// A whole byte[]; what an empty one becomes is Empty's.
template <Wipe W, EmptyArray Empty>
struct ArrayArg {
    jbyteArray array;
    Bytes<W> bytes;
    explicit ArrayArg(jbyteArray a) : array(a) {}
    bool present() const { return array != nullptr; }
    bool convert(Env& e) { return getArrayCopy(e, array, bytes, Empty); }
    std::tuple<CK_BYTE*, CK_ULONG> args() const {
        return {Empty == EmptyArray::Null && !bytes.size() ? nullptr : bytes.data(), bytes.size()};
    }
};

// A PIN as the module gets it: the first String.length() bytes of its
// modified UTF-8 form (PINs already stored on tokens were set that way),
// wiped when it goes.
struct TextArg {
    jstring str;
    SecretText text;
    explicit TextArg(jstring s) : str(s) {}
    bool present() const { return str != nullptr; }
    bool convert(Env& e) {
        text = JNIString(e, str).toCString();
        return text && !e.failed;
    }
    std::tuple<CK_UTF8CHAR*, CK_ULONG> args() const { return {text.utf8(), text.length()}; }
};

// A token label as C_InitToken takes it: exactly 32 bytes, blank-padded,
// no terminator; longer text is cut.
struct LabelArg {
    jstring str;
    CK_UTF8CHAR field[32];
    explicit LabelArg(jstring s) : str(s) {}
    bool present() const { return str != nullptr; }
    bool convert(Env& e) {
        TextArg text{str};
        if (!text.convert(e)) return false;
        CK_ULONG n = text.text.length();
        std::memset(field, ' ', sizeof field);
        std::memcpy(field, text.text.get(), n < sizeof field ? n : sizeof field);
        return true;
    }
    std::tuple<CK_UTF8CHAR*> args() { return std::tuple<CK_UTF8CHAR*>(field); }
};

// An attribute template, owned (and wiped) for the call.
struct TemplateArg {
    jobjectArray array;
    TemplateValues values;
    Template tpl;
    explicit TemplateArg(jobjectArray a, TemplateValues v = TemplateValues::Copy) : array(a), values(v) {}
    bool present() const { return array != nullptr; }
    bool convert(Env& e) { return createTemplate(e, array, tpl, values); }
    std::tuple<CK_ATTRIBUTE*, CK_ULONG> args() const { return {tpl.data(), tpl.count()}; }
};

} // namespace corvale
