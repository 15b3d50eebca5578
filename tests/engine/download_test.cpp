// The run's decisions: whether a download is whole, what the answer announced, how long to
// wait before the next attempt; the status callback that feeds them; and the status line the
// window reads meanwhile. When an archive is in place is run_test's, through the step.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "DownloadCheck.h"
#include "DownloadPiece.h"
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
        // clang-format off
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
        {"more on disk than was counted", [](DownloadFacts& f) { f.fileSize = 120; }, V::LostOnTheWay},
        {"cut short of the announced length",
         [](DownloadFacts& f) { f.lengthAnnounced = true, f.announcedLength = 150; }, V::CutShort},
        {"announced 0 but a body arrived",
         [](DownloadFacts& f) { f.lengthAnnounced = true, f.announcedLength = 0; }, V::CutShort},
        {"announced length wins over the record",
         [](DownloadFacts& f) { f.lengthAnnounced = true, f.announcedLength = 100, f.recordSize = 7; },
         V::Whole},
        {"no length: record size met", [](DownloadFacts& f) { f.recordSize = 100; }, V::Whole},
        {"no length: cut short of the record (chunked, gzip, close)",
         [](DownloadFacts& f) { f.recordSize = 180; }, V::NotTheRecordSize},
        // clang-format on
    };
    for (const auto& c : cases) {
        DownloadFacts f = WholeFile(100);
        c.change(f);
        EXPECT_EQ(c.verdict, JudgeDownload(f)) << c.fault;
        EXPECT_EQ(c.verdict == V::Whole, IsWholeDownload(f)) << c.fault;
    }
}

TEST(ParseAnswerHeaders, LengthOfAPlainBodyRangeAndVersion) {
    struct Case {
        const wchar_t* headers;
        bool announced = false;
        DWORD length = 0;
        bool encoded = false, range = false;
        ULONGLONG first = 0, last = 0, total = 0;
        const char* validator = nullptr;
    } cases[] = {
        // clang-format off
        {L"HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n", true, 1234},
        {L"HTTP/1.1 200 OK\r\ncontent-length:0\r\n", true, 0},
        {L"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Encoding: gzip\r\n", false, 0, true},
        {L"HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\nContent-Length: 10\r\n", true, 10},
        {L"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 10\r\n", false, 0},
        {L"HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n", false, 0},
        {L"HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n", false, 0},
        {L"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n", false, 0},
        {L"HTTP/1.1 206 Partial\r\nContent-Range: bytes 100-199/1000\r\nContent-Length: 100\r\n"
         L"ETag: \"abc\"\r\nLast-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\n",
         true, 100, false, true, 100, 199, 1000, "\"abc\""},
        {L"HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-0/*\r\nETag: W/\"weak\"\r\n"
         L"Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\n",
         false, 0, false, true, 0, 0, 0, "Mon, 07 Dec 2026 10:00:00 GMT"},
        {L"HTTP/1.1 416 No\r\nContent-Range: bytes */1000\r\nETag: W/\"weak\"\r\n"},
        {L"HTTP/1.1 206 Partial\r\nContent-Range: bytes 200-100/1000\r\n"},
        {L"HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-1000/1000\r\n"},
        // clang-format on
    };
    for (const auto& c : cases) {
        const AnswerHeaders a = ParseAnswerHeaders(c.headers);
        EXPECT_EQ(c.announced, a.lengthAnnounced) << c.headers;
        EXPECT_EQ(c.length, a.announcedLength) << c.headers;
        EXPECT_EQ(c.encoded, a.encoded) << c.headers;
        EXPECT_EQ(c.range, a.rangeGiven) << c.headers;
        if (c.range) {
            EXPECT_EQ(c.first, a.rangeFirst) << c.headers;
            EXPECT_EQ(c.last, a.rangeLast) << c.headers;
            EXPECT_EQ(c.total, a.rangeTotal) << c.headers;
        }
        EXPECT_EQ(c.validator ? c.validator : "", a.validator) << c.headers;
    }
    EXPECT_FALSE(ParseAnswerHeaders(nullptr).lengthAnnounced);
}

}  // namespace

