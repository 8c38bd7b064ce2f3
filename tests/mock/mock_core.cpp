// State, recording, scripting and answer paths of the mock module, and the
// control API that libmockctl.so drives.
#include "mock_internal.h"

#include <dlfcn.h>

#include <iterator>
#include <cstddef>
#include <cstring>
#include <thread>

namespace mock {

const char* const kFunctionNames[F_Count] = {
#define MOCK_NAME(name, role) #name,
    CORVALE_FUNCTIONS(MOCK_NAME)
#undef MOCK_NAME
};

int functionIndex(const char* name) {
    if (!name) return -1;
    for (int i = 0; i < F_Count; ++i)
        if (std::strcmp(kFunctionNames[i], name) == 0) return i;
    return -1;
}

// Never destroyed: a wait still blocked at exit must not hold up the process.
State& g = *new State();

namespace {

// ---- settable structure fields ----------------------------------------------

struct Field {
    const char* name;
    StructKind kind;
    size_t offset;
    size_t size;
    bool text;
};

#define MOCK_TEXT(kind, prefix, T, m) {prefix #m, kind, offsetof(T, m), sizeof(T::m), true}
#define MOCK_NUM(kind, prefix, T, m) {prefix #m, kind, offsetof(T, m), sizeof(CK_ULONG), false}
#define MOCK_VERSION(kind, prefix, T, m)                                             \
    {prefix #m ".major", kind, offsetof(T, m) + offsetof(CK_VERSION, major), 1, false}, \
    {prefix #m ".minor", kind, offsetof(T, m) + offsetof(CK_VERSION, minor), 1, false}

const Field kFields[] = {
    MOCK_VERSION(S_INFO, "info.", CK_INFO, cryptokiVersion),
    MOCK_TEXT(S_INFO, "info.", CK_INFO, manufacturerID),
    MOCK_NUM(S_INFO, "info.", CK_INFO, flags),
    MOCK_TEXT(S_INFO, "info.", CK_INFO, libraryDescription),
    MOCK_VERSION(S_INFO, "info.", CK_INFO, libraryVersion),

    MOCK_TEXT(S_SLOT, "slot.", CK_SLOT_INFO, slotDescription),
    MOCK_TEXT(S_SLOT, "slot.", CK_SLOT_INFO, manufacturerID),
    MOCK_NUM(S_SLOT, "slot.", CK_SLOT_INFO, flags),
    MOCK_VERSION(S_SLOT, "slot.", CK_SLOT_INFO, hardwareVersion),
    MOCK_VERSION(S_SLOT, "slot.", CK_SLOT_INFO, firmwareVersion),

    MOCK_TEXT(S_TOKEN, "token.", CK_TOKEN_INFO, label),
    MOCK_TEXT(S_TOKEN, "token.", CK_TOKEN_INFO, manufacturerID),
    MOCK_TEXT(S_TOKEN, "token.", CK_TOKEN_INFO, model),
    MOCK_TEXT(S_TOKEN, "token.", CK_TOKEN_INFO, serialNumber),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, flags),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, ulMaxSessionCount),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, ulSessionCount),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, ulMaxRwSessionCount),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, ulRwSessionCount),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, ulMaxPinLen),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, ulMinPinLen),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, ulTotalPublicMemory),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, ulFreePublicMemory),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, ulTotalPrivateMemory),
    MOCK_NUM(S_TOKEN, "token.", CK_TOKEN_INFO, ulFreePrivateMemory),
    MOCK_VERSION(S_TOKEN, "token.", CK_TOKEN_INFO, hardwareVersion),
    MOCK_VERSION(S_TOKEN, "token.", CK_TOKEN_INFO, firmwareVersion),
    MOCK_TEXT(S_TOKEN, "token.", CK_TOKEN_INFO, utcTime),

    MOCK_NUM(S_SESSION, "session.", CK_SESSION_INFO, slotID),
    MOCK_NUM(S_SESSION, "session.", CK_SESSION_INFO, state),
    MOCK_NUM(S_SESSION, "session.", CK_SESSION_INFO, flags),
    MOCK_NUM(S_SESSION, "session.", CK_SESSION_INFO, ulDeviceError),

    MOCK_NUM(S_MECHANISM, "mechanism.", CK_MECHANISM_INFO, ulMinKeySize),
    MOCK_NUM(S_MECHANISM, "mechanism.", CK_MECHANISM_INFO, ulMaxKeySize),
    MOCK_NUM(S_MECHANISM, "mechanism.", CK_MECHANISM_INFO, flags),
};

#undef MOCK_TEXT
#undef MOCK_NUM
#undef MOCK_VERSION

constexpr int kFieldCount = static_cast<int>(sizeof(kFields) / sizeof(kFields[0]));

int fieldIndex(const char* name) {
    if (!name) return -1;
    for (int i = 0; i < kFieldCount; ++i)
        if (std::strcmp(kFields[i].name, name) == 0) return i;
    return -1;
}

// ---- defaults -----------------------------------------------------------------

const Mechanism kDefaultMechanisms[] = {
    {CKM_RSA_PKCS, {1024, 4096, CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_SIGN_RECOVER |
                                    CKF_VERIFY | CKF_VERIFY_RECOVER | CKF_WRAP | CKF_UNWRAP}},
    {CKM_SHA256, {0, 0, CKF_DIGEST}},
    {CKM_EC_KEY_PAIR_GEN, {256, 521, CKF_GENERATE_KEY_PAIR | CKF_EC_F_P | CKF_EC_NAMEDCURVE |
                                         CKF_EC_UNCOMPRESS}},
    {CKM_ECDSA, {256, 521, CKF_SIGN | CKF_VERIFY | CKF_EC_F_P | CKF_EC_NAMEDCURVE |
                               CKF_EC_UNCOMPRESS}},
    {CKM_AES_KEY_GEN, {16, 32, CKF_GENERATE}},
    {CKM_AES_CBC_PAD, {16, 32, CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP}},
};

