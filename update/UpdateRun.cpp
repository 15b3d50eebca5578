#include "UpdateRun.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "DownloadCheck.h"
#include "DownloadStatusCallback.h"
#include "InstallPaths.h"
#include "LobbyLaunch.h"

namespace {

constexpr DWORD kFirstRetryMs = 1000;
constexpr DWORD kLongestRetryMs = 30000;
constexpr UINT kDefaultStallSeconds = 30;
constexpr UINT kLongestStallSeconds = 3600;
constexpr DWORD kStallLookMs = 250;

}  // namespace

WaitReason WaitForDownload(DownloadVerdict verdict, bool stalled, bool folderInTheWay) {
    switch (verdict) {
        case DownloadVerdict::NoAnswer:
            return WaitReason::NoAnswer;
        case DownloadVerdict::ErrorAnswer:
            return WaitReason::ServerError;
        default:
            break;
    }
    if (folderInTheWay) return WaitReason::FolderInTheWay;
    switch (verdict) {
        case DownloadVerdict::Failed:
            return stalled ? WaitReason::NoAnswer : WaitReason::Incomplete;
        case DownloadVerdict::NothingStored:
        case DownloadVerdict::LostOnTheWay:
            return WaitReason::DiskFull;
        default:
            return WaitReason::Incomplete;
    }
}

DWORD RetryDelayMs(unsigned failures) {
    if (failures == 0) return 0;
    DWORD delay = kFirstRetryMs;
    for (unsigned i = 1; i < failures && delay < kLongestRetryMs; ++i) delay *= 2;
    return delay < kLongestRetryMs ? delay : kLongestRetryMs;
}

static UpdateIo& SystemIo() {
    static SystemUpdateIo io;
    return io;
}

DWORD StallLimitMs(const char* configFile) {
    UINT seconds =
        GetPrivateProfileIntA("Setting", "DownloadStallSeconds", kDefaultStallSeconds, configFile);
    if (seconds < 1 || seconds > kLongestStallSeconds) seconds = kDefaultStallSeconds;
    return seconds * 1000;
}

// For the length of one download: makes it the one RequestStop aborts and the one the
// stall watcher looks at.
class UpdateRun::ActiveDownload {
public:
    ActiveDownload(UpdateRun& run, DownloadStatusCallback& callback) : m_run(run) {
        m_run.StartStallWatcher();
        std::lock_guard<std::mutex> hold(m_run.m_activeLock);
        m_run.m_pActive = &callback;
    }
    ~ActiveDownload() {
        std::lock_guard<std::mutex> hold(m_run.m_activeLock);
        m_run.m_pActive = nullptr;
    }
    ActiveDownload(const ActiveDownload&) = delete;
    ActiveDownload& operator=(const ActiveDownload&) = delete;

private:
    UpdateRun& m_run;
};

void UpdateRun::StartStallWatcher() {
    // One thread for the whole run: a thread started for each download costs a few
    // milliseconds a file, which a release of many small files feels.
    if (m_stallWatcher.IsValid() || !m_watcherEnd.IsValid()) return;
    m_stallWatcher.Reset(CreateThread(nullptr, 0, &WatchForStalls, this, 0, nullptr));
}

// A stalled server sends no progress report, so the callback alone could never stop it:
// the running download is aborted when nothing was heard from it for the stall limit.
// Without this thread downloads run unwatched; the stop still aborts them.
DWORD WINAPI UpdateRun::WatchForStalls(LPVOID self) {
    auto* run = static_cast<UpdateRun*>(self);
    while (WaitForSingleObject(run->m_watcherEnd, kStallLookMs) == WAIT_TIMEOUT) {
        std::lock_guard<std::mutex> hold(run->m_activeLock);
        if (run->m_pActive != nullptr)
            run->m_pActive->AbortIfStalled(GetTickCount64(), run->m_dwStallMs);
    }
    return 0;
}

