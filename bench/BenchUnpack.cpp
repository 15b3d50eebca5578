// Figure 1: the big archive unpacked to files by the layer and by the bare minizip loop;
// figure 5: the layer's time beside the native unzip's.
#include <unzip.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BenchFigures.h"
#include "BenchInputs.h"
#include "BenchTiming.h"
#include "UnpackLoops.h"
#include "ZipInternal.h"

namespace {

uint64_t UncompressedTotal(const char* archive) {
    ScopedArchive owner;
    owner.Reset(unzOpen(archive));
    const unzFile unz = owner.Get();
    uint64_t total = 0;
    if (unz == nullptr) return 0;
    for (int step = unzGoToFirstFile(unz); step == UNZ_OK; step = unzGoToNextFile(unz)) {
        unz_file_info info;
        if (unzGetCurrentFileInfo(unz, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK)
            total += info.uncompressed_size;
    }
    return total;
}

}  // namespace

double BenchUnpack(const Options& o, Report& report) {
    const uint64_t bytes = UncompressedTotal(kBigArchive);
    if (bytes == 0) Fail("big archive missing: run with --generate first");
    std::vector<double> ours, bare;
    TimePair(
        o.reps,
        [&](int r) {
            const std::string dir = Format("out\\big-ours-%d", r);
            if (!MakeFolders(dir)) return -1.0;
            return Timed([&] { return UnpackOurs(kBigArchive, dir, r == o.reps - 1); });
        },
        [&](int r) {
            const std::string dir = Format("out\\big-bare-%d", r);
            if (!MakeFolders(dir)) return -1.0;
            return Timed([&] { return UnpackBare(kBigArchive, dir); });
        },
        ours, bare);
    RecordTouched(kBigArchive);
    const double oursRate = Rate(bytes, Median(ours)), bareRate = Rate(bytes, Median(bare));
    const double ratio = bareRate > 0 ? oursRate / bareRate : 0;
    report.Row(Format("1 unpack %.0f MB archive to files", bytes / 1048576.0),
               Format("%.1f MB/s", oursRate), Format("%.1f MB/s bare minizip loop", bareRate),
               Format("%.2f", ratio), ">= 0.95");
    report.Verdict("1 unpack", ratio >= 0.95,
                   ratio >= 0.95 ? Format("%.2f of the bare loop (goal 0.95)", ratio)
                                 : Format("short by %.2f: %.2f of the bare loop (goal 0.95)",
                                          0.95 - ratio, ratio));
    return Median(ours);
}

void BenchNativeUnzip(const Options& o, double unpackMs, Report& report) {
    if (o.unzipMs >= 0) {
        const double ahead = unpackMs > 0 ? o.unzipMs / unpackMs : 0;
        report.Row("5 same archive, native unzip", Format("%.0f ms (ours, under Wine)", unpackMs),
                   Format("%.0f ms unzip -qq", o.unzipMs), Format("%.2f", ahead), ">= 1.00");
        report.Verdict("5 ahead of unzip", ahead >= 1.0,
                       Format("unzip takes %.2fx our time (goal: ours no slower)", ahead));
    }
}
