// Behaviour tests of deskrun.dll against a real Win32 implementation (Wine or
// Windows), without a JVM: the DLL is loaded with LoadLibrary, the natives are
// found by their JNI names, and a fake JNIEnv serves the string functions.
// ShellExecuteA is watched through the DLL's import table, so the arguments
// the natives hand to the shell can be checked as well as their effect.
//
//   deskrun_test.exe <deskrun.dll> <show_child.exe> <work dir>
//   deskrun_test.exe --child nowindow|window <deskrun.dll>   (internal)
//
// Ends with "N passed, N failed"; exit status 1 on any failure.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "quorvel_deskrun_Deskrun.h"

namespace {

// ---- Results ---------------------------------------------------------------

int passedTests = 0;
int failedTests = 0;
const char* currentTest = "";
bool currentFailed = false;

DWORD startTick;
void begin(const char* name) {
    startTick = GetTickCount();
    currentTest = name;
    currentFailed = false;
}

void end() {
    if (currentFailed) {
        ++failedTests;
        std::printf("FAIL %s\n", currentTest);
    } else {
        ++passedTests;
        std::printf("ok   %s (%lu ms)\n", currentTest, GetTickCount() - startTick);
    }
    std::fflush(stdout);
}

__attribute__((format(gnu_printf, 2, 3))) bool expect(bool ok, const char* format, ...) {
    if (!ok) {
        currentFailed = true;
        std::printf("     %s: ", currentTest);
        va_list args;
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
        std::printf("\n");
    }
    return ok;
}

// ---- Fake JNI: strings -------------------------------------------------------

// A Java string as the natives see it: its modified UTF-8 bytes.
struct FakeString {
    const char* utf;
};

jstring javaString(FakeString& string) { return reinterpret_cast<jstring>(&string); }

// Characters handed out and not yet released. Each is a fresh copy, so a
// native that used them after release, or released the wrong pointer, shows.
struct Outstanding {
    jstring string;
    std::unique_ptr<char[]> chars;
};
Outstanding outstanding[8];
int stringsTaken = 0;  // GetStringUTFChars calls, failed ones included
int badReleases = 0;
int failingTake = 0;   // this call (1 = the first) fails as out of memory

const char* JNICALL fakeGetStringUTFChars(JNIEnv*, jstring string, jboolean* isCopy) {
    if (++stringsTaken == failingTake) {
        return nullptr;
    }
    const char* utf = reinterpret_cast<FakeString*>(string)->utf;
    for (Outstanding& slot : outstanding) {
        if (!slot.chars) {
            size_t size = std::strlen(utf) + 1;
            slot.string = string;
            slot.chars.reset(new char[size]);
            std::memcpy(slot.chars.get(), utf, size);
            if (isCopy != nullptr) {
                *isCopy = JNI_TRUE;
            }
            return slot.chars.get();
        }
    }
    return nullptr;
}

void JNICALL fakeReleaseStringUTFChars(JNIEnv*, jstring string, const char* chars) {
    for (Outstanding& slot : outstanding) {
        if (slot.chars && slot.chars.get() == chars && slot.string == string) {
            std::memset(slot.chars.get(), '#', std::strlen(chars));
            slot.chars.reset();
            return;
        }
    }
    ++badReleases;
}

bool isOutstanding(const char* chars) {
    for (const Outstanding& slot : outstanding) {
        if (slot.chars && slot.chars.get() == chars) {
            return true;
        }
    }
    return false;
}

int outstandingCount() {
    int count = 0;
    for (const Outstanding& slot : outstanding) {
        count += slot.chars ? 1 : 0;
    }
    return count;
}

void resetStrings() {
    for (Outstanding& slot : outstanding) {
        slot.chars.reset();
    }
    stringsTaken = 0;
    badReleases = 0;
    failingTake = 0;
}

// Only the string functions are filled: any other JNI call crashes the test.
JNINativeInterface_ jniFunctions;
JNIEnv_ jniEnv;

void makeJniEnv() {
    std::memset(&jniFunctions, 0, sizeof jniFunctions);
    jniFunctions.GetStringUTFChars = fakeGetStringUTFChars;
    jniFunctions.ReleaseStringUTFChars = fakeReleaseStringUTFChars;
    jniEnv.functions = &jniFunctions;
}

// ---- The natives -----------------------------------------------------------------

struct Natives {
    decltype(&Java_quorvel_deskrun_Deskrun_shellExecute) shellExecute;
    decltype(&Java_quorvel_deskrun_Deskrun_enableWindow) enableWindow;
    decltype(&Java_quorvel_deskrun_Deskrun_setForegroundWindow) setForegroundWindow;
    decltype(&Java_quorvel_deskrun_Deskrun_activateCurrentWindow) activateCurrentWindow;
    decltype(&Java_quorvel_deskrun_Deskrun_activateWindow) activateWindow;
    decltype(&Java_quorvel_deskrun_Deskrun_getPID) getPID;
};

HMODULE deskrun = nullptr;
Natives natives;

template <class Function>
bool resolve(Function& function, const char* name) {
    FARPROC address = GetProcAddress(deskrun, name);
    if (address == nullptr) {
        std::printf("deskrun.dll lacks %s\n", name);
        return false;
    }
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return true;
}

bool loadNatives(const char* dllPath) {
    deskrun = LoadLibraryA(dllPath);
    if (deskrun == nullptr) {
        std::printf("cannot load %s (error %lu)\n", dllPath, GetLastError());
        return false;
    }
    bool ok = resolve(natives.shellExecute, "Java_quorvel_deskrun_Deskrun_shellExecute");
    ok = resolve(natives.enableWindow, "Java_quorvel_deskrun_Deskrun_enableWindow") && ok;
    ok = resolve(natives.setForegroundWindow, "Java_quorvel_deskrun_Deskrun_setForegroundWindow") && ok;
    ok = resolve(natives.activateCurrentWindow, "Java_quorvel_deskrun_Deskrun_activateCurrentWindow") && ok;
    ok = resolve(natives.activateWindow, "Java_quorvel_deskrun_Deskrun_activateWindow") && ok;
    ok = resolve(natives.getPID, "Java_quorvel_deskrun_Deskrun_getPID") && ok;
    makeJniEnv();
    return ok;
}

// ---- Watching ShellExecuteA ----------------------------------------------------

using ShellExecuteAFunction = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
ShellExecuteAFunction realShellExecuteA = nullptr;

// The last call the DLL made, as it arrived.
struct ShellCall {
    int count;
    HWND owner;
    const char* operation;
    const char* file;
    const char* parameters;
    const char* directory;
    std::string operationText;
    std::string fileText;
    std::string parametersText;
    std::string directoryText;
    INT show;
    bool stringsLive;  // every non-null string still held from the JNIEnv
};
ShellCall lastShellCall;

HINSTANCE WINAPI watchShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                                    LPCSTR directory, INT show) {
    ShellCall& call = lastShellCall;
    ++call.count;
    call.owner = owner;
    call.operation = operation;
    call.file = file;
    call.parameters = parameters;
    call.directory = directory;
    call.operationText = operation != nullptr ? operation : "";
    call.fileText = file != nullptr ? file : "";
    call.parametersText = parameters != nullptr ? parameters : "";
    call.directoryText = directory != nullptr ? directory : "";
    call.show = show;
    call.stringsLive = true;
    for (const char* text : {operation, file, parameters, directory}) {
        if (text != nullptr && !isOutstanding(text)) {
            call.stringsLive = false;
        }
    }
    return realShellExecuteA(owner, operation, file, parameters, directory, show);
}

