#include "Thread.h"

#include <process.h>

#include <new>

CWinThread::~CWinThread() {
    if (m_hThread != nullptr) ::CloseHandle(m_hThread);
}

DWORD CWinThread::ResumeThread() { return ::ResumeThread(m_hThread); }

unsigned __stdcall CWinThread::ThreadEntry(void* pThread) {
    CWinThread* self = static_cast<CWinThread*>(pThread);
    UINT result = self->m_pfnThreadProc(self->m_pThreadParams);
    delete self;
    return result;
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority,
                           UINT nStackSize, DWORD dwCreateFlags,
                           LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    if (pfnThreadProc == nullptr) return nullptr;
    CWinThread* thread = new (std::nothrow) CWinThread(pfnThreadProc, pParam);
    if (thread == nullptr) return nullptr;
    // Always created suspended: the object must hold its handle before the thread can run
    // (and perhaps delete it). _beginthreadex, not CreateThread, so the runtime library sets
    // up its per-thread data.
    uintptr_t h = ::_beginthreadex(
        lpSecurityAttrs, nStackSize, &CWinThread::ThreadEntry, thread,
        CREATE_SUSPENDED | (dwCreateFlags & STACK_SIZE_PARAM_IS_A_RESERVATION), nullptr);
    if (h == 0) {
        delete thread;
        return nullptr;
    }
    thread->m_hThread = reinterpret_cast<HANDLE>(h);
    ::SetThreadPriority(thread->m_hThread, nPriority);
    if (!(dwCreateFlags & CREATE_SUSPENDED)) thread->ResumeThread();
    return thread;
}
