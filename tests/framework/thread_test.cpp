// AfxBeginThread as the updater calls it: suspended start, priority, exit code, and who closes
// the handle.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "Scoped.h"
#include "Thread.h"

bool HandleIsOpen(HANDLE h);  // scoped_test.cpp

namespace {

struct Probe {
    std::atomic<int> runs{0};
    std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};
    HANDLE release = nullptr;  // when set, the thread waits for it before returning
};

UINT ProbeProc(LPVOID p) {
    Probe* probe = static_cast<Probe*>(p);
    probe->priority = GetThreadPriority(GetCurrentThread());
    if (probe->release) WaitForSingleObject(probe->release, 10000);
    ++probe->runs;
    return 42;
}

// As the updater starts its worker: suspended, so that it can take a handle of its own first.
TEST(Thread, ASuspendedStartRunsWithItsPriorityAndDeletesItself) {
    Probe probe;
    // Held until the object has been looked at: it may delete itself once the thread ends.
    ScopedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    probe.release = release;
    CWinThread* t =
        AfxBeginThread(&ProbeProc, &probe, THREAD_PRIORITY_BELOW_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(nullptr, t);
    HANDLE original = t->m_hThread;
    HANDLE dup = nullptr;  // to wait on the thread after the object closed its handle
    DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &dup, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    ScopedHandle waiter(dup);
    Sleep(50);
    EXPECT_EQ(THREAD_PRIORITY_ERROR_RETURN, probe.priority.load()) << "it ran";
    EXPECT_EQ(1u, t->ResumeThread());
    SetEvent(release);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(waiter, 10000));
    EXPECT_EQ(1, probe.runs.load());
    EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, probe.priority.load());
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(waiter, &code) && code == 42u) << code;
    EXPECT_FALSE(HandleIsOpen(original)) << "the object did not close its handle";
}

}  // namespace
