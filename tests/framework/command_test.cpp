// A host's window object: the commands it takes (what a WM_COMMAND reaches), and its going.
#include <windows.h>
#include <gtest/gtest.h>

#include "WinApp.h"
#include "Wnd.h"

namespace {

class Target : public CWnd {
public:
    int clicked = 0, plain = 0;
    afx_msg void OnClicked() { ++clicked; }
    afx_msg void OnPlain() { ++plain; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Target, CWnd)
ON_BN_CLICKED(100, &Target::OnClicked)
ON_COMMAND(200, &Target::OnPlain)
END_MESSAGE_MAP()

TEST(Command, ReachesOnlyTheEntryOfItsCode) {
    const LPARAM control = 1;  // a control's window; OnCommand only tells it from none
    const struct {
        const char* fault;
        WPARAM wParam;
        LPARAM lParam;
        int clicked, plain;
    } cases[] = {
        {"a click", MAKEWPARAM(100, BN_CLICKED), control, 1, 0},
        {"another notification is no click", MAKEWPARAM(100, BN_DBLCLK), control, 0, 0},
        {"a menu command", MAKEWPARAM(200, 0), 0, 0, 1},
        {"an accelerator (code 1) is a plain command", MAKEWPARAM(200, 1), 0, 0, 1},
    };
    for (const auto& c : cases) {
        Target target;
        target.OnCommand(c.wParam, c.lParam);
        EXPECT_EQ(c.clicked, target.clicked) << c.fault;
        EXPECT_EQ(c.plain, target.plain) << c.fault;
    }
}

// A main window object that goes must not stay behind as the application's main window.
TEST(Command, MainWindowObjectLeavesTheApplication) {
    CWinApp app;
    auto* window = new CWnd;
    app.m_pMainWnd = window;
    delete window;
    EXPECT_EQ(nullptr, app.m_pMainWnd);
}

}  // namespace