// Points the module's import of dll!function at a replacement.
bool patchImport(HMODULE module, const char* dll, const char* function, void* replacement, void** original) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) {
        return false;
    }
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name != 0;
         ++entry) {
        if (_stricmp(reinterpret_cast<char*>(base + entry->Name), dll) != 0) {
            continue;
        }
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) != 0) {
                continue;
            }
            DWORD protection = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) {
                return false;
            }
            *original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return true;
        }
    }
    return false;
}

bool watchShell() {
    void* original = nullptr;
    if (!patchImport(deskrun, "shell32.dll", "ShellExecuteA", reinterpret_cast<void*>(watchShellExecuteA),
                     &original)) {
        std::printf("cannot find deskrun.dll's import of ShellExecuteA\n");
        return false;
    }
    realShellExecuteA = reinterpret_cast<ShellExecuteAFunction>(original);
    return true;
}

// ---- Files and the child program ---------------------------------------------------

std::string childPath;  // show_child.exe
std::string workDir;    // ends in a backslash
std::string childOut;   // where the child reports

std::string fullPath(const char* path) {
    char buffer[MAX_PATH];
    DWORD size = GetFullPathNameA(path, MAX_PATH, buffer, nullptr);
    return size > 0 && size < MAX_PATH ? std::string(buffer) : std::string(path);
}

std::string readFile(const std::string& path) {
    std::string text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return text;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    std::fclose(file);
    return text;
}

// How long a child process may take, in milliseconds: DESKRUN_CHILD_WAIT
// seconds, 30 unless set (emulated runs set more).
DWORD childWaitMs() {
    char value[16];
    DWORD size = GetEnvironmentVariableA("DESKRUN_CHILD_WAIT", value, sizeof value);
    unsigned long seconds = size > 0 && size < sizeof value ? std::strtoul(value, nullptr, 10) : 0;
    return seconds > 0 ? static_cast<DWORD>(seconds * 1000) : 30000;
}

// Waits for the child started through the shell to write its report; a
// complete report ends with "end=1". Wine shows the renamed file a moment
// before the child lets go of it (opening fails then), so read until complete.
bool awaitChildReport(std::string& report) {
    for (DWORD waited = 0, limit = childWaitMs(); waited < limit; waited += 20) {
        if (GetFileAttributesA(childOut.c_str()) != INVALID_FILE_ATTRIBUTES) {
            report = readFile(childOut);
            if (report.size() >= 6 && report.compare(report.size() - 6, 6, "end=1\n") == 0) {
                DeleteFileA(childOut.c_str());
                return true;
            }
        }
        Sleep(20);
    }
    return false;
}

// Value of the first "key=value" line, or "<none>".
std::string field(const std::string& report, const std::string& key) {
    size_t at = 0;
    while (at < report.size()) {
        size_t endOfLine = report.find('\n', at);
        if (endOfLine == std::string::npos) {
            endOfLine = report.size();
        }
        if (report.compare(at, key.size() + 1, key + "=") == 0) {
            return report.substr(at + key.size() + 1, endOfLine - at - key.size() - 1);
        }
        at = endOfLine + 1;
    }
    return "<none>";
}

std::string utf8FromWide(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::string utf8FromCodePage(UINT codePage, const std::string& bytes) {
    int size = MultiByteToWideChar(codePage, 0, bytes.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.c_str(), -1, &wide[0], size);
    wide.resize(std::wcslen(wide.c_str()));
    return utf8FromWide(wide);
}

std::string currentDirectoryUtf8() {
    wchar_t cwd[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, cwd);
    return utf8FromWide(cwd);
}

// Calls the native as Java would and checks the string bookkeeping around it.
// With failTake, that GetStringUTFChars call fails: the native must then ask
// for no further string and leave the shell alone.
jint callShellExecute(jint window, FakeString* operation, FakeString* file, FakeString* parameters,
                      FakeString* directory, jint showCommand, int failTake = 0) {
    resetStrings();
    failingTake = failTake;
    lastShellCall = ShellCall();
    jint result = natives.shellExecute(&jniEnv, nullptr, window, operation ? javaString(*operation) : nullptr,
                                       file ? javaString(*file) : nullptr,
                                       parameters ? javaString(*parameters) : nullptr,
                                       directory ? javaString(*directory) : nullptr, showCommand);
    int given = (operation ? 1 : 0) + (file ? 1 : 0) + (parameters ? 1 : 0) + (directory ? 1 : 0);
    int wantTaken = failTake > 0 ? failTake : given;
    expect(lastShellCall.count == (failTake > 0 ? 0 : 1), "ShellExecuteA called %d times", lastShellCall.count);
    expect(stringsTaken == wantTaken, "%d strings asked for, want %d", stringsTaken, wantTaken);
    expect(outstandingCount() == 0 && badReleases == 0, "%d strings not released, %d bad releases",
           outstandingCount(), badReleases);
    expect(failTake > 0 || lastShellCall.stringsLive, "a string was released before the shell call");
    return result;
}

// ---- Windows ----------------------------------------------------------------------

const char* const windowClass = "DeskrunTestWindow";
HWND markedWindow = nullptr;  // its activation is written to stdout

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ACTIVATE && window == markedWindow && LOWORD(wParam) != WA_INACTIVE) {
        std::fputs("[activated]", stdout);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void registerWindowClass() {
    WNDCLASSA windowClassInfo{};
    windowClassInfo.lpfnWndProc = windowProc;
    windowClassInfo.hInstance = GetModuleHandleA(nullptr);
    windowClassInfo.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClassInfo.lpszClassName = windowClass;
    RegisterClassA(&windowClassInfo);
}

void pumpMessages() {
    for (int round = 0; round < 5; ++round) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
}

// A top-level window destroyed with the guard.
class Window {
public:
    explicit Window(const char* title, HWND owner = nullptr, DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE)
        : handle_(CreateWindowExA(0, windowClass, title, style, 40, 40, 240, 160, owner, nullptr,
                                  GetModuleHandleA(nullptr), nullptr)) {
        pumpMessages();
    }
    ~Window() {
        if (handle_ != nullptr) {
            DestroyWindow(handle_);
            pumpMessages();
        }
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND get() const { return handle_; }
    jlong java() const { return static_cast<jlong>(reinterpret_cast<INT_PTR>(handle_)); }

private:
    HWND handle_;
};

// Raises the window to the top of the z-order without activating it.
void raiseQuietly(HWND window) {
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    pumpMessages();
}

void makeForeground(HWND window) {
    SetForegroundWindow(window);
    pumpMessages();
}

BOOL CALLBACK collectProcessWindow(HWND window, LPARAM list) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == GetCurrentProcessId()) {
        auto* windows = reinterpret_cast<std::vector<HWND>*>(list);
        windows->push_back(window);
    }
    return TRUE;
}

