// CWinApp: the application object. A program declares exactly one, as a global:
//
//   class MyApp : public CWinApp { BOOL InitInstance() override; };
//   MyApp theApp;
//
// The framework's WinMain (in WinApp.cpp, linked in with CWinApp's constructor, so
// programs and tests without an application object keep their own main) finds that
// object, sets m_hInstance and calls InitInstance. When InitInstance returns FALSE it
// calls ExitInstance and ends the program with its result; when it returns TRUE it runs
// Run's message loop and ends with Run's result. With no application object it ends at
// once with -1.
#pragma once

#include <windows.h>

#include "MessageMap.h"

class CWnd;

#define ID_HELP 0xE146

class CWinApp : public CCmdTarget {
public:
    // Registers the object as the application; a second one built while the first exists
    // is not registered.
    CWinApp();
    ~CWinApp() override;

    // Set-up; FALSE ends the program (the base does nothing and returns TRUE).
    virtual BOOL InitInstance();
    // Clean-up before the program ends; returns the program's exit code: the wParam of
    // the WM_QUIT that ended Run, -1 when GetMessage failed, 0 when Run did not run.
    virtual int ExitInstance();
    // The message loop: runs until WM_QUIT (posted also when the main window is
    // destroyed), then returns ExitInstance().
    virtual int Run();

    // Icon nIDResource of the resource module; null when there is none.
    HICON LoadIcon(UINT nIDResource) const;
    // The application keeps no profile in the registry, so this does nothing.
    void SetRegistryKey(LPCSTR) {}
    // The ID_HELP command: there is no help to show, so it does nothing.
    afx_msg void OnHelp();

    // Called by the framework when the main window is destroyed: m_pMainWnd is already
    // null; inside Run the loop is asked to end.
    void OnMainWindowGone() {
        if (m_bInRun) ::PostQuitMessage(0);
    }

    CWnd* m_pMainWnd = nullptr;  // cleared when that window is destroyed
    HINSTANCE m_hInstance = nullptr;

    DECLARE_MESSAGE_MAP()

private:
    WPARAM m_nExitCode = 0;
    bool m_bInRun = false;
};

// The application object, or null when the program has none.
CWinApp* AfxGetApp();
// The application's module: CWinApp::m_hInstance, else the program file's module.
HINSTANCE AfxGetInstanceHandle();
// Where resources (dialog templates, bitmaps, icons) are loaded from: as
// AfxGetInstanceHandle().
HINSTANCE AfxGetResourceHandle();
// There are no ActiveX controls to host, so this does nothing.
inline void AfxEnableControlContainer() {}

namespace afx_detail {
// CWinApp's constructor and destructor keep the application pointer.
bool RegisterApp(CWinApp* pApp);
void UnregisterApp(CWinApp* pApp);
}  // namespace afx_detail
