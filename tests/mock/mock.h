// Control interface of the mock PKCS#11 module, shared by the module and the
// JNI bridge (libmockctl.so). Every variant library exports exactly one
// control symbol, mock_control(), besides its C_ functions; the bridge finds it
// with dlsym so that each loaded variant is driven through its own state.
#ifndef CORVALE_TESTS_MOCK_MOCK_H
#define CORVALE_TESTS_MOCK_MOCK_H

#include <stddef.h>
#include <p11-kit/pkcs11.h>

#ifdef __cplusplus
extern "C" {
#endif

// The softoken form of the initialisation arguments: seven fields, the sixth
// carrying the parameter string (p11-kit declares only six).
typedef struct MockInitArgs7 {
    CK_CREATEMUTEX CreateMutex;
    CK_DESTROYMUTEX DestroyMutex;
    CK_LOCKMUTEX LockMutex;
    CK_UNLOCKMUTEX UnlockMutex;
    CK_FLAGS flags;
    void* pReserved;  // parameter string (char*) in the softoken form
    void* pReserved2;
} MockInitArgs7;

enum { MOCK_CONTROL_VERSION = 1 };

// Results of the control calls.
enum {
    MOCK_OK = 0,
    MOCK_UNKNOWN_NAME = -1,  // no such C_ function or field name
    MOCK_NOT_APPLICABLE = -2  // the function or field does not take this setting
};

// Output phases: told apart by a null (query) or non-null (fill) output buffer.
enum { MOCK_PHASE_QUERY = 1, MOCK_PHASE_FILL = 2 };

typedef struct MockControl {
    unsigned version;
    void (*reset)(void);
    void (*set_recording)(int on);
    // Copies the call log, one line per call joined by '\n', into buf (at most
    // cap bytes, no terminator) and returns its full length.
    size_t (*log_text)(char* buf, size_t cap);
    void (*clear_log)(void);
    long (*call_count)(const char* function);  // MOCK_UNKNOWN_NAME if unknown
    // call 0 means every call; otherwise the n-th call since reset (from 1).
    int (*set_rv)(const char* function, unsigned long call, CK_RV rv);
    int (*set_output_length)(const char* function, int phase, CK_ULONG length);
    int (*set_output)(const char* function, const unsigned char* bytes, size_t n);
    int (*set_slots)(size_t n, const CK_SLOT_ID* ids, const unsigned char* present);
    int (*grow_after_query)(const char* function, unsigned long extra);
    int (*set_field_bytes)(const char* name, const unsigned char* bytes, size_t n);
    int (*set_field_number)(const char* name, unsigned long long value);
    int (*set_mechanisms)(size_t n, const CK_MECHANISM_TYPE* types);
    int (*set_mechanism_info)(CK_MECHANISM_TYPE type, CK_ULONG minKeySize,
                              CK_ULONG maxKeySize, CK_FLAGS flags);
    int (*set_null_entry)(const char* function);
    void (*set_function_list_null)(int on);
    void (*add_slot_event)(CK_SLOT_ID slot);
    int (*set_sensitive)(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
    void (*set_next_object_handle)(CK_OBJECT_HANDLE handle);
    void (*set_next_session_handle)(CK_SESSION_HANDLE handle);
    int (*is_initialized)(void);
    // Calls the Notify callback of every open session that has one, from a
    // thread of the module's own; stores up to cap return codes, returns the
    // number of callbacks called.
    size_t (*notify_sessions)(CK_NOTIFICATION event, CK_RV* rvs, size_t cap);
    // Hostile mode: every call but C_GetFunctionList is answered from a
    // stream seeded with seed (see answerHostile); off again on reset.
    void (*set_hostile)(int on, unsigned long long seed);
} MockControl;

typedef const MockControl* (*MockControlFn)(void);
const MockControl* mock_control(void);

#ifdef __cplusplus
}
#endif

#endif
