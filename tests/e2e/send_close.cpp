// send_close [ID]: sends the update window a command: by default its hidden close button
// (1000) as a click would, or IDOK (1) / IDCANCEL (2) as Enter and Esc would.
// Only a window of the Update.exe in the current directory counts: other tests may have
// windows of the same kind on the same desktop at the same time.
// Exit status 0 when a window was found within 10 s and told, 1 otherwise.
#include <windows.h>

#include <cstdlib>

namespace {

struct Search {
    char program[MAX_PATH];
    HWND found = nullptr;
};

BOOL CALLBACK FindUpdateWindow(HWND wnd, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    char cls[64] = {}, image[MAX_PATH] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") != 0 || GetDlgItem(wnd, 1000) == nullptr) return TRUE;
    DWORD pid = 0, size = sizeof image;
    GetWindowThreadProcessId(wnd, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return TRUE;
    const BOOL named = QueryFullProcessImageNameA(process, 0, image, &size);
    CloseHandle(process);
    if (!named || lstrcmpiA(image, search->program) != 0) return TRUE;
    search->found = wnd;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    const int command = argc > 1 ? std::atoi(argv[1]) : 1000;
    Search search;
    if (GetFullPathNameA("Update.exe", MAX_PATH, search.program, nullptr) == 0) return 1;
    // The window may still be coming up when the caller asks: look for it for a while.
    for (int attempt = 0; attempt < 100 && search.found == nullptr; ++attempt) {
        if (attempt > 0) Sleep(100);
        EnumWindows(FindUpdateWindow, reinterpret_cast<LPARAM>(&search));
    }
    if (search.found == nullptr) return 1;
    HWND control = command == 1000 ? GetDlgItem(search.found, 1000) : nullptr;
    PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
    return 0;
}
