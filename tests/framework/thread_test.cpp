// AfxBeginThread: suspended start, priority, exit code, and who closes the handle.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>

#include "Scoped.h"
#include "Thread.h"

namespace {

struct Probe {
    std::atomic<int> runs{0};
    std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};
    std::atomic<DWORD> threadId{0};
    HANDLE release = nullptr;  // when set, the thread waits for it before returning
};

UINT ProbeProc(LPVOID p) {
    Probe* probe = static_cast<Probe*>(p);
    probe->priority = GetThreadPriority(GetCurrentThread());
    probe->threadId = GetCurrentThreadId();
    if (probe->release) WaitForSingleObject(probe->release, 10000);
    ++probe->runs;
    return 42;
}

// A second handle to the thread, to wait on it whoever closes the object's.
HANDLE Duplicate(HANDLE h) {
    HANDLE dup = nullptr;
    DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return dup;
}

bool HandleIsOpen(HANDLE h) {
    DWORD flags;
    return GetHandleInformation(h, &flags) != FALSE;
}

struct StartCase {
    const char* fault;
    int priority;
    DWORD flags;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.fault; }

class BeginThread : public testing::TestWithParam<StartCase> {};

TEST_P(BeginThread, RunsWithItsPriorityAndDeletesItself) {
    const StartCase& c = GetParam();
    Probe probe;
    // Held until the object has been looked at: it may delete itself once the thread ends.
    ScopedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    probe.release = release;
    CWinThread* t = AfxBeginThread(&ProbeProc, &probe, c.priority, 0, c.flags);
    ASSERT_NE(nullptr, t);
    ASSERT_NE(nullptr, t->m_hThread);
    ScopedHandle waiter(Duplicate(t->m_hThread));
    HANDLE original = t->m_hThread;
    bool suspended = (c.flags & CREATE_SUSPENDED) != 0;
    if (suspended) {
        EXPECT_EQ(t->m_nThreadID, GetThreadId(t->m_hThread));
        Sleep(50);
        EXPECT_EQ(0u, probe.threadId.load()) << "a suspended thread ran";
        EXPECT_EQ(1u, t->ResumeThread());
    }
    SetEvent(release);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(waiter, 10000));
    EXPECT_EQ(1, probe.runs.load());
    EXPECT_EQ(c.priority, probe.priority.load());
    EXPECT_EQ(GetThreadId(waiter), probe.threadId.load());
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(waiter, &code));
    EXPECT_EQ(42u, code);
    // The object deleted itself and with it the handle.
    EXPECT_FALSE(HandleIsOpen(original));
}

INSTANTIATE_TEST_SUITE_P(
    Thread, BeginThread,
    testing::Values(StartCase{"RunningAtOnce", THREAD_PRIORITY_NORMAL, 0},
                    StartCase{"SuspendedUntilResumed", THREAD_PRIORITY_NORMAL, CREATE_SUSPENDED},
                    StartCase{"PrioritySetBeforeItRuns", THREAD_PRIORITY_BELOW_NORMAL,
                              CREATE_SUSPENDED},
                    StartCase{"PriorityOfARunningStart", THREAD_PRIORITY_LOWEST, 0}),
    [](const testing::TestParamInfo<StartCase>& info) { return std::string(info.param.fault); });

TEST(Thread, WithoutAutoDeleteTheCallerKeepsObjectAndHandle) {
    Probe probe;
    CWinThread* t = AfxBeginThread(&ProbeProc, &probe, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(nullptr, t);
    t->m_bAutoDelete = FALSE;
    t->ResumeThread();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t->m_hThread, 10000));
    HANDLE h = t->m_hThread;
    EXPECT_TRUE(HandleIsOpen(h));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(42u, code);
    delete t;
    EXPECT_FALSE(HandleIsOpen(h));
}

TEST(Thread, SuspendAndResumeCounts) {
    Probe probe;
    ScopedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    probe.release = release;
    CWinThread* t = AfxBeginThread(&ProbeProc, &probe, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(nullptr, t);
    ScopedHandle waiter(Duplicate(t->m_hThread));
    EXPECT_EQ(1u, t->SuspendThread());  // created suspended: count was 1
    EXPECT_EQ(2u, t->ResumeThread());
    EXPECT_EQ(1u, t->ResumeThread());
    SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(waiter, 10000));
}

TEST(Thread, NullProcedureStartsNothing) { EXPECT_EQ(nullptr, AfxBeginThread(nullptr, nullptr)); }

}  // namespace
