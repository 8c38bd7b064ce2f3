// The binding lives in three fields of the Java NativeCryptokiFunctions
// object; the library keeps nothing of its own but the lookup caches.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include <pthread.h>

#include "corvale/common/cryptoki.h"

enum PK11_TOKEN_TYPE {
    PK11_TOKEN_GENERIC = 0,
    PK11_TOKEN_KULM = 1,
    PK11_TOKEN_SOFTOKEN = 2,
};

jclass getNativeCryptokiFunctionsClass(JNIEnv* env);
jfieldID getTokenTypeFieldID(JNIEnv* env);
jfieldID getFunctionsPtrFieldID(JNIEnv* env);
jfieldID getLibraryHandlePtrFieldID(JNIEnv* env);

// The field ID behind getFunctionsPtrFieldID, filled on first use: every
// native reads the table through it, so the common case is inline.
extern std::atomic<jfieldID> functionsPtrField;

// What functionsPtr points at: the library's copy of the module's function
// table and, only for a module that cannot lock by itself, the lock that
// lets its calls through one at a time.
struct Binding {
    CK_FUNCTION_LIST functions;  // first: functionsPtr is the table's address
    bool serialised = false;     // the module cannot lock by itself
    // Plain pthread: std::mutex would need a newer libstdc++ for its error path.
    pthread_mutex_t serial = PTHREAD_MUTEX_INITIALIZER;
};
static_assert(offsetof(Binding, functions) == 0, "functionsPtr must be the table's address");

PK11_TOKEN_TYPE getTokenType(JNIEnv* env, jobject obj);
void setTokenType(JNIEnv* env, jobject obj, PK11_TOKEN_TYPE type);
inline Binding* getBinding(JNIEnv* env, jobject obj) {
    jfieldID id = functionsPtrField.load(std::memory_order_relaxed);
    if (!id) id = getFunctionsPtrFieldID(env);
    return reinterpret_cast<Binding*>(static_cast<intptr_t>(env->GetLongField(obj, id)));
}
inline CK_FUNCTION_LIST* getFunctionList(JNIEnv* env, jobject obj) {
    Binding* binding = getBinding(env, obj);
    return binding ? &binding->functions : nullptr;
}
void setFunctionsPtr(JNIEnv* env, jobject obj, CK_FUNCTION_LIST* functions);
void* getLibraryHandlePtr(JNIEnv* env, jobject obj);
void setLibraryHandlePtr(JNIEnv* env, jobject obj, void* handle);

// The object owns its binding from a successful doInitialize to finalize.
// takeFunctionList stores it in functionsPtr (releasing any the object held
// before); releaseFunctionList clears the field and hands the binding back,
// null when the object held none.
void takeFunctionList(JNIEnv* env, jobject obj, std::unique_ptr<Binding> binding);
std::unique_ptr<Binding> releaseFunctionList(JNIEnv* env, jobject obj);
