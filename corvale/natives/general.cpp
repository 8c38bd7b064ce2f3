// Library, slot, token and mechanism queries, and the wait for a slot event.
#include <cstdint>

#include "corvale/natives/common.h"
#include "corvale/natives/output.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

namespace {

// A Java array holds at most this many elements; a module that claims a
// longer list is not believed (and no room is allocated for it).
constexpr CK_ULONG kMaxJavaArray = INT32_MAX;

// The query half of a list call: CKR_GENERAL_ERROR for a count no Java array
// could take, before any room is allocated for it.
CK_RV believable(CK_RV rv, CK_ULONG* count, bool query) {
    if (query && rv == CKR_OK && *count > kMaxJavaArray) return CKR_GENERAL_ERROR;
    return rv;
}

// SlotId[] or MechanismType[] of the first count values; null when the VM
// cannot make the array. Each element's local reference is dropped at once,
// so a long list does not pile them up.
template <class Element>
jobjectArray newValueArray(JNIEnv* env, const CK_ULONG* values, CK_ULONG count) {
    jclass cls = Element::getClass(env);
    if (!cls) return nullptr;
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(count), cls, nullptr);
    if (!array) return nullptr;
    for (CK_ULONG i = 0; i < count; ++i) {
        Element element(env, toJlong(values[i]));
        if (!element.obj) return nullptr;
        env->SetObjectArrayElement(array, static_cast<jsize>(i), element.obj);
        env->DeleteLocalRef(element.obj);
    }
    return array;
}

Version version(JNIEnv* env, const CK_VERSION& v) { return Version(env, v); }

JNIString text(JNIEnv* env, const CK_UTF8CHAR* field, int width) { return JNIString(env, field, width); }

