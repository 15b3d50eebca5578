// One update run: the hand-over header, the update list and what the worker keeps for the
// window (status line, progress counters, stop flag). The worker thread calls
// DownloadNextItem until IsStopping(); the window only reads.
//
// An item is done only when it is in place: a plain file moved into the installation
// folder (the updater's own "Update.exe" left whole in DownLoad\), an archive once every
// entry it should write is written and its "UpdateClient.txt" section is stored. Every
// download arrives in DownLoad\ under a piece's name and is moved to its listed name only
// when whole. Whatever is not in place is tried again after a pause that grows from 1 s to
// 30 s, during which the status line says what the run waits for; a download that was whole
// is kept for that, so only what is missing is done again, and one cut short is kept as a
// piece whose rest the next attempt (or the next run) asks for (DownloadPiece.h). The one
// exception is damage in an archive that came whole (no archive at all, a damaged
// directory, entries whose data or record is damaged): retrying cannot mend it, so the
// damaged entries are skipped, their old files kept, and once the rest is in place the
// archive is dropped unrecorded and the run goes on. An archive the disk could not read, or
// another program held, is no damage: it waits.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "ArchiveInstall.h"
#include "DownloadPiece.h"
#include "DownloadStatusCallback.h"
#include "EntryFetch.h"
#include "FetchAhead.h"
#include "HandOver.h"
#include "InstallPaths.h"
#include "ItemFetch.h"
#include "KeyInForce.h"
#include "PieceStore.h"
#include "ReleaseManifest.h"
#include "Scoped.h"
#include "StatusLine.h"
#include "String.h"
#include "UpdateIo.h"
#include "Zip.h"

// The pause before the next attempt after this many failures in a row: 0 for none, then
// 1 s, doubling up to 30 s.
DWORD RetryDelayMs(unsigned failures);

// The total the window's bar stands for while a download announced none.
constexpr DWORD kUnknownDownloadSize = 100000;

// What a failed release manifest waits for.
WaitReason WaitForManifest(ManifestFault fault);

// The stall limit from "DownloadStallSeconds" of section "Setting" of configFile: 30 s by
// default and for values outside 1 to 3600.
DWORD StallLimitMs(const char* configFile);

// How many items are fetched ahead of the one in turn: "DownloadsAhead" of section
// "Setting" of configFile, kDefaultDownloadsAhead by default, at most kMostDownloadsAhead;
// 0 fetches one item at a time. Small items are fetched more at once (ItemsAhead).
constexpr unsigned kDefaultDownloadsAhead = 4;
constexpr unsigned kMostDownloadsAhead = 8;
unsigned DownloadsAhead(const char* configFile);

class UpdateRun : public FetchListener, private AheadFetcher {
public:
    // A run that acts through io (null: the system's own), which must outlive it.
    explicit UpdateRun(UpdateIo* io = nullptr);
    ~UpdateRun();
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // Reads and consumes "~Update.tmp" into the header and the list (SetList), and reads
    // the stall limit, the number of downloads ahead and what the installation holds of its
    // release key (SetInstalledKey, from the installation folder SetInstallDir named before).
    // False when the file is missing, unreadable or malformed (see ReadHandOver).
    bool ReadHandOverFile();
    // What the installation holds of its key, which decides the run's (ChooseKey). With a key,
    // the run first fetches the release manifest and accepts it only when its signature
    // holds, it was signed for the hand-over file's versions, its serial is not below the
    // highest accepted before (in this run or an earlier one) and it has not expired; the key
    // and the serial are pinned at once. An item is then fetched only when the manifest lists
    // it, and moved or unpacked only when its size and SHA-256 are the manifest's. When no key
    // can be read although one is held, nothing is installed. Whatever fails waits and is
    // tried again; a configuration that could not be read is read again then.
    void SetInstalledKey(const InstalledKey& installed);
    // With a key: true, and the highest serial of the manifests this run accepted (to store
    // once the run is complete). Without one: false.
    bool AcceptedRelease(DWORD* serial) const;
    // Fetches up to ahead items after the one in turn at once, on workers (null: threads of
    // the run's own). Before the first step.
    void SetDownloadsAhead(unsigned ahead, AheadWorkers* workers = nullptr);
    // Whether archives are fetched by entries (EntryFetch.h) when that pays: yes in a run
    // that acts through the system's own world, no in another unless this says so.
    void SetFetchByEntries(bool byEntries) { m_bByEntries = byEntries; }

