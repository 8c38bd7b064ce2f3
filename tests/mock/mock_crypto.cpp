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

// The digest with the data taken in, every byte XOR mask: a signature (0xFF)
// or the digest itself (0).
Bytes signatureOf(Digest d, const void* data, CK_ULONG len, uint8_t mask = 0xFF) {
    if (len) d.update(static_cast<const uint8_t*>(data), len);
    Bytes sig = digestBytes(d);
    for (uint8_t& b : sig) b ^= mask;
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

CK_RV updating(const Call& c, Session* s, OpKind kind, const Bytes& out, CK_BYTE_PTR pOut,
               CK_ULONG_PTR pulOut) {
    return updating(c, s, kind, out, pOut, pulOut, [] {});
}

// Dual-function updates need both of their operations.
CK_RV dualCheck(CK_SESSION_HANDLE h, OpKind first, OpKind second, Session** s) {
    if (CK_RV rv = stepCheck(h, first, s)) return rv;
    return (*s)->ops.op[second].active ? CKR_OK : CKR_OPERATION_NOT_INITIALIZED;
}

// The end of a verification: the signature must be the one expected.
CK_RV verified(Session* s, const Bytes& expected, const CK_BYTE* signature, CK_ULONG len) {
    s->ops.op[OP_VERIFY].active = false;
    if (len != expected.size()) return CKR_SIGNATURE_LEN_RANGE;
    return std::memcmp(expected.data(), signature, len) == 0 ? CKR_OK : CKR_SIGNATURE_INVALID;
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

// ---- the steps, by shape -------------------------------------------------------------

// (session, in, inLen, out, pulOutLen) of one operation: the output is result,
// made from pIn, ulInLen and the session s; step is finishing or updating.
// Plaintext is secret: going in (secretIn), or coming out.
#define MOCK_BYTES_FN(Name, in, out, kind, step, result, secretIn)                          \
    MOCK_EXPORT CK_RV C_##Name(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pIn, CK_ULONG ulInLen,   \
                               CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen) {                   \
        MOCK_ENTER(C_##Name, .num("session", hSession).bytes(in, pIn, ulInLen)                 \
                                 .num(in "Len", ulInLen).ptr(out, pOut)                       \
                                 .ulongIn(out "Len", pulOutLen).outBytes(pOut, pulOutLen)     \
                                 .secret(secretIn ? pIn : pOut,                                \
                                         secretIn ? ulInLen : pulOutLen && pOut ? *pulOutLen : 0)); \
        Session* s;                                                                           \
        if (CK_RV rv = stepCheck(hSession, kind, &s)) return rv;                              \
        if (badInput(pIn, ulInLen)) return fail(s, kind, CKR_ARGUMENTS_BAD);                  \
        return step(c, s, kind, result, pOut, pulOutLen);                                     \
    }

MOCK_BYTES_FN(Encrypt, "data", "encryptedData", OP_ENCRYPT, finishing, masked(pIn, ulInLen, kCipherMask), true)
MOCK_BYTES_FN(Decrypt, "encryptedData", "data", OP_DECRYPT, finishing, masked(pIn, ulInLen, kCipherMask), false)
MOCK_BYTES_FN(Digest, "data", "digest", OP_DIGEST, finishing,
              signatureOf(s->ops.op[OP_DIGEST].digest, pIn, ulInLen, 0), true)
MOCK_BYTES_FN(Sign, "data", "signature", OP_SIGN, finishing,
              signatureOf(s->ops.op[OP_SIGN].digest, pIn, ulInLen), true)
MOCK_BYTES_FN(SignRecover, "data", "signature", OP_SIGN_RECOVER, finishing,
              masked(pIn, ulInLen, kRecoverMask), true)
MOCK_BYTES_FN(VerifyRecover, "signature", "data", OP_VERIFY_RECOVER, finishing,
              masked(pIn, ulInLen, kRecoverMask), false)
MOCK_BYTES_FN(EncryptUpdate, "part", "encryptedPart", OP_ENCRYPT, updating,
              masked(pIn, ulInLen, kCipherMask), true)
MOCK_BYTES_FN(DecryptUpdate, "encryptedPart", "part", OP_DECRYPT, updating,
              masked(pIn, ulInLen, kCipherMask), false)
#undef MOCK_BYTES_FN

// (session, part, partLen): the part goes into the operation's digest.
#define MOCK_UPDATE_FN(Name, kind)                                                             \
    MOCK_EXPORT CK_RV C_##Name(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) { \
        MOCK_ENTER(C_##Name, .num("session", hSession).bytes("part", pPart, ulPartLen)           \
                                 .num("partLen", ulPartLen));                                   \
        Session* s;                                                                             \
        if (CK_RV rv = stepCheck(hSession, kind, &s)) return rv;                                \
        if (badInput(pPart, ulPartLen)) return fail(s, kind, CKR_ARGUMENTS_BAD);                \
        if (ulPartLen) s->ops.op[kind].digest.update(pPart, ulPartLen);                         \
        return CKR_OK;                                                                          \
    }

