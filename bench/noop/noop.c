/* A PKCS#11 module that does nothing and answers at once, with the lengths a
 * real token would give (SHA-256 digests, AES-CBC-PAD ciphertext, P-256 ECDSA
 * signatures). The benchmark measures bridges on it: whatever it costs, it
 * costs every bridge alike. It keeps no state and takes no lock; only
 * C_OpenSession writes shared memory (the next session number), so threads
 * working on open sessions never meet in it. */
#include <string.h>

#include <p11-kit/pkcs11.h>

#define EXPORT __attribute__((visibility("default")))
#define UNSUPPORTED return CKR_FUNCTION_NOT_SUPPORTED

static CK_RV roomFor(CK_BYTE *out, CK_ULONG *len, CK_ULONG need) {
    CK_ULONG room = *len;
    *len = need;
    return out && room < need ? CKR_BUFFER_TOO_SMALL : CKR_OK;
}

static void blanks(CK_UTF8CHAR *field, size_t width, const char *text) {
    memset(field, ' ', width);
    memcpy(field, text, strlen(text));
}

EXPORT CK_RV C_Initialize(void *args) { (void)args; return CKR_OK; }
EXPORT CK_RV C_Finalize(void *reserved) { (void)reserved; return CKR_OK; }

EXPORT CK_RV C_GetInfo(CK_INFO *info) {
    memset(info, 0, sizeof *info);
    info->cryptokiVersion.major = 2;
    info->cryptokiVersion.minor = 40;
    blanks(info->manufacturerID, sizeof info->manufacturerID, "corvale bench");
    blanks(info->libraryDescription, sizeof info->libraryDescription, "no-op module");
    return CKR_OK;
}

EXPORT CK_RV C_GetSlotList(CK_BBOOL present, CK_SLOT_ID *slots, CK_ULONG *count) {
    (void)present;
    CK_ULONG room = *count;
    *count = 1;
    if (!slots) return CKR_OK;
    if (room < 1) return CKR_BUFFER_TOO_SMALL;
    slots[0] = 1;
    return CKR_OK;
}

EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO *info) {
    (void)slot;
    memset(info, 0, sizeof *info);
    blanks(info->slotDescription, sizeof info->slotDescription, "no-op slot");
    blanks(info->manufacturerID, sizeof info->manufacturerID, "corvale bench");
    info->flags = CKF_TOKEN_PRESENT;
    return CKR_OK;
}

EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO *info) {
    (void)slot;
    memset(info, 0, sizeof *info);
    blanks(info->label, sizeof info->label, "bench");
    blanks(info->manufacturerID, sizeof info->manufacturerID, "corvale bench");
    blanks(info->model, sizeof info->model, "no-op");
    blanks(info->serialNumber, sizeof info->serialNumber, "0001");
    info->flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
    info->ulMaxSessionCount = info->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulMaxPinLen = 255;
    info->ulMinPinLen = 4;
    info->ulTotalPublicMemory = info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulTotalPrivateMemory = info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->hardwareVersion.major = info->firmwareVersion.major = 1;
    memcpy(info->utcTime, "2024010112000000", 16);
    return CKR_OK;
}

EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID *slot, void *reserved) {
    (void)flags; (void)slot; (void)reserved; UNSUPPORTED;
}

EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE *list, CK_ULONG *count) {
    static const CK_MECHANISM_TYPE all[] = {CKM_SHA256, CKM_AES_KEY_GEN, CKM_AES_CBC_PAD, CKM_EC_KEY_PAIR_GEN,
                                            CKM_ECDSA};
    (void)slot;
    CK_ULONG room = *count, n = sizeof all / sizeof all[0];
    *count = n;
    if (!list) return CKR_OK;
    if (room < n) return CKR_BUFFER_TOO_SMALL;
    memcpy(list, all, sizeof all);
    return CKR_OK;
}

EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO *info) {
    (void)slot; (void)type;
    memset(info, 0, sizeof *info);
    return CKR_OK;
}

EXPORT CK_RV C_InitToken(CK_SLOT_ID slot, CK_UTF8CHAR *pin, CK_ULONG len, CK_UTF8CHAR *label) {
    (void)slot; (void)pin; (void)len; (void)label; UNSUPPORTED;
}
EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE s, CK_UTF8CHAR *pin, CK_ULONG len) { (void)s; (void)pin; (void)len; UNSUPPORTED; }
EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE s, CK_UTF8CHAR *o, CK_ULONG ol, CK_UTF8CHAR *n, CK_ULONG nl) {
    (void)s; (void)o; (void)ol; (void)n; (void)nl; UNSUPPORTED;
}

