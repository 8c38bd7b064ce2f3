// libmockctl.so: the JNI natives of corvaletest.Mock. The mock variants are
// opened by bare file name (the loader's search, like the library under test
// does), so both reach the same loaded instance; several variants can be open
// at once and each is driven through its own mock_control().
// The handles are never closed: they keep each variant's state alive while the
// library under test opens and closes the module.
#include "mock.h"

#include <dlfcn.h>
#include <jni.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Loaded {
    std::string file;
    void* handle;
    const MockControl* control;
};

std::mutex mu;
std::vector<Loaded> loaded;
size_t current = 0;  // index into loaded; valid once nUse succeeded

// Callers of the control natives have selected a variant first (Mock.java
// makes sure of it), so a control is always there.
const MockControl* ctl() {
    std::lock_guard<std::mutex> lock(mu);
    return loaded[current].control;
}

void* currentHandle() {
    std::lock_guard<std::mutex> lock(mu);
    return loaded.empty() ? nullptr : loaded[current].handle;
}

class Utf {
public:
    Utf(JNIEnv* env, jstring s) : env_(env), s_(s), p_(s ? env->GetStringUTFChars(s, nullptr) : nullptr) {}
    ~Utf() {
        if (p_) env_->ReleaseStringUTFChars(s_, p_);
    }
    const char* get() const { return p_; }

private:
    JNIEnv* env_;
    jstring s_;
    const char* p_;
};

std::vector<unsigned char> bytesOf(JNIEnv* env, jbyteArray a) {
    std::vector<unsigned char> out;
    if (!a) return out;
    out.resize(static_cast<size_t>(env->GetArrayLength(a)));
    if (!out.empty())
        env->GetByteArrayRegion(a, 0, static_cast<jsize>(out.size()), reinterpret_cast<jbyte*>(out.data()));
    return out;
}

jlong fromUlong(CK_ULONG v) { return static_cast<jlong>(static_cast<unsigned long long>(v)); }

jlongArray longArray(JNIEnv* env, const std::vector<jlong>& v) {
    jlongArray a = env->NewLongArray(static_cast<jsize>(v.size()));
    if (a && !v.empty()) env->SetLongArrayRegion(a, 0, static_cast<jsize>(v.size()), v.data());
    return a;
}

template <typename F>
F symbol(const char* name) {
    void* h = currentHandle();
    return h ? reinterpret_cast<F>(dlsym(h, name)) : nullptr;
}

}  // namespace

