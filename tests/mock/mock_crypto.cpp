// Cryptographic operations, random numbers and operation state of the mock.
// The transforms are trivial on purpose, so that tests can predict them:
//   encrypt/decrypt/wrap: every byte XOR 0x5A (any mechanism, any key)
//   digest: the 32-byte function of struct Digest
//   sign: the digest of the data with every byte XOR 0xFF
//   sign recover / verify recover: every byte XOR 0xFF
//   random: per-session counter bytes 0, 1, 2, ... (a seed sets the counter to
//   the sum of its bytes mod 256)
// C_DigestInit, C_Digest*, C_SeedRandom and C_GenerateRandom take no lock: a
// session's data belongs to the thread that uses the session.
#include "mock_internal.h"

#include <cstring>

using namespace mock;

namespace {

const uint8_t kStateMagic[4] = {'M', 'K', 'S', 'T'};

Bytes masked(const void* p, CK_ULONG n, uint8_t mask) {
    Bytes out = toBytes(p, n);
    for (uint8_t& b : out) b ^= mask;
    return out;
}

Bytes digestBytes(const Digest& d) { return Bytes(d.d, d.d + kDigestLen); }

Bytes signatureOf(Digest d, const void* data, CK_ULONG len) {
    if (len) d.update(static_cast<const uint8_t*>(data), len);
    Bytes sig = digestBytes(d);
    for (uint8_t& b : sig) b ^= 0xFF;
    return sig;
}

// Starts an operation; a key, when one is needed, must exist.
CK_RV startOp(CK_SESSION_HANDLE h, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE key, OpKind kind,
              bool needsKey) {
    Session* s = findSession(h);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!m) return CKR_ARGUMENTS_BAD;
    Op& op = s->ops.op[kind];
    if (op.active) return CKR_OPERATION_ACTIVE;
    if (needsKey) {
        std::lock_guard<std::mutex> lock(g.mu);
        if (!findObject(key)) return CKR_KEY_HANDLE_INVALID;
    }
    op.active = true;
    op.mechanism = m->mechanism;
    op.key = needsKey ? key : 0;
    op.digest.init();
    return CKR_OK;
}

// Checks of every operation step; *s receives the session.
CK_RV stepCheck(CK_SESSION_HANDLE h, OpKind kind, Session** s) {
    *s = findSession(h);
    if (!*s) return CKR_SESSION_HANDLE_INVALID;
    return (*s)->ops.op[kind].active ? CKR_OK : CKR_OPERATION_NOT_INITIALIZED;
}

// A step that failed other than by a short buffer ends its operation.
CK_RV fail(Session* s, OpKind kind, CK_RV rv) {
    s->ops.op[kind].active = false;
    return rv;
}

bool badInput(const void* p, CK_ULONG len) { return !p && len; }

// Single-part and final steps: the output ends the operation when delivered.
CK_RV finishing(const Call& c, Session* s, OpKind kind, const Bytes& out, CK_BYTE_PTR pOut,
                CK_ULONG_PTR pulOut) {
    if (!pulOut) return fail(s, kind, CKR_ARGUMENTS_BAD);
    bool done;
    CK_RV rv = answerBytes(c, out, pOut, pulOut, &done);
    if (done) s->ops.op[kind].active = false;
    return rv;
}

}  // namespace

#define MOCK_INIT_FN(Name, kind, needsKey)                                                     \
    MOCK_EXPORT CK_RV C_##Name(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,         \
                               CK_OBJECT_HANDLE hKey) {                                         \
        MOCK_ENTER(C_##Name, .num("session", hSession).mechanism("mechanism", pMechanism)       \
                                 .num("key", hKey));                                            \
        return startOp(hSession, pMechanism, hKey, kind, needsKey);                             \
    }

MOCK_INIT_FN(EncryptInit, OP_ENCRYPT, true)
MOCK_INIT_FN(DecryptInit, OP_DECRYPT, true)
MOCK_INIT_FN(SignInit, OP_SIGN, true)
MOCK_INIT_FN(SignRecoverInit, OP_SIGN_RECOVER, true)
MOCK_INIT_FN(VerifyInit, OP_VERIFY, true)
MOCK_INIT_FN(VerifyRecoverInit, OP_VERIFY_RECOVER, true)
#undef MOCK_INIT_FN

