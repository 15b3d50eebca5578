// Worker threads: AfxBeginThread runs a function on a new thread and hands back the
// CWinThread object that holds the thread's handle.
#pragma once

#include <windows.h>

typedef UINT (*AFX_THREADPROC)(LPVOID pParam);

class CWinThread {
public:
    // The object deletes itself, closing m_hThread, when the thread function returns: the
    // pointer from AfxBeginThread must not be used once the thread may have ended.
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // The previous suspend count, or (DWORD)-1 on failure.
    DWORD ResumeThread();

    HANDLE m_hThread = nullptr;

    AFX_THREADPROC m_pfnThreadProc;
    LPVOID m_pThreadParams;

private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD,
                                      LPSECURITY_ATTRIBUTES);
    CWinThread(AFX_THREADPROC pfn, LPVOID pParam) : m_pfnThreadProc(pfn), m_pThreadParams(pParam) {}
    static unsigned __stdcall ThreadEntry(void* pThread);
};

// Starts pfnThreadProc(pParam) on a new thread with priority nPriority and stack size
// nStackSize (0: the program's default). dwCreateFlags: 0 starts it at once,
// CREATE_SUSPENDED leaves it for the caller's ResumeThread (the priority is already
// set then). The thread's exit code is the function's result.
// Returns null, and starts nothing, when pfnThreadProc is null or the thread or its
// object cannot be created.
CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                           int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                           DWORD dwCreateFlags = 0,
                           LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
