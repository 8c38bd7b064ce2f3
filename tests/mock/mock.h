// Control interface of the mock PKCS#11 module, shared by the module and the
// JNI bridge (libmockctl.so). Every variant library exports one control entry
// point, mock_control(), besides its C_ functions; the bridge finds it with
// dlsym so that each loaded variant is driven through its own state.
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

// Results of the control commands.
enum {
    MOCK_OK = 0,
    MOCK_UNKNOWN_NAME = -1,   // no such command, C_ function, field or object
    MOCK_NOT_APPLICABLE = -2  // the function or field does not take this setting
};

// Output phases: told apart by a null (query) or non-null (fill) output buffer.
enum { MOCK_PHASE_QUERY = 1, MOCK_PHASE_FILL = 2 };

// One control command, such as "set_rv" for name "C_Login" with numbers
// {call, rv}; the commands are listed in mock_core.cpp and described in
// corvaletest.Mock.
typedef struct MockCommand {
    const char* op;
    const char* name;  // a C_ function or structure field, or null
    const long long* numbers;
    size_t count;
    const unsigned char* bytes;  // may be null
    size_t length;
} MockCommand;

// Receives a command's answer (text: the log, a count, codes one a line) or,
// on failure, its message; called at most once.
typedef void (*MockReply)(void* context, const char* text, size_t length);

typedef int (*MockControlFn)(const MockCommand* command, MockReply reply, void* context);
int mock_control(const MockCommand* command, MockReply reply, void* context);

#ifdef __cplusplus
}
#endif

#endif