MOCK_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
    MOCK_ENTER(C_DigestInit, .num("session", hSession).mechanism("mechanism", pMechanism));
    return startOp(hSession, pMechanism, 0, OP_DIGEST, false);
}

// ---- single-part --------------------------------------------------------------------

MOCK_EXPORT CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                            CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen) {
    MOCK_ENTER(C_Encrypt,
               .num("session", hSession).bytes("data", pData, ulDataLen).num("dataLen", ulDataLen)
               .ptr("encryptedData", pEncryptedData).ulongIn("encryptedDataLen", pulEncryptedDataLen)
               .outBytes(pEncryptedData, pulEncryptedDataLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_ENCRYPT, &s)) return rv;
    if (badInput(pData, ulDataLen)) return fail(s, OP_ENCRYPT, CKR_ARGUMENTS_BAD);
    return finishing(c, s, OP_ENCRYPT, masked(pData, ulDataLen, kCipherMask), pEncryptedData,
                     pulEncryptedDataLen);
}

MOCK_EXPORT CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData,
                            CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
    MOCK_ENTER(C_Decrypt,
               .num("session", hSession).bytes("encryptedData", pEncryptedData, ulEncryptedDataLen)
               .num("encryptedDataLen", ulEncryptedDataLen).ptr("data", pData).ulongIn("dataLen", pulDataLen)
               .outBytes(pData, pulDataLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_DECRYPT, &s)) return rv;
    if (badInput(pEncryptedData, ulEncryptedDataLen)) return fail(s, OP_DECRYPT, CKR_ARGUMENTS_BAD);
    return finishing(c, s, OP_DECRYPT, masked(pEncryptedData, ulEncryptedDataLen, kCipherMask),
                     pData, pulDataLen);
}

MOCK_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                           CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
    MOCK_ENTER(C_Digest,
               .num("session", hSession).bytes("data", pData, ulDataLen).num("dataLen", ulDataLen)
               .ptr("digest", pDigest).ulongIn("digestLen", pulDigestLen)
               .outBytes(pDigest, pulDigestLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_DIGEST, &s)) return rv;
    if (badInput(pData, ulDataLen)) return fail(s, OP_DIGEST, CKR_ARGUMENTS_BAD);
    Digest d = s->ops.op[OP_DIGEST].digest;
    if (ulDataLen) d.update(pData, ulDataLen);
    return finishing(c, s, OP_DIGEST, digestBytes(d), pDigest, pulDigestLen);
}

MOCK_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                         CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    MOCK_ENTER(C_Sign,
               .num("session", hSession).bytes("data", pData, ulDataLen).num("dataLen", ulDataLen)
               .ptr("signature", pSignature).ulongIn("signatureLen", pulSignatureLen)
               .outBytes(pSignature, pulSignatureLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_SIGN, &s)) return rv;
    if (badInput(pData, ulDataLen)) return fail(s, OP_SIGN, CKR_ARGUMENTS_BAD);
    return finishing(c, s, OP_SIGN, signatureOf(s->ops.op[OP_SIGN].digest, pData, ulDataLen),
                     pSignature, pulSignatureLen);
}

MOCK_EXPORT CK_RV C_SignRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                                CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    MOCK_ENTER(C_SignRecover,
               .num("session", hSession).bytes("data", pData, ulDataLen).num("dataLen", ulDataLen)
               .ptr("signature", pSignature).ulongIn("signatureLen", pulSignatureLen)
               .outBytes(pSignature, pulSignatureLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_SIGN_RECOVER, &s)) return rv;
    if (badInput(pData, ulDataLen)) return fail(s, OP_SIGN_RECOVER, CKR_ARGUMENTS_BAD);
    return finishing(c, s, OP_SIGN_RECOVER, masked(pData, ulDataLen, kRecoverMask), pSignature,
                     pulSignatureLen);
}