MOCK_UPDATE_FN(DigestUpdate, OP_DIGEST)
MOCK_UPDATE_FN(SignUpdate, OP_SIGN)
MOCK_UPDATE_FN(VerifyUpdate, OP_VERIFY)
#undef MOCK_UPDATE_FN

// (session, out, pulOutLen): the last output, made from the session s.
#define MOCK_FINAL_FN(Name, out, kind, result)                                                  \
    MOCK_EXPORT CK_RV C_##Name(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen) { \
        MOCK_ENTER(C_##Name, .num("session", hSession).ptr(out, pOut).ulongIn(out "Len", pulOutLen) \
                                 .outBytes(pOut, pulOutLen));                                    \
        Session* s;                                                                              \
        if (CK_RV rv = stepCheck(hSession, kind, &s)) return rv;                                 \
        return finishing(c, s, kind, result, pOut, pulOutLen);                                   \
    }

MOCK_FINAL_FN(EncryptFinal, "lastEncryptedPart", OP_ENCRYPT, Bytes())
MOCK_FINAL_FN(DecryptFinal, "lastPart", OP_DECRYPT, Bytes())
MOCK_FINAL_FN(DigestFinal, "digest", OP_DIGEST, signatureOf(s->ops.op[OP_DIGEST].digest, nullptr, 0, 0))
MOCK_FINAL_FN(SignFinal, "signature", OP_SIGN, signatureOf(s->ops.op[OP_SIGN].digest, nullptr, 0))
#undef MOCK_FINAL_FN

// Dual-function updates: the cipher operation's output, and the other
// operation's digest takes the plain text (the input when encrypting, the
// output when decrypting) once the output was delivered.
#define MOCK_DUAL_FN(Name, in, out, cipher, digester)                                            \
    MOCK_EXPORT CK_RV C_##Name(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pIn, CK_ULONG ulInLen,      \
                               CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen) {                      \
        MOCK_ENTER(C_##Name, .num("session", hSession).bytes(in, pIn, ulInLen)                    \
                                 .num(in "Len", ulInLen).ptr(out, pOut)                          \
                                 .ulongIn(out "Len", pulOutLen).outBytes(pOut, pulOutLen));      \
        Session* s;                                                                              \
        if (CK_RV rv = dualCheck(hSession, cipher, digester, &s)) return rv;                     \
        if (badInput(pIn, ulInLen)) return CKR_ARGUMENTS_BAD;                                    \
        Bytes output = masked(pIn, ulInLen, kCipherMask);                                        \
        Bytes plain = cipher == OP_ENCRYPT ? toBytes(pIn, ulInLen) : output;                     \
        return updating(c, s, cipher, output, pOut, pulOutLen, [&] {                             \
            s->ops.op[digester].digest.update(plain.data(), plain.size());                       \
        });                                                                                      \
    }

MOCK_DUAL_FN(DigestEncryptUpdate, "part", "encryptedPart", OP_ENCRYPT, OP_DIGEST)
MOCK_DUAL_FN(DecryptDigestUpdate, "encryptedPart", "part", OP_DECRYPT, OP_DIGEST)
MOCK_DUAL_FN(SignEncryptUpdate, "part", "encryptedPart", OP_ENCRYPT, OP_SIGN)
MOCK_DUAL_FN(DecryptVerifyUpdate, "encryptedPart", "part", OP_DECRYPT, OP_VERIFY)
#undef MOCK_DUAL_FN

MOCK_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                           CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    MOCK_ENTER(C_Verify,
               .num("session", hSession).bytes("data", pData, ulDataLen).num("dataLen", ulDataLen)
               .bytes("signature", pSignature, ulSignatureLen).num("signatureLen", ulSignatureLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_VERIFY, &s)) return rv;
    if (badInput(pData, ulDataLen) || badInput(pSignature, ulSignatureLen))
        return fail(s, OP_VERIFY, CKR_ARGUMENTS_BAD);
    return verified(s, signatureOf(s->ops.op[OP_VERIFY].digest, pData, ulDataLen), pSignature,
                    ulSignatureLen);
}

MOCK_EXPORT CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                                CK_ULONG ulSignatureLen) {
    MOCK_ENTER(C_VerifyFinal, .num("session", hSession).bytes("signature", pSignature, ulSignatureLen)
                                  .num("signatureLen", ulSignatureLen));
    Session* s;
    if (CK_RV rv = stepCheck(hSession, OP_VERIFY, &s)) return rv;
    if (badInput(pSignature, ulSignatureLen)) return fail(s, OP_VERIFY, CKR_ARGUMENTS_BAD);
    return verified(s, signatureOf(s->ops.op[OP_VERIFY].digest, nullptr, 0), pSignature, ulSignatureLen);
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
               .outFill(RandomData, ulRandomLen).secret(RandomData, ulRandomLen));
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
