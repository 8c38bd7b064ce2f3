// General-purpose, slot, token, PIN, session and login functions of the mock.
#include "mock_internal.h"

#include <dlfcn.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>

using namespace mock;

namespace {

constexpr CK_ULONG kMinPin = 4;
constexpr CK_ULONG kMaxPin = 32;
const char kManufacturer[] = "Mock Manufacturer";

CK_FUNCTION_LIST buildFullList();

const CK_FUNCTION_LIST kFullList = buildFullList();
CK_FUNCTION_LIST handedList;  // what C_GetFunctionList hands out (lock held)

// Function-pointer entries follow the version field without gaps (functions.h
// checks it), so that an entry can be cleared by its index.
constexpr size_t kFirstEntry = offsetof(CK_FUNCTION_LIST, C_Initialize);

bool pinEquals(const Bytes& pin, const CK_UTF8CHAR* p, CK_ULONG len) {
    return pin.size() == len && (len == 0 || std::memcmp(pin.data(), p, len) == 0);
}

CK_STATE sessionState(const Session& s) {
    bool rw = (s.flags & CKF_RW_SESSION) != 0;
    if (g.loggedIn == CKU_SO) return CKS_RW_SO_FUNCTIONS;
    if (g.loggedIn == CKU_USER) return rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    return rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
}

// Slot checks shared by the slot and token queries (lock held).
CK_RV tokenSlot(CK_SLOT_ID id) {
    const Slot* s = findSlot(id);
    if (!s) return CKR_SLOT_ID_INVALID;
    return s->present ? CKR_OK : CKR_TOKEN_NOT_PRESENT;
}

}  // namespace

// The module a chained mock loaded, through its own list, as pkcs11-spy
// calls SoftHSM2; null when not chained. Unlocked: the call may come back.
static CK_FUNCTION_LIST* chained() {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(g.mu);
        name = g.chainTo;
    }
    void* inner = name.empty() ? nullptr : dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto getList = inner ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(inner, "C_GetFunctionList")) : nullptr;
    CK_FUNCTION_LIST* list = nullptr;
    return getList && getList(&list) == CKR_OK ? list : nullptr;
}