UpdateRun::UpdateRun(UpdateIo* io)
    : m_io(io != nullptr ? *io : SystemIo()),
      m_dwProgress(0),
      m_dwProgressMax(0),
      m_dwSpeedBase(0),
      m_pItems(nullptr),
      m_nItemCount(0),
      m_bStop(FALSE),
      m_nCurrentItem(0),
      m_dwStallMs(kDefaultStallSeconds * 1000),
      m_stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_watcherEnd(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    std::memset(m_szStatus, 0, sizeof m_szStatus);
    std::memset(&m_header, 0, sizeof m_header);
}

UpdateRun::~UpdateRun() {
    if (m_stallWatcher.IsValid()) {
        SetEvent(m_watcherEnd);
        WaitForSingleObject(m_stallWatcher, INFINITE);
    }
    delete[] m_pItems;
}

bool UpdateRun::ReadHandOverFile() {
    HandOverHeader header;
    UpdateItem* items = nullptr;
    if (!ReadHandOver(kHandOverFileName, header, items)) return false;
    SetList(header, items);
    m_dwStallMs = StallLimitMs(kConfigFile);
    return true;
}

void UpdateRun::SetList(const HandOverHeader& header, UpdateItem* items) {
    delete[] m_pItems;
    m_header = header;
    m_pItems = items;
    m_nItemCount = header.wCount;
    m_nCurrentItem = 0;
    m_state.assign(m_nItemCount, ItemState());
}

void UpdateRun::RequestStop() {
    m_bStop = TRUE;
    if (m_stopEvent.IsValid()) SetEvent(m_stopEvent);
    std::lock_guard<std::mutex> hold(m_activeLock);
    if (m_pActive != nullptr) m_pActive->Abort();
}

void UpdateRun::SetProgress(DWORD progress, DWORD progressMax) {
    const DWORD total = m_dwProgressTotal;
    if (total != 0) {
        m_dwProgress = m_dwProgressBase + progress;
        m_dwProgressMax = total;
    } else {
        m_dwProgress = progress;
        m_dwProgressMax = progressMax == 0 ? kUnknownDownloadSize : progressMax;
    }
}

void UpdateRun::AdvanceSpeedBase(DWORD base, DWORD progress) {
    m_dwSpeedBase.compare_exchange_strong(base, progress);
}

void UpdateRun::GetStatusLine(char (&out)[kStatusLineSize]) const {
    std::lock_guard<std::mutex> hold(m_statusLock);
    std::memcpy(out, m_szStatus, sizeof out);
}

void UpdateRun::SetStatusLine(const char (&line)[kStatusLineSize]) {
    std::lock_guard<std::mutex> hold(m_statusLock);
    std::memcpy(m_szStatus, line, sizeof m_szStatus);
    m_szStatus[kStatusLineSize - 1] = '\0';
}

UpdateRun::ItemOutcome UpdateRun::Failed(WaitReason why, const char* name, DWORD status) {
    ++m_nFailures;
    FormatWaitLine(why, status, FileNamePart(name), m_szWaitLine);
    return ItemOutcome::Retry;
}

bool UpdateRun::WaitBeforeRetry() {
    const DWORD delay = RetryDelayMs(m_nFailures);
    if (delay != 0 && !IsStopping()) {
        SetStatusLine(m_szWaitLine);
        m_dwRetryAt = GetTickCount() + delay;
        m_io.Pause(delay, m_stopEvent);
        m_dwRetryAt = 0;
    }
    return !IsStopping();
}

void UpdateRun::DownloadNextItem() {
    if (m_nCurrentItem >= m_nItemCount) {
        m_bStop = TRUE;
        return;
    }
    if (!WaitBeforeRetry()) return;
    if (!m_bPiecesLoaded) LoadPieces();
    UpdateItem& item = m_pItems[m_nCurrentItem];
    ItemState& state = m_state[m_nCurrentItem];

    ItemPaths paths;
    if (!BuildItemPaths(m_strInstallDir, m_header.szServerUrl, item.szName, paths)) {
        // An entry that cannot be placed inside the installation folder ends the run
        // unfinished: no version is stored and nothing is started.
        m_bStop = TRUE;
        return;
    }

    ULONGLONG size = 0;
    if (state.downloaded && !m_io.FileSize(paths.download, &size)) state = ItemState();
    if (!state.downloaded) {
        m_io.MakeFolder(paths.downloadFolder);
        char status[kStatusLineSize];
        FormatStatusLine(item.szName, status);
        SetStatusLine(status);
        if (!Download(paths, item)) return;
        state.downloaded = true;
    }

    const ItemOutcome outcome = IsZipName(item.szName)
                                    ? InstallArchive(paths.download, item, state)
                                    : InstallPlainFile(paths.download, paths.target, item);
    switch (outcome) {
        case ItemOutcome::Done: {
            state = ItemState();
            // A line that said what the item waited for gives way to the usual one.
            if (m_nFailures != 0) {
                char status[kStatusLineSize];
                FormatStatusLine(item.szName, status);
                SetStatusLine(status);
            }
            m_nFailures = 0;
            item.bDone = 1;
            ++m_nCurrentItem;
            m_dwSpeedBase = 0;
            break;
        }
        case ItemOutcome::Retry:
        case ItemOutcome::Stopped:
            break;
    }
}

