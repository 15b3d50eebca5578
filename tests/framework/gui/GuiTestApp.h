// The application object of the window tests.
#pragma once

#include "WinApp.h"
#include "resource.h"

// A command that only the application's map takes.
constexpr UINT kAppCommand = 0x7100;

class GuiTestApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;
    afx_msg void OnAppCommand() { ++m_nAppCommands; }

    int m_nAppCommands = 0;

private:
    int m_nTestResult = 1;

    DECLARE_MESSAGE_MAP()
};

extern GuiTestApp theApp;
