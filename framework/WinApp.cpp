// CWinApp and the program entry live together: a program that builds an application
// object links WinMain with it, one that does not keeps its own main.
#include "WinApp.h"

#include "Wnd.h"

CWinApp::CWinApp() { afx_detail::RegisterApp(this); }

CWinApp::~CWinApp() { afx_detail::UnregisterApp(this); }

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return static_cast<int>(m_nExitCode); }

int CWinApp::Run() {
    m_bInRun = true;
    MSG msg;
    BOOL got;
    while ((got = ::GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) break;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    m_bInRun = false;
    m_nExitCode = got == 0 ? msg.wParam : static_cast<WPARAM>(-1);
    return ExitInstance();
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(nIDResource));
}

void CWinApp::OnHelp() {}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    app->m_hInstance = hInstance;
    if (!app->InitInstance()) {
        // A main window that outlived InitInstance would outlive the program's logic.
        if (app->m_pMainWnd != nullptr) app->m_pMainWnd->DestroyWindow();
        return app->ExitInstance();
    }
    return app->Run();
}
