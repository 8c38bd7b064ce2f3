// Token initialisation, PINs, login, sessions and operation state.
#include "corvale/binding/lifecycle.h"
#include "corvale/natives/shapes.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

using namespace corvale;

namespace {

jobject sessionResult(Env& e, CK_RV rv, CK_SESSION_HANDLE session) {
    ReturnValue result = returnValue(e, rv);
    return OpenSessionResult(e, SessionHandle(e, toJlong(session)), result).obj;
}

} // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_initToken(JNIEnv* env, jobject self,
                                                                                         jobject slotId, jstring soPin,
                                                                                         jstring label) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_InitToken, SlotArg{slotId}, TextArg{soPin}, LabelArg{label});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_initPIN(JNIEnv* env, jobject self,
                                                                                       jobject session, jstring pin) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_InitPIN, SessionArg{session}, TextArg{pin});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_setPIN(JNIEnv* env, jobject self,
                                                                                      jobject session, jstring oldPin,
                                                                                      jstring newPin) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_SetPIN, SessionArg{session}, TextArg{oldPin}, TextArg{newPin});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_login(JNIEnv* env, jobject self,
                                                                                     jobject session, jobject userType,
                                                                                     jstring pin) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_Login, SessionArg{session}, UserArg{userType}, TextArg{pin});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_logout(JNIEnv* env, jobject self,
                                                                                      jobject session) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_Logout, SessionArg{session});
}

JNIEXPORT jobject JNICALL
Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_openSession__Lquorvel_pkcs_pkcs11_SlotId_2Lquorvel_pkcs_pkcs11_OpenSessionFlags_2(
    JNIEnv* env, jobject self, jobject slotId, jobject flags) {
    return guarded<OpenSessionResult>(
        env, self,
        [](Call c, SlotArg& slot, FlagsArg& sessionFlags) {
            CK_SESSION_HANDLE session = 0;
            CK_RV rv = c.call(&CK_FUNCTION_LIST::C_OpenSession, slot, sessionFlags, nullptr, nullptr, &session);
            return sessionResult(c.env, rv, session);
        },
        SlotArg{slotId}, FlagsArg{flags});
}

JNIEXPORT jobject JNICALL
Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_openSession__Lquorvel_pkcs_pkcs11_SlotId_2Lquorvel_pkcs_pkcs11_OpenSessionFlags_2Lquorvel_pkcs_pkcs11_NotifyEventHandler_2(
    JNIEnv* env, jobject self, jobject slotId, jobject flags, jobject handler) {
    return guarded<OpenSessionResult>(
        env, self,
        [handler](Call c, SlotArg& slot, FlagsArg& sessionFlags, Required&) {
            // The module keeps the application pointer for the session's
            // lifetime, which the library does not track: the reference stays.
            jobject application = c.env.jni->NewGlobalRef(handler);
            if (!application) return jobject(nullptr);
            CK_SESSION_HANDLE session = 0;
            CK_RV rv = c.call(&CK_FUNCTION_LIST::C_OpenSession, slot, sessionFlags, application, notifyCallback, &session);
            // No session, nothing that could hand the pointer back.
            if (rv != CKR_OK) c.env.jni->DeleteGlobalRef(application);
            return sessionResult(c.env, rv, session);
        },
        SlotArg{slotId}, FlagsArg{flags}, Required{handler});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_closeSession(JNIEnv* env, jobject self,
                                                                                            jobject session) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_CloseSession, SessionArg{session});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_closeAllSessions(JNIEnv* env,
                                                                                                jobject self,
                                                                                                jobject slotId) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_CloseAllSessions, SlotArg{slotId});
}

JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getSessionInfo(JNIEnv* env,
                                                                                              jobject self,
                                                                                              jobject session) {
    return guarded<GetSessionInfoResult>(
        env, self,
        [](Call c, SessionArg& s) {
            Env& e = c.env;
            CK_SESSION_INFO info{};
            ReturnValue result = returnValue(e, c.call(&CK_FUNCTION_LIST::C_GetSessionInfo, s, &info));
            SessionInformation information(e, SlotId(e, toJlong(info.slotID)), SessionState(e, toJlong(info.state)),
                                           SessionInformationFlags(e, info.flags), toJlong(info.ulDeviceError));
            return GetSessionInfoResult(e, information, result).obj;
        },
        SessionArg{session});
}

// The state may hold keys or plaintext: wiped. No Java array, no result.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getOperationState(JNIEnv* env,
                                                                                                 jobject self,
                                                                                                 jobject session) {
    return dataOut<GetOperationStateResult, Wipe::Yes, ZeroLength::Empty, EmptyOutput::Kept>(
        env, self, &CK_FUNCTION_LIST::C_GetOperationState, SessionArg{session});
}

// The third Java argument is the encryption key, the fourth the
// authentication key; an empty state still reaches the module as a valid
// pointer and length 0.
JNIEXPORT jobject JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_setOperationState(
    JNIEnv* env, jobject self, jobject session, jbyteArray state, jobject encryptionKey, jobject authenticationKey) {
    return returnCode(env, self, &CK_FUNCTION_LIST::C_SetOperationState, SessionArg{session},
                      ArrayArg<Wipe::Yes, EmptyArray::Kept>{state}, HandleArg{encryptionKey},
                      HandleArg{authenticationKey});
}

} // extern "C"
