// Creating, copying, destroying, reading, changing and finding objects.
// Handles and sizes that a failed call may have left behind are reported as
// 0: the module is not bound to write them.
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

namespace {

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

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_createObjectNative(
    JNIEnv* env, jobject self, jobject session, jobjectArray attributes) {
    return handleOut<CreateObjectResult>(env, self, &CK_FUNCTION_LIST::C_CreateObject, SessionArg{session},
                                         TemplateArg{attributes});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_copyObjectNative(
    JNIEnv* env, jobject self, jobject session, jobject object, jobjectArray attributes) {
    return handleOut<CopyObjectResult>(env, self, &CK_FUNCTION_LIST::C_CopyObject, SessionArg{session},
                                       HandleArg{object}, TemplateArg{attributes});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_destroyObject(JNIEnv* env,
                                                                                             jobject self,
                                                                                             jobject session,
                                                                                             jobject object) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_DestroyObject, SessionArg{session}, HandleArg{object});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getObjectSize(JNIEnv* env,
                                                                                             jobject self,
                                                                                             jobject session,
                                                                                             jobject object) {
    return guarded<GetObjectSizeResult>(
        env, self,
        [](Call c, SessionArg& s, HandleArg& o) {
            CK_ULONG size = 0;
            CK_RV rv = c.call(&CK_FUNCTION_LIST::C_GetObjectSize, s, o, &size);
            return GetObjectSizeResult(c.env, rv == CKR_OK ? toJlong(size) : 0, returnValue(c.env, rv)).obj;
        },
        SessionArg{session}, HandleArg{object});
}

// All or nothing: the Java template changes only when every value was read
// and fits the buffer it was read into. Values may be key material: wiped.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getAttributeValueNative(
    JNIEnv* env, jobject self, jobject session, jobject object, jobjectArray attributes) {
    return guarded<ReturnValue>(
        env, self,
        [attributes](Call c, SessionArg& s, HandleArg& o, TemplateArg& t) {
            Template& tpl = t.tpl;
            CK_RV rv = c.call(&CK_FUNCTION_LIST::C_GetAttributeValue, s, o, tpl.data(), tpl.count());
            if (rv == CKR_OK) rv = allocateReportedLengths(tpl);
            if (rv == CKR_OK) rv = c.call(&CK_FUNCTION_LIST::C_GetAttributeValue, s, o, tpl.data(), tpl.count());
            if (rv == CKR_OK && !lengthsFit(tpl)) rv = CKR_GENERAL_ERROR;
            if (rv == CKR_OK && !fillTemplate(c.env, attributes, tpl)) return jobject(nullptr);
            return answer(c.env, rv);
        },
        SessionArg{session}, HandleArg{object}, TemplateArg{attributes, TemplateValues::TypesOnly});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_setAttributeValueNative(
    JNIEnv* env, jobject self, jobject session, jobject object, jobjectArray attributes) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_SetAttributeValue, SessionArg{session}, HandleArg{object},
                      TemplateArg{attributes});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_findObjectsInitNative(
    JNIEnv* env, jobject self, jobject session, jobjectArray attributes) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_FindObjectsInit, SessionArg{session},
                      TemplateArg{attributes});
}

// Fills found[0, count); the rest of the array keeps what it held. A count
// above the array's length is a module fault: nothing is stored.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_findObjects(JNIEnv* env, jobject self,
                                                                                           jobject session,
                                                                                           jobjectArray found) {
    return guarded<FindObjectsResult>(
        env, self,
        [found](Call c, SessionArg& s, Required&) {
            jsize max = c.env.jni->GetArrayLength(found);
            Scratch<CK_OBJECT_HANDLE, 64 * sizeof(CK_OBJECT_HANDLE), Wipe::No> handles;
            if (!handles.allocate(static_cast<uint64_t>(max)))
                return FindObjectsResult(c.env, 0, returnValue(c.env, CKR_HOST_MEMORY)).obj;
            CK_ULONG count = 0;
            CK_RV rv = c.call(&CK_FUNCTION_LIST::C_FindObjects, s, handles.data(), static_cast<CK_ULONG>(max), &count);
            if (rv == CKR_OK && count > static_cast<CK_ULONG>(max)) rv = CKR_GENERAL_ERROR;
            if (rv != CKR_OK) count = 0;
            bool keepRefs = keepLocalRefs(c.env, count, 1);
            for (CK_ULONG i = 0; i < count; ++i) {
                LocalRef handle(c.env.jni, Handle(c.env, toJlong(handles.data()[i])).obj, keepRefs);
                if (!handle.obj) return jobject(nullptr);  // the VM's error is pending
                c.env.jni->SetObjectArrayElement(found, static_cast<jsize>(i), handle.obj);
            }
            return FindObjectsResult(c.env, static_cast<int>(count), returnValue(c.env, rv)).obj;
        },
        SessionArg{session}, Required{found});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_findObjectsFinal(JNIEnv* env,
                                                                                                jobject self,
                                                                                                jobject session) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_FindObjectsFinal, SessionArg{session});
}

} // extern "C"
