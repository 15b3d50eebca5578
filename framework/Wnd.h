// CWnd: the window object every control and dialog class of the framework stands on.
// It wraps a window handle it does not own: destroying a CWnd leaves the window alone.
//
// A CWnd either only names a window (Attach) or subclasses it (SubclassWindow): then
// every message of the window goes through WindowProc, which looks in the message map
// first and passes what no entry takes to the window's previous procedure. A subclassed
// object lets go of its window by itself when the window is destroyed (WM_NCDESTROY),
// and gives the window its procedure back if the object is destroyed first. When another
// procedure was subclassed over the object's since, the window cannot be given back; the
// object is cut off from it instead, and what that procedure passes on reaches the
// window's procedure from before the object.
//
// A window that is Unicode (IsWindowUnicode) when it is subclassed gets its messages, and passes
// them on, wide: its text never goes through the system's ANSI code page. Any other window's
// messages stay ANSI.
//
// An object may delete itself during one of its own messages (in a handler, or in
// PostNcDestroy after a handler destroyed the window): the framework does not touch it
// after that, in that message or in any of its messages the first was nested in.
#pragma once

#include <windows.h>

#include <vector>

#include "MessageMap.h"
#include "Types.h"

class CDC;

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Binds the object to an existing window. FALSE when hWnd is null or the object is
    // already bound.
    BOOL Attach(HWND hWndNew) {
        if (hWndNew == nullptr || m_hWnd != nullptr) return FALSE;
        m_hWnd = hWndNew;
        return TRUE;
    }
    // Unbinds the object and returns the window it held (null when none). A subclassed
    // window is unsubclassed first (see UnsubclassWindow: null when that fails).
    HWND Detach();
    // The window handle, or null when no window is bound.
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return GetSafeHwnd(); }

    // Binds the object to hWnd and routes the window's messages through WindowProc.
    // FALSE when hWnd is not a window, the object is already bound, or another CWnd
    // already subclasses hWnd.
    BOOL SubclassWindow(HWND hWnd);
    // Gives the window its previous procedure back and unbinds the object; returns the
    // window. Null when the object does not subclass a window, or when another procedure
    // was installed over this one since (the object then stays bound).
    HWND UnsubclassWindow();
    // The object subclassing hWnd, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // Thin calls on the bound window; with no window they do nothing and return 0/FALSE.
    BOOL ShowWindow(int nCmdShow);
    BOOL MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void GetWindowRect(LPRECT lpRect) const;  // screen coordinates
    void GetClientRect(LPRECT lpRect) const;  // origin (0, 0)
    void ClientToScreen(LPPOINT lpPoint) const;
    void ClientToScreen(LPRECT lpRect) const;
    // Centres the window over its owner, or over the work area of its monitor when it
    // has no visible owner.
    void CenterWindow();
    // WM_SETICON; returns the icon that was set before (null when none).
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    // Starts or restarts timer nIDEvent. Without lpfnTimer it arrives as WM_TIMER.
    // Returns nIDEvent, or 0 when the timer could not be set.
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = nullptr);
    // The window's DC, as a CDC that this object owns: valid until ReleaseDC(pDC), or at
    // most until the object is destroyed. Null when GetDC fails.
    CDC* GetDC();
    // Gives back a DC from GetDC and deletes its CDC. 1 when released, 0 when pDC did not
    // come from this object's GetDC (nothing is done then).
    int ReleaseDC(CDC* pDC);
    // Inline, so that each caller gets the character set it is compiled with.
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return m_hWnd ? ::PostMessage(m_hWnd, message, wParam, lParam) : FALSE;
    }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return m_hWnd ? ::SendMessage(m_hWnd, message, wParam, lParam) : 0;
    }
    BOOL DestroyWindow();
    // The child window with control identifier nID, or null.
    HWND GetDlgItem(int nID) const;
    DWORD GetStyle() const;

    // Default processing of the message being handled (the one WindowProc is working
    // on), by the window's previous procedure. 0 outside a message.
    LRESULT Default();

    // Every message of a subclassed window, wide or ANSI as the window was when subclassed: the
    // message map (OnWndMsg), else DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs the map's handler for the message; TRUE with *pResult set when one ran.
    // WM_COMMAND goes to OnCommand.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Routes a WM_COMMAND to OnCmdMsg (code CN_COMMAND for menus and accelerators,
    // lParam 0); TRUE when a handler ran.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;

protected:
    // The window's previous procedure (or ::DefWindowProc when none). Out of reach of
    // windows.h's DefWindowProc macro, so that a Unicode includer's vtable names the
    // function the ANSI-built framework defines.
#pragma push_macro("DefWindowProc")
#undef DefWindowProc
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
#pragma pop_macro("DefWindowProc")
    // Called after the last message of a subclassed window (WM_NCDESTROY), once the object
    // has let go of it. The object may delete itself here, even when WM_NCDESTROY came
    // from inside another of its messages.
    virtual void PostNcDestroy() {}

    // Handlers that the maps of derived classes can name; each does the default
    // processing.
    afx_msg void OnTimer(UINT_PTR) { Default(); }
    afx_msg LRESULT OnNcHitTest(CPoint) { return Default(); }

    WNDPROC m_pfnSuper = nullptr;

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Ends the subclassing: the previous procedure back where ours is on top, the object unbound.
    void LetGoOfWindow();
    void ReleaseAllDCs();

    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool active;
    };
    CurrentMessage m_current = {0, 0, 0, false};
    bool m_bWide = false;  // the subclassed window's procedures are called wide
    // Set by the innermost message being handled: the destructor marks it.
    bool* m_pDestroyed = nullptr;
    std::vector<CDC*> m_windowDCs;
};
