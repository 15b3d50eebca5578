// The run's decisions: whether a download is whole, what the answer announced, how long to
// wait before the next attempt; the status callback that feeds them; and the status line the
// window reads meanwhile. When an archive is in place is run_test's, through the step.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "DownloadCheck.h"
#include "DownloadStatusCallback.h"
#include "UpdateRun.h"

namespace {

DownloadFacts WholeFile(ULONGLONG size) {
    DownloadFacts f;
    f.result = S_OK;
    f.fileExists = true;
    f.fileSize = size;
    f.httpStatus = 200;
    f.receivedBytes = size;
    return f;
}

TEST(JudgeDownload, OnlyAWholeSuccessfulAnswer) {
    using V = DownloadVerdict;
    struct Case {
        const char* fault;
        void (*change)(DownloadFacts&);
        DownloadVerdict verdict;
    } cases[] = {
        {"a whole answer of unknown length and record size", [](DownloadFacts&) {}, V::Whole},
        {"download failed", [](DownloadFacts& f) { f.result = E_ABORT; }, V::Failed},
        {"no file stored", [](DownloadFacts& f) { f.fileExists = false; }, V::NothingStored},
        {"status unknown (no answer, redirect)", [](DownloadFacts& f) { f.httpStatus = 0; },
         V::NoAnswer},
        {"error answer", [](DownloadFacts& f) { f.httpStatus = 503; }, V::ErrorAnswer},
        {"not modified is no body", [](DownloadFacts& f) { f.httpStatus = 304; }, V::ErrorAnswer},
        {"other success code", [](DownloadFacts& f) { f.httpStatus = 204; }, V::Whole},
        {"local write fell short (full disk)", [](DownloadFacts& f) { f.receivedBytes = 200; },
         V::LostOnTheWay},
        {"announced length met",
         [](DownloadFacts& f) { f.lengthAnnounced = true, f.announcedLength = 100; }, V::Whole},
        {"cut short of the announced length",
         [](DownloadFacts& f) { f.lengthAnnounced = true, f.announcedLength = 150; }, V::CutShort},
        {"announced 0 but a body arrived",
         [](DownloadFacts& f) { f.lengthAnnounced = true, f.announcedLength = 0; }, V::CutShort},
        {"announced length wins over the record",
         [](DownloadFacts& f) {
             f.lengthAnnounced = true, f.announcedLength = 100, f.recordSize = 7;
         },
         V::Whole},
        {"no length: record size met", [](DownloadFacts& f) { f.recordSize = 100; }, V::Whole},
        {"no length: cut short of the record (chunked, gzip, close)",
         [](DownloadFacts& f) { f.recordSize = 180; }, V::NotTheRecordSize},
        {"empty error body of no length",
         [](DownloadFacts& f) {
             f.fileSize = f.receivedBytes = 0, f.httpStatus = 404, f.recordSize = 0;
         },
         V::ErrorAnswer},
    };
    for (const auto& c : cases) {
        DownloadFacts f = WholeFile(100);
        c.change(f);
        EXPECT_EQ(c.verdict, JudgeDownload(f)) << c.fault;
        EXPECT_EQ(c.verdict == V::Whole, IsWholeDownload(f)) << c.fault;
    }
}

TEST(AnnouncedBodyLength, OnlyThePlainLengthOfAnUnencodedBody) {
    struct Case {
        const wchar_t* headers;
        bool announced;
        DWORD length;
    } cases[] = {
        {L"HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n", true, 1234},
        {L"HTTP/1.1 200 OK\r\ncontent-length:0\r\n", true, 0},
        {L"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n", false, 0},
        {L"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Encoding: gzip\r\n", false, 0},
        {L"HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\nContent-Length: 10\r\n", true, 10},
        {L"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 10\r\n", false, 0},
        {L"HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n", false, 0},
        {L"HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n", false, 0},
        {L"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n", false, 0},
    };
    for (const auto& c : cases) {
        DWORD length = 77;
        EXPECT_EQ(c.announced, AnnouncedBodyLength(c.headers, &length)) << c.headers;
        if (c.announced) {
            EXPECT_EQ(c.length, length) << c.headers;
        }
    }
    DWORD length = 0;
    EXPECT_FALSE(AnnouncedBodyLength(nullptr, &length));
}

TEST(ParseHttpStatus, ReadsOnlyAWellFormedStatusLine) {
    struct Case {
        const char* headers;
        DWORD status;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n", 200},
        {"HTTP/1.0 503 Service Unavailable\r\n\r\n", 503},
        {"HTTP/1.1 2000 Odd\r\n", 0},
        {"HTTP/1.1\r\n200 OK\r\n", 0},  // a status on a later line is none
        {"FTP 200 OK\r\n", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.status, ParseHttpStatus(c.headers, std::strlen(c.headers))) << c.headers;
    }
    const char unterminated[] = {'H', 'T', 'T', 'P', '/', '1', ' ', '5', '0', '3'};
    EXPECT_EQ(503u, ParseHttpStatus(unterminated, sizeof unterminated)) << "reads no further";
}

TEST(RetryDelayMs, DoublesFromOneSecondToHalfAMinute) {
    const DWORD expected[] = {0, 1000, 2000, 4000, 8000, 16000, 30000, 30000};
    for (unsigned failures = 0; failures < 8; ++failures) {
        EXPECT_EQ(expected[failures], RetryDelayMs(failures)) << failures << " failures";
    }
    EXPECT_EQ(30000u, RetryDelayMs(0xFFFFFFFFu)) << "no overflow after days of failures";
}

TEST(StallLimitMs, ReadsTheOperatorsSetting) {
    const std::string path = ".\\stall_" + std::to_string(GetCurrentProcessId()) + ".txt";
    struct Case {
        const char* value;
        DWORD ms;
    } cases[] = {{nullptr, 30000}, {"5", 5000}, {"0", 30000}, {"99999", 30000}, {"-3", 30000}};
    for (const auto& c : cases) {
        DeleteFileA(path.c_str());
        if (c.value)
            WritePrivateProfileStringA("Setting", "DownloadStallSeconds", c.value, path.c_str());
        EXPECT_EQ(c.ms, StallLimitMs(path.c_str())) << (c.value ? c.value : "missing");
    }
    DeleteFileA(path.c_str());
}

// Stands in for the download's binding: counts the aborts it is asked for.
class CountingBinding : public IBinding {
public:
    std::atomic<int> aborts{0};
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP Abort() override {
        ++aborts;
        return S_OK;
    }
    STDMETHODIMP Suspend() override { return E_NOTIMPL; }
    STDMETHODIMP Resume() override { return E_NOTIMPL; }
    STDMETHODIMP SetPriority(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP GetBindResult(CLSID*, DWORD*, LPOLESTR*, DWORD*) override { return E_NOTIMPL; }
    std::atomic<ULONG> refs{1};
};

TEST(DownloadStatusCallback, CountsProgressAndHearsTheAnswerUntilStopped) {
    UpdateRun run;
    DownloadStatusCallback callback;
    callback.SetOwner(&run);
    EXPECT_EQ(0u, callback.HttpStatus()) << "unknown before an answer";
    // The answer is heard only through the negotiation the download asks the callback for.
    IHttpNegotiate* negotiate = nullptr;
    ASSERT_EQ(S_OK,
              callback.QueryInterface(IID_IHttpNegotiate, reinterpret_cast<void**>(&negotiate)));
    LPWSTR extra = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(S_OK, negotiate->OnResponse(200, L"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n", nullptr,
                                          &extra));
    EXPECT_EQ(nullptr, extra) << "no request headers are added";
    EXPECT_EQ(200u, callback.HttpStatus());
    EXPECT_TRUE(callback.LengthAnnounced());
    EXPECT_EQ(9u, callback.AnnouncedLength());

    struct Report {
        const char* fault;
        ULONG progress, max, status;
        DWORD shownMax;
        ULONGLONG received;
    } reports[] = {
        {"announced length shown as is", 10, 500, BINDSTATUS_DOWNLOADINGDATA, 500, 10},
        {"unknown length shows 100000", 200000, 0, BINDSTATUS_DOWNLOADINGDATA, 100000, 200000},
        {"a report of no data counts no bytes", 0, 0, BINDSTATUS_CACHEFILENAMEAVAILABLE, 100000,
         200000},
    };
    for (const auto& r : reports) {
        SCOPED_TRACE(r.fault);
        EXPECT_EQ(S_OK, callback.OnProgress(r.progress, r.max, r.status, L""));
        EXPECT_EQ(r.progress, run.Progress());
        EXPECT_EQ(r.shownMax, run.ProgressMax());
        EXPECT_EQ(r.received, callback.ReceivedBytes());
    }
    run.RequestStop();
    EXPECT_EQ(E_ABORT, callback.OnProgress(999, 1000, BINDSTATUS_DOWNLOADINGDATA, L""));
    EXPECT_EQ(0u, run.Progress()) << "nothing is written once stopping";
}

TEST(DownloadStatusCallback, AbortsAStalledDownloadOnceAndLetsTheBindingGo) {
    UpdateRun run;
    CountingBinding binding;
    {
        DownloadStatusCallback callback;
        callback.SetOwner(&run);
        EXPECT_EQ(S_OK, callback.OnStartBinding(0, &binding));
        const ULONGLONG start = callback.LastActivity();
        EXPECT_FALSE(callback.AbortIfStalled(start + 29999, 30000)) << "not yet stalled";
        EXPECT_EQ(0, binding.aborts.load());
        EXPECT_TRUE(callback.AbortIfStalled(start + 30000, 30000));
        EXPECT_EQ(1, binding.aborts.load());
        EXPECT_FALSE(callback.AbortIfStalled(start + 30001, 30000)) << "the clock starts over";
        EXPECT_TRUE(callback.Stalled());
        EXPECT_EQ(S_OK, callback.OnStopBinding(E_ABORT, nullptr));
        callback.Abort();
        EXPECT_EQ(1, binding.aborts.load()) << "a binding that ended is not touched";
    }
    EXPECT_EQ(1u, binding.refs.load()) << "every reference taken was given back";
}

// The worker rewrites the status line while the window draws it: a reader must always get
// one whole line or the other, terminated within its 32 bytes.
TEST(UpdateRunStatusLine, IsNeverReadHalfWritten) {
    UpdateRun run;
    char first[kStatusLineSize] = {};
    char second[kStatusLineSize] = {};
    std::memset(first, 'a', sizeof first - 1);
    std::memset(second, 'b', 5);
    std::atomic<bool> done(false);
    std::thread writer([&] {
        for (int i = 0; i < 200000; ++i) run.SetStatusLine(i % 2 ? first : second);
        done = true;
    });
    int torn = 0;
    while (!done) {
        char seen[kStatusLineSize];
        run.GetStatusLine(seen);
        torn += std::memcmp(seen, first, sizeof seen) != 0 &&
                std::memcmp(seen, second, sizeof seen) != 0 && seen[0] != '\0';
    }
    writer.join();
    EXPECT_EQ(0, torn);
}

}  // namespace