MOCK_EXPORT CK_RV C_Initialize(CK_VOID_PTR pInitArgs) {
    MOCK_ENTER_ANY(C_Initialize, .initArgs("initArgs", pInitArgs));
    if (CK_FUNCTION_LIST* inner = chained()) {
        if (CK_RV rv = inner->C_Initialize(pInitArgs)) return rv;
    }
    std::lock_guard<std::mutex> lock(g.mu);
    if (g.initialized.load()) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    if (pInitArgs) {
        const CK_C_INITIALIZE_ARGS* a = static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs);
        int set = (a->CreateMutex != nullptr) + (a->DestroyMutex != nullptr) +
                  (a->LockMutex != nullptr) + (a->UnlockMutex != nullptr);
        if (set != 0 && set != 4) return CKR_ARGUMENTS_BAD;
        if (g.cannotLock.load() && (set || (a->flags & CKF_OS_LOCKING_OK))) return CKR_CANT_LOCK;
    }
    g.initialized.store(true);
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_Finalize(CK_VOID_PTR pReserved) {
    MOCK_ENTER(C_Finalize, .ptr("reserved", pReserved));
    if (pReserved) return CKR_ARGUMENTS_BAD;
    if (CK_FUNCTION_LIST* inner = chained()) inner->C_Finalize(nullptr);
    std::lock_guard<std::mutex> lock(g.mu);
    for (Session& s : g.sessions)
        if (s.handle.load()) closeSessionLocked(s);
    g.loggedIn = kNobody;
    g.initialized.store(false);
    g.events.notify_all();
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo) {
    MOCK_ENTER(C_GetInfo, .ptr("info", pInfo).outStruct(pInfo, sizeof *pInfo));
    if (!pInfo) return CKR_ARGUMENTS_BAD;
    CK_INFO info;
    std::memset(&info, 0, sizeof info);
    info.cryptokiVersion = CK_VERSION{2, 40};
    padText(info.manufacturerID, sizeof info.manufacturerID, kManufacturer);
    info.flags = 0;
    padText(info.libraryDescription, sizeof info.libraryDescription, "Mock PKCS#11 Module");
    info.libraryVersion = CK_VERSION{1, 0};
    std::lock_guard<std::mutex> lock(g.mu);
    answerStruct(S_INFO, &info);
    *pInfo = info;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    MOCK_ENTER_ANY(C_GetFunctionList, .ptr("functionList", ppFunctionList));
    if (!ppFunctionList) return CKR_ARGUMENTS_BAD;
    std::lock_guard<std::mutex> lock(g.mu);
    if (g.listNull) {
        *ppFunctionList = nullptr;
        return CKR_OK;
    }
    handedList = kFullList;
    unsigned char* base = reinterpret_cast<unsigned char*>(&handedList) + kFirstEntry;
    for (int i = 0; i < F_Count; ++i)
        if (g.nullEntry[i]) std::memset(base + i * sizeof(CK_C_Initialize), 0, sizeof(CK_C_Initialize));
    *ppFunctionList = &handedList;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList,
                                CK_ULONG_PTR pulCount) {
    MOCK_ENTER(C_GetSlotList,
               .num("tokenPresent", tokenPresent).ptr("slotList", pSlotList).ulongIn("count", pulCount)
               .outList(pSlotList, pulCount));
    if (!pulCount) return CKR_ARGUMENTS_BAD;
    std::lock_guard<std::mutex> lock(g.mu);
    std::vector<CK_ULONG> ids;
    for (const Slot& s : g.slots)
        if (!tokenPresent || s.present) ids.push_back(s.id);
    bool query;
    CK_RV rv = answerList(c, ids, pSlotList, pulCount, &query);
    if (query) {
        CK_SLOT_ID next = 1;
        for (const Slot& s : g.slots)
            if (s.id >= next) next = s.id + 1;
        for (unsigned long i = 0; i < c.grow(); ++i) g.slots.push_back(Slot{next++, true});
    }
    return rv;
}

