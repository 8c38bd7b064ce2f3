// Object management and key management functions of the mock.
#include "mock_internal.h"

#include <cstring>

using namespace mock;

namespace {

CK_RV applyTemplate(Object& o, const CK_ATTRIBUTE* t, CK_ULONG n) {
    if (!t && n) return CKR_ARGUMENTS_BAD;
    for (CK_ULONG i = 0; i < n; ++i) {
        if (!t[i].pValue && t[i].ulValueLen) return CKR_ATTRIBUTE_VALUE_INVALID;
        o.set(t[i].type, toBytes(t[i].pValue, t[i].ulValueLen));
    }
    return CKR_OK;
}

bool matches(const Object& o, const CK_ATTRIBUTE* t, CK_ULONG n) {
    for (CK_ULONG i = 0; i < n; ++i) {
        const Attr* a = o.find(t[i].type);
        if (!a || a->value.size() != t[i].ulValueLen) return false;
        if (t[i].ulValueLen && std::memcmp(a->value.data(), t[i].pValue, t[i].ulValueLen) != 0)
            return false;
    }
    return true;
}

CK_ULONG ulongOf(const Object& o, CK_ATTRIBUTE_TYPE type, CK_ULONG fallback) {
    const Attr* a = o.find(type);
    if (!a || a->value.size() != sizeof(CK_ULONG)) return fallback;
    CK_ULONG v;
    std::memcpy(&v, a->value.data(), sizeof v);
    return v;
}

CK_RV canStore(const Session& s, const Object& o) {
    if (o.isTrue(CKA_TOKEN) && !(s.flags & CKF_RW_SESSION)) return CKR_SESSION_READ_ONLY;
    return CKR_OK;
}

// Stores a new object under the next free handle (lock held).
CK_OBJECT_HANDLE store(const Session& s, Object o) {
    o.owner = o.isTrue(CKA_TOKEN) ? 0 : s.handle.load(std::memory_order_relaxed);
    CK_OBJECT_HANDLE h = g.nextObject++;
    while (h == 0 || g.objects.count(h)) h = g.nextObject++;
    g.objects[h] = std::move(o);
    return h;
}

Bytes masked(const Bytes& in, uint8_t mask) {
    Bytes out(in);
    for (uint8_t& b : out) b ^= mask;
    return out;
}

// A new key with its value: stored when the session may hold it (lock held).
CK_RV storeKey(const Session& s, Object o, const Bytes& value, CK_OBJECT_HANDLE_PTR phKey) {
    o.set(CKA_VALUE_LEN, ulongBytes(value.size()));
    o.set(CKA_VALUE, value);
    if (CK_RV rv = canStore(s, o)) return rv;
    *phKey = store(s, std::move(o));
    return CKR_OK;
}

Object secretKey(CK_KEY_TYPE type) {
    Object o;
    o.set(CKA_CLASS, ulongBytes(CKO_SECRET_KEY));
    o.set(CKA_KEY_TYPE, ulongBytes(type));
    o.set(CKA_TOKEN, Bytes{0});
    o.set(CKA_SENSITIVE, Bytes{0});
    o.set(CKA_EXTRACTABLE, Bytes{1});
    return o;
}

}  // namespace

