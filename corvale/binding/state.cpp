#include "corvale/binding/state.h"

#include <atomic>
#include <cstdint>

#include "corvale/common/diag.h"

using corvale::dieWith;

namespace {

// Filled on first use; a first-use race stores identical IDs, at worst one
// extra global class reference. Relaxed: plain moves, no lock.
std::atomic<jclass> nativeCryptokiFunctionsClass;
std::atomic<jfieldID> tokenTypeField;
std::atomic<jfieldID> libraryHandlePtrField;

jfieldID lookupField(JNIEnv* env, std::atomic<jfieldID>& cache, const char* name, const char* sig,
                     corvale::Message missing) {
    if (jfieldID cached = cache.load(std::memory_order_relaxed)) return cached;
    jfieldID id = env->GetFieldID(getNativeCryptokiFunctionsClass(env), name, sig);
    if (!id) dieWith(missing);
    cache.store(id, std::memory_order_relaxed);
    return id;
}

// Addresses travel in a Java long sign-extended from pointer width.
jlong fromPointer(const void* p) { return static_cast<jlong>(reinterpret_cast<intptr_t>(p)); }
void* toPointer(jlong v) { return reinterpret_cast<void*>(static_cast<intptr_t>(v)); }

} // namespace

std::atomic<jfieldID> functionsPtrField;

jclass getNativeCryptokiFunctionsClass(JNIEnv* env) {
    if (jclass cached = nativeCryptokiFunctionsClass.load(std::memory_order_relaxed)) return cached;
    jclass local = env->FindClass("quorvel/pkcs/pkcs11/jni/NativeCryptokiFunctions");
    if (!local) dieWith(CORVALE_MSG("Could not load NativeCryptokiFunctions class\n"));
    auto global = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    if (!global) dieWith(CORVALE_MSG("Could not make global reference for NativeCryptokiFunctions class\n"));
    nativeCryptokiFunctionsClass.store(global, std::memory_order_relaxed);
    return global;
}

jfieldID getTokenTypeFieldID(JNIEnv* env) {
    return lookupField(env, tokenTypeField, "tokenType", "I",
                       CORVALE_MSG("Could not retrieve field id for tokenType\n"));
}

jfieldID getFunctionsPtrFieldID(JNIEnv* env) {
    return lookupField(env, functionsPtrField, "functionsPtr", "J",
                       CORVALE_MSG("Could not retrieve field id for functionsPtr\n"));
}

jfieldID getLibraryHandlePtrFieldID(JNIEnv* env) {
    return lookupField(env, libraryHandlePtrField, "libraryHandlePtr", "J",
                       CORVALE_MSG("Count not retrieve field ID for libraryHandlePtr\n"));
}

PK11_TOKEN_TYPE getTokenType(JNIEnv* env, jobject obj) {
    return static_cast<PK11_TOKEN_TYPE>(env->GetIntField(obj, getTokenTypeFieldID(env)));
}

void setTokenType(JNIEnv* env, jobject obj, PK11_TOKEN_TYPE type) {
    env->SetIntField(obj, getTokenTypeFieldID(env), type);
}

void setFunctionsPtr(JNIEnv* env, jobject obj, CK_FUNCTION_LIST* functions) {
    env->SetLongField(obj, getFunctionsPtrFieldID(env), fromPointer(functions));
}

void* getLibraryHandlePtr(JNIEnv* env, jobject obj) {
    return toPointer(env->GetLongField(obj, getLibraryHandlePtrFieldID(env)));
}

void setLibraryHandlePtr(JNIEnv* env, jobject obj, void* handle) {
    env->SetLongField(obj, getLibraryHandlePtrFieldID(env), fromPointer(handle));
}

void takeFunctionList(JNIEnv* env, jobject obj, std::unique_ptr<Binding> binding) {
    std::unique_ptr<Binding> previous(getBinding(env, obj));
    setFunctionsPtr(env, obj, &binding.release()->functions);
}

std::unique_ptr<Binding> releaseFunctionList(JNIEnv* env, jobject obj) {
    std::unique_ptr<Binding> binding(getBinding(env, obj));
    setFunctionsPtr(env, obj, nullptr);
    return binding;
}