MOCK_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    MOCK_ENTER(C_GetSlotInfo,
               .num("slotID", slotID).ptr("info", pInfo)
               .outStruct(pInfo, sizeof *pInfo));
    if (!pInfo) return CKR_ARGUMENTS_BAD;
    std::lock_guard<std::mutex> lock(g.mu);
    const Slot* slot = findSlot(slotID);
    if (!slot) return CKR_SLOT_ID_INVALID;
    CK_SLOT_INFO info;
    std::memset(&info, 0, sizeof info);
    padText(info.slotDescription, sizeof info.slotDescription,
            ("Mock Slot " + std::to_string(slotID)).c_str());
    padText(info.manufacturerID, sizeof info.manufacturerID, kManufacturer);
    info.flags = CKF_REMOVABLE_DEVICE | (slot->present ? CKF_TOKEN_PRESENT : 0);
    info.hardwareVersion = CK_VERSION{1, 0};
    info.firmwareVersion = CK_VERSION{1, 0};
    answerStruct(S_SLOT, &info);
    *pInfo = info;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    MOCK_ENTER(C_GetTokenInfo,
               .num("slotID", slotID).ptr("info", pInfo)
               .outStruct(pInfo, sizeof *pInfo));
    if (!pInfo) return CKR_ARGUMENTS_BAD;
    std::lock_guard<std::mutex> lock(g.mu);
    if (CK_RV rv = tokenSlot(slotID)) return rv;
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    std::memcpy(info.label, g.label, sizeof info.label);
    padText(info.manufacturerID, sizeof info.manufacturerID, kManufacturer);
    padText(info.model, sizeof info.model, "Mock Model");
    padText(info.serialNumber, sizeof info.serialNumber, "MOCK0001");
    info.flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_CLOCK_ON_TOKEN | CKF_TOKEN_INITIALIZED |
                 (g.userPinSet ? CKF_USER_PIN_INITIALIZED : 0);
    info.ulMaxSessionCount = kMaxSessions;
    info.ulSessionCount = sessionCount(false);
    info.ulMaxRwSessionCount = kMaxSessions;
    info.ulRwSessionCount = sessionCount(true);
    info.ulMaxPinLen = kMaxPin;
    info.ulMinPinLen = kMinPin;
    info.ulTotalPublicMemory = 65536;
    info.ulFreePublicMemory = 32768;
    info.ulTotalPrivateMemory = 65536;
    info.ulFreePrivateMemory = 32768;
    info.hardwareVersion = CK_VERSION{1, 0};
    info.firmwareVersion = CK_VERSION{1, 0};
    std::memcpy(info.utcTime, "2026120812000000", sizeof info.utcTime);
    answerStruct(S_TOKEN, &info);
    *pInfo = info;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList,
                                     CK_ULONG_PTR pulCount) {
    MOCK_ENTER(C_GetMechanismList,
               .num("slotID", slotID).ptr("mechanismList", pMechanismList).ulongIn("count", pulCount)
               .outList(pMechanismList, pulCount));
    if (!pulCount) return CKR_ARGUMENTS_BAD;
    std::lock_guard<std::mutex> lock(g.mu);
    if (CK_RV rv = tokenSlot(slotID)) return rv;
    std::vector<CK_ULONG> types;
    for (const Mechanism& m : g.mechanisms) types.push_back(m.type);
    bool query;
    CK_RV rv = answerList(c, types, pMechanismList, pulCount, &query);
    if (query) {
        for (unsigned long i = 0; i < c.grow(); ++i) {
            CK_MECHANISM_TYPE type = CKM_VENDOR_DEFINED + g.mechanisms.size();
            g.mechanisms.push_back(Mechanism{type, CK_MECHANISM_INFO{0, 0, 0}});
        }
    }
    return rv;
}

MOCK_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type,
                                     CK_MECHANISM_INFO_PTR pInfo) {
    MOCK_ENTER(C_GetMechanismInfo,
               .num("slotID", slotID).num("type", type).ptr("info", pInfo)
               .outStruct(pInfo, sizeof *pInfo));
    if (!pInfo) return CKR_ARGUMENTS_BAD;
    std::lock_guard<std::mutex> lock(g.mu);
    if (CK_RV rv = tokenSlot(slotID)) return rv;
    for (const Mechanism& m : g.mechanisms) {
        if (m.type == type) {
            CK_MECHANISM_INFO info = m.info;
            answerStruct(S_MECHANISM, &info);
            *pInfo = info;
            return CKR_OK;
        }
    }
    return CKR_MECHANISM_INVALID;
}

