#include "corvale/bridge/proxy.h"

namespace corvale {

jclass findClass(Env& e, JavaClass& c) {
    if (jclass cached = c.cls.load(std::memory_order_relaxed)) return cached;
    jclass local = e.jni->FindClass(c.path);
    if (!local) {
        writeMessage(c.notFound);
        e.failed = true;
        return nullptr;
    }
    auto global = static_cast<jclass>(e.jni->NewGlobalRef(local));
    e.jni->DeleteLocalRef(local);
    if (!global) {
        writeMessage(c.noGlobalRef);
        e.failed = true;
        return nullptr;
    }
    c.cls.store(global, std::memory_order_relaxed);
    return global;
}

jmethodID findMethod(Env& e, JavaMethod& m) {
    if (jmethodID cached = m.id.load(std::memory_order_relaxed)) return cached;
    jclass cls = findClass(e, *m.owner);
    if (!cls) return nullptr;
    jmethodID id = e.jni->GetMethodID(cls, m.name, m.signature);
    if (!id) {
        writeMessage(m.notFound);
        e.failed = true;
        return nullptr;
    }
    m.id.store(id, std::memory_order_relaxed);
    return id;
}

jobject constructFirst(Env& e, JavaMethod& ctor, const jvalue* args) {
    jclass cls = findClass(e, *ctor.owner);
    jmethodID id = cls ? findMethod(e, ctor) : nullptr;
    if (!id) return nullptr;
    jobject obj = e.jni->NewObjectA(cls, id, args);
    return obj ? obj : notConstructed(e, ctor);
}

jobject notConstructed(Env& e, JavaMethod& ctor) {
    writeMessage(ctor.owner->constructionFailed);
    e.failed = true;
    return nullptr;
}

} // namespace corvale
