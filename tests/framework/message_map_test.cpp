// Message-map routing without a window: which handler a message or command reaches and
// what it receives.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Wnd.h"

namespace {

constexpr UINT kCmdShared = 500;
constexpr UINT kCmdBaseOnly = 501;
constexpr int kButton = 1000;

class BaseWnd : public CWnd {
public:
    std::string call;  // what the last handler saw

    afx_msg void OnShared() { call = "base shared"; }
    afx_msg void OnBaseOnly() { call = "base only"; }
    afx_msg void OnPaint() { call = "base paint"; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseWnd, CWnd)
ON_COMMAND(kCmdShared, &BaseWnd::OnShared)
ON_COMMAND(kCmdBaseOnly, &BaseWnd::OnBaseOnly)
ON_WM_PAINT()
END_MESSAGE_MAP()

class DerivedWnd : public BaseWnd {
public:
    afx_msg void OnSharedFirst() { call = "derived first"; }
    afx_msg void OnSharedSecond() { call = "derived second"; }
    afx_msg void OnClicked() { call = "clicked"; }
    afx_msg void OnTimer(UINT_PTR nIDEvent) { call = "timer " + std::to_string(nIDEvent); }
    afx_msg LRESULT OnNcHitTest(CPoint point) {
        call = "hit " + std::to_string(point.x) + "," + std::to_string(point.y);
        return HTCAPTION;
    }
    afx_msg HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(0x1234); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DerivedWnd, BaseWnd)
ON_COMMAND(kCmdShared, &DerivedWnd::OnSharedFirst)
ON_COMMAND(kCmdShared, &DerivedWnd::OnSharedSecond)
ON_BN_CLICKED(kButton, &DerivedWnd::OnClicked)
ON_WM_TIMER()
ON_WM_NCHITTEST()
ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

LPARAM Point(short x, short y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

TEST(MessageMap, MessagesReachTheFirstMatchingEntry) {
    const LPARAM kFromControl = 0x4242;  // any non-null control window
    const LRESULT kUntouched = 77;
    const UINT_PTR kWideTimer = static_cast<UINT_PTR>(-2);
    const struct {
        const char* fault;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT result;  // kUntouched: not handled
        std::string call;
    } cases[] = {
        {"derived entry hides the base's and the later one", WM_COMMAND, kCmdShared, 0, 0,
         "derived first"},
        {"base map searched when the derived has none", WM_COMMAND, kCmdBaseOnly, 0, 0,
         "base only"},
        {"accelerator code 1 is a command", WM_COMMAND, MAKEWPARAM(kCmdBaseOnly, 1), 0, 0,
         "base only"},
        {"button click reaches ON_BN_CLICKED", WM_COMMAND, MAKEWPARAM(kButton, BN_CLICKED),
         kFromControl, 0, "clicked"},
        {"another notification is not a click", WM_COMMAND, MAKEWPARAM(kButton, BN_SETFOCUS),
         kFromControl, kUntouched, ""},
        {"base message entry reached from the derived", WM_PAINT, 0, 0, 0, "base paint"},
        {"message without entry is left to the default", WM_CLOSE, 0, 0, kUntouched, ""},
        {"timer id keeps all its bits", WM_TIMER, kWideTimer, 0, 0,
         "timer " + std::to_string(kWideTimer)},
        {"hit-test point left of the primary monitor", WM_NCHITTEST, 0, Point(-20, 300), HTCAPTION,
         "hit -20,300"},
        {"hit-test far corner", WM_NCHITTEST, 0, Point(32767, -32768), HTCAPTION,
         "hit 32767,-32768"},
        {"drag icon is the result", WM_QUERYDRAGICON, 0, 0, 0x1234, ""},
    };
    for (const auto& c : cases) {
        DerivedWnd wnd;
        LRESULT result = kUntouched;
        EXPECT_EQ(c.result != kUntouched, wnd.OnWndMsg(c.message, c.wParam, c.lParam, &result))
            << c.fault;
        EXPECT_EQ(c.result, result) << c.fault;
        EXPECT_EQ(c.call, wnd.call) << c.fault;
    }
}

}  // namespace
