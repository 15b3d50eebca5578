// A real modal dialog from the template in gui_tests.rc: its message map gets the
// messages, and the dialog manager's keys and WM_CLOSE end it through the virtual
// OnOK/OnCancel. What the handlers return is tested on the update window itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "Button.h"
#include "Dialog.h"
#include "Gdi.h"
#include "GuiTestApp.h"

namespace {

POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

constexpr UINT_PTR kProbeTimer = 7;
constexpr INT_PTR kClicked = 1001;
constexpr INT_PTR kDone = 1002;
constexpr INT_PTR kWatchdog = 1003;

class ProbeDialog : public CDialog {
public:
    explicit ProbeDialog(UINT nIDTemplate = IDD_PROBE) : CDialog(nIDTemplate) {}

    // Runs at the end of OnInitDialog. Once kProbeTimer is set, the first tick after a
    // paint records where the window is and ends the dialog.
    std::function<void(ProbeDialog&)> onInit;

    std::string log;
    CButton m_btnClose;
    int ticks = 0, paints = 0, ddxLoads = 0, ddxSaves = 0;
    bool postNcDestroyed = false;
    LRESULT results[1] = {};
    CRect rectSeen;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        log += "init ";
        // A stuck dialog ends the test instead of hanging it; the timer procedure keeps it
        // out of the map under test.
        ::SetTimer(m_hWnd, 99, 10000, &Watchdog);
        if (onInit) onInit(*this);
        return TRUE;
    }
    void OnOK() override {
        log += "OnOK ";
        CDialog::OnOK();
    }
    void OnCancel() override {
        log += "OnCancel ";
        CDialog::OnCancel();
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        ++(pDX->m_bSaveAndValidate ? ddxSaves : ddxLoads);
        DDX_Control(pDX, IDC_PROBE_CLOSE, m_btnClose);
    }
    void PostNcDestroy() override { postNcDestroyed = true; }

    afx_msg void OnPaint() {
        CPaintDC dc(this);
        ++paints;
    }
    afx_msg void OnTimer(UINT_PTR nIDEvent) {
        if (nIDEvent != kProbeTimer) return CDialog::OnTimer(nIDEvent);
        if (paints == 0 && ++ticks < 20) return;
        GetWindowRect(&rectSeen);
        EndDialog(kDone);
    }
    afx_msg void OnBnClickedClose() {
        log += "clicked ";
        EndDialog(kClicked);
    }

    DECLARE_MESSAGE_MAP()

private:
    static void CALLBACK Watchdog(HWND hWnd, UINT, UINT_PTR, DWORD) {
        ::EndDialog(hWnd, kWatchdog);
    }
};

BEGIN_MESSAGE_MAP(ProbeDialog, CDialog)
ON_WM_PAINT()
ON_WM_TIMER()
ON_BN_CLICKED(IDC_PROBE_CLOSE, &ProbeDialog::OnBnClickedClose)
END_MESSAGE_MAP()

POINT WorkAreaCentre() {
    CRect area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return Centre(area);
}