MOCK_EXPORT CK_RV C_VerifyRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                                  CK_ULONG ulSignatureLen, CK_BYTE_PTR pData,
                                  CK_ULONG_PTR pulDataLen) {
    MOCK_ENTER(C_VerifyRecover,
               .num("session", hSession).bytes("signature", pSignature, ulSignatureLen)
               .num("signatureLen", ulSignatureLen).ptr("data", pData).ulongIn("dataLen", pulDataLen)
               .outBytes(pData, pulDataLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_VERIFY_RECOVER, &s)) return rv;
    if (badInput(pSignature, ulSignatureLen)) return fail(s, OP_VERIFY_RECOVER, CKR_ARGUMENTS_BAD);
    return finishing(c, s, OP_VERIFY_RECOVER, masked(pSignature, ulSignatureLen, kRecoverMask),
                     pData, pulDataLen);
}

MOCK_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                           CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    MOCK_ENTER(C_Verify,
               .num("session", hSession).bytes("data", pData, ulDataLen).num("dataLen", ulDataLen)
               .bytes("signature", pSignature, ulSignatureLen).num("signatureLen", ulSignatureLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_VERIFY, &s)) return rv;
    if (badInput(pData, ulDataLen) || badInput(pSignature, ulSignatureLen))
        return fail(s, OP_VERIFY, CKR_ARGUMENTS_BAD);
    Bytes expected = signatureOf(s->ops.op[OP_VERIFY].digest, pData, ulDataLen);
    s->ops.op[OP_VERIFY].active = false;
    if (ulSignatureLen != expected.size()) return CKR_SIGNATURE_LEN_RANGE;
    return std::memcmp(expected.data(), pSignature, ulSignatureLen) == 0 ? CKR_OK
                                                                          : CKR_SIGNATURE_INVALID;
}

// ---- multi-part ---------------------------------------------------------------------

namespace {

// An update with output: the side effect happens only when the output was delivered.
template <typename SideEffect>
CK_RV updating(const Call& c, Session* s, OpKind kind, const Bytes& out, CK_BYTE_PTR pOut,
               CK_ULONG_PTR pulOut, SideEffect effect) {
    if (!pulOut) return fail(s, kind, CKR_ARGUMENTS_BAD);
    bool done;
    CK_RV rv = answerBytes(c, out, pOut, pulOut, &done);
    if (done) effect();
    return rv;
}

// Dual-function updates need both of their operations.
CK_RV dualCheck(CK_SESSION_HANDLE h, OpKind first, OpKind second, Session** s) {
    if (CK_RV rv = stepCheck(h, first, s)) return rv;
    return (*s)->ops.op[second].active ? CKR_OK : CKR_OPERATION_NOT_INITIALIZED;
}

}  // namespace

MOCK_EXPORT CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                  CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen) {
    MOCK_ENTER(C_EncryptUpdate,
               .num("session", hSession).bytes("part", pPart, ulPartLen).num("partLen", ulPartLen)
               .ptr("encryptedPart", pEncryptedPart).ulongIn("encryptedPartLen", pulEncryptedPartLen)
               .outBytes(pEncryptedPart, pulEncryptedPartLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_ENCRYPT, &s)) return rv;
    if (badInput(pPart, ulPartLen)) return fail(s, OP_ENCRYPT, CKR_ARGUMENTS_BAD);
    return updating(c, s, OP_ENCRYPT, masked(pPart, ulPartLen, kCipherMask), pEncryptedPart,
                    pulEncryptedPartLen, [] {});
}

MOCK_EXPORT CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart,
                                 CK_ULONG_PTR pulLastEncryptedPartLen) {
    MOCK_ENTER(C_EncryptFinal,
               .num("session", hSession).ptr("lastEncryptedPart", pLastEncryptedPart)
               .ulongIn("lastEncryptedPartLen", pulLastEncryptedPartLen)
               .outBytes(pLastEncryptedPart, pulLastEncryptedPartLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_ENCRYPT, &s)) return rv;
    return finishing(c, s, OP_ENCRYPT, Bytes(), pLastEncryptedPart, pulLastEncryptedPartLen);
}

