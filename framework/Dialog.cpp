#include "Dialog.h"

#include "WinApp.h"

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (pDX == nullptr || pDX->m_pDlgWnd == nullptr || rControl.m_hWnd != nullptr) return;
    HWND hControl = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (hControl != nullptr) rControl.SubclassWindow(hControl);
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

INT_PTR CDialog::DoModal() {
    if (m_hWnd != nullptr) return -1;
    HINSTANCE hInst = AfxGetResourceHandle();
    LPCSTR name = MAKEINTRESOURCEA(m_nIDHelp);
    if (::FindResourceA(hInst, name, RT_DIALOG) == nullptr) return -1;
    HWND owner = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
    return ::DialogBoxParamA(hInst, name, owner, &CDialog::DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
    // Everything after WM_INITDIALOG reaches the object through the subclassed window
    // procedure before the dialog manager calls this; here only the start is left.
    if (message != WM_INITDIALOG) return FALSE;
    CDialog* self = reinterpret_cast<CDialog*>(lParam);
    if (!self->SubclassWindow(hWnd)) {
        ::EndDialog(hWnd, -1);
        return FALSE;
    }
    RECT before;
    ::GetWindowRect(hWnd, &before);
    BOOL focusDefault = self->OnInitDialog();
    RECT after;
    // A template's position (0, 0 for most) is relative to the owner and seldom meant as
    // a place on the screen: a dialog that neither its code nor its style placed is
    // centred.
    if (self->m_hWnd == hWnd && ::GetWindowRect(hWnd, &after) && after.left == before.left &&
        after.top == before.top &&
        (self->GetStyle() & (WS_CHILD | DS_CENTER | DS_CENTERMOUSE | DS_ABSALIGN)) == 0)
        self->CenterWindow();
    return focusDefault;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    if (m_hWnd == nullptr) return FALSE;
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::EndDialog(int nResult) {
    if (m_hWnd != nullptr) ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnCmdMsg(UINT nID, int nCode) {
    if (CWnd::OnCmdMsg(nID, nCode)) return TRUE;
    CWinApp* app = AfxGetApp();
    return app != nullptr && app->OnCmdMsg(nID, nCode);
}
