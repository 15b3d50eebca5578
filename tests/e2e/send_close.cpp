// Sends the update window its hidden close command (button 1000), as a click would.
// Exit status 0 when a window was found and told, 1 otherwise.
#include <windows.h>

namespace {

BOOL CALLBACK FindUpdateWindow(HWND wnd, LPARAM found) {
    char cls[64] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0 && GetDlgItem(wnd, 1000) != nullptr) {
        *reinterpret_cast<HWND*>(found) = wnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main() {
    HWND found = nullptr;
    EnumWindows(FindUpdateWindow, reinterpret_cast<LPARAM>(&found));
    if (found == nullptr) return 1;
    HWND button = GetDlgItem(found, 1000);
    PostMessageA(found, WM_COMMAND, MAKEWPARAM(1000, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return 0;
}
