#include "UpdateRun.h"

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

// For the length of one download: makes it the one RequestStop aborts, and aborts it when
// nothing was heard from the server for the stall limit (a stalled server sends no progress
// report, so the callback alone could never stop it).
class UpdateRun::ActiveDownload {
public:
    ActiveDownload(UpdateRun& run, DownloadStatusCallback& callback)
        : m_run(run), m_callback(callback), m_done(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        {
            std::lock_guard<std::mutex> hold(m_run.m_activeLock);
            m_run.m_pActive = &m_callback;
        }
        // Without a watcher the download runs unwatched: the stop still aborts it.
        if (m_done.IsValid()) m_watch.Reset(CreateThread(nullptr, 0, &Watch, this, 0, nullptr));
    }
    ~ActiveDownload() {
        if (m_watch.IsValid()) {
            SetEvent(m_done);
            WaitForSingleObject(m_watch, INFINITE);
        }
        std::lock_guard<std::mutex> hold(m_run.m_activeLock);
        m_run.m_pActive = nullptr;
    }
    ActiveDownload(const ActiveDownload&) = delete;
    ActiveDownload& operator=(const ActiveDownload&) = delete;

private:
    static DWORD WINAPI Watch(LPVOID self) {
        auto* me = static_cast<ActiveDownload*>(self);
        while (WaitForSingleObject(me->m_done, kStallLookMs) == WAIT_TIMEOUT) {
            me->m_callback.AbortIfStalled(GetTickCount64(), me->m_run.m_dwStallMs);
        }
        return 0;
    }

    UpdateRun& m_run;
    DownloadStatusCallback& m_callback;
    ScopedHandle m_done;
    ScopedHandle m_watch;
};

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
      m_stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    std::memset(m_szStatus, 0, sizeof m_szStatus);
    std::memset(&m_header, 0, sizeof m_header);
}

UpdateRun::~UpdateRun() { delete[] m_pItems; }

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
    m_dwProgress = progress;
    m_dwProgressMax = progressMax;
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
    UpdateItem& item = m_pItems[m_nCurrentItem];
    ItemState& state = m_state[m_nCurrentItem];

    ItemPaths paths;
    if (!BuildItemPaths(m_strInstallDir, m_header.szServerUrl, item.szName, paths)) {
        // An entry that cannot be placed inside the installation folder ends the run
        // unfinished: no version is stored and nothing is started.
        m_bStop = TRUE;
        return;
    }

    if (state.downloaded && !m_io.FileExists(paths.download)) state = ItemState();
    if (!state.downloaded) {
        m_io.MakeFolder(paths.downloadFolder);
        char status[kStatusLineSize];
        FormatStatusLine(item.szName, status);
        SetStatusLine(status);
        if (!Download(paths.url, paths.download, item)) return;
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

DownloadFacts UpdateRun::Fetch(const char* url, const char* path) {
    DownloadStatusCallback callback;
    callback.SetOwner(this);
    ActiveDownload active(*this, callback);
    return m_io.Download(url, path, callback);
}

bool UpdateRun::Download(const char* url, const char* path, const UpdateItem& item) {
    DownloadFacts facts = Fetch(url, path);
    facts.recordSize = item.dwSize;
    const DownloadVerdict verdict = JudgeDownload(facts);
    // A download may end after the close command asked it to stop (the moniker does not
    // always give up at the first E_ABORT): what was asked to stop is not installed.
    if (!IsStopping() && verdict == DownloadVerdict::Whole) return true;
    m_io.Delete(path);
    if (!IsStopping()) {
        const bool folderInTheWay = IsFolderAttributes(m_io.Attributes(path));
        Failed(WaitForDownload(verdict, facts.stalled, folderInTheWay), item.szName,
               facts.httpStatus);
    }
    return false;
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
