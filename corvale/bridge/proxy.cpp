#include "corvale/bridge/proxy.h"

namespace corvale {

jclass lookupClass(JNIEnv* env, JavaClass& c) {
    if (c.cls) return c.cls;
    jclass local = env->FindClass(c.path);
    if (!local) {
        writeMessage(c.notFound);
        return nullptr;
    }
    auto global = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    if (!global) writeMessage(c.noGlobalRef);
    c.cls = global;
    return global;
}

jmethodID lookupMethod(JNIEnv* env, JavaMethod& m) {
    if (m.id) return m.id;
    jclass cls = lookupClass(env, *m.owner);
    if (!cls) return nullptr;
    jmethodID id = env->GetMethodID(cls, m.name, m.signature);
    if (!id) writeMessage(m.notFound);
    m.id = id;
    return id;
}

jobject construct(JNIEnv* env, JavaMethod& ctor, std::initializer_list<jvalue> args) {
    // A part that failed before (say, a nested record hit OutOfMemoryError)
    // left its exception pending, and no further JNI call is allowed then:
    // this object fails alike and the exception reaches the Java caller.
    if (env->ExceptionCheck()) {
        writeMessage(ctor.owner->constructionFailed);
        return nullptr;
    }
    jclass cls = lookupClass(env, *ctor.owner);
    if (!cls) return nullptr;
    jmethodID id = lookupMethod(env, ctor);
    if (!id) return nullptr;
    jobject obj = env->NewObjectA(cls, id, args.begin());
    // A constructor that throws yields null: no separate exception check.
    if (!obj) writeMessage(ctor.owner->constructionFailed);
    return obj;
}

// A getter that throws yields zero; its exception stays pending for the
// caller of the native.
jlong callLong(JNIEnv* env, jobject obj, JavaMethod& m) {
    jmethodID id = lookupMethod(env, m);
    if (!id) return 0;
    jlong v = env->CallLongMethod(obj, id);
    return env->ExceptionCheck() ? 0 : v;
}

jint callInt(JNIEnv* env, jobject obj, JavaMethod& m) {
    jmethodID id = lookupMethod(env, m);
    if (!id) return 0;
    jint v = env->CallIntMethod(obj, id);
    return env->ExceptionCheck() ? 0 : v;
}

jobject callObject(JNIEnv* env, jobject obj, JavaMethod& m) {
    jmethodID id = lookupMethod(env, m);
    if (!id) return nullptr;
    jobject v = env->CallObjectMethod(obj, id);
    return env->ExceptionCheck() ? nullptr : v;
}

} // namespace corvale