MOCK_EXPORT CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen,
                              CK_UTF8CHAR_PTR pLabel) {
    MOCK_ENTER(C_InitToken,
               .num("slotID", slotID).bytes("pin", pPin, ulPinLen).num("pinLen", ulPinLen)
               .bytes("label", pLabel, 32));
    std::lock_guard<std::mutex> lock(g.mu);
    if (CK_RV rv = tokenSlot(slotID)) return rv;
    if (!pPin || !pLabel) return CKR_ARGUMENTS_BAD;
    if (sessionCount(false)) return CKR_SESSION_EXISTS;
    if (!pinEquals(g.soPin, pPin, ulPinLen)) return CKR_PIN_INCORRECT;
    std::memcpy(g.label, pLabel, sizeof g.label);
    g.userPin.clear();
    g.userPinSet = false;
    g.loggedIn = kNobody;
    g.objects.clear();
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    MOCK_ENTER(C_InitPIN,
               .num("session", hSession).bytes("pin", pPin, ulPinLen).num("pinLen", ulPinLen));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (g.loggedIn != CKU_SO) return CKR_USER_NOT_LOGGED_IN;
    if (!(s->flags & CKF_RW_SESSION)) return CKR_SESSION_READ_ONLY;
    if (!pPin) return CKR_ARGUMENTS_BAD;
    if (ulPinLen < kMinPin || ulPinLen > kMaxPin) return CKR_PIN_LEN_RANGE;
    g.userPin = toBytes(pPin, ulPinLen);
    g.userPinSet = true;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
                           CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen) {
    MOCK_ENTER(C_SetPIN,
               .num("session", hSession).bytes("oldPin", pOldPin, ulOldLen).num("oldLen", ulOldLen)
               .bytes("newPin", pNewPin, ulNewLen).num("newLen", ulNewLen));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!(s->flags & CKF_RW_SESSION)) return CKR_SESSION_READ_ONLY;
    if (!pOldPin || !pNewPin) return CKR_ARGUMENTS_BAD;
    bool so = g.loggedIn == CKU_SO;
    if (!so && !g.userPinSet) return CKR_USER_PIN_NOT_INITIALIZED;
    Bytes& pin = so ? g.soPin : g.userPin;
    if (!pinEquals(pin, pOldPin, ulOldLen)) return CKR_PIN_INCORRECT;
    if (ulNewLen < kMinPin || ulNewLen > kMaxPin) return CKR_PIN_LEN_RANGE;
    pin = toBytes(pNewPin, ulNewLen);
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication,
                                CK_NOTIFY Notify, CK_SESSION_HANDLE_PTR phSession) {
    MOCK_ENTER(C_OpenSession,
               .num("slotID", slotID).num("flags", flags).ptr("application", pApplication)
               .ptr("notify", reinterpret_cast<const void*>(Notify)).ptr("session", phSession)
               .outUlong(phSession));
    std::lock_guard<std::mutex> lock(g.mu);
    if (CK_RV rv = tokenSlot(slotID)) return rv;
    if (!(flags & CKF_SERIAL_SESSION)) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (!phSession) return CKR_ARGUMENTS_BAD;
    if (g.loggedIn == CKU_SO && !(flags & CKF_RW_SESSION)) return CKR_SESSION_READ_WRITE_SO_EXISTS;
    for (size_t tries = 0; tries < 2 * kMaxSessions; ++tries) {
        CK_SESSION_HANDLE h = g.nextSession++;
        if (h == 0) continue;
        Session& s = g.sessions[h % kMaxSessions];
        if (s.handle.load()) continue;
        s.clear(slotID, flags, Notify, pApplication);
        s.handle.store(h, std::memory_order_release);
        *phSession = h;
        return CKR_OK;
    }
    return CKR_SESSION_COUNT;
}