/* Sessions are numbered; nothing is kept about them. */
EXPORT CK_RV C_OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, void *app, CK_NOTIFY notify, CK_SESSION_HANDLE *s) {
    static CK_SESSION_HANDLE next = 1;  /* opened during setup, one thread */
    (void)slot; (void)flags; (void)app; (void)notify;
    *s = next++;
    return CKR_OK;
}
EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE s) { (void)s; return CKR_OK; }
EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slot) { (void)slot; return CKR_OK; }
EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE s, CK_SESSION_INFO *info) {
    (void)s;
    memset(info, 0, sizeof *info);
    info->slotID = 1;
    info->state = CKS_RW_USER_FUNCTIONS;
    info->flags = CKF_RW_SESSION | CKF_SERIAL_SESSION;
    return CKR_OK;
}
EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE s, CK_BYTE *st, CK_ULONG *len) { (void)s; (void)st; (void)len; UNSUPPORTED; }
EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE s, CK_BYTE *st, CK_ULONG len, CK_OBJECT_HANDLE e, CK_OBJECT_HANDLE a) {
    (void)s; (void)st; (void)len; (void)e; (void)a; UNSUPPORTED;
}
EXPORT CK_RV C_Login(CK_SESSION_HANDLE s, CK_USER_TYPE u, CK_UTF8CHAR *pin, CK_ULONG len) {
    (void)s; (void)u; (void)pin; (void)len; return CKR_OK;
}
EXPORT CK_RV C_Logout(CK_SESSION_HANDLE s) { (void)s; return CKR_OK; }

EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE s, CK_ATTRIBUTE *t, CK_ULONG n, CK_OBJECT_HANDLE *h) {
    (void)s; (void)t; (void)n; *h = 100; return CKR_OK;
}
EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE *t, CK_ULONG n, CK_OBJECT_HANDLE *h) {
    (void)s; (void)o; (void)t; (void)n; (void)h; UNSUPPORTED;
}
EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o) { (void)s; (void)o; return CKR_OK; }
EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ULONG *size) { (void)s; (void)o; (void)size; UNSUPPORTED; }

/* Every attribute is a CK_ULONG (class, key type, value length). */
EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE *t, CK_ULONG n) {
    (void)s; (void)o;
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < n; ++i) {
        if (t[i].pValue && t[i].ulValueLen >= sizeof(CK_ULONG)) {
            memset(t[i].pValue, 0, sizeof(CK_ULONG));
        } else if (t[i].pValue) {
            rv = CKR_BUFFER_TOO_SMALL;
        }
        t[i].ulValueLen = sizeof(CK_ULONG);
    }
    return rv;
}
EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE *t, CK_ULONG n) {
    (void)s; (void)o; (void)t; (void)n; UNSUPPORTED;
}

/* Every search finds 16 objects, as many as the caller has room for. */
EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE s, CK_ATTRIBUTE *t, CK_ULONG n) { (void)s; (void)t; (void)n; return CKR_OK; }
EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE *found, CK_ULONG max, CK_ULONG *count) {
    (void)s;
    CK_ULONG n = max < 16 ? max : 16;
    for (CK_ULONG i = 0; i < n; ++i) found[i] = 200 + i;
    *count = n;
    return CKR_OK;
}
EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE s) { (void)s; return CKR_OK; }

#define INIT(name) \
    EXPORT CK_RV name(CK_SESSION_HANDLE s, CK_MECHANISM *m, CK_OBJECT_HANDLE k) { (void)s; (void)m; (void)k; return CKR_OK; }
INIT(C_EncryptInit)
INIT(C_DecryptInit)
INIT(C_SignInit)
INIT(C_SignRecoverInit)
INIT(C_VerifyInit)
INIT(C_VerifyRecoverInit)
EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE s, CK_MECHANISM *m) { (void)s; (void)m; return CKR_OK; }

/* AES-CBC-PAD: the input padded to the next whole block. */
EXPORT CK_RV C_Encrypt(CK_SESSION_HANDLE s, CK_BYTE *in, CK_ULONG inLen, CK_BYTE *out, CK_ULONG *outLen) {
    (void)s; (void)in;
    return roomFor(out, outLen, (inLen & ~(CK_ULONG)15) + 16);
}
EXPORT CK_RV C_Decrypt(CK_SESSION_HANDLE s, CK_BYTE *in, CK_ULONG inLen, CK_BYTE *out, CK_ULONG *outLen) {
    (void)s; (void)in;
    return roomFor(out, outLen, inLen >= 16 ? inLen - 16 : 0);
}
EXPORT CK_RV C_Digest(CK_SESSION_HANDLE s, CK_BYTE *in, CK_ULONG inLen, CK_BYTE *out, CK_ULONG *outLen) {
    (void)s; (void)in; (void)inLen;
    return roomFor(out, outLen, 32);
}
EXPORT CK_RV C_Sign(CK_SESSION_HANDLE s, CK_BYTE *in, CK_ULONG inLen, CK_BYTE *out, CK_ULONG *outLen) {
    (void)s; (void)in; (void)inLen;
    return roomFor(out, outLen, 64);
}
EXPORT CK_RV C_Verify(CK_SESSION_HANDLE s, CK_BYTE *in, CK_ULONG inLen, CK_BYTE *sig, CK_ULONG sigLen) {
    (void)s; (void)in; (void)inLen; (void)sig; (void)sigLen; return CKR_OK;
}

#define PART_IN(name) \
    EXPORT CK_RV name(CK_SESSION_HANDLE s, CK_BYTE *p, CK_ULONG n) { (void)s; (void)p; (void)n; return CKR_OK; }
