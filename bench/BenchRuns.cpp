// Figures 8, 9, 11 and 12: whole runs of Update.exe, started as the lobby starts it in a
// laid-out installation: its peak working set over the big archive beside a run over an
// empty list; a whole release to the lobby's start beside the bare calls doing the same
// work, fetching ahead and one download at a time; the same release signed beside
// unsigned; and a release over a player's line beside the time its bytes need.
#include <windows.h>
#include <urlmon.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BenchFigures.h"
#include "BenchInputs.h"
#include "BenchTiming.h"
#include "DownloadCheck.h"
#include "ListRun.h"
#include "ProgramRun.h"
#include "UnpackLoops.h"

namespace {

// The release as the previous one left it: every target exists (what a player updates).
bool LayOutPreviousRelease(const std::string& dir, const std::vector<ReleaseFile>& files) {
    if (!MakeFolders(dir)) return false;
    for (const ReleaseFile& f : files) {
        const bool laid = f.folder.empty()
                              ? CopyFileA(ReleasePath(f.name).c_str(),
                                          (dir + "\\" + f.name).c_str(), FALSE) != FALSE
                              : MakeFolders(dir + "\\" + f.folder) &&
                                    UnpackBare(ReleasePath(f.name).c_str(), dir);
        if (!laid) return false;
    }
    return true;
}

// Every plain file of the release in place at its served size, and no download left.
bool ReleaseInPlace(const std::string& dir, const std::vector<ReleaseFile>& files) {
    for (const ReleaseFile& f : files) {
        if (FileSizeOf(dir + "\\DownLoad\\" + f.name) >= 0) return false;
        if (f.folder.empty() && FileSizeOf(dir + "\\" + f.name) != FileSizeOf(ReleasePath(f.name)))
            return false;
    }
    return true;
}

std::string ReleaseUrl(const Options& o, const std::string& name) {
    return ServerUrl(o) + "Torvel\\" + name;
}

// Both sides start with no entry for their URLs in the system's cache: the bare calls would
// be served from it on Windows, and under Wine, which writes an entry for every download
// whatever the request asks, a download pays for removing the old entry's file, which
// Windows never charges the run (it writes none).
void ForgetReleaseUrls(const Options& o, const std::vector<ReleaseFile>& files) {
    for (const ReleaseFile& f : files) ForgetCachedCopy(ReleaseUrl(o, f.name).c_str());
}

// The release installed by the bare calls, in the updater's order and places: each file
// fetched into DownLoad\ by URLDownloadToFileA, plain files moved over their targets,
// archives unpacked by the replacing loop, then deleted.
bool InstallReleaseBare(const Options& o, const std::string& dir,
                        const std::vector<ReleaseFile>& files) {
    for (const ReleaseFile& f : files) {
        const std::string download = dir + "\\DownLoad\\" + f.name;
        if (URLDownloadToFileA(nullptr, ReleaseUrl(o, f.name).c_str(), download.c_str(), 0,
                               nullptr) != S_OK) {
            return false;
        }
        const bool placed = f.folder.empty()
                                ? MoveFileExA(download.c_str(), (dir + "\\" + f.name).c_str(),
                                              MOVEFILE_REPLACE_EXISTING) != FALSE
                                : UnpackBare(download.c_str(), dir, BareWrite::ThroughNewFile) &&
                                      DeleteFileA(download.c_str()) != FALSE;
        if (!placed) return false;
    }
    return true;
}

}  // namespace