DownloadFacts UpdateRun::Fetch(const char* url, const char* path, const Piece* piece) {
    DownloadStatusCallback callback;
    callback.SetOwner(this);
    // A validator too long to send back is one the server could not be asked about: the
    // whole file comes, and JudgeRest sees a fresh answer.
    if (piece != nullptr && callback.AskFrom(piece->length, piece->validator)) {
        // The bar starts at the piece's share; the speed counts only what comes now.
        m_dwProgressBase = static_cast<DWORD>(piece->length);
        m_dwProgressTotal = static_cast<DWORD>(piece->total);
        SetProgress(0, 0);
        m_dwSpeedBase = m_dwProgressBase.load();
    }
    DownloadFacts facts;
    {
        ActiveDownload active(*this, callback);
        facts = m_io.Download(url, path, callback);
    }
    m_dwProgressBase = 0;
    m_dwProgressTotal = 0;
    return facts;
}

bool UpdateRun::Download(const ItemPaths& paths, const UpdateItem& item) {
    char rest[kPathSize], piece[kPathSize];
    PieceRecord* kept = FindPiece(item, paths.url);
    if (kept != nullptr && PiecePath(kPieceRestName, rest) && PiecePath(kept->file, piece))
        return GoOn(paths, item, *kept, piece, rest);
    DownloadFacts facts = Fetch(paths.url, paths.download);
    facts.recordSize = item.dwSize;
    return TakeFresh(paths, item, facts, 0);
}

bool UpdateRun::TakeFresh(const ItemPaths& paths, const UpdateItem& item,
                          const DownloadFacts& facts, ULONGLONG before) {
    const DownloadVerdict verdict = JudgeDownload(facts);
    // A download may end after the close command asked it to stop (the moniker does not
    // always give up at the first E_ABORT): what was asked to stop is not installed.
    if (verdict == DownloadVerdict::Whole && !IsStopping()) return true;
    // What a stop or a dropped link cut short is kept, so that the next attempt, or the
    // next run, goes on from there.
    if (verdict != DownloadVerdict::Whole && IsKeepablePiece(facts) &&
        StorePiece(paths, item, facts)) {
        if (IsStopping()) return false;
        // Only more than was kept before is progress; a server that starts over every time
        // (it has no ranges) gets the growing pauses of any failure.
        if (facts.receivedBytes > before) {
            Progressed(item);
        } else {
            Failed(WaitReason::Incomplete, item.szName);
        }
        return false;
    }
    m_io.Delete(paths.download);
    if (!IsStopping()) {
        const bool folderInTheWay = IsFolderAttributes(m_io.Attributes(paths.download));
        Failed(WaitForDownload(verdict, facts.stalled, folderInTheWay), item.szName,
               facts.httpStatus);
    }
    return false;
}

