// The one pattern every value-class proxy follows: a cached global class
// reference, cached method IDs, fixed messages when a lookup fails. A failed
// lookup never leads to a JNI call with a null class or method ID.
#pragma once

#include <initializer_list>

#include "corvale/common/cryptoki.h"
#include "corvale/common/diag.h"

namespace corvale {

struct JavaClass {
    const char* path;
    Message notFound;
    Message noGlobalRef;
    Message constructionFailed;
    jclass cls;  // global reference, filled on first use
};

struct JavaMethod {
    JavaClass* owner;
    const char* name;
    const char* signature;
    Message notFound;
    jmethodID id;  // filled on first use
};

jclass lookupClass(JNIEnv* env, JavaClass& c);
jmethodID lookupMethod(JNIEnv* env, JavaMethod& m);
// Null when the class, the constructor or the object cannot be had.
jobject construct(JNIEnv* env, JavaMethod& ctor, std::initializer_list<jvalue> args);

// Getters on a proxy: zero or null when the method cannot be found.
jlong callLong(JNIEnv* env, jobject obj, JavaMethod& m);
jint callInt(JNIEnv* env, jobject obj, JavaMethod& m);
jobject callObject(JNIEnv* env, jobject obj, JavaMethod& m);

inline jvalue jv(long long v) { jvalue r; r.j = static_cast<jlong>(v); return r; }
inline jvalue jv(int v) { jvalue r; r.i = v; return r; }
inline jvalue jv(unsigned char v) { jvalue r; r.z = v; return r; }
inline jvalue jv(jobject v) { jvalue r; r.l = v; return r; }
template <class Proxy, class = decltype(Proxy::getClass)>
inline jvalue jv(const Proxy& p) { return jv(p.obj); }

} // namespace corvale
