// Figure 3: the download step beside URLDownloadToFileA from the loopback server; figure
// 10: the step over a link that drops, and what joining a rest to its piece costs.
#include <windows.h>
#include <urlmon.h>

#include <string>
#include <vector>

#include "BenchFigures.h"
#include "BenchInputs.h"
#include "BenchTiming.h"
#include "DownloadCheck.h"
#include "ListRun.h"
#include "Sha256.h"
#include "UpdateRun.h"

namespace {

constexpr int kLeastDownloadReps = 5;

// The system's world, counting the bytes each download brought.
class CountingIo : public SystemUpdateIo {
public:
    ULONGLONG fetched = 0;
    DownloadFacts Download(const char* url, const char* path,
                           DownloadStatusCallback& callback) override {
        DownloadFacts facts = SystemUpdateIo::Download(url, path, callback);
        fetched += facts.receivedBytes;
        return facts;
    }
};

// One whole download of name by the run's own step, however many attempts it takes; the
// milliseconds to the file in place (-1 when it did not come whole) and the bytes fetched.
double DownloadWhole(const Options& o, const char* name, ULONGLONG* fetched) {
    const std::string dir = Format("step\\link-%s", name);
    if (!MakeFolders(dir) || !WriteHandOverFile(dir, o, {name})) return -1;
    CountingIo io;
    UpdateRun run(&io);
    double ms = 0;
    const bool whole =
        RunList(run, dir, 1000, &ms) == 1 &&
        FileSizeOf(dir + "\\" + name) == static_cast<int64_t>(o.downloadMb) * 1024 * 1024;
    *fetched = io.fetched;
    return whole ? ms : -1;
}

}  // namespace

void BenchDownload(const Options& o, Report& report) {
    constexpr double kGoal = 0.95;
    const int64_t expected = static_cast<int64_t>(o.downloadMb) * 1024 * 1024;
    const std::string url = ServerUrl(o) + "Torvel\\big.bin";
    std::vector<double> ours, bare;
    // Two downloads of the same file over loopback differ by 10-15% from one to the next;
    // a median of fewer than five does not settle within the goal's margin.
    const int reps = o.reps < kLeastDownloadReps ? kLeastDownloadReps : o.reps;
    TimePair(
        reps,
        [&](int r) {
            const std::string dir = Format("step\\ours-%d", r);
            if (!MakeFolders(dir) || !WriteHandOverFile(dir, o, {"big.bin"})) return -1.0;
            // Both sides start with no cache entry for the file (see ForgetReleaseUrls).
            ForgetCachedCopy(url.c_str());
            UpdateRun dialog;
            double ms = 0;
            const bool ok =
                RunList(dialog, dir, 1, &ms) == 1 && FileSizeOf(dir + "\\big.bin") == expected;
            if (r == reps - 1) RecordTouched(dir + "\\big.bin");
            return ok ? ms : -1.0;
        },
        [&](int r) {
            const std::string dir = Format("step\\bare-%d", r);
            if (!MakeFolders(dir)) return -1.0;
            const std::string path = dir + "\\big.bin";
            ForgetCachedCopy(url.c_str());
            const double ms = Timed([&] {
                return URLDownloadToFileA(nullptr, url.c_str(), path.c_str(), 0, nullptr) == S_OK;
            });
            return FileSizeOf(path) == expected ? ms : -1.0;
        },
        ours, bare);
    const double oursRate = Rate(expected, Median(ours)), bareRate = Rate(expected, Median(bare));
    const double ratio = bareRate > 0 ? oursRate / bareRate : 0;
    report.Row(Format("3 download step, %d MB", o.downloadMb), Format("%.1f MB/s", oursRate),
               Format("%.1f MB/s bare URLDownloadToFileA", bareRate), Format("%.2f", ratio),
               Format(">= %.2f", kGoal));
    report.Verdict("3 download step", ratio >= kGoal,
                   ratio >= kGoal
                       ? Format("%.2f of the bare download (goal %.2f)", ratio, kGoal)
                       : Format("short by %.2f: %.2f of the bare download (goal %.2f)",
                                kGoal - ratio, ratio, kGoal));
}

