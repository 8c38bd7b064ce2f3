// The one pattern every value-class proxy follows: a cached global class
// reference, cached method IDs, fixed messages when a lookup fails. A failed
// lookup never leads to a JNI call with a null class or method ID, and after
// any failure (Env) no JNI call is made at all.
#pragma once

#include <atomic>
#include <initializer_list>

#include "corvale/common/cryptoki.h"
#include "corvale/common/diag.h"
#include "corvale/common/env.h"

namespace corvale {

// The caches are filled on first use and never change after. Two threads
// that race on an empty one store equal IDs (or each its own global class
// reference, one of which stays allocated): relaxed loads and stores, plain
// moves on both targets, no lock and no read-modify-write.
struct JavaClass {
    const char* path;
    Message notFound;
    Message noGlobalRef;
    Message constructionFailed;
    std::atomic<jclass> cls;
};

struct JavaMethod {
    JavaClass* owner;
    const char* name;
    const char* signature;
    Message notFound;
    std::atomic<jmethodID> id;
};

// The lookups behind the caches: null, with e.failed set, when the class or
// method is missing (the VM's error is then pending).
jclass findClass(Env& e, JavaClass& c);
jmethodID findMethod(Env& e, JavaMethod& m);
// The first object of a class: the lookups, then the object.
jobject constructFirst(Env& e, JavaMethod& ctor, const jvalue* args);
// No object (a part failed before, or the constructor threw): the class's
// message, and the call has failed.
jobject notConstructed(Env& e, JavaMethod& ctor);

inline jclass lookupClass(Env& e, JavaClass& c) {
    jclass cls = c.cls.load(std::memory_order_relaxed);
    return cls ? cls : findClass(e, c);
}

// The ID to call through; null after a failure, when nothing may be called.
inline jmethodID callable(Env& e, JavaMethod& m) {
    jmethodID id = m.id.load(std::memory_order_relaxed);
    if (e.failed) return nullptr;
    return id ? id : findMethod(e, m);
}

// A new object; null when a part failed before (then no JNI call is made, so
// a failed part is never wrapped in its record), or the class, the
// constructor or the object cannot be had.
inline jobject construct(Env& e, JavaMethod& ctor, std::initializer_list<jvalue> args) {
    jclass cls = ctor.owner->cls.load(std::memory_order_relaxed);
    jmethodID id = ctor.id.load(std::memory_order_relaxed);
    if (e.failed) return notConstructed(e, ctor);
    if (!cls || !id) return constructFirst(e, ctor, args.begin());
    jobject obj = e.jni->NewObjectA(cls, id, args.begin());
    // A constructor that throws yields null.
    return obj ? obj : notConstructed(e, ctor);
}

// Getters on a proxy, through the non-variadic JNI entries: zero or null,
// with e.failed set, when the method is missing or throws; its exception
// stays pending for the native's caller.
template <class T, T (JNIEnv::*call)(jobject, jmethodID, const jvalue*)>
inline T callGetter(Env& e, jobject obj, JavaMethod& m) {
    jmethodID id = callable(e, m);
    if (!id) return T();
    T v = (e.jni->*call)(obj, id, nullptr);
    if (!e.jni->ExceptionCheck()) return v;
    e.failed = true;
    return T();
}
inline jlong callLong(Env& e, jobject obj, JavaMethod& m) {
    return callGetter<jlong, &JNIEnv::CallLongMethodA>(e, obj, m);
}
inline jint callInt(Env& e, jobject obj, JavaMethod& m) { return callGetter<jint, &JNIEnv::CallIntMethodA>(e, obj, m); }
inline jobject callObject(Env& e, jobject obj, JavaMethod& m) {
    return callGetter<jobject, &JNIEnv::CallObjectMethodA>(e, obj, m);
}

inline jvalue jv(long long v) { jvalue r; r.j = static_cast<jlong>(v); return r; }
inline jvalue jv(int v) { jvalue r; r.i = v; return r; }
inline jvalue jv(unsigned char v) { jvalue r; r.z = v; return r; }
inline jvalue jv(jobject v) { jvalue r; r.l = v; return r; }
template <class Proxy, class = decltype(Proxy::getClass)>
inline jvalue jv(const Proxy& p) { return jv(p.obj); }

} // namespace corvale
