// A real modal dialog from the template in gui_tests.rc: its message map gets the
// messages, handlers' results are the messages' results, and the dialog manager's keys
// and WM_CLOSE end it through the virtual OnOK/OnCancel.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <string>
#include <vector>

#include "Button.h"
#include "Dialog.h"
#include "Gdi.h"
#include "GuiTestApp.h"

namespace {

constexpr UINT_PTR kProbeTimer = 7;
constexpr UINT_PTR kWatchdogTimer = 99;
constexpr INT_PTR kClicked = 1000 + 1;
constexpr INT_PTR kDone = 1000 + 2;
constexpr INT_PTR kWatchdog = 1000 + 3;
const COLORREF kPaintColor = RGB(200, 30, 60);

class ProbeDialog : public CDialog {
public:
    explicit ProbeDialog(UINT nIDTemplate = IDD_PROBE) : CDialog(nIDTemplate) {
        m_hIcon = ::LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
    }

    // Runs at the end of OnInitDialog, and on every tick of kProbeTimer.
    std::function<void(ProbeDialog&)> onInit;
    std::function<void(ProbeDialog&, int tick)> onTick;

    std::vector<std::string> log;
    CButton m_btnClose;
    HICON m_hIcon;
    int ticks = 0;
    int paints = 0;
    int ddxLoads = 0;
    int ddxSaves = 0;
    CPoint lastHit;
    bool windowAliveInOnDestroy = false;
    bool postNcDestroyed = false;
    LRESULT results[4] = {};
    CRect rectSeen;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        log.push_back("init");
        // A stuck dialog ends the test instead of hanging it; the timer procedure keeps it
        // out of the map under test.
        ::SetTimer(m_hWnd, kWatchdogTimer, 10000, &Watchdog);
        if (onInit) onInit(*this);
        return TRUE;
    }
    void OnOK() override {
        log.push_back("OnOK");
        CDialog::OnOK();
    }
    void OnCancel() override {
        log.push_back("OnCancel");
        CDialog::OnCancel();
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        ++(pDX->m_bSaveAndValidate ? ddxSaves : ddxLoads);
        DDX_Control(pDX, IDC_PROBE_CLOSE, m_btnClose);
    }
    void PostNcDestroy() override { postNcDestroyed = true; }

    afx_msg void OnPaint() {
        CPaintDC dc(this);
        CRect r;
        GetClientRect(&r);
        dc.FillSolidRect(0, 0, r.Width(), r.Height(), kPaintColor);
        ++paints;
    }
    afx_msg void OnTimer(UINT_PTR nIDEvent) {
        if (nIDEvent == kProbeTimer && onTick) onTick(*this, ++ticks);
        CDialog::OnTimer(nIDEvent);
    }
    afx_msg LRESULT OnNcHitTest(CPoint point) {
        lastHit = point;
        CRect r;
        GetClientRect(&r);
        ClientToScreen(&r);
        return r.PtInRect(point) ? HTCAPTION : CDialog::OnNcHitTest(point);
    }
    afx_msg HCURSOR OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
    afx_msg void OnBnClickedClose() {
        log.push_back("clicked");
        EndDialog(kClicked);
    }
    afx_msg void OnDestroy() {
        windowAliveInOnDestroy = ::IsWindow(m_hWnd) != FALSE;
        log.push_back("destroy");
        CDialog::OnDestroy();
    }

    DECLARE_MESSAGE_MAP()

private:
    static void CALLBACK Watchdog(HWND hWnd, UINT, UINT_PTR, DWORD) {
        ::EndDialog(hWnd, kWatchdog);
    }
};

BEGIN_MESSAGE_MAP(ProbeDialog, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_NCHITTEST()
ON_WM_TIMER()
ON_BN_CLICKED(IDC_PROBE_CLOSE, &ProbeDialog::OnBnClickedClose)
ON_WM_DESTROY()
END_MESSAGE_MAP()

bool Logged(const ProbeDialog& d, const char* what) {
    for (const std::string& s : d.log)
        if (s == what) return true;
    return false;
}

void PostKey(ProbeDialog& d, WPARAM key) {
    ::PostMessageA(d.GetDlgItem(IDC_PROBE_EDIT), WM_KEYDOWN, key, 1);
}

struct DialogCase {
    const char* fault;
    std::function<void(ProbeDialog&)> onInit;
    std::function<void(ProbeDialog&, int)> onTick;
    INT_PTR result;
    const char* mustLog;  // null: nothing particular
    std::function<void(const ProbeDialog&)> check;
};

void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.fault; }

class ModalDialog : public testing::TestWithParam<DialogCase> {};

