#include "ItemFetch.h"

#include <algorithm>
#include <memory>

#include "ArrivingHash.h"
#include "EntryFetch.h"

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

void ActiveDownloads::Add(DownloadStatusCallback* callback) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_running.push_back(callback);
}

void ActiveDownloads::Remove(DownloadStatusCallback* callback) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_running.erase(std::remove(m_running.begin(), m_running.end(), callback), m_running.end());
}

void ActiveDownloads::AbortAll() {
    std::lock_guard<std::mutex> hold(m_lock);
    for (DownloadStatusCallback* callback : m_running) callback->Abort();
}

void ActiveDownloads::AbortStalled(ULONGLONG now, ULONGLONG stallMs) {
    std::lock_guard<std::mutex> hold(m_lock);
    for (DownloadStatusCallback* callback : m_running) callback->AbortIfStalled(now, stallMs);
}

DownloadFacts FetchOnce(const FetchContext& context, const char* url, const char* path,
                        const Piece* piece, ULONGLONG limit, ArrivalObserver* observer,
                        const PartAsked* part) {
    DownloadStatusCallback callback;
    callback.SetOwner(&context.listener);
    callback.Observe(observer);
    callback.WatchFile(path);
    const ULONGLONG before = piece != nullptr ? piece->length : 0;
    if (limit != kNoLimit) callback.SetLimit(limit > before ? limit - before : 0);
    // A validator too long to send back is one the server could not be asked about: the
    // whole file comes, and JudgeRest sees a fresh answer.
    const bool rest = piece != nullptr && callback.AskFrom(piece->length, piece->validator);
    if (piece == nullptr && part != nullptr) {
        if (part->suffix) {
            callback.AskTail(part->first);
        } else {
            callback.AskRange(part->first, part->last, part->validator);
        }
        if (part->onlyPart) callback.OnlyPart();
    }
    context.listener.Starting(rest ? piece : nullptr);
    context.active.Add(&callback);
    // A stop that came before the download was listed would find nothing to abort.
    DownloadFacts facts;
    if (!context.listener.IsStopping()) facts = context.io.Download(url, path, callback);
    context.active.Remove(&callback);
    context.listener.Ended();
    return facts;
}

namespace {

class ItemFetch {
public:
    ItemFetch(const FetchContext& context, const ItemPaths& paths, const UpdateItem& item)
        : m_c(context), m_paths(paths), m_item(item) {}
    Attempt Run();

private:
    bool Stopping() const { return m_c.listener.IsStopping(); }
    void Wait(WaitReason why, DWORD status = 0) {
        if (Stopping()) return;
        m_attempt.why = why;
        m_attempt.status = status;
    }
    void TakeFresh(const DownloadFacts& facts, const std::string& arriving, ULONGLONG before);
    void GoOn(PieceRecord& kept, const std::string& arriving, const DownloadFacts& facts);
    void TakeWholePiece(const PieceRecord& kept);
    bool StorePiece(const DownloadFacts& facts, const std::string& file);
    bool IsSigned(const char* whole, bool encoded);
    bool Take(const char* whole);
    bool TriedEntries(const ManifestFile* listed);