// The big file over a link that drops every dropKib KiB, against the same file unbroken:
// on a player's link of linkKib KiB/s (the goals), and at loopback speed, where the pause
// of 1 s before each next attempt is all that shows. Then what joining costs: the rest of
// a file appended to its piece, against a copy of the same bytes.
void BenchDroppingLink(const Options& o, Report& report) {
    const double bytes = static_cast<double>(o.downloadMb) * 1024 * 1024;
    const int cuts = (o.downloadMb * 1024 - 1) / o.dropKib;
    for (bool paced : {true, false}) {
        ULONGLONG whole = 0, cut = 0;
        const double wholeMs = DownloadWhole(o, paced ? "paced.bin" : "big.bin", &whole);
        const double cutMs = DownloadWhole(o, paced ? "paced-cut.bin" : "cut.bin", &cut);
        if (wholeMs < 0 || cutMs < 0) {
            Fail("a download over the dropping link did not come whole");
            return;
        }
        const std::string link = paced ? Format("a %d KiB/s link", o.linkKib) : "loopback";
        const double timeRatio = cutMs / wholeMs, byteRatio = cut / bytes;
        report.Row(
            Format("10 %d MB over %s dropping every %d KiB", o.downloadMb, link.c_str(), o.dropKib),
            Format("%.1f s, %.2fx the bytes", cutMs / 1000, byteRatio),
            Format("%.1f s unbroken", wholeMs / 1000), Format("%.2f", timeRatio),
            paced ? "<= 1.30 time, <= 1.10 bytes"
                  : Format("context: %d pauses of 1 s", cuts).c_str());
        if (!paced) continue;
        report.Verdict(
            "10 dropping link", timeRatio <= 1.3 && byteRatio <= 1.1,
            Format("%.2f of the unbroken time (goal 1.30), %.2f of the bytes (goal 1.10)",
                   timeRatio, byteRatio));
    }

    // The join: a file's rest appended to its first dropKib KiB, against a plain copy.
    const std::string dir = "step\\join";
    const std::string whole = "step\\link-big.bin\\big.bin";
    if (!MakeFolders(dir) || !CopyFileA(whole.c_str(), (dir + "\\rest").c_str(), FALSE)) {
        Fail("cannot lay out the join");
        return;
    }
    SystemUpdateIo io;
    const ULONGLONG rest = static_cast<ULONGLONG>(bytes) - o.dropKib * 1024ull;
    std::vector<double> joins, copies;
    for (int r = 0; r < o.reps; ++r) {
        const std::string piece = dir + Format("\\piece-%d", r),
                          copy = dir + Format("\\copy-%d", r);
        if (!WriteWholeFile(piece, std::string(static_cast<size_t>(o.dropKib) * 1024, 'p'))) break;
        joins.push_back(
            Timed([&] { return io.Append((dir + "\\rest").c_str(), rest, piece.c_str()); }));
        copies.push_back(Timed(
            [&] { return CopyFileA((dir + "\\rest").c_str(), copy.c_str(), FALSE) != FALSE; }));
    }
    report.Row("10 join of the rest to its piece",
               Format("%.1f MB/s", Rate(static_cast<int64_t>(rest), Median(joins))),
               Format("%.1f MB/s CopyFileA", Rate(static_cast<int64_t>(rest), Median(copies))), "-",
               "context");
}

// The big file as one item of a signed release (its manifest fetched and checked first, the
// file hashed while it comes), beside the same download unsigned: over the player's line of
// figure 12, where the goal is, and at loopback speed as context. Under Wine a download
// that is never short of bytes reports its progress only once its body is in, so there the
// hash can only follow it; the rate CNG hashes at here is a row of its own.
void BenchSignedDownload(const Options& o, Report& report) {
    if (o.releaseKey.empty()) return;
    const int64_t expected = static_cast<int64_t>(o.downloadMb) * 1024 * 1024;
    const int loopbackReps = o.reps < kLeastDownloadReps ? kLeastDownloadReps : o.reps;
    constexpr double kAllowed = 1.05;
    for (const bool line : {true, false}) {
        if (line && o.linePort == 0) continue;
        const int reps = line ? o.lineReps : loopbackReps;
        Options at = o;
        at.port = line ? o.linePort : o.port;
        const std::string url = ServerUrl(at) + "Torvel\\big.bin";
        const auto side = [&](const char* kind, const std::string& settings) -> TimedRun {
            return [&, kind, settings](int r) {
                const std::string dir = Format("step\\%s-%d", kind, r);
                if (!MakeFolders(dir) || !WriteHandOverFile(dir, at, {"big.bin"}) ||
                    !WriteSettings(dir, settings))
                    return -1.0;
                ForgetCachedCopy(url.c_str());
                UpdateRun run;
                double ms = 0;
                ForgetAcceptedSerial();
                const bool ok =
                    RunList(run, dir, 1, &ms) == 1 && FileSizeOf(dir + "\\big.bin") == expected;
                return ok ? ms : -1.0;
            };
        };
        std::vector<double> signedMs, plainMs;
        TimePair(reps, side(line ? "line-signed" : "signed", "ReleaseKey=" + o.releaseKey),
                 side(line ? "line-unsigned" : "unsigned", ""), signedMs, plainMs);
        // The key a signed run pinned would hold every later figure's runs to it.
        ForgetAcceptedSerial();
        const double ratio = Median(plainMs) > 0 ? Median(signedMs) / Median(plainMs) : 0;
        report.Row(line ? Format("11 signed download step, %d MB, line of %d ms, %d KiB/s",
                                 o.downloadMb, o.lineRttMs, o.lineKib)
                        : std::string("11 the same at loopback speed"),
                   Format("%.2f s", Median(signedMs) / 1000),
                   Format("%.2f s unsigned", Median(plainMs) / 1000), Format("%.2f", ratio),
                   line ? Format("<= %.2f", kAllowed) : std::string("context"));
        if (!line) continue;
        const bool met = !signedMs.empty() && !plainMs.empty() && ratio <= kAllowed;
        report.Verdict("11 signed download", met,
                       Format("%s%.2f of the unsigned download's time over a player's line "
                              "(goal %.2f)",
                              met || signedMs.empty() ? "" : Format("over by %.2f: ", ratio - kAllowed).c_str(),
                              ratio, kAllowed));
    }

    std::vector<char> bytes(static_cast<size_t>(expected), 'h');
    std::vector<double> hashMs;
    for (int r = 0; r < loopbackReps; ++r) {
        uint8_t digest[kSha256Bytes];
        hashMs.push_back(Timed([&] { return Sha256Of(bytes.data(), bytes.size(), digest); }));
    }
    report.Row(Format("11 SHA-256 through CNG, %d MB in memory", o.downloadMb),
               Format("%.0f MB/s", Rate(expected, Median(hashMs))), "-", "-", "context");
}
