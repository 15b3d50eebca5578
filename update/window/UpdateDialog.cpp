#include "UpdateDialog.h"

#include "InstallPaths.h"
#include "Skin.h"
#include "Thread.h"
#include "WinApp.h"
#include "resource.h"

namespace {
constexpr DWORD kWorkerStopWaitMs = 10000;
}  // namespace

UpdateDialog::UpdateDialog(CWnd* pParent)
    : CDialog(IDD_UPDATE_DIALOG, pParent) {
    m_hIcon = AfxGetApp() ? AfxGetApp()->LoadIcon(IDR_MAINFRAME) : nullptr;
    m_bmpBack.LoadBitmap(IDB_BACKGROUND);
    m_bmpBar.LoadBitmap(IDB_BAR);
}

UpdateDialog::~UpdateDialog() {
    StopWorker();
    m_bmpBack.DeleteObject();
    m_bmpBar.DeleteObject();
}

void UpdateDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CLOSE, m_btnClose);
}

BOOL UpdateDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    CRect rect;
    GetWindowRect(&rect);
    MoveWindow(rect.left, rect.top, kSkinWidth, kSkinHeight, TRUE);
    m_btnClose.ShowWindow(SW_HIDE);

    char module[kPathSize] = {};
    GetModuleFileNameA(GetModuleHandleA(nullptr), module, sizeof module);
    char folder[kPathSize];
    InstallFolderOf(module, folder);
    m_run.SetInstallDir(folder);

    if (m_font.GetSafeHandle() == nullptr) m_font.Attach(CreateSkinFont());

    // The lobby writes the hand-over file just before it starts us; give it time to finish.
    Sleep(500);
    // A worker that could not be waited for could outlive the list and the counters it
    // uses: without one the window closes as for a refused hand-over file.
    if (m_run.ReadHandOverFile() && StartWorker()) {
        SetTimer(kRedrawTimer, kRedrawPeriodMs, nullptr);
    } else {
        PostMessage(WM_CLOSE, 0, 0);
    }
    return TRUE;
}

bool UpdateDialog::StartWorker() {
    CWinThread* thread = AfxBeginThread(UpdateThreadProc, this, THREAD_PRIORITY_NORMAL, 0,
                                        CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) return false;
    // The thread object deletes itself (and its handle) when the thread ends; a handle of
    // our own lets the dialog wait for the worker before it goes away.
    if (!DuplicateHandle(GetCurrentProcess(), thread->m_hThread, GetCurrentProcess(),
                         &m_hWorker, SYNCHRONIZE, FALSE, 0)) {
        m_hWorker = nullptr;
        // The suspended thread still has to run to its end to free its object; it runs
        // nothing of the update.
        thread->m_pfnThreadProc = [](LPVOID) -> UINT { return 0; };
        thread->ResumeThread();
        return false;
    }
    thread->ResumeThread();
    return true;
}

void UpdateDialog::StopWorker() {
    m_run.RequestStop();
    if (m_hWorker == nullptr) return;
    // The stop aborts the running download and the worker leaves between two archive
    // entries, but the download moniker does not always honour an abort. The dialog only
    // goes away when the program ends, so a worker that is still caught in a
    // download after a while is ended with the program, before the list and the counters
    // it uses are gone. Files are replaced whole, so no half-written file is left.
    // TerminateProcess rather than ExitProcess: the libraries' detach code could wait for
    // the very download the worker is caught in.
    if (WaitForSingleObject(m_hWorker, kWorkerStopWaitMs) == WAIT_TIMEOUT) {
        TerminateProcess(GetCurrentProcess(), kForcedEndExitCode);
    }
    CloseHandle(m_hWorker);
    m_hWorker = nullptr;
}

void UpdateDialog::OnBnClickedClose() {
    m_run.RequestStop();
    OnCancel();
}

BEGIN_MESSAGE_MAP(UpdateDialog, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_NCHITTEST()
    ON_WM_TIMER()
    ON_BN_CLICKED(IDC_CLOSE, &UpdateDialog::OnBnClickedClose)
END_MESSAGE_MAP()
