#include "Wnd.h"

#include <algorithm>

#include "Gdi.h"
#include "WinApp.h"

// Here DefWindowProc is always the member (Wnd.h); the API is called by its A and W names.
#undef DefWindowProc

namespace {

// The object is found through a window property rather than GWLP_USERDATA, which the
// window's class or its owner may use for itself.
const char kObjectProp[] = "Kit.CWnd";
// The procedure the object took over, kept on the window as well: when the object goes
// while a later procedure is subclassed over ours, that procedure still calls ours, which
// then passes everything here instead of to the freed object.
const char kSuperProp[] = "Kit.CWnd.Super";
// Set on a window whose procedures are called wide (see ProcCalls), for that same case.
const char kWideProp[] = "Kit.CWnd.Wide";

// The calls that take over, read, restore and forward to a subclassed window's procedures: the
// wide ones for a window that is Unicode when it is subclassed, or its text would pass through
// the system's ANSI code page, which may not hold it; the ANSI ones for any other. Chosen once
// per window and kept: IsWindowUnicode follows whatever procedure a later subclasser puts on
// top, and a procedure is called and restored with the width it was read with (read with the
// other width, it is a handle that converts each message, not the procedure).
struct ProcCalls {
    bool wide;

    WNDPROC Get(HWND hWnd) const {
        return reinterpret_cast<WNDPROC>(wide ? ::GetWindowLongPtrW(hWnd, GWLP_WNDPROC)
                                              : ::GetWindowLongPtrA(hWnd, GWLP_WNDPROC));
    }
    WNDPROC Set(HWND hWnd, WNDPROC proc) const {
        const LONG_PTR value = reinterpret_cast<LONG_PTR>(proc);
        return reinterpret_cast<WNDPROC>(wide ? ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, value)
                                              : ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, value));
    }
    // To super, or to the system's default procedure when there is none.
    LRESULT Forward(WNDPROC super, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) const {
        if (super != nullptr)
            return wide ? ::CallWindowProcW(super, hWnd, message, wParam, lParam)
                        : ::CallWindowProcA(super, hWnd, message, wParam, lParam);
        return wide ? ::DefWindowProcW(hWnd, message, wParam, lParam)
                    : ::DefWindowProcA(hWnd, message, wParam, lParam);
    }
};

void RemoveSubclassProps(HWND hWnd) {
    ::RemovePropA(hWnd, kObjectProp);
    ::RemovePropA(hWnd, kSuperProp);
    ::RemovePropA(hWnd, kWideProp);
}

void LeaveApplication(CWnd* pWnd) {
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd == pWnd) {
        app->m_pMainWnd = nullptr;
        app->OnMainWindowGone();
    }
}

}  // namespace

CWnd::~CWnd() {
    // An object deleted while one of its messages is being handled: SubclassProc must not
    // touch it once that handler returns.
    if (m_pDestroyed != nullptr) *m_pDestroyed = true;
    ReleaseAllDCs();
    if (m_pfnSuper != nullptr && UnsubclassWindow() == nullptr) ::RemovePropA(m_hWnd, kObjectProp);
    // A main window object that goes before its window must not be left dangling.
    LeaveApplication(this);
}

HWND CWnd::Detach() {
    if (m_pfnSuper != nullptr) return UnsubclassWindow();
    ReleaseAllDCs();
    HWND h = m_hWnd;
    m_hWnd = nullptr;
    return h;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    return hWnd ? static_cast<CWnd*>(::GetPropA(hWnd, kObjectProp)) : nullptr;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    // A window whose earlier object went under a later subclasser still has our procedure
    // in its chain: taking it over again would make that chain call itself.
    if (m_hWnd != nullptr || !::IsWindow(hWnd) || FromHandlePermanent(hWnd) != nullptr ||
        ::GetPropA(hWnd, kSuperProp) != nullptr)
        return FALSE;
    const ProcCalls calls = {::IsWindowUnicode(hWnd) != FALSE};
    if (!::SetPropA(hWnd, kObjectProp, this) ||
        (calls.wide && !::SetPropA(hWnd, kWideProp, reinterpret_cast<HANDLE>(1)))) {
        RemoveSubclassProps(hWnd);
        return FALSE;
    }
    m_hWnd = hWnd;
    m_bWide = calls.wide;
    WNDPROC old = calls.Set(hWnd, &CWnd::SubclassProc);
    if (old == nullptr || !::SetPropA(hWnd, kSuperProp, reinterpret_cast<HANDLE>(old))) {
        if (old != nullptr) calls.Set(hWnd, old);
        RemoveSubclassProps(hWnd);
        m_hWnd = nullptr;
        return FALSE;
    }
    m_pfnSuper = old;
    return TRUE;
}

HWND CWnd::UnsubclassWindow() {
    if (m_pfnSuper == nullptr) return nullptr;
    // Taking the procedure back from under a later subclasser would cut it off.
    if (::IsWindow(m_hWnd) && ProcCalls{m_bWide}.Get(m_hWnd) != &CWnd::SubclassProc) return nullptr;
    HWND h = m_hWnd;
    LetGoOfWindow();
    return h;
}

