// Started by the deskrun tests through the shell: reports how it was started
// (show command, working directory, own file name, arguments) and what its
// window became when shown the default way, into the file named by
// DESKRUN_CHILD_OUT, as UTF-8 "key=value" lines ending in "end=1". The file
// is written aside and renamed into place.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return std::string();
    }
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

// Shows a hidden window, made normal or maximized, as a program shows its
// main window: with the show command WinMain was given. Answers what the
// window became (hidden, minimized, maximized or normal), and whether it was
// activated. The two starts tell the commands that keep a window's state
// (SW_SHOW, SW_SHOWNA) from those that set it.
std::string showWindow(DWORD style, int showCommand, bool& active) {
    HWND window = CreateWindowExW(0, L"DeskrunShowChild", L"show child", WS_OVERLAPPEDWINDOW | style, 40, 40, 240,
                                  160, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        return "none";
    }
    ShowWindow(window, showCommand);
    for (int round = 0; round < 5; ++round) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        Sleep(10);
    }
    active = GetActiveWindow() == window;
    const char* state = !IsWindowVisible(window) ? "hidden"
                        : IsIconic(window)       ? "minimized"
                        : IsZoomed(window)       ? "maximized"
                                                 : "normal";
    DestroyWindow(window);
    return state;
}

std::string windowReport(int showCommand) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"DeskrunShowChild";
    RegisterClassW(&windowClass);
    bool active = false;
    bool unused = false;
    std::string report = "from-normal=" + showWindow(0, showCommand, active) + "\n";
    report += "active=" + std::to_string(active ? 1 : 0) + "\n";
    report += "from-maximized=" + showWindow(WS_MAXIMIZE, showCommand, unused) + "\n";
    return report;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
    wchar_t outPath[MAX_PATH];
    if (GetEnvironmentVariableW(L"DESKRUN_CHILD_OUT", outPath, MAX_PATH) == 0) {
        return 2;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);

    wchar_t cwd[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, cwd);
    wchar_t module[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, module, MAX_PATH);

    std::string report;
    report += "flags=" + std::to_string(startup.dwFlags) + "\n";
    report += "cwd=" + utf8(cwd) + "\n";
    report += "module=" + utf8(module) + "\n";
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    report += "args=" + std::to_string(argc > 0 ? argc - 1 : 0) + "\n";
    for (int i = 1; i < argc; ++i) {
        report += "arg=" + utf8(argv[i]) + "\n";
    }
    LocalFree(argv);
    report += windowReport(showCommand);
    report += "end=1\n";

    std::wstring tmpPath = std::wstring(outPath) + L".tmp";
    HANDLE file = CreateFileW(tmpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 3;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || !MoveFileExW(tmpPath.c_str(), outPath, MOVEFILE_REPLACE_EXISTING)) {
        return 4;
    }
    return 0;
}