    // Takes header.wCount entries of items (array new, or null for none) as the list.
    void SetList(const HandOverHeader& header, UpdateItem* items);

    // One step, on the worker thread: waits out the pause after a failure, then downloads
    // (unless a whole download is kept) and installs the current entry, moving on only
    // when it is in place; sets the stop flag when the list is exhausted or an entry cannot
    // be placed inside the installation folder.
    void DownloadNextItem();

    // One download attempt of url to path, as the step makes it (FetchOnce): progress into
    // this run, aborted by RequestStop or after the stall limit.
    DownloadFacts Fetch(const char* url, const char* path, const Piece* piece = nullptr,
                        ULONGLONG limit = kNoLimit);

    // Any thread: ends the run at once (every running download is aborted, a pause cut
    // short, an archive left between two entries).
    void RequestStop();
    bool IsStopping() const override { return m_bStop.load() != 0; }
    bool IsRunComplete() const { return m_nCurrentItem == m_nItemCount; }

    // Progress of the item in turn's download: the bytes of its answer so far and what it
    // expects of it (0: unknown). The window's bar sees the whole file: a piece's bytes and
    // its total while the rest comes, kUnknownDownloadSize for a total nobody gave.
    void SetProgress(DWORD progress, DWORD progressMax) override;
    void Starting(const Piece* piece) override;
    void Ended() override;
    void Comparing(bool on) override;
    DWORD Progress() const { return m_dwProgress; }
    DWORD ProgressMax() const { return m_dwProgressMax; }
    // Every byte the run's downloads received, the item in turn's and those fetched ahead
    // (a counter that wraps), for the speed line; and the window's last sample of it.
    DWORD Received() const { return m_dwReceived; }
    DWORD SpeedBase() const { return m_dwSpeedBase; }
    void AdvanceSpeedBase(DWORD base, DWORD received);

    // Copies the status line as a whole (never half-written).
    void GetStatusLine(char (&out)[kStatusLineSize]) const;
    void SetStatusLine(const char (&line)[kStatusLineSize]);
    // While the run waits to try again: the GetTickCount at which it tries; 0 otherwise.
    DWORD RetryAt() const { return m_dwRetryAt; }

    const HandOverHeader& Header() const { return m_header; }
    void SetInstallDir(const char* folder) { m_strInstallDir = folder; }
    WORD CurrentItem() const { return m_nCurrentItem; }
    unsigned Failures() const { return m_nFailures; }

private:
    // Done: in place, or an archive the operator must fix (dropped unrecorded). Retry: try
    // what is missing again after the pause, from the kept download.
    enum class ItemOutcome { Done, Retry, Stopped };
    struct ItemState {
        bool downloaded = false;            // a whole download waits in DownLoad\ .
        std::vector<EntryVerdict> entries;  // an archive's entries, once opened
        std::shared_ptr<const ByEntries> byEntries;  // of an archive fetched by entries
    };
    // One download's share of the bar and of the bytes the run received: what its answer
    // brought so far, and while the rest of a piece comes, the piece's bytes and the whole
    // file's.
    class DownloadShare {
    public:
        void Start(const Piece* piece);
        void End() { m_base = m_total = 0; }
        // Counts progress into run's bytes received; shows it on the bar when shown.
        void Report(UpdateRun& run, DWORD progress, DWORD progressMax, bool shown);

    private:
        DWORD m_last = 0, m_base = 0, m_total = 0;
    };
    class AheadListener;
    class ListFilter;
    void StartStallWatcher();
    static DWORD WINAPI WatchForStalls(LPVOID self);