MOCK_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate,
                                 CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phObject) {
    MOCK_ENTER(C_CreateObject,
               .num("session", hSession).attrs("template", pTemplate, ulCount, true)
               .num("count", ulCount).ptr("object", phObject)
               .outUlong(phObject));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!phObject) return CKR_ARGUMENTS_BAD;
    Object o;
    if (CK_RV rv = applyTemplate(o, pTemplate, ulCount)) return rv;
    if (!o.find(CKA_CLASS)) return CKR_TEMPLATE_INCOMPLETE;
    if (CK_RV rv = canStore(*s, o)) return rv;
    *phObject = store(*s, std::move(o));
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                               CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                               CK_OBJECT_HANDLE_PTR phNewObject) {
    MOCK_ENTER(C_CopyObject,
               .num("session", hSession).num("object", hObject).attrs("template", pTemplate, ulCount, true)
               .num("count", ulCount).ptr("newObject", phNewObject)
               .outUlong(phNewObject));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    const Object* from = findObject(hObject);
    if (!from) return CKR_OBJECT_HANDLE_INVALID;
    if (!phNewObject) return CKR_ARGUMENTS_BAD;
    Object o = *from;
    if (CK_RV rv = applyTemplate(o, pTemplate, ulCount)) return rv;
    if (CK_RV rv = canStore(*s, o)) return rv;
    *phNewObject = store(*s, std::move(o));
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
    MOCK_ENTER(C_DestroyObject, .num("session", hSession).num("object", hObject));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    Object* o = findObject(hObject);
    if (!o) return CKR_OBJECT_HANDLE_INVALID;
    if (CK_RV rv = canStore(*s, *o)) return rv;
    g.objects.erase(hObject);
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                  CK_ULONG_PTR pulSize) {
    MOCK_ENTER(C_GetObjectSize,
               .num("session", hSession).num("object", hObject).ptr("size", pulSize)
               .outUlong(pulSize));
    std::lock_guard<std::mutex> lock(g.mu);
    if (!findSession(hSession)) return CKR_SESSION_HANDLE_INVALID;
    const Object* o = findObject(hObject);
    if (!o) return CKR_OBJECT_HANDLE_INVALID;
    if (!pulSize) return CKR_ARGUMENTS_BAD;
    CK_ULONG size = 0;
    for (const Attr& a : o->attrs) size += a.value.size();
    *pulSize = size;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                      CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    MOCK_ENTER(C_GetAttributeValue,
               .num("session", hSession).num("object", hObject).attrs("template", pTemplate, ulCount, false)
               .num("count", ulCount)
               .outAttrs(pTemplate, ulCount));
    std::lock_guard<std::mutex> lock(g.mu);
    if (!findSession(hSession)) return CKR_SESSION_HANDLE_INVALID;
    const Object* o = findObject(hObject);
    if (!o) return CKR_OBJECT_HANDLE_INVALID;
    if (!pTemplate && ulCount) return CKR_ARGUMENTS_BAD;
    // Every attribute is answered; the most important failure is reported.
    bool sensitive = false, invalid = false, tooSmall = false;
    for (CK_ULONG i = 0; i < ulCount; ++i) {
        switch (answerAttribute(c, *o, pTemplate[i])) {
        case CKR_ATTRIBUTE_SENSITIVE: sensitive = true; break;
        case CKR_ATTRIBUTE_TYPE_INVALID: invalid = true; break;
        case CKR_BUFFER_TOO_SMALL: tooSmall = true; break;
        default: break;
        }
    }
    if (sensitive) return CKR_ATTRIBUTE_SENSITIVE;
    if (invalid) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (tooSmall) return CKR_BUFFER_TOO_SMALL;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                      CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    MOCK_ENTER(C_SetAttributeValue,
               .num("session", hSession).num("object", hObject).attrs("template", pTemplate, ulCount, true)
               .num("count", ulCount));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    Object* o = findObject(hObject);
    if (!o) return CKR_OBJECT_HANDLE_INVALID;
    if (CK_RV rv = canStore(*s, *o)) return rv;
    for (CK_ULONG i = 0; pTemplate && i < ulCount; ++i)
        if (pTemplate[i].type == CKA_CLASS) return CKR_ATTRIBUTE_READ_ONLY;
    Object changed = *o;
    if (CK_RV rv = applyTemplate(changed, pTemplate, ulCount)) return rv;
    changed.owner = o->owner;
    *o = std::move(changed);
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate,
                                    CK_ULONG ulCount) {
    MOCK_ENTER(C_FindObjectsInit,
               .num("session", hSession).attrs("template", pTemplate, ulCount, true).num("count", ulCount));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (s->findActive) return CKR_OPERATION_ACTIVE;
    if (!pTemplate && ulCount) return CKR_ARGUMENTS_BAD;
    s->found.clear();
    for (const auto& entry : g.objects)  // ascending handles
        if (matches(entry.second, pTemplate, ulCount)) s->found.push_back(entry.first);
    s->findPos = 0;
    s->findActive = true;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject,
                                CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount) {
    MOCK_ENTER(C_FindObjects,
               .num("session", hSession).ptr("object", phObject).num("maxObjectCount", ulMaxObjectCount)
               .ptr("objectCount", pulObjectCount)
               .outFound(phObject, ulMaxObjectCount, pulObjectCount));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!s->findActive) return CKR_OPERATION_NOT_INITIALIZED;
    if (!pulObjectCount || (!phObject && ulMaxObjectCount)) return CKR_ARGUMENTS_BAD;
    size_t written;
    CK_RV rv = answerFound(c, s->found.data() + s->findPos, s->found.size() - s->findPos,
                           phObject, ulMaxObjectCount, pulObjectCount, &written);
    s->findPos += written;
    return rv;
}