// This process's top-level windows in enumeration order. Besides the test's
// own windows Wine gives each GUI thread a hidden, unowned "IME" window; made
// with the first window, it stays below those raised later, so the tests
// raise their window and check it comes first before asking for activation.
std::vector<HWND> processWindows() {
    std::vector<HWND> windows;
    EnumWindows(collectProcessWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::string describeWindows() {
    std::string text;
    char line[200];
    for (HWND window : processWindows()) {
        char className[64] = "";
        GetClassNameA(window, className, sizeof className);
        std::snprintf(line, sizeof line, " [%p %s owner=%p %s]", static_cast<void*>(window), className,
                      static_cast<void*>(GetParent(window)), IsWindowVisible(window) ? "visible" : "hidden");
        text += line;
    }
    return text;
}

jlong withHighBits(jlong window) { return static_cast<jlong>(0x5A5A5A5A00000000LL) | (window & 0xFFFFFFFFLL); }

// ---- Tests ------------------------------------------------------------------------

void testGetPid() {
    begin("getPID answers the current process identifier");
    jint pid = natives.getPID(&jniEnv, nullptr);
    expect(static_cast<DWORD>(pid) == GetCurrentProcessId(), "getPID %ld, process %lu", static_cast<long>(pid),
           GetCurrentProcessId());
    end();
}

void testShowCommands() {
    begin("shellExecute: every show command shows the child's window as its name says");
    // How the child's main window ends when made normal, and when made
    // maximized, then shown with the command it was started with. Pairs that
    // act alike on a fresh window look alike here: MINIMIZE and
    // SHOW_MIN_NO_ACTIVE; SHOW_NORMAL, RESTORE and (under Wine) SHOW_DEFAULT.
    struct Case {
        jint java;
        const char* name;
        const char* fromNormal;
        const char* fromMaximized;
        bool active;
    };
    const Case cases[] = {{1, "HIDE", "hidden", "hidden", false},
                          {2, "MAXIMIZE", "maximized", "maximized", true},
                          {3, "MINIMIZE", "minimized", "minimized", false},
                          {4, "RESTORE", "normal", "normal", true},
                          {5, "SHOW", "normal", "maximized", true},
                          {6, "SHOW_DEFAULT", "normal", "normal", true},
                          {7, "SHOW_MINIMIZED", "minimized", "minimized", true},
                          {8, "SHOW_MIN_NO_ACTIVE", "minimized", "minimized", false},
                          {9, "SHOW_NA", "normal", "maximized", false},
                          {10, "SHOW_NO_ACTIVATE", "normal", "normal", false},
                          {0, "SHOW_NORMAL", "normal", "normal", true},
                          {11, "11 (unknown)", "normal", "normal", true},
                          {-5, "-5 (unknown)", "normal", "normal", true},
                          {static_cast<jint>(0x80000000u), "0x80000000 (unknown)", "normal", "normal", true}};
    FakeString open{"open"};
    FakeString file{childPath.c_str()};
    for (const Case& c : cases) {
        jint result = callShellExecute(0, &open, &file, nullptr, nullptr, c.java);
        std::string report;
        if (!expect(result > 32, "%s: shellExecute gave %ld", c.name, static_cast<long>(result)) ||
            !expect(awaitChildReport(report), "%s: the child did not report", c.name)) {
            continue;
        }
        expect((std::strtoul(field(report, "flags").c_str(), nullptr, 10) & STARTF_USESHOWWINDOW) != 0,
               "%s: child's flags %s lack STARTF_USESHOWWINDOW", c.name, field(report, "flags").c_str());
        std::string got = field(report, "from-normal") + "/" + field(report, "from-maximized") +
                          (field(report, "active") == "1" ? " active" : "");
        std::string want = std::string(c.fromNormal) + "/" + c.fromMaximized + (c.active ? " active" : "");
        expect(got == want, "%s: the window became %s, want %s", c.name, got.c_str(), want.c_str());
    }
    end();
}

void testOwnerWindow() {
    begin("shellExecute owner: 0 and negative give the desktop window, others pass through");
    Window owner("owner");
    FakeString missing{"Z:\\deskrun-no-such-dir\\no-such-program.exe"};
    const jint desktopCases[] = {0, -1, static_cast<jint>(0x80000000u)};
    for (jint window : desktopCases) {
        callShellExecute(window, nullptr, &missing, nullptr, nullptr, 5);
        expect(lastShellCall.owner == GetDesktopWindow(), "window %ld gave owner %p, desktop is %p",
               static_cast<long>(window), static_cast<void*>(lastShellCall.owner),
               static_cast<void*>(GetDesktopWindow()));
    }
    jint ownerValue = static_cast<jint>(reinterpret_cast<INT_PTR>(owner.get()));
    callShellExecute(ownerValue, nullptr, &missing, nullptr, nullptr, 5);
    expect(lastShellCall.owner == owner.get(), "window %p gave owner %p", static_cast<void*>(owner.get()),
           static_cast<void*>(lastShellCall.owner));
    end();
}

void testNullStrings() {
    begin("shellExecute with null operation, parameters and directory");
    FakeString file{childPath.c_str()};
    jint result = callShellExecute(0, nullptr, &file, nullptr, nullptr, 5);
    expect(lastShellCall.operation == nullptr && lastShellCall.parameters == nullptr &&
               lastShellCall.directory == nullptr,
           "null strings reached the shell as %p %p %p", static_cast<const void*>(lastShellCall.operation),
           static_cast<const void*>(lastShellCall.parameters), static_cast<const void*>(lastShellCall.directory));
    expect(lastShellCall.fileText == childPath, "file reached the shell as \"%s\"", lastShellCall.fileText.c_str());
    std::string report;
    if (expect(result > 32, "shellExecute gave %ld", static_cast<long>(result)) &&
        expect(awaitChildReport(report), "the child did not report")) {
        expect(field(report, "args") == "0", "child got %s arguments", field(report, "args").c_str());
        expect(field(report, "cwd") == currentDirectoryUtf8(), "child ran in \"%s\", not the current \"%s\"",
               field(report, "cwd").c_str(), currentDirectoryUtf8().c_str());
    }
    end();
}

void testStringsReachChild() {
    begin("shellExecute passes operation, parameters and directory to the shell");
    FakeString open{"open"};
    FakeString file{childPath.c_str()};
    FakeString parameters{"alpha \"beta gamma\""};
    std::string directoryPath = workDir + "rundir";
    CreateDirectoryA(directoryPath.c_str(), nullptr);
    FakeString directory{directoryPath.c_str()};
    jint result = callShellExecute(0, &open, &file, &parameters, &directory, 5);
    expect(lastShellCall.operationText == "open" && lastShellCall.parametersText == parameters.utf &&
               lastShellCall.directoryText == directoryPath,
           "shell got \"%s\" \"%s\" \"%s\"", lastShellCall.operationText.c_str(),
           lastShellCall.parametersText.c_str(), lastShellCall.directoryText.c_str());
    std::string report;
    if (expect(result > 32, "shellExecute gave %ld", static_cast<long>(result)) &&
        expect(awaitChildReport(report), "the child did not report")) {
        expect(field(report, "args") == "2" && report.find("arg=alpha\narg=beta gamma\n") != std::string::npos,
               "child arguments wrong:\n%s", report.c_str());
        expect(_stricmp(field(report, "cwd").c_str(), directoryPath.c_str()) == 0, "child ran in \"%s\", want \"%s\"",
               field(report, "cwd").c_str(), directoryPath.c_str());
    }
    end();
}

void testMissingFile() {
    begin("shellExecute of a missing file gives the shell's error 2");
    FakeString open{"open"};
    std::string missingPath = workDir + "no-such-program.exe";
    FakeString missing{missingPath.c_str()};
    jint result = callShellExecute(0, &open, &missing, nullptr, nullptr, 1);
    expect(result == SE_ERR_FNF, "shellExecute gave %ld, want %d", static_cast<long>(result), SE_ERR_FNF);
    end();
}

// The native must hand the modified UTF-8 bytes to ShellExecuteA untouched:
// the shell then reads them in the ANSI code page. A copy of the child named
// by those same bytes through CopyFileA (also ANSI) is what it must find;
// a native that decoded the UTF-8 would look for a file that does not exist.
void testStringFailure() {
    begin("shellExecute stops before the shell when a string's characters cannot be had");
    FakeString open{"open"};
    FakeString file{childPath.c_str()};
    FakeString parameters{"alpha"};
    FakeString directory{"C:\\"};
    for (int failing = 1; failing <= 4; ++failing) {
        jint result = callShellExecute(0, &open, &file, &parameters, &directory, 5, failing);
        expect(result == SE_ERR_OOM, "string %d failing: shellExecute gave %ld, want SE_ERR_OOM", failing,
               static_cast<long>(result));
    }
    end();
}

void testNonAsciiFileName() {
    begin("shellExecute hands a non-ASCII file name over as its modified UTF-8 bytes");
    // e-acute, then U+1F600 as modified UTF-8 writes it: two 3-byte surrogates,
    // where standard UTF-8 has F0 9F 98 80.
    const std::string name = "deskrun-child-\xC3\xA9\xED\xA0\xBD\xED\xB8\x80.exe";
    std::string ansiPath = workDir + name;
    std::string decodedPath = utf8FromCodePage(CP_ACP, ansiPath);  // the name the shell will open, as UTF-8
    expect(decodedPath != ansiPath, "code page %u reads the bytes as UTF-8: nothing to tell apart", GetACP());
    expect(CopyFileA(childPath.c_str(), ansiPath.c_str(), FALSE) != 0, "cannot copy the child to its ANSI name");

    FakeString open{"open"};
    FakeString file{ansiPath.c_str()};
    jint result = callShellExecute(0, &open, &file, nullptr, nullptr, 5);
    expect(lastShellCall.fileText == ansiPath, "the shell got other bytes than the string's");
    std::string report;
    if (expect(result > 32, "shellExecute gave %ld", static_cast<long>(result)) &&
        expect(awaitChildReport(report), "the child did not report")) {
        expect(field(report, "module") == decodedPath, "the child started as \"%s\", want \"%s\"",
               field(report, "module").c_str(), decodedPath.c_str());
    }
    DeleteFileA(ansiPath.c_str());
    end();
}

void testEnableWindow() {
    begin("enableWindow returns the previous state and uses the low 32 bits");
    Window window("enable");
    jint result = natives.enableWindow(&jniEnv, nullptr, window.java(), JNI_FALSE);
    expect(result == 0, "disabling an enabled window gave %ld, want 0", static_cast<long>(result));
    expect(!IsWindowEnabled(window.get()), "window still enabled");
    result = natives.enableWindow(&jniEnv, nullptr, withHighBits(window.java()), JNI_FALSE);
    expect(result != 0, "disabling a disabled window gave 0");
    result = natives.enableWindow(&jniEnv, nullptr, withHighBits(window.java()), JNI_TRUE);
    expect(result != 0, "enabling a disabled window gave 0");
    expect(IsWindowEnabled(window.get()), "window not enabled by a handle with high bits set");
    // The handle in the high half only: the native sees window 0 and must fail.
    result = natives.enableWindow(&jniEnv, nullptr, window.java() << 32, JNI_FALSE);
    expect(result == 0 && IsWindowEnabled(window.get()), "handle in the high half acted on the window (%ld)",
           static_cast<long>(result));
    end();
}

void testSetForegroundWindow() {
    begin("setForegroundWindow raises the window given in the low 32 bits");
    Window target("target");
    Window other("other");
    makeForeground(other.get());
    expect(GetForegroundWindow() == other.get(), "setup: other window not in front");
    jint result = natives.setForegroundWindow(&jniEnv, nullptr, withHighBits(target.java()));
    pumpMessages();
    expect(result != 0, "setForegroundWindow gave 0");
    expect(GetForegroundWindow() == target.get(), "foreground is %p, want %p",
           static_cast<void*>(GetForegroundWindow()), static_cast<void*>(target.get()));
    end();
}

void testActivateCurrentWindow() {
    begin("activateCurrentWindow activates the process's first top-level window");
    Window first("first");
    Window other("other");
    makeForeground(other.get());
    raiseQuietly(first.get());
    std::vector<HWND> order = processWindows();
    expect(!order.empty() && order.front() == first.get(), "setup: the window is not the first; windows:%s",
           describeWindows().c_str());
    expect(GetForegroundWindow() == other.get(), "setup: other window not in front");
    jint result = natives.activateCurrentWindow(&jniEnv, nullptr);
    pumpMessages();
    expect(result == 0, "activateCurrentWindow gave %ld, want 0", static_cast<long>(result));
    expect(GetForegroundWindow() == first.get(), "foreground is %p, want %p; windows:%s",
           static_cast<void*>(GetForegroundWindow()), static_cast<void*>(first.get()), describeWindows().c_str());
    end();
}

void testOwnedPopupSkipped() {
    begin("activateCurrentWindow skips an owned pop-up and activates its owner");
    Window owner("owner");
    Window popup("popup", owner.get(), WS_POPUP | WS_CAPTION | WS_VISIBLE);
    Window other("other");
    makeForeground(other.get());
    raiseQuietly(owner.get());
    std::vector<HWND> order = processWindows();
    expect(!order.empty() && order.front() == popup.get(),
           "setup: the pop-up is not the first window; windows:%s", describeWindows().c_str());
    expect(GetForegroundWindow() == other.get(), "setup: other window not in front");
    jint result = natives.activateCurrentWindow(&jniEnv, nullptr);
    pumpMessages();
    expect(result == 0, "activateCurrentWindow gave %ld, want 0", static_cast<long>(result));
    expect(GetForegroundWindow() == owner.get(), "foreground is %p, want the owner %p (pop-up %p)",
           static_cast<void*>(GetForegroundWindow()), static_cast<void*>(owner.get()),
           static_cast<void*>(popup.get()));
    end();
}

// ---- Tests in a child process (own windows, captured standard output) ---------------

// Runs this program as "--child <mode>" with standard output in a file.
bool runChild(const char* mode, const std::string& dllPath, DWORD& processId, DWORD& exitCode, std::string& output) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string outPath = workDir + "child-stdout-" + mode + ".txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        return false;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string commandLine = std::string("\"") + self + "\" --child " + mode + " \"" + dllPath + "\"";
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(self, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process);
    CloseHandle(out);
    if (!started) {
        return false;
    }
    // Keep serving this process's windows meanwhile: a child that wrongly
    // activates one of them waits for their answers.
    DWORD deadline = GetTickCount() + childWaitMs();
    bool finished = false;
    while (!finished && static_cast<LONG>(deadline - GetTickCount()) > 0) {
        DWORD woken = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 100, QS_ALLINPUT);
        finished = woken == WAIT_OBJECT_0;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    if (!finished) {
        TerminateProcess(process.hProcess, 99);
    }
    GetExitCodeProcess(process.hProcess, &exitCode);
    processId = process.dwProcessId;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    output = readFile(outPath);
    return finished;
}

