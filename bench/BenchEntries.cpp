// Figure 14: an archive fetched by entries over a player's line. The installation holds the
// previous release as a completed run left it (its files and UpdateClient.txt); the new one
// changes a few entries and adds two. What the run fetched, as the line's server counted
// every answer's body, beside what it cannot do without (the local records of the entries
// that differ, and the directory); its time beside those bytes' time and beside the whole
// archive's over the same line; an archive whose every entry changed beside the whole
// download; and what comparing the installed files costs. After every run the installation
// is compared with the archive unpacked: a run that installed other bytes fails the figure.
#include <windows.h>
#include <urlmon.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "BenchFigures.h"
#include "BenchInputs.h"
#include "BenchTiming.h"
#include "DownloadCheck.h"
#include "ListRun.h"
#include "ProgramRun.h"
#include "Scoped.h"
#include "UnpackLoops.h"
#include "UpdateIo.h"
#include "Zip.h"

namespace {

constexpr char kListed[] = "entries.zip";
constexpr char kPrevious[] = "whole\\entries-previous";

// How a run is served: over the line with every range (by entries), over the line with
// "bytes=N-" alone (the archive comes whole, as before fetching by entries), or at
// loopback speed with every range.
enum class Serve { ByEntries, Whole, AtLoopback };

// The folder below the server's root bench/run_bench.py serves version's archive from as
// kListed, as it is served: the listed name stays the same from release to release.
std::string ServedFolder(const std::string& version, Serve how) {
    return (how == Serve::Whole ? "whole-" : "entries-") + version;
}

Options Serving(const Options& o, const std::string& version, Serve how) {
    Options at = o;
    at.port = how == Serve::AtLoopback ? o.port : o.linePort;
    at.serverFolder = "Torvel/" + ServedFolder(version, how) + "/";
    return at;
}

bool ReadPart(const std::string& path, uint64_t from, size_t length, std::string* out) {
    SystemUpdateIo io;
    return io.ReadPart(path.c_str(), from, length, out);
}

bool ReadWhole(const std::string& path, std::string* out) {
    const int64_t size = FileSizeOf(path);
    return size >= 0 && ReadPart(path, 0, static_cast<size_t>(size), out);
}

// One of the figure's archives: its directory, read from its tail as the run reads it, and
// where it lies unpacked by the bare loop, to compare installations with.
struct Archive {
    std::string version;
    uint64_t length = 0;
    ZipTailDirectory directory;
    std::string unpacked;
};

bool Prepare(const std::string& version, Archive* a) {
    a->version = version;
    const std::string path = EntriesArchive(version);
    const int64_t size = FileSizeOf(path);
    if (size <= 0) return false;
    a->length = static_cast<uint64_t>(size);
    uint64_t want = std::min<uint64_t>(a->length, 65536);
    ZipResult read = ZipMoreData;
    for (int tries = 0; tries < 3 && read == ZipMoreData; ++tries) {
        std::string tail;
        if (!ReadPart(path, a->length - want, static_cast<size_t>(want), &tail)) return false;
        read = ZipReadTailDirectory(tail.data(), tail.size(), a->length, &a->directory);
        want = std::min(a->length, a->directory.needed);
    }
    a->unpacked = "whole\\entries-unpacked-" + version;
    return read == ZipOk && MakeFolders(a->unpacked) && UnpackBare(path.c_str(), a->unpacked);
}

// What fetching now by entries over an installation of before cannot do without: the local
// record of every entry of now that before lacks with its size and CRC-32 (to the next
// record's start), and the directory with its end records. differing: how many entries.
uint64_t NeededBytes(const Archive& before, const Archive& now, int* differing) {
    std::map<std::string, std::pair<uint64_t, uint32_t>> was;
    for (const ZipTailEntry& e : before.directory.entries)
        was[e.storedName] = {e.uncompressedSize, e.crc32};
    std::vector<uint64_t> starts;
    for (const ZipTailEntry& e : now.directory.entries) starts.push_back(e.localHeaderOffset);
    std::sort(starts.begin(), starts.end());
    uint64_t bytes = now.length - now.directory.directoryOffset;
    *differing = 0;
    for (const ZipTailEntry& e : now.directory.entries) {
        const auto old = was.find(e.storedName);
        if (old != was.end() && old->second == std::make_pair(e.uncompressedSize, e.crc32))
            continue;
        const auto next = std::upper_bound(starts.begin(), starts.end(), e.localHeaderOffset);
        bytes += (next == starts.end() ? now.directory.directoryOffset : *next) - e.localHeaderOffset;
        ++*differing;
    }
    return bytes;
}

// Whether dir holds every file entry of a as its unpacking does, byte for byte.
bool SameAsUnpacked(const Archive& a, const std::string& dir) {
    for (const ZipTailEntry& e : a.directory.entries) {
        if (e.name[0] == '\0' || (e.attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        std::string want, have;
        if (!ReadWhole(JoinEntryPath(a.unpacked, e.name), &want) ||
            !ReadWhole(JoinEntryPath(dir, e.name), &have) || want != have)
            return false;
    }
    return true;
}

// The installed release's files (not the kit's): the archive's entries and UpdateClient.txt.
std::vector<std::string> InstalledNames(const Archive& a) {
    std::vector<std::string> names = {"UpdateClient.txt"};
    for (const ZipTailEntry& e : a.directory.entries) names.push_back(e.name);
    return names;
}

// What the line's server has sent for a name so far: answers and their bodies' bytes.
struct Wire {
    int answers = 0;
    uint64_t bytes = 0;
};

// Asked of bench/run_bench.py, which answers "Torvel/~sent/<n>/<name>" on o.port (at
// loopback speed, outside the line's accounting) from the line's server's accounting; n
// makes every question a URL of its own.
bool SentSoFar(const Options& o, const std::string& name, Wire* out) {
    static int asked = 0;
    const std::string url = Format("http://127.0.0.1:%d/Torvel/~sent/%d/", o.port, ++asked) + name;
    const std::string file = "whole\\sent.txt";
    std::string text;
    const bool read = URLDownloadToFileA(nullptr, url.c_str(), file.c_str(), 0, nullptr) == S_OK &&
                      ReadWhole(file, &text) &&
                      std::sscanf(text.c_str(), "%d %" SCNu64, &out->answers, &out->bytes) == 2;
    ForgetCachedCopy(url.c_str());
    return read;
}

struct Run {
    double ms = -1;  // to the lobby's start, less the fixed waits; -1: the run failed
    Wire wire;
};

// Update.exe in dir, an installation of the previous release, over a's archive served as
// how says (at loopback speed, wire stays empty). Fails the figure when the run does not
// complete or the installation afterwards is not a unpacked.
Run RunUpdate(const Options& o, const Archive& a, const std::string& dir, Serve how) {
    Run result;
    const Options at = Serving(o, a.version, how);
    bool laid = MakeFolders(dir);
    for (const std::string& name : InstalledNames(a)) {
        const std::string from = JoinEntryPath(kPrevious, name.c_str());
        laid = laid && (FileSizeOf(from) < 0 ||
                        CopyFileA(from.c_str(), JoinEntryPath(dir, name.c_str()).c_str(), FALSE));
    }
    if (!laid || !LayOutInstallation(at, dir, {kListed}, "", {static_cast<DWORD>(a.length)})) {
        Fail("cannot lay out " + dir);
        return result;
    }
    ForgetCachedCopy((ServerUrl(at) + "Torvel\\" + kListed).c_str());
    Wire before, after;
    ProgramRun run;
    const std::string served = ServedFolder(a.version, how) + "/Torvel/" + kListed;
    if (!SentSoFar(o, served, &before) || !RunProgram(dir, "Update.exe", run) ||
        run.lobbyMs < 0 || !SentSoFar(o, served, &after)) {
        Fail("Update.exe over " + EntriesArchive(a.version) + " did not complete in " + dir);
        return result;
    }
    if (!SameAsUnpacked(a, dir)) {
        Fail("the installation in " + dir + " is not " + EntriesArchive(a.version) + " unpacked");
        return result;
    }
    result.ms = run.lobbyMs - kFixedWaitsMs;
    result.wire = {after.answers - before.answers, after.bytes - before.bytes};
    return result;
}

// Every installed entry of the previous release digested: CRC-32 alone, then with SHA-256.
void CompareCost(const Options& o, const Archive& previous, Report& report) {
    const std::vector<std::string> names = InstalledNames(previous);
    SystemUpdateIo io;
    const auto digestAll = [&](bool sha) -> TimedRun {
        return [&, sha](int) {
            return Timed([&] {
                ULONGLONG size = 0;
                uint32_t crc = 0;
                uint8_t digest[kSha256Bytes];
                for (size_t k = 1; k < names.size(); ++k) {
                    if (!io.DigestFile(JoinEntryPath(kPrevious, names[k].c_str()).c_str(), &size,
                                       &crc, sha ? digest : nullptr))
                        return false;
                }
                return true;
            });
        };
    };
    const TurnTimes t = TimeInTurns(o.reps, {digestAll(false), digestAll(true)});
    uint64_t bytes = 0;
    for (const ZipTailEntry& e : previous.directory.entries) bytes += e.uncompressedSize;
    for (size_t k = 0; k < 2; ++k) {
        report.Row(Format("14 compare the installed %.0f MB: %s", bytes / 1048576.0,
                          k == 0 ? "CRC-32" : "CRC-32 and SHA-256"),
                   Format("%.0f ms (%.0f MB/s)", Median(t.ms[k]), Rate(bytes, Median(t.ms[k]))),
                   Format("%d files read once each", static_cast<int>(names.size()) - 1), "-",
                   "context");
    }
}

std::string Over(double by, bool met) { return met ? "" : Format("over by %.2f: ", by); }

}  // namespace

void BenchEntriesOverALine(const Options& o, Report& report) {
    if (o.linePort == 0) return;
    Archive previous, now, every;
    if (!Prepare("previous", &previous) || !Prepare("new", &now) || !Prepare("every", &every)) {
        Fail("figure 14's archives are missing or unreadable: run with --generate");
        return;
    }
    // The previous release as a player's last update left it: a whole run at loopback speed.
    const Options fast = Serving(o, previous.version, Serve::AtLoopback);
    ProgramRun installed;
    ForgetCachedCopy((ServerUrl(fast) + "Torvel\\" + kListed).c_str());
    if (!LayOutInstallation(fast, kPrevious, {kListed}, "", {static_cast<DWORD>(previous.length)}) ||
        !RunProgram(kPrevious, "Update.exe", installed) || installed.lobbyMs < 0 ||
        !SameAsUnpacked(previous, kPrevious)) {
        Fail("cannot install figure 14's previous release");
        return;
    }
    int differing = 0;
    const uint64_t needed = NeededBytes(previous, now, &differing);
    const double rate = o.lineKib * 1024.0;
    const double neededMs = needed * 1000.0 / rate;

    // By entries, as often as the figures at loopback speed: the run takes seconds, half of
    // them its own work, which moves from run to run as any run's does. A run that fetched
    // more than half the archive took it whole, and would again: once shows it.
    std::vector<double> ms, bytes;
    Wire wire;
    for (int r = 0; r < o.reps; ++r) {
        const Run run = RunUpdate(o, now, Format("whole\\entries-new-%d", r), Serve::ByEntries);
        if (run.ms < 0) break;
        ms.push_back(run.ms);
        bytes.push_back(static_cast<double>(run.wire.bytes));
        wire = run.wire;
        if (run.wire.bytes * 2 > now.length) break;
    }
    if (ms.empty()) return;
    const double byEntries = Median(ms), sent = Median(bytes);
    const std::string what =
        Format("%.1f MB archive of %d entries, %d changed and %d added", now.length / 1048576.0,
               static_cast<int>(now.directory.entries.size()), kEntriesChanged, kEntriesAdded);
    constexpr double kBytesAllowed = 1.15, kTimeAllowed = 1.30, kFasterWanted = 10, kEveryAllowed = 1.02;
    const double bytesRatio = sent / needed, timeRatio = byEntries / neededMs;
    report.Row("14 by entries over the line: " + what,
               Format("%.2f MB on the wire in %d answers", sent / 1048576.0, wire.answers),
               Format("%.2f MB: %d entries' records and the directory", needed / 1048576.0,
                      differing),
               Format("%.2f", bytesRatio), Format("<= %.2f", kBytesAllowed));
    report.Row("14 the same, its time", Format("%.2f s to the lobby's start", byEntries / 1000),
               Format("%.2f s those bytes' time at the line's rate", neededMs / 1000),
               Format("%.2f", timeRatio), Format("<= %.2f after 1.5 s waits", kTimeAllowed));
    // The run's own part: the same at loopback speed, where the line costs nothing.
    std::vector<double> loopbackMs;
    for (int r = 0; r < o.reps; ++r) {
        const Run run = RunUpdate(o, now, Format("whole\\entries-fast-%d", r), Serve::AtLoopback);
        if (run.ms >= 0) loopbackMs.push_back(run.ms);
    }
    report.Row("14 the same at loopback speed", Format("%.2f s", Median(loopbackMs) / 1000),
               "the run's own time: comparing, placing, installing", "-", "context");
    report.Verdict("14 bytes by entries", bytesRatio <= kBytesAllowed,
                   Format("%s%.2f MB on the wire for the %.2f MB of %d entries' records and "
                          "the directory: %.2f (goal %.2f)",
                          Over(bytesRatio - kBytesAllowed, bytesRatio <= kBytesAllowed).c_str(),
                          sent / 1048576.0, needed / 1048576.0, differing, bytesRatio,
                          kBytesAllowed));
    report.Verdict("14 time by entries", timeRatio <= kTimeAllowed,
                   Format("%s%.2f s to the lobby's start, less 1.5 s of fixed waits, is %.2f "
                          "times the %.2f s those bytes need at the line's rate (goal %.2f)",
                          Over(timeRatio - kTimeAllowed, timeRatio <= kTimeAllowed).c_str(),
                          byEntries / 1000, timeRatio, neededMs / 1000, kTimeAllowed));

    // The whole archive as the run fetched it before fetching by entries, over the same
    // installation, from a server that answers its suffix range with the whole file: once, it
    // takes the line half a minute.
    const Run whole = RunUpdate(o, now, "whole\\entries-whole", Serve::Whole);
    if (whole.ms < 0) return;
    const double faster = whole.ms / byEntries;
    report.Row("14 beside the whole archive over the line",
               Format("%.2f s by entries", byEntries / 1000),
               Format("%.2f s whole: %.1f MB in %d answer%s, no ranges but bytes=N-",
                      whole.ms / 1000, whole.wire.bytes / 1048576.0, whole.wire.answers,
                      whole.wire.answers == 1 ? "" : "s"),
               Format("%.1fx faster", faster), Format(">= %.0fx", kFasterWanted));
    report.Verdict("14 beside the whole", faster >= kFasterWanted,
                   Format("%s%.1f times faster than the whole archive's %.2f s (goal %.0f)",
                          faster >= kFasterWanted
                              ? ""
                              : Format("short by %.1f: ", kFasterWanted - faster).c_str(),
                          faster, whole.ms / 1000, kFasterWanted));

    // Every entry changed (an archive of the same length): by entries cannot save anything,
    // and must cost next to nothing.
    const Run all = RunUpdate(o, every, "whole\\entries-every", Serve::ByEntries);
    if (all.ms < 0) return;
    const double allTime = all.ms / whole.ms;
    const double allBytes = static_cast<double>(all.wire.bytes) / whole.wire.bytes;
    const double worst = std::max(allTime, allBytes);
    report.Row("14 every entry changed, over the previous release",
               Format("%.2f s, %.1f MB on the wire", all.ms / 1000, all.wire.bytes / 1048576.0),
               Format("%.2f s, %.1f MB: the whole archive's download", whole.ms / 1000,
                      whole.wire.bytes / 1048576.0),
               Format("%.3f time, %.3f bytes", allTime, allBytes),
               Format("<= %.2f", kEveryAllowed));
    report.Verdict("14 every entry changed", worst <= kEveryAllowed,
                   Format("%s%.3f of the whole download's time and %.3f of its bytes (goal %.2f)",
                          Over(worst - kEveryAllowed, worst <= kEveryAllowed).c_str(), allTime,
                          allBytes, kEveryAllowed));
    CompareCost(o, previous, report);
}