extern "C" {

// ---- control natives of corvaletest.Mock ------------------------------------------

JNIEXPORT jstring JNICALL Java_corvaletest_Mock_nUse(JNIEnv* env, jclass, jstring file, jstring dir) {
    Utf name(env, file), fallback(env, dir);
    if (!name.get()) return env->NewStringUTF("no library name");
    std::lock_guard<std::mutex> lock(mu);
    for (size_t i = 0; i < loaded.size(); ++i) {
        if (loaded[i].file == name.get()) {
            current = i;
            return nullptr;
        }
    }
    void* h = dlopen(name.get(), RTLD_NOW);
    if (!h && fallback.get()) h = dlopen((std::string(fallback.get()) + "/" + name.get()).c_str(), RTLD_NOW);
    if (!h) {
        const char* why = dlerror();
        return env->NewStringUTF(why ? why : "dlopen failed");
    }
    MockControlFn fn = reinterpret_cast<MockControlFn>(dlsym(h, "mock_control"));
    const MockControl* control = fn ? fn() : nullptr;
    if (!control || control->version != MOCK_CONTROL_VERSION)
        return env->NewStringUTF("not a mock module (no matching mock_control)");
    loaded.push_back(Loaded{name.get(), h, control});
    current = loaded.size() - 1;
    return nullptr;
}

JNIEXPORT void JNICALL Java_corvaletest_Mock_nReset(JNIEnv*, jclass) { ctl()->reset(); }

JNIEXPORT void JNICALL Java_corvaletest_Mock_nSetRecording(JNIEnv*, jclass, jboolean on) {
    ctl()->set_recording(on ? 1 : 0);
}

JNIEXPORT jstring JNICALL Java_corvaletest_Mock_nLog(JNIEnv* env, jclass) {
    const MockControl* c = ctl();
    std::string text;
    size_t need = c->log_text(nullptr, 0);
    for (;;) {  // calls from other threads may add lines meanwhile
        text.resize(need);
        size_t now = c->log_text(&text[0], text.size());
        if (now <= need) {
            text.resize(now);
            break;
        }
        need = now;
    }
    return env->NewStringUTF(text.c_str());  // the log is plain ASCII
}

JNIEXPORT void JNICALL Java_corvaletest_Mock_nClearLog(JNIEnv*, jclass) { ctl()->clear_log(); }

JNIEXPORT jlong JNICALL Java_corvaletest_Mock_nCallCount(JNIEnv* env, jclass, jstring function) {
    Utf f(env, function);
    return ctl()->call_count(f.get());
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nSetRv(JNIEnv* env, jclass, jstring function, jlong call,
                                                     jlong rv) {
    Utf f(env, function);
    return ctl()->set_rv(f.get(), static_cast<unsigned long>(call), static_cast<CK_RV>(rv));
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nSetOutputLength(JNIEnv* env, jclass, jstring function,
                                                               jint phase, jlong length) {
    Utf f(env, function);
    return ctl()->set_output_length(f.get(), phase, static_cast<CK_ULONG>(length));
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nSetOutput(JNIEnv* env, jclass, jstring function,
                                                         jbyteArray bytes) {
    Utf f(env, function);
    std::vector<unsigned char> b = bytesOf(env, bytes);
    return ctl()->set_output(f.get(), b.data(), b.size());
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nSetSlots(JNIEnv* env, jclass, jlongArray ids,
                                                        jbooleanArray present) {
    jsize n = env->GetArrayLength(ids);
    std::vector<jlong> id(static_cast<size_t>(n));
    std::vector<jboolean> p(static_cast<size_t>(n));
    if (n) {
        env->GetLongArrayRegion(ids, 0, n, id.data());
        env->GetBooleanArrayRegion(present, 0, n, p.data());
    }
    std::vector<CK_SLOT_ID> slots(id.begin(), id.end());
    std::vector<unsigned char> flags(p.begin(), p.end());
    return ctl()->set_slots(slots.size(), slots.data(), flags.data());
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nGrowAfterQuery(JNIEnv* env, jclass, jstring function,
                                                              jlong extra) {
    Utf f(env, function);
    return ctl()->grow_after_query(f.get(), static_cast<unsigned long>(extra));
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nSetFieldBytes(JNIEnv* env, jclass, jstring name,
                                                             jbyteArray bytes) {
    Utf f(env, name);
    std::vector<unsigned char> b = bytesOf(env, bytes);
    return ctl()->set_field_bytes(f.get(), b.data(), b.size());
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nSetFieldNumber(JNIEnv* env, jclass, jstring name,
                                                              jlong value) {
    Utf f(env, name);
    return ctl()->set_field_number(f.get(), static_cast<unsigned long long>(value));
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nSetMechanisms(JNIEnv* env, jclass, jlongArray types) {
    jsize n = env->GetArrayLength(types);
    std::vector<jlong> t(static_cast<size_t>(n));
    if (n) env->GetLongArrayRegion(types, 0, n, t.data());
    std::vector<CK_MECHANISM_TYPE> m(t.begin(), t.end());
    return ctl()->set_mechanisms(m.size(), m.data());
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nSetMechanismInfo(JNIEnv*, jclass, jlong type, jlong min,
                                                                jlong max, jlong flags) {
    return ctl()->set_mechanism_info(static_cast<CK_MECHANISM_TYPE>(type), static_cast<CK_ULONG>(min),
                                     static_cast<CK_ULONG>(max), static_cast<CK_FLAGS>(flags));
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nSetNullEntry(JNIEnv* env, jclass, jstring function) {
    Utf f(env, function);
    return ctl()->set_null_entry(f.get());
}

JNIEXPORT void JNICALL Java_corvaletest_Mock_nSetFunctionListNull(JNIEnv*, jclass, jboolean on) {
    ctl()->set_function_list_null(on ? 1 : 0);
}

JNIEXPORT void JNICALL Java_corvaletest_Mock_nAddSlotEvent(JNIEnv*, jclass, jlong slot) {
    ctl()->add_slot_event(static_cast<CK_SLOT_ID>(slot));
}

JNIEXPORT jint JNICALL Java_corvaletest_Mock_nSetSensitive(JNIEnv*, jclass, jlong object, jlong type) {
    return ctl()->set_sensitive(static_cast<CK_OBJECT_HANDLE>(object), static_cast<CK_ATTRIBUTE_TYPE>(type));
}

JNIEXPORT void JNICALL Java_corvaletest_Mock_nSetNextObjectHandle(JNIEnv*, jclass, jlong h) {
    ctl()->set_next_object_handle(static_cast<CK_OBJECT_HANDLE>(h));
}

JNIEXPORT void JNICALL Java_corvaletest_Mock_nSetNextSessionHandle(JNIEnv*, jclass, jlong h) {
    ctl()->set_next_session_handle(static_cast<CK_SESSION_HANDLE>(h));
}

JNIEXPORT void JNICALL Java_corvaletest_Mock_nSetHostile(JNIEnv*, jclass, jboolean on, jlong seed) {
    ctl()->set_hostile(on ? 1 : 0, static_cast<unsigned long long>(seed));
}

JNIEXPORT jboolean JNICALL Java_corvaletest_Mock_nIsInitialized(JNIEnv*, jclass) {
    return ctl()->is_initialized() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jlongArray JNICALL Java_corvaletest_Mock_nNotifySessions(JNIEnv* env, jclass, jlong event) {
    std::vector<CK_RV> rvs(1024);  // more than the mock's sessions; each callback runs once
    size_t n = ctl()->notify_sessions(static_cast<CK_NOTIFICATION>(event), rvs.data(), rvs.size());
    std::vector<jlong> out;
    for (size_t i = 0; i < n && i < rvs.size(); ++i) out.push_back(fromUlong(rvs[i]));
    return longArray(env, out);
}

// ---- test-only probes of corvaletest.mock.MockSelfTest$Probe ----------------------
// They call the selected variant through its exported C_ symbols, so that the
// self test can see the control settings take effect without the library
// under test.

#define PROBE(ret, name) JNIEXPORT ret JNICALL Java_corvaletest_mock_MockSelfTest_00024Probe_##name

PROBE(jboolean, hasSymbol)(JNIEnv* env, jclass, jstring name) {
    Utf n(env, name);
    void* h = currentHandle();
    return h && n.get() && dlsym(h, n.get()) ? JNI_TRUE : JNI_FALSE;
}

PROBE(jlong, initialize)(JNIEnv* env, jclass, jstring reserved) {
    auto f = symbol<CK_C_Initialize>("C_Initialize");
    if (!f) return -1;
    if (!reserved) return fromUlong(f(nullptr));
    Utf r(env, reserved);
    std::string copy = r.get() ? r.get() : "";
    MockInitArgs7 args;
    std::memset(&args, 0, sizeof args);
    args.pReserved = &copy[0];
    return fromUlong(f(&args));
}

PROBE(jlong, finalizeModule)(JNIEnv*, jclass) {
    auto f = symbol<CK_C_Finalize>("C_Finalize");
    return f ? fromUlong(f(nullptr)) : -1;
}

// {rv, list pointer set (0/1), indices of null entries...}
PROBE(jlongArray, functionList)(JNIEnv* env, jclass) {
    auto f = symbol<CK_C_GetFunctionList>("C_GetFunctionList");
    if (!f) return nullptr;
    CK_FUNCTION_LIST_PTR list = nullptr;
    CK_RV rv = f(&list);
    std::vector<jlong> out{fromUlong(rv), list ? 1 : 0};
    if (list) {
        const unsigned char* base = reinterpret_cast<const unsigned char*>(list) +
                                    offsetof(CK_FUNCTION_LIST, C_Initialize);
        for (int i = 0; i < 68; ++i) {
            CK_C_Initialize entry;
            std::memcpy(&entry, base + i * sizeof entry, sizeof entry);
            if (!entry) out.push_back(i);
        }
    }
    return longArray(env, out);
}

// {rv, count, guard intact (0/1), slot ids written on success (at most room)...}
PROBE(jlongArray, slotList)(JNIEnv* env, jclass, jboolean present, jint room, jboolean query) {
    const CK_SLOT_ID guard = static_cast<CK_SLOT_ID>(0xA5A5A5A5u);
    std::vector<CK_SLOT_ID> buf(static_cast<size_t>(room) + 4, guard);
    CK_ULONG count = static_cast<CK_ULONG>(room);
    CK_RV rv = symbol<CK_C_GetSlotList>("C_GetSlotList")(present, query ? nullptr : buf.data(), &count);
    bool intact = true;
    for (size_t i = static_cast<size_t>(room); i < buf.size(); ++i) intact = intact && buf[i] == guard;
    std::vector<jlong> out{fromUlong(rv), fromUlong(count), intact ? 1 : 0};
    for (jint i = 0; rv == CKR_OK && !query && i < room && static_cast<CK_ULONG>(i) < count; ++i) out.push_back(fromUlong(buf[i]));
    return longArray(env, out);
}

// {rv, flags, the ten counters in declaration order, hw major, hw minor}; the
// label goes into label32.
PROBE(jlongArray, tokenInfo)(JNIEnv* env, jclass, jlong slot, jbyteArray label32) {
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = symbol<CK_C_GetTokenInfo>("C_GetTokenInfo")(static_cast<CK_SLOT_ID>(slot), &info);
    env->SetByteArrayRegion(label32, 0, 32, reinterpret_cast<const jbyte*>(info.label));
    std::vector<jlong> out{fromUlong(rv), fromUlong(info.flags), fromUlong(info.ulMaxSessionCount),
                           fromUlong(info.ulSessionCount), fromUlong(info.ulMaxRwSessionCount),
                           fromUlong(info.ulRwSessionCount), fromUlong(info.ulMaxPinLen),
                           fromUlong(info.ulMinPinLen), fromUlong(info.ulTotalPublicMemory),
                           fromUlong(info.ulFreePublicMemory), fromUlong(info.ulTotalPrivateMemory),
                           fromUlong(info.ulFreePrivateMemory), info.hardwareVersion.major,
                           info.hardwareVersion.minor};
    return longArray(env, out);
}

char probeApplication;

// Shows what reached it: session * 1000 + event, or 0xBAD for a wrong application pointer.
CK_RV probeNotify(CK_SESSION_HANDLE h, CK_NOTIFICATION event, void* application) {
    return application == &probeApplication ? h * 1000 + event : 0xBAD;
}

PROBE(jlongArray, openSession)(JNIEnv* env, jclass, jlong slot, jlong flags, jboolean notify) {
    CK_SESSION_HANDLE h = 0;
    CK_RV rv = symbol<CK_C_OpenSession>("C_OpenSession")(static_cast<CK_SLOT_ID>(slot), static_cast<CK_FLAGS>(flags),
                                                         notify ? &probeApplication : nullptr,
                                                         notify ? probeNotify : nullptr, &h);
    return longArray(env, {fromUlong(rv), fromUlong(h)});
}

PROBE(jlong, login)(JNIEnv* env, jclass, jlong session, jlong userType, jbyteArray pin) {
    std::vector<unsigned char> p = bytesOf(env, pin);
    p.push_back(0);  // a non-null pointer also for an empty PIN
    return fromUlong(symbol<CK_C_Login>("C_Login")(static_cast<CK_SESSION_HANDLE>(session),
                                                   static_cast<CK_USER_TYPE>(userType), p.data(),
                                                   static_cast<CK_ULONG>(p.size() - 1)));
}

// One of the *Init functions with (session, mechanism, key); C_DigestInit ignores the key.
PROBE(jlong, init)(JNIEnv* env, jclass, jstring function, jlong session, jlong mechanism, jlong key) {
    Utf f(env, function);
    CK_MECHANISM m{static_cast<CK_MECHANISM_TYPE>(mechanism), nullptr, 0};
    void* sym = f.get() ? dlsym(currentHandle(), f.get()) : nullptr;
    if (!sym) return -1;
    if (std::strcmp(f.get(), "C_DigestInit") == 0)
        return fromUlong(reinterpret_cast<CK_C_DigestInit>(sym)(static_cast<CK_SESSION_HANDLE>(session), &m));
    return fromUlong(reinterpret_cast<CK_C_EncryptInit>(sym)(static_cast<CK_SESSION_HANDLE>(session), &m,
                                                             static_cast<CK_OBJECT_HANDLE>(key)));
}

// One call of a (session, in, inLen, out, pulOutLen) function such as C_Encrypt:
// {rv, reported length, guard intact (0/1), bytes written on success (at most room)...}
PROBE(jlongArray, output)(JNIEnv* env, jclass, jstring function, jlong session, jbyteArray in, jint room,
                          jboolean query) {
    Utf f(env, function);
    void* sym = f.get() ? dlsym(currentHandle(), f.get()) : nullptr;
    if (!sym) return nullptr;
    std::vector<unsigned char> data = bytesOf(env, in);
    const unsigned char guard = 0xEE;
    std::vector<unsigned char> buf(static_cast<size_t>(room) + 8, guard);
    CK_ULONG len = static_cast<CK_ULONG>(room);
    CK_RV rv = reinterpret_cast<CK_C_Encrypt>(sym)(static_cast<CK_SESSION_HANDLE>(session),
                                                   data.empty() ? nullptr : data.data(),
                                                   static_cast<CK_ULONG>(data.size()),
                                                   query ? nullptr : buf.data(), &len);
    bool intact = true;
    for (size_t i = static_cast<size_t>(room); i < buf.size(); ++i) intact = intact && buf[i] == guard;
    std::vector<jlong> out{fromUlong(rv), fromUlong(len), intact ? 1 : 0};
    for (jint i = 0; rv == CKR_OK && !query && i < room && static_cast<CK_ULONG>(i) < len; ++i) out.push_back(buf[i]);
    return longArray(env, out);
}

PROBE(jlong, generateRandom)(JNIEnv* env, jclass, jlong session, jbyteArray buffer) {
    std::vector<unsigned char> b = bytesOf(env, buffer);
    CK_RV rv = symbol<CK_C_GenerateRandom>("C_GenerateRandom")(static_cast<CK_SESSION_HANDLE>(session),
                                                               b.empty() ? nullptr : b.data(),
                                                               static_cast<CK_ULONG>(b.size()));
    if (!b.empty()) env->SetByteArrayRegion(buffer, 0, static_cast<jsize>(b.size()), reinterpret_cast<jbyte*>(b.data()));
    return fromUlong(rv);
}

// {rv, slot}
PROBE(jlongArray, waitForSlotEvent)(JNIEnv* env, jclass, jlong flags) {
    CK_SLOT_ID slot = 0;
    CK_RV rv = symbol<CK_C_WaitForSlotEvent>("C_WaitForSlotEvent")(static_cast<CK_FLAGS>(flags), &slot, nullptr);
    return longArray(env, {fromUlong(rv), fromUlong(slot)});
}

#undef PROBE

}  // extern "C"