MOCK_EXPORT CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                  CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart,
                                  CK_ULONG_PTR pulPartLen) {
    MOCK_ENTER(C_DecryptUpdate,
               .num("session", hSession).bytes("encryptedPart", pEncryptedPart, ulEncryptedPartLen)
               .num("encryptedPartLen", ulEncryptedPartLen).ptr("part", pPart).ulongIn("partLen", pulPartLen)
               .outBytes(pPart, pulPartLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_DECRYPT, &s)) return rv;
    if (badInput(pEncryptedPart, ulEncryptedPartLen)) return fail(s, OP_DECRYPT, CKR_ARGUMENTS_BAD);
    return updating(c, s, OP_DECRYPT, masked(pEncryptedPart, ulEncryptedPartLen, kCipherMask),
                    pPart, pulPartLen, [] {});
}

MOCK_EXPORT CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart,
                                 CK_ULONG_PTR pulLastPartLen) {
    MOCK_ENTER(C_DecryptFinal,
               .num("session", hSession).ptr("lastPart", pLastPart).ulongIn("lastPartLen", pulLastPartLen)
               .outBytes(pLastPart, pulLastPartLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_DECRYPT, &s)) return rv;
    return finishing(c, s, OP_DECRYPT, Bytes(), pLastPart, pulLastPartLen);
}

MOCK_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    MOCK_ENTER(C_DigestUpdate,
               .num("session", hSession).bytes("part", pPart, ulPartLen).num("partLen", ulPartLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_DIGEST, &s)) return rv;
    if (badInput(pPart, ulPartLen)) return fail(s, OP_DIGEST, CKR_ARGUMENTS_BAD);
    if (ulPartLen) s->ops.op[OP_DIGEST].digest.update(pPart, ulPartLen);
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey) {
    MOCK_ENTER(C_DigestKey, .num("session", hSession).num("key", hKey));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_DIGEST, &s)) return rv;
    std::lock_guard<std::mutex> lock(g.mu);
    const Object* key = findObject(hKey);
    if (!key) return fail(s, OP_DIGEST, CKR_KEY_HANDLE_INVALID);
    const Attr* value = key->find(CKA_VALUE);
    if (!value) return fail(s, OP_DIGEST, CKR_KEY_INDIGESTIBLE);
    s->ops.op[OP_DIGEST].digest.update(value->value.data(), value->value.size());
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest,
                                CK_ULONG_PTR pulDigestLen) {
    MOCK_ENTER(C_DigestFinal,
               .num("session", hSession).ptr("digest", pDigest).ulongIn("digestLen", pulDigestLen)
               .outBytes(pDigest, pulDigestLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_DIGEST, &s)) return rv;
    return finishing(c, s, OP_DIGEST, digestBytes(s->ops.op[OP_DIGEST].digest), pDigest,
                     pulDigestLen);
}

MOCK_EXPORT CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    MOCK_ENTER(C_SignUpdate,
               .num("session", hSession).bytes("part", pPart, ulPartLen).num("partLen", ulPartLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_SIGN, &s)) return rv;
    if (badInput(pPart, ulPartLen)) return fail(s, OP_SIGN, CKR_ARGUMENTS_BAD);
    if (ulPartLen) s->ops.op[OP_SIGN].digest.update(pPart, ulPartLen);
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                              CK_ULONG_PTR pulSignatureLen) {
    MOCK_ENTER(C_SignFinal,
               .num("session", hSession).ptr("signature", pSignature).ulongIn("signatureLen", pulSignatureLen)
               .outBytes(pSignature, pulSignatureLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_SIGN, &s)) return rv;
    return finishing(c, s, OP_SIGN, signatureOf(s->ops.op[OP_SIGN].digest, nullptr, 0), pSignature,
                     pulSignatureLen);
}