    const FetchContext& m_c;
    const ItemPaths& m_paths;
    const UpdateItem& m_item;
    Attempt m_attempt;
    ArrivingHash* m_hash = nullptr;  // of a fresh download, while it lasts
    ULONGLONG m_hashedSize = 0;      // of the file IsSigned found signed
};

Attempt ItemFetch::Run() {
    // An item the release does not list is never fetched, let alone installed.
    const ManifestFile* listed =
        m_c.manifest != nullptr ? FindInManifest(*m_c.manifest, m_item.szName) : nullptr;
    if (m_c.keyed && listed == nullptr) {
        Wait(WaitReason::NotSigned);
        return m_attempt;
    }
    PieceRecord kept;
    bool haveKept = m_c.pieces.Claim(m_item, m_paths.url, &kept);
    struct Unclaim {
        PieceStore& pieces;
        const PieceRecord& kept;
        bool claimed;
        ~Unclaim() {
            if (claimed) pieces.Release(kept.file);
        }
    } unclaim{m_c.pieces, kept, haveKept};
    // A piece whose file went (an antivirus, a player clearing DownLoad\) or changed is no
    // piece: a rest joined to it would never be whole.
    char piece[kPathSize];
    ULONGLONG size = 0;
    if (haveKept && (!m_c.pieces.PathOf(kept.file, piece) || !m_c.io.FileSize(piece, &size) ||
                     size != kept.piece.length)) {
        m_c.pieces.Drop(kept.file);
        haveKept = false;
    }
    if (haveKept && kept.piece.length == kept.piece.total) {
        TakeWholePiece(kept);
        return m_attempt;
    }
    if (!haveKept && m_c.byEntries && IsZipName(m_item.szName) &&
        TailToAsk(listed != nullptr ? listed->size : m_item.dwSize) != 0 && TriedEntries(listed))
        return m_attempt;
    const std::string arriving = m_c.pieces.Reserve();
    char arrive[kPathSize];
    m_c.pieces.PathOf(arriving, arrive);
    m_c.io.Delete(arrive);
    // A rest is hashed with its piece once joined; a large fresh download as it arrives.
    std::unique_ptr<ArrivingHash> hash;
    if (!haveKept && listed != nullptr && listed->size >= kHashWhileArriving)
        hash.reset(new (std::nothrow) ArrivingHash);
    m_hash = hash.get();
    DownloadFacts facts = FetchOnce(m_c, m_paths.url, arrive, haveKept ? &kept.piece : nullptr,
                                    listed != nullptr ? listed->size : kNoLimit, m_hash);
    facts.recordSize = m_item.dwSize;
    if (haveKept) {
        GoOn(kept, arriving, facts);
    } else {
        TakeFresh(facts, arriving, 0);
    }
    return m_attempt;
}

// An archive's directory is asked for first. Any answer but a part of it is what asking for
// the whole file would have brought, and is taken as such; a part is gone on from by entries.
// False when the archive is to be fetched whole after all.
bool ItemFetch::TriedEntries(const ManifestFile* listed) {
    const std::string arriving = m_c.pieces.Reserve();
    char arrive[kPathSize];
    m_c.pieces.PathOf(arriving, arrive);
    m_c.io.Delete(arrive);
    PartAsked tail;
    tail.suffix = true;
    tail.first = TailToAsk(listed != nullptr ? listed->size : m_item.dwSize);
    DownloadFacts facts = FetchOnce(m_c, m_paths.url, arrive, nullptr,
                                    listed != nullptr ? listed->size : kNoLimit, nullptr, &tail);
    facts.recordSize = m_item.dwSize;
    if (!IsTailAnswer(facts)) {
        TakeFresh(facts, arriving, 0);
        return true;
    }
    const EntryResult result = FetchByEntries(m_c, m_paths, m_item, arrive, facts, false);
    m_c.io.Delete(arrive);
    m_c.pieces.Release(arriving);
    switch (result.step) {
        case EntryStep::Fetched:
            m_attempt.whole = true;
            m_attempt.byEntries = result.byEntries;
            return true;
        case EntryStep::Wait:
            Wait(result.why, result.status);
            return true;
        case EntryStep::Whole:
            break;
    }
    return Stopping();
}

bool ItemFetch::Take(const char* whole) {
    if (!m_c.io.Move(whole, m_paths.download)) {
        Wait(WhyNotWritten(m_c.io, m_paths.download, WaitReason::InUse));
        return false;
    }
    // What was hashed must be what lies there now: bytes appended after the hash (by
    // anything that still wrote to the file) would be installed unsigned.
    ULONGLONG size = 0;
    if (!m_c.keyed || (m_c.io.FileSize(m_paths.download, &size) && size == m_hashedSize))
        return true;
    m_c.io.Delete(m_paths.download);
    Wait(WaitReason::NotSigned);
    return false;
}

bool ItemFetch::IsSigned(const char* whole, bool encoded) {
    if (!m_c.keyed) return true;
    ULONGLONG size = 0;
    uint8_t digest[kSha256Bytes];
    // The hash taken as the bytes arrived followed the system's own copy of the answer: it
    // stands for the file only when that copy held exactly the file's bytes, which an answer
    // the system decoded (Content-Encoding) may not.
    bool hashed = m_hash != nullptr && !encoded && m_c.io.FileSize(whole, &size) &&
                  m_hash->Finish(size, digest);
    m_hash = nullptr;
    if (!hashed) hashed = m_c.io.HashFile(whole, &size, digest);
    m_hashedSize = size;
    if (m_c.manifest != nullptr && hashed &&
        MatchManifest(*m_c.manifest, m_item.szName, size, digest) == ItemMatch::Matches)
        return true;
    Wait(WaitReason::NotSigned);
    return false;
}

void ItemFetch::TakeFresh(const DownloadFacts& facts, const std::string& arriving,
                          ULONGLONG before) {
    char arrived[kPathSize];
    m_c.pieces.PathOf(arriving, arrived);
    const DownloadVerdict verdict = JudgeDownload(facts);
    // A download may end after the close command asked it to stop (the moniker does not
    // always give up at the first E_ABORT): what was asked to stop is not installed.
    if (verdict == DownloadVerdict::Whole && !Stopping()) {
        m_attempt.whole = IsSigned(arrived, facts.encoded) && Take(arrived);
        if (!m_attempt.whole) m_c.io.Delete(arrived);
        m_c.pieces.Release(arriving);
        return;
    }
    // What a stop or a dropped link cut short is kept, so that the next attempt, or the
    // next run, goes on from there.
    if (verdict != DownloadVerdict::Whole && IsKeepablePiece(facts) && StorePiece(facts, arriving)) {
        // Only more than was kept before is progress; a server that starts over every time
        // (it has no ranges) gets the growing pauses of any failure.
        if (facts.receivedBytes > before) {
            m_attempt.grew = !Stopping();
        } else {
            Wait(WaitReason::Incomplete);
        }
        return;
    }
    m_c.io.Delete(arrived);
    m_c.pieces.Release(arriving);
    const WaitReason why = WaitForDownload(verdict, facts.stalled);
    // Nothing stored may be a folder the run may not write rather than a full disk.
    Wait(why == WaitReason::DiskFull ? WhyNotWritten(m_c.io, arrived, why) : why,
         facts.httpStatus);
}

bool ItemFetch::StorePiece(const DownloadFacts& facts, const std::string& file) {
    PieceRecord record;
    record.name = m_item.szName;
    record.file = file;
    record.size = m_item.dwSize;
    record.date = m_item.dwDate;
    record.time = m_item.dwTime;
    record.url = m_paths.url;
    record.piece = PieceOf(facts);
    // Listed before it is cut to its counted bytes: a run killed between the two finds the
    // file longer than the index says and removes it.
    m_c.pieces.Keep(record);
    char piece[kPathSize];
    if (facts.fileSize == facts.receivedBytes ||
        (m_c.pieces.PathOf(file, piece) && m_c.io.Cut(piece, facts.receivedBytes)))
        return true;
    m_c.pieces.Drop(file);
    return false;
}

void ItemFetch::GoOn(PieceRecord& kept, const std::string& arriving, const DownloadFacts& facts) {
    const Piece piece = kept.piece;
    char rest[kPathSize], whole[kPathSize];
    m_c.pieces.PathOf(arriving, rest);
    m_c.pieces.PathOf(kept.file, whole);
    const RestVerdict verdict = JudgeRest(piece, facts);
    if (verdict == RestVerdict::Fresh) {
        // The server sent the file anew: the piece is of another version, or the server has
        // no ranges. What came is judged as any fresh download.
        m_c.pieces.Drop(kept.file);
        TakeFresh(facts, arriving, piece.length);
        return;
    }
    if (verdict != RestVerdict::Join) {
        m_c.io.Delete(rest);
        m_c.pieces.Release(arriving);
        // No answer, or an error other than 416, says nothing of the piece: it stays.
        if (verdict == RestVerdict::Refused) {
            m_c.pieces.Drop(kept.file);
            Wait(WaitReason::Incomplete, facts.httpStatus);
        } else {
            Wait(facts.httpStatus == 0 ? WaitReason::NoAnswer : WaitReason::ServerError,
                 facts.httpStatus);
        }
        return;
    }
    const bool joined = facts.receivedBytes == 0 || m_c.io.Append(rest, facts.receivedBytes, whole);
    m_c.io.Delete(rest);
    m_c.pieces.Release(arriving);
    if (!joined) {
        Wait(WaitReason::DiskFull);
        return;
    }
    kept.piece.length += facts.receivedBytes;
    m_c.pieces.Grow(kept.file, kept.piece.length);
    if (kept.piece.length == piece.total) {
        TakeWholePiece(kept);
    } else if (facts.receivedBytes != 0) {
        m_attempt.grew = !Stopping();
    } else {
        Wait(WaitForDownload(JudgeDownload(facts), facts.stalled), facts.httpStatus);
    }
}

void ItemFetch::TakeWholePiece(const PieceRecord& kept) {
    char whole[kPathSize];
    ULONGLONG size = 0;
    // Whole again: only today's verdict on the joined file lets it in.
    if (!m_c.pieces.PathOf(kept.file, whole) || !m_c.io.FileSize(whole, &size) ||
        !IsWholeDownload(JoinedFacts(kept.piece, size, m_item.dwSize))) {
        m_c.pieces.Drop(kept.file);
        Wait(WaitReason::Incomplete);
        return;
    }
    // A stop keeps the whole piece listed: the next attempt, or the next run, takes it.
    if (Stopping()) return;
    if (!IsSigned(whole, false)) {
        m_c.pieces.Drop(kept.file);
        return;
    }
    if (!Take(whole)) return;
    m_c.pieces.Forget(kept.file);
    m_attempt.whole = true;
}

}  // namespace

bool ListedBefore(const UpdateItem* items, WORD from, WORD index) {
    for (WORD k = from; k < index; ++k) {
        if (lstrcmpiA(items[k].szName, items[index].szName) == 0) return true;
    }
    return false;
}

Attempt FetchItem(const FetchContext& context, const ItemPaths& paths, const UpdateItem& item) {
    return ItemFetch(context, paths, item).Run();
}