PART_IN(C_DigestUpdate)
PART_IN(C_SignUpdate)
PART_IN(C_VerifyUpdate)
PART_IN(C_VerifyFinal)
PART_IN(C_SeedRandom)
/* Random bytes are left as they were: filling them would cost every side alike. */
PART_IN(C_GenerateRandom)

#define PART_OUT(name) \
    EXPORT CK_RV name(CK_SESSION_HANDLE s, CK_BYTE *p, CK_ULONG n, CK_BYTE *o, CK_ULONG *ol) { \
        (void)s; (void)p; (void)o; return roomFor(o, ol, n); \
    }
PART_OUT(C_EncryptUpdate)
PART_OUT(C_DecryptUpdate)
PART_OUT(C_SignRecover)
PART_OUT(C_VerifyRecover)
PART_OUT(C_DigestEncryptUpdate)
PART_OUT(C_DecryptDigestUpdate)
PART_OUT(C_SignEncryptUpdate)
PART_OUT(C_DecryptVerifyUpdate)

#define FINAL(name, length) \
    EXPORT CK_RV name(CK_SESSION_HANDLE s, CK_BYTE *o, CK_ULONG *ol) { (void)s; return roomFor(o, ol, length); }
FINAL(C_EncryptFinal, 16)
FINAL(C_DecryptFinal, 0)
FINAL(C_DigestFinal, 32)
FINAL(C_SignFinal, 64)

EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE k) { (void)s; (void)k; return CKR_OK; }

EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE s, CK_MECHANISM *m, CK_ATTRIBUTE *t, CK_ULONG n, CK_OBJECT_HANDLE *k) {
    (void)s; (void)m; (void)t; (void)n; *k = 1; return CKR_OK;
}
EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE s, CK_MECHANISM *m, CK_ATTRIBUTE *pt, CK_ULONG pn, CK_ATTRIBUTE *vt,
                               CK_ULONG vn, CK_OBJECT_HANDLE *pub, CK_OBJECT_HANDLE *priv) {
    (void)s; (void)m; (void)pt; (void)pn; (void)vt; (void)vn;
    *pub = 2;
    *priv = 3;
    return CKR_OK;
}
EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE s, CK_MECHANISM *m, CK_OBJECT_HANDLE w, CK_OBJECT_HANDLE k, CK_BYTE *o,
                       CK_ULONG *ol) {
    (void)s; (void)m; (void)w; (void)k;
    return roomFor(o, ol, 40);
}
EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE s, CK_MECHANISM *m, CK_OBJECT_HANDLE u, CK_BYTE *w, CK_ULONG wl,
                         CK_ATTRIBUTE *t, CK_ULONG n, CK_OBJECT_HANDLE *k) {
    (void)s; (void)m; (void)u; (void)w; (void)wl; (void)t; (void)n; *k = 4; return CKR_OK;
}
EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE s, CK_MECHANISM *m, CK_OBJECT_HANDLE b, CK_ATTRIBUTE *t, CK_ULONG n,
                         CK_OBJECT_HANDLE *k) {
    (void)s; (void)m; (void)b; (void)t; (void)n; (void)k; UNSUPPORTED;
}
EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE s) { (void)s; return CKR_FUNCTION_NOT_PARALLEL; }
EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE s) { (void)s; return CKR_FUNCTION_NOT_PARALLEL; }

static CK_FUNCTION_LIST functions = {
    {2, 40},
    C_Initialize, C_Finalize, C_GetInfo, C_GetFunctionList, C_GetSlotList, C_GetSlotInfo, C_GetTokenInfo,
    C_GetMechanismList, C_GetMechanismInfo, C_InitToken, C_InitPIN, C_SetPIN, C_OpenSession, C_CloseSession,
    C_CloseAllSessions, C_GetSessionInfo, C_GetOperationState, C_SetOperationState, C_Login, C_Logout,
    C_CreateObject, C_CopyObject, C_DestroyObject, C_GetObjectSize, C_GetAttributeValue, C_SetAttributeValue,
    C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal, C_EncryptInit, C_Encrypt, C_EncryptUpdate,
    C_EncryptFinal, C_DecryptInit, C_Decrypt, C_DecryptUpdate, C_DecryptFinal, C_DigestInit, C_Digest,
    C_DigestUpdate, C_DigestKey, C_DigestFinal, C_SignInit, C_Sign, C_SignUpdate, C_SignFinal,
    C_SignRecoverInit, C_SignRecover, C_VerifyInit, C_Verify, C_VerifyUpdate, C_VerifyFinal,
    C_VerifyRecoverInit, C_VerifyRecover, C_DigestEncryptUpdate, C_DecryptDigestUpdate, C_SignEncryptUpdate,
    C_DecryptVerifyUpdate, C_GenerateKey, C_GenerateKeyPair, C_WrapKey, C_UnwrapKey, C_DeriveKey, C_SeedRandom,
    C_GenerateRandom, C_GetFunctionStatus, C_CancelFunction, C_WaitForSlotEvent,
};

EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST **list) {
    *list = &functions;
    return CKR_OK;
}