MOCK_EXPORT CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    MOCK_ENTER(C_VerifyUpdate,
               .num("session", hSession).bytes("part", pPart, ulPartLen).num("partLen", ulPartLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_VERIFY, &s)) return rv;
    if (badInput(pPart, ulPartLen)) return fail(s, OP_VERIFY, CKR_ARGUMENTS_BAD);
    if (ulPartLen) s->ops.op[OP_VERIFY].digest.update(pPart, ulPartLen);
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                                CK_ULONG ulSignatureLen) {
    MOCK_ENTER(C_VerifyFinal,
               .num("session", hSession).bytes("signature", pSignature, ulSignatureLen)
               .num("signatureLen", ulSignatureLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_VERIFY, &s)) return rv;
    if (badInput(pSignature, ulSignatureLen)) return fail(s, OP_VERIFY, CKR_ARGUMENTS_BAD);
    Bytes expected = signatureOf(s->ops.op[OP_VERIFY].digest, nullptr, 0);
    s->ops.op[OP_VERIFY].active = false;
    if (ulSignatureLen != expected.size()) return CKR_SIGNATURE_LEN_RANGE;
    return std::memcmp(expected.data(), pSignature, ulSignatureLen) == 0 ? CKR_OK
                                                                          : CKR_SIGNATURE_INVALID;
}

MOCK_EXPORT CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,
                                        CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                                        CK_ULONG_PTR pulEncryptedPartLen) {
    MOCK_ENTER(C_DigestEncryptUpdate,
               .num("session", hSession).bytes("part", pPart, ulPartLen).num("partLen", ulPartLen)
               .ptr("encryptedPart", pEncryptedPart).ulongIn("encryptedPartLen", pulEncryptedPartLen)
               .outBytes(pEncryptedPart, pulEncryptedPartLen));
    Session* s;
    if (CK_RV rv = dualCheck(hSession, OP_DIGEST, OP_ENCRYPT, &s)) return rv;
    if (badInput(pPart, ulPartLen)) return CKR_ARGUMENTS_BAD;
    return updating(c, s, OP_ENCRYPT, masked(pPart, ulPartLen, kCipherMask), pEncryptedPart,
                    pulEncryptedPartLen, [&] {
                        if (ulPartLen) s->ops.op[OP_DIGEST].digest.update(pPart, ulPartLen);
                    });
}

MOCK_EXPORT CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                        CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart,
                                        CK_ULONG_PTR pulPartLen) {
    MOCK_ENTER(C_DecryptDigestUpdate,
               .num("session", hSession).bytes("encryptedPart", pEncryptedPart, ulEncryptedPartLen)
               .num("encryptedPartLen", ulEncryptedPartLen).ptr("part", pPart).ulongIn("partLen", pulPartLen)
               .outBytes(pPart, pulPartLen));
    Session* s;
    if (CK_RV rv = dualCheck(hSession, OP_DECRYPT, OP_DIGEST, &s)) return rv;
    if (badInput(pEncryptedPart, ulEncryptedPartLen)) return CKR_ARGUMENTS_BAD;
    Bytes plain = masked(pEncryptedPart, ulEncryptedPartLen, kCipherMask);
    return updating(c, s, OP_DECRYPT, plain, pPart, pulPartLen, [&] {
        s->ops.op[OP_DIGEST].digest.update(plain.data(), plain.size());
    });
}

MOCK_EXPORT CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,
                                      CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                                      CK_ULONG_PTR pulEncryptedPartLen) {
    MOCK_ENTER(C_SignEncryptUpdate,
               .num("session", hSession).bytes("part", pPart, ulPartLen).num("partLen", ulPartLen)
               .ptr("encryptedPart", pEncryptedPart).ulongIn("encryptedPartLen", pulEncryptedPartLen)
               .outBytes(pEncryptedPart, pulEncryptedPartLen));
    Session* s;
    if (CK_RV rv = dualCheck(hSession, OP_SIGN, OP_ENCRYPT, &s)) return rv;
    if (badInput(pPart, ulPartLen)) return CKR_ARGUMENTS_BAD;
    return updating(c, s, OP_ENCRYPT, masked(pPart, ulPartLen, kCipherMask), pEncryptedPart,
                    pulEncryptedPartLen, [&] {
                        if (ulPartLen) s->ops.op[OP_SIGN].digest.update(pPart, ulPartLen);
                    });
}