WaitForSlotEventResult waitForSlotEvent(JNIEnv* env, jobject self, jboolean wait) {
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return WaitForSlotEventResult::of(env, notBound<WaitForSlotEventResult>(env));
    // Optional in a module; binding goes on without it.
    if (!f->C_WaitForSlotEvent)
        return WaitForSlotEventResult(env, SlotId(), returnValue(env, CKR_FUNCTION_NOT_SUPPORTED));
    CK_SLOT_ID slot = 0;
    CK_RV rv = f->C_WaitForSlotEvent(wait ? 0 : CKF_DONT_BLOCK, &slot, nullptr);
    return WaitForSlotEventResult(env, SlotId(env, toJlong(slot)), returnValue(env, rv));
}

} // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getInfo(JNIEnv* env, jobject self) {
    if (!self) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<GetInfoResult>(env);
    CK_INFO info{};  // cleared: a failed call yields zeros, not stack bytes
    CK_RV rv = f->C_GetInfo(&info);
    ReturnValue result = returnValue(env, rv);
    // The flags word of CK_INFO is reserved; the record carries none.
    CryptokiInformation information(env, version(env, info.cryptokiVersion),
                                    text(env, info.manufacturerID, sizeof info.manufacturerID),
                                    CryptokiInformationFlags(env),
                                    text(env, info.libraryDescription, sizeof info.libraryDescription),
                                    version(env, info.libraryVersion));
    return GetInfoResult(env, information, result).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getSlotList(JNIEnv* env, jobject self,
                                                                                           jboolean tokenPresent) {
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<SlotListResult>(env);
    Scratch<CK_SLOT_ID> slots;
    CK_ULONG count = 0;
    CK_BBOOL present = tokenPresent ? CK_TRUE : CK_FALSE;
    // Slots may appear between the two calls: then the list is asked for again.
    CK_RV rv = fetchOutput(
        [&](CK_SLOT_ID* buffer, CK_ULONG* n) {
            return believable(f->C_GetSlotList(present, buffer, n), n, buffer == nullptr);
        },
        slots, count, ZeroLength::Empty, Retry::WhileTooSmall);
    jobjectArray array = nullptr;
    if (rv == CKR_OK) {
        array = newValueArray<SlotId>(env, slots.data(), count);
        if (!array) return nullptr;  // the VM's error is pending
    }
    return SlotListResult(env, array, returnValue(env, rv)).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getSlotInfo(JNIEnv* env, jobject self,
                                                                                           jobject slotId) {
    if (!slotId) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<GetSlotInfoResult>(env);
    CK_SLOT_INFO info{};
    CK_RV rv = f->C_GetSlotInfo(toUlong(SlotId::of(env, slotId).getId()), &info);
    ReturnValue result = returnValue(env, rv);
    SlotInformation information(env, text(env, info.slotDescription, sizeof info.slotDescription),
                                text(env, info.manufacturerID, sizeof info.manufacturerID),
                                SlotInformationFlags(env, info.flags), version(env, info.hardwareVersion),
                                version(env, info.firmwareVersion));
    return GetSlotInfoResult(env, information, result).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getTokenInfo(JNIEnv* env, jobject self,
                                                                                            jobject slotId) {
    if (!slotId) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<GetTokenInfoResult>(env);
    CK_TOKEN_INFO info{};
    CK_RV rv = f->C_GetTokenInfo(toUlong(SlotId::of(env, slotId).getId()), &info);
    ReturnValue result = returnValue(env, rv);
    // A missing or throwing DateHelper.toDate leaves the date null; the
    // record is made all the same.
    Date clock(env, text(env, info.utcTime, sizeof info.utcTime), 0);
    // PIN lengths are Java ints: the low 32 bits, so all-ones reads as -1.
    TokenInformation information(
        env, text(env, info.label, sizeof info.label), text(env, info.manufacturerID, sizeof info.manufacturerID),
        text(env, info.model, sizeof info.model), text(env, info.serialNumber, sizeof info.serialNumber),
        TokenInformationFlags(env, info.flags), toJlong(info.ulMaxSessionCount), toJlong(info.ulSessionCount),
        toJlong(info.ulMaxRwSessionCount), toJlong(info.ulRwSessionCount), static_cast<int>(info.ulMaxPinLen),
        static_cast<int>(info.ulMinPinLen), toJlong(info.ulTotalPublicMemory), toJlong(info.ulFreePublicMemory),
        toJlong(info.ulTotalPrivateMemory), toJlong(info.ulFreePrivateMemory), version(env, info.hardwareVersion),
        version(env, info.firmwareVersion), clock);
    return GetTokenInfoResult(env, information, result).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getMechanismList(JNIEnv* env,
                                                                                                jobject self,
                                                                                                jobject slotId) {
    if (!slotId) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<GetMechanismListResult>(env);
    CK_SLOT_ID slot = toUlong(SlotId::of(env, slotId).getId());
    Scratch<CK_MECHANISM_TYPE> mechanisms;
    CK_ULONG count = 0;
    CK_RV rv = fetchOutput(
        [&](CK_MECHANISM_TYPE* buffer, CK_ULONG* n) {
            return believable(f->C_GetMechanismList(slot, buffer, n), n, buffer == nullptr);
        },
        mechanisms, count, ZeroLength::Empty);
    jobjectArray array = nullptr;
    if (rv == CKR_OK) {
        array = newValueArray<MechanismType>(env, mechanisms.data(), count);
        if (!array) return nullptr;
    }
    return GetMechanismListResult(env, array, returnValue(env, rv)).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getMechanismInfo(
    JNIEnv* env, jobject self, jobject slotId, jobject type, jobjectArray flagsOut, jintArray keySizesOut) {
    if (!slotId || !type) return nullptr;
    // The caller's arrays receive the answer; too short, and nothing is asked.
    if (!flagsOut || env->GetArrayLength(flagsOut) < 1 || !keySizesOut || env->GetArrayLength(keySizesOut) < 2)
        return returnValue(env, CKR_ARGUMENTS_BAD).obj;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<ReturnValue>(env);
    CK_MECHANISM_INFO info{};
    CK_RV rv = f->C_GetMechanismInfo(toUlong(SlotId::of(env, slotId).getId()),
                                     toUlong(MechanismType::of(env, type).getType()), &info);
    if (rv != CKR_OK) return returnValue(env, rv).obj;
    MechanismInformationFlags flags(env, info.flags);
    // Its exception is pending: no JNI call may follow, the caller gets it.
    if (!flags.obj) return nullptr;
    // Callers rely on the maximum never reading above 0x80000000 (which Java
    // sees as Integer.MIN_VALUE).
    CK_ULONG max = info.ulMaxKeySize > 0x80000000UL ? 0x80000000UL : info.ulMaxKeySize;
    jint sizes[2] = {static_cast<jint>(info.ulMinKeySize), static_cast<jint>(static_cast<uint32_t>(max))};
    env->SetIntArrayRegion(keySizesOut, 0, 2, sizes);
    env->SetObjectArrayElement(flagsOut, 0, flags.obj);
    return returnValue(env, CKR_OK).obj;
}

// The JVM looks a method named _waitForSlotEvent up under "__1"; the plain
// "__" name is kept for callers that bind it by that name.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions__1waitForSlotEvent(JNIEnv* env,
                                                                                                  jobject self,
                                                                                                  jboolean wait) {
    return waitForSlotEvent(env, self, wait).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions__waitForSlotEvent(JNIEnv* env,
                                                                                                 jobject self,
                                                                                                 jboolean wait) {
    return waitForSlotEvent(env, self, wait).obj;
}

} // extern "C"