void testNoWindows(const std::string& dllPath) {
    begin("a process without windows: both activations find nothing and answer nonzero");
    // This process keeps a visible window meanwhile: a native that ignored
    // the process identifier would activate it and answer 0.
    Window bystander("bystander");
    DWORD processId = 0;
    DWORD exitCode = 0;
    std::string output;
    if (expect(runChild("nowindow", dllPath, processId, exitCode, output), "child did not run")) {
        expect((exitCode & 1) == 0, "activateCurrentWindow answered 0 (child exit %lu)", exitCode);
        expect((exitCode & 2) == 0, "activateWindow answered 0 (child exit %lu)", exitCode);
        expect(exitCode < 4, "child failed with exit code %lu", exitCode);
        std::string want = "windowPID=" + std::to_string(processId);
        expect(output == want, "stdout \"%s\", want \"%s\"", output.c_str(), want.c_str());
    }
    end();
}

void testActivateWindowOutput(const std::string& dllPath) {
    begin("activateWindow writes windowPID= before activating the process's window");
    DWORD processId = 0;
    DWORD exitCode = 0;
    std::string output;
    if (expect(runChild("window", dllPath, processId, exitCode, output), "child did not run")) {
        expect((exitCode & 1) == 0, "activateWindow answered nonzero (child exit %lu)", exitCode);
        expect((exitCode & 2) == 0, "the window did not come to the foreground (child exit %lu)", exitCode);
        expect(exitCode < 4, "child failed with exit code %lu", exitCode);
        // "[activated]" is written by the window when it is activated.
        std::string want = "windowPID=" + std::to_string(processId) + "[activated]";
        expect(output == want, "stdout \"%s\", want \"%s\"", output.c_str(), want.c_str());
    }
    end();
}

