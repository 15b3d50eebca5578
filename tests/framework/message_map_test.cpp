// Message-map routing without a window: which handler a message or command reaches and
// what it receives.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "Button.h"
#include "Dialog.h"
#include "WinApp.h"

namespace {

constexpr UINT kCmdShared = 500;
constexpr UINT kCmdBaseOnly = 501;
constexpr UINT kCmdUnknown = 510;
constexpr int kButton = 1000;

class BaseWnd : public CWnd {
public:
    std::vector<std::string> calls;
    CPoint lastPoint;
    UINT_PTR lastTimer = 0;

    afx_msg void OnShared() { calls.push_back("base shared"); }
    afx_msg void OnBaseOnly() { calls.push_back("base only"); }
    afx_msg void OnPaint() { calls.push_back("base paint"); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseWnd, CWnd)
ON_COMMAND(kCmdShared, &BaseWnd::OnShared)
ON_COMMAND(kCmdBaseOnly, &BaseWnd::OnBaseOnly)
ON_WM_PAINT()
END_MESSAGE_MAP()

class DerivedWnd : public BaseWnd {
public:
    afx_msg void OnSharedFirst() { calls.push_back("derived first"); }
    afx_msg void OnSharedSecond() { calls.push_back("derived second"); }
    afx_msg void OnClicked() { calls.push_back("clicked"); }
    afx_msg void OnTimer(UINT_PTR nIDEvent) {
        lastTimer = nIDEvent;
        calls.push_back("timer");
    }
    afx_msg LRESULT OnNcHitTest(CPoint point) {
        lastPoint = point;
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

// The application and dialog maps exactly as the updater writes them: they must compile.
class MapOnlyDialog : public CDialog {
public:
    MapOnlyDialog() : CDialog(102) {}

protected:
    afx_msg void OnPaint() {}
    afx_msg HCURSOR OnQueryDragIcon() { return nullptr; }
    afx_msg LRESULT OnNcHitTest(CPoint) { return HTCAPTION; }
    afx_msg void OnTimer(UINT_PTR) {}
    afx_msg void OnBnClickedClose() {}
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MapOnlyDialog, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_NCHITTEST()
ON_WM_TIMER()
ON_BN_CLICKED(1000, &MapOnlyDialog::OnBnClickedClose)
END_MESSAGE_MAP()

class MapOnlyApp : public CWinApp {
    BOOL InitInstance() override { return FALSE; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MapOnlyApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

struct CommandCase {
    const char* fault;
    WPARAM wParam;
    LPARAM lParam;
    BOOL handled;
    std::vector<std::string> calls;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.fault; }

class CommandRouting : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandRouting, ReachesTheFirstMatchingEntry) {
    const CommandCase& c = GetParam();
    DerivedWnd wnd;
    LRESULT result = -1;
    EXPECT_EQ(c.handled, wnd.OnWndMsg(WM_COMMAND, c.wParam, c.lParam, &result));
    EXPECT_EQ(c.calls, wnd.calls);
    if (c.handled) {
        EXPECT_EQ(0, result);
    }
}

const LPARAM kFromControl = 0x4242;  // any non-null control window

INSTANTIATE_TEST_SUITE_P(
    Map, CommandRouting,
    testing::Values(
        CommandCase{"DerivedEntryHidesBase", kCmdShared, 0, TRUE, {"derived first"}},
        CommandCase{"BaseMapSearchedWhenDerivedHasNone", kCmdBaseOnly, 0, TRUE, {"base only"}},
        CommandCase{
            "AcceleratorCodeOneIsACommand", MAKEWPARAM(kCmdBaseOnly, 1), 0, TRUE, {"base only"}},
        CommandCase{"ButtonClickReachesBnClicked",
                    MAKEWPARAM(kButton, BN_CLICKED),
                    kFromControl,
                    TRUE,
                    {"clicked"}},
        CommandCase{"OtherNotificationIsNotAClick",
                    MAKEWPARAM(kButton, BN_SETFOCUS),
                    kFromControl,
                    FALSE,
                    {}},
        CommandCase{"UnknownCommandUnhandled", kCmdUnknown, 0, FALSE, {}}),
    [](const testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.fault); });

TEST(MessageMap, HitTestPointArrivesSignedAndResultIsReturned) {
    struct Case {
        const char* fault;
        short x, y;
    } cases[] = {
        {"origin", 0, 0},
        {"left of the primary monitor", -20, 300},
        {"above the primary monitor", 40, -7},
        {"far corner", 32767, -32768},
    };
    for (const Case& c : cases) {
        DerivedWnd wnd;
        LRESULT result = 0;
        LPARAM l = MAKELPARAM(static_cast<WORD>(c.x), static_cast<WORD>(c.y));
        ASSERT_TRUE(wnd.OnWndMsg(WM_NCHITTEST, 0, l, &result)) << c.fault;
        EXPECT_EQ(HTCAPTION, result) << c.fault;
        EXPECT_EQ(c.x, wnd.lastPoint.x) << c.fault;
        EXPECT_EQ(c.y, wnd.lastPoint.y) << c.fault;
    }
}

TEST(MessageMap, TimerIdKeepsAllBits) {
    DerivedWnd wnd;
    LRESULT result = -1;
    UINT_PTR id = static_cast<UINT_PTR>(-2);
    ASSERT_TRUE(wnd.OnWndMsg(WM_TIMER, id, 0, &result));
    EXPECT_EQ(id, wnd.lastTimer);
    EXPECT_EQ(0, result);
}

TEST(MessageMap, DragIconReturnedAsResult) {
    DerivedWnd wnd;
    LRESULT result = 0;
    ASSERT_TRUE(wnd.OnWndMsg(WM_QUERYDRAGICON, 0, 0, &result));
    EXPECT_EQ(0x1234, result);
}

TEST(MessageMap, BaseMessageEntryReachedFromDerived) {
    DerivedWnd wnd;
    LRESULT result = -1;
    ASSERT_TRUE(wnd.OnWndMsg(WM_PAINT, 0, 0, &result));
    EXPECT_EQ(std::vector<std::string>{"base paint"}, wnd.calls);
}

TEST(MessageMap, MessageWithoutEntryIsLeftToTheDefault) {
    DerivedWnd wnd;
    LRESULT result = 77;
    EXPECT_FALSE(wnd.OnWndMsg(WM_CLOSE, 0, 0, &result));
    EXPECT_EQ(77, result);
    CButton plain;
    EXPECT_FALSE(plain.OnWndMsg(WM_PAINT, 0, 0, &result));
}

TEST(MessageMap, ApplicationMapTakesHelp) {
    MapOnlyApp app;
    EXPECT_EQ(&app, AfxGetApp());
    EXPECT_TRUE(app.OnCmdMsg(ID_HELP, CN_COMMAND));
    EXPECT_FALSE(app.OnCmdMsg(ID_HELP + 1, CN_COMMAND));
    MapOnlyDialog dialog;
    EXPECT_TRUE(dialog.FindMessageEntry(WM_NCHITTEST) != nullptr);
    EXPECT_TRUE(dialog.FindMessageEntry(WM_COMMAND, BN_CLICKED, 1000) != nullptr);
    EXPECT_TRUE(dialog.FindMessageEntry(WM_COMMAND, CN_COMMAND, IDCANCEL) != nullptr);
}

}  // namespace
