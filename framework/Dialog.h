// CDialog: a modal dialog built from a dialog template resource.
//
// DoModal creates the dialog and subclasses its window before WM_INITDIALOG, so every
// later message goes through the message map first: a handler's result is the message's
// result (HTCAPTION from OnNcHitTest, the icon from OnQueryDragIcon). What the map does
// not take goes to the dialog manager, which turns WM_CLOSE and Esc into the IDCANCEL
// command and Enter into IDOK (or the default button's command); CDialog's own map
// routes IDOK to OnOK and IDCANCEL to OnCancel, both virtual. Commands that no map of
// the dialog takes are offered to the application object's map.
//
// When OnInitDialog leaves the window where the template put it, the dialog is centred
// over its owner (over the screen's work area when it has none) before it is shown.
#pragma once

#include <windows.h>

#include "Wnd.h"

class CDialog;

// The direction of a data exchange and the dialog it runs on.
class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
    CWnd* m_pDlgWnd;
};

// Binds rControl to the dialog's control nIDC (subclassing it) the first time it runs
// for an unbound rControl; later calls leave the binding alone. When the dialog has no
// control nIDC, rControl stays unbound. The binding ends with the control's window.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CDialog : public CWnd {
public:
    // nIDTemplate: the RT_DIALOG resource in AfxGetResourceHandle(). pParentWnd: the
    // owner, disabled while the dialog runs (null: none).
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Runs the dialog until EndDialog; returns EndDialog's result. -1 when the template
    // does not exist, the dialog could not be created, or this object's dialog is already
    // running.
    virtual INT_PTR DoModal();
    // WM_INITDIALOG: the window exists and is subclassed. The base calls
    // UpdateData(FALSE) and returns TRUE (focus to the first control).
    virtual BOOL OnInitDialog();
    // IDOK: UpdateData(TRUE), then EndDialog(IDOK).
    virtual void OnOK();
    // IDCANCEL: EndDialog(IDCANCEL).
    virtual void OnCancel();

    // Runs DoDataExchange in the given direction. FALSE when the dialog has no window.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    // Ends the modal loop with nResult as DoModal's result; the window is destroyed
    // when the loop ends. Does nothing when the dialog has no window.
    void EndDialog(int nResult);

    UINT m_nIDHelp;  // the template's identifier

protected:
    // Binds controls and moves data between them and members (DDX_ calls); the base does
    // nothing.
    virtual void DoDataExchange(CDataExchange* pDX);
    BOOL OnCmdMsg(UINT nID, int nCode) override;

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    CWnd* m_pParentWnd;
};
