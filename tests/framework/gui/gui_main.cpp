// The window tests run as a framework program of their own: the framework's WinMain
// finds this application object, InitInstance runs the tests and returns FALSE, and
// ExitInstance's result (the tests' result) is the process's exit code.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "GuiTestApp.h"

BEGIN_MESSAGE_MAP(GuiTestApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
ON_COMMAND(kAppCommand, &GuiTestApp::OnAppCommand)
END_MESSAGE_MAP()

BOOL GuiTestApp::InitInstance() {
    testing::InitGoogleTest(&__argc, __argv);
    m_nTestResult = RUN_ALL_TESTS();
    return FALSE;
}

int GuiTestApp::ExitInstance() {
    CWinApp::ExitInstance();
    return m_nTestResult;
}

GuiTestApp theApp;
