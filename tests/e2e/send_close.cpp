// send_close [ID]: sends the update window a command: by default its hidden close button
// (1000) as a click would, or IDOK (1) / IDCANCEL (2) as Enter and Esc would.
// Exit status 0 when a window was found within 10 s and told, 1 otherwise.
#include <windows.h>

#include <cstdlib>

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

int main(int argc, char** argv) {
    const int command = argc > 1 ? std::atoi(argv[1]) : 1000;
    // The window may still be coming up when the caller asks: look for it for a while.
    HWND found = nullptr;
    for (int attempt = 0; attempt < 100 && found == nullptr; ++attempt) {
        if (attempt > 0) Sleep(100);
        EnumWindows(FindUpdateWindow, reinterpret_cast<LPARAM>(&found));
    }
    if (found == nullptr) return 1;
    HWND control = command == 1000 ? GetDlgItem(found, 1000) : nullptr;
    PostMessageA(found, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
    return 0;
}
