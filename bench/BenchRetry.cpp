// Figure 6: the retry schedule in front of a file that never comes, from the schedule and
// from a real run against a 404; figure 7: how soon a stalled download is given up.
#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "BenchFigures.h"
#include "BenchTiming.h"
#include "ListRun.h"
#include "UpdateRun.h"

namespace {

// Requests per minute against a file that never comes, over the first five minutes, from
// the schedule alone (each failed request taken as instant: the worst case for a server).
std::vector<int> ScheduledRequestsPerMinute() {
    std::vector<int> perMinute(5, 0);
    uint64_t at = 0;
    for (unsigned failures = 0; at < 5 * 60000ull; ++failures) {
        at += RetryDelayMs(failures);
        if (at < 5 * 60000ull) ++perMinute[static_cast<size_t>(at / 60000)];
    }
    return perMinute;
}

// A server that sends half of the body and then nothing, the connection left open: how
// long the step takes to give the download up, against a stall limit of 2 s.
void BenchStall(const Options& o, Report& report) {
    const std::string dir = "stall";
    if (!MakeFolders(dir) || !WriteHandOverFile(dir, o, {"stall.bin"})) {
        Fail("cannot lay out the stall run");
        return;
    }
    WritePrivateProfileStringA("Setting", "DownloadStallSeconds", "2",
                               (FullPath(dir) + "\\UpdateConfig.txt").c_str());
    UpdateRun run;
    double ms = -1;
    RunFromFolder(run, dir, [&] {
        ms = Timed([&run] {
            run.DownloadNextItem();
            return run.Failures() == 1;
        });
    });
    if (ms < 0) {
        Fail("the stalled download did not end as a failure");
        return;
    }
    report.Row("7 stalled download given up after", Format("%.2f s", ms / 1000), "stall limit 2 s",
               "", "<= 2.5 s");
    report.Verdict("7 stall detection", ms <= 2500,
                   Format("the download was aborted %.2f s after it began (limit 2 s)", ms / 1000));
}

}  // namespace

void BenchRetry(const Options& o, Report& report) {
    const std::vector<int> perMinute = ScheduledRequestsPerMinute();
    std::string minutes;
    for (int n : perMinute) minutes += Format("%s%d", minutes.empty() ? "" : "/", n);
    report.Row("6 retries vs missing file, per minute 1-5", minutes, "no pause: hundreds a second",
               "", "<= 2/min after minute 1");
    report.Verdict("6 retry schedule", perMinute[1] <= 2 && perMinute[4] <= 2,
                   Format("%s requests in minutes 1 to 5", minutes.c_str()));
    if (o.port == 0) return;
    // The real run against the server's 404 for a while: the pauses in front of a server.
    const std::string dir = "retry";
    if (!MakeFolders(dir) || !WriteHandOverFile(dir, o, {"never-published.bin"})) {
        Fail("cannot lay out the retry run");
        return;
    }
    UpdateRun run;
    int requests = 0;
    constexpr DWORD kWatchMs = 8000;
    RunFromFolder(run, dir, [&] {
        std::thread stopper([&run] {
            Sleep(kWatchMs);
            run.RequestStop();
        });
        while (!run.IsStopping()) run.DownloadNextItem();
        stopper.join();
        requests = static_cast<int>(run.Failures());
    });
    report.Row(Format("6 requests for a 404 in %u s", static_cast<unsigned>(kWatchMs / 1000)),
               Format("%d", requests), "schedule: 4 (at 0, 1, 3, 7 s)", "", "context");
    BenchStall(o, report);
}