MOCK_EXPORT CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                        CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart,
                                        CK_ULONG_PTR pulPartLen) {
    MOCK_ENTER(C_DecryptVerifyUpdate,
               .num("session", hSession).bytes("encryptedPart", pEncryptedPart, ulEncryptedPartLen)
               .num("encryptedPartLen", ulEncryptedPartLen).ptr("part", pPart).ulongIn("partLen", pulPartLen)
               .outBytes(pPart, pulPartLen));
    Session* s;
    if (CK_RV rv = dualCheck(hSession, OP_DECRYPT, OP_VERIFY, &s)) return rv;
    if (badInput(pEncryptedPart, ulEncryptedPartLen)) return CKR_ARGUMENTS_BAD;
    Bytes plain = masked(pEncryptedPart, ulEncryptedPartLen, kCipherMask);
    return updating(c, s, OP_DECRYPT, plain, pPart, pulPartLen, [&] {
        s->ops.op[OP_VERIFY].digest.update(plain.data(), plain.size());
    });
}

// ---- random and operation state -----------------------------------------------------

MOCK_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen) {
    MOCK_ENTER(C_SeedRandom,
               .num("session", hSession).bytes("seed", pSeed, ulSeedLen).num("seedLen", ulSeedLen));
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (badInput(pSeed, ulSeedLen)) return CKR_ARGUMENTS_BAD;
    uint8_t sum = 0;
    for (CK_ULONG i = 0; i < ulSeedLen; ++i) sum = static_cast<uint8_t>(sum + pSeed[i]);
    s->random = sum;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData,
                                   CK_ULONG ulRandomLen) {
    MOCK_ENTER(C_GenerateRandom,
               .num("session", hSession).ptr("randomData", RandomData).num("randomLen", ulRandomLen)
               .outFill(RandomData, ulRandomLen));
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (badInput(RandomData, ulRandomLen)) return CKR_ARGUMENTS_BAD;
    answerRandom(c, *s, RandomData, ulRandomLen);
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                      CK_ULONG_PTR pulOperationStateLen) {
    MOCK_ENTER(C_GetOperationState,
               .num("session", hSession).ptr("operationState", pOperationState)
               .ulongIn("operationStateLen", pulOperationStateLen)
               .outBytes(pOperationState, pulOperationStateLen));
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!pulOperationStateLen) return CKR_ARGUMENTS_BAD;
    Bytes state(sizeof kStateMagic + sizeof(OpState));
    std::memcpy(state.data(), kStateMagic, sizeof kStateMagic);
    std::memcpy(state.data() + sizeof kStateMagic, &s->ops, sizeof(OpState));
    bool done;
    return answerBytes(c, state, pOperationState, pulOperationStateLen, &done);
}

MOCK_EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                      CK_ULONG ulOperationStateLen,
                                      CK_OBJECT_HANDLE hEncryptionKey,
                                      CK_OBJECT_HANDLE hAuthenticationKey) {
    MOCK_ENTER(C_SetOperationState,
               .num("session", hSession).bytes("operationState", pOperationState, ulOperationStateLen)
               .num("operationStateLen", ulOperationStateLen).num("encryptionKey", hEncryptionKey)
               .num("authenticationKey", hAuthenticationKey));
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (badInput(pOperationState, ulOperationStateLen)) return CKR_ARGUMENTS_BAD;
    if (ulOperationStateLen != sizeof kStateMagic + sizeof(OpState) ||
        std::memcmp(pOperationState, kStateMagic, sizeof kStateMagic) != 0)
        return CKR_SAVED_STATE_INVALID;
    {
        std::lock_guard<std::mutex> lock(g.mu);
        if ((hEncryptionKey && !findObject(hEncryptionKey)) ||
            (hAuthenticationKey && !findObject(hAuthenticationKey)))
            return CKR_KEY_HANDLE_INVALID;
    }
    std::memcpy(&s->ops, pOperationState + sizeof kStateMagic, sizeof(OpState));
    return CKR_OK;
}
