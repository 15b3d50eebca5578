#include "WinApp.h"

namespace {
CWinApp* g_app = nullptr;
}

bool afx_detail::RegisterApp(CWinApp* pApp) {
    if (g_app != nullptr) return false;
    g_app = pApp;
    return true;
}

void afx_detail::UnregisterApp(CWinApp* pApp) {
    if (g_app == pApp) g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() {
    if (g_app != nullptr && g_app->m_hInstance != nullptr) return g_app->m_hInstance;
    return ::GetModuleHandleA(nullptr);
}

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }
