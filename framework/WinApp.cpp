// CWinApp and the program entry live together: a program that builds an application
// object links WinMain with it, one that does not keeps its own main.
#include "WinApp.h"

#include "Wnd.h"

CWinApp::CWinApp(LPCSTR lpszAppName) {
    if (lpszAppName != nullptr) {
        m_strAppName = lpszAppName;
        m_pszAppName = m_strAppName;
    }
    afx_detail::RegisterApp(this);
}

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

void CWinApp::SetRegistryKey(LPCSTR lpszRegistryKey) {
    m_strRegistryKey = lpszRegistryKey;
    m_pszRegistryKey = lpszRegistryKey ? static_cast<LPCSTR>(m_strRegistryKey) : nullptr;
}

void CWinApp::OnHelp() {}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int nCmdShow) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    app->m_hInstance = hInstance;
    app->m_lpCmdLine = lpCmdLine;
    app->m_nCmdShow = nCmdShow;
    if (!app->InitInstance()) {
        // A main window that outlived InitInstance would outlive the program's logic.
        if (app->m_pMainWnd != nullptr) app->m_pMainWnd->DestroyWindow();
        return app->ExitInstance();
    }
    return app->Run();
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow) {
    return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
