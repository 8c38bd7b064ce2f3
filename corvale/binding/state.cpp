#include "corvale/binding/state.h"

#include <cstdint>

#include "corvale/common/diag.h"

using corvale::dieWith;

namespace {

// Plain statics: a first-use race stores identical IDs, at worst one extra
// global class reference.
jclass nativeCryptokiFunctionsClass;
jfieldID tokenTypeField;
jfieldID functionsPtrField;
jfieldID libraryHandlePtrField;

jfieldID lookupField(JNIEnv* env, jfieldID& cache, const char* name, const char* sig,
                     corvale::Message missing) {
    if (cache) return cache;
    jfieldID id = env->GetFieldID(getNativeCryptokiFunctionsClass(env), name, sig);
    if (!id) dieWith(missing);
    cache = id;
    return id;
}

// Addresses travel in a Java long sign-extended from pointer width.
jlong fromPointer(const void* p) { return static_cast<jlong>(reinterpret_cast<intptr_t>(p)); }
void* toPointer(jlong v) { return reinterpret_cast<void*>(static_cast<intptr_t>(v)); }

} // namespace

jclass getNativeCryptokiFunctionsClass(JNIEnv* env) {
    if (nativeCryptokiFunctionsClass) return nativeCryptokiFunctionsClass;
    jclass local = env->FindClass("quorvel/pkcs/pkcs11/jni/NativeCryptokiFunctions");
    if (!local) dieWith(CORVALE_MSG("Could not load NativeCryptokiFunctions class\n"));
    auto global = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    if (!global) dieWith(CORVALE_MSG("Could not make global reference for NativeCryptokiFunctions class\n"));
    nativeCryptokiFunctionsClass = global;
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

CK_FUNCTION_LIST* getFunctionList(JNIEnv* env, jobject obj) {
    return static_cast<CK_FUNCTION_LIST*>(toPointer(env->GetLongField(obj, getFunctionsPtrFieldID(env))));
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