// Exit code: bit 0 set when an activation answered 0 wrongly (or nonzero
// wrongly in "window" mode), bit 1 for the second check, 4 and up for setup.
int childMain(const std::string& mode, const char* dllPath) {
    if (!loadNatives(dllPath)) {
        return 8;
    }
    DWORD self = GetCurrentProcessId();
    if (mode == "nowindow") {
        int code = 0;
        if (natives.activateCurrentWindow(&jniEnv, nullptr) == 0) {
            code |= 1;
        }
        if (natives.activateWindow(&jniEnv, nullptr, static_cast<jint>(self)) == 0) {
            code |= 2;
        }
        return code;
    }
    if (mode == "window") {
        registerWindowClass();
        Window target("target");
        Window other("other");
        makeForeground(other.get());
        raiseQuietly(target.get());
        std::vector<HWND> order = processWindows();
        if (order.empty() || order.front() != target.get() || GetForegroundWindow() == target.get()) {
            return 4;
        }
        markedWindow = target.get();
        jint result = natives.activateWindow(&jniEnv, nullptr, static_cast<jint>(self));
        markedWindow = nullptr;
        pumpMessages();
        return (result == 0 ? 0 : 1) | (GetForegroundWindow() == target.get() ? 0 : 2);
    }
    return 9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        return childMain(argv[2], argv[3]);
    }
    if (argc != 4) {
        std::printf("usage: deskrun_test <deskrun.dll> <show_child.exe> <work dir>\n");
        return 2;
    }
    std::string dllPath = fullPath(argv[1]);
    childPath = fullPath(argv[2]);
    workDir = fullPath(argv[3]);
    if (workDir.empty() || workDir.back() != '\\') {
        workDir += '\\';
    }
    CreateDirectoryA(workDir.c_str(), nullptr);
    childOut = workDir + "child-report.txt";
    DeleteFileA(childOut.c_str());
    SetEnvironmentVariableA("DESKRUN_CHILD_OUT", childOut.c_str());

    if (!loadNatives(dllPath.c_str()) || !watchShell()) {
        std::printf("0 passed, 1 failed\n");
        return 1;
    }
    registerWindowClass();

    testGetPid();
    testShowCommands();
    testOwnerWindow();
    testNullStrings();
    testStringsReachChild();
    testMissingFile();
    testStringFailure();
    testNonAsciiFileName();
    testEnableWindow();
    testSetForegroundWindow();
    testActivateCurrentWindow();
    testOwnedPopupSkipped();
    testNoWindows(dllPath);
    testActivateWindowOutput(dllPath);

    std::printf("%d passed, %d failed\n", passedTests, failedTests);
    return failedTests == 0 ? 0 : 1;
}
