// The worker thread and the completion of a run.
#include <windows.h>
#include <objbase.h>

#include "LobbyLaunch.h"
#include "Scoped.h"
#include "UpdateDialog.h"

namespace {

const char kVersionKey[] = "Software\\Kestro\\Halvora\\FileVersion";

// Stores the two version numbers and starts the lobby. Without the key nothing is written
// or started, and the window is left open (false).
bool CompleteRun(const HandOverHeader& header) {
    HKEY raw = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kVersionKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    ScopedRegKey key(raw);
    const DWORD version1 = header.dwFileVersion1;
    const DWORD version2 = header.dwFileVersion2;
    RegSetValueExA(key, "FileVersion1", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version1),
                   sizeof version1);
    RegSetValueExA(key, "FileVersion2", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version2),
                   sizeof version2);
    LaunchLobby(kConfigFile, StartWithShell);
    return true;
}

}  // namespace

UINT UpdateThreadProc(LPVOID pParam) {
    UpdateDialog* dialog = static_cast<UpdateDialog*>(pParam);
    // Read once, now: the interface thread clears the dialog's handle when the window
    // goes, which may be while this thread is still in a download.
    const HWND window = dialog->GetSafeHwnd();
    // The download moniker and the shell want COM on the thread that calls them.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    UpdateRun& run = dialog->Run();
    while (!run.IsStopping()) run.DownloadNextItem();

    Sleep(1000);
    bool leaveOpen = false;
    if (run.IsRunComplete()) leaveOpen = !CompleteRun(run.Header());
    if (SUCCEEDED(com)) CoUninitialize();
    if (leaveOpen) return 0;

    Sleep(500);
    ::PostMessage(window, WM_CLOSE, 0, 0);
    return 0;
}
