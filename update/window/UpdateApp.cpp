#include "UpdateApp.h"

#include <commctrl.h>

#include "UpdateDialog.h"

UpdateApp theApp;

BEGIN_MESSAGE_MAP(UpdateApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

BOOL UpdateApp::InitInstance() {
    InitCommonControls();
    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey("应用程序向导生成的本地应用程序");

    UpdateDialog dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
