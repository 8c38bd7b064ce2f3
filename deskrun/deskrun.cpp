// JNI natives of quorvel.deskrun.Deskrun over the Windows shell and window
// manager. No state: every Win32 result goes back to Java unchanged.

// printf must be the C runtime's own (msvcrt.dll), not mingw's replacement:
// choose it before any header, and take stdio.h before windows.h, which drags
// in C++ headers that would switch the replacement back on.
#define __USE_MINGW_ANSI_STDIO 0
#include <stdio.h>

#include <windows.h>
#include <shellapi.h>

#include "quorvel_deskrun_Deskrun.h"
#include "window_rules.h"

namespace {

// The modified UTF-8 bytes of a Java string for the life of the guard;
// a null string stays a null pointer. GetStringUTFChars answers null only
// with an OutOfMemoryError pending, after which JNI allows nothing but
// releases: such a failure clears ok, and a guard made while ok is false
// takes nothing.
class UtfChars {
public:
    UtfChars(JNIEnv* env, jstring string, bool& ok)
        : env_(env), string_(string),
          chars_(ok && string != nullptr ? env->GetStringUTFChars(string, nullptr) : nullptr) {
        if (string != nullptr && chars_ == nullptr) {
            ok = false;
        }
    }
    ~UtfChars() {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(string_, chars_);
        }
    }
    UtfChars(const UtfChars&) = delete;
    UtfChars& operator=(const UtfChars&) = delete;

    const char* get() const { return chars_; }

private:
    JNIEnv* env_;
    jstring string_;
    const char* chars_;
};

// Window handles have 32 significant bits on every Windows, sign-extended on
// x64; Java hands them over in a long whose upper half means nothing.
HWND windowFromJava(jlong window) {
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(static_cast<ULONG>(window))));
}

DWORD owningProcess(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

BOOL CALLBACK activateProcessWindowProc(HWND window, LPARAM processId) {
    if (!deskrun::isWindowToActivate(window, GetParent(window), static_cast<DWORD>(processId), owningProcess)) {
        return TRUE;
    }
    // Windows may refuse any of these; there is nothing better to try.
    SetForegroundWindow(window);
    BringWindowToTop(window);
    SetActiveWindow(window);
    return FALSE;
}

jint activateProcessWindow(DWORD processId) {
    return EnumWindows(activateProcessWindowProc, static_cast<LPARAM>(processId));
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_quorvel_deskrun_Deskrun_shellExecute(
    JNIEnv* env, jclass, jint window, jstring operation, jstring file, jstring parameters,
    jstring directory, jint showCommand) {
    HWND owner = window <= 0 ? GetDesktopWindow() : reinterpret_cast<HWND>(static_cast<LONG_PTR>(window));
    // The bytes go to the ANSI entry point as they are, without conversion.
    bool ok = true;
    UtfChars operationChars(env, operation, ok);
    UtfChars fileChars(env, file, ok);
    UtfChars parametersChars(env, parameters, ok);
    UtfChars directoryChars(env, directory, ok);
    if (!ok) {
        // The shell's own answer for lack of memory; Java sees the pending
        // OutOfMemoryError rather than this value.
        return SE_ERR_OOM;
    }
    HINSTANCE result = ShellExecuteA(owner, operationChars.get(), fileChars.get(), parametersChars.get(),
                                     directoryChars.get(), deskrun::toShowCommand(showCommand));
    return static_cast<jint>(reinterpret_cast<INT_PTR>(result));
}

JNIEXPORT jint JNICALL Java_quorvel_deskrun_Deskrun_enableWindow(JNIEnv*, jclass, jlong window, jboolean enable) {
    return EnableWindow(windowFromJava(window), enable);
}

JNIEXPORT jint JNICALL Java_quorvel_deskrun_Deskrun_setForegroundWindow(JNIEnv*, jclass, jlong window) {
    return SetForegroundWindow(windowFromJava(window));
}

JNIEXPORT jint JNICALL Java_quorvel_deskrun_Deskrun_activateCurrentWindow(JNIEnv*, jclass) {
    return activateProcessWindow(GetCurrentProcessId());
}

JNIEXPORT jint JNICALL Java_quorvel_deskrun_Deskrun_activateWindow(JNIEnv*, jclass, jint processId) {
    // Left unflushed: the runtime writes it out with its other output.
    printf("windowPID=%d", static_cast<int>(processId));
    return activateProcessWindow(static_cast<DWORD>(processId));
}

JNIEXPORT jint JNICALL Java_quorvel_deskrun_Deskrun_getPID(JNIEnv*, jclass) {
    return static_cast<jint>(GetCurrentProcessId());
}

}  // extern "C"
