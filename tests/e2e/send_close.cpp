// send_close [ID]: sends the update window a command: by default its hidden close button
// (1000) as a click would, or IDOK (1) / IDCANCEL (2) as Enter and Esc would.
// Only a window of the Update.exe in the current directory counts: other tests may have
// windows of the same kind on the same desktop at the same time.
// Exit status 0 when a window was found within 10 s and told, 1 otherwise.
#include <windows.h>

#include <cstdlib>

namespace {

struct FileId {
    DWORD volume = 0;
    DWORD high = 0;
    DWORD low = 0;
    bool valid = false;
};

FileId IdOf(const char* path) {
    FileId id;
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info)) {
        id.volume = info.dwVolumeSerialNumber;
        id.high = info.nFileIndexHigh;
        id.low = info.nFileIndexLow;
        id.valid = true;
    }
    CloseHandle(file);
    return id;
}

// Compares files rather than path strings: the same file may be named in more than one form.
bool IsProgramOf(HWND wnd, const FileId& wanted) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return false;
    char image[MAX_PATH] = {};
    DWORD size = sizeof image;
    const BOOL named = QueryFullProcessImageNameA(process, 0, image, &size);
    CloseHandle(process);
    if (!named) return false;
    const FileId id = IdOf(image);
    return id.valid && id.volume == wanted.volume && id.high == wanted.high &&
           id.low == wanted.low;
}

struct Search {
    FileId program;
    HWND found = nullptr;
};

BOOL CALLBACK FindUpdateWindow(HWND wnd, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    char cls[64] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0 && GetDlgItem(wnd, 1000) != nullptr &&
        IsProgramOf(wnd, search->program)) {
        search->found = wnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    const int command = argc > 1 ? std::atoi(argv[1]) : 1000;
    Search search;
    search.program = IdOf("Update.exe");
    if (!search.program.valid) return 1;
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
