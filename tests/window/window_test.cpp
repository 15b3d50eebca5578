// The update window's messages on a real window: dragging, the redraw timer, painting and
// the drag icon; and the window DC the timer borrows. Where the program's own dialog stands
// and how it ends is the screen test's and the end-to-end tests'.
#include <windows.h>

#include <gtest/gtest.h>

#include "Scoped.h"
#include "Skin.h"
#include "UpdateDialog.h"
#include "WinApp.h"
#include "resource.h"

namespace {

const COLORREF kUpperTop = RGB(86, 183, 220);

// A plain top-level window taken over by an UpdateDialog, as DoModal would. Only windows
// whose pixels are read need WS_VISIBLE: showing and hiding one costs Wine's X11 driver
// a round of waiting.
class SubclassedWindow {
public:
    SubclassedWindow(UpdateDialog& dialog, DWORD style, int x, int y) : m_dialog(dialog) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "KitSkinTestWindow";
        RegisterClassA(&wc);  // fails harmlessly from the second window on
        m_hWnd = CreateWindowExA(WS_EX_TOOLWINDOW, wc.lpszClassName, "", style, x, y, kSkinWidth,
                                 kSkinHeight, nullptr, nullptr, wc.hInstance, nullptr);
        if (m_hWnd != nullptr) m_dialog.SubclassWindow(m_hWnd);
    }
    ~SubclassedWindow() {
        if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
    }
    SubclassedWindow(const SubclassedWindow&) = delete;
    SubclassedWindow& operator=(const SubclassedWindow&) = delete;

    HWND hwnd() const { return m_hWnd; }
    bool IsValid() const { return m_hWnd != nullptr && m_dialog.GetSafeHwnd() == m_hWnd; }
    COLORREF At(int x, int y) const {
        HDC dc = GetDC(m_hWnd);
        const COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(m_hWnd, dc);
        return colour;
    }
    void Mark(int x, int y) const {
        HDC dc = GetDC(m_hWnd);
        SetPixelV(dc, x, y, RGB(0, 0, 0));
        ReleaseDC(m_hWnd, dc);
    }

private:
    UpdateDialog& m_dialog;
    HWND m_hWnd = nullptr;
};

TEST(UpdateWindow, HitTestDragsFromAnyPointInside) {
    struct Case {
        const char* fault;
        DWORD style;
        int left, top;  // window position on the screen
        int x, y;       // client point tested
        LRESULT result;
    } cases[] = {
        {"client origin drags", WS_POPUP, 100, 100, 0, 0, HTCAPTION},
        {"last client pixel drags", WS_POPUP, 100, 100, kSkinWidth - 1, kSkinHeight - 1, HTCAPTION},
        {"right of the window is the default's", WS_POPUP, 100, 100, kSkinWidth, 20, HTNOWHERE},
        {"left of the screen origin: signed coordinates", WS_POPUP, -300, -40, 10, 10, HTCAPTION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        UpdateDialog dialog;
        SubclassedWindow window(dialog, c.style, c.left, c.top);
        ASSERT_TRUE(window.IsValid());
        EXPECT_FALSE(IsWindowUnicode(window.hwnd())) << "the ANSI window was taken over wide";
        POINT p = {c.x, c.y};
        ClientToScreen(window.hwnd(), &p);
        EXPECT_EQ(c.result,
                  SendMessageA(window.hwnd(), WM_NCHITTEST, 0,
                               MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y))));
    }
}

TEST(UpdateWindow, RedrawTimerAndPaintDrawTheSkin) {
    UpdateDialog dialog;
    SubclassedWindow window(dialog, WS_POPUP | WS_VISIBLE, 200, 200);
    ASSERT_TRUE(window.IsValid());
    struct Case {
        const char* fault;
        UINT message;
        WPARAM id;
        bool draws;
    } cases[] = {
        {"another timer draws nothing", WM_TIMER, 7, false},
        {"redraw timer 100 draws", WM_TIMER, 100, true},
        {"paint draws", WM_PAINT, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        window.Mark(5, 0);
        Sleep(20);  // a pass in the tick of the last one draws nothing
        if (c.message == WM_PAINT) {
            InvalidateRect(window.hwnd(), nullptr, FALSE);
            UpdateWindow(window.hwnd());
        } else {
            SendMessageA(window.hwnd(), c.message, c.id, 0);
        }
        EXPECT_EQ(c.draws ? kUpperTop : RGB(0, 0, 0), window.At(5, 0));
    }
}

TEST(UpdateWindow, DragIconIsTheProgramIcon) {
    CWinApp app;
    UpdateDialog dialog;
    SubclassedWindow window(dialog, WS_POPUP, 100, 100);
    ASSERT_TRUE(window.IsValid());
    const HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_NE(nullptr, icon);
    EXPECT_EQ(reinterpret_cast<LRESULT>(icon), SendMessageA(window.hwnd(), WM_QUERYDRAGICON, 0, 0));
}

// The redraw timer takes a window DC every 300 ms through the framework: one never given
// back to the cache would run it dry, here within more cycles than a process has GDI handles.
TEST(WindowDC, IsGivenBackExactlyOnce) {
    HWND wnd =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, wnd);
    CWnd owner;
    owner.Attach(wnd);
    for (int i = 0; i < 70000; ++i) {
        CDC* pDC = owner.GetDC();
        ASSERT_TRUE(pDC != nullptr && pDC->GetSafeHdc() != nullptr) << "cycle " << i;
        ASSERT_EQ(1, owner.ReleaseDC(pDC)) << "cycle " << i;
        ASSERT_EQ(0, owner.ReleaseDC(pDC)) << "given back twice, cycle " << i;
    }
    // A CDC only borrows what it is handed: its end must not delete the DC.
    HDC raw = ::GetDC(wnd);
    {
        CDC borrowed;
        borrowed.Attach(raw);
    }
    EXPECT_NE(0u, GetObjectType(raw)) << "a borrowed DC was deleted";
    ::ReleaseDC(wnd, raw);
    owner.Detach();
    DestroyWindow(wnd);
}

}  // namespace
