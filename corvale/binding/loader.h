// Opening a module by name and building its function table.
#pragma once

#include "corvale/binding/state.h"

// The library-owned binding with its table, or null when the name is null or
// the library cannot be opened. May cut a "softoken..." name to "softoken" in place.
std::unique_ptr<Binding> loadPKCS11Library(JNIEnv* env, jobject obj, char* name, int length,
                                           PK11_TOKEN_TYPE* type);
std::unique_ptr<Binding> loadFunctions(JNIEnv* env, jobject obj, void* library, PK11_TOKEN_TYPE type);
void verifyLoadedFunctions(JNIEnv* env, jobject obj, CK_FUNCTION_LIST* functions);
void addUnsupported(JNIEnv* env, jobject obj, const char* functionName);
