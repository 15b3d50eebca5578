// Figure 2: many small entries walked into memory, and unpacked to files into an empty
// installation and over one where every target exists, each beside the bare loop and
// within the budget; beside them, what the disk itself charges per file.
#include <cmath>
#include <string>
#include <vector>

#include "BenchFigures.h"
#include "BenchInputs.h"
#include "BenchTiming.h"
#include "DownloadCheck.h"
#include "UnpackLoops.h"

namespace {

// Makes dir and the entry folders a many-entry archive needs.
bool PrepareFolders(const std::string& dir, int entries, int perFolder) {
    if (!MakeFolders(dir)) return false;
    for (int f = 0; f * perFolder < entries; ++f) {
        if (!MakeFolders(dir + Format("\\d%03d", f))) return false;
    }
    return true;
}

// Entries per millisecond of run k over count entries: whole runs, or how far it got
// within the budget.
double EntriesPerMs(const TurnTimes& t, size_t k, int count, int budgetS) {
    if (t.reached[k] >= 0) return t.reached[k] / (budgetS * 1000.0);
    return Median(t.ms[k]) > 0 ? count / Median(t.ms[k]) : 0;
}

// Run k's figure over count entries: its median time, or how far it got within the budget.
std::string SideFigure(const TurnTimes& t, size_t k, int count, int budgetS) {
    const double rate = EntriesPerMs(t, k, count, budgetS);
    const double usPerEntry = rate > 0 ? 1000 / rate : 0;
    if (t.reached[k] >= 0) {
        return Format("over budget: %d of %d entries in %d s (%.0f us/entry)", t.reached[k], count,
                      budgetS, usPerEntry);
    }
    return Format("%.0f ms (%.0f us/entry)", Median(t.ms[k]), usPerEntry);
}

// Entries to files, 500 to a folder: into an empty installation (a first install, every
// target new) or over one where every target exists (an update). Over existing files the
// reference replaces each target through a new file, as the layer does; the loop that
// rewrites targets in place runs beside them as context: no safe replacement can match it.
void ManyToFiles(const Options& o, Report& report, bool over) {
    const char* what = over ? "over existing files" : "to new files";
    const char* reference = over ? "bare replacing loop" : "bare loop";
    const BareWrite how = over ? BareWrite::ThroughNewFile : BareWrite::InPlace;
    constexpr double goal = 0.9;
    double worst = 1e9, worstExtraUs = 0, largestMs = 0;
    std::string overrun;        // how the size that overran the budget went, if one did
    bool layerOverran = false;  // the goal's budget is the layer's; a reference may overrun it
    for (int count : o.many) {
        const std::string figure = Format("2 unpack %d entries %s", count, what);
        if (!overrun.empty()) {
            report.Row(figure, "skipped: a smaller size overran the budget", "-", "-", "-");
            continue;
        }
        const std::string archive = ManyArchive(count);
        // The targets are laid out by the bare loop beforehand, untimed.
        const auto prepare = [&](const std::string& dir) {
            return PrepareFolders(dir, count, o.perFolder) &&
                   (!over || UnpackBare(archive.c_str(), dir));
        };
        const auto bare = [&](const char* side, BareWrite write) -> TimedRun {
            return [&, side, write](int r) {
                const std::string dir = Format("out\\many%d-%d-%s-%d", count, over, side, r);
                if (!prepare(dir)) return -1.0;
                return Timed([&] { return UnpackBare(archive.c_str(), dir, write); });
            };
        };
        const TurnTimes t = TimeInTurns(
            o.reps,
            {[&](int r) {
                 const std::string dir = Format("out\\many%d-%d-ours-%d", count, over, r);
                 if (!prepare(dir)) return -1.0;
                 return Timed([&] { return UnpackOurs(archive.c_str(), dir, r == o.reps - 1); });
             },
             bare("bare", how)},
            o.budgetS);
        // The loop in place is context, and no replacement can match it: once shows it.
        const TurnTimes inPlace =
            over ? TimeInTurns(1, {bare("inplace", BareWrite::InPlace)}, o.budgetS) : TurnTimes{};
        const double oursRate = EntriesPerMs(t, 0, count, o.budgetS);
        const double bareRate = EntriesPerMs(t, 1, count, o.budgetS);
        const double ratio = bareRate > 0 ? oursRate / bareRate : 0;
        largestMs = Median(t.ms[0]);
        if (ratio < worst && oursRate > 0 && bareRate > 0) {
            worst = ratio;
            worstExtraUs = 1000 / oursRate - 1000 / bareRate;
        }
        report.Row(figure, SideFigure(t, 0, count, o.budgetS),
                   Format("%s: %s", reference, SideFigure(t, 1, count, o.budgetS).c_str()),
                   Format("%.2f", ratio), Format(">= %.2f", goal));
        if (over) {
            const double inPlaceRate = EntriesPerMs(inPlace, 0, count, o.budgetS);
            report.Row(Format("2   %d entries rewritten in place", count), "(as above)",
                       "bare loop in place: " + SideFigure(inPlace, 0, count, o.budgetS),
                       Format("%.2f", inPlaceRate > 0 ? oursRate / inPlaceRate : 0), "context");
        }
        if (t.OverBudget() || inPlace.OverBudget()) {
            layerOverran = t.reached[0] >= 0;
            overrun = Format("%d entries overran the %d s budget: ", count, o.budgetS);
            overrun += t.reached[0] >= 0 ? Format("the layer did %d", t.reached[0])
                                         : std::string("the layer finished");
            overrun += t.reached[1] >= 0 ? Format(", the %s %d", reference, t.reached[1])
                                         : Format(", the %s finished", reference);
        }
    }
    const std::string goalName = Format("2 many %s", over ? "over files" : "to new files");
    const bool met = worst >= goal && !layerOverran;
    std::string detail =
        Format("%.2f of the %s at worst (goal %.2f); there the layer %s %.0f us per entry", worst,
               reference, goal, worstExtraUs >= 0 ? "adds" : "saves", std::fabs(worstExtraUs));
    if (worst < goal) detail = Format("short by %.2f: ", goal - worst) + detail;
    if (!overrun.empty()) {
        detail = overrun + "; " + detail;
    } else if (over && o.budgetS > 0) {
        detail += Format("; %d entries in %.1f s (budget %d s)", o.many.back(), largestMs / 1000,
                         o.budgetS);
    }
    report.Verdict(goalName.c_str(), met, detail);
}

}  // namespace