    // With a key, an accepted manifest: fetched and verified when the run has none. False
    // (and the reason kept for the pause) when there is none to go by.
    bool HaveRelease();
    bool FetchManifest();
    std::shared_ptr<const ReleaseManifest> Manifest() const;
    // Whether the whole download kept for item still lies at its download path as it came
    // (signed: at the size the manifest lists; otherwise it is removed).
    bool StillWhole(const UpdateItem& item, const ItemPaths& paths);
    // Item index's paths (InstallPaths.h); false when it cannot be placed.
    bool PathsOf(WORD index, ItemPaths& paths) const;
    FetchContext Context(FetchListener& listener, WORD index = 0xFFFF);
    // An archive fetched by entries that did not settle: it comes whole from now on.
    ItemOutcome FetchWholeFromNowOn(WORD index, const char* download, ItemState& state);
    // Acts on an attempt of the item in turn that did not leave it whole.
    void Settle(const Attempt& attempt, const UpdateItem& item);
    // On a worker: fetches item index ahead of its turn; true when it left it whole.
    bool FetchAheadOf(WORD index) override;
    // A full disk: fetching ahead stops, and what it fetched for later items goes.
    void FreeWhatLiesAhead();
    // The pieces kept by an earlier run: those of this list's items stay, every other file
    // of ours in DownLoad\ goes.
    void LoadPieces();
    bool BelongsToList(const PieceRecord& record, WORD upTo) const;
    ItemOutcome InstallArchive(const char* archive, const UpdateItem& item, ItemState& state);
    ItemOutcome InstallPlainFile(const char* download, const char* target, const UpdateItem& item);
    // Counts a failed attempt and keeps what the pause before the next one waits for.
    ItemOutcome Failed(WaitReason why, const char* name, DWORD status = 0);
    // A piece grew: the next attempt comes after the shortest pause.
    void Progressed(const UpdateItem& item);
    bool WaitBeforeRetry();
    void ShowProgress(DWORD progress, DWORD progressMax);

    UpdateIo& m_io;
    char m_szStatus[kStatusLineSize];
    std::atomic<DWORD> m_dwProgress;
    std::atomic<DWORD> m_dwProgressMax;
    std::atomic<DWORD> m_dwSpeedBase;
    std::atomic<DWORD> m_dwReceived{0};
    CString m_strInstallDir;
    HandOverHeader m_header;
    UpdateItem* m_pItems;
    WORD m_nItemCount;
    std::atomic<BOOL> m_bStop;
    std::atomic<WORD> m_nCurrentItem;

    mutable std::mutex m_statusLock;
    std::vector<ItemState> m_state;
    unsigned m_nFailures = 0;
    // What the last failure waits for, shown during the pause after it.
    char m_szWaitLine[kStatusLineSize] = {};
    std::atomic<DWORD> m_dwRetryAt{0};
    PieceStore m_pieces;
    bool m_bPiecesLoaded = false;
    DownloadShare m_share;  // of the item in turn's download
    DWORD m_dwStallMs;
    ScopedHandle m_stopEvent;  // set with m_bStop: ends a pause at once
    ActiveDownloads m_active;  // for RequestStop and the stall watcher
    ScopedHandle m_watcherEnd;                    // set when the run goes: ends the stall watcher
    ScopedHandle m_stallWatcher;                  // started with the first download
    std::mutex m_watcherLock;
    KeyChoice m_key;
    DWORD m_highestSerial = 0;  // the floor: the highest serial accepted, before or in this run
    mutable std::mutex m_manifestLock;
    std::shared_ptr<const ReleaseManifest> m_manifest;  // while the run goes by one
    unsigned m_nAhead = 0;
    bool m_bByEntries;
    std::mutex m_entriesLock;  // over the two below, which fetches ahead write
    std::vector<std::shared_ptr<const ByEntries>> m_fetchedByEntries;  // by item, until taken
    std::vector<bool> m_wholeOnly;                                     // by item
    WORD m_nPlaceable = 0;  // the items before the first that cannot be placed
    AheadWorkers* m_pAheadWorkers = nullptr;
    // Last, so that they go first: every fetch ahead ends before what it uses goes.
    std::unique_ptr<AheadThreads> m_ownWorkers;
    std::unique_ptr<FetchAhead> m_ahead;
};