// An answer as the download would describe it: status, headers, bytes on disk, bytes counted
// (the run's tests use it too).
DownloadFacts Answer(DWORD status, const wchar_t* headers, ULONGLONG onDisk, ULONGLONG counted,
                     DWORD record = 0) {
    DownloadFacts f;
    static_cast<AnswerHeaders&>(f) = ParseAnswerHeaders(headers);
    f.httpStatus = status;
    f.result = S_OK;
    f.fileExists = true;
    f.fileSize = onDisk;
    f.receivedBytes = counted;
    f.recordSize = record;
    return f;
}

namespace {

TEST(Pieces, OnlyAPieceOfKnownVersionAndTotalIsKept) {
    const wchar_t* v = L"Content-Length: 100\r\nETag: \"v\"\r\n";
    struct Case {
        const char* fault;
        DownloadFacts facts;
        bool keep;
    } cases[] = {
        {"a 200 cut short, with an ETag", Answer(200, v, 40, 40), true},
        {"of the record's size", Answer(200, v, 40, 40, 100), true},
        {"a weak ETag alone is no validator",
         Answer(200, L"Content-Length: 100\r\nETag: W/\"v\"", 40, 40), false},
        {"compressed",
         Answer(200, L"Content-Length: 100\r\nContent-Encoding: gzip\r\nETag: \"v\"", 40, 40),
         false},
        {"no total (chunked)", Answer(200, L"Transfer-Encoding: chunked\r\nETag: \"v\"", 40, 40),
         false},
        {"a total other than the record's size", Answer(200, v, 40, 40, 99), false},
        {"bytes lost on the way to the disk", Answer(200, v, 30, 40), false},
        {"more on disk than counted: the counted bytes", Answer(200, v, 50, 40), true},
        {"nothing arrived", Answer(200, v, 0, 0), false},
        {"all of it arrived: no piece", Answer(200, v, 100, 100), false},
        {"an error page", Answer(404, v, 40, 40), false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.keep, IsKeepablePiece(c.facts)) << c.fault;
}

TEST(Pieces, OnlyTheRestOfTheSameVersionIsJoined) {
    const Piece piece{"\"v\"", 100, 40};
    const wchar_t* rest = L"Content-Range: bytes 40-99/100\r\nContent-Length: 60\r\nETag: \"v\"";
    using R = RestVerdict;
    struct Case {
        const char* fault;
        DownloadFacts facts;
        RestVerdict verdict;
    } cases[] = {
        // clang-format off
        {"the rest, whole", Answer(206, rest, 60, 60), R::Join},
        {"the rest, itself cut short", Answer(206, rest, 25, 25), R::Join},
        {"more on disk than counted", Answer(206, rest, 70, 60), R::Join},
        {"the link dropped before the first byte: no file, the piece stays",
         [&] { DownloadFacts f = Answer(206, rest, 0, 0); f.fileExists = false; return f; }(),
         R::Join},
        {"the server sent the file anew",
         Answer(200, L"Content-Length: 100\r\nETag: \"w\"", 100, 100), R::Fresh},
        {"no answer at all", Answer(0, L"", 0, 0), R::NoAnswer},
        {"range not satisfiable", Answer(416, L"Content-Range: bytes */100", 0, 0), R::Refused},
        {"a server busy for a while keeps the piece", Answer(503, L"", 0, 0), R::ErrorAnswer},
        {"a range starting elsewhere",
         Answer(206, L"Content-Range: bytes 0-59/100\r\nETag: \"v\"", 60, 60), R::Refused},
        {"another total", Answer(206, L"Content-Range: bytes 40-99/120\r\nETag: \"v\"", 60, 60),
         R::Refused},
        {"another version", Answer(206, L"Content-Range: bytes 40-99/100\r\nETag: \"w\"", 60, 60),
         R::Refused},
        {"no version at all", Answer(206, L"Content-Range: bytes 40-99/100", 60, 60), R::Refused},
        {"compressed", Answer(206, L"Content-Range: bytes 40-99/100\r\nETag: \"v\"\r\nContent-Encoding: gzip",
                              60, 60), R::Refused},
        {"more than the range holds",
         Answer(206, L"Content-Range: bytes 40-59/100\r\nETag: \"v\"", 30, 30), R::Refused},
        {"bytes lost on the way to the disk", Answer(206, rest, 20, 25), R::Refused},
        // clang-format on
    };
    for (const auto& c : cases) EXPECT_EQ(c.verdict, JudgeRest(piece, c.facts)) << c.fault;
    EXPECT_TRUE(IsWholeDownload(JoinedFacts(piece, 100, 100)));
    EXPECT_FALSE(IsWholeDownload(JoinedFacts(piece, 99, 100))) << "a joined file one byte short";
}

TEST(Pieces, TheIndexReadsBackOnlyWhatItCouldHaveWritten) {
    PieceRecord a;
    a.name = "maps\\a.zip";
    a.file = PieceFileName(3);
    a.size = 100, a.date = 0xFFFFFFFF, a.time = 7;
    a.url = "http://h/u/Torvel\\maps\\a.zip";
    a.piece = {"Mon, 07 Dec 2026 10:00:00 GMT", 100, 40};
    const std::string good = FormatPieceIndex({a});
    ASSERT_EQ(1u, ParsePieceIndex(good).size());
    // Each row: one more line after a's; whether it is read back beside a's, and whether a's
    // own line survives it.
    const std::string file = PieceFileName(5);
    const auto line = [](const std::string& name, const std::string& f, const char* numbers,
                         const std::string& validator, const std::string& url) {
        return name + "\t" + f + "\t" + numbers + "\t" + validator + "\t" + url + "\n";
    };
    struct Case {
        const char* fault;
        std::string line;
        size_t read;
    } cases[] = {
        // clang-format off
        {"a broken line", "broken line\n", 1},
        {"a file not a piece's", line("y", "..\\Update.exe", "1\t1\t1\t9\t5", "\"v\"", "u"), 1},
        {"a piece longer than its total", line("y", file, "1\t1\t1\t9\t10", "\"v\"", "u"), 1},
        {"a piece as long as its total is a whole file kept",
         line("y", file, "1\t1\t1\t9\t9", "\"v\"", "u"), 2},
        {"a carriage return never reaches If-Range",
         line("y", file, "1\t1\t1\t9\t5", "\"v\"\r", "u"), 1},
        {"a NUL in a field", line("y", file, "1\t1\t1\t9\t5", "\"v\"", std::string("u\0x", 3)), 1},
        {"a validator not printable", line("y", file, "1\t1\t1\t9\t5", "\"\x7f\"", "u"), 1},
        {"two lines name one file: neither is trusted with it",
         line("y", a.file, "1\t1\t1\t9\t5", "\"v\"", "u"), 0},
        {"a second piece of one item", line(a.name, file, "100\t4294967295\t7\t100\t50", "\"v\"", a.url), 1},
        // clang-format on
    };
    for (const auto& c : cases) {
        const std::vector<PieceRecord> back = ParsePieceIndex(good + c.line);
        ASSERT_EQ(c.read, back.size()) << c.fault;
        EXPECT_EQ(c.read == 0 ? "" : good, FormatPieceIndex(back).substr(0, good.size())) << c.fault;
    }
    PieceRecord tabbed = a;
    tabbed.name = "never\twritten";
    EXPECT_EQ(good, FormatPieceIndex({a, tabbed})) << "the writer keeps the reader's rule";
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

class Listener : public DownloadListener {
public:
    bool stopping = false;
    DWORD progress = 7, max = 7;
    bool IsStopping() const override { return stopping; }
    void SetProgress(DWORD p, DWORD m) override { progress = p, max = m; }
};

// The headers the download would add to its request.
std::wstring RequestHeaders(DownloadStatusCallback& callback) {
    LPWSTR headers = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(S_OK, callback.BeginningTransaction(L"http://h/", L"", 0, &headers));
    const std::wstring text = headers != nullptr ? headers : L"";
    CoTaskMemFree(headers);
    return text;
}

TEST(DownloadStatusCallback, AsksForTheRestHandsProgressOnAndHearsTheAnswerUntilStopped) {
    Listener listener;
    DownloadStatusCallback callback;
    callback.SetOwner(&listener);
    EXPECT_EQ(L"", RequestHeaders(callback)) << "a fresh download asks for the whole file";
    // Wine ignores the flags, so only this shows that Windows is asked past every cache.
    DWORD flags = BINDF_ASYNCHRONOUS;
    BINDINFO info;
    std::memset(&info, 0xCD, sizeof info);
    info.cbSize = sizeof info;
    ASSERT_EQ(S_OK, callback.GetBindInfo(&flags, &info));
    EXPECT_EQ(BINDF_ASYNCHRONOUS | BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE |
                  BINDF_PRAGMA_NO_CACHE | BINDF_NO_UI,
              flags);
    EXPECT_EQ(sizeof info, info.cbSize);
    EXPECT_EQ(nullptr, info.szExtraInfo) << "no stray pointer for the download to free";
    EXPECT_EQ(0u, callback.HttpStatus()) << "unknown before an answer";
    // The answer is heard only through the negotiation the download asks the callback for.
    IHttpNegotiate* negotiate = nullptr;
    ASSERT_EQ(S_OK,
              callback.QueryInterface(IID_IHttpNegotiate, reinterpret_cast<void**>(&negotiate)));
    LPWSTR extra = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(S_OK, negotiate->OnResponse(206,
                                          L"HTTP/1.1 206 Partial\r\nContent-Length: 9\r\n"
                                          L"Content-Range: bytes 1024-1032/1033\r\n",
                                          nullptr, &extra));
    EXPECT_EQ(nullptr, extra) << "no request headers are added to the answer";
    EXPECT_EQ(206u, callback.HttpStatus());
    EXPECT_EQ(1024u, callback.Answer().rangeFirst);

    struct Report {
        const char* fault;
        ULONG progress, max, status;
        ULONGLONG received;
    } reports[] = {
        {"a data report", 10, 500, BINDSTATUS_DOWNLOADINGDATA, 10},
        {"an unknown total is handed on as 0", 200000, 0, BINDSTATUS_DOWNLOADINGDATA, 200000},
        {"a report of no data counts no bytes", 0, 0, BINDSTATUS_CACHEFILENAMEAVAILABLE, 200000},
    };
    for (const auto& r : reports) {
        SCOPED_TRACE(r.fault);
        EXPECT_EQ(S_OK, callback.OnProgress(r.progress, r.max, r.status, L""));
        EXPECT_EQ(r.progress, listener.progress);
        EXPECT_EQ(r.max, listener.max);
        EXPECT_EQ(r.received, callback.ReceivedBytes());
    }
    EXPECT_EQ(DownloadVerdict::LostOnTheWay, JudgeDownload(callback.Facts(S_OK, true, 9)));
    callback.SetLimit(200000);
    EXPECT_EQ(E_ABORT, callback.OnProgress(200001, 0, BINDSTATUS_DOWNLOADINGDATA, L""))
        << "a body past its limit is ended";
    listener.stopping = true;
    listener.progress = 5;
    EXPECT_EQ(E_ABORT, callback.OnProgress(999, 1000, BINDSTATUS_DOWNLOADINGDATA, L""));
    EXPECT_EQ(5u, listener.progress) << "nothing is handed on once stopping";
}

// A stall is silence in the reports and on the disk alike: bytes that reach the disk with no
// report (Wine reports none while a fast answer pours in) are a download moving.
TEST(DownloadStatusCallback, AbortsAStalledDownloadOnceAndLetsTheBindingGo) {
    Listener listener;
    CountingBinding binding;
    const char* path = "grows.tmp";
    DeleteFileA(path);
    {
        DownloadStatusCallback callback;
        callback.SetOwner(&listener);
        callback.WatchFile(path);
        EXPECT_EQ(S_OK, callback.OnStartBinding(0, &binding));
        // The start was heard no later than now, and less than a second before.
        const ULONGLONG now = GetTickCount64();
        EXPECT_FALSE(callback.AbortIfStalled(now + 29000, 30000)) << "not yet stalled";
        for (ULONGLONG at = now + 30000; at <= now + 90000; at += 30000) {
            FILE* file = std::fopen(path, "ab");
            ASSERT_TRUE(file != nullptr && std::fputs("more", file) >= 0 && std::fclose(file) == 0);
            EXPECT_FALSE(callback.AbortIfStalled(at, 30000)) << "the file grew at " << at - now;
        }
        EXPECT_EQ(0, binding.aborts.load());
        EXPECT_TRUE(callback.AbortIfStalled(now + 120000, 30000)) << "the file stopped growing";
        EXPECT_EQ(1, binding.aborts.load());
        EXPECT_FALSE(callback.AbortIfStalled(now + 120001, 30000)) << "the clock starts over";
        EXPECT_TRUE(callback.Stalled());
        EXPECT_EQ(S_OK, callback.OnStopBinding(E_ABORT, nullptr));
        callback.Abort();
        EXPECT_EQ(1, binding.aborts.load()) << "a binding that ended is not touched";
    }
    EXPECT_EQ(1u, binding.refs.load()) << "every reference taken was given back";
    DeleteFileA(path);
}

}  // namespace