TEST_P(ModalDialog, EndsAsExpected) {
    const DialogCase& c = GetParam();
    ProbeDialog d;
    d.onInit = c.onInit;
    d.onTick = c.onTick;
    INT_PTR result = d.DoModal();
    EXPECT_EQ(c.result, result);
    if (c.mustLog) {
        EXPECT_TRUE(Logged(d, c.mustLog)) << c.mustLog;
    }
    // Whatever ended it, the object lets go of both windows and saw their end.
    EXPECT_EQ(nullptr, d.m_hWnd);
    EXPECT_EQ(nullptr, d.m_btnClose.m_hWnd);
    EXPECT_TRUE(Logged(d, "destroy"));
    EXPECT_TRUE(d.windowAliveInOnDestroy);
    EXPECT_TRUE(d.postNcDestroyed);
    if (c.check) c.check(d);
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, ModalDialog,
    testing::Values(
        DialogCase{"WmCloseEndsWithCancel", [](ProbeDialog& d) { d.PostMessage(WM_CLOSE); },
                   nullptr, IDCANCEL, "OnCancel", nullptr},
        DialogCase{"EnterEndsWithOkThroughUpdateData",
                   [](ProbeDialog& d) { PostKey(d, VK_RETURN); }, nullptr, IDOK, "OnOK",
                   [](const ProbeDialog& d) {
                       EXPECT_EQ(1, d.ddxLoads);
                       EXPECT_EQ(1, d.ddxSaves);
                   }},
        DialogCase{"EscapeEndsWithCancel", [](ProbeDialog& d) { PostKey(d, VK_ESCAPE); }, nullptr,
                   IDCANCEL, "OnCancel", nullptr},
        DialogCase{"ButtonClickReachesItsHandler",
                   [](ProbeDialog& d) { ::PostMessageA(d.m_btnClose, BM_CLICK, 0, 0); }, nullptr,
                   kClicked, "clicked", nullptr},
        DialogCase{"TimerArrivesWithItsId",
                   [](ProbeDialog& d) { EXPECT_EQ(kProbeTimer, d.SetTimer(kProbeTimer, 10)); },
                   [](ProbeDialog& d, int tick) {
                       if (tick == 3) d.EndDialog(kDone);
                   },
                   kDone, nullptr, [](const ProbeDialog& d) { EXPECT_EQ(3, d.ticks); }},
        DialogCase{"HitTestResultsComeBackFromTheHandler",
                   [](ProbeDialog& d) {
                       CRect w;
                       d.GetWindowRect(&w);
                       CPoint in = w.CenterPoint();
                       d.results[0] = d.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(in.x, in.y));
                       d.results[1] =
                           d.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(w.right + 50, w.bottom + 50));
                       d.results[2] =
                           d.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(static_cast<WORD>(-30), 5));
                       d.EndDialog(kDone);
                   },
                   nullptr, kDone, nullptr,
                   [](const ProbeDialog& d) {
                       EXPECT_EQ(HTCAPTION, d.results[0]);
                       EXPECT_NE(HTCAPTION, d.results[1]);
                       EXPECT_EQ(CPoint(-30, 5), d.lastHit);
                   }},
        DialogCase{"DragIconComesBackFromTheHandler",
                   [](ProbeDialog& d) {
                       d.results[0] = d.SendMessage(WM_QUERYDRAGICON);
                       d.EndDialog(kDone);
                   },
                   nullptr, kDone, nullptr,
                   [](const ProbeDialog& d) {
                       EXPECT_EQ(reinterpret_cast<LRESULT>(d.m_hIcon), d.results[0]);
                       EXPECT_NE(0, d.results[0]);
                   }},
        DialogCase{"DdxControlBindsTheButtonOnce",
                   [](ProbeDialog& d) {
                       HWND button = d.GetDlgItem(IDC_PROBE_CLOSE);
                       EXPECT_EQ(button, d.m_btnClose.m_hWnd);
                       EXPECT_EQ(&d.m_btnClose, CWnd::FromHandlePermanent(button));
                       EXPECT_EQ(&d, CWnd::FromHandlePermanent(d.m_hWnd));
                       d.UpdateData(FALSE);
                       d.UpdateData(TRUE);
                       EXPECT_EQ(button, d.m_btnClose.m_hWnd);
                       d.m_btnClose.ShowWindow(SW_HIDE);
                       EXPECT_FALSE(::IsWindowVisible(button));
                       d.EndDialog(kDone);
                   },
                   nullptr, kDone, nullptr,
                   [](const ProbeDialog& d) {
                       EXPECT_EQ(2, d.ddxLoads);
                       EXPECT_EQ(1, d.ddxSaves);
                   }},
        DialogCase{"UnplacedDialogIsCentred", [](ProbeDialog& d) { d.SetTimer(kProbeTimer, 10); },
                   [](ProbeDialog& d, int) {
                       d.GetWindowRect(&d.rectSeen);
                       d.EndDialog(kDone);
                   },
                   kDone, nullptr,
                   [](const ProbeDialog& d) {
                       RECT area;
                       SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
                       CPoint mid = d.rectSeen.CenterPoint();
                       EXPECT_NEAR((area.left + area.right) / 2, mid.x, 1);
                       EXPECT_NEAR((area.top + area.bottom) / 2, mid.y, 1);
                   }},
        DialogCase{
            "DialogPlacedByItsCodeStaysThere",
            [](ProbeDialog& d) {
                d.MoveWindow(12, 34, 361, 57);
                d.SetTimer(kProbeTimer, 10);
            },
            [](ProbeDialog& d, int) {
                d.GetWindowRect(&d.rectSeen);
                d.EndDialog(kDone);
            },
            kDone, nullptr,
            [](const ProbeDialog& d) { EXPECT_EQ(CRect(12, 34, 12 + 361, 34 + 57), d.rectSeen); }},
        DialogCase{"ResizedInPlaceIsStillCentred",
                   [](ProbeDialog& d) {
                       CRect w;
                       d.GetWindowRect(&w);
                       d.MoveWindow(w.left, w.top, 361, 57);
                       d.SetTimer(kProbeTimer, 10);
                   },
                   [](ProbeDialog& d, int) {
                       d.GetWindowRect(&d.rectSeen);
                       d.EndDialog(kDone);
                   },
                   kDone, nullptr,
                   [](const ProbeDialog& d) {
                       RECT area;
                       SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
                       EXPECT_EQ(CSize(361, 57), d.rectSeen.Size());
                       EXPECT_NEAR((area.left + area.right) / 2, d.rectSeen.CenterPoint().x, 1);
                   }},
        DialogCase{"PaintHandlerDrawsTheWindow",
                   [](ProbeDialog& d) { d.SetTimer(kProbeTimer, 50); },
                   [](ProbeDialog& d, int tick) {
                       if (d.paints == 0 && tick < 20) return;
                       CDC* dc = d.GetDC();
                       ASSERT_NE(nullptr, dc);
                       d.results[0] = static_cast<LRESULT>(dc->GetPixel(3, 3));
                       EXPECT_EQ(1, d.ReleaseDC(dc));
                       EXPECT_EQ(0, d.ReleaseDC(dc));  // a second time does nothing
                       d.EndDialog(kDone);
                   },
                   kDone, nullptr,
                   [](const ProbeDialog& d) {
                       EXPECT_GE(d.paints, 1);
                       EXPECT_EQ(static_cast<LRESULT>(kPaintColor), d.results[0]);
                   }},
        DialogCase{"IconsSetOnTheWindow",
                   [](ProbeDialog& d) {
                       d.SetIcon(d.m_hIcon, TRUE);
                       d.SetIcon(d.m_hIcon, FALSE);
                       d.results[0] = d.SendMessage(WM_GETICON, ICON_BIG);
                       d.results[1] = d.SendMessage(WM_GETICON, ICON_SMALL);
                       d.EndDialog(kDone);
                   },
                   nullptr, kDone, nullptr,
                   [](const ProbeDialog& d) {
                       EXPECT_EQ(reinterpret_cast<LRESULT>(d.m_hIcon), d.results[0]);
                       EXPECT_EQ(reinterpret_cast<LRESULT>(d.m_hIcon), d.results[1]);
                   }},
        DialogCase{
            "CommandNoDialogTakesReachesTheApplication",
            [](ProbeDialog& d) {
                d.results[0] = theApp.m_nAppCommands;
                d.PostMessage(WM_COMMAND, kAppCommand);
                d.PostMessage(WM_COMMAND, ID_HELP);
                d.PostMessage(WM_CLOSE);
            },
            nullptr, IDCANCEL, "OnCancel",
            [](const ProbeDialog& d) { EXPECT_EQ(d.results[0] + 1, theApp.m_nAppCommands); }},
        DialogCase{"MainWindowPointerClearedWithTheWindow",
                   [](ProbeDialog& d) {
                       theApp.m_pMainWnd = &d;
                       d.PostMessage(WM_CLOSE);
                   },
                   nullptr, IDCANCEL, nullptr,
                   [](const ProbeDialog&) { EXPECT_EQ(nullptr, theApp.m_pMainWnd); }}),
    [](const testing::TestParamInfo<DialogCase>& info) { return std::string(info.param.fault); });

