// The two decisions deskrun makes on its own, kept apart from the Win32 calls.
#ifndef DESKRUN_WINDOW_RULES_H
#define DESKRUN_WINDOW_RULES_H

#include <windows.h>

namespace deskrun {

struct ShowCommandRow {
    int javaValue;
    int showCommand;
};

// Java show command to Win32 show command.
constexpr ShowCommandRow showCommandTable[] = {
    {1, SW_HIDE},
    {2, SW_MAXIMIZE},
    {3, SW_MINIMIZE},
    {4, SW_RESTORE},
    {5, SW_SHOW},
    {6, SW_SHOWDEFAULT},
    {7, SW_SHOWMINIMIZED},
    {8, SW_SHOWMINNOACTIVE},
    {9, SW_SHOWNA},
    {10, SW_SHOWNOACTIVATE},
};

// Values outside the table (0, negative, above 10) show the window normally.
constexpr int toShowCommand(int javaValue) {
    for (const ShowCommandRow& row : showCommandTable) {
        if (row.javaValue == javaValue) {
            return row.showCommand;
        }
    }
    return SW_SHOWNORMAL;
}

// Whether a top-level window met during enumeration is the one to activate
// for the wanted process. An owned pop-up never is, whatever its process:
// raising it would leave its owner behind. processOf(window) gives the
// window's process and is asked only for unowned windows. Visibility is
// deliberately not considered.
template <class ProcessOf>
bool isWindowToActivate(HWND window, HWND parent, DWORD wantedProcess, ProcessOf processOf) {
    if (parent != nullptr) {
        return false;
    }
    return processOf(window) == wantedProcess;
}

}  // namespace deskrun

#endif
