#include "UpdateRun.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "DownloadCheck.h"
#include "DownloadStatusCallback.h"
#include "InstallPaths.h"
#include "LobbyLaunch.h"
#include "RunCompletion.h"

namespace {

constexpr DWORD kFirstRetryMs = 1000;
constexpr DWORD kLongestRetryMs = 30000;
constexpr UINT kDefaultStallSeconds = 30;
constexpr UINT kLongestStallSeconds = 3600;
constexpr DWORD kStallLookMs = 250;

}  // namespace

WaitReason WaitForDownload(DownloadVerdict verdict, bool stalled) {
    switch (verdict) {
        case DownloadVerdict::NoAnswer:
            return WaitReason::NoAnswer;
        case DownloadVerdict::ErrorAnswer:
            return WaitReason::ServerError;
        case DownloadVerdict::Failed:
            return stalled ? WaitReason::NoAnswer : WaitReason::Incomplete;
        case DownloadVerdict::NothingStored:
        case DownloadVerdict::LostOnTheWay:
            return WaitReason::DiskFull;
        default:
            return WaitReason::Incomplete;
    }
}

WaitReason WaitForManifest(ManifestFault fault) {
    switch (fault) {
        case ManifestFault::BadSignature:
            return WaitReason::BadSignature;
        case ManifestFault::OlderSerial:
            return WaitReason::OlderRelease;
        case ManifestFault::Expired:
            return WaitReason::Expired;
        default:
            return WaitReason::Malformed;
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
    PublicKey key{};
    const ConfiguredKey state = ReadReleaseKey(kConfigFile, &key);
    SetReleaseKey(state, key, state == ConfiguredKey::NoKey ? 0 : AcceptedReleaseSerial());
    return true;
}

void UpdateRun::SetReleaseKey(ConfiguredKey state, const PublicKey& key, DWORD highestSerial) {
    m_keyState = state;
    m_key = key;
    m_highestSerial = m_acceptedSerial = highestSerial;
    m_manifest.reset();
}

bool UpdateRun::AcceptedRelease(DWORD* serial) const {
    *serial = m_acceptedSerial;
    return m_keyState == ConfiguredKey::Key;
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
    if (!HaveRelease()) return;
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

DownloadFacts UpdateRun::Fetch(const char* url, const char* path, const Piece* piece,
                               ULONGLONG limit) {
    DownloadStatusCallback callback;
    callback.SetOwner(this);
    const ULONGLONG before = piece != nullptr ? piece->length : 0;
    if (limit != 0) callback.SetLimit(limit > before ? limit - before : 1);
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

bool UpdateRun::HaveRelease() {
    switch (m_keyState) {
        case ConfiguredKey::NoKey:
            return true;
        case ConfiguredKey::NotAKey:
            // A key was meant: nothing may be taken unsigned.
            Failed(WaitReason::KeyInvalid, "UpdateConfig.txt");
            return false;
        case ConfiguredKey::Key:
            break;
    }
    return m_manifest != nullptr || FetchManifest();
}

bool UpdateRun::FetchManifest() {
    static const char kShownAs[] = "发布清单";
    char url[kPathSize], folder[kPathSize], arrive[kPathSize];
    const std::string arriving = FreePieceFile();
    if (!JoinPath(url, {m_header.szServerUrl, "Torvel\\", kReleaseManifestName}) ||
        !PiecePath("", folder) || !PiecePath(arriving, arrive)) {
        // As for a listed name that cannot be placed: the run ends unfinished.
        m_bStop = TRUE;
        return false;
    }
    m_io.MakeFolder(folder);
    char status[kStatusLineSize];
    FormatStatusLine(kShownAs, status);
    SetStatusLine(status);
    m_io.Delete(arrive);
    const DownloadFacts facts = Fetch(url, arrive, nullptr, kMaxManifestBytes);
    std::string text;
    const bool whole = IsWholeDownload(facts) && m_io.ReadText(arrive, &text);
    m_io.Delete(arrive);
    if (IsStopping()) return false;
    if (!whole) {
        Failed(WaitForDownload(JudgeDownload(facts), facts.stalled), kShownAs, facts.httpStatus);
        return false;
    }
    std::unique_ptr<ReleaseManifest> manifest(new ReleaseManifest);
    const ManifestFault fault =
        VerifyManifest(text, m_key, m_highestSerial, m_io.UtcNow(), manifest.get());
    if (fault != ManifestFault::None) {
        Failed(WaitForManifest(fault), kShownAs);
        return false;
    }
    m_acceptedSerial = std::max(m_acceptedSerial, manifest->serial);
    m_manifest = std::move(manifest);
    return true;
}

bool UpdateRun::IsSigned(const char* whole, const UpdateItem& item) {
    if (m_keyState != ConfiguredKey::Key) return true;
    ULONGLONG size = 0;
    uint8_t digest[kSha256Bytes];
    if (m_manifest != nullptr && m_io.HashFile(whole, &size, digest) &&
        MatchManifest(*m_manifest, item.szName, size, digest) == ItemMatch::Matches)
        return true;
    NotSigned(item);
    return false;
}

UpdateRun::ItemOutcome UpdateRun::NotSigned(const UpdateItem& item) {
    // The manifest may be what is wrong (a mirror's stale one): it is fetched again.
    m_manifest.reset();
    return Failed(WaitReason::NotSigned, item.szName);
}

bool UpdateRun::Download(const ItemPaths& paths, const UpdateItem& item) {
    // An item the release does not list is never fetched, let alone installed.
    const ManifestFile* listed =
        m_manifest != nullptr ? FindInManifest(*m_manifest, item.szName) : nullptr;
    if (m_keyState == ConfiguredKey::Key && listed == nullptr) {
        NotSigned(item);
        return false;
    }
    const ULONGLONG limit = listed != nullptr ? listed->size : 0;
    PieceRecord* kept = FindPiece(item, paths.url);
    char piece[kPathSize];
    // A piece whose file went (an antivirus, a player clearing DownLoad\) or changed is no
    // piece: a rest joined to it would never be whole.
    ULONGLONG size = 0;
    if (kept != nullptr && (!PiecePath(kept->file, piece) || !m_io.FileSize(piece, &size) ||
                            size != kept->piece.length)) {
        DropPiece(*kept);
        kept = nullptr;
    }
    if (kept != nullptr && kept->piece.length == kept->piece.total) return TakeWholePiece(paths, item, *kept);
    // Every download arrives under a name of its own: a partial file never lies under a
    // listed name, where the lobby looks for a new Update.exe, even when the run is killed.
    const std::string arriving = FreePieceFile();
    char arrive[kPathSize];
    if (!PiecePath(arriving, arrive)) return false;
    m_io.Delete(arrive);
    DownloadFacts facts = Fetch(paths.url, arrive, kept != nullptr ? &kept->piece : nullptr, limit);
    facts.recordSize = item.dwSize;
    if (kept != nullptr) return GoOn(paths, item, *kept, arriving, facts);
    return TakeFresh(paths, item, facts, arriving, 0);
}

std::string UpdateRun::FreePieceFile() const {
    for (unsigned number = 0;; ++number) {
        std::string file = PieceFileName(number);
        if (std::none_of(m_pieces.begin(), m_pieces.end(),
                         [&](const PieceRecord& r) { return r.file == file; }))
            return file;
    }
}

bool UpdateRun::TakeDownload(const char* whole, const ItemPaths& paths, const UpdateItem& item) {
    if (m_io.Move(whole, paths.download)) return true;
    Failed(IsFolderAttributes(m_io.Attributes(paths.download)) ? WaitReason::FolderInTheWay
                                                                : WaitReason::InUse,
           item.szName);
    return false;
}

bool UpdateRun::TakeFresh(const ItemPaths& paths, const UpdateItem& item,
                          const DownloadFacts& facts, const std::string& arriving,
                          ULONGLONG before) {
    char arrived[kPathSize];
    if (!PiecePath(arriving, arrived)) return false;
    const DownloadVerdict verdict = JudgeDownload(facts);
    // A download may end after the close command asked it to stop (the moniker does not
    // always give up at the first E_ABORT): what was asked to stop is not installed.
    if (verdict == DownloadVerdict::Whole && !IsStopping()) {
        if (IsSigned(arrived, item) && TakeDownload(arrived, paths, item)) return true;
        m_io.Delete(arrived);
        return false;
    }
    // What a stop or a dropped link cut short is kept, so that the next attempt, or the
    // next run, goes on from there.
    if (verdict != DownloadVerdict::Whole && IsKeepablePiece(facts) &&
        StorePiece(item, paths.url, facts, arriving)) {
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
    m_io.Delete(arrived);
    if (!IsStopping())
        Failed(WaitForDownload(verdict, facts.stalled), item.szName, facts.httpStatus);
    return false;
}

bool UpdateRun::StorePiece(const UpdateItem& item, const char* url, const DownloadFacts& facts,
                           const std::string& file) {
    char piece[kPathSize];
    if (!PiecePath(file, piece)) return false;
    m_pieces.emplace_back();
    PieceRecord& record = m_pieces.back();
    record.name = item.szName;
    record.file = file;
    record.size = item.dwSize;
    record.date = item.dwDate;
    record.time = item.dwTime;
    record.url = url;
    record.piece = PieceOf(facts);
    // Listed before it is cut to its counted bytes: a run killed between the two finds the
    // file longer than the index says and removes it.
    SavePieces();
    if (facts.fileSize == facts.receivedBytes || m_io.Cut(piece, facts.receivedBytes)) return true;
    DropPiece(m_pieces.back());
    return false;
}

bool UpdateRun::GoOn(const ItemPaths& paths, const UpdateItem& item, PieceRecord& kept,
                     const std::string& arriving, const DownloadFacts& facts) {
    const Piece piece = kept.piece;
    char rest[kPathSize], whole[kPathSize];
    if (!PiecePath(arriving, rest) || !PiecePath(kept.file, whole)) return false;
    switch (JudgeRest(piece, facts)) {
        case RestVerdict::Join: {
            const bool joined =
                facts.receivedBytes == 0 || m_io.Append(rest, facts.receivedBytes, whole);
            m_io.Delete(rest);
            if (!joined) {
                if (!IsStopping()) Failed(WaitReason::DiskFull, item.szName);
                return false;
            }
            kept.piece.length += facts.receivedBytes;
            SavePieces();
            if (kept.piece.length == piece.total) return TakeWholePiece(paths, item, kept);
            if (IsStopping()) return false;
            if (facts.receivedBytes != 0) {
                Progressed(item);
            } else {
                Failed(WaitForDownload(JudgeDownload(facts), facts.stalled), item.szName,
                       facts.httpStatus);
            }
            return false;
        }
        case RestVerdict::Fresh:
            // The server sent the file anew: the piece is of another version, or the server
            // has no ranges. What came is judged as any fresh download.
            DropPiece(kept);
            return TakeFresh(paths, item, facts, arriving, piece.length);
        case RestVerdict::NoAnswer:
        case RestVerdict::ErrorAnswer:
            m_io.Delete(rest);
            if (!IsStopping()) {
                Failed(facts.httpStatus == 0 ? WaitReason::NoAnswer : WaitReason::ServerError,
                       item.szName, facts.httpStatus);
            }
            return false;
        case RestVerdict::Refused:
            m_io.Delete(rest);
            DropPiece(kept);
            if (!IsStopping()) Failed(WaitReason::Incomplete, item.szName, facts.httpStatus);
            return false;
    }
    return false;
}

bool UpdateRun::TakeWholePiece(const ItemPaths& paths, const UpdateItem& item,
                               PieceRecord& kept) {
    char whole[kPathSize];
    ULONGLONG size = 0;
    if (!PiecePath(kept.file, whole) || !m_io.FileSize(whole, &size)) return false;
    // Whole again: only today's verdict on the joined file lets it in.
    if (!IsWholeDownload(JoinedFacts(kept.piece, size, item.dwSize))) {
        DropPiece(kept);
        if (!IsStopping()) Failed(WaitReason::Incomplete, item.szName);
        return false;
    }
    // A stop keeps the whole piece listed: the next attempt, or the next run, takes it.
    if (IsStopping()) return false;
    if (!IsSigned(whole, item)) {
        DropPiece(kept);
        return false;
    }
    if (!TakeDownload(whole, paths, item)) return false;
    ForgetPiece(kept);
    return true;
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
    char folder[kPathSize], index[kPathSize];
    if (!PiecePath("", folder) || !PiecePath(kPieceIndexName, index)) return;
    std::string text;
    m_io.ReadText(index, &text);
    for (const PieceRecord& record : ParsePieceIndex(text)) {
        char piece[kPathSize];
        bool listed = false;
        for (WORD i = 0; i < m_nItemCount && !listed; ++i) {
            ItemPaths paths;
            listed =
                BuildItemPaths(m_strInstallDir, m_header.szServerUrl, m_pItems[i].szName, paths) &&
                PieceBelongs(record, m_pItems[i], paths.url);
        }
        ULONGLONG size = 0;
        if (listed && PiecePath(record.file, piece) && m_io.FileSize(piece, &size) &&
            size == record.piece.length)
            m_pieces.push_back(record);
    }
    // Every other file of ours goes: pieces of items no longer listed or not what the index
    // says, lines the index refused, a download a killed run left arriving, and everything an
    // index that could not be read listed. So pieces never pile up.
    for (const std::string& file : m_io.FilesLike(folder, kUpdaterFilePattern)) {
        if (file == kPieceIndexName) continue;
        if (std::none_of(m_pieces.begin(), m_pieces.end(),
                         [&](const PieceRecord& r) { return r.file == file; })) {
            char path[kPathSize];
            if (PiecePath(file, path)) m_io.Delete(path);
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

void UpdateRun::ForgetPiece(const PieceRecord& record) {
    m_pieces.erase(m_pieces.begin() + (&record - m_pieces.data()));
    SavePieces();
}

void UpdateRun::DropPiece(const PieceRecord& record) {
    char piece[kPathSize];
    if (PiecePath(record.file, piece)) m_io.Delete(piece);
    ForgetPiece(record);
}

UpdateRun::ItemOutcome UpdateRun::InstallArchive(const char* archive, const UpdateItem& item,
                                                 ItemState& state) {
    ZipResult why = ZipOk;
    std::unique_ptr<UpdateArchive> zip = m_io.OpenArchive(archive, m_strInstallDir, &why);
    if (!zip) {
        // A whole download that is no archive is the operator's to fix: it is dropped
        // unrecorded. One that could not be opened or read here (held by another program,
        // a disk that failed to read) waits: only an archive that was opened and judged is
        // ever done.
        if (!IsNoArchive(why)) return Failed(WaitReason::InUse, item.szName);
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