TEST(Dialog, MissingTemplateGivesMinusOne) {
    ProbeDialog d(IDD_MISSING);
    EXPECT_EQ(-1, d.DoModal());
    EXPECT_TRUE(d.log.empty());
}

TEST(Dialog, SameObjectRunsTwice) {
    ProbeDialog d;
    d.onInit = [](ProbeDialog& dlg) { dlg.PostMessage(WM_CLOSE); };
    EXPECT_EQ(IDCANCEL, d.DoModal());
    EXPECT_EQ(IDCANCEL, d.DoModal());
    EXPECT_EQ(2, d.ddxLoads);
}

TEST(Dialog, ObjectGoneBeforeItsWindowGivesTheProcedureBack) {
    HWND button = CreateWindowExA(0, "BUTTON", "b", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(nullptr, button);
    LONG_PTR original = GetWindowLongPtrA(button, GWLP_WNDPROC);
    {
        CButton b;
        ASSERT_TRUE(b.SubclassWindow(button));
        EXPECT_NE(original, GetWindowLongPtrA(button, GWLP_WNDPROC));
        CButton other;
        EXPECT_FALSE(other.SubclassWindow(button));  // one object per window
    }
    EXPECT_EQ(original, GetWindowLongPtrA(button, GWLP_WNDPROC));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(button));
    EXPECT_EQ(0, SendMessageA(button, BM_GETCHECK, 0, 0));  // still a working button
    DestroyWindow(button);
}

}  // namespace