// A whole run of Update.exe over the 64 MB archive beside one over an empty list: how much
// memory the kit adds to the lobby's machine for the largest thing it handles.
void BenchMemory(const Options& o, Report& report) {
    const int entries = BigEntryCount(o);
    std::vector<double> fullMiB, emptyMiB, fullMs, emptyMs;
    const auto side = [&](const char* kind, const std::vector<std::string>& names,
                          std::vector<double>& peaks) -> TimedRun {
        return [&o, entries, kind, names, &peaks = peaks](int r) {
            const std::string dir = Format("whole\\%s-%d", kind, r);
            ProgramRun run;
            if (!LayOutInstallation(o, dir, names) || !RunProgram(dir, "Update.exe", run) ||
                run.lobbyMs < 0) {
                return -1.0;
            }
            for (int k = 0; k < static_cast<int>(names.size()) * entries; ++k) {
                if (FileSizeOf(dir + Format("\\e%02d.bin", k)) !=
                    static_cast<int64_t>(kBigEntrySize))
                    return -1.0;
            }
            if (run.peakBytes == 0) {
                Fail("no peak working set could be read for Update.exe");
                return -1.0;
            }
            peaks.push_back(run.peakBytes / 1048576.0);
            return run.lobbyMs;
        };
    };
    TimePair(o.reps, side("memory-full", {"big.zip"}, fullMiB), side("memory-empty", {}, emptyMiB),
             fullMs, emptyMs);
    const double above = Median(fullMiB) - Median(emptyMiB);
    constexpr double kAllowedMiB = 8;
    report.Row(Format("8 peak working set, Update.exe with %d MB archive", o.bigMb),
               Format("%.1f MiB (lobby started at %.1f s)", Median(fullMiB), Median(fullMs) / 1000),
               Format("%.1f MiB with an empty list (lobby at %.1f s)", Median(emptyMiB),
                      Median(emptyMs) / 1000),
               Format("%+.1f MiB", above), Format("<= +%.0f MiB", kAllowedMiB));
    const bool met = !fullMiB.empty() && !emptyMiB.empty() && above <= kAllowedMiB;
    report.Verdict(
        "8 memory", met,
        Format(
            "%s%.1f MiB above the run with an empty list (goal %.0f MiB)",
            met || fullMiB.empty() ? "" : Format("over by %.1f MiB: ", above - kAllowedMiB).c_str(),
            above, kAllowedMiB));
}

namespace {

// A whole release's list and bytes.
struct ReleaseWork {
    std::vector<ReleaseFile> files;
    std::vector<std::string> names;
    std::vector<DWORD> sizes;  // as mkhandover records them
    int archives = 0;
    int64_t bytes = 0;
};

bool ReadRelease(const Options& o, Release which, ReleaseWork* work) {
    work->files = ReleaseFiles(o, which);
    for (const ReleaseFile& f : work->files) {
        work->names.push_back(f.name);
        work->archives += f.folder.empty() ? 0 : 1;
        const int64_t size = FileSizeOf(ReleasePath(f.name));
        if (size < 0) {
            Fail("release missing: run with --generate first");
            return false;
        }
        work->bytes += size;
        work->sizes.push_back(static_cast<DWORD>(size));
    }
    return true;
}

// Update.exe over the release laid out as the previous one left it, with settings in its
// UpdateConfig.txt: the milliseconds to the lobby's start, and when Update.exe ended into
// ends (when given).
TimedRun KitSide(const Options& o, const ReleaseWork& work, const char* kind,
                 const std::string& settings, std::vector<double>* ends = nullptr) {
    return [&o, &work, kind, settings, ends](int r) {
        const std::string dir = Format("whole\\%s-%d", kind, r);
        ProgramRun run;
        if (!LayOutPreviousRelease(dir, work.files) ||
            !LayOutInstallation(o, dir, work.names, settings, work.sizes))
            return -1.0;
        ForgetReleaseUrls(o, work.files);
        ForgetAcceptedSerial();
        if (!RunProgram(dir, "Update.exe", run) || !ReleaseInPlace(dir, work.files)) return -1.0;
        if (ends != nullptr) ends->push_back(run.endMs);
        return run.lobbyMs;
    };
}

// The bare calls over the same release: their milliseconds.
TimedRun BareSide(const Options& o, const ReleaseWork& work, const char* kind) {
    return [&o, &work, kind](int r) {
        const std::string dir = Format("whole\\%s-%d", kind, r);
        if (!LayOutPreviousRelease(dir, work.files) || !MakeFolders(dir + "\\DownLoad")) return -1.0;
        ForgetReleaseUrls(o, work.files);
        const double ms = Timed([&] { return InstallReleaseBare(o, dir, work.files); });
        return ReleaseInPlace(dir, work.files) ? ms : -1.0;
    };
}

std::string Describe(const ReleaseWork& work) {
    return Format("%d files (%d archive%s), %.0f MB", static_cast<int>(work.files.size()),
                  work.archives, work.archives == 1 ? "" : "s", work.bytes / 1048576.0);
}

}  // namespace

