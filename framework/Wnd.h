// CWnd: the window object every control and dialog class of the framework stands on.
// It wraps a window handle it does not own: destroying a CWnd leaves the window alone.
#pragma once

#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Binds the object to an existing window. FALSE when hWnd is null or the object is
    // already bound.
    BOOL Attach(HWND hWndNew) {
        if (hWndNew == nullptr || m_hWnd != nullptr) return FALSE;
        m_hWnd = hWndNew;
        return TRUE;
    }
    // Unbinds the object and returns the window it held (null when none).
    HWND Detach() {
        HWND h = m_hWnd;
        m_hWnd = nullptr;
        return h;
    }
    // The window handle, or null when no window is bound.
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return GetSafeHwnd(); }

    HWND m_hWnd = nullptr;
};
