// libmockctl.so: the JNI native of corvaletest.Mock. The mock variants are
// opened by bare file name (the loader's search, like the library under test
// does), so both reach the same loaded instance; several variants can be open
// at once and each is driven through its own mock_control().
// The handles are never closed: they keep each variant's state alive while the
// library under test opens and closes the module.
#include "mock.h"

#include <dlfcn.h>
#include <jni.h>
#include <jvmti.h>

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
    MockControlFn control;
};

std::mutex mu;
std::vector<Loaded> loaded;
size_t current = 0;  // index into loaded; valid once a variant was used

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

// Opens a variant (by bare file name, then in dir) or selects it again; an
// error message, or empty.
std::string use(const char* file, const std::string& dir) {
    std::lock_guard<std::mutex> lock(mu);
    for (size_t i = 0; i < loaded.size(); ++i) {
        if (loaded[i].file == file) {
            current = i;
            return "";
        }
    }
    void* h = dlopen(file, RTLD_NOW);
    if (!h) h = dlopen((dir + "/" + file).c_str(), RTLD_NOW);
    if (!h) {
        const char* why = dlerror();
        return why ? why : "dlopen failed";
    }
    MockControlFn control = reinterpret_cast<MockControlFn>(dlsym(h, "mock_control"));
    if (!control) return "not a mock module (no mock_control)";
    loaded.push_back(Loaded{file, h, control});
    current = loaded.size() - 1;
    return "";
}

void append(void* context, const char* text, size_t length) {
    static_cast<std::string*>(context)->append(text, length);
}

// The local references a native keeps, counted on a thread that watches
// (Mock.withinLocalRoom): past JNI's 16 it must have asked for room with
// EnsureLocalCapacity. This JDK's -Xcheck:jni no longer says so. The JNI
// functions the library makes references with are wrapped, for every
// thread, once the first watch starts.
namespace refs {
const JNINativeInterface_* jni;  // the functions wrapped
thread_local bool watching;
thread_local long live, room, over;

void made(jobject o) {
    if (watching && o && ++live - room > over) over = live - room;
}
jobject JNICALL NewObjectA(JNIEnv* e, jclass c, jmethodID m, const jvalue* a) {
    jobject o = jni->NewObjectA(e, c, m, a);
    made(o);
    return o;
}
jobject JNICALL CallObjectMethodA(JNIEnv* e, jobject obj, jmethodID m, const jvalue* a) {
    jobject o = jni->CallObjectMethodA(e, obj, m, a);
    made(o);
    return o;
}
jobject JNICALL CallStaticObjectMethodA(JNIEnv* e, jclass c, jmethodID m, const jvalue* a) {
    jobject o = jni->CallStaticObjectMethodA(e, c, m, a);
    made(o);
    return o;
}
jobjectArray JNICALL NewObjectArray(JNIEnv* e, jsize n, jclass c, jobject init) {
    jobjectArray o = jni->NewObjectArray(e, n, c, init);
    made(o);
    return o;
}
jobject JNICALL GetObjectArrayElement(JNIEnv* e, jobjectArray a, jsize i) {
    jobject o = jni->GetObjectArrayElement(e, a, i);
    made(o);
    return o;
}
jbyteArray JNICALL NewByteArray(JNIEnv* e, jsize n) {
    jbyteArray o = jni->NewByteArray(e, n);
    made(o);
    return o;
}
jstring JNICALL NewString(JNIEnv* e, const jchar* u, jsize n) {
    jstring o = jni->NewString(e, u, n);
    made(o);
    return o;
}
jclass JNICALL FindClass(JNIEnv* e, const char* name) {
    jclass o = jni->FindClass(e, name);
    made(o);
    return o;
}
void JNICALL DeleteLocalRef(JNIEnv* e, jobject o) {
    if (watching && o) --live;
    jni->DeleteLocalRef(e, o);
}
jint JNICALL EnsureLocalCapacity(JNIEnv* e, jint n) {
    if (watching && live + n > room) room = live + n;
    return jni->EnsureLocalCapacity(e, n);
}

// Starts watching this thread (wrapping the functions first), or stops and
// answers by how many references the native went past its room.
std::string watch(JNIEnv* env, bool start) {
    watching = false;
    if (!start) return std::to_string(over);
    static std::once_flag wrapped;
    std::call_once(wrapped, [env] {
        JavaVM* vm = nullptr;
        jvmtiEnv* ti = nullptr;
        jniNativeInterface* table = nullptr;
        if (env->GetJavaVM(&vm) || vm->GetEnv(reinterpret_cast<void**>(&ti), JVMTI_VERSION_1_2) ||
            ti->GetJNIFunctionTable(&table))
            return;
        jni = table;
        static JNINativeInterface_ wrapping = *table;
        wrapping.NewObjectA = NewObjectA;
        wrapping.CallObjectMethodA = CallObjectMethodA;
        wrapping.CallStaticObjectMethodA = CallStaticObjectMethodA;
        wrapping.NewObjectArray = NewObjectArray;
        wrapping.GetObjectArrayElement = GetObjectArrayElement;
        wrapping.NewByteArray = NewByteArray;
        wrapping.NewString = NewString;
        wrapping.FindClass = FindClass;
        wrapping.DeleteLocalRef = DeleteLocalRef;
        wrapping.EnsureLocalCapacity = EnsureLocalCapacity;
        ti->SetJNIFunctionTable(&wrapping);
    });
    if (!jni) return "no JVMTI";
    live = over = 0;
    room = 16;
    watching = true;
    return "";
}
}  // namespace refs

}  // namespace

extern "C" {

// The one control native of corvaletest.Mock: "use" selects a variant (name:
// its file, bytes: the directory to try next); every other command goes to
// the selected variant's mock_control. Answers its text; a failure throws.
JNIEXPORT jstring JNICALL Java_corvaletest_Mock_control(JNIEnv* env, jclass, jstring op, jstring name,
                                                        jlongArray numbers, jbyteArray bytes) {
    Utf o(env, op), n(env, name);
    std::vector<unsigned char> b = bytesOf(env, bytes);
    std::vector<long long> nums(numbers ? static_cast<size_t>(env->GetArrayLength(numbers)) : 0);
    if (!nums.empty())
        env->GetLongArrayRegion(numbers, 0, static_cast<jsize>(nums.size()), reinterpret_cast<jlong*>(nums.data()));
    std::string answer;
    const char* failure = "java/lang/IllegalArgumentException";
    int rc = MOCK_OK;
    if (o.get() && std::strcmp(o.get(), "local_refs") == 0) {
        answer = refs::watch(env, !nums.empty() && nums[0]);
        if (answer == "no JVMTI") rc = MOCK_NOT_APPLICABLE;
    } else if (o.get() && std::strcmp(o.get(), "use") == 0) {
        answer = use(n.get() ? n.get() : "", std::string(b.begin(), b.end()));
        if (!answer.empty()) {
            answer = std::string("cannot use ") + (n.get() ? n.get() : "") + ": " + answer;
            failure = "java/lang/IllegalStateException";
            rc = MOCK_UNKNOWN_NAME;
        }
    } else {
        MockControlFn control;
        {
            std::lock_guard<std::mutex> lock(mu);
            control = loaded.empty() ? nullptr : loaded[current].control;
        }
        MockCommand c{o.get(), n.get(), nums.data(), nums.size(), b.empty() ? nullptr : b.data(), b.size()};
        if (control) rc = control(&c, append, &answer);
        else answer = "no variant in use", rc = MOCK_UNKNOWN_NAME;
    }
    if (rc != MOCK_OK) {
        env->ThrowNew(env->FindClass(failure), answer.c_str());
        return nullptr;
    }
    return env->NewStringUTF(answer.c_str());  // the answers are plain ASCII
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
