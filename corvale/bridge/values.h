// Typed proxies of the Java value classes. Each holds a local reference of
// the current native call and that call's Env (the calling thread's JNIEnv);
// copied by value, never kept past the call.
#pragma once

#include "corvale/bridge/catalogue.h"
#include "corvale/bridge/wrappers.h"

namespace corvale {

#define CORVALE_PROXY(Name) \
    jobject obj = nullptr; \
    Env* env = nullptr; \
    Name() = default; \
    /* wraps a reference the native received or a getter returned */ \
    static Name of(Env& e, jobject o) { Name p; p.obj = o; p.env = &e; return p; } \
    static jclass getClass(Env& e) { return lookupClass(e, catalogue::Name##_class); }

#define CORVALE_MAKE(Name, ...) obj(construct(e, catalogue::Name##_ctor, {__VA_ARGS__})), env(&e)

// Classes that carry one Cryptoki number.
#define CORVALE_SCALAR(Name, getter) \
    struct Name { \
        CORVALE_PROXY(Name) \
        Name(Env& e, long long value) : CORVALE_MAKE(Name, jv(value)) {} \
        long long getter() const { return callLong(*env, obj, catalogue::Name##_##getter); } \
    };
CORVALE_SCALAR(Handle, getValue)
CORVALE_SCALAR(SessionHandle, getHandle)
CORVALE_SCALAR(SlotId, getId)
CORVALE_SCALAR(MechanismType, getType)
CORVALE_SCALAR(ReturnValue, getValue)
CORVALE_SCALAR(SessionState, getValue)
#undef CORVALE_SCALAR

struct AttributeFormat {
    CORVALE_PROXY(AttributeFormat)
    AttributeFormat(Env& e, JNIString name) : CORVALE_MAKE(AttributeFormat, jv(name)) {}
    JNIString getName() const {
        return {*env, static_cast<jstring>(callObject(*env, obj, catalogue::AttributeFormat_getName))};
    }
};

struct AttributeType {
    CORVALE_PROXY(AttributeType)
    AttributeType(Env& e, long long code) : CORVALE_MAKE(AttributeType, jv(code)) {}
    AttributeType(Env& e, long long code, AttributeFormat format)
        : obj(construct(e, catalogue::AttributeType_withFormat, {jv(code), jv(format)})), env(&e) {}
    long long getCode() const { return callLong(*env, obj, catalogue::AttributeType_getCode); }
    AttributeFormat getFormat() const {
        return AttributeFormat::of(*env, callObject(*env, obj, catalogue::AttributeType_getFormat));
    }
};

struct Version {
    CORVALE_PROXY(Version)
    Version(Env& e, int major, int minor) : CORVALE_MAKE(Version, jv(major), jv(minor)) {}
    // Version bytes widen without sign: 255.255 stays 255.255.
    Version(Env& e, const CK_VERSION& v) : Version(e, int{v.major}, int{v.minor}) {}
    int getMajor() const { return callInt(*env, obj, catalogue::Version_getMajor); }
    int getMinor() const { return callInt(*env, obj, catalogue::Version_getMinor); }
};

struct UserType {
    CORVALE_PROXY(UserType)
    UserType(Env& e, int num, JNIString description)
        : CORVALE_MAKE(UserType, jv(num), jv(description)) {}
    int getNum() const { return callInt(*env, obj, catalogue::UserType_getNum); }
    JNIString getDescription() const {
        return {*env, static_cast<jstring>(callObject(*env, obj, catalogue::UserType_getDescription))};
    }
};

struct KeyType {
    CORVALE_PROXY(KeyType)
    KeyType(Env& e, int type) : CORVALE_MAKE(KeyType, jv(type)) {}
    int getType() const { return callInt(*env, obj, catalogue::KeyType_getType); }
    JNIString getName() const {
        return {*env, static_cast<jstring>(callObject(*env, obj, catalogue::KeyType_getName))};
    }
};

struct OpenSessionFlags {
    CORVALE_PROXY(OpenSessionFlags)
    explicit OpenSessionFlags(Env& e) : CORVALE_MAKE(OpenSessionFlags) {}
    long long getFlags() const { return callLong(*env, obj, catalogue::OpenSessionFlags_getFlags); }
};

struct DeviceErrorCode {
    CORVALE_PROXY(DeviceErrorCode)
    explicit DeviceErrorCode(Env& e) : CORVALE_MAKE(DeviceErrorCode) {}
};

// Flag records: one boolean per listed bit, in constructor order; other bits
// are dropped.
#define CORVALE_SLOT_FLAG_BITS(X) X(CKF_TOKEN_PRESENT) X(CKF_REMOVABLE_DEVICE) X(CKF_HW_SLOT)
#define CORVALE_SESSION_FLAG_BITS(X) X(CKF_RW_SESSION) X(CKF_SERIAL_SESSION)
#define CORVALE_TOKEN_FLAG_BITS(X) \
    X(CKF_RNG) X(CKF_WRITE_PROTECTED) X(CKF_LOGIN_REQUIRED) X(CKF_USER_PIN_INITIALIZED) \
    X(CKF_RESTORE_KEY_NOT_NEEDED) X(CKF_CLOCK_ON_TOKEN) X(CKF_PROTECTED_AUTHENTICATION_PATH) \
    X(CKF_DUAL_CRYPTO_OPERATIONS) X(CKF_TOKEN_INITIALIZED) X(CKF_SECONDARY_AUTHENTICATION) \
    X(CKF_USER_PIN_COUNT_LOW) X(CKF_USER_PIN_FINAL_TRY) X(CKF_USER_PIN_LOCKED) \
    X(CKF_USER_PIN_TO_BE_CHANGED) X(CKF_SO_PIN_COUNT_LOW) X(CKF_SO_PIN_FINAL_TRY) \
    X(CKF_SO_PIN_LOCKED) X(CKF_SO_PIN_TO_BE_CHANGED)
#define CORVALE_MECHANISM_FLAG_BITS(X) \
    X(CKF_HW) X(CKF_ENCRYPT) X(CKF_DECRYPT) X(CKF_DIGEST) X(CKF_SIGN) X(CKF_SIGN_RECOVER) \
    X(CKF_VERIFY) X(CKF_VERIFY_RECOVER) X(CKF_GENERATE) X(CKF_GENERATE_KEY_PAIR) X(CKF_WRAP) \
    X(CKF_UNWRAP) X(CKF_DERIVE) X(CKF_EC_F_P) X(CKF_EC_F_2M) X(CKF_EC_ECPARAMETERS) \
    X(CKF_EC_NAMEDCURVE) X(CKF_EC_UNCOMPRESS) X(CKF_EC_COMPRESS) X(CKF_EXTENSION)

#define CORVALE_FLAG_ARG(bit) jv(static_cast<unsigned char>((flags & (bit)) ? 1 : 0)),
#define CORVALE_FLAGS(Name, BITS) \
    struct Name { \
        CORVALE_PROXY(Name) \
        Name(Env& e, CK_FLAGS flags) : CORVALE_MAKE(Name, BITS(CORVALE_FLAG_ARG)) {} \
    };
CORVALE_FLAGS(SlotInformationFlags, CORVALE_SLOT_FLAG_BITS)
CORVALE_FLAGS(SessionInformationFlags, CORVALE_SESSION_FLAG_BITS)
CORVALE_FLAGS(TokenInformationFlags, CORVALE_TOKEN_FLAG_BITS)
CORVALE_FLAGS(MechanismInformationFlags, CORVALE_MECHANISM_FLAG_BITS)
#undef CORVALE_FLAGS

// The flags word of CK_INFO is not carried.
struct CryptokiInformationFlags {
    CORVALE_PROXY(CryptokiInformationFlags)
    explicit CryptokiInformationFlags(Env& e) : CORVALE_MAKE(CryptokiInformationFlags) {}
};

struct CryptokiInformation {
    CORVALE_PROXY(CryptokiInformation)
    CryptokiInformation(Env& e, Version version, JNIString manufacturerID,
                        CryptokiInformationFlags flags, JNIString libraryDescription,
                        Version libraryVersion)
        : CORVALE_MAKE(CryptokiInformation, jv(version), jv(manufacturerID), jv(flags),
                       jv(libraryDescription), jv(libraryVersion)) {}
};

struct SlotInformation {
    CORVALE_PROXY(SlotInformation)
    SlotInformation(Env& e, JNIString slotDescription, JNIString manufacturerID,
                    SlotInformationFlags flags, Version hardwareVersion, Version firmwareVersion)
        : CORVALE_MAKE(SlotInformation, jv(slotDescription), jv(manufacturerID), jv(flags),
                       jv(hardwareVersion), jv(firmwareVersion)) {}
};

struct TokenInformation {
    CORVALE_PROXY(TokenInformation)
    TokenInformation(Env& e, JNIString label, JNIString manufacturerID, JNIString model,
                     JNIString serialNumber, TokenInformationFlags flags, long long maxSessionCount,
                     long long sessionCount, long long maxRwSessionCount, long long rwSessionCount,
                     int maxPinLen, int minPinLen, long long totalPublicMemory,
                     long long freePublicMemory, long long totalPrivateMemory,
                     long long freePrivateMemory, Version hardwareVersion, Version firmwareVersion,
                     Date utcTime)
        : CORVALE_MAKE(TokenInformation, jv(label), jv(manufacturerID), jv(model), jv(serialNumber),
                       jv(flags), jv(maxSessionCount), jv(sessionCount), jv(maxRwSessionCount),
                       jv(rwSessionCount), jv(maxPinLen), jv(minPinLen), jv(totalPublicMemory),
                       jv(freePublicMemory), jv(totalPrivateMemory), jv(freePrivateMemory),
                       jv(hardwareVersion), jv(firmwareVersion), jv(utcTime)) {}
};

struct SessionInformation {
    CORVALE_PROXY(SessionInformation)
    SessionInformation(Env& e, SlotId slot, SessionState state, SessionInformationFlags flags,
                       long long deviceError)
        : CORVALE_MAKE(SessionInformation, jv(slot), jv(state), jv(flags), jv(deviceError)) {}
};

struct MechanismInformation {
    CORVALE_PROXY(MechanismInformation)
    MechanismInformation(Env& e, int minKeySize, int maxKeySize, MechanismInformationFlags flags)
        : CORVALE_MAKE(MechanismInformation, jv(minKeySize), jv(maxKeySize), jv(flags)) {}
};

struct TemplateAttribute {
    CORVALE_PROXY(TemplateAttribute)
    TemplateAttribute(Env& e, AttributeType type, Object value)
        : CORVALE_MAKE(TemplateAttribute, jv(type), jv(value)) {}
    AttributeType getType() const {
        return AttributeType::of(*env, callObject(*env, obj, catalogue::TemplateAttribute_getType));
    }
    Object getValue() const { return {env, callObject(*env, obj, catalogue::TemplateAttribute_getValue)}; }
};

// Result records: the data (null when there is none), then the return code.
#define CORVALE_RESULT(Name, DataType) \
    struct Name { \
        CORVALE_PROXY(Name) \
        using Data = DataType; \
        Name(Env& e, Data data, ReturnValue rv) : CORVALE_MAKE(Name, jv(data), jv(rv)) {} \
    };
CORVALE_RESULT(GetInfoResult, CryptokiInformation)
CORVALE_RESULT(SlotListResult, jobject)
CORVALE_RESULT(GetSlotInfoResult, SlotInformation)
CORVALE_RESULT(GetTokenInfoResult, TokenInformation)
CORVALE_RESULT(GetMechanismListResult, jobject)
CORVALE_RESULT(GetMechanismInfoResult, MechanismInformation)
CORVALE_RESULT(WaitForSlotEventResult, SlotId)
CORVALE_RESULT(OpenSessionResult, SessionHandle)
CORVALE_RESULT(GetSessionInfoResult, SessionInformation)
CORVALE_RESULT(GetOperationStateResult, jobject)
CORVALE_RESULT(CreateObjectResult, Handle)
CORVALE_RESULT(CopyObjectResult, Handle)
CORVALE_RESULT(GetObjectSizeResult, long long)
CORVALE_RESULT(FindObjectsResult, int)
CORVALE_RESULT(CipherResult, jobject)
CORVALE_RESULT(DigestResult, jobject)
CORVALE_RESULT(SignResult, jobject)
CORVALE_RESULT(WrapKeyResult, jobject)
CORVALE_RESULT(GenerateKeyResult, Handle)
#undef CORVALE_RESULT

struct GenerateKeyPairResult {
    CORVALE_PROXY(GenerateKeyPairResult)
    // The private key comes first.
    GenerateKeyPairResult(Env& e, Handle privateKey, Handle publicKey, ReturnValue rv)
        : CORVALE_MAKE(GenerateKeyPairResult, jv(privateKey), jv(publicKey), jv(rv)) {}
};

#undef CORVALE_MAKE

} // namespace corvale
