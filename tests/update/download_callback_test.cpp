#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "DownloadStatusCallback.h"
#include "UpdateDialog.h"

namespace {

TEST(DownloadStatusCallback, ImplementsOnlyProgress) {
    UpdateDialog dialog;
    DownloadStatusCallback callback;
    callback.SetOwner(&dialog);
    void* out = &callback;
    const IID* asked[] = {&IID_IUnknown, &IID_IBindStatusCallback, &IID_IStream};
    for (const IID* iid : asked) {
        EXPECT_EQ(E_NOTIMPL, callback.QueryInterface(*iid, &out));
        EXPECT_EQ(&callback, out) << "the out pointer is not written";
    }
    EXPECT_EQ(0u, callback.AddRef());
    EXPECT_EQ(0u, callback.Release());
    EXPECT_EQ(E_NOTIMPL, callback.OnStartBinding(0, nullptr));
    LONG priority = 0;
    EXPECT_EQ(E_NOTIMPL, callback.GetPriority(&priority));
    EXPECT_EQ(E_NOTIMPL, callback.OnLowResource(0));
    EXPECT_EQ(E_NOTIMPL, callback.OnStopBinding(S_OK, nullptr));
    DWORD flags = 0;
    BINDINFO info = {};
    EXPECT_EQ(E_NOTIMPL, callback.GetBindInfo(&flags, &info));
    EXPECT_EQ(E_NOTIMPL, callback.OnDataAvailable(0, 0, nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, callback.OnObjectAvailable(IID_IUnknown, nullptr));
}

TEST(DownloadStatusCallback, CopiesProgressUntilStopped) {
    struct Report {
        const char* fault;
        ULONG progress, max;
        DWORD shownMax;
    } reports[] = {
        {"announced length shown as is", 10, 500, 500},
        {"unknown length shows 100000", 200000, 0, 100000},
        {"any status code updates the same way", 300, 300, 300},
    };
    UpdateDialog dialog;
    DownloadStatusCallback callback;
    callback.SetOwner(&dialog);
    for (const auto& r : reports) {
        SCOPED_TRACE(r.fault);
        EXPECT_EQ(S_OK, callback.OnProgress(r.progress, r.max, BINDSTATUS_DOWNLOADINGDATA, L""));
        EXPECT_EQ(r.progress, dialog.Progress());
        EXPECT_EQ(r.shownMax, dialog.ProgressMax());
    }
    dialog.RequestStop();
    EXPECT_EQ(E_ABORT, callback.OnProgress(999, 1000, BINDSTATUS_DOWNLOADINGDATA, L""));
    EXPECT_EQ(300u, dialog.Progress()) << "nothing is written once stopping";
    EXPECT_EQ(300u, dialog.ProgressMax());
}

TEST(DownloadStatusCallback, StopBeforeFirstReportWritesNothing) {
    UpdateDialog dialog;
    dialog.RequestStop();
    DownloadStatusCallback callback;
    callback.SetOwner(&dialog);
    EXPECT_EQ(E_ABORT, callback.OnProgress(0, 0, BINDSTATUS_BEGINDOWNLOADDATA, L""));
    EXPECT_EQ(0u, dialog.Progress());
    EXPECT_EQ(0u, dialog.ProgressMax());
}

}  // namespace

namespace {

// The worker rewrites the status line while the window draws it: a reader must always get
// one whole line or the other, terminated within its 32 bytes.
TEST(UpdateDialogStatusLine, IsNeverReadHalfWritten) {
    UpdateDialog dialog;
    char first[kStatusLineSize] = {};
    char second[kStatusLineSize] = {};
    std::memset(first, 'a', sizeof first - 1);
    std::memset(second, 'b', 5);
    std::atomic<bool> done(false);
    std::thread writer([&] {
        for (int i = 0; i < 200000; ++i) dialog.SetStatusLine(i % 2 ? first : second);
        done = true;
    });
    int torn = 0;
    while (!done) {
        char seen[kStatusLineSize];
        dialog.GetStatusLine(seen);
        if (std::memcmp(seen, first, sizeof seen) != 0 &&
            std::memcmp(seen, second, sizeof seen) != 0 && seen[0] != '\0') {
            ++torn;
        }
    }
    writer.join();
    EXPECT_EQ(0, torn);
}

}  // namespace
