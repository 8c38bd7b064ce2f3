#include "corvale/binding/loader.h"

#include "corvale/common/dl.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "corvale/binding/functions.h"
#include "corvale/common/diag.h"

using corvale::dieWith;

namespace {

bool isKulm(const char* name) { return std::strcmp(name, "kulm") == 0; }
bool isSoftoken(const char* name) { return std::strncmp(name, "softoken", 8) == 0; }

} // namespace

std::unique_ptr<Binding> loadPKCS11Library(JNIEnv* env, jobject obj, char* name, int length,
                                           PK11_TOKEN_TYPE* type) {
    if (!name) return nullptr;
    if (isSoftoken(name)) name[8] = 0;

    // Sized from the caller's length, so never smaller than "lib" + name + ".so".
    size_t size = static_cast<size_t>(length < 0 ? 0 : length) + 7;
    std::unique_ptr<char[]> file(new (std::nothrow) char[size]);
    if (!file) return nullptr;
    std::snprintf(file.get(), size, "lib%s.so", name);
    // Local: a module that loads another module (pkcs11-spy over SoftHSM2)
    // would otherwise hand the inner one its own global C_ symbols, and the
    // chain calls itself until the stack runs out.
    void* library = dlopen(file.get(), RTLD_LAZY | RTLD_LOCAL);
    file.reset();
    if (!library) return nullptr;
    setLibraryHandlePtr(env, obj, library);

    *type = isKulm(name) ? PK11_TOKEN_KULM : isSoftoken(name) ? PK11_TOKEN_SOFTOKEN : PK11_TOKEN_GENERIC;
    std::unique_ptr<Binding> binding = loadFunctions(env, obj, library, *type);
    if (!binding) dieWith(CORVALE_MSG("Function is null\n"));
    return binding;
}

std::unique_ptr<Binding> loadFunctions(JNIEnv* env, jobject obj, void* library, PK11_TOKEN_TYPE type) {
    // Zeroed, so the version and the C_GetFunctionList entry of a table bound
    // by name read as zero.
    std::unique_ptr<Binding> binding(new Binding());
    CK_FUNCTION_LIST* table = &binding->functions;
    if (type == PK11_TOKEN_KULM || type == PK11_TOKEN_SOFTOKEN) {
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
        if (!getList) dieWith(CORVALE_MSG("Error: could not load address for C_GetFunctionList\n"));
        CK_FUNCTION_LIST* own = nullptr;
        // A module that answers CKR_OK without a list failed all the same.
        if (getList(&own) != CKR_OK || !own) dieWith(CORVALE_MSG("Error: could not load function list\n"));
        verifyLoadedFunctions(env, obj, own);
        *table = *own;
        return binding;
    }
#define CORVALE_LOOKUP_REQUIRED(name) \
    table->name = reinterpret_cast<CK_##name>(dlsym(library, #name));
#define CORVALE_LOOKUP_OPTIONAL(name) CORVALE_LOOKUP_REQUIRED(name)
#define CORVALE_LOOKUP_LIST(name)
#define CORVALE_LOOKUP(name, role) CORVALE_LOOKUP_##role(name)
    CORVALE_FUNCTIONS(CORVALE_LOOKUP)
#undef CORVALE_LOOKUP
#undef CORVALE_LOOKUP_LIST
#undef CORVALE_LOOKUP_OPTIONAL
#undef CORVALE_LOOKUP_REQUIRED
    verifyLoadedFunctions(env, obj, table);
    return binding;
}

void verifyLoadedFunctions(JNIEnv* env, jobject obj, CK_FUNCTION_LIST* functions) {
    // The first missing required function in table order is the only one
    // reported; the optional one comes last in the list.
#define CORVALE_CHECK_REQUIRED(name) \
    if (!functions->name) dieWith(CORVALE_MSG("Error: could not load address for " #name "\n"));
#define CORVALE_CHECK_OPTIONAL(name) \
    if (!functions->name) { \
        addUnsupported(env, obj, #name); \
        corvale::writeMessage(CORVALE_MSG("Error: could not load address for " #name "\n")); \
    }
#define CORVALE_CHECK_LIST(name)
#define CORVALE_CHECK(name, role) CORVALE_CHECK_##role(name)
    CORVALE_FUNCTIONS(CORVALE_CHECK)
#undef CORVALE_CHECK
#undef CORVALE_CHECK_LIST
#undef CORVALE_CHECK_OPTIONAL
#undef CORVALE_CHECK_REQUIRED
}

void addUnsupported(JNIEnv* env, jobject obj, const char* functionName) {
    jclass cls = env->FindClass("quorvel/pkcs/pkcs11/jni/NativeCryptokiFunctions");
    if (!cls) dieWith(CORVALE_MSG("Could not find NativeCryptokiFunctionsImpl class\n"));
    jmethodID method = env->GetMethodID(cls, "setUnsupported", "(Ljava/lang/String;)V");
    if (!method) dieWith(CORVALE_MSG("Could not find setUnsupported method\n"));
    jstring name = env->NewStringUTF(functionName);
    env->CallVoidMethod(obj, method, name);
    // Whatever setUnsupported threw is left for doInitialize's caller.
    env->ExceptionCheck();
    env->DeleteLocalRef(name);
    env->DeleteLocalRef(cls);
}
