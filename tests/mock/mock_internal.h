// Internals of the mock PKCS#11 module: state, call recording, scripting and
// the answer paths that every C_ function goes through.
#ifndef CORVALE_TESTS_MOCK_MOCK_INTERNAL_H
#define CORVALE_TESTS_MOCK_MOCK_INTERNAL_H

#include "mock.h"
#include "corvale/binding/functions.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#define MOCK_EXPORT extern "C" __attribute__((visibility("default")))

// The prologue of every C_ function: the call is logged with its arguments
// (record is a chain of Call methods, such as .num("session", hSession)),
// a script or hostile mode may answer it instead, and before C_Initialize
// only C_Initialize and C_GetFunctionList (MOCK_ENTER_ANY) do anything.
#define MOCK_ENTER_ANY(fn, ...)  \
    mock::Call c(mock::F_##fn);  \
    c __VA_ARGS__;               \
    if (c.enter()) return c.rv()
#define MOCK_ENTER(fn, ...)          \
    MOCK_ENTER_ANY(fn, __VA_ARGS__); \
    if (!mock::ready()) return CKR_CRYPTOKI_NOT_INITIALIZED

namespace mock {

using Bytes = std::vector<uint8_t>;

// The functions in the order of CK_FUNCTION_LIST, from the library's own list.
enum Fn : int {
#define MOCK_ENUM(name, role) F_##name,
    CORVALE_FUNCTIONS(MOCK_ENUM)
#undef MOCK_ENUM
    F_Count
};

extern const char* const kFunctionNames[F_Count];  // "C_Initialize", ...
int functionIndex(const char* name);                // -1 when unknown

constexpr size_t kMaxSessions = 256;
constexpr size_t kDigestLen = 32;
constexpr uint8_t kCipherMask = 0x5A;   // encrypt/decrypt/wrap: XOR with this
constexpr uint8_t kRecoverMask = 0xFF;  // sign/verify recover: XOR with this

// Per-function script; all empty after reset.
struct Script {
    std::map<unsigned long, CK_RV> rvAt;  // n-th call (from 1) -> code
    bool rvAlways = false;
    CK_RV rvAlwaysValue = 0;
    bool hasLen[2] = {false, false};  // [0] query, [1] fill
    CK_ULONG len[2] = {0, 0};
    bool hasOutput = false;
    Bytes output;
    unsigned long grow = 0;  // list entries added after each length query
    bool any() const {
        return !rvAt.empty() || rvAlways || hasLen[0] || hasLen[1] || hasOutput || grow;
    }
};

// The documented digest: d[i] starts at i; input byte k (counted over all
// parts) sets d[k % 32] = d[k % 32] * 31 + byte (mod 256).
struct Digest {
    uint8_t d[kDigestLen];
    uint64_t n;
    void init() {
        for (size_t i = 0; i < kDigestLen; ++i) d[i] = static_cast<uint8_t>(i);
        n = 0;
    }
    void update(const uint8_t* p, size_t len) {
        for (size_t i = 0; i < len; ++i, ++n) {
            uint8_t& x = d[n % kDigestLen];
            x = static_cast<uint8_t>(x * 31u + p[i]);
        }
    }
};

enum OpKind { OP_ENCRYPT, OP_DECRYPT, OP_DIGEST, OP_SIGN, OP_VERIFY, OP_SIGN_RECOVER,
              OP_VERIFY_RECOVER, OP_COUNT };

struct Op {
    bool active;
    CK_MECHANISM_TYPE mechanism;
    CK_OBJECT_HANDLE key;
    Digest digest;  // sign and verify keep their running digest here
};

// Plain data, saved and restored byte for byte by the operation state calls.
struct OpState {
    Op op[OP_COUNT];
};

// Aligned so that two threads on two sessions never share a cache line.
struct alignas(64) Session {
    std::atomic<CK_SESSION_HANDLE> handle{0};  // 0: free
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
    OpState ops{};
    bool findActive = false;
    std::vector<CK_OBJECT_HANDLE> found;
    size_t findPos = 0;
    uint8_t random = 0;  // next byte of C_GenerateRandom
    CK_NOTIFY notify = nullptr;
    void* application = nullptr;
    // Everything but the handle as a new session has it.
    void clear(CK_SLOT_ID id = 0, CK_FLAGS f = 0, CK_NOTIFY n = nullptr, void* app = nullptr) {
        slot = id;
        flags = f;
        ops = OpState{};
        findActive = false;
        found.clear();
        findPos = 0;
        random = 0;
        notify = n;
        application = app;
    }
};

struct Attr {
    CK_ATTRIBUTE_TYPE type;
    Bytes value;
    bool sensitive;  // flagged by the control API
};

struct Object {
    std::vector<Attr> attrs;
    CK_SESSION_HANDLE owner = 0;  // session objects die with their session
    Attr* find(CK_ATTRIBUTE_TYPE type);
    const Attr* find(CK_ATTRIBUTE_TYPE type) const;
    void set(CK_ATTRIBUTE_TYPE type, const Bytes& value);
    bool isTrue(CK_ATTRIBUTE_TYPE type) const;
};

struct Slot {
    CK_SLOT_ID id;
    bool present;
};

struct Mechanism {
    CK_MECHANISM_TYPE type;
    CK_MECHANISM_INFO info;
};

enum StructKind { S_INFO, S_SLOT, S_TOKEN, S_SESSION, S_MECHANISM };

struct Patch {
    bool isText;
    Bytes text;
    unsigned long long number;
};

constexpr CK_USER_TYPE kNobody = ~static_cast<CK_USER_TYPE>(0);

struct State {
    std::mutex mu;  // everything below except the atomics and the session data
    std::condition_variable events;
    std::atomic<bool> initialized{false};
    std::atomic<bool> recording{true};
    std::atomic<bool> instrumented{true};  // recording, any script or hostile mode
    // A module that cannot lock: it refuses to be initialised for threads,
    // and counts the calls that entered while another was inside.
    std::atomic<bool> cannotLock{false};
    std::atomic<int> inside{0};
    std::atomic<unsigned long> overlaps{0};
    bool hostile = false;                  // answers come from the seeded stream
    uint64_t hostileState = 0;             // that stream (xorshift)
    unsigned long resets = 0;              // wakes blocked waits on reset

    Script scripts[F_Count];
    unsigned long calls[F_Count] = {};
    std::vector<std::string> log;
    bool nullEntry[F_Count] = {};
    bool listNull = false;

    std::vector<Slot> slots;
    std::vector<Mechanism> mechanisms;
    std::map<int, Patch> patches;  // field index -> patch
    std::vector<CK_SLOT_ID> pendingEvents;
    std::string chainTo;  // a module that C_Initialize and C_Finalize pass on to

    // The one token, shared by every slot that has a token present.
    uint8_t label[32];
    Bytes soPin, userPin;
    bool userPinSet = false;
    CK_USER_TYPE loggedIn = kNobody;
    std::map<CK_OBJECT_HANDLE, Object> objects;
    CK_OBJECT_HANDLE nextObject = 1;

    Session sessions[kMaxSessions];
    CK_SESSION_HANDLE nextSession = 1;
};

extern State& g;

inline bool ready() { return g.initialized.load(std::memory_order_relaxed); }

void resetState();   // all defaults; called at load and by the control API
void updateInstrumented();

// One call of a C_ function. Arguments are appended to the log line only when
// recording; enter() then counts the call and picks up its script. Without
// recording and scripts nothing here touches shared state.
class Call {
public:
    explicit Call(Fn fn);
    ~Call();
    bool logging() const { return logging_; }
    Call& num(const char* name, unsigned long long value);
    Call& ptr(const char* name, const void* p);  // "ptr" or "null"
    Call& bytes(const char* name, const void* p, CK_ULONG len);
    Call& ulongIn(const char* name, const CK_ULONG* p);  // *p on entry or null
    Call& mechanism(const char* name, const CK_MECHANISM* m);
    Call& attrs(const char* name, const CK_ATTRIBUTE* t, CK_ULONG count, bool values);
    Call& initArgs(const char* name, const void* args);
    // A buffer the library promises to wipe before the native returns (a
    // PIN, plaintext, random bytes); mechanism parameters and template
    // values count as such by themselves.
    Call& secret(const void* p, CK_ULONG len);
    // True when a scripted code replaces the call: return rv() at once.
    bool enter();
    CK_RV rv() const { return rv_; }

    // The outputs of the call, for the hostile answers; they write nothing
    // otherwise. Each is registered with the room the caller gave.
    Call& outUlong(CK_ULONG* p);
    Call& outStruct(void* p, size_t size);
    Call& outBytes(CK_BYTE* p, CK_ULONG* len);     // length-query convention
    Call& outList(CK_ULONG* p, CK_ULONG* count);   // slot and mechanism lists
    Call& outFound(CK_ULONG* p, CK_ULONG max, CK_ULONG* count);
    Call& outAttrs(CK_ATTRIBUTE* t, CK_ULONG count);
    Call& outFill(CK_BYTE* p, CK_ULONG len);

    bool hasLen(int phase) const { return hasLen_[phase]; }
    CK_ULONG len(int phase) const { return len_[phase]; }
    const Bytes* output() const { return hasOutput_ ? &output_ : nullptr; }
    unsigned long grow() const { return grow_; }

    enum OutKind { O_ULONG, O_STRUCT, O_BYTES, O_LIST, O_FOUND, O_ATTRS, O_FILL };
    struct Out {
        OutKind kind;
        void* p;
        CK_ULONG* len;
        size_t n;
    };

private:
    void key(const char* name);
    Call& out(OutKind kind, void* p, CK_ULONG* len, size_t n);
    Fn fn_;
    bool counted_;  // inside the module that cannot lock
    bool instrumented_;
    bool logging_;
    std::string line_;
    CK_RV rv_ = CKR_OK;
    bool hasLen_[2] = {false, false};
    CK_ULONG len_[2] = {0, 0};
    bool hasOutput_ = false;
    Bytes output_;
    unsigned long grow_ = 0;
    Out outs_[2];
    int nOuts_ = 0;
    friend CK_RV answerHostile(const Call& c);
};

// Answer paths. Every return code can be replaced in Call::enter() and every
// value the module hands out passes through one of these, so that another
// source of answers (say, a seeded random one) can be added in these alone.
enum { PHASE_QUERY = 0, PHASE_FILL = 1 };

// Byte output with the length-query convention. *done is set when the output
// was delivered (the operation step took place).
CK_RV answerBytes(const Call& c, const Bytes& computed, CK_BYTE_PTR out,
                  CK_ULONG_PTR pulLen, bool* done);
// Slot and mechanism lists: query, fill or CKR_BUFFER_TOO_SMALL.
CK_RV answerList(const Call& c, const std::vector<CK_ULONG>& items, CK_ULONG* out,
                 CK_ULONG_PTR pulCount, bool* query);
// C_FindObjects: at most max handles; *written gets the number copied.
CK_RV answerFound(const Call& c, const CK_ULONG* items, size_t n, CK_ULONG* out,
                  CK_ULONG max, CK_ULONG_PTR pulCount, size_t* written);
// One attribute of C_GetAttributeValue; the code for that attribute.
CK_RV answerAttribute(const Call& c, const Object& o, CK_ATTRIBUTE& a);
// C_GenerateRandom: the buffer is filled from the script or the generator.
void answerRandom(const Call& c, Session& s, CK_BYTE_PTR out, CK_ULONG len);
// Hostile mode (lock held): a random code, and every registered output
// filled with garbage within the room it has, lengths and counts above,
// below or at the room.
CK_RV answerHostile(const Call& c);
// Applies the field patches of one structure kind (lock held).
void answerStruct(StructKind kind, void* s);

// Lookups (the session lookup takes no lock).
Session* findSession(CK_SESSION_HANDLE h);
const Slot* findSlot(CK_SLOT_ID id);  // lock held
Object* findObject(CK_OBJECT_HANDLE h);  // lock held
bool attributeSensitive(const Object& o, const Attr& a);
Bytes toBytes(const void* p, size_t n);
Bytes ulongBytes(CK_ULONG v);
void closeSessionLocked(Session& s);
CK_ULONG sessionCount(bool rwOnly);  // lock held
void padText(uint8_t* field, size_t width, const char* text);

}  // namespace mock

#endif
