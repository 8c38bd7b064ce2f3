// Library, slot, token and mechanism queries, and the wait for a slot event.
#include <ctime>

#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

namespace {

// How often a blocking wait on a module that cannot lock asks again.
constexpr long kEventPollNanos = 100 * 1000 * 1000;

// A SlotId[] or MechanismType[] of the module's list, by the two-call
// protocol; a null array unless the code is CKR_OK. A long list drops each
// element's local reference at once (keepLocalRefs).
template <class Result, class Element, class Query>
jobject listResult(Env& e, Query&& query, Retry retry = Retry::Never) {
    Scratch<CK_ULONG, 512, Wipe::No> values;
    CK_ULONG count = 0;
    CK_RV rv = fetchOutput(query, values, count, ZeroLength::Empty, retry);
    jobjectArray array = nullptr;
    if (rv == CKR_OK) {
        jclass cls = Element::getClass(e);
        array = cls ? e.jni->NewObjectArray(static_cast<jsize>(count), cls, nullptr) : nullptr;
        if (!array) return nullptr;  // the VM's error is pending
        bool keepRefs = keepLocalRefs(e, count, 1);
        for (CK_ULONG i = 0; i < count; ++i) {
            LocalRef element(e.jni, Element(e, toJlong(values.data()[i])).obj, keepRefs);
            if (!element.obj) return nullptr;
            e.jni->SetObjectArrayElement(array, static_cast<jsize>(i), element.obj);
        }
    }
    return Result(e, array, returnValue(e, rv)).obj;
}

jobject waitForSlotEvent(JNIEnv* env, jobject self, jboolean wait) {
    return guarded<WaitForSlotEventResult>(env, self, [wait](Call c) {
        // Optional in a module; binding goes on without it.
        if (!c.module.C_WaitForSlotEvent)
            return WaitForSlotEventResult(c.env, SlotId(), returnValue(c.env, CKR_FUNCTION_NOT_SUPPORTED)).obj;
        CK_SLOT_ID slot = 0;
        CK_RV rv;
        if (wait && c.serial) {
            // Blocking inside a module that cannot lock would hold up every
            // other call: ask without blocking, and sleep between the questions.
            while ((rv = c.call(&CK_FUNCTION_LIST::C_WaitForSlotEvent, CKF_DONT_BLOCK, &slot, nullptr)) == CKR_NO_EVENT) {
                timespec pause{0, kEventPollNanos};
                nanosleep(&pause, nullptr);
            }
        } else {
            rv = c.call(&CK_FUNCTION_LIST::C_WaitForSlotEvent, wait ? 0 : CKF_DONT_BLOCK, &slot, nullptr);
        }
        return WaitForSlotEventResult(c.env, SlotId(c.env, toJlong(slot)), returnValue(c.env, rv)).obj;
    });
}

} // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getInfo(JNIEnv* env, jobject self) {
    return guarded<GetInfoResult>(
        env, self,
        [](Call c, Required&) {
            Env& e = c.env;
            CK_INFO info{};  // cleared: a failed call yields zeros, not stack bytes
            ReturnValue result = returnValue(e, c.call(&CK_FUNCTION_LIST::C_GetInfo, &info));
            // The flags word of CK_INFO is reserved; the record carries none.
            CryptokiInformation information(e, Version(e, info.cryptokiVersion),
                                            JNIString(e, info.manufacturerID),
                                            CryptokiInformationFlags(e),
                                            JNIString(e, info.libraryDescription),
                                            Version(e, info.libraryVersion));
            return GetInfoResult(e, information, result).obj;
        },
        Required{self});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getSlotList(JNIEnv* env, jobject self,
                                                                                           jboolean tokenPresent) {
    return guarded<SlotListResult>(env, self, [tokenPresent](Call c) {
        CK_BBOOL present = tokenPresent ? CK_TRUE : CK_FALSE;
        // Slots may appear between the two calls: then the list is asked for again.
        return listResult<SlotListResult, SlotId>(
            c.env, [&](CK_SLOT_ID* buffer, CK_ULONG* n) { return c.call(&CK_FUNCTION_LIST::C_GetSlotList, present, buffer, n); },
            Retry::WhileTooSmall);
    });
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getSlotInfo(JNIEnv* env, jobject self,
                                                                                           jobject slotId) {
    return guarded<GetSlotInfoResult>(
        env, self,
        [](Call c, SlotArg& slot) {
            Env& e = c.env;
            CK_SLOT_INFO info{};
            ReturnValue result = returnValue(e, c.call(&CK_FUNCTION_LIST::C_GetSlotInfo, slot, &info));
            SlotInformation information(e, JNIString(e, info.slotDescription),
                                        JNIString(e, info.manufacturerID),
                                        SlotInformationFlags(e, info.flags), Version(e, info.hardwareVersion),
                                        Version(e, info.firmwareVersion));
            return GetSlotInfoResult(e, information, result).obj;
        },
        SlotArg{slotId});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getTokenInfo(JNIEnv* env, jobject self,
                                                                                            jobject slotId) {
    return guarded<GetTokenInfoResult>(
        env, self,
        [](Call c, SlotArg& slot) {
            Env& e = c.env;
            CK_TOKEN_INFO info{};
            ReturnValue result = returnValue(e, c.call(&CK_FUNCTION_LIST::C_GetTokenInfo, slot, &info));
            // A missing or throwing DateHelper.toDate leaves the date null; the
            // record is made all the same.
            Date clock(e, JNIString(e, info.utcTime), 0);
            // PIN lengths are Java ints: the low 32 bits, so all-ones reads as -1.
            TokenInformation information(
                e, JNIString(e, info.label), JNIString(e, info.manufacturerID),
                JNIString(e, info.model), JNIString(e, info.serialNumber),
                TokenInformationFlags(e, info.flags), toJlong(info.ulMaxSessionCount), toJlong(info.ulSessionCount),
                toJlong(info.ulMaxRwSessionCount), toJlong(info.ulRwSessionCount), static_cast<int>(info.ulMaxPinLen),
                static_cast<int>(info.ulMinPinLen), toJlong(info.ulTotalPublicMemory),
                toJlong(info.ulFreePublicMemory), toJlong(info.ulTotalPrivateMemory),
                toJlong(info.ulFreePrivateMemory), Version(e, info.hardwareVersion), Version(e, info.firmwareVersion),
                clock);
            return GetTokenInfoResult(e, information, result).obj;
        },
        SlotArg{slotId});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getMechanismList(JNIEnv* env,
                                                                                                jobject self,
                                                                                                jobject slotId) {
    return guarded<GetMechanismListResult>(
        env, self,
        [](Call c, SlotArg& slot) {
            return listResult<GetMechanismListResult, MechanismType>(
                c.env, [&](CK_MECHANISM_TYPE* buffer, CK_ULONG* n) {
                    return c.call(&CK_FUNCTION_LIST::C_GetMechanismList, slot, buffer, n);
                });
        },
        SlotArg{slotId});
}

// The caller's arrays receive the answer; too short (or null), and nothing is asked.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getMechanismInfo(
    JNIEnv* env, jobject self, jobject slotId, jobject type, jobjectArray flagsOut, jintArray keySizesOut) {
    return guarded<ReturnValue>(
        env, self,
        [flagsOut, keySizesOut](Call c, SlotArg& slot, MechanismTypeArg& mechanism) {
            Env& e = c.env;
            if (!flagsOut || e.jni->GetArrayLength(flagsOut) < 1 || !keySizesOut ||
                e.jni->GetArrayLength(keySizesOut) < 2)
                return answer(e, CKR_ARGUMENTS_BAD);
            CK_MECHANISM_INFO info{};
            CK_RV rv = c.call(&CK_FUNCTION_LIST::C_GetMechanismInfo, slot, mechanism, &info);
            if (rv != CKR_OK) return answer(e, rv);
            MechanismInformationFlags flags(e, info.flags);
            if (!flags.obj) return jobject(nullptr);  // its exception is pending; the arrays stay
            // Callers rely on the maximum never reading above 0x80000000 (which
            // Java sees as Integer.MIN_VALUE).
            CK_ULONG max = info.ulMaxKeySize > 0x80000000UL ? 0x80000000UL : info.ulMaxKeySize;
            jint sizes[2] = {static_cast<jint>(info.ulMinKeySize), static_cast<jint>(static_cast<uint32_t>(max))};
            e.jni->SetIntArrayRegion(keySizesOut, 0, 2, sizes);
            e.jni->SetObjectArrayElement(flagsOut, 0, flags.obj);
            return answer(e, CKR_OK);
        },
        SlotArg{slotId}, MechanismTypeArg{type});
}

// The JVM looks a method named _waitForSlotEvent up under "__1"; the plain
// "__" name is kept for callers that bind it by that name.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions__1waitForSlotEvent(JNIEnv* env,
                                                                                                  jobject self,
                                                                                                  jboolean wait) {
    return waitForSlotEvent(env, self, wait);
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions__waitForSlotEvent(JNIEnv* env,
                                                                                                 jobject self,
                                                                                                 jboolean wait) {
    return waitForSlotEvent(env, self, wait);
}

} // extern "C"