void CWnd::LetGoOfWindow() {
    const ProcCalls calls = {m_bWide};
    if (m_pfnSuper != nullptr && ::IsWindow(m_hWnd)) {
        if (calls.Get(m_hWnd) == &CWnd::SubclassProc) calls.Set(m_hWnd, m_pfnSuper);
        RemoveSubclassProps(m_hWnd);
    }
    m_pfnSuper = nullptr;
    m_bWide = false;
    ReleaseAllDCs();
    m_hWnd = nullptr;
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* self = FromHandlePermanent(hWnd);
    if (self == nullptr) {
        const ProcCalls calls = {::GetPropA(hWnd, kWideProp) != nullptr};
        const WNDPROC super = reinterpret_cast<WNDPROC>(::GetPropA(hWnd, kSuperProp));
        if (message == WM_NCDESTROY) RemoveSubclassProps(hWnd);
        return calls.Forward(super, hWnd, message, wParam, lParam);
    }

    bool destroyed = false;
    bool* const outer = self->m_pDestroyed;
    self->m_pDestroyed = &destroyed;
    const CurrentMessage saved = self->m_current;
    self->m_current = {message, wParam, lParam, true};
    LRESULT result = self->WindowProc(message, wParam, lParam);
    if (destroyed) {
        // Deleted during the message (a handler, or PostNcDestroy after a DestroyWindow
        // it called): the messages of the object it is nested in must not touch it either.
        if (outer != nullptr) *outer = true;
        return result;
    }
    self->m_pDestroyed = outer;
    self->m_current = saved;

    if (message == WM_NCDESTROY) {
        // The window is gone after this message: nothing may reach the object through it.
        RemoveSubclassProps(hWnd);
        self->LetGoOfWindow();
        LeaveApplication(self);
        // Last: the object may delete itself here.
        self->PostNcDestroy();
    }
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam)) return FALSE;
        *pResult = 0;
        return TRUE;
    }
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message);
    if (entry == nullptr) return FALSE;
    *pResult = entry->pfn(this, wParam, lParam);
    return TRUE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    UINT nID = LOWORD(wParam);
    // Accelerators send code 1; like menu commands they are plain commands.
    int nCode = lParam == 0 ? CN_COMMAND : HIWORD(wParam);
    return OnCmdMsg(nID, nCode);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ProcCalls{m_bWide}.Forward(m_pfnSuper, m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    if (!m_current.active || m_hWnd == nullptr) return 0;
    return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam);
}

BOOL CWnd::ShowWindow(int nCmdShow) { return m_hWnd ? ::ShowWindow(m_hWnd, nCmdShow) : FALSE; }

BOOL CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
    return m_hWnd ? ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint) : FALSE;
}

void CWnd::GetWindowRect(LPRECT lpRect) const {
    if (!m_hWnd || !::GetWindowRect(m_hWnd, lpRect)) ::SetRectEmpty(lpRect);
}

void CWnd::GetClientRect(LPRECT lpRect) const {
    if (!m_hWnd || !::GetClientRect(m_hWnd, lpRect)) ::SetRectEmpty(lpRect);
}

void CWnd::ClientToScreen(LPPOINT lpPoint) const {
    if (m_hWnd) ::ClientToScreen(m_hWnd, lpPoint);
}

void CWnd::ClientToScreen(LPRECT lpRect) const {
    ClientToScreen(reinterpret_cast<LPPOINT>(lpRect));
    ClientToScreen(reinterpret_cast<LPPOINT>(lpRect) + 1);
}

void CWnd::CenterWindow() {
    if (!m_hWnd) return;
    CRect window;
    GetWindowRect(&window);
    CRect area;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
        ::GetWindowRect(owner, &area);
    } else {
        MONITORINFO info = {};
        info.cbSize = sizeof info;
        HMONITOR monitor = ::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY);
        if (monitor && ::GetMonitorInfoA(monitor, &info))
            area = info.rcWork;
        else
            ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    }
    int x = area.left + (area.Width() - window.Width()) / 2;
    int y = area.top + (area.Height() - window.Height()) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
    return m_hWnd ? ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer) : 0;
}

CDC* CWnd::GetDC() {
    if (!m_hWnd) return nullptr;
    HDC hdc = ::GetDC(m_hWnd);
    if (!hdc) return nullptr;
    CDC* pDC = new CDC;
    pDC->Attach(hdc);
    m_windowDCs.push_back(pDC);
    return pDC;
}

int CWnd::ReleaseDC(CDC* pDC) {
    auto it = std::find(m_windowDCs.begin(), m_windowDCs.end(), pDC);
    if (pDC == nullptr || it == m_windowDCs.end()) return 0;
    m_windowDCs.erase(it);
    ::ReleaseDC(m_hWnd, pDC->Detach());
    delete pDC;
    return 1;
}

void CWnd::ReleaseAllDCs() {
    while (!m_windowDCs.empty()) ReleaseDC(m_windowDCs.back());
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

HWND CWnd::GetDlgItem(int nID) const { return m_hWnd ? ::GetDlgItem(m_hWnd, nID) : nullptr; }

DWORD CWnd::GetStyle() const {
    return m_hWnd ? static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)) : 0;
}