MOCK_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    MOCK_ENTER(C_FindObjectsFinal, .num("session", hSession));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!s->findActive) return CKR_OPERATION_NOT_INITIALIZED;
    s->findActive = false;
    s->found.clear();
    s->findPos = 0;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                                CK_OBJECT_HANDLE_PTR phKey) {
    MOCK_ENTER(C_GenerateKey,
               .num("session", hSession).mechanism("mechanism", pMechanism)
               .attrs("template", pTemplate, ulCount, true).num("count", ulCount).ptr("key", phKey)
               .outUlong(phKey));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!pMechanism || !phKey) return CKR_ARGUMENTS_BAD;
    Object o = secretKey(pMechanism->mechanism == CKM_AES_KEY_GEN ? CKK_AES : CKK_GENERIC_SECRET);
    if (CK_RV rv = applyTemplate(o, pTemplate, ulCount)) return rv;
    Bytes value(ulongOf(o, CKA_VALUE_LEN, 16));
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i);
    return storeKey(*s, std::move(o), value, phKey);
}

MOCK_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                    CK_ATTRIBUTE_PTR pPublicKeyTemplate,
                                    CK_ULONG ulPublicKeyAttributeCount,
                                    CK_ATTRIBUTE_PTR pPrivateKeyTemplate,
                                    CK_ULONG ulPrivateKeyAttributeCount,
                                    CK_OBJECT_HANDLE_PTR phPublicKey,
                                    CK_OBJECT_HANDLE_PTR phPrivateKey) {
    MOCK_ENTER(C_GenerateKeyPair,
               .num("session", hSession).mechanism("mechanism", pMechanism)
               .attrs("publicKeyTemplate", pPublicKeyTemplate, ulPublicKeyAttributeCount, true)
               .num("publicKeyAttributeCount", ulPublicKeyAttributeCount)
               .attrs("privateKeyTemplate", pPrivateKeyTemplate, ulPrivateKeyAttributeCount, true)
               .num("privateKeyAttributeCount", ulPrivateKeyAttributeCount)
               .ptr("publicKey", phPublicKey).ptr("privateKey", phPrivateKey)
               .outUlong(phPublicKey).outUlong(phPrivateKey));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!pMechanism || !phPublicKey || !phPrivateKey) return CKR_ARGUMENTS_BAD;
    CK_KEY_TYPE type = pMechanism->mechanism == CKM_RSA_PKCS_KEY_PAIR_GEN ? CKK_RSA : CKK_EC;
    Object pub, priv;
    pub.set(CKA_CLASS, ulongBytes(CKO_PUBLIC_KEY));
    pub.set(CKA_KEY_TYPE, ulongBytes(type));
    pub.set(CKA_TOKEN, Bytes{0});
    priv.set(CKA_CLASS, ulongBytes(CKO_PRIVATE_KEY));
    priv.set(CKA_KEY_TYPE, ulongBytes(type));
    priv.set(CKA_TOKEN, Bytes{0});
    priv.set(CKA_SENSITIVE, Bytes{1});
    priv.set(CKA_EXTRACTABLE, Bytes{0});
    if (CK_RV rv = applyTemplate(pub, pPublicKeyTemplate, ulPublicKeyAttributeCount)) return rv;
    if (CK_RV rv = applyTemplate(priv, pPrivateKeyTemplate, ulPrivateKeyAttributeCount)) return rv;
    Bytes value(32);
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(0x40 + i);
    priv.set(CKA_VALUE, value);
    if (CK_RV rv = canStore(*s, pub)) return rv;
    if (CK_RV rv = canStore(*s, priv)) return rv;
    *phPublicKey = store(*s, std::move(pub));
    *phPrivateKey = store(*s, std::move(priv));
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                            CK_OBJECT_HANDLE hWrappingKey, CK_OBJECT_HANDLE hKey,
                            CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen) {
    MOCK_ENTER(C_WrapKey,
               .num("session", hSession).mechanism("mechanism", pMechanism)
               .num("wrappingKey", hWrappingKey).num("key", hKey).ptr("wrappedKey", pWrappedKey)
               .ulongIn("wrappedKeyLen", pulWrappedKeyLen)
               .outBytes(pWrappedKey, pulWrappedKeyLen));
    std::lock_guard<std::mutex> lock(g.mu);
    if (!findSession(hSession)) return CKR_SESSION_HANDLE_INVALID;
    if (!pMechanism || !pulWrappedKeyLen) return CKR_ARGUMENTS_BAD;
    if (!findObject(hWrappingKey)) return CKR_WRAPPING_KEY_HANDLE_INVALID;
    const Object* key = findObject(hKey);
    if (!key) return CKR_KEY_HANDLE_INVALID;
    const Attr* value = key->find(CKA_VALUE);
    if (!value) return CKR_KEY_NOT_WRAPPABLE;
    const Attr* extractable = key->find(CKA_EXTRACTABLE);
    if (extractable && !key->isTrue(CKA_EXTRACTABLE)) return CKR_KEY_UNEXTRACTABLE;
    bool done;
    return answerBytes(c, masked(value->value, kCipherMask), pWrappedKey, pulWrappedKeyLen, &done);
}

MOCK_EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                              CK_OBJECT_HANDLE hUnwrappingKey, CK_BYTE_PTR pWrappedKey,
                              CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                              CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    MOCK_ENTER(C_UnwrapKey,
               .num("session", hSession).mechanism("mechanism", pMechanism)
               .num("unwrappingKey", hUnwrappingKey).bytes("wrappedKey", pWrappedKey, ulWrappedKeyLen)
               .num("wrappedKeyLen", ulWrappedKeyLen).attrs("template", pTemplate, ulAttributeCount, true)
               .num("attributeCount", ulAttributeCount).ptr("key", phKey)
               .outUlong(phKey));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!pMechanism || !phKey || (!pWrappedKey && ulWrappedKeyLen)) return CKR_ARGUMENTS_BAD;
    if (!findObject(hUnwrappingKey)) return CKR_UNWRAPPING_KEY_HANDLE_INVALID;
    if (ulWrappedKeyLen == 0) return CKR_WRAPPED_KEY_LEN_RANGE;
    Object o = secretKey(CKK_GENERIC_SECRET);
    if (CK_RV rv = applyTemplate(o, pTemplate, ulAttributeCount)) return rv;
    Bytes value = masked(toBytes(pWrappedKey, ulWrappedKeyLen), kCipherMask);
    return storeKey(*s, std::move(o), value, phKey);
}

MOCK_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                              CK_OBJECT_HANDLE hBaseKey, CK_ATTRIBUTE_PTR pTemplate,
                              CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    MOCK_ENTER(C_DeriveKey,
               .num("session", hSession).mechanism("mechanism", pMechanism).num("baseKey", hBaseKey)
               .attrs("template", pTemplate, ulAttributeCount, true).num("attributeCount", ulAttributeCount)
               .ptr("key", phKey)
               .outUlong(phKey));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!pMechanism || !phKey) return CKR_ARGUMENTS_BAD;
    const Object* base = findObject(hBaseKey);
    if (!base) return CKR_KEY_HANDLE_INVALID;
    const Attr* baseValue = base->find(CKA_VALUE);
    Bytes value = baseValue ? masked(baseValue->value, kCipherMask) : Bytes(16);
    Object o = secretKey(CKK_GENERIC_SECRET);
    if (CK_RV rv = applyTemplate(o, pTemplate, ulAttributeCount)) return rv;
    return storeKey(*s, std::move(o), value, phKey);
}
