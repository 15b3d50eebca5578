// The figures, one family to a file; each adds its rows and its goals' verdicts to the
// report and reports through Fail what did not run. docs/performance.md numbers them.
#pragma once

#include "BenchOptions.h"
#include "BenchSupport.h"

// 1 (BenchUnpack.cpp): the big archive unpacked to files by the layer and by the bare loop.
// Returns the layer's median milliseconds (0 when no run succeeded).
double BenchUnpack(const Options& o, Report& report);
// 5: that median beside the native unzip's time on the same archive (o.unzipMs); a row
// and a verdict, or nothing when unzip was not timed.
void BenchNativeUnzip(const Options& o, double unpackMs, Report& report);

// 2 (BenchMany.cpp): many small entries walked into memory, unpacked to new files and over
// existing ones, each beside the bare loop, under the budget.
void BenchMany(const Options& o, Report& report);
// 2: what the disk charges natively per file (o.rewriteUs, o.replaceUs), as context; nothing
// when it was not measured.
void BenchDiskCost(const Options& o, Report& report);

// 3 (BenchDownload.cpp): the download step beside URLDownloadToFileA from the loopback
// server on o.port.
void BenchDownload(const Options& o, Report& report);
// 10: the download step over a link that drops, and the join of a rest to its piece.
void BenchDroppingLink(const Options& o, Report& report);
// 11: the download step over a signed release (o.releaseKey) beside the same unsigned, over
// the line on o.linePort and at loopback speed; the rate CNG hashes at.
void BenchSignedDownload(const Options& o, Report& report);

// 4 (BenchResources.cpp): the paint pass, then files held and GDI objects kept after
// everything the run touched so far and the small downloads (with o.port).
void BenchResources(const Options& o, Report& report);

// 6 and 7 (BenchRetry.cpp): the retry schedule; with o.port, a real run against a 404 and
// a download whose server stalls.
void BenchRetry(const Options& o, Report& report);

// 6 (BenchDamagedCount.cpp): walks of archives whose entry counts are damaged, written into
// archives\.
void BenchDamagedCount(const Options& o, Report& report);

// 8 and 9 (BenchRuns.cpp): whole runs of Update.exe from o.kit against the server on
// o.port: its peak working set, and a whole release beside the bare calls.
void BenchMemory(const Options& o, Report& report);
void BenchRelease(const Options& o, Report& report);
// 11 and 12 (BenchRuns.cpp): a release signed (o.releaseKey) beside unsigned, over the line
// on o.linePort and at loopback speed; a release over that line beside the time its bytes
// need; and (BenchSmallFilesOverALine, with o.port the line's) a release of small files
// over the same line beside the time its bytes need.
void BenchSignedRelease(const Options& o, Report& report);
void BenchReleaseOverALine(const Options& o, Report& report);
void BenchSmallFilesOverALine(const Options& o, Report& report);

// 13 (BenchExit.cpp): a one-file release: from the lobby's start to Update.exe's end, and
// its whole run, beside a trivial program's start and end.
void BenchExit(const Options& o, Report& report);

// 14 (BenchEntries.cpp): an archive fetched by entries over the line on o.linePort, in an
// installation of the previous release: bytes and time beside what the entries that differ
// need, beside the whole archive's time, an archive whose every entry changed, and what
// comparing the installed files costs.
void BenchEntriesOverALine(const Options& o, Report& report);
