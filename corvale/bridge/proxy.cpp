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
    jclass cls = lookupClass(env, *ctor.owner);
    if (!cls) return nullptr;
    jmethodID id = lookupMethod(env, ctor);
    if (!id) return nullptr;
    jobject obj = env->NewObjectA(cls, id, args.begin());
    if (!obj) writeMessage(ctor.owner->constructionFailed);
    return obj;
}

jlong callLong(JNIEnv* env, jobject obj, JavaMethod& m) {
    jmethodID id = lookupMethod(env, m);
    return id ? env->CallLongMethod(obj, id) : 0;
}

jint callInt(JNIEnv* env, jobject obj, JavaMethod& m) {
    jmethodID id = lookupMethod(env, m);
    return id ? env->CallIntMethod(obj, id) : 0;
}

jobject callObject(JNIEnv* env, jobject obj, JavaMethod& m) {
    jmethodID id = lookupMethod(env, m);
    return id ? env->CallObjectMethod(obj, id) : nullptr;
}

} // namespace corvale