CK_MECHANISM_INFO defaultMechanismInfo(CK_MECHANISM_TYPE type) {
    for (const Mechanism& m : kDefaultMechanisms)
        if (m.type == type) return m.info;
    return CK_MECHANISM_INFO{0, 0, 0};
}

Bytes text(const char* s) { return toBytes(s, std::strlen(s)); }
Bytes boolean(bool v) { return Bytes{static_cast<uint8_t>(v ? 1 : 0)}; }

Object makeObject(std::initializer_list<std::pair<CK_ATTRIBUTE_TYPE, Bytes>> attrs) {
    Object o;
    for (const auto& a : attrs) o.set(a.first, a.second);
    return o;
}

void defaultObjects() {
    g.objects.clear();
    Bytes aes(16), ec(32);
    for (size_t i = 0; i < aes.size(); ++i) aes[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < ec.size(); ++i) ec[i] = static_cast<uint8_t>(0x40 + i);
    g.objects[1] = makeObject({{CKA_CLASS, ulongBytes(CKO_SECRET_KEY)},
                               {CKA_KEY_TYPE, ulongBytes(CKK_AES)},
                               {CKA_TOKEN, boolean(true)},
                               {CKA_PRIVATE, boolean(false)},
                               {CKA_LABEL, text("aes")},
                               {CKA_ID, Bytes{1}},
                               {CKA_SENSITIVE, boolean(true)},
                               {CKA_EXTRACTABLE, boolean(true)},
                               {CKA_ENCRYPT, boolean(true)},
                               {CKA_DECRYPT, boolean(true)},
                               {CKA_SIGN, boolean(true)},
                               {CKA_VERIFY, boolean(true)},
                               {CKA_WRAP, boolean(true)},
                               {CKA_UNWRAP, boolean(true)},
                               {CKA_VALUE_LEN, ulongBytes(16)},
                               {CKA_VALUE, aes}});
    g.objects[2] = makeObject({{CKA_CLASS, ulongBytes(CKO_PUBLIC_KEY)},
                               {CKA_KEY_TYPE, ulongBytes(CKK_EC)},
                               {CKA_TOKEN, boolean(true)},
                               {CKA_PRIVATE, boolean(false)},
                               {CKA_LABEL, text("ec")},
                               {CKA_ID, Bytes{2}},
                               {CKA_VERIFY, boolean(true)},
                               {CKA_EC_PARAMS, Bytes{0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d,
                                                     0x03, 0x01, 0x07}},
                               {CKA_EC_POINT, Bytes{0x04, 0x01, 0x02}}});
    g.objects[3] = makeObject({{CKA_CLASS, ulongBytes(CKO_PRIVATE_KEY)},
                               {CKA_KEY_TYPE, ulongBytes(CKK_EC)},
                               {CKA_TOKEN, boolean(true)},
                               {CKA_PRIVATE, boolean(true)},
                               {CKA_LABEL, text("ec")},
                               {CKA_ID, Bytes{2}},
                               {CKA_SIGN, boolean(true)},
                               {CKA_SENSITIVE, boolean(true)},
                               {CKA_EXTRACTABLE, boolean(false)},
                               {CKA_VALUE, ec}});
    g.objects[4] = makeObject({{CKA_CLASS, ulongBytes(CKO_DATA)},
                               {CKA_TOKEN, boolean(true)},
                               {CKA_PRIVATE, boolean(false)},
                               {CKA_LABEL, text("data")},
                               {CKA_APPLICATION, text("mock")},
                               {CKA_VALUE, text("hello")}});
    g.nextObject = 5;
}

}  // namespace

// ---- small helpers ----------------------------------------------------------------

Bytes toBytes(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return p ? Bytes(b, b + n) : Bytes();
}

