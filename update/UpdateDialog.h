// The update window and the holder of one update run: the hand-over header, the update list,
// the stop flag and the counters the window draws. The worker thread runs the list
// (DownloadNextItem); the window only reads what the worker keeps here.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>

#include "Button.h"
#include "Dialog.h"
#include "Gdi.h"
#include "HandOver.h"
#include "StatusLine.h"
#include "String.h"

// The exit code of a program ended because its worker was still caught in a download 10 s
// after the window closed (a clean end exits with 0).
constexpr UINT kForcedEndExitCode = 3;

class UpdateDialog : public CDialog {
public:
    explicit UpdateDialog(CWnd* pParent = nullptr);
    // Stops the run and waits for the worker before the list and the counters go away;
    // a worker still caught in a download after 10 s ends with the program (exit code
    // kForcedEndExitCode).
    ~UpdateDialog() override;

    // Reads and consumes "~Update.tmp" into m_header and m_pItems. False when it is
    // missing, unreadable or malformed (see ReadHandOver).
    bool ReadHandOverFile();

    // One step of the run, on the worker thread: downloads, installs and passes the
    // current entry, or sets m_bStop when the list is exhausted.
    void DownloadNextItem();

    // What the download status callback reads and writes.
    bool IsStopping() const { return m_bStop.load() != 0; }
    // Progress of the running download: received bytes, the total the window uses (100000
    // when none was announced) and the total as the server announced it (0 when none).
    void SetProgress(DWORD progress, DWORD progressMax, DWORD announcedMax);

    // The paint pass: background, bar, status line and speed, off-screen, then one copy.
    void DrawSkin(CDC* pDC);

    // Copies the status line as a whole (never half-written).
    void GetStatusLine(char (&out)[kStatusLineSize]) const;
    void SetStatusLine(const char (&line)[kStatusLineSize]);

    // Bits of the run the worker and the tests look at.
    bool IsRunComplete() const { return m_nCurrentItem == m_nItemCount; }
    const HandOverHeader& Header() const { return m_header; }
    const char* InstallDir() const { return m_strInstallDir; }
    void SetInstallDir(const char* folder) { m_strInstallDir = folder; }
    WORD CurrentItem() const { return m_nCurrentItem; }
    WORD ItemCount() const { return m_nItemCount; }
    const UpdateItem* Items() const { return m_pItems; }
    DWORD Progress() const { return m_dwProgress; }
    DWORD ProgressMax() const { return m_dwProgressMax; }
    DWORD SpeedBase() const { return m_dwSpeedBase; }
    void RequestStop() { m_bStop = TRUE; }

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
    friend UINT UpdateThreadProc(LPVOID pParam);
    // Starts UpdateThreadProc. False, with no worker run, when the thread cannot be made
    // or no handle to wait for it can be had.
    bool StartWorker();
    void StopWorker();

    CBitmap m_bmpBack;
    CBitmap m_bmpBar;
    CFont m_font;
    char m_szStatus[kStatusLineSize];
    std::atomic<DWORD> m_dwProgress;
    std::atomic<DWORD> m_dwProgressMax;
    std::atomic<DWORD> m_dwSpeedBase;
    std::atomic<DWORD> m_dwAnnouncedMax;  // raw total of the last report, 0 when unknown
    CButton m_btnClose;
    CString m_strInstallDir;
    HandOverHeader m_header;
    UpdateItem* m_pItems;
    WORD m_nItemCount;
    std::atomic<BOOL> m_bStop;
    WORD m_nCurrentItem;
    HICON m_hIcon;

    mutable std::mutex m_statusLock;
    HANDLE m_hWorker = nullptr;  // kept to wait for the worker before the dialog goes away
};

// The worker: runs DownloadNextItem until m_bStop, then completes the run (registry values,
// lobby start) when every entry was processed, and closes the window.
UINT UpdateThreadProc(LPVOID pParam);