void BenchMany(const Options& o, Report& report) {
    std::vector<double> walkMs;
    WalkReads reads;  // of the last whole walk of ours
    bool stopped = false;
    for (int count : o.many) {
        const std::string figure = Format("2 walk %d entries into memory", count);
        if (stopped) {
            report.Row(figure, "skipped: a smaller size overran the budget", "-", "-", "-");
            continue;
        }
        const std::string archive = ManyArchive(count);
        RecordTouched(archive);
        const TurnTimes t = TimeInTurns(
            o.reps,
            {[&](int) { return Timed([&] { return WalkOurs(archive.c_str(), reads); }); },
             [&](int) { return Timed([&] { return WalkBare(archive.c_str()); }); }},
            o.budgetS);
        if (t.OverBudget()) {
            report.Row(figure, SideFigure(t, 0, count, o.budgetS), "-", "-", "-");
            stopped = true;
            continue;
        }
        const std::vector<double>& ours = t.ms[0];
        const std::vector<double>& bare = t.ms[1];
        walkMs.push_back(Median(ours));
        // Headers are read twice (the walk, then the record), data once: a walk that went
        // back to the first entry for every entry would read the archive hundreds of times
        // over, and headers handed to the system byte by byte would cost dozens of calls.
        ULONGLONG size = 0;
        const double archiveBytes = FileSizeOf(archive.c_str(), &size) ? size : 0.0;
        report.Row(
            figure,
            Format("%.1f ms (%.1f us/entry; archive read %.1fx, %.3f calls/entry)", Median(ours),
                   Median(ours) * 1000 / count, archiveBytes > 0 ? reads.bytes / archiveBytes : 0,
                   static_cast<double>(reads.calls) / count),
            Format("%.1f ms bare minizip", Median(bare)),
            Format("%.2f", Median(ours) > 0 ? Median(bare) / Median(ours) : 0), "-");
    }
    // The growth goal compares the two largest sizes (20,000 against 10,000 in a full run).
    if (o.many.size() >= 2) {
        const size_t a = o.many.size() - 2, b = o.many.size() - 1;
        const double linear = static_cast<double>(o.many[b]) / o.many[a];
        const double allowed = linear * 1.05;
        if (walkMs.size() == o.many.size()) {
            const double growth = walkMs[a] > 0 ? walkMs[b] / walkMs[a] : 0;
            report.Row(Format("2 walk growth %d -> %d", o.many[a], o.many[b]),
                       Format("%.2fx", growth), Format("%.2fx linear", linear), "-",
                       Format("<= %.2fx", allowed));
            report.Verdict(
                "2 linear walk", growth <= allowed,
                growth <= allowed
                    ? Format("%.2fx for %.2fx the entries (goal <= %.2fx)", growth, linear, allowed)
                    : Format("over by %.2fx: %.2fx for %.2fx the entries (goal <= %.2fx)",
                             growth - allowed, growth, linear, allowed));
        } else {
            report.Verdict(
                "2 linear walk", false,
                Format("not measurable: the walk overran the %d s budget before %d entries",
                       o.budgetS, o.many[b]));
        }
    }
    ManyToFiles(o, report, false);
    ManyToFiles(o, report, true);
}

// What the disk itself charges for a replacement that keeps the target whole, beside the
// rewrite in place the bare loop does over existing files.
void BenchDiskCost(const Options& o, Report& report) {
    if (o.rewriteUs > 0 && o.replaceUs > 0) {
        report.Row("2 this disk natively, per file",
                   Format("%.0f us replaced through a new file", o.replaceUs),
                   Format("%.0f us rewritten in place", o.rewriteUs),
                   Format("%.2f", o.rewriteUs / o.replaceUs), "context");
    }
}
