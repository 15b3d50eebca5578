// The update window: owns the run (UpdateRun), starts the worker that drives it, and draws
// what the run keeps.
#pragma once

#include <windows.h>

#include "Button.h"
#include "Dialog.h"
#include "Gdi.h"
#include "Skin.h"
#include "UpdateRun.h"

// The exit code of a program ended because its worker was still caught in a download 10 s
// after the window closed (a clean end exits with 0).
constexpr UINT kForcedEndExitCode = 3;

class UpdateDialog : public CDialog {
public:
    explicit UpdateDialog(CWnd* pParent = nullptr);
    // Stops the run and waits for the worker before the run goes away;
    // a worker still caught in a download after 10 s ends with the program (exit code
    // kForcedEndExitCode).
    ~UpdateDialog() override;

    // The run the worker drives and the window draws.
    UpdateRun& Run() { return m_run; }
    const UpdateRun& Run() const { return m_run; }

    // The paint pass: background, bar, status line and speed, off-screen, then one copy;
    // the speed sample is taken at tick now (GetTickCount for the window's own passes).
    void DrawSkin(CDC* pDC) { DrawSkin(pDC, GetTickCount()); }
    void DrawSkin(CDC* pDC, DWORD now);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    LRESULT OnNcHitTest(CPoint point);
    void OnTimer(UINT_PTR nIDEvent);
    void OnBnClickedClose();
    DECLARE_MESSAGE_MAP()

private:
    // Starts UpdateThreadProc. False, with no worker run, when the thread cannot be made
    // or no handle to wait for it can be had.
    bool StartWorker();
    void StopWorker();

    CBitmap m_bmpBack;
    CBitmap m_bmpBar;
    CFont m_font;
    CButton m_btnClose;
    HICON m_hIcon;
    UpdateRun m_run;
    SpeedClock m_speedClock;     // the window's one: there is one window per process
    HANDLE m_hWorker = nullptr;  // kept to wait for the worker before the run goes away
};

// The worker: runs the run's steps until it stops, then completes the run (registry values,
// lobby start) when every entry is in place, and closes the window.
UINT UpdateThreadProc(LPVOID pParam);