// What a player waits for: a real Update.exe run over a whole release, from its start to
// the lobby's, fetching ahead (the default) and one download at a time, beside the same
// work done by the bare calls in this process.
void BenchRelease(const Options& o, Report& report) {
    ReleaseWork work;
    if (!ReadRelease(o, Release::Whole, &work)) return;
    std::vector<double> kitEndMs;
    const TurnTimes t = TimeInTurns(
        o.releaseReps, {KitSide(o, work, "release-kit", "", &kitEndMs),
                        KitSide(o, work, "release-kit0", "DownloadsAhead=0"),
                        BareSide(o, work, "release-bare")});

    // A program's own start and end under Wine: the run pays it twice (Update.exe and the
    // lobby), the bare calls never.
    std::vector<double> startMs;
    for (int r = 0; r < o.reps; ++r) {
        const std::string dir = Format("whole\\start-%d", r);
        ProgramRun run;
        if (MakeFolders(dir) &&
            CopyFileA((o.kit + "\\Quillon.exe").c_str(), (dir + "\\Quillon.exe").c_str(), FALSE) &&
            RunProgram(dir, "Quillon.exe", run)) {
            startMs.push_back(run.endMs);
        }
    }

    constexpr double kAllowed = 1.10;
    const double bare = Median(t.ms[2]);
    const char* sides[] = {"fetching ahead (the default)", "one download at a time"};
    for (size_t k = 0; k < 2; ++k) {
        const double kit = Median(t.ms[k]);
        const double ratio = bare > 0 ? (kit - kFixedWaitsMs) / bare : 0;
        report.Row(k == 0 ? Format("9 whole release: %s", Describe(work).c_str())
                          : std::string("9 the same, one download at a time"),
                   k == 0 ? Format("%.2f s to the lobby's start (Update.exe ended at %.2f s)",
                                   kit / 1000, Median(kitEndMs) / 1000)
                          : Format("%.2f s to the lobby's start", kit / 1000),
                   Format("%.2f s bare: downloads, unpacking, moves", bare / 1000),
                   Format("%.2f", ratio), Format("<= %.2f after 1.5 s waits", kAllowed));
        const bool met = !t.ms[k].empty() && !t.ms[2].empty() && ratio <= kAllowed;
        report.Verdict(
            k == 0 ? "9 whole release" : "9 one at a time", met,
            Format("%s%s: %.2f s to the lobby's start, less 1.5 s of fixed waits (0.5 s before "
                   "the hand-over file is read, 1 s after the list), is %.2f of the bare %.2f s "
                   "(goal %.2f)",
                   met || t.ms[k].empty() ? "" : Format("over by %.2f: ", ratio - kAllowed).c_str(),
                   sides[k], kit / 1000, ratio, bare / 1000, kAllowed));
    }
    report.Row("9 a small program started and ended", Format("%.0f ms", Median(startMs)),
               "the run starts two: Update.exe, the lobby", "-", "context");
}

// A signed release costs its manifest and a hash of each file: the release of figure 12
// signed, beside the same unsigned, over the player's line (the goal), and the release of
// figure 9 the same way at loopback speed (context: there the run is bound by the
// processor, which the hashes then share).
void BenchSignedRelease(const Options& o, Report& report) {
    if (o.releaseKey.empty()) return;
    constexpr double kAllowed = 1.05;
    for (const Release which : {Release::OverALine, Release::Whole}) {
        const bool line = which == Release::OverALine;
        ReleaseWork work;
        if ((line && o.linePort == 0) || !ReadRelease(o, which, &work)) continue;
        Options at = o;
        at.port = line ? o.linePort : o.port;
        // At loopback speed the figure is context: as many runs as over the line.
        const TurnTimes t = TimeInTurns(
            o.lineReps,
            {KitSide(at, work, line ? "line-signed-kit" : "signed-kit", "ReleaseKey=" + o.releaseKey),
             KitSide(at, work, line ? "line-unsigned-kit" : "unsigned-kit", "")});
        // The key the last signed run pinned would hold every later run to it.
        ForgetAcceptedSerial();
        const double signedMs = Median(t.ms[0]), plain = Median(t.ms[1]);
        const double ratio =
            plain > kFixedWaitsMs ? (signedMs - kFixedWaitsMs) / (plain - kFixedWaitsMs) : 0;
        report.Row(line ? Format("11 signed release over the line: %s", Describe(work).c_str())
                        : Format("11 the same at loopback speed: %s", Describe(work).c_str()),
                   Format("%.2f s to the lobby's start", signedMs / 1000),
                   Format("%.2f s unsigned", plain / 1000), Format("%.2f", ratio),
                   line ? Format("<= %.2f after 1.5 s waits", kAllowed) : std::string("context"));
        if (!line) continue;
        const bool met = !t.ms[0].empty() && !t.ms[1].empty() && ratio <= kAllowed;
        report.Verdict(
            "11 signed release", met,
            Format("%s%.2f of the unsigned run's time to the lobby's start over a player's "
                   "line, both less 1.5 s of fixed waits (goal %.2f)",
                   met || t.ms[0].empty() ? "" : Format("over by %.2f: ", ratio - kAllowed).c_str(),
                   ratio, kAllowed));
    }
}