bool UpdateRun::StorePiece(const ItemPaths& paths, const UpdateItem& item,
                           const DownloadFacts& facts) {
    // A piece never lies under the listed name, where a whole download (the updater's own
    // new program file among them) is looked for: it moves to a name of its own.
    unsigned number = 0;
    std::string file;
    do {
        file = PieceFileName(number++);
    } while (std::any_of(m_pieces.begin(), m_pieces.end(),
                         [&](const PieceRecord& r) { return r.file == file; }));
    char piece[kPathSize];
    if (!PiecePath(file, piece)) return false;
    m_io.Delete(piece);
    // Listed before it is moved: a run killed between the two finds no piece where the
    // index says, drops the record, and leaves no file behind.
    m_pieces.emplace_back();
    PieceRecord& record = m_pieces.back();
    record.name = item.szName;
    record.file = file;
    record.size = item.dwSize;
    record.date = item.dwDate;
    record.time = item.dwTime;
    record.url = paths.url;
    record.piece = PieceOf(facts);
    SavePieces();
    if ((facts.fileSize == facts.receivedBytes || m_io.Cut(paths.download, facts.receivedBytes)) &&
        m_io.Move(paths.download, piece))
        return true;
    DropPiece(item);
    return false;
}

bool UpdateRun::GoOn(const ItemPaths& paths, const UpdateItem& item, PieceRecord& kept,
                     const char* piecePath, const char* rest) {
    const Piece piece = kept.piece;
    m_io.Delete(rest);
    DownloadFacts facts = Fetch(paths.url, rest, &piece);
    facts.recordSize = item.dwSize;
    switch (JudgeRest(piece, facts)) {
        case RestVerdict::Join: {
            const bool joined =
                facts.receivedBytes == 0 || m_io.Append(rest, facts.receivedBytes, piecePath);
            m_io.Delete(rest);
            if (!joined) {
                if (!IsStopping()) Failed(WaitReason::DiskFull, item.szName);
                return false;
            }
            kept.piece.length += facts.receivedBytes;
            if (kept.piece.length < piece.total) {
                SavePieces();
                if (IsStopping()) return false;
                if (facts.receivedBytes != 0) {
                    Progressed(item);
                } else {
                    Failed(WaitForDownload(JudgeDownload(facts), facts.stalled, false), item.szName,
                           facts.httpStatus);
                }
                return false;
            }
            // Whole again: only today's verdict on the joined file lets it in.
            ULONGLONG size = 0;
            m_io.FileSize(piecePath, &size);
            const bool whole = IsWholeDownload(JoinedFacts(kept.piece, size, item.dwSize)) &&
                               !IsStopping() && m_io.Move(piecePath, paths.download);
            DropPiece(item);
            if (whole) return true;
            if (!IsStopping()) Failed(WaitReason::Incomplete, item.szName);
            return false;
        }
        case RestVerdict::Fresh:
            // The server sent the file anew: the piece is of another version, or the server
            // has no ranges. What came is judged as any fresh download.
            DropPiece(item);
            if (!m_io.Move(rest, paths.download)) {
                m_io.Delete(rest);
                if (!IsStopping()) Failed(WaitReason::InUse, item.szName);
                return false;
            }
            return TakeFresh(paths, item, facts, piece.length);
        case RestVerdict::NoAnswer:
            m_io.Delete(rest);
            if (!IsStopping()) Failed(WaitReason::NoAnswer, item.szName);
            return false;
        case RestVerdict::Refused:
            m_io.Delete(rest);
            DropPiece(item);
            if (!IsStopping()) {
                const bool error = facts.httpStatus < 200 || facts.httpStatus > 299;
                Failed(error ? WaitReason::ServerError : WaitReason::Incomplete, item.szName,
                       facts.httpStatus);
            }
            return false;
    }
    return false;
}

void UpdateRun::Progressed(const UpdateItem& item) {
    m_nFailures = 0;
    Failed(WaitReason::Incomplete, item.szName);
}

bool UpdateRun::PiecePath(const std::string& file, char (&out)[kPathSize]) const {
    return JoinPath(out, {m_strInstallDir, "\\DownLoad\\", file.c_str()});
}

