// The worker thread: the run driven to its end, then the window closed.
#include <windows.h>
#include <objbase.h>

#include "RunCompletion.h"
#include "UpdateDialog.h"

// Runs the list, then (only when every item is in place) completes the run: the versions
// stored and the lobby started. Without the key the window is left open.
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
    DWORD serial = 0;
    if (run.IsRunComplete())
        leaveOpen = !CompleteRun(run.Header(), run.AcceptedRelease(&serial) ? &serial : nullptr);
    if (SUCCEEDED(com)) CoUninitialize();
    if (leaveOpen) return 0;

    Sleep(500);
    ::PostMessage(window, WM_CLOSE, 0, 0);
    return 0;
}
