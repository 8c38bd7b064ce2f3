#include "corvale/binding/lifecycle.h"

#include "corvale/common/dl.h"

#include <cstdio>
#include <memory>

#include "corvale/binding/loader.h"
#include "corvale/bridge/wrappers.h"
#include "corvale/common/diag.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

namespace {

// The initialisation arguments NSS's softoken reads: the six standard fields,
// the parameter string travelling in pReserved, and one more pointer.
struct SoftokenInitArgs {
    CK_CREATEMUTEX CreateMutex;
    CK_DESTROYMUTEX DestroyMutex;
    CK_LOCKMUTEX LockMutex;
    CK_UNLOCKMUTEX UnlockMutex;
    CK_FLAGS flags;
    char* pReserved;
    void* pReserved2;
};

bool initialised(PK11_TOKEN_TYPE type, CK_RV rv) {
    // A kulm module may already have been initialised by another binding.
    return rv == CKR_OK || (type == PK11_TOKEN_KULM && rv == CKR_CRYPTOKI_ALREADY_INITIALIZED);
}

} // namespace

CK_RV notifyCallback(CK_SESSION_HANDLE, CK_NOTIFICATION, void*) { return CKR_OK; }

extern "C" {

JNIEXPORT jint JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_doInitialize__Ljava_lang_String_2(
    JNIEnv* env, jobject self, jstring moduleName) {
    corvale::Env e{env};
    corvale::JNIString name(e, moduleName);
    // Two copies: the loader may cut its own; the parameter string needs the full name.
    corvale::SecretText full = name.toCString();
    int length = full ? name.length() : 0;
    corvale::SecretText loadName = full ? name.toCString() : corvale::SecretText();

    PK11_TOKEN_TYPE type = PK11_TOKEN_GENERIC;
    std::unique_ptr<Binding> binding = loadPKCS11Library(env, self, loadName.get(), length, &type);
    if (!binding) corvale::dieWith(CORVALE_MSG("could not load library\n"));
    CK_FUNCTION_LIST& table = binding->functions;

    CK_RV rv;
    if (type == PK11_TOKEN_SOFTOKEN) {
        // NSS locks by itself whatever the flags say.
        char parameters[100];
        std::snprintf(parameters, sizeof parameters,
                      "configdir=.%s certPrefix= keyPrefix= secmod=secmod.db", full.get());
        SoftokenInitArgs args{};
        args.pReserved = parameters;
        rv = table.C_Initialize(&args);
    } else {
        // Java calls from many threads at once. After C_Initialize(NULL) a
        // module may assume one caller at a time and skip its own locks.
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        rv = table.C_Initialize(&args);
        if (rv == CKR_CANT_LOCK) {
            // It cannot lock by itself: its calls go through one at a time.
            rv = table.C_Initialize(nullptr);
            binding->serialised = true;
        }
    }
    if (!initialised(type, rv)) return 0;  // the module stays loaded; the binding goes

    // A rebound kulm object drops the binding it held before.
    takeFunctionList(env, self, std::move(binding));
    setTokenType(env, self, type);
    return 1;
}

JNIEXPORT jint JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_doInitialize__(JNIEnv*, jobject) {
    return 0;
}

JNIEXPORT void JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_finalize(JNIEnv* env, jobject self) {
    if (!self) return;
    // Only a bound object has a module to finalise; a refused one may still
    // hold the library open. Clearing the fields makes a second call a no-op.
    std::unique_ptr<Binding> binding = releaseFunctionList(env, self);
    void* library = getLibraryHandlePtr(env, self);
    if (binding) binding->functions.C_Finalize(nullptr);
    if (library) dlclose(library);
    setLibraryHandlePtr(env, self, nullptr);
}

} // extern "C"
