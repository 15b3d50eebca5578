// One attempt at the whole download of one listed item: fresh, or the rest of the piece
// kept of it; judged as any answer (DownloadCheck.h), kept as a piece when cut short
// (DownloadPiece.h), checked against the release manifest when the installation has a key,
// and moved to the item's download path only when whole. Every download arrives in
// DownLoad\ under a piece's name, so a partial file never lies under a listed name. The
// item in turn and the items fetched ahead of it are fetched alike; what an attempt came
// to goes back to its caller, who decides what the run waits for.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <vector>

#include "DownloadStatusCallback.h"
#include "InstallPaths.h"
#include "PieceStore.h"
#include "ReleaseManifest.h"
#include "StatusLine.h"
#include "UpdateIo.h"

struct ByEntries;

// What one attempt came to.
struct Attempt {
    bool whole = false;                 // the item lies whole at its download path
    WaitReason why = WaitReason::None;  // otherwise what the next attempt waits for (None
                                        // after a stop)
    DWORD status = 0;                   // the answer's status, for WaitReason::ServerError
    bool grew = false;                  // a kept piece grew: the next attempt may come soon
    // An archive fetched by entries (EntryFetch.h): what lies at the download path holds
    // only the entries that differ, and this says what to make of the others. Null for a
    // whole download.
    std::shared_ptr<const ByEntries> byEntries;
};

// What a failed download waits for: the verdict's reason, a stall being the server's
// silence.
WaitReason WaitForDownload(DownloadVerdict verdict, bool stalled);

// Who hears a download: its progress, and whether to stop.
class FetchListener : public DownloadListener {
public:
    // A download starts: of the whole file, or (piece) of what follows piece; then ends.
    virtual void Starting(const Piece* piece) = 0;
    virtual void Ended() = 0;
    // The installed files an archive writes are being compared with its entries (on), or
    // that is over (off).
    virtual void Comparing(bool on) { (void)on; }

protected:
    ~FetchListener() = default;
};

// The downloads running in a run, for a stop and the stall watcher to abort. Safe from any
// thread.
class ActiveDownloads {
public:
    void Add(DownloadStatusCallback* callback);
    void Remove(DownloadStatusCallback* callback);
    void AbortAll();
    // Aborts each download nothing was heard from for stallMs by now.
    void AbortStalled(ULONGLONG now, ULONGLONG stallMs);

private:
    std::mutex m_lock;
    std::vector<DownloadStatusCallback*> m_running;
};

// What an attempt acts through.
struct FetchContext {
    UpdateIo& io;
    PieceStore& pieces;
    ActiveDownloads& active;
    FetchListener& listener;
    bool keyed;  // the installation has a release key: only what manifest lists is taken
    std::shared_ptr<const ReleaseManifest> manifest;  // the release accepted, if any
    // Archives may be fetched by entries (EntryFetch.h), compared with what lies below
    // installDir, with up to atOnce ranges at once.
    bool byEntries = false;
    const char* installDir = "";
    unsigned atOnce = 1;
};

// A part of the file asked for instead of the whole: bytes first to last (last kToTheEnd:
// to its end), only if still the version validator names when it names one; or (suffix)
// its last `first` bytes. With onlyPart, an answer other than a 206 is aborted at once.
struct PartAsked {
    bool suffix = false;
    ULONGLONG first = 0, last = 0;
    std::string validator;
    bool onlyPart = false;
};

constexpr ULONGLONG kNoLimit = ~0ull;

// One download of url to path, heard by the context's listener and abortable through its
// active downloads: with a piece, only what follows it is asked for (from its length on, if
// still its version); past limit bytes of the whole file (kNoLimit: none; 0: at the first
// byte) it is aborted. The facts,
// recordSize left 0; no verdict is passed: whatever arrived stays at path.
// observer (null: nobody) hears where the bytes arrive.
// part (null: none), when no piece is given, asks for that part.
DownloadFacts FetchOnce(const FetchContext& context, const char* url, const char* path,
                        const Piece* piece = nullptr, ULONGLONG limit = kNoLimit,
                        ArrivalObserver* observer = nullptr, const PartAsked* part = nullptr);

// From this size on, a signed download is hashed while it arrives (ArrivingHash.h): a
// thread for a smaller one costs more than reading it again.
constexpr ULONGLONG kHashWhileArriving = 1 << 20;

// Whether items[index] is listed under the same name (as Windows compares names: case not
// told) by one of items[from, index): two downloads of one name would share its download
// path and its piece.
bool ListedBefore(const UpdateItem* items, WORD from, WORD index);

// One attempt at item, whose paths are paths, whole to paths.download.
Attempt FetchItem(const FetchContext& context, const ItemPaths& paths, const UpdateItem& item);
