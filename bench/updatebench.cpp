// updatebench: the updater's costs measured in one run beside the bare calls it stands on.
// It works in the current folder (archives\, out\, step\, res\, whole\) and prints one table.
//
//   updatebench --generate [sizes]          writes the archives and the release, and exits
//   updatebench [sizes] [--port N] [--kit DIR] [--unzip-ms X] [--disk-us R,N] [--only F,...]
// --only: the figures to measure, by number (all by default).
// --disk-us: microseconds per file the disk takes natively to rewrite one in place (R) and to
// replace one through a new file (N), printed beside the many-entry figures.
// sizes: --reps N --big-mb N --many A,B,C --per-folder N --download-mb N --downloads N
//        --passes N --budget-s N (longest timed run over many entries, on every side; 0: none)
//        --release-files N --release-mb N --release-reps N (the whole-release figure)
//        --line-files N --line-mb N (the release over a player's line)
//        --small-files N --small-kib N (the small-file release over the same line)
// --line-port N --line-rtt-ms N --line-kib N: the server standing for a player's line, and
// the line it stands for (figure 12); --line-reps N: repetitions of the long runs over it
// (figures 11 and 12).
// With --port, the download figures fetch "Torvel\big.bin" and "Torvel\r###.bin|zip" from
// the loopback server on that port (bench/run_bench.py serves them). With --kit too (a
// folder holding Update.exe and the stand-in lobby as Quillon.exe), whole runs of
// Update.exe fetch "Torvel\big.zip" (archives\big.zip), the release (archives\release\) and
// figure 14's archives (archives\entries\), the last over the line.
// Exit status: 0 when every section ran and produced whole files, 1 when something failed
// (a missed goal is a figure, not a failure).
//
// The figures live one family to a file (BenchFigures.h lists them), beside what they share.
#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "BenchFigures.h"
#include "BenchInputs.h"

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: updatebench [--generate] [--reps N] [--big-mb N] [--many A,B,C] "
                     "[--per-folder N] [--port N] [--download-mb N] [--downloads N] "
                     "[--passes N] [--budget-s N] [--release-files N] [--release-mb N] "
                     "[--release-reps N] [--line-files N] [--line-mb N] [--small-files N] "
                     "[--small-kib N] [--line-port N] "
                     "[--line-rtt-ms N] [--line-kib N] [--line-reps N] [--kit DIR] "
                     "[--unzip-ms X] [--disk-us R,N] [--only FIGURE,...]\n");
        return 2;
    }
    if (o.generateOnly) {
        const bool ok = Generate(o);
        if (!ok) std::fprintf(stderr, "updatebench: cannot write the archives\n");
        return ok ? 0 : 1;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (!MakeFolders("out")) Fail("cannot make out\\");
    // A key an earlier signed run pinned in this prefix would hold every unsigned run to it.
    ForgetAcceptedSerial();

    // The figures add their rows and verdicts in the order the table prints them.
    Report report;
    const double unpackMs = o.Wants(1) || o.Wants(5) ? BenchUnpack(o, report) : -1;
    if (o.Wants(2)) {
        BenchMany(o, report);
        BenchDiskCost(o, report);
    }
    if (o.port != 0) {
        o.releaseKey = SignWhatIsServed(o);
        if (o.releaseKey.empty()) Fail("cannot sign what the server serves");
        if (o.Wants(3)) BenchDownload(o, report);
        if (o.Wants(10)) BenchDroppingLink(o, report);
        if (o.Wants(11)) BenchSignedDownload(o, report);
    } else {
        report.Verdict("3 download step        not measured: no server port given");
    }
    if (o.Wants(4)) BenchResources(o, report);
    if (o.port != 0 && !o.kit.empty()) {
        if (o.Wants(8)) BenchMemory(o, report);
        if (o.Wants(9)) BenchRelease(o, report);
        if (o.Wants(11)) BenchSignedRelease(o, report);
        if (o.Wants(12)) BenchReleaseOverALine(o, report);
        if (o.Wants(13)) BenchExit(o, report);
        if (o.Wants(14)) BenchEntriesOverALine(o, report);
    } else {
        report.Verdict("8, 9 whole runs        not measured: no server port or kit folder given");
    }
    if (o.Wants(6) || o.Wants(7)) BenchRetry(o, report);
    if (!MakeFolders("archives")) Fail("cannot make archives\\");
    if (o.Wants(6)) BenchDamagedCount(o, report);
    if (o.Wants(5)) BenchNativeUnzip(o, unpackMs, report);
    report.Print();
    CoUninitialize();
    if (AnyFailed()) std::printf("updatebench: some runs FAILED (see above)\n");
    return AnyFailed() ? 1 : 0;
}