// A release over a player's line (a round trip before each answer's first byte, one rate
// all downloads share): the run fetching ahead, one download at a time, and the bare loop,
// beside the time the bytes need at the line's rate.
void BenchReleaseOverALine(const Options& o, Report& report) {
    ReleaseWork work;
    if (o.linePort == 0 || !ReadRelease(o, Release::OverALine, &work)) return;
    Options line = o;
    line.port = o.linePort;
    const TurnTimes t = TimeInTurns(o.lineReps, {KitSide(line, work, "line-kit", "")});
    // The context takes twice the goal's time a run: once each is enough to show it.
    const TurnTimes context = TimeInTurns(1, {KitSide(line, work, "line-kit0", "DownloadsAhead=0"),
                                              BareSide(line, work, "line-bare")});
    const double needMs = work.bytes * 1000.0 / (o.lineKib * 1024.0);
    constexpr double kAllowed = 1.25;
    const double kit = Median(t.ms[0]) - kFixedWaitsMs;
    const double one = Median(context.ms[0]) - kFixedWaitsMs;
    const double ratio = needMs > 0 ? kit / needMs : 0;
    report.Row(Format("12 release over a line of %d ms, %d KiB/s: %s", o.lineRttMs, o.lineKib,
                      Describe(work).c_str()),
               Format("%.2f s fetching ahead", kit / 1000),
               Format("%.2f s the bytes' own time", needMs / 1000), Format("%.2f", ratio),
               Format("<= %.2f after 1.5 s waits", kAllowed));
    report.Row("12 the same, one download at a time", Format("%.2f s", one / 1000),
               Format("%.2f s the bare loop", Median(context.ms[1]) / 1000),
               Format("%.2f", needMs > 0 ? one / needMs : 0), "context");
    const bool met = !t.ms[0].empty() && ratio <= kAllowed;
    report.Verdict("12 over a player's line", met,
                   Format("%s%.2f s to the lobby's start, less 1.5 s of fixed waits, is %.2f "
                          "times the %.2f s its bytes need at the line's rate (goal %.2f)",
                          met || t.ms[0].empty() ? "" : Format("over by %.2f: ", ratio - kAllowed).c_str(),
                          kit / 1000, ratio, needMs / 1000, kAllowed));
    BenchSmallFilesOverALine(line, report);
}

// The same line with a release of many small files, where what each request costs beside its
// bytes (a round trip, a download object, a file) shows most: fetching ahead only.
void BenchSmallFilesOverALine(const Options& line, Report& report) {
    ReleaseWork work;
    if (!ReadRelease(line, Release::SmallFiles, &work)) return;
    const TurnTimes t = TimeInTurns(line.lineReps, {KitSide(line, work, "small-kit", "")});
    const double needMs = work.bytes * 1000.0 / (line.lineKib * 1024.0);
    constexpr double kAllowed = 1.15;
    const double kit = Median(t.ms[0]) - kFixedWaitsMs;
    const double ratio = needMs > 0 ? kit / needMs : 0;
    report.Row(Format("12 small files over the line: %d files (%d archives), %.1f MB",
                      static_cast<int>(work.files.size()), work.archives, work.bytes / 1048576.0),
               Format("%.2f s fetching ahead", kit / 1000),
               Format("%.2f s the bytes' own time", needMs / 1000), Format("%.2f", ratio),
               Format("<= %.2f after 1.5 s waits", kAllowed));
    const bool met = !t.ms[0].empty() && ratio <= kAllowed;
    report.Verdict("12 small files", met,
                   Format("%s%.2f s to the lobby's start, less 1.5 s of fixed waits, is %.2f "
                          "times the %.2f s its bytes need at the line's rate (goal %.2f)",
                          met || t.ms[0].empty() ? "" : Format("over by %.2f: ", ratio - kAllowed).c_str(),
                          kit / 1000, ratio, needMs / 1000, kAllowed));
}
