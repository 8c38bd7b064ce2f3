// Token initialisation, PINs, login, sessions and operation state.
#include <cstdint>
#include <cstring>

#include "corvale/binding/lifecycle.h"
#include "corvale/natives/common.h"
#include "corvale/natives/output.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

namespace {

// A PIN or label as the module gets it: the first String.length() bytes of
// its modified UTF-8 form (PINs already stored on tokens were set that way),
// wiped when it goes. Empty only when the VM could not give the characters;
// its error is then pending and the native gives up.
SecretText textOf(JNIEnv* env, jstring s) { return JNIString(env, s).toCString(); }

// Modified UTF-8 has no zero bytes, so the copy's length is its strlen.
CK_ULONG lengthOf(const SecretText& t) { return static_cast<CK_ULONG>(std::strlen(t.get())); }

CK_SESSION_HANDLE sessionOf(JNIEnv* env, jobject session) {
    return toUlong(SessionHandle::of(env, session).getHandle());
}

CK_SLOT_ID slotOf(JNIEnv* env, jobject slot) { return toUlong(SlotId::of(env, slot).getId()); }

CK_OBJECT_HANDLE handleOf(JNIEnv* env, jobject handle) { return toUlong(Handle::of(env, handle).getValue()); }

constexpr size_t kLabelWidth = 32;

OpenSessionResult sessionResult(JNIEnv* env, CK_RV rv, CK_SESSION_HANDLE session) {
    ReturnValue result = returnValue(env, rv);
    return OpenSessionResult(env, SessionHandle(env, toJlong(session)), result);
}

} // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_initToken(JNIEnv* env, jobject self,
                                                                                         jobject slotId, jstring soPin,
                                                                                         jstring label) {
    if (!label || !soPin || !slotId) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<ReturnValue>(env);
    SecretText pin = textOf(env, soPin);
    if (!pin) return nullptr;
    SecretText labelText = textOf(env, label);
    if (!labelText) return nullptr;
    // C_InitToken takes exactly 32 bytes, blank-padded, no terminator.
    CK_UTF8CHAR field[kLabelWidth];
    std::memset(field, ' ', sizeof field);
    size_t n = std::strlen(labelText.get());
    std::memcpy(field, labelText.get(), n < sizeof field ? n : sizeof field);
    CK_RV rv = f->C_InitToken(slotOf(env, slotId), pin.utf8(), lengthOf(pin), field);
    return returnValue(env, rv).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_initPIN(JNIEnv* env, jobject self,
                                                                                       jobject session, jstring pin) {
    if (!pin || !session) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<ReturnValue>(env);
    SecretText text = textOf(env, pin);
    if (!text) return nullptr;
    CK_RV rv = f->C_InitPIN(sessionOf(env, session), text.utf8(), lengthOf(text));
    return returnValue(env, rv).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_setPIN(JNIEnv* env, jobject self,
                                                                                      jobject session, jstring oldPin,
                                                                                      jstring newPin) {
    if (!newPin || !oldPin || !session) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<ReturnValue>(env);
    SecretText oldText = textOf(env, oldPin);
    if (!oldText) return nullptr;
    SecretText newText = textOf(env, newPin);
    if (!newText) return nullptr;
    CK_RV rv = f->C_SetPIN(sessionOf(env, session), oldText.utf8(), lengthOf(oldText), newText.utf8(),
                           lengthOf(newText));
    return returnValue(env, rv).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_login(JNIEnv* env, jobject self,
                                                                                     jobject session, jobject userType,
                                                                                     jstring pin) {
    if (!pin || !userType || !session) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<ReturnValue>(env);
    SecretText text = textOf(env, pin);
    if (!text) return nullptr;
    // The Java int is the 32-bit user type; it is not sign-extended on x86-64.
    auto user = static_cast<CK_USER_TYPE>(static_cast<uint32_t>(UserType::of(env, userType).getNum()));
    CK_RV rv = f->C_Login(sessionOf(env, session), user, text.utf8(), lengthOf(text));
    return returnValue(env, rv).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_logout(JNIEnv* env, jobject self,
                                                                                      jobject session) {
    if (!session) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<ReturnValue>(env);
    return returnValue(env, f->C_Logout(sessionOf(env, session))).obj;
}

JNIEXPORT jobject JNICALL
Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_openSession__Lquorvel_pkcs_pkcs11_SlotId_2Lquorvel_pkcs_pkcs11_OpenSessionFlags_2(
    JNIEnv* env, jobject self, jobject slotId, jobject flags) {
    if (!flags || !slotId) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<OpenSessionResult>(env);
    CK_FLAGS sessionFlags = toUlong(OpenSessionFlags::of(env, flags).getFlags());
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = f->C_OpenSession(slotOf(env, slotId), sessionFlags, nullptr, nullptr, &session);
    return sessionResult(env, rv, session).obj;
}

JNIEXPORT jobject JNICALL
Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_openSession__Lquorvel_pkcs_pkcs11_SlotId_2Lquorvel_pkcs_pkcs11_OpenSessionFlags_2Lquorvel_pkcs_pkcs11_NotifyEventHandler_2(
    JNIEnv* env, jobject self, jobject slotId, jobject flags, jobject handler) {
    if (!handler || !slotId || !flags) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<OpenSessionResult>(env);
    CK_SLOT_ID slot = slotOf(env, slotId);
    CK_FLAGS sessionFlags = toUlong(OpenSessionFlags::of(env, flags).getFlags());
    // The module keeps the application pointer for the session's lifetime,
    // which the library does not track: the reference stays.
    jobject application = env->NewGlobalRef(handler);
    if (!application) return nullptr;
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = f->C_OpenSession(slot, sessionFlags, application, notifyCallback, &session);
    // No session, nothing that could hand the pointer back.
    if (rv != CKR_OK) env->DeleteGlobalRef(application);
    return sessionResult(env, rv, session).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_closeSession(JNIEnv* env, jobject self,
                                                                                            jobject session) {
    if (!session) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<ReturnValue>(env);
    return returnValue(env, f->C_CloseSession(sessionOf(env, session))).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_closeAllSessions(JNIEnv* env,
                                                                                                jobject self,
                                                                                                jobject slotId) {
    if (!slotId) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<ReturnValue>(env);
    return returnValue(env, f->C_CloseAllSessions(slotOf(env, slotId))).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getSessionInfo(JNIEnv* env,
                                                                                              jobject self,
                                                                                              jobject session) {
    if (!session) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<GetSessionInfoResult>(env);
    CK_SESSION_INFO info{};
    CK_RV rv = f->C_GetSessionInfo(sessionOf(env, session), &info);
    ReturnValue result = returnValue(env, rv);
    SessionInformation information(env, SlotId(env, toJlong(info.slotID)), SessionState(env, toJlong(info.state)),
                                   SessionInformationFlags(env, info.flags), toJlong(info.ulDeviceError));
    return GetSessionInfoResult(env, information, result).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getOperationState(JNIEnv* env,
                                                                                                 jobject self,
                                                                                                 jobject session) {
    if (!session) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<GetOperationStateResult>(env);
    CK_SESSION_HANDLE handle = sessionOf(env, session);
    Scratch<CK_BYTE> state;
    CK_ULONG length = 0;
    CK_RV rv = fetchOutput(
        [&](CK_BYTE* buffer, CK_ULONG* n) {
            CK_RV r = f->C_GetOperationState(handle, buffer, n);
            // No Java array could take more: refuse before allocating it.
            if (!buffer && r == CKR_OK && *n > static_cast<CK_ULONG>(INT32_MAX)) return CK_RV(CKR_GENERAL_ERROR);
            return r;
        },
        state, length, ZeroLength::Empty);
    if (rv != CKR_OK) return GetOperationStateResult(env, nullptr, returnValue(env, rv)).obj;
    jbyteArray bytes = newByteArray(env, state.data(), length);
    if (!bytes) return nullptr;  // the VM's error is pending
    return GetOperationStateResult(env, bytes, returnValue(env, rv)).obj;
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_setOperationState(
    JNIEnv* env, jobject self, jobject session, jbyteArray state, jobject encryptionKey, jobject authenticationKey) {
    if (!session || !state || !encryptionKey || !authenticationKey) return nullptr;
    CK_FUNCTION_LIST* f = boundFunctions(env, self);
    if (!f) return notBound<ReturnValue>(env);
    jsize length = env->GetArrayLength(state);
    Scratch<CK_BYTE> copy;
    if (length < 0 || !copy.allocate(static_cast<uint64_t>(length))) return returnValue(env, CKR_HOST_MEMORY).obj;
    if (length) env->GetByteArrayRegion(state, 0, length, reinterpret_cast<jbyte*>(copy.data()));
    CK_OBJECT_HANDLE authentication = handleOf(env, authenticationKey);
    CK_OBJECT_HANDLE encryption = handleOf(env, encryptionKey);
    CK_RV rv = f->C_SetOperationState(sessionOf(env, session), copy.data(), static_cast<CK_ULONG>(length),
                                      encryption, authentication);
    return returnValue(env, rv).obj;
}

} // extern "C"