void UpdateRun::LoadPieces() {
    m_bPiecesLoaded = true;
    char index[kPathSize], rest[kPathSize];
    if (!PiecePath(kPieceIndexName, index)) return;
    if (PiecePath(kPieceRestName, rest)) m_io.Delete(rest);
    std::string text;
    if (!m_io.ReadText(index, &text)) return;
    for (const PieceRecord& record : ParsePieceIndex(text)) {
        char piece[kPathSize];
        if (!PiecePath(record.file, piece)) continue;
        bool listed = false;
        for (WORD i = 0; i < m_nItemCount && !listed; ++i) {
            ItemPaths paths;
            listed =
                BuildItemPaths(m_strInstallDir, m_header.szServerUrl, m_pItems[i].szName, paths) &&
                PieceBelongs(record, m_pItems[i], paths.url);
        }
        ULONGLONG size = 0;
        if (listed && m_io.FileSize(piece, &size) && size == record.piece.length) {
            m_pieces.push_back(record);
        } else {
            // Not of this list, or not what the index says: it goes, so pieces never pile up.
            m_io.Delete(piece);
        }
    }
    SavePieces();
}

void UpdateRun::SavePieces() {
    char index[kPathSize];
    if (!PiecePath(kPieceIndexName, index)) return;
    if (m_pieces.empty()) {
        m_io.Delete(index);
    } else {
        m_io.WriteText(index, FormatPieceIndex(m_pieces));
    }
}

PieceRecord* UpdateRun::FindPiece(const UpdateItem& item, const char* url) {
    for (PieceRecord& record : m_pieces) {
        if (PieceBelongs(record, item, url)) return &record;
    }
    return nullptr;
}

void UpdateRun::DropPiece(const UpdateItem& item) {
    for (auto it = m_pieces.begin(); it != m_pieces.end(); ++it) {
        if (it->name != item.szName) continue;
        char piece[kPathSize];
        if (PiecePath(it->file, piece)) m_io.Delete(piece);
        m_pieces.erase(it);
        break;
    }
    SavePieces();
}

UpdateRun::ItemOutcome UpdateRun::InstallArchive(const char* archive, const UpdateItem& item,
                                                 ItemState& state) {
    ZipResult why = ZipOk;
    std::unique_ptr<UpdateArchive> zip = m_io.OpenArchive(archive, &why);
    if (!zip) {
        // A whole download that is no archive is the operator's to fix: it is dropped
        // unrecorded. One that could not be opened here (held by another program) waits.
        if (why == ZipOpenFailed) return Failed(WaitReason::InUse, item.szName);
        m_io.Delete(archive);
        return ItemOutcome::Done;
    }
    // The first entry that failed here names what the next attempt waits for.
    EntryReport firstFailure{};
    char failedName[kPathSize] = "";
    const bool walked = InstallEntries(
        *zip, m_strInstallDir, m_io, state.entries, [this] { return IsStopping(); },
        [&](const EntryReport& entry) {
            if (entry.verdict != EntryVerdict::NotWritten || failedName[0] != '\0') return;
            firstFailure = entry;
            std::snprintf(failedName, sizeof failedName, "%s", entry.name);
        });
    zip.reset();
    if (!walked) return ItemOutcome::Stopped;
    switch (JudgeArchive(state.entries)) {
        case ArchiveVerdict::Waiting:
            return Failed(firstFailure.wait, failedName);
        case ArchiveVerdict::Dropped:
            m_io.Delete(archive);
            return ItemOutcome::Done;
        case ArchiveVerdict::InPlace:
            break;
    }
    // A record the lobby or a player made read-only would otherwise hold the run for ever.
    if (!LiftReadOnly(m_io, kRecordFile) || !m_io.WriteRecord(item))
        return Failed(WaitReason::InUse, kRecordFile);
    m_io.Delete(archive);
    return ItemOutcome::Done;
}

UpdateRun::ItemOutcome UpdateRun::InstallPlainFile(const char* download, const char* target,
                                                   const UpdateItem& item) {
    FILETIME stamp;
    stamp.dwLowDateTime = item.dwTime;
    stamp.dwHighDateTime = item.dwDate;
    m_io.StampTimes(download, stamp);
    // The updater's own new program file waits in DownLoad\ for the lobby.
    if (IsUpdaterName(item.szName)) return ItemOutcome::Done;
    // Same volume: the replacement is a rename, so the target is old or new, never half.
    if (ReplaceLiftingBits(m_io, download, target)) return ItemOutcome::Done;
    return Failed(IsFolderAttributes(m_io.Attributes(target)) ? WaitReason::FolderInTheWay
                                                              : WaitReason::InUse,
                  item.szName);
}