TEST(Dialog, EndsAsExpected) {
    const struct {
        const char* fault;
        std::function<void(ProbeDialog&)> onInit;
        INT_PTR result;
        const char* mustLog;
        std::function<void(const ProbeDialog&)> check;
    } cases[] = {
        {"Enter ends with OnOK through UpdateData",
         [](ProbeDialog& d) {
             ::PostMessageA(d.GetDlgItem(IDC_PROBE_EDIT), WM_KEYDOWN, VK_RETURN, 1);
         },
         IDOK, "OnOK",
         [](const ProbeDialog& d) {
             EXPECT_EQ(1, d.ddxLoads);
             EXPECT_EQ(1, d.ddxSaves);
         }},
        {"DDX_Control binds the button once, and its click reaches the handler",
         [](ProbeDialog& d) {
             HWND button = d.GetDlgItem(IDC_PROBE_CLOSE);
             EXPECT_EQ(&d.m_btnClose, CWnd::FromHandlePermanent(button));
             EXPECT_EQ(&d, CWnd::FromHandlePermanent(d.m_hWnd));
             d.UpdateData(FALSE);
             d.UpdateData(TRUE);
             EXPECT_EQ(button, d.m_btnClose.m_hWnd);
             ::PostMessageA(d.m_btnClose, BM_CLICK, 0, 0);
         },
         kClicked, "clicked",
         [](const ProbeDialog& d) {
             EXPECT_EQ(2, d.ddxLoads);
             EXPECT_EQ(1, d.ddxSaves);
         }},
        {"an unplaced dialog is centred", [](ProbeDialog& d) { d.SetTimer(kProbeTimer, 10); },
         kDone, "",
         [](const ProbeDialog& d) {
             EXPECT_NEAR(WorkAreaCentre().x, Centre(d.rectSeen).x, 1);
             EXPECT_NEAR(WorkAreaCentre().y, Centre(d.rectSeen).y, 1);
         }},
        {"a dialog resized in place is still centred",
         [](ProbeDialog& d) {
             CRect w;
             d.GetWindowRect(&w);
             d.MoveWindow(w.left, w.top, 361, 57);
             d.SetTimer(kProbeTimer, 10);
         },
         kDone, "",
         [](const ProbeDialog& d) {
             EXPECT_EQ(361, d.rectSeen.Width());
             EXPECT_EQ(57, d.rectSeen.Height());
             EXPECT_NEAR(WorkAreaCentre().x, Centre(d.rectSeen).x, 1);
         }},
        {"a command no dialog map takes reaches the application; WM_CLOSE ends with OnCancel",
         [](ProbeDialog& d) {
             d.results[0] = theApp.m_nAppCommands;
             d.PostMessage(WM_COMMAND, kAppCommand);
             d.PostMessage(WM_COMMAND, ID_HELP);
             d.PostMessage(WM_CLOSE);
         },
         IDCANCEL, "OnCancel",
         [](const ProbeDialog& d) { EXPECT_EQ(d.results[0] + 1, theApp.m_nAppCommands); }},
        {"the main-window pointer is cleared with the window",
         [](ProbeDialog& d) {
             theApp.m_pMainWnd = &d;
             d.PostMessage(WM_CLOSE);
         },
         IDCANCEL, "", [](const ProbeDialog&) { EXPECT_EQ(nullptr, theApp.m_pMainWnd); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ProbeDialog d;
        d.onInit = c.onInit;
        EXPECT_EQ(c.result, d.DoModal());
        EXPECT_NE(std::string::npos, d.log.find(c.mustLog)) << d.log;
        // Whatever ended it, the object lets go of both windows and saw the end.
        EXPECT_EQ(nullptr, d.m_hWnd);
        EXPECT_EQ(nullptr, d.m_btnClose.m_hWnd);
        EXPECT_TRUE(d.postNcDestroyed);
        if (c.check) c.check(d);
    }
}

// The redraw timer takes a window DC every 300 ms: one never given back to the cache
// would run it dry, here within more cycles than a process has GDI handles.
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

// Deletes itself once its window is gone, into a block its deletion fills with kFreed: a
// later write to it shows there, a later call through it fails.
alignas(16) unsigned char g_block[512];
size_t g_blockUsed = 0;
constexpr unsigned char kFreed = 0xDD;
class SelfDeleting : public CButton {
public:
    static constexpr UINT kDestroyMsg = WM_APP + 1;
    static void* operator new(size_t n) {
        return (g_blockUsed = n) <= sizeof g_block ? g_block : nullptr;
    }
    static void operator delete(void* p, size_t n) { std::memset(p, kFreed, n); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message != kDestroyMsg) return CButton::WindowProc(message, wParam, lParam);
        DestroyWindow();
        return 7;
    }

protected:
    void PostNcDestroy() override { delete this; }
};

LRESULT CALLBACK PassOn(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(reinterpret_cast<WNDPROC>(GetPropA(hWnd, "Test.Next")), hWnd, message,
                           wParam, lParam);
}

TEST(WindowLifetime, ADeletedObjectIsNeverReachedAgain) {
    const struct {
        const char* fault;
        bool overSubclassed;     // another procedure is installed over the object's
        bool destroyFromInside;  // kDestroyMsg instead of deleting the object from outside
    } cases[] = {
        {"the window keeps the procedure of an object deleted first", false, false},
        {"a later subclasser calls into an object deleted first", true, false},
        {"an object deleted inside its own message is touched afterwards", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        HWND button = CreateWindowExA(0, "BUTTON", "b", WS_POPUP | BS_CHECKBOX, 0, 0, 10, 10,
                                      nullptr, nullptr, nullptr, nullptr);
        const LONG_PTR original = GetWindowLongPtrA(button, GWLP_WNDPROC);
        SelfDeleting* object = new SelfDeleting;
        ASSERT_TRUE(object->SubclassWindow(button));
        if (c.overSubclassed) {
            SetPropA(button, "Test.Next",
                     reinterpret_cast<HANDLE>(GetWindowLongPtrA(button, GWLP_WNDPROC)));
            SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PassOn));
        }
        if (c.destroyFromInside) {
            EXPECT_EQ(7, SendMessageA(button, SelfDeleting::kDestroyMsg, 0, 0));
        } else {
            delete object;
            EXPECT_EQ(!c.overSubclassed, original == GetWindowLongPtrA(button, GWLP_WNDPROC));
            CButton other;
            EXPECT_EQ(!c.overSubclassed, other.SubclassWindow(button) != FALSE)
                << "taken over again while our procedure is still in its chain";
            SendMessageA(button, BM_SETCHECK, BST_CHECKED, 0);
            EXPECT_EQ(BST_CHECKED, SendMessageA(button, BM_GETCHECK, 0, 0)) << "button cut off";
            DestroyWindow(button);
        }
        for (size_t i = 0; i < g_blockUsed; ++i) ASSERT_EQ(kFreed, g_block[i]) << "at " << i;
    }
}

}  // namespace