MOCK_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
    MOCK_ENTER(C_CloseSession, .num("session", hSession));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    closeSessionLocked(*s);
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
    MOCK_ENTER(C_CloseAllSessions, .num("slotID", slotID));
    std::lock_guard<std::mutex> lock(g.mu);
    if (!findSlot(slotID)) return CKR_SLOT_ID_INVALID;
    for (Session& s : g.sessions)
        if (s.handle.load() && s.slot == slotID) closeSessionLocked(s);
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    MOCK_ENTER(C_GetSessionInfo,
               .num("session", hSession).ptr("info", pInfo)
               .outStruct(pInfo, sizeof *pInfo));
    std::lock_guard<std::mutex> lock(g.mu);
    Session* s = findSession(hSession);
    if (!s) return CKR_SESSION_HANDLE_INVALID;
    if (!pInfo) return CKR_ARGUMENTS_BAD;
    CK_SESSION_INFO info;
    std::memset(&info, 0, sizeof info);
    info.slotID = s->slot;
    info.state = sessionState(*s);
    info.flags = s->flags;
    info.ulDeviceError = 0;
    answerStruct(S_SESSION, &info);
    *pInfo = info;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin,
                          CK_ULONG ulPinLen) {
    MOCK_ENTER(C_Login,
               .num("session", hSession).num("userType", userType).bytes("pin", pPin, ulPinLen)
               .num("pinLen", ulPinLen).secret(pPin, ulPinLen));
    std::lock_guard<std::mutex> lock(g.mu);
    if (!findSession(hSession)) return CKR_SESSION_HANDLE_INVALID;
    if (userType != CKU_SO && userType != CKU_USER && userType != CKU_CONTEXT_SPECIFIC)
        return CKR_USER_TYPE_INVALID;
    if (!pPin) return CKR_ARGUMENTS_BAD;
    if (userType == CKU_CONTEXT_SPECIFIC) {
        if (g.loggedIn != CKU_USER) return CKR_USER_NOT_LOGGED_IN;
        return pinEquals(g.userPin, pPin, ulPinLen) ? CKR_OK : CKR_PIN_INCORRECT;
    }
    if (g.loggedIn == userType) return CKR_USER_ALREADY_LOGGED_IN;
    if (g.loggedIn != kNobody) return CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
    if (userType == CKU_SO) {
        for (const Session& s : g.sessions)
            if (s.handle.load() && !(s.flags & CKF_RW_SESSION)) return CKR_SESSION_READ_ONLY_EXISTS;
        if (!pinEquals(g.soPin, pPin, ulPinLen)) return CKR_PIN_INCORRECT;
    } else {
        if (!g.userPinSet) return CKR_USER_PIN_NOT_INITIALIZED;
        if (!pinEquals(g.userPin, pPin, ulPinLen)) return CKR_PIN_INCORRECT;
    }
    g.loggedIn = userType;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE hSession) {
    MOCK_ENTER(C_Logout, .num("session", hSession));
    std::lock_guard<std::mutex> lock(g.mu);
    if (!findSession(hSession)) return CKR_SESSION_HANDLE_INVALID;
    if (g.loggedIn == kNobody) return CKR_USER_NOT_LOGGED_IN;
    g.loggedIn = kNobody;
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
    MOCK_ENTER(C_WaitForSlotEvent,
               .num("flags", flags).ptr("slot", pSlot).ptr("reserved", pReserved)
               .outUlong(pSlot));
    if (!pSlot || pReserved) return CKR_ARGUMENTS_BAD;
    std::unique_lock<std::mutex> lock(g.mu);
    unsigned long resets = g.resets;
    if (g.pendingEvents.empty()) {
        if (flags & CKF_DONT_BLOCK) return CKR_NO_EVENT;
        // A blocked test must end some time: give up after a minute.
        g.events.wait_for(lock, std::chrono::seconds(60), [resets] {
            return !g.pendingEvents.empty() || !g.initialized.load() || g.resets != resets;
        });
        if (!g.initialized.load() || g.resets != resets) return CKR_CRYPTOKI_NOT_INITIALIZED;
        if (g.pendingEvents.empty()) return CKR_FUNCTION_FAILED;
    }
    *pSlot = g.pendingEvents.front();
    g.pendingEvents.erase(g.pendingEvents.begin());
    return CKR_OK;
}

MOCK_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE hSession) {
    MOCK_ENTER(C_GetFunctionStatus, .num("session", hSession));
    if (!findSession(hSession)) return CKR_SESSION_HANDLE_INVALID;
    return CKR_FUNCTION_NOT_PARALLEL;
}

MOCK_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE hSession) {
    MOCK_ENTER(C_CancelFunction, .num("session", hSession));
    if (!findSession(hSession)) return CKR_SESSION_HANDLE_INVALID;
    return CKR_FUNCTION_NOT_PARALLEL;
}

namespace {
CK_FUNCTION_LIST buildFullList() {
    return CK_FUNCTION_LIST{
        CK_VERSION{2, 40},
#define MOCK_ENTRY(name, role) name,
        CORVALE_FUNCTIONS(MOCK_ENTRY)
#undef MOCK_ENTRY
    };
}
}  // namespace