Bytes ulongBytes(CK_ULONG v) {
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

void padText(uint8_t* field, size_t width, const char* s) {
    size_t n = std::strlen(s);
    if (n > width) n = width;
    std::memset(field, ' ', width);
    std::memcpy(field, s, n);
}

Attr* Object::find(CK_ATTRIBUTE_TYPE type) {
    for (Attr& a : attrs)
        if (a.type == type) return &a;
    return nullptr;
}

const Attr* Object::find(CK_ATTRIBUTE_TYPE type) const {
    for (const Attr& a : attrs)
        if (a.type == type) return &a;
    return nullptr;
}

void Object::set(CK_ATTRIBUTE_TYPE type, const Bytes& value) {
    if (Attr* a = find(type)) {
        a->value = value;
        return;
    }
    attrs.push_back(Attr{type, value, false});
}

bool Object::isTrue(CK_ATTRIBUTE_TYPE type) const {
    const Attr* a = find(type);
    return a && a->value.size() == 1 && a->value[0] != 0;
}

bool attributeSensitive(const Object& o, const Attr& a) {
    if (a.sensitive) return true;
    bool keyMaterial = a.type == CKA_VALUE ||
                       (a.type >= CKA_PRIVATE_EXPONENT && a.type <= CKA_COEFFICIENT);
    const Attr* cls = o.find(CKA_CLASS);
    bool secret = cls && (cls->value == ulongBytes(CKO_SECRET_KEY) ||
                          cls->value == ulongBytes(CKO_PRIVATE_KEY));
    return keyMaterial && secret && o.isTrue(CKA_SENSITIVE);
}

Session* findSession(CK_SESSION_HANDLE h) {
    if (h == 0) return nullptr;
    Session& s = g.sessions[h % kMaxSessions];
    return s.handle.load(std::memory_order_acquire) == h ? &s : nullptr;
}

const Slot* findSlot(CK_SLOT_ID id) {
    for (const Slot& s : g.slots)
        if (s.id == id) return &s;
    return nullptr;
}

Object* findObject(CK_OBJECT_HANDLE h) {
    auto it = g.objects.find(h);
    return it == g.objects.end() ? nullptr : &it->second;
}

void closeSessionLocked(Session& s) {
    CK_SESSION_HANDLE h = s.handle.load(std::memory_order_relaxed);
    for (auto it = g.objects.begin(); it != g.objects.end();) {
        if (it->second.owner == h)
            it = g.objects.erase(it);
        else
            ++it;
    }
    s.handle.store(0, std::memory_order_release);
    s.clear();
    if (sessionCount(false) == 0) g.loggedIn = kNobody;  // last session logs out
}

CK_ULONG sessionCount(bool rwOnly) {
    CK_ULONG n = 0;
    for (const Session& s : g.sessions)
        if (s.handle.load(std::memory_order_relaxed) && (!rwOnly || (s.flags & CKF_RW_SESSION)))
            ++n;
    return n;
}

void updateInstrumented() {
    bool any = g.recording.load() || g.hostile;
    for (const Script& s : g.scripts) any = any || s.any();
    g.instrumented.store(any);
}

void resetState() {
    g.initialized.store(false);
    g.recording.store(true);
    for (Script& s : g.scripts) s = Script();
    std::memset(g.calls, 0, sizeof g.calls);
    g.log.clear();
    std::memset(g.nullEntry, 0, sizeof g.nullEntry);
    g.listNull = false;
    g.hostile = false;
    g.cannotLock.store(false);
    g.overlaps.store(0);
    g.slots = {{1, true}, {2, false}};
    g.mechanisms.assign(std::begin(kDefaultMechanisms), std::end(kDefaultMechanisms));
    g.patches.clear();
    g.pendingEvents.clear();
    g.chainTo.clear();
    padText(g.label, sizeof g.label, "Mock Token");
    g.soPin = text("12345678");
    g.userPin = text("1234");
    g.userPinSet = true;
    g.loggedIn = kNobody;
    defaultObjects();
    for (Session& s : g.sessions) {
        s.handle.store(0);
        s.clear();
    }
    g.nextSession = 1;
    ++g.resets;
    g.events.notify_all();
    updateInstrumented();
}

namespace {
struct LoadDefaults {
    LoadDefaults() {
        std::lock_guard<std::mutex> lock(g.mu);
        resetState();
    }
} loadDefaults;

const char kHex[] = "0123456789abcdef";

void appendHex(std::string& out, const uint8_t* p, size_t n) {
    out.reserve(out.size() + 2 * n);
    for (size_t i = 0; i < n; ++i) {
        out += kHex[p[i] >> 4];
        out += kHex[p[i] & 15];
    }
}

void appendQuoted(std::string& out, const char* s) {
    out += '"';
    for (size_t i = 0; s[i] && i < 4096; ++i) {
        unsigned char ch = static_cast<unsigned char>(s[i]);
        if (ch >= 0x20 && ch < 0x7F && ch != '"' && ch != '\\') {
            out += static_cast<char>(ch);
        } else {
            out += "\\x";
            out += kHex[ch >> 4];
            out += kHex[ch & 15];
        }
    }
    out += '"';
}
}  // namespace

// ---- Call -------------------------------------------------------------------------

Call::Call(Fn fn) : fn_(fn) {
    counted_ = g.cannotLock.load(std::memory_order_relaxed);
    if (counted_) {
        if (g.inside.fetch_add(1) != 0) g.overlaps.fetch_add(1);
        std::this_thread::yield();  // a wider window for a second caller to show up
    }
    instrumented_ = g.instrumented.load(std::memory_order_relaxed);
    logging_ = instrumented_ && g.recording.load(std::memory_order_relaxed);
    if (logging_) {
        line_ = kFunctionNames[fn];
        line_ += '(';
    }
}

Call::~Call() {
    if (counted_) g.inside.fetch_sub(1);
}

void Call::key(const char* name) {
    if (line_.back() != '(') line_ += ',';
    line_ += name;
    line_ += '=';
}

Call& Call::num(const char* name, unsigned long long value) {
    if (!logging_) return *this;
    key(name);
    line_ += std::to_string(value);
    return *this;
}

Call& Call::ptr(const char* name, const void* p) {
    if (!logging_) return *this;
    key(name);
    line_ += p ? "ptr" : "null";
    return *this;
}

Call& Call::bytes(const char* name, const void* p, CK_ULONG len) {
    if (!logging_) return *this;
    key(name);
    if (!p)
        line_ += "null";
    else
        appendHex(line_, static_cast<const uint8_t*>(p), len);
    return *this;
}

Call& Call::ulongIn(const char* name, const CK_ULONG* p) {
    if (!logging_) return *this;
    key(name);
    line_ += p ? std::to_string(*p) : std::string("null");
    return *this;
}

namespace {
// Told to the wipe check when it is preloaded (tests/wipecheck.cpp).
void handedSecret(const void* p, size_t n) {
    using Report = void (*)(const void*, size_t);
    static const Report report = reinterpret_cast<Report>(dlsym(RTLD_DEFAULT, "wipecheck_handed"));
    if (report && p && n) report(p, n);
}
}  // namespace

Call& Call::secret(const void* p, CK_ULONG len) {
    handedSecret(p, len);
    return *this;
}

Call& Call::mechanism(const char* name, const CK_MECHANISM* m) {
    if (m) handedSecret(m->pParameter, m->ulParameterLen);
    if (!logging_) return *this;
    key(name);
    if (!m) {
        line_ += "null";
        return *this;
    }
    line_ += "{mechanism=" + std::to_string(m->mechanism) + ",parameter=";
    if (m->pParameter)
        appendHex(line_, static_cast<const uint8_t*>(m->pParameter), m->ulParameterLen);
    else
        line_ += "null";
    line_ += ",parameterLen=" + std::to_string(m->ulParameterLen) + "}";
    return *this;
}

Call& Call::attrs(const char* name, const CK_ATTRIBUTE* t, CK_ULONG count, bool values) {
    for (CK_ULONG i = 0; t && i < count; ++i) handedSecret(t[i].pValue, t[i].ulValueLen);
    if (!logging_) return *this;
    key(name);
    if (!t) {
        line_ += "null";
        return *this;
    }
    line_ += '[';
    for (CK_ULONG i = 0; i < count; ++i) {
        if (i) line_ += ',';
        line_ += "{type=" + std::to_string(t[i].type) + ",value=";
        if (!t[i].pValue)
            line_ += "null";
        else if (!values)
            line_ += "ptr";
        else
            appendHex(line_, static_cast<const uint8_t*>(t[i].pValue), t[i].ulValueLen);
        line_ += ",valueLen=" + std::to_string(t[i].ulValueLen) + "}";
    }
    line_ += ']';
    return *this;
}

Call& Call::initArgs(const char* name, const void* p) {
    if (!logging_) return *this;
    key(name);
    if (!p) {
        line_ += "null";
        return *this;
    }
    const MockInitArgs7* a = static_cast<const MockInitArgs7*>(p);
    auto address = [](auto f) { return std::to_string(reinterpret_cast<uintptr_t>(f)); };
    line_ += "{createMutex=" + address(a->CreateMutex);
    line_ += ",destroyMutex=" + address(a->DestroyMutex);
    line_ += ",lockMutex=" + address(a->LockMutex);
    line_ += ",unlockMutex=" + address(a->UnlockMutex);
    line_ += ",flags=" + std::to_string(a->flags);
    line_ += ",reserved=";
    if (a->pReserved)
        appendQuoted(line_, static_cast<const char*>(a->pReserved));
    else
        line_ += "null";
    // Only the softoken form, which carries the parameter string, has a seventh field.
    if (a->pReserved) line_ += ",reserved2=" + address(a->pReserved2);
    line_ += "}";
    return *this;
}

bool Call::enter() {
    if (!instrumented_) return false;
    std::lock_guard<std::mutex> lock(g.mu);
    unsigned long n = ++g.calls[fn_];
    if (logging_) {
        line_ += ')';
        g.log.push_back(std::move(line_));
    }
    const Script& s = g.scripts[fn_];
    for (int p = 0; p < 2; ++p) {
        hasLen_[p] = s.hasLen[p];
        len_[p] = s.len[p];
    }
    hasOutput_ = s.hasOutput;
    if (hasOutput_) output_ = s.output;
    grow_ = s.grow;
    // The function list itself stays sound: a table of garbage pointers
    // would test nothing but the process's death.
    if (g.hostile && fn_ != F_C_GetFunctionList) {
        rv_ = answerHostile(*this);
        return true;
    }
    auto it = s.rvAt.find(n);
    if (it != s.rvAt.end()) {
        rv_ = it->second;
        return true;
    }
    if (s.rvAlways) {
        rv_ = s.rvAlwaysValue;
        return true;
    }
    return false;
}

Call& Call::out(OutKind kind, void* p, CK_ULONG* len, size_t n) {
    if (nOuts_ < 2) outs_[nOuts_++] = Out{kind, p, len, n};
    return *this;
}
Call& Call::outUlong(CK_ULONG* p) { return out(O_ULONG, p, nullptr, 0); }
Call& Call::outStruct(void* p, size_t size) { return out(O_STRUCT, p, nullptr, size); }
Call& Call::outBytes(CK_BYTE* p, CK_ULONG* len) { return out(O_BYTES, p, len, 0); }
Call& Call::outList(CK_ULONG* p, CK_ULONG* count) { return out(O_LIST, p, count, 0); }
Call& Call::outFound(CK_ULONG* p, CK_ULONG max, CK_ULONG* count) { return out(O_FOUND, p, count, max); }
Call& Call::outAttrs(CK_ATTRIBUTE* t, CK_ULONG count) { return out(O_ATTRS, t, nullptr, count); }
Call& Call::outFill(CK_BYTE* p, CK_ULONG len) { return out(O_FILL, p, nullptr, len); }

// ---- hostile answers ----------------------------------------------------------------

namespace {

uint64_t nextRandom() {
    uint64_t x = g.hostileState;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    g.hostileState = x;
    return x * 0x2545F4914F6CDD1DULL;
}

// 0 .. n-1; n > 0.
uint64_t below(uint64_t n) { return nextRandom() % n; }
bool chance(unsigned percent) { return below(100) < percent; }

const CK_RV kCommonCodes[] = {
    CKR_CANCEL, CKR_HOST_MEMORY, CKR_SLOT_ID_INVALID, CKR_GENERAL_ERROR, CKR_FUNCTION_FAILED,
    CKR_ARGUMENTS_BAD, CKR_NO_EVENT, CKR_ATTRIBUTE_SENSITIVE, CKR_ATTRIBUTE_TYPE_INVALID,
    CKR_DEVICE_ERROR, CKR_DEVICE_REMOVED, CKR_FUNCTION_NOT_SUPPORTED, CKR_KEY_HANDLE_INVALID,
    CKR_MECHANISM_INVALID, CKR_OBJECT_HANDLE_INVALID, CKR_OPERATION_ACTIVE,
    CKR_OPERATION_NOT_INITIALIZED, CKR_PIN_INCORRECT, CKR_SESSION_HANDLE_INVALID,
    CKR_SIGNATURE_INVALID, CKR_TOKEN_NOT_PRESENT, CKR_USER_NOT_LOGGED_IN, CKR_BUFFER_TOO_SMALL,
    CKR_CRYPTOKI_NOT_INITIALIZED, CKR_CRYPTOKI_ALREADY_INITIALIZED, CKR_FUNCTION_REJECTED,
};

CK_RV hostileCode() {
    unsigned roll = static_cast<unsigned>(below(100));
    if (roll < 60) return CKR_OK;
    if (roll < 68) return CKR_BUFFER_TOO_SMALL;  // the code the protocol reacts to
    if (roll < 85) return kCommonCodes[below(sizeof kCommonCodes / sizeof kCommonCodes[0])];
    if (roll < 93) return static_cast<CK_RV>(CKR_VENDOR_DEFINED | (nextRandom() & 0x7FFFFFFF));
    if (roll < 96) return ~static_cast<CK_RV>(0);
    return static_cast<CK_RV>(nextRandom());
}

// A number without meaning: a handle, an id, a size.
CK_ULONG garbageUlong() {
    switch (below(8)) {
    case 0: return 0;
    case 1: return ~static_cast<CK_ULONG>(0);
    case 2: return static_cast<CK_ULONG>(0x80000000UL);
    case 3: return static_cast<CK_ULONG>(0x7FFFFFFFUL);
    case 4: return static_cast<CK_ULONG>(below(16));
    default: return static_cast<CK_ULONG>(nextRandom());
    }
}

// A length where the caller gave no buffer: mostly plausible, sometimes
// absurd (the caller must not trust it for more than an allocation).
CK_ULONG queryLength() {
    unsigned roll = static_cast<unsigned>(below(100000));
    if (roll < 15000) return 0;
    if (roll < 65000) return static_cast<CK_ULONG>(1 + below(64));
    if (roll < 95000) return static_cast<CK_ULONG>(65 + below(8192));
    if (roll < 95500) return ~static_cast<CK_ULONG>(0);  // CK_UNAVAILABLE_INFORMATION
    if (roll < 99990) return static_cast<CK_ULONG>(0x10000 + below(0x100000));
    // Allocations that may succeed and cost the caller a gigabyte or more:
    // rare, so that a run stays short.
    if (roll < 99995) return static_cast<CK_ULONG>(0xFFFFFFFFUL);
    return static_cast<CK_ULONG>(0x7FFFFFFFUL);
}

// The length reported after a buffer of room was given: at, below or above it.
CK_ULONG reportedLength(CK_ULONG room) {
    switch (below(10)) {
    case 0: case 1: case 2: return room;
    case 3: return room ? static_cast<CK_ULONG>(below(room)) : 0;
    case 4: return 0;
    case 5: return room + 1;
    case 6: return room + static_cast<CK_ULONG>(1 + below(4096));
    case 7: return ~static_cast<CK_ULONG>(0);
    case 8: return static_cast<CK_ULONG>(0x80000000UL) + static_cast<CK_ULONG>(below(2)) * room;
    default: return static_cast<CK_ULONG>(nextRandom());
    }
}

// Bytes for text fields and data: invalid UTF-8, zero bytes, blanks, noise.
void garbageBytes(uint8_t* p, size_t n) {
    static const uint8_t kPalette[] = {0x00, 0x20, 0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xC1, 0xC3,
                                       0xE0, 0xED, 0xA0, 0xF0, 0xF4, 0xF5, 0xFE, 0xFF, 0x0A};
    switch (below(5)) {
    case 0: std::memset(p, 0, n); return;
    case 1: std::memset(p, 0xFF, n); return;
    case 2:
        for (size_t i = 0; i < n; ++i) p[i] = kPalette[below(sizeof kPalette)];
        return;
    default:
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(nextRandom() >> 24);
        return;
    }
}

// How much of the room is actually written: never past it, and never more
// than 64 KiB, so that a huge room costs no time here.
size_t written(size_t room) {
    if (room > 0x10000) room = 0x10000;
    if (!room || chance(10)) return 0;
    return chance(60) ? room : static_cast<size_t>(below(room + 1));
}

void hostileOutput(const Call::Out& o) {
    if (chance(5)) return;  // leaves the caller's memory as it was
    switch (o.kind) {
    case Call::O_ULONG:
        if (o.p) *static_cast<CK_ULONG*>(o.p) = garbageUlong();
        return;
    case Call::O_STRUCT:
        if (o.p) garbageBytes(static_cast<uint8_t*>(o.p), o.n);
        return;
    case Call::O_FILL:
        if (o.p) garbageBytes(static_cast<uint8_t*>(o.p), written(o.n));
        return;
    case Call::O_BYTES:
    case Call::O_LIST: {
        if (!o.len) return;
        if (!o.p) {
            *o.len = queryLength();
            return;
        }
        CK_ULONG room = *o.len;
        size_t w = written(room);
        if (o.kind == Call::O_BYTES) {
            garbageBytes(static_cast<uint8_t*>(o.p), w);
        } else {
            CK_ULONG* items = static_cast<CK_ULONG*>(o.p);
            for (size_t i = 0; i < w; ++i) items[i] = garbageUlong();
        }
        *o.len = reportedLength(room);
        return;
    }
    case Call::O_FOUND: {
        CK_ULONG* items = static_cast<CK_ULONG*>(o.p);
        size_t w = items ? written(o.n) : 0;
        for (size_t i = 0; i < w; ++i) items[i] = garbageUlong();
        if (o.len) *o.len = reportedLength(static_cast<CK_ULONG>(o.n));
        return;
    }
    case Call::O_ATTRS: {
        CK_ATTRIBUTE* t = static_cast<CK_ATTRIBUTE*>(o.p);
        for (size_t i = 0; t && i < o.n; ++i) {
            CK_ATTRIBUTE& a = t[i];
            if (chance(5)) continue;
            if (!a.pValue) {
                a.ulValueLen = chance(20) ? CK_UNAVAILABLE_INFORMATION : queryLength();
                continue;
            }
            CK_ULONG room = a.ulValueLen;
            garbageBytes(static_cast<uint8_t*>(a.pValue), written(room));
            a.ulValueLen = chance(10) ? CK_UNAVAILABLE_INFORMATION : reportedLength(room);
        }
        return;
    }
    }
}

}  // namespace

CK_RV answerHostile(const Call& c) {
    CK_RV rv = hostileCode();
    // Modules write outputs on failures too (CKR_BUFFER_TOO_SMALL, attribute
    // errors), so outputs are garbled whatever the code.
    for (int i = 0; i < c.nOuts_; ++i)
        if (rv == CKR_OK || chance(50)) hostileOutput(c.outs_[i]);
    return rv;
}

// ---- answer paths -----------------------------------------------------------------

CK_RV answerBytes(const Call& c, const Bytes& computed, CK_BYTE_PTR out, CK_ULONG_PTR pulLen,
                  bool* done) {
    *done = false;
    const Bytes& content = c.output() ? *c.output() : computed;
    if (!out) {
        *pulLen = c.hasLen(PHASE_QUERY) ? c.len(PHASE_QUERY) : content.size();
        return CKR_OK;
    }
    CK_ULONG room = *pulLen;
    if (c.hasLen(PHASE_FILL)) {
        // A lying module: never writes past the room it was given.
        size_t n = content.size() < room ? content.size() : room;
        if (n) std::memcpy(out, content.data(), n);
        *pulLen = c.len(PHASE_FILL);
        *done = true;
        return CKR_OK;
    }
    if (room < content.size()) {
        *pulLen = content.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    if (!content.empty()) std::memcpy(out, content.data(), content.size());
    *pulLen = content.size();
    *done = true;
    return CKR_OK;
}

CK_RV answerList(const Call& c, const std::vector<CK_ULONG>& items, CK_ULONG* out,
                 CK_ULONG_PTR pulCount, bool* query) {
    *query = !out;
    if (!out) {
        *pulCount = c.hasLen(PHASE_QUERY) ? c.len(PHASE_QUERY) : items.size();
        return CKR_OK;
    }
    CK_ULONG room = *pulCount;
    if (c.hasLen(PHASE_FILL)) {
        size_t n = items.size() < room ? items.size() : room;
        for (size_t i = 0; i < n; ++i) out[i] = items[i];
        *pulCount = c.len(PHASE_FILL);
        return CKR_OK;
    }
    *pulCount = items.size();
    if (room < items.size()) return CKR_BUFFER_TOO_SMALL;
    for (size_t i = 0; i < items.size(); ++i) out[i] = items[i];
    return CKR_OK;
}

CK_RV answerFound(const Call& c, const CK_ULONG* items, size_t n, CK_ULONG* out, CK_ULONG max,
                  CK_ULONG_PTR pulCount, size_t* written) {
    size_t w = n < max ? n : max;
    for (size_t i = 0; i < w; ++i) out[i] = items[i];
    *written = w;
    *pulCount = c.hasLen(PHASE_FILL) ? c.len(PHASE_FILL) : w;
    return CKR_OK;
}

void answerRandom(const Call& c, Session& s, CK_BYTE_PTR out, CK_ULONG len) {
    if (const Bytes* scripted = c.output()) {
        size_t n = scripted->size() < len ? scripted->size() : len;
        if (n) std::memcpy(out, scripted->data(), n);
        return;
    }
    for (CK_ULONG i = 0; i < len; ++i) out[i] = s.random++;
}

CK_RV answerAttribute(const Call& c, const Object& o, CK_ATTRIBUTE& a) {
    const Attr* found = o.find(a.type);
    if (!found) {
        a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_ATTRIBUTE_TYPE_INVALID;
    }
    if (attributeSensitive(o, *found)) {
        a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_ATTRIBUTE_SENSITIVE;
    }
    const Bytes& v = found->value;
    if (!a.pValue) {
        a.ulValueLen = c.hasLen(PHASE_QUERY) ? c.len(PHASE_QUERY) : v.size();
        return CKR_OK;
    }
    if (c.hasLen(PHASE_FILL)) {
        size_t n = v.size() < a.ulValueLen ? v.size() : a.ulValueLen;
        if (n) std::memcpy(a.pValue, v.data(), n);
        a.ulValueLen = c.len(PHASE_FILL);
        return CKR_OK;
    }
    if (a.ulValueLen < v.size()) {
        a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_BUFFER_TOO_SMALL;
    }
    if (!v.empty()) std::memcpy(a.pValue, v.data(), v.size());
    a.ulValueLen = v.size();
    return CKR_OK;
}

void answerStruct(StructKind kind, void* s) {
    uint8_t* base = static_cast<uint8_t*>(s);
    for (const auto& entry : g.patches) {
        const Field& f = kFields[entry.first];
        if (f.kind != kind) continue;
        const Patch& p = entry.second;
        uint8_t* at = base + f.offset;
        if (f.text) {
            std::memset(at, ' ', f.size);
            if (!p.text.empty()) std::memcpy(at, p.text.data(), p.text.size() < f.size ? p.text.size() : f.size);
        } else if (f.size == 1) {
            *at = static_cast<uint8_t>(p.number);
        } else {
            CK_ULONG v = static_cast<CK_ULONG>(p.number);
            std::memcpy(at, &v, sizeof v);
        }
    }
}

// ---- control --------------------------------------------------------------------

namespace {

bool hasByteOutput(int fn) {
    switch (fn) {
    case F_C_Encrypt: case F_C_EncryptUpdate: case F_C_EncryptFinal: case F_C_Decrypt:
    case F_C_DecryptUpdate: case F_C_DecryptFinal: case F_C_Digest: case F_C_DigestFinal:
    case F_C_Sign: case F_C_SignFinal: case F_C_SignRecover: case F_C_VerifyRecover:
    case F_C_DigestEncryptUpdate: case F_C_DecryptDigestUpdate: case F_C_SignEncryptUpdate:
    case F_C_DecryptVerifyUpdate: case F_C_WrapKey: case F_C_GetOperationState:
        return true;
    default:
        return false;
    }
}

bool reportsLength(int fn) {
    return hasByteOutput(fn) || fn == F_C_GetSlotList || fn == F_C_GetMechanismList ||
           fn == F_C_FindObjects || fn == F_C_GetAttributeValue;
}

CK_ULONG ulong(long long n) { return static_cast<CK_ULONG>(static_cast<unsigned long long>(n)); }

// Calls the Notify callback of every open session that has one, from a thread
// of the module's own; the callbacks' codes, one a line.
std::string notifySessions(CK_NOTIFICATION event) {
    struct Target {
        CK_SESSION_HANDLE handle;
        CK_NOTIFY notify;
        void* application;
    };
    std::vector<Target> targets;
    {
        std::lock_guard<std::mutex> lock(g.mu);
        for (const Session& s : g.sessions) {
            CK_SESSION_HANDLE h = s.handle.load();
            if (h && s.notify) targets.push_back(Target{h, s.notify, s.application});
        }
    }
    std::string codes;
    // Unlocked: a callback may call back into the module.
    std::thread caller([&] {
        for (const Target& t : targets)
            codes += std::to_string(t.notify(t.handle, event, t.application)) + "\n";
    });
    caller.join();
    return codes;
}

// What a command's name must be.
enum Takes { NOTHING, FUNCTION, FIELD };

// One control command: index is the function's or field's, n the numbers.
// Each runs under the state lock but notify_sessions (callbacks may call in).
struct Command {
    const char* op;
    Takes takes;
    size_t numbers;
    int (*run)(int index, const MockCommand& c, const long long* n, std::string& answer);
};

#define MOCK_COMMAND [](int i, const MockCommand& c, const long long* n, std::string& answer) -> int

const Command kCommands[] = {
    {"reset", NOTHING, 0, MOCK_COMMAND {
         resetState();
         return MOCK_OK;
     }},
    {"set_recording", NOTHING, 1, MOCK_COMMAND {
         g.recording.store(n[0] != 0);
         return MOCK_OK;
     }},
    {"log", NOTHING, 0, MOCK_COMMAND {
         for (size_t i = 0; i < g.log.size(); ++i) (answer += i ? "\n" : "") += g.log[i];
         return MOCK_OK;
     }},
    {"clear_log", NOTHING, 0, MOCK_COMMAND {
         g.log.clear();
         return MOCK_OK;
     }},
    {"call_count", FUNCTION, 0, MOCK_COMMAND {
         answer = std::to_string(g.calls[i]);
         return MOCK_OK;
     }},
    // {call, rv}: call 0 means every call; otherwise the n-th since reset (from 1).
    {"set_rv", FUNCTION, 2, MOCK_COMMAND {
         Script& s = g.scripts[i];
         if (n[0] == 0) {
             s.rvAlways = true;
             s.rvAlwaysValue = ulong(n[1]);
         } else {
             s.rvAt[static_cast<unsigned long>(n[0])] = ulong(n[1]);
         }
         return MOCK_OK;
     }},
    // {phase, length}
    {"set_output_length", FUNCTION, 2, MOCK_COMMAND {
         if (!reportsLength(i) || (n[0] != MOCK_PHASE_QUERY && n[0] != MOCK_PHASE_FILL) ||
             (i == F_C_FindObjects && n[0] == MOCK_PHASE_QUERY))
             return MOCK_NOT_APPLICABLE;
         int p = n[0] == MOCK_PHASE_QUERY ? PHASE_QUERY : PHASE_FILL;
         g.scripts[i].hasLen[p] = true;
         g.scripts[i].len[p] = ulong(n[1]);
         return MOCK_OK;
     }},
    {"set_output", FUNCTION, 0, MOCK_COMMAND {
         if (!hasByteOutput(i) && i != F_C_GenerateRandom) return MOCK_NOT_APPLICABLE;
         g.scripts[i].hasOutput = true;
         g.scripts[i].output = toBytes(c.bytes, c.length);
         return MOCK_OK;
     }},
    // numbers: the slot ids; bytes: whether each has the token.
    {"set_slots", NOTHING, 0, MOCK_COMMAND {
         if (c.length != c.count) return MOCK_NOT_APPLICABLE;
         g.slots.clear();
         for (size_t i = 0; i < c.count; ++i) g.slots.push_back(Slot{ulong(n[i]), c.bytes[i] != 0});
         return MOCK_OK;
     }},
    {"grow_after_query", FUNCTION, 1, MOCK_COMMAND {
         if (i != F_C_GetSlotList && i != F_C_GetMechanismList) return MOCK_NOT_APPLICABLE;
         g.scripts[i].grow = static_cast<unsigned long>(n[0]);
         return MOCK_OK;
     }},
    {"set_field_text", FIELD, 0, MOCK_COMMAND {
         if (!kFields[i].text) return MOCK_NOT_APPLICABLE;
         g.patches[i] = Patch{true, toBytes(c.bytes, c.length), 0};
         return MOCK_OK;
     }},
    {"set_field_number", FIELD, 1, MOCK_COMMAND {
         if (kFields[i].text) return MOCK_NOT_APPLICABLE;
         g.patches[i] = Patch{false, Bytes(), static_cast<unsigned long long>(n[0])};
         return MOCK_OK;
     }},
    // numbers: the types; known ones keep their default info.
    {"set_mechanisms", NOTHING, 0, MOCK_COMMAND {
         g.mechanisms.clear();
         for (size_t i = 0; i < c.count; ++i)
             g.mechanisms.push_back(Mechanism{ulong(n[i]), defaultMechanismInfo(ulong(n[i]))});
         return MOCK_OK;
     }},
    // {type, min key size, max key size, flags}
    {"set_mechanism_info", NOTHING, 4, MOCK_COMMAND {
         CK_MECHANISM_INFO info{ulong(n[1]), ulong(n[2]), ulong(n[3])};
         for (Mechanism& m : g.mechanisms) {
             if (m.type == ulong(n[0])) {
                 m.info = info;
                 return MOCK_OK;
             }
         }
         g.mechanisms.push_back(Mechanism{ulong(n[0]), info});
         return MOCK_OK;
     }},
    {"set_null_entry", FUNCTION, 0, MOCK_COMMAND {
         g.nullEntry[i] = true;
         return MOCK_OK;
     }},
    {"set_function_list_null", NOTHING, 0, MOCK_COMMAND {
         g.listNull = true;
         return MOCK_OK;
     }},
    // bytes: the file name of the module to load and pass C_Initialize and C_Finalize on to.
    {"chain", NOTHING, 0, MOCK_COMMAND {
         g.chainTo.assign(reinterpret_cast<const char*>(c.bytes), c.length);
         return MOCK_OK;
     }},
    {"add_slot_event", NOTHING, 1, MOCK_COMMAND {
         g.pendingEvents.push_back(ulong(n[0]));
         g.events.notify_all();
         return MOCK_OK;
     }},
    // {object, attribute type}
    {"set_sensitive", NOTHING, 2, MOCK_COMMAND {
         Object* o = findObject(ulong(n[0]));
         Attr* a = o ? o->find(ulong(n[1])) : nullptr;
         if (!a) {
             answer = "no attribute " + std::to_string(n[1]) + " on object " + std::to_string(n[0]);
             return MOCK_UNKNOWN_NAME;
         }
         a->sensitive = true;
         return MOCK_OK;
     }},
    {"set_next_object_handle", NOTHING, 1, MOCK_COMMAND {
         g.nextObject = ulong(n[0]);
         return MOCK_OK;
     }},
    {"set_next_session_handle", NOTHING, 1, MOCK_COMMAND {
         g.nextSession = ulong(n[0]);
         return MOCK_OK;
     }},
    // {seed}: every call but C_GetFunctionList is answered from a stream
    // seeded with it (see answerHostile); off again on reset.
    {"hostile", NOTHING, 1, MOCK_COMMAND {
         g.hostile = true;
         // xorshift must not start at 0; the seed is mixed so that near seeds differ.
         uint64_t x = static_cast<uint64_t>(n[0]) * 0x9E3779B97F4A7C15ULL + 0x2545F4914F6CDD1DULL;
         g.hostileState = x ? x : 1;
         return MOCK_OK;
     }},
    {"cannot_lock", NOTHING, 0, MOCK_COMMAND {
         g.cannotLock.store(true);
         return MOCK_OK;
     }},
    {"overlaps", NOTHING, 0, MOCK_COMMAND {
         answer = std::to_string(g.overlaps.load());
         return MOCK_OK;
     }},
    // The secrets handed over and not wiped since the last ask (-1 without the wipe check).
    {"unwiped", NOTHING, 0, MOCK_COMMAND {
         using Count = size_t (*)();
         auto count = reinterpret_cast<Count>(dlsym(RTLD_DEFAULT, "wipecheck_unwiped"));
         answer = count ? std::to_string(count()) : "-1";
         return MOCK_OK;
     }},
    {"is_initialized", NOTHING, 0, MOCK_COMMAND {
         answer = g.initialized.load() ? "1" : "0";
         return MOCK_OK;
     }},
    {"functions", NOTHING, 0, MOCK_COMMAND {
         for (int i = 0; i < F_Count; ++i) (answer += i ? "\n" : "") += kFunctionNames[i];
         return MOCK_OK;
     }},
};

#undef MOCK_COMMAND

int control(const MockCommand& c, std::string& answer) {
    const char* op = c.op ? c.op : "";
    const char* name = c.name ? c.name : "";
    if (std::strcmp(op, "notify_sessions") == 0 && c.count >= 1) {
        answer = notifySessions(ulong(c.numbers[0]));
        return MOCK_OK;
    }
    for (const Command& cmd : kCommands) {
        if (std::strcmp(cmd.op, op) != 0) continue;
        int index = cmd.takes == FUNCTION ? functionIndex(c.name) : cmd.takes == FIELD ? fieldIndex(c.name) : 0;
        if (index < 0) {
            answer = std::string("unknown function or field: ") + name;
            return MOCK_UNKNOWN_NAME;
        }
        if (c.count < cmd.numbers || (c.length && !c.bytes)) {
            answer = std::string(op) + " needs " + std::to_string(cmd.numbers) + " numbers";
            return MOCK_NOT_APPLICABLE;
        }
        std::lock_guard<std::mutex> lock(g.mu);
        int rc = cmd.run(index, c, c.numbers, answer);
        updateInstrumented();
        if (rc == MOCK_NOT_APPLICABLE) answer = std::string(name) + " does not take this setting";
        return rc;
    }
    answer = std::string("no control command ") + op;
    return MOCK_UNKNOWN_NAME;
}

}  // namespace
}  // namespace mock

MOCK_EXPORT int mock_control(const MockCommand* command, MockReply reply, void* context) {
    std::string answer;
    int rc = mock::control(*command, answer);
    reply(context, answer.data(), answer.size());
    return rc;
}
