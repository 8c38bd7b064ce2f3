// Creating, copying, destroying, reading, changing and finding objects.
// Handles and sizes that a failed call may have left behind are reported as
// 0: the module is not bound to write them.
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

namespace {

jlong handleResult(CK_RV rv, CK_OBJECT_HANDLE handle) { return rv == CKR_OK ? toJlong(handle) : 0; }

// The value call of an attribute read: every attribute a buffer of the
// length the module reported (none for 0 or unavailable).
CK_RV allocateReportedLengths(Template& tpl) {
    for (size_t i = 0; i < tpl.count(); ++i) {
        CK_ULONG length = tpl[i].ulValueLen;
        tpl[i].pValue = nullptr;
        tpl[i].ulValueLen = 0;
        if (length != 0 && length != CK_UNAVAILABLE_INFORMATION && !tpl.allocateValue(i, length))
            return CKR_HOST_MEMORY;
    }
    return CKR_OK;
}

// After the value call no length may exceed the buffer it describes.
bool lengthsFit(const Template& tpl) {
    for (size_t i = 0; i < tpl.count(); ++i) {
        if (tpl[i].ulValueLen > tpl.room(i)) return false;
    }
    return true;
}

} // namespace

extern "C" {

CORVALE_NATIVE(createObjectNative)(JNIEnv* env, jobject self, jobject session, jobjectArray attributes) {
    if (!session || !attributes) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<CreateObjectResult>(env);
    Template tpl;
    if (!createTemplate(env, attributes, tpl)) return nullptr;
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    CK_RV rv = functions->C_CreateObject(sessionOf(env, session), tpl.data(), tpl.count(), &object);
    return CreateObjectResult(env, Handle(env, handleResult(rv, object)), returnValue(env, rv)).obj;
}

CORVALE_NATIVE(copyObjectNative)(JNIEnv* env, jobject self, jobject session, jobject object,
                                 jobjectArray attributes) {
    if (!session || !object || !attributes) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<CopyObjectResult>(env);
    Template tpl;
    if (!createTemplate(env, attributes, tpl)) return nullptr;
    CK_OBJECT_HANDLE original = handleOf(env, object);
    CK_OBJECT_HANDLE copy = CK_INVALID_HANDLE;
    CK_RV rv = functions->C_CopyObject(sessionOf(env, session), original, tpl.data(), tpl.count(), &copy);
    return CopyObjectResult(env, Handle(env, handleResult(rv, copy)), returnValue(env, rv)).obj;
}

CORVALE_NATIVE(destroyObject)(JNIEnv* env, jobject self, jobject session, jobject object) {
    if (!session || !object) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    CK_OBJECT_HANDLE o = handleOf(env, object);
    return returnValue(env, functions->C_DestroyObject(sessionOf(env, session), o)).obj;
}

CORVALE_NATIVE(getObjectSize)(JNIEnv* env, jobject self, jobject session, jobject object) {
    if (!session || !object) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<GetObjectSizeResult>(env);
    CK_OBJECT_HANDLE o = handleOf(env, object);
    CK_ULONG size = 0;
    CK_RV rv = functions->C_GetObjectSize(sessionOf(env, session), o, &size);
    return GetObjectSizeResult(env, rv == CKR_OK ? toJlong(size) : 0, returnValue(env, rv)).obj;
}

// All or nothing: the Java template changes only when every value was read
// and fits the buffer it was read into.
CORVALE_NATIVE(getAttributeValueNative)(JNIEnv* env, jobject self, jobject session, jobject object,
                                        jobjectArray attributes) {
    if (!session || !object || !attributes) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    Template tpl;
    if (!createTemplate(env, attributes, tpl, TemplateValues::TypesOnly)) return nullptr;
    CK_OBJECT_HANDLE o = handleOf(env, object);
    CK_SESSION_HANDLE s = sessionOf(env, session);
    CK_RV rv = functions->C_GetAttributeValue(s, o, tpl.data(), tpl.count());
    if (rv == CKR_OK) rv = allocateReportedLengths(tpl);
    if (rv == CKR_OK) rv = functions->C_GetAttributeValue(s, o, tpl.data(), tpl.count());
    if (rv == CKR_OK && !lengthsFit(tpl)) rv = CKR_GENERAL_ERROR;
    if (rv == CKR_OK && !fillTemplate(env, attributes, tpl)) return nullptr;  // the VM's error is pending
    return returnValue(env, rv).obj;
}

CORVALE_NATIVE(setAttributeValueNative)(JNIEnv* env, jobject self, jobject session, jobject object,
                                        jobjectArray attributes) {
    if (!session || !object || !attributes) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    Template tpl;
    if (!createTemplate(env, attributes, tpl)) return nullptr;
    CK_OBJECT_HANDLE o = handleOf(env, object);
    return returnValue(env, functions->C_SetAttributeValue(sessionOf(env, session), o, tpl.data(), tpl.count())).obj;
}

CORVALE_NATIVE(findObjectsInitNative)(JNIEnv* env, jobject self, jobject session, jobjectArray attributes) {
    if (!session || !attributes) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    Template tpl;
    if (!createTemplate(env, attributes, tpl)) return nullptr;
    return returnValue(env, functions->C_FindObjectsInit(sessionOf(env, session), tpl.data(), tpl.count())).obj;
}

// Fills found[0, count); the rest of the array keeps what it held. A count
// above the array's length is a module fault: nothing is stored.
CORVALE_NATIVE(findObjects)(JNIEnv* env, jobject self, jobject session, jobjectArray found) {
    if (!session || !found) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<FindObjectsResult>(env);
    jsize max = env->GetArrayLength(found);
    Scratch<CK_OBJECT_HANDLE, 64 * sizeof(CK_OBJECT_HANDLE)> handles;
    if (!handles.allocate(static_cast<uint64_t>(max))) return FindObjectsResult(env, 0, returnValue(env, CKR_HOST_MEMORY)).obj;
    CK_ULONG count = 0;
    CK_RV rv = functions->C_FindObjects(sessionOf(env, session), handles.data(), static_cast<CK_ULONG>(max), &count);
    if (rv == CKR_OK && count > static_cast<CK_ULONG>(max)) rv = CKR_GENERAL_ERROR;
    if (rv != CKR_OK) count = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        LocalRef handle(env, Handle(env, toJlong(handles.data()[i])).obj);
        if (!handle.obj) return nullptr;  // the VM's error is pending
        env->SetObjectArrayElement(found, static_cast<jsize>(i), handle.obj);
    }
    return FindObjectsResult(env, static_cast<int>(count), returnValue(env, rv)).obj;
}

CORVALE_NATIVE(findObjectsFinal)(JNIEnv* env, jobject self, jobject session) {
    if (!session) return nullptr;
    CK_FUNCTION_LIST* functions = boundFunctions(env, self);
    if (!functions) return notBound<ReturnValue>(env);
    return returnValue(env, functions->C_FindObjectsFinal(sessionOf(env, session))).obj;
}

} // extern "C"
