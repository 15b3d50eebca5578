// What the worker's downloads rely on: the status callback, the check that a download the
// system called a success is whole, and the status line the window reads meanwhile.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "DownloadCheck.h"
#include "DownloadStatusCallback.h"
#include "UpdateDialog.h"

namespace {

// The callback lives on the download's stack: handing out another interface or counting
// references down to a delete would crash the download.
TEST(DownloadStatusCallback, HandsOutNoInterfaceAndFreesNothing) {
    DownloadStatusCallback callback;
    for (const IID* iid : {&IID_IUnknown, &IID_IBindStatusCallback, &IID_IStream}) {
        void* out = &callback;
        EXPECT_EQ(E_NOTIMPL, callback.QueryInterface(*iid, &out));
        EXPECT_EQ(&callback, out) << "the out pointer is not written";
    }
    EXPECT_EQ(0u, callback.AddRef());
    EXPECT_EQ(0u, callback.Release());
}

TEST(DownloadStatusCallback, CopiesProgressUntilStopped) {
    struct Report {
        const char* fault;
        ULONG progress, max;
        DWORD shownMax;
    } reports[] = {
        {"announced length shown as is", 10, 500, 500},
        {"unknown length shows 100000", 200000, 0, 100000},
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
    EXPECT_EQ(200000u, dialog.Progress()) << "nothing is written once stopping";
    EXPECT_EQ(100000u, dialog.ProgressMax());
}

TEST(ParseHttpStatus, ReadsOnlyAWellFormedStatusLine) {
    struct Case {
        const char* headers;
        DWORD status;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n", 200},
        {"HTTP/1.0 503 Service Unavailable\r\n\r\n", 503},
        {"HTTP/1.1 2000 Odd\r\n", 0},
        {"HTTP/1.1 20\r\n", 0},
        {"HTTP/1.1\r\n200 OK\r\n", 0},  // a status on a later line is none
        {"FTP 200 OK\r\n", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.status, ParseHttpStatus(c.headers, std::strlen(c.headers))) << c.headers;
    }
    const char unterminated[] = {'H', 'T', 'T', 'P', '/', '1', ' ', '5', '0', '3'};
    EXPECT_EQ(503u, ParseHttpStatus(unterminated, sizeof unterminated)) << "reads no further";
}

TEST(HasAnnouncedLength, RefusesShortAndLongFiles) {
    const std::string path = "download_check_" + std::to_string(GetCurrentProcessId());
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite("0123456789", 1, 10, f);
    std::fclose(f);
    struct Case {
        const char* fault;
        DWORD announced;
        bool whole;
    } cases[] = {
        {"no length announced", 0, true},
        {"exact length", 10, true},
        {"connection closed halfway", 20, false},
        {"more than announced", 5, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.whole, HasAnnouncedLength(path.c_str(), c.announced)) << c.fault;
    }
    DeleteFileA(path.c_str());
    EXPECT_FALSE(HasAnnouncedLength(path.c_str(), 10)) << "a file that is gone";
}

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
        torn += std::memcmp(seen, first, sizeof seen) != 0 &&
                std::memcmp(seen, second, sizeof seen) != 0 && seen[0] != '\0';
    }
    writer.join();
    EXPECT_EQ(0, torn);
}

}  // namespace
