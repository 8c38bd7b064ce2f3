// The binding lives in three fields of the Java NativeCryptokiFunctions
// object; the library keeps nothing of its own but the lookup caches.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

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

PK11_TOKEN_TYPE getTokenType(JNIEnv* env, jobject obj);
void setTokenType(JNIEnv* env, jobject obj, PK11_TOKEN_TYPE type);
inline CK_FUNCTION_LIST* getFunctionList(JNIEnv* env, jobject obj) {
    jfieldID id = functionsPtrField.load(std::memory_order_relaxed);
    if (!id) id = getFunctionsPtrFieldID(env);
    return reinterpret_cast<CK_FUNCTION_LIST*>(static_cast<intptr_t>(env->GetLongField(obj, id)));
}
void setFunctionsPtr(JNIEnv* env, jobject obj, CK_FUNCTION_LIST* functions);
void* getLibraryHandlePtr(JNIEnv* env, jobject obj);
void setLibraryHandlePtr(JNIEnv* env, jobject obj, void* handle);

// The object owns its table from a successful doInitialize to finalize.
// takeFunctionList stores the table in functionsPtr (releasing any the
// object held before); releaseFunctionList clears the field and hands the
// table back, null when the object held none.
void takeFunctionList(JNIEnv* env, jobject obj, std::unique_ptr<CK_FUNCTION_LIST> functions);
std::unique_ptr<CK_FUNCTION_LIST> releaseFunctionList(JNIEnv* env, jobject obj);
