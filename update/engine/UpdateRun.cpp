#include "UpdateRun.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

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
const char kManifestShownAs[] = "发布清单";

}  // namespace

WaitReason WaitForManifest(ManifestFault fault) {
    switch (fault) {
        case ManifestFault::BadSignature:
            return WaitReason::BadSignature;
        case ManifestFault::OlderSerial:
            return WaitReason::OlderRelease;
        case ManifestFault::Expired:
            return WaitReason::Expired;
        case ManifestFault::OtherVersions:
            return WaitReason::OtherVersions;
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

unsigned DownloadsAhead(const char* configFile) {
    const UINT ahead =
        GetPrivateProfileIntA("Setting", "DownloadsAhead", kDefaultDownloadsAhead, configFile);
    return ahead < kMostDownloadsAhead ? ahead : kMostDownloadsAhead;
}

// Hears a download of an item ahead of its turn: every byte counts for the speed line, and
// the bar shows it once the item's turn has come and the run waits for it.
class UpdateRun::AheadListener : public FetchListener {
public:
    AheadListener(UpdateRun& run, WORD index) : m_run(run), m_index(index) {}
    bool IsStopping() const override { return m_run.IsStopping(); }
    void SetProgress(DWORD progress, DWORD progressMax) override {
        m_share.Report(m_run, progress, progressMax, m_run.CurrentItem() == m_index);
    }
    void Starting(const Piece* piece) override { m_share.Start(piece); }
    void Ended() override {}
    void Comparing(bool on) override {
        if (m_run.CurrentItem() == m_index) m_run.Comparing(on);
    }

private:
    UpdateRun& m_run;
    WORD m_index;
    DownloadShare m_share;
};

// The pieces of the list's items up to a given one.
class UpdateRun::ListFilter : public PieceFilter {
public:
    ListFilter(const UpdateRun& run, WORD upTo) : m_run(run), m_upTo(upTo) {}
    bool Keeps(const PieceRecord& record) const override {
        return m_run.BelongsToList(record, m_upTo);
    }

private:
    const UpdateRun& m_run;
    WORD m_upTo;
};

void UpdateRun::StartStallWatcher() {
    // One thread for the whole run: a thread started for each download costs a few
    // milliseconds a file, which a release of many small files feels.
    std::lock_guard<std::mutex> hold(m_watcherLock);
    if (m_stallWatcher.IsValid() || !m_watcherEnd.IsValid()) return;
    m_stallWatcher.Reset(CreateThread(nullptr, 0, &WatchForStalls, this, 0, nullptr));
}

// A stalled server sends no progress report, so the callback alone could never stop it:
// a running download is aborted when nothing was heard from it for the stall limit.
// Without this thread downloads run unwatched; the stop still aborts them.
DWORD WINAPI UpdateRun::WatchForStalls(LPVOID self) {
    auto* run = static_cast<UpdateRun*>(self);
    while (WaitForSingleObject(run->m_watcherEnd, kStallLookMs) == WAIT_TIMEOUT)
        run->m_active.AbortStalled(GetTickCount64(), run->m_dwStallMs);
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
      m_pieces(m_io),
      m_dwStallMs(kDefaultStallSeconds * 1000),
      m_stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_watcherEnd(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_bByEntries(io == nullptr) {
    std::memset(m_szStatus, 0, sizeof m_szStatus);
    std::memset(&m_header, 0, sizeof m_header);
}

UpdateRun::~UpdateRun() {
    // Whatever is still fetched ahead ends before what it uses goes.
    if (m_ahead) {
        m_bStop = TRUE;
        m_active.AbortAll();
        m_ahead->WaitAll();
        m_ahead.reset();
    }
    m_ownWorkers.reset();
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
    // The key is the installation's, wherever the lobby started the updater from: a
    // configuration in another working folder must not turn signing off.
    SetInstalledKey(m_io.ReadInstalledKey(m_strInstallDir));
    const unsigned ahead = DownloadsAhead(kConfigFile);
    // Windows lets a process hold only a few connections to one server (fewer still to an
    // HTTP/1.0 one): the downloads ahead would wait for each other.
    if (ahead != 0) AllowConnectionsPerServer(MostAtOnce(ahead) + 2);
    SetDownloadsAhead(ahead);
    return true;
}

void UpdateRun::SetInstalledKey(const InstalledKey& installed) {
    m_key = ChooseKey(installed);
    m_highestSerial = m_key.use == KeyUse::Signed ? installed.highestSerial : 0;
    std::lock_guard<std::mutex> hold(m_manifestLock);
    m_manifest.reset();
}

bool UpdateRun::AcceptedRelease(DWORD* serial) const {
    *serial = m_highestSerial;
    return m_key.use == KeyUse::Signed;
}

void UpdateRun::SetDownloadsAhead(unsigned ahead, AheadWorkers* workers) {
    m_nAhead = ahead;
    m_pAheadWorkers = workers;
}

void UpdateRun::SetList(const HandOverHeader& header, UpdateItem* items) {
    delete[] m_pItems;
    m_header = header;
    m_pItems = items;
    m_nItemCount = header.wCount;
    m_nCurrentItem = 0;
    m_state.assign(m_nItemCount, ItemState());
    std::lock_guard<std::mutex> hold(m_entriesLock);
    m_fetchedByEntries.assign(m_nItemCount, nullptr);
    m_wholeOnly.assign(m_nItemCount, false);
}

void UpdateRun::RequestStop() {
    m_bStop = TRUE;
    if (m_stopEvent.IsValid()) SetEvent(m_stopEvent);
    m_active.AbortAll();
}

void UpdateRun::ShowProgress(DWORD progress, DWORD progressMax) {
    m_dwProgress = progress;
    m_dwProgressMax = progressMax == 0 ? kUnknownDownloadSize : progressMax;
}

void UpdateRun::DownloadShare::Start(const Piece* piece) {
    m_last = 0;
    m_base = piece != nullptr ? static_cast<DWORD>(piece->length) : 0;
    m_total = piece != nullptr ? static_cast<DWORD>(piece->total) : 0;
}

void UpdateRun::DownloadShare::Report(UpdateRun& run, DWORD progress, DWORD progressMax,
                                      bool shown) {
    run.m_dwReceived += progress - m_last;
    m_last = progress;
    if (!shown) return;
    if (m_total != 0) {
        run.ShowProgress(m_base + progress, m_total);
    } else {
        run.ShowProgress(progress, progressMax);
    }
}

void UpdateRun::SetProgress(DWORD progress, DWORD progressMax) {
    m_share.Report(*this, progress, progressMax, true);
}

void UpdateRun::Starting(const Piece* piece) {
    StartStallWatcher();
    m_share.Start(piece);
    // The bar starts at the piece's share.
    if (piece != nullptr) SetProgress(0, 0);
}

void UpdateRun::Ended() { m_share.End(); }

void UpdateRun::Comparing(bool on) {
    if (m_nCurrentItem >= m_nItemCount) return;
    char status[kStatusLineSize];
    const char* name = m_pItems[m_nCurrentItem].szName;
    if (on) {
        FormatCompareLine(name, status);
    } else {
        FormatStatusLine(name, status);
    }
    SetStatusLine(status);
}

void UpdateRun::AdvanceSpeedBase(DWORD base, DWORD received) {
    m_dwSpeedBase.compare_exchange_strong(base, received);
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
    // What lies ahead takes the room the item in turn needs.
    if (why == WaitReason::DiskFull) FreeWhatLiesAhead();
    ++m_nFailures;
    FormatWaitLine(why, status, FileNamePart(name), m_szWaitLine);
    return ItemOutcome::Retry;
}

void UpdateRun::Progressed(const UpdateItem& item) {
    m_nFailures = 0;
    Failed(WaitReason::Incomplete, item.szName);
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
    const WORD current = m_nCurrentItem;
    UpdateItem& item = m_pItems[current];
    ItemState& state = m_state[current];

    ItemPaths paths;
    char piece[kPathSize];
    if (!PathsOf(current, paths) || !m_pieces.PathOf(PieceFileName(0xFFFFFFFFu), piece)) {
        // An entry that cannot be placed inside the installation folder ends the run
        // unfinished: no version is stored and nothing is started.
        m_bStop = TRUE;
        return;
    }
    m_io.MakeFolder(paths.downloadFolder);
    // Threads only for what there is to fetch ahead: none for a list of one item. The item in
    // turn was mostly fetched ahead too, on one of them: a thread of its own only divided the
    // player's line among more downloads (measured: docs/performance.md).
    const unsigned later = static_cast<unsigned>(m_nItemCount - current - 1);
    if (m_nAhead != 0 && !m_ahead && later != 0) {
        if (m_pAheadWorkers == nullptr) {
            const unsigned most = MostAtOnce(m_nAhead);
            m_ownWorkers.reset(new AheadThreads(most < later ? most : later));
            m_pAheadWorkers = m_ownWorkers.get();
        }
        std::vector<DWORD> sizes(m_nItemCount);
        for (WORD i = 0; i < m_nItemCount; ++i) sizes[i] = m_pItems[i].dwSize;
        m_ahead.reset(new FetchAhead(m_nAhead, std::move(sizes), *m_pAheadWorkers, *this));
        // Nothing is fetched past an item that cannot be placed: the run ends there.
        m_nPlaceable = current;
        for (ItemPaths ahead; m_nPlaceable < m_nItemCount && PathsOf(m_nPlaceable, ahead);)
            ++m_nPlaceable;
    }
    if (state.downloaded && !StillWhole(item, paths)) state = ItemState();
    if (!state.downloaded) {
        char status[kStatusLineSize];
        FormatStatusLine(item.szName, status);
        SetStatusLine(status);
    }
    // While the item's own fetch ahead runs, the window shows it as the item in turn.
    if (m_ahead) {
        m_ahead->Plan(static_cast<WORD>(current + 1), m_nPlaceable);
        if (m_ahead->Finish(current)) {
            state.downloaded = StillWhole(item, paths);
            std::lock_guard<std::mutex> hold(m_entriesLock);
            state.byEntries = std::move(m_fetchedByEntries[current]);
        }
    }
    if (!state.downloaded) {
        const Attempt attempt = FetchItem(Context(*this, current), paths, item);
        if (!attempt.whole) {
            Settle(attempt, item);
            return;
        }
        state.downloaded = true;
        state.byEntries = attempt.byEntries;
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
            break;
        }
        case ItemOutcome::Retry:
        case ItemOutcome::Stopped:
            break;
    }
}

void UpdateRun::Settle(const Attempt& attempt, const UpdateItem& item) {
    if (IsStopping()) return;
    // The manifest may be what is wrong (a mirror's stale one): it is fetched again.
    if (attempt.why == WaitReason::NotSigned) {
        std::lock_guard<std::mutex> hold(m_manifestLock);
        m_manifest.reset();
    }
    if (attempt.grew) {
        Progressed(item);
    } else {
        Failed(attempt.why, item.szName, attempt.status);
    }
}

bool UpdateRun::StillWhole(const UpdateItem& item, const ItemPaths& paths) {
    ULONGLONG size = 0;
    if (!m_io.FileSize(paths.download, &size)) return false;
    // Signed, it was hashed at this size when it came: another size is another file.
    const std::shared_ptr<const ReleaseManifest> manifest = Manifest();
    if (m_key.use != KeyUse::Signed) return true;
    const ManifestFile* listed =
        manifest != nullptr ? FindInManifest(*manifest, item.szName) : nullptr;
    if (listed != nullptr && listed->size == size) return true;
    m_io.Delete(paths.download);
    return false;
}

bool UpdateRun::PathsOf(WORD index, ItemPaths& paths) const {
    return BuildItemPaths(m_strInstallDir, m_header.szServerUrl, m_pItems[index].szName, paths);
}

FetchContext UpdateRun::Context(FetchListener& listener, WORD index) {
    bool byEntries = m_bByEntries;
    if (index < m_nItemCount) {
        std::lock_guard<std::mutex> hold(m_entriesLock);
        byEntries = byEntries && !m_wholeOnly[index];
    }
    return FetchContext{m_io,
                        m_pieces,
                        m_active,
                        listener,
                        m_key.use == KeyUse::Signed,
                        Manifest(),
                        byEntries,
                        m_strInstallDir,
                        m_nAhead != 0 ? m_nAhead : 1};
}

std::shared_ptr<const ReleaseManifest> UpdateRun::Manifest() const {
    std::lock_guard<std::mutex> hold(m_manifestLock);
    return m_manifest;
}

DownloadFacts UpdateRun::Fetch(const char* url, const char* path, const Piece* piece,
                               ULONGLONG limit) {
    return FetchOnce(Context(*this), url, path, piece, limit);
}

bool UpdateRun::FetchAheadOf(WORD index) {
    AheadListener listener(*this, index);
    ItemPaths paths;
    // A name listed twice has one download path and one piece: its later listing waits for
    // its turn, when the earlier one is in place.
    if (!PathsOf(index, paths) || ListedBefore(m_pItems, m_nCurrentItem, index)) return false;
    const Attempt attempt = FetchItem(Context(listener, index), paths, m_pItems[index]);
    // A full disk stops fetching ahead: the item in turn comes first.
    if (attempt.why == WaitReason::DiskFull) m_ahead->Stop();
    if (attempt.whole) {
        std::lock_guard<std::mutex> hold(m_entriesLock);
        m_fetchedByEntries[index] = attempt.byEntries;
    }
    return attempt.whole;
}

void UpdateRun::FreeWhatLiesAhead() {
    if (!m_ahead) return;
    m_ahead->Stop();
    const WORD current = m_nCurrentItem;
    // Downloads ahead that run still are ended; what they keep goes below.
    m_active.AbortAll();
    for (const WORD index : m_ahead->WholeAfter(current)) {
        ItemPaths paths;
        if (PathsOf(index, paths)) m_io.Delete(paths.download);
    }
    m_pieces.DropUnless(ListFilter(*this, current));
}

bool UpdateRun::HaveRelease() {
    // A configuration that could not be read may be readable after the pause.
    if (m_key.use == KeyUse::Wait && m_key.why == WaitReason::KeyUnreadable && m_nFailures != 0)
        SetInstalledKey(m_io.ReadInstalledKey(m_strInstallDir));
    switch (m_key.use) {
        case KeyUse::Unsigned:
            return true;
        case KeyUse::SigningEnds:
            m_io.ForgetPinnedRelease();
            m_key.use = KeyUse::Unsigned;
            return true;
        case KeyUse::Wait:
            // A key is held or meant: nothing may be taken unsigned.
            Failed(m_key.why, "UpdateConfig.txt");
            return false;
        case KeyUse::Signed:
            break;
    }
    return Manifest() != nullptr || FetchManifest();
}

bool UpdateRun::FetchManifest() {
    char url[kPathSize], folder[kPathSize], arrive[kPathSize];
    const std::string arriving = m_pieces.Reserve();
    if (!JoinPath(url, {m_header.szServerUrl, "Torvel\\", kReleaseManifestName}) ||
        !m_pieces.PathOf("", folder) || !m_pieces.PathOf(arriving, arrive)) {
        // As for a listed name that cannot be placed: the run ends unfinished.
        m_bStop = TRUE;
        return false;
    }
    m_io.MakeFolder(folder);
    char status[kStatusLineSize];
    FormatStatusLine(kManifestShownAs, status);
    SetStatusLine(status);
    m_io.Delete(arrive);
    const DownloadFacts facts = Fetch(url, arrive, nullptr, kMaxManifestBytes);
    std::string text;
    const bool whole = IsWholeDownload(facts) && m_io.ReadText(arrive, &text);
    m_io.Delete(arrive);
    m_pieces.Release(arriving);
    if (IsStopping()) return false;
    if (!whole) {
        Failed(WaitForDownload(JudgeDownload(facts), facts.stalled), kManifestShownAs,
               facts.httpStatus);
        return false;
    }
    std::shared_ptr<ReleaseManifest> manifest(new ReleaseManifest);
    const ManifestFault fault =
        VerifyManifest(text, m_key.key,
                       {m_highestSerial, m_header.dwFileVersion1, m_header.dwFileVersion2,
                        m_io.UtcNow()},
                       manifest.get());
    if (fault != ManifestFault::None) {
        Failed(WaitForManifest(fault), kManifestShownAs);
        return false;
    }
    // The floor rises now, not when the run completes: a run that never completes must not
    // leave an older release acceptable, to a later run or to this one's next fetch. Should
    // the pin fail, the completion stores the serial again.
    m_highestSerial = manifest->serial;
    m_io.PinRelease(m_key.key, m_highestSerial);
    std::lock_guard<std::mutex> hold(m_manifestLock);
    m_manifest = std::move(manifest);
    return true;
}

bool UpdateRun::BelongsToList(const PieceRecord& record, WORD upTo) const {
    for (WORD i = 0; i < m_nItemCount && i <= upTo; ++i) {
        ItemPaths paths;
        if (PathsOf(i, paths) && PieceBelongs(record, m_pItems[i], paths.url))
            return true;
    }
    return false;
}

void UpdateRun::LoadPieces() {
    m_bPiecesLoaded = true;
    if (!m_pieces.SetFolder(m_strInstallDir)) return;
    m_pieces.Load(ListFilter(*this, 0xFFFF));
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
    // Fetched by entries: the entries not fetched are settled first, once.
    if (state.byEntries && state.entries.empty() &&
        (zip->Count() != state.byEntries->count ||
         !SettleKeptEntries(*state.byEntries, m_io, state.entries))) {
        zip.reset();
        return FetchWholeFromNowOn(m_nCurrentItem, archive, state);
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
            // Its damage may be ours: only the server's whole archive can tell.
            if (state.byEntries) return FetchWholeFromNowOn(m_nCurrentItem, archive, state);
            m_io.Delete(archive);
            return ItemOutcome::Done;
        case ArchiveVerdict::InPlace:
            break;
    }
    // A record the lobby or a player made read-only would otherwise hold the run for ever.
    if (!LiftReadOnly(m_io, kRecordFile) || !m_io.WriteRecord(item))
        return Failed(WhyNotWritten(m_io, kRecordFile, WaitReason::InUse), kRecordFile);
    m_io.Delete(archive);
    return ItemOutcome::Done;
}

UpdateRun::ItemOutcome UpdateRun::FetchWholeFromNowOn(WORD index, const char* download,
                                                      ItemState& state) {
    m_io.Delete(download);
    state = ItemState();
    {
        std::lock_guard<std::mutex> hold(m_entriesLock);
        m_wholeOnly[index] = true;
    }
    return Failed(WaitReason::Incomplete, m_pItems[index].szName);
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
    return Failed(WhyNotWritten(m_io, target, WaitReason::InUse),
                  item.szName);
}
