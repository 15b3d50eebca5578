#include "Check.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DownloadCheck.h"
#include "DownloadPiece.h"
#include "DownloadStatusCallback.h"
#include "EntryCheck.h"
#include "HandOver.h"
#include "InstallPaths.h"
#include "PathWalk.h"
#include "Release.h"
#include "UpdateIo.h"
#include "UpdateRun.h"
#include "Zip.h"
#include "ZipRecords.h"

namespace {

// Without --install the paths are judged under a short folder of this length's kind; a
// player's real folder may be longer.
const char kBareInstallDir[] = "C:\\Quillon";
constexpr DWORD kProgressEveryMs = 2000;
constexpr DWORD kProgressLookMs = 100;

struct Row {
    std::string name;
    bool realInstall = false;
    bool fetched = false;
    DownloadFacts facts;
    bool whole = false;              // installed whole by the updater
    std::string why;                 // why not, when not
    int goesOn = -1;                 // a cut download would go on from its piece (-1: not asked)
    std::vector<std::string> notes;  // what the operator should know either way
    std::string signedAs;            // with a release key: the "signed" column
    std::string byEntries;           // an archive: whether a player fetches it by entries
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Removes everything below folder (folder itself stays).
void RemoveBelow(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "\\" + name;
        if (IsFolderAttributes(found.dwFileAttributes)) {
            RemoveBelow(path);
            RemoveDirectoryA(path.c_str());
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// A folder of its own under the temporary folder for the downloads and the mirror of the
// installation folder, removed with all it holds.
class ScratchFolder {
public:
    ScratchFolder() {
        char temp[kPathSize];
        const DWORD n = GetTempPathA(sizeof temp, temp);
        if (n == 0 || n >= sizeof temp) return;
        m_path = Format("%smkhandover-check-%lu", temp, GetCurrentProcessId());
        if (!CreateDirectoryA(m_path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            m_path.clear();
    }
    ~ScratchFolder() {
        if (m_path.empty()) return;
        RemoveBelow(m_path);
        RemoveDirectoryA(m_path.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool IsValid() const { return !m_path.empty(); }
    std::string File(const char* name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

// Prints the running download's progress every few seconds while it lives.
class ProgressLines {
public:
    ProgressLines(const UpdateRun& run, const std::string& label) : m_run(run), m_label(label) {
        m_thread = std::thread([this] { Print(); });
    }
    ~ProgressLines() {
        m_done = true;
        m_thread.join();
    }
    ProgressLines(const ProgressLines&) = delete;
    ProgressLines& operator=(const ProgressLines&) = delete;

private:
    void Print() {
        DWORD waited = 0;
        while (!m_done) {
            Sleep(kProgressLookMs);
            waited += kProgressLookMs;
            if (waited < kProgressEveryMs) continue;
            waited = 0;
            const DWORD max = m_run.ProgressMax();
            if (max == kUnknownDownloadSize) {
                std::fprintf(stderr, "%s: %lu bytes so far\n", m_label.c_str(),
                             static_cast<unsigned long>(m_run.Progress()));
            } else {
                std::fprintf(stderr, "%s: %lu of %lu bytes\n", m_label.c_str(),
                             static_cast<unsigned long>(m_run.Progress()),
                             static_cast<unsigned long>(max));
            }
        }
    }

    const UpdateRun& m_run;
    std::string m_label;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// The world an archive is unpacked into for the check: the run's own walk writes into a
// mirror of the installation folder inside the scratch folder, so that folder entries make
// real folders there as the zip layer makes them; each file is removed again once written.
// A folder counts as present when the mirror has it, or, for a real installation, when the
// installation has it (its folders are made in the mirror before a file goes into them);
// nothing is ever written into the installation.
class MirrorIo : public SystemUpdateIo {
public:
    MirrorIo(const char* installDir, bool realInstall, const std::string& mirror)
        : m_installDir(installDir), m_real(realInstall), m_mirror(mirror) {
        CreateDirectoryA(m_mirror.c_str(), nullptr);
    }

    DWORD Attributes(const char* path) override {
        const DWORD mirrored = GetFileAttributesA(Mirrored(path).c_str());
        if (mirrored != INVALID_FILE_ATTRIBUTES || !m_real) return mirrored;
        return GetFileAttributesA(path);
    }

    // Folder entries are made in the mirror of the installation folder.
    std::unique_ptr<UpdateArchive> OpenArchive(const char* path, const char* baseFolder,
                                               ZipResult* why) override {
        std::unique_ptr<UpdateArchive> real =
            SystemUpdateIo::OpenArchive(path, Mirrored(baseFolder).c_str(), why);
        if (!real) return nullptr;
        return std::unique_ptr<UpdateArchive>(new MirrorArchive(*this, std::move(real)));
    }

private:
    class MirrorArchive : public UpdateArchive {
    public:
        MirrorArchive(MirrorIo& io, std::unique_ptr<UpdateArchive> real)
            : m_io(io), m_real(std::move(real)) {}
        int32_t Count() override { return m_real->Count(); }
        ZipResult Entry(int32_t index, ZipEntry* entry) override {
            return m_real->Entry(index, entry);
        }
        bool PastDamage(int32_t index) override { return m_real->PastDamage(index); }
        ZipResult Extract(int32_t index, const char* target) override {
            const std::string mirrored = m_io.Mirrored(target);
            m_io.MirrorFolderOf(target);
            const ZipResult result = m_real->Extract(index, mirrored.c_str());
            if (!IsFolderAttributes(GetFileAttributesA(mirrored.c_str())))
                DeleteFileA(mirrored.c_str());
            return result;
        }

    private:
        MirrorIo& m_io;
        std::unique_ptr<UpdateArchive> m_real;
    };

    // path with the installation folder it starts with replaced by the mirror.
    std::string Mirrored(const char* path) const {
        const size_t n = m_installDir.size();
        if (m_installDir.compare(0, n, path, std::min(n, std::strlen(path))) != 0) return path;
        return m_mirror + (path + n);
    }

    void MirrorFolderOf(const char* target) {
        char folder[kPathSize];
        if (!m_real || !FolderPart(target, folder) ||
            !IsFolderAttributes(GetFileAttributesA(folder)))
            return;
        const std::string mirrored = Mirrored(folder);
        ForEachSeparator(mirrored.c_str(), [&](size_t i) {
            if (i > m_mirror.size()) CreateDirectoryA(mirrored.substr(0, i).c_str(), nullptr);
        });
        CreateDirectoryA(mirrored.c_str(), nullptr);
    }

    std::string m_installDir;
    bool m_real;
    std::string m_mirror;
};

bool EndsInZipAnyCase(const char* name) {
    const size_t n = std::strlen(name);
    return n >= 4 && lstrcmpiA(name + n - 4, ".zip") == 0;
}

// Why the updater would not install a download whole, in the operator's words; "" when it
// would.
std::string DownloadFault(const DownloadFacts& f) {
    switch (JudgeDownload(f)) {
        case DownloadVerdict::Whole:
            break;
        case DownloadVerdict::NoAnswer:
            return "no answer from the server";
        case DownloadVerdict::ErrorAnswer:
            return Format("error answer %lu", static_cast<unsigned long>(f.httpStatus));
        case DownloadVerdict::Failed:
            return Format("download failed (0x%08lX)%s", static_cast<unsigned long>(f.result),
                          f.stalled ? ": the server fell silent" : "");
        case DownloadVerdict::NothingStored:
            return "nothing was stored";
        case DownloadVerdict::LostOnTheWay:
            return "bytes were lost on the way to the disk";
        case DownloadVerdict::CutShort:
            return Format("cut short: %llu of %lu announced bytes", f.fileSize,
                          static_cast<unsigned long>(f.announcedLength));
        case DownloadVerdict::NotTheRecordSize:
            return Format(
                "%llu bytes arrived without an announced length (compressed, chunked or "
                "closed) but the record says %lu",
                f.fileSize, static_cast<unsigned long>(f.recordSize));
    }
    if (DiffersFromRecord(f)) {
        return Format(
            "the server sends %llu bytes but the record says %lu: behind compression or "
            "chunking the updater has only the record to go by and would refuse it for ever",
            f.fileSize, static_cast<unsigned long>(f.recordSize));
    }
    return std::string();
}

const char* NameFaultText(NameFault fault) {
    switch (fault) {
        case NameFault::None:
            return "";
        case NameFault::Rooted:
            return "absolute or empty";
        case NameFault::DriveOrStream:
            return "a drive or a stream (\":\")";
        case NameFault::DotsOrSpaces:
            return "climbs out (\"..\") or names nothing";
        case NameFault::TrailingDotOrSpace:
            return "a part ends in a dot or a space";
        case NameFault::Device:
            return "a device name (CON, NUL, COM1, ...)";
        case NameFault::ReservedCharacter:
            return "a character Windows refuses in names, or one of a UTF-8 name that this "
                   "system's code page cannot spell (shown as ?)";
        case NameFault::BrokenDoubleByte:
            return "a broken double-byte character";
    }
    return "";
}

// The note on one entry the walk judged, or "" for one written.
std::string EntryNote(const EntryReport& e, const char* archive, bool realInstall) {
    switch (e.verdict) {
        case EntryVerdict::Written:
            return std::string();
        case EntryVerdict::UnsafeName:
            return Format("skipped %s: unsafe name: %s", e.name, NameFaultText(e.fault));
        case EntryVerdict::TooLong:
            return Format("skipped %s: name too long for the installation folder", e.name);
        case EntryVerdict::NoFolder:
            return Format("skipped %s: no earlier folder entry makes its folder%s", e.name,
                          realInstall ? " and it does not exist in the installation" : "");
        case EntryVerdict::Damaged:
            if (e.name[0] == '\0') {
                return Format("entry %ld: %s: skipped, the old file stays",
                              static_cast<long>(e.index),
                              DescribeRefusedRecord(archive, e.index).c_str());
            }
            return Format(
                "entry %s: damaged data (checksum, length or compression): skipped, "
                "the old file stays",
                e.name);
        case EntryVerdict::DirectoryDamaged:
            return Format("entry %ld: %s: it and every later entry are never written",
                          static_cast<long>(e.index),
                          DescribeRefusedRecord(archive, e.index).c_str());
        case EntryVerdict::NotWritten:
            return Format("entry %s: cannot be written here (0x%08lX)", e.name,
                          static_cast<unsigned long>(e.result));
    }
    return std::string();
}

// What the updater would do with the archive at path, entry by entry: its own walk and
// verdicts, into the mirror.
void InspectArchive(const char* path, MirrorIo& io, const char* installDir, Row& row) {
    ZipResult why = ZipOk;
    std::unique_ptr<UpdateArchive> zip = io.OpenArchive(path, installDir, &why);
    if (!zip) {
        row.why = IsNoArchive(why) ? "not an archive: deleted unrecorded, nothing unpacked"
                                   : "the download cannot be opened or read here";
        return;
    }
    std::vector<EntryVerdict> verdicts;
    unsigned files = 0, folders = 0, skipped = 0;
    InstallEntries(
        *zip, installDir, io, verdicts, [] { return false; },
        [&](const EntryReport& e) {
            const std::string note = EntryNote(e, path, row.realInstall);
            if (!note.empty()) row.notes.push_back(note);
            if (e.verdict == EntryVerdict::Written) ++(e.folder ? folders : files);
            if (e.verdict == EntryVerdict::UnsafeName || e.verdict == EntryVerdict::TooLong ||
                e.verdict == EntryVerdict::NoFolder)
                ++skipped;
        });
    zip.reset();
    row.notes.push_back(Format("writes %u file(s) and %u folder(s), skips %u entr%s", files,
                               folders, skipped, skipped == 1 ? "y" : "ies"));
    switch (JudgeArchive(verdicts)) {
        case ArchiveVerdict::Waiting:
            row.why = "an entry cannot be written: the run would wait for it";
            return;
        case ArchiveVerdict::Dropped:
            row.why =
                "damaged archive: the damaged entries keep their old files, the archive "
                "is never recorded";
            return;
        case ArchiveVerdict::InPlace:
            break;
    }
    if (skipped != 0) {
        row.why = Format("%u entr%s skipped", skipped, skipped == 1 ? "y" : "ies");
        return;
    }
    row.whole = true;
}

// Whether the updater could go on from a piece of the file, were its download cut: the
// answer keeps a piece (IsKeepablePiece), and a request for the last byte, as the run makes
// it, is joined (JudgeRest). "" when it could, otherwise why not.
std::string ContinuationFault(UpdateRun& run, const char* url, const DownloadFacts& whole,
                              const std::string& probe) {
    if (whole.encoded) return "a compressed answer (Content-Encoding) cannot be continued";
    if (!whole.lengthAnnounced) return "no length announced (chunked or closed)";
    if (whole.validator.empty()) return "no validator (a strong ETag or a Last-Modified)";
    if (whole.announcedLength < 2) return "";
    DownloadFacts cut = whole;
    cut.receivedBytes = cut.fileSize = whole.announcedLength - 1;
    if (!IsKeepablePiece(cut)) return "the record's size is not the file's";
    const Piece piece = PieceOf(cut);
    DownloadFacts rest = run.Fetch(url, probe.c_str(), &piece);
    DeleteFileA(probe.c_str());
    switch (JudgeRest(piece, rest)) {
        case RestVerdict::Join:
            return rest.receivedBytes == 1 ? "" : "the last byte did not come";
        case RestVerdict::Fresh:
            return "the server answers a range with the whole file (no ranges)";
        case RestVerdict::NoAnswer:
            return "no answer to a range request";
        case RestVerdict::ErrorAnswer:
        case RestVerdict::Refused:
            return Format("the server answers a range with %lu%s",
                          static_cast<unsigned long>(rest.httpStatus),
                          rest.httpStatus == 206 ? " of another start, total or version" : "");
    }
    return "";
}

// The updater's verdict on one record, fetched through run into the scratch folder; with a
// release key, judged against manifest too (null: the manifest is refused).
void CheckRecord(UpdateRun& run, const HandOverHeader& header, const UpdateItem& item,
                 const char* installDir, const ScratchFolder& scratch, const std::string& label,
                 const ReleaseManifest* manifest, EntryCheck& entries, Row& row) {
    ItemPaths paths;
    if (!BuildItemPaths(installDir, header.szServerUrl, item.szName, paths)) {
        row.why = "unsafe name or path too long: the run stops here, nothing after it";
        return;
    }
    const std::string download = scratch.File("download");
    std::fprintf(stderr, "%s: fetching %s\n", label.c_str(), paths.url);
    {
        ProgressLines progress(run, label);
        row.facts = run.Fetch(paths.url, download.c_str());
    }
    row.facts.recordSize = item.dwSize;
    row.fetched = true;
    row.why = DownloadFault(row.facts);
    std::fprintf(stderr, "%s: %llu bytes, %s\n", label.c_str(), row.facts.fileSize,
                 row.why.empty() ? "whole" : "not whole");
    if (JudgeDownload(row.facts) == DownloadVerdict::Whole) {
        if (manifest != nullptr)
            row.signedAs = SignedColumn(*manifest, item.szName, download.c_str());
        const std::string fault =
            ContinuationFault(run, paths.url, row.facts, scratch.File("probe"));
        row.goesOn = fault.empty() ? 1 : 0;
        if (!fault.empty()) row.notes.push_back("a cut download would start over: " + fault);
    }
    MirrorIo io(installDir, row.realInstall, scratch.File("install"));
    const auto realFolder = [&io](const char* folder) {
        return IsFolderAttributes(io.Attributes(folder));
    };
    if (!row.why.empty()) {
        // The download's own fault says it all.
    } else if (IsZipName(item.szName)) {
        InspectArchive(download.c_str(), io, installDir, row);
    } else if (EndsInZipAnyCase(item.szName)) {
        row.why = "moved as a plain file, not unpacked: only \".zip\" in lower case is an archive";
    } else if (FileNamePart(item.szName) != item.szName &&
               (IsEntryFolderMissing(paths.download, false, realFolder) ||
                IsEntryFolderMissing(paths.target, false, realFolder))) {
        row.why = "a folder part: the updater makes only DownLoad\\ itself, so it fails for ever";
    } else {
        if (IsUpdaterName(item.szName)) row.notes.push_back("waits in DownLoad\\ for the lobby");
        row.whole = true;
    }
    if (row.whole && !row.signedAs.empty() && row.signedAs != "yes") {
        row.whole = false;
        row.why = manifest != nullptr
                      ? "not the file the release manifest lists: the updater would not install it"
                      : "the release manifest is refused: nothing installs";
    }
    DeleteFileA(download.c_str());
    RemoveBelow(scratch.File("install"));
    row.byEntries = entries.Ask(header.szServerUrl, item);
}

// Fetches the release manifest as the run fetches a file and judges it with key as the run
// does (no serial accepted before it: the players' are not known here); prints the verdict.
bool CheckManifest(UpdateRun& run, const HandOverHeader& header, const PublicKey& key,
                   const ScratchFolder& scratch, ReleaseManifest* manifest) {
    char url[kPathSize];
    if (!JoinPath(url, {header.szServerUrl, "Torvel\\", kReleaseManifestName})) {
        std::printf("release manifest: REFUSED: its URL is longer than 259 bytes\n");
        return false;
    }
    const std::string path = scratch.File("manifest");
    std::fprintf(stderr, "release manifest: fetching %s\n", url);
    DownloadFacts facts = run.Fetch(url, path.c_str());
    std::string why = DownloadFault(facts);
    std::vector<unsigned char> bytes;
    if (why.empty() && !ReadFileBytes(path.c_str(), bytes)) why = "it cannot be read";
    DeleteFileA(path.c_str());
    if (!why.empty()) {
        std::printf("release manifest: REFUSED: not fetched whole: %s\n", why.c_str());
        return false;
    }
    size_t line = 0;
    const ManifestFault fault =
        VerifyManifest(std::string(bytes.begin(), bytes.end()), key,
                       {0, header.dwFileVersion1, header.dwFileVersion2, NowUtc()}, manifest, &line);
    std::printf("release manifest: %s\n", DescribeManifest(fault, line, *manifest).c_str());
    return fault == ManifestFault::None;
}

std::string Number(bool known, unsigned long long value) {
    return known ? Format("%llu", value) : "-";
}

void PrintTable(const std::vector<Row>& rows, bool withKey, const std::string& entriesHeading) {
    std::printf("%-4s %-35s %6s %10s %10s %10s %-8s %-7s ", "#", "name", "status", "announced",
                "received", "record", "installs", "goes on");
    std::printf(withKey ? "%-19s %s\n" : "%s%s\n", withKey ? "signed" : "", "why not");
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const DownloadFacts& f = r.facts;
        std::printf("%-4u %-35s %6s %10s %10s %10lu %-8s %-7s ", static_cast<unsigned>(i),
                    r.name.c_str(), Number(r.fetched && f.httpStatus != 0, f.httpStatus).c_str(),
                    Number(r.fetched && f.lengthAnnounced, f.announcedLength).c_str(),
                    Number(r.fetched && f.fileExists, f.fileSize).c_str(),
                    static_cast<unsigned long>(f.recordSize), r.whole ? "yes" : "NO",
                    r.goesOn < 0 ? "-"
                    : r.goesOn   ? "yes"
                                 : "no");
        std::printf(withKey ? "%-19s %s\n" : "%s%s\n", r.signedAs.c_str(), r.why.c_str());
    }
    bool headed = false;
    for (const Row& r : rows) {
        if (r.byEntries.empty()) continue;
        if (!headed) std::printf("\n%s\n", entriesHeading.c_str());
        headed = true;
        std::printf("  %s: %s\n", r.name.c_str(), r.byEntries.c_str());
    }
    for (const Row& r : rows) {
        if (r.notes.empty()) continue;
        std::printf("\n%s:\n", r.name.c_str());
        for (const std::string& note : r.notes) std::printf("  %s\n", note.c_str());
    }
}

}  // namespace

bool LoadHandOver(const char* path, HandOverHeader& header, std::unique_ptr<UpdateItem[]>& items) {
    std::vector<unsigned char> bytes;
    if (!ReadFileBytes(path, bytes)) {
        std::fprintf(stderr, "mkhandover: %s: cannot read\n", path);
        return false;
    }
    UpdateItem* parsed = nullptr;
    if (!ParseHandOver(bytes.data(), bytes.size(), header, parsed)) {
        std::fprintf(stderr,
                     "mkhandover: %s: not a valid hand-over file (%u bytes; the updater would "
                     "refuse it)\n",
                     path, static_cast<unsigned>(bytes.size()));
        return false;
    }
    items.reset(parsed);
    return true;
}

int CheckHandOver(const char* handOverPath, const char* installDir, const PublicKey* releaseKey) {
    HandOverHeader header;
    std::unique_ptr<UpdateItem[]> items;
    if (!LoadHandOver(handOverPath, header, items)) return 2;
    const bool realInstall = installDir != nullptr;
    if (realInstall) {
        if (!IsFolderAttributes(GetFileAttributesA(installDir))) {
            std::fprintf(stderr, "mkhandover: %s: no such folder\n", installDir);
            return 2;
        }
    } else {
        installDir = kBareInstallDir;
    }
    ScratchFolder scratch;
    if (!scratch.IsValid()) {
        std::fprintf(stderr, "mkhandover: cannot make a temporary folder\n");
        return 1;
    }

    std::printf("server URL %s\n", header.szServerUrl);
    SystemUpdateIo io;
    UpdateRun run(&io);
    ReleaseManifest manifest;
    const bool signedRelease =
        releaseKey != nullptr && CheckManifest(run, header, *releaseKey, scratch, &manifest);
    EntryCheck entries(io, run, scratch.File("entries"), realInstall ? installDir : nullptr,
                       releaseKey != nullptr, signedRelease ? &manifest : nullptr);
    std::vector<Row> rows(header.wCount);
    bool stopped = false;
    for (WORD i = 0; i < header.wCount; ++i) {
        Row& row = rows[i];
        row.name = items[i].szName;
        row.facts.recordSize = items[i].dwSize;
        row.realInstall = realInstall;
        if (releaseKey != nullptr) row.signedAs = "-";
        if (stopped) {
            row.why = "never reached: the run stops at an earlier file";
            continue;
        }
        const std::string label = Format("[%u/%u] %s", i + 1u, header.wCount, items[i].szName);
        CheckRecord(run, header, items[i], installDir, scratch, label,
                    signedRelease ? &manifest : nullptr, entries, row);
        stopped = !row.fetched && !row.whole;
    }
    std::fflush(stderr);
    PrintTable(rows, releaseKey != nullptr, entries.Heading());
    if (releaseKey != nullptr && !signedRelease) return 1;
    for (const Row& r : rows) {
        if (!r.whole) return 1;
    }
    return 0;
}
