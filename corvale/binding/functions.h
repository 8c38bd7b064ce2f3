// The 68 entries of a PKCS#11 v2.x function table, in table order. One list
// feeds the symbol lookup, the completeness check and the messages.
#pragma once

#include <cstddef>

#include "corvale/common/cryptoki.h"

// X(name, role): role is REQUIRED (the process ends when it is missing),
// LIST (C_GetFunctionList: never looked up by name, never checked) or
// OPTIONAL (C_WaitForSlotEvent: reported to Java, loading goes on).
#define CORVALE_FUNCTIONS(X) \
    X(C_Initialize, REQUIRED) \
    X(C_Finalize, REQUIRED) \
    X(C_GetInfo, REQUIRED) \
    X(C_GetFunctionList, LIST) \
    X(C_GetSlotList, REQUIRED) \
    X(C_GetSlotInfo, REQUIRED) \
    X(C_GetTokenInfo, REQUIRED) \
    X(C_GetMechanismList, REQUIRED) \
    X(C_GetMechanismInfo, REQUIRED) \
    X(C_InitToken, REQUIRED) \
    X(C_InitPIN, REQUIRED) \
    X(C_SetPIN, REQUIRED) \
    X(C_OpenSession, REQUIRED) \
    X(C_CloseSession, REQUIRED) \
    X(C_CloseAllSessions, REQUIRED) \
    X(C_GetSessionInfo, REQUIRED) \
    X(C_GetOperationState, REQUIRED) \
    X(C_SetOperationState, REQUIRED) \
    X(C_Login, REQUIRED) \
    X(C_Logout, REQUIRED) \
    X(C_CreateObject, REQUIRED) \
    X(C_CopyObject, REQUIRED) \
    X(C_DestroyObject, REQUIRED) \
    X(C_GetObjectSize, REQUIRED) \
    X(C_GetAttributeValue, REQUIRED) \
    X(C_SetAttributeValue, REQUIRED) \
    X(C_FindObjectsInit, REQUIRED) \
    X(C_FindObjects, REQUIRED) \
    X(C_FindObjectsFinal, REQUIRED) \
    X(C_EncryptInit, REQUIRED) \
    X(C_Encrypt, REQUIRED) \
    X(C_EncryptUpdate, REQUIRED) \
    X(C_EncryptFinal, REQUIRED) \
    X(C_DecryptInit, REQUIRED) \
    X(C_Decrypt, REQUIRED) \
    X(C_DecryptUpdate, REQUIRED) \
    X(C_DecryptFinal, REQUIRED) \
    X(C_DigestInit, REQUIRED) \
    X(C_Digest, REQUIRED) \
    X(C_DigestUpdate, REQUIRED) \
    X(C_DigestKey, REQUIRED) \
    X(C_DigestFinal, REQUIRED) \
    X(C_SignInit, REQUIRED) \
    X(C_Sign, REQUIRED) \
    X(C_SignUpdate, REQUIRED) \
    X(C_SignFinal, REQUIRED) \
    X(C_SignRecoverInit, REQUIRED) \
    X(C_SignRecover, REQUIRED) \
    X(C_VerifyInit, REQUIRED) \
    X(C_Verify, REQUIRED) \
    X(C_VerifyUpdate, REQUIRED) \
    X(C_VerifyFinal, REQUIRED) \
    X(C_VerifyRecoverInit, REQUIRED) \
    X(C_VerifyRecover, REQUIRED) \
    X(C_DigestEncryptUpdate, REQUIRED) \
    X(C_DecryptDigestUpdate, REQUIRED) \
    X(C_SignEncryptUpdate, REQUIRED) \
    X(C_DecryptVerifyUpdate, REQUIRED) \
    X(C_GenerateKey, REQUIRED) \
    X(C_GenerateKeyPair, REQUIRED) \
    X(C_WrapKey, REQUIRED) \
    X(C_UnwrapKey, REQUIRED) \
    X(C_DeriveKey, REQUIRED) \
    X(C_SeedRandom, REQUIRED) \
    X(C_GenerateRandom, REQUIRED) \
    X(C_GetFunctionStatus, REQUIRED) \
    X(C_CancelFunction, REQUIRED) \
    X(C_WaitForSlotEvent, OPTIONAL)

namespace corvale::functions {

enum Index : size_t {
#define CORVALE_INDEX(name, role) name##_index,
    CORVALE_FUNCTIONS(CORVALE_INDEX)
#undef CORVALE_INDEX
    count
};
static_assert(count == 68, "a v2.x function table has 68 entries");

// The list above must match the header's table slot for slot.
#define CORVALE_PIN_OFFSET(name, role) \
    static_assert(offsetof(CK_FUNCTION_LIST, name) == \
                  offsetof(CK_FUNCTION_LIST, C_Initialize) + name##_index * sizeof(void*), \
                  #name " is out of table order");
CORVALE_FUNCTIONS(CORVALE_PIN_OFFSET)
#undef CORVALE_PIN_OFFSET
static_assert(sizeof(CK_FUNCTION_LIST) ==
              offsetof(CK_FUNCTION_LIST, C_Initialize) + count * sizeof(void*));

} // namespace corvale::functions
