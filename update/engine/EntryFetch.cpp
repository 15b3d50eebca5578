#include "EntryFetch.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "PathWalk.h"
#include "Scoped.h"

namespace {

// A path as the file system compares names, case ignored: its characters upper-cased, their
// bytes as the key (only equality counts). One that cannot be read in the code page meets
// every other such one, and such entries all come.
std::string FoldedName(const char* path) {
    wchar_t wide[kPathSize];
    const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, kPathSize);
    if (n <= 1) return std::string();
    CharUpperBuffW(wide, static_cast<DWORD>(n - 1));
    return std::string(reinterpret_cast<const char*>(wide),
                       static_cast<size_t>(n - 1) * sizeof(wchar_t));
}

struct Named {
    const std::string* key;
    size_t index;
};

int CompareNamed(const void* a, const void* b) {
    return static_cast<const Named*>(a)->key->compare(*static_cast<const Named*>(b)->key);
}

// Directory parts asked for beyond the first: a directory longer than that is damage.
constexpr int kMostTailRounds = 3;

// Hears the downloads of the ranges, which run at once: the bar shows them together, sized
// to what the ranges carry.
class RangesListener : public FetchListener {
public:
    RangesListener(FetchListener& outer, uint64_t total) : m_outer(outer), m_total(total) {}
    // The archive comes whole after all: the other ranges' bytes are not wanted either.
    void Abandon() { m_abandoned = true; }
    bool IsStopping() const override { return m_abandoned || m_outer.IsStopping(); }
    void SetProgress(DWORD, DWORD) override {}
    void Starting(const Piece*) override {}
    void Ended() override {}
    // A range's download reports progress bytes of its own so far.
    void Moved(DWORD& last, DWORD progress) {
        std::lock_guard<std::mutex> hold(m_lock);
        m_done += progress - last;
        last = progress;
        m_outer.SetProgress(static_cast<DWORD>(m_done), static_cast<DWORD>(m_total));
    }

private:
    FetchListener& m_outer;
    const uint64_t m_total;
    std::mutex m_lock;
    uint64_t m_done = 0;
    std::atomic<bool> m_abandoned{false};
};

class OneRange : public FetchListener {
public:
    explicit OneRange(RangesListener& all) : m_all(all) {}
    bool IsStopping() const override { return m_all.IsStopping(); }
    void SetProgress(DWORD progress, DWORD) override { m_all.Moved(m_last, progress); }
    void Starting(const Piece*) override { m_last = 0; }
    void Ended() override {}

private:
    RangesListener& m_all;
    DWORD m_last = 0;
};

class EntryFetch {
public:
    EntryFetch(const FetchContext& context, const ItemPaths& paths, const UpdateItem& item)
        : m_c(context), m_paths(paths), m_item(item) {}
    EntryResult Run(const char* tailPath, const DownloadFacts& tailFacts, bool planOnly);

private:
    struct Part {
        ByteRange range;
        std::string file;  // the piece name it arrived under
        RangeVerdict verdict = RangeVerdict::NoAnswer;
        DWORD status = 0;
        bool stalled = false;
    };
    EntryResult& Whole(WholeBecause why) {
        m_result.step = EntryStep::Whole;
        m_result.answer.why = why;
        return m_result;
    }
    EntryResult& Wait(WaitReason why, DWORD status = 0) {
        m_result.step = EntryStep::Wait;
        m_result.why = m_c.listener.IsStopping() ? WaitReason::None : why;
        m_result.status = status;
        return m_result;
    }
    EntryResult& WaitFor(const Part& part);
    bool ReadDirectory(const char* tailPath, const DownloadFacts& facts);
    bool Compare();
    void FetchPart(Part& part, FetchListener& listener, bool again = true);
    static DWORD WINAPI FetchParts(LPVOID self);
    bool FetchRanges();
    void Drop(const Part& part);
    void DropParts();
    bool CheckFetched(const char* copy);

    const FetchContext& m_c;
    const ItemPaths& m_paths;
    const UpdateItem& m_item;
    EntryResult m_result;
    std::string m_validator;
    uint64_t m_total = 0;
    std::string m_tail;  // the archive's last bytes
    ZipTailDirectory m_directory;
    std::vector<DirectoryEntry> m_entries;
    std::vector<bool> m_fetch;
    EntryPlan m_plan;
    std::shared_ptr<ByEntries> m_by = std::make_shared<ByEntries>();
    std::vector<Part> m_parts;
    std::atomic<size_t> m_nextPart{0};
    RangesListener* m_ranges = nullptr;
};

EntryResult& EntryFetch::WaitFor(const Part& part) {
    switch (part.verdict) {
        case RangeVerdict::NoAnswer:
            return Wait(part.stalled || part.status == 0 ? WaitReason::NoAnswer
                                                         : WaitReason::Incomplete);
        case RangeVerdict::ErrorAnswer:
            return Wait(WaitReason::ServerError, part.status);
        case RangeVerdict::NotStored:
            return Wait(WaitReason::DiskFull);
        default:
            return Wait(WaitReason::Incomplete);
    }
}

bool EntryFetch::ReadDirectory(const char* tailPath, const DownloadFacts& facts) {
    m_validator = facts.validator;
    m_total = facts.rangeTotal;
    m_result.answer.archiveBytes = m_total;
    const uint64_t first = facts.rangeFirst;
    const RangeVerdict tail = JudgeRange({first, m_total - 1}, m_total, m_validator, facts);
    if (!facts.rangeGiven || m_total == 0 || facts.rangeLast + 1 != m_total ||
        tail != RangeVerdict::Whole) {
        if (facts.rangeGiven && tail == RangeVerdict::CutShort) {
            Wait(WaitReason::Incomplete);
        } else {
            Whole(WholeBecause::NoRanges);
        }
        return false;
    }
    m_result.answer.tailBytes = m_total - first;
    if (m_validator.empty()) return Whole(WholeBecause::NoValidator), false;
    const ManifestFile* listed =
        m_c.manifest != nullptr ? FindInManifest(*m_c.manifest, m_item.szName) : nullptr;
    if ((m_item.dwSize != 0 && m_item.dwSize != m_total) ||
        (listed != nullptr && listed->size != m_total))
        return Whole(WholeBecause::SizeDisagrees), false;
    if (!m_c.io.ReadPart(tailPath, 0, static_cast<size_t>(m_total - first), &m_tail))
        return Wait(WaitReason::InUse), false;
    for (int round = 0;; ++round) {
        const ZipResult read =
            ZipReadTailDirectory(m_tail.data(), m_tail.size(), m_total, &m_directory);
        if (read == ZipOk) return true;
        if (read != ZipMoreData || round == kMostTailRounds ||
            m_directory.needed <= m_tail.size() || m_directory.needed > m_total) {
            Whole(read == ZipNoEndRecord ? WholeBecause::NotAnArchive
                                         : WholeBecause::DirectoryDamaged);
            return false;
        }
        Part more;
        more.range = {m_total - m_directory.needed, m_total - m_tail.size() - 1};
        FetchPart(more, m_c.listener);
        std::string bytes;
        char path[kPathSize];
        const bool read_ = more.verdict == RangeVerdict::Whole &&
                           m_c.pieces.PathOf(more.file, path) &&
                           m_c.io.ReadPart(path, 0, static_cast<size_t>(more.range.last + 1 -
                                                                        more.range.first),
                                           &bytes);
        Drop(more);
        if (more.verdict == RangeVerdict::Changed) return Whole(WholeBecause::Changed), false;
        if (more.verdict == RangeVerdict::CutShort) return Whole(WholeBecause::CutShort), false;
        if (more.verdict != RangeVerdict::Whole) return WaitFor(more), false;
        if (!read_) return Wait(WaitReason::InUse), false;
        m_result.answer.tailBytes += bytes.size();
        bytes += m_tail;
        m_tail.swap(bytes);
    }
}

bool EntryFetch::Compare() {
    const std::vector<ZipTailEntry>& tail = m_directory.entries;
    m_by->count = static_cast<int32_t>(tail.size());
    m_result.answer.entries = tail.size();
    m_fetch.assign(tail.size(), false);
    m_entries.resize(tail.size());
    struct Done {
        FetchListener& listener;
        ~Done() { listener.Comparing(false); }
    } done{m_c.listener};
    m_c.listener.Comparing(true);
    for (size_t i = 0; i < tail.size(); ++i) {
        if (m_c.listener.IsStopping()) return Wait(WaitReason::None), false;
        const ZipTailEntry& t = tail[i];
        // The walk would find the archive damaged here: whole, it is judged as before.
        if (t.result != ZipOk) return Whole(WholeBecause::DirectoryDamaged), false;
        DirectoryEntry& e = m_entries[i];
        e.name = t.storedName;
        e.folder = (t.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.crc32 = t.crc32;
        e.compressedSize = t.compressedSize;
        e.size = t.uncompressedSize;
        e.localOffset = t.localHeaderOffset;
        KeptEntry kept;
        kept.index = static_cast<int32_t>(i);
        kept.folder = e.folder;
        char target[kPathSize];
        // The name rule decides as in the walk, and such an entry is never fetched.
        const bool unsafe = WhyUnsafe(t.name) != NameFault::None;
        if (unsafe || !BuildEntryTarget(m_c.installDir, t.name, target)) {
            kept.verdict = unsafe ? EntryVerdict::UnsafeName : EntryVerdict::TooLong;
            m_by->kept.push_back(kept);
            continue;
        }
        kept.target = target;
        const ManifestEntry* signedEntry =
            m_c.keyed && m_c.manifest != nullptr
                ? FindEntryInManifest(*m_c.manifest, m_item.szName, t.name)
                : nullptr;
        if (m_c.keyed && !e.folder && signedEntry == nullptr)
            return Whole(WholeBecause::NoEntryHashes), false;
        InstalledFile installed;
        bool inPlace = false;
        if (e.folder) {
            inPlace = IsFolderAttributes(m_c.io.Attributes(target));
        } else if (!t.localCreationTime) {
            // A creation time only the local header holds would be lost: such an entry comes.
            installed.exists = m_c.io.DigestFile(target, &installed.size, &installed.crc32,
                                                 m_c.keyed ? installed.sha256 : nullptr,
                                                 &kept.identity);
            installed.hashed = m_c.keyed && installed.exists;
            inPlace = IsEntryInPlace(e, installed,
                                     signedEntry != nullptr ? signedEntry->sha256 : nullptr) &&
                      (signedEntry == nullptr || signedEntry->size == installed.size);
        }
        if (!inPlace) {
            m_fetch[i] = true;
            continue;
        }
        kept.attributes = t.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        // Extraction reads the entry's time as local time.
        if (!LocalFileTimeToFileTime(&t.dosTime, &kept.time)) kept.time = FILETIME{};
        m_by->kept.push_back(kept);
    }
    // Entries that write one file are written in turn, the last one staying: the file matches
    // at most one of them, so every one of them comes, and the walk writes them as unpacking
    // would. Names meet as the file system meets them.
    std::vector<std::string> folded(tail.size());
    std::vector<Named> written;
    for (size_t j = 0; j < tail.size(); ++j) {
        char target[kPathSize];
        if (!BuildEntryTarget(m_c.installDir, tail[j].name, target)) continue;
        folded[j] = FoldedName(target);
        written.push_back({&folded[j], j});
    }
    // The C library's sort, so the program carries no sort of its own; it moves bytes, so it
    // sorts pointers to the keys, which stay put.
    if (!written.empty()) std::qsort(&written[0], written.size(), sizeof(Named), &CompareNamed);
    std::string shared(tail.size(), '\0');  // one flag per entry
    for (size_t j = 1; j < written.size(); ++j)
        if (*written[j].key == *written[j - 1].key)
            shared[written[j].index] = shared[written[j - 1].index] = 1;
    for (size_t k = 0; k < m_by->kept.size();) {
        const size_t index = static_cast<size_t>(m_by->kept[k].index);
        if (m_by->kept[k].verdict != EntryVerdict::Written || shared[index] == 0) {
            ++k;
            continue;
        }
        m_fetch[index] = true;
        m_by->kept.erase(m_by->kept.begin() + static_cast<std::ptrdiff_t>(k));
    }
    return true;
}

void EntryFetch::FetchPart(Part& part, FetchListener& listener, bool again) {
    part.file = m_c.pieces.Reserve();
    char path[kPathSize];
    if (!m_c.pieces.PathOf(part.file, path)) {
        part.verdict = RangeVerdict::NotStored;
        return;
    }
    m_c.io.Delete(path);
    const FetchContext heard{m_c.io,       m_c.pieces,     m_c.active,     listener,
                             m_c.keyed,    m_c.manifest,   m_c.byEntries,  m_c.installDir,
                             m_c.atOnce};
    const uint64_t length = part.range.last + 1 - part.range.first;
    PartAsked asked;
    asked.first = part.range.first;
    asked.last = part.range.last;
    asked.validator = m_validator;
    asked.onlyPart = true;
    DownloadFacts facts = FetchOnce(heard, m_paths.url, path, nullptr, length, nullptr, &asked);
    part.verdict = JudgeRange(part.range, m_total, m_validator, facts);
    part.status = facts.httpStatus;
    part.stalled = facts.stalled;
    // Nothing at all came: as no answer, the next attempt tries again after a pause.
    if (part.verdict == RangeVerdict::CutShort && facts.receivedBytes == 0)
        part.verdict = RangeVerdict::NoAnswer;
    if (part.verdict != RangeVerdict::CutShort || !again) return;
    // Cut short: what came stays, and the rest is asked for once more.
    Part rest;
    rest.range = {part.range.first + facts.receivedBytes, part.range.last};
    if (!m_c.io.Cut(path, facts.receivedBytes)) {
        part.verdict = RangeVerdict::NotStored;
        return;
    }
    FetchPart(rest, listener, false);
    char restPath[kPathSize];
    m_c.pieces.PathOf(rest.file, restPath);
    if (rest.verdict == RangeVerdict::Whole &&
        !m_c.io.Append(restPath, rest.range.last + 1 - rest.range.first, path))
        rest.verdict = RangeVerdict::NotStored;
    Drop(rest);
    part.verdict = rest.verdict;
    part.status = rest.status;
    part.stalled = rest.stalled;
}

DWORD WINAPI EntryFetch::FetchParts(LPVOID self) {
    auto* fetch = static_cast<EntryFetch*>(self);
    // The download moniker wants COM on the thread that calls it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (size_t i; (i = fetch->m_nextPart++) < fetch->m_parts.size();) {
        if (fetch->m_ranges->IsStopping()) break;
        OneRange one(*fetch->m_ranges);
        Part& part = fetch->m_parts[i];
        fetch->FetchPart(part, one);
        if (part.verdict == RangeVerdict::Changed || part.verdict == RangeVerdict::CutShort)
            fetch->m_ranges->Abandon();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

bool EntryFetch::FetchRanges() {
    for (const ByteRange& range : m_plan.ranges) {
        Part part;
        part.range = range;
        m_parts.push_back(part);
    }
    RangesListener ranges(m_c.listener, m_plan.bytes);
    m_ranges = &ranges;
    m_c.listener.Starting(nullptr);
    // The ranges share the line as the downloads fetched ahead do: several at once, so that
    // no round trip leaves it idle.
    const size_t most = std::min<size_t>(m_c.atOnce != 0 ? m_c.atOnce : 1, m_parts.size());
    std::unique_ptr<ScopedHandle[]> threads(new ScopedHandle[most]);
    for (size_t i = 1; i < most; ++i)
        threads[i].Reset(CreateThread(nullptr, 0, &FetchParts, this, 0, nullptr));
    FetchParts(this);
    for (size_t i = 1; i < most; ++i)
        if (threads[i].IsValid()) WaitForSingleObject(threads[i], INFINITE);
    m_c.listener.Ended();
    m_ranges = nullptr;
    // The archive's own answer decides first: a change or a repeated cut sends it whole.
    RangeVerdict worst = RangeVerdict::Whole;
    const Part* failed = nullptr;
    for (const Part& part : m_parts) {
        if (part.verdict == RangeVerdict::Whole) continue;
        if (failed == nullptr || part.verdict == RangeVerdict::Changed ||
            (part.verdict == RangeVerdict::CutShort && worst != RangeVerdict::Changed)) {
            failed = &part;
            worst = part.verdict;
        }
    }
    if (m_c.listener.IsStopping()) return Wait(WaitReason::None), false;
    if (worst == RangeVerdict::Changed) return Whole(WholeBecause::Changed), false;
    if (worst == RangeVerdict::CutShort) return Whole(WholeBecause::CutShort), false;
    if (failed != nullptr) return WaitFor(*failed), false;
    return true;
}

void EntryFetch::Drop(const Part& part) {
    if (part.file.empty()) return;
    char path[kPathSize];
    if (m_c.pieces.PathOf(part.file, path)) m_c.io.Delete(path);
    m_c.pieces.Release(part.file);
}

void EntryFetch::DropParts() {
    for (const Part& part : m_parts) Drop(part);
    m_parts.clear();
}

bool EntryFetch::CheckFetched(const char* copy) {
    ZipResult why = ZipOk;
    std::unique_ptr<UpdateArchive> archive = m_c.io.OpenArchive(copy, m_c.installDir, &why);
    if (!archive) return IsNoArchive(why) ? (Whole(WholeBecause::Damaged), false)
                                          : (Wait(WaitReason::InUse), false);
    if (archive->Count() != m_by->count) return Whole(WholeBecause::Damaged), false;
    for (const size_t index : m_plan.fetch) {
        const int32_t i = static_cast<int32_t>(index);
        ZipEntry record;
        uint8_t digest[kSha256Bytes];
        const ZipResult result = m_entries[index].folder ? archive->Entry(i, &record)
                                                         : archive->Digest(i, digest);
        if (result == ZipCorrupt) return Whole(WholeBecause::Damaged), false;
        if (result != ZipOk) return Wait(WaitReason::InUse), false;
        if (!m_c.keyed || m_entries[index].folder) continue;
        const ManifestEntry* signedEntry = FindEntryInManifest(
            *m_c.manifest, m_item.szName, m_directory.entries[index].name);
        if (signedEntry == nullptr || std::memcmp(signedEntry->sha256, digest, sizeof digest) != 0)
            return Whole(WholeBecause::Damaged), false;
    }
    return true;
}

EntryResult EntryFetch::Run(const char* tailPath, const DownloadFacts& tailFacts, bool planOnly) {
    m_result.answer.answered = tailFacts.httpStatus != 0;
    if (!ReadDirectory(tailPath, tailFacts) || !Compare()) return m_result;
    m_plan = PlanRanges(m_entries, m_fetch, m_directory.directoryOffset);
    const ManifestFile* listed =
        m_c.manifest != nullptr ? FindInManifest(*m_c.manifest, m_item.szName) : nullptr;
    const uint64_t listedSize = listed != nullptr ? listed->size : 0;
    m_result.answer.fetchBytes = m_plan.bytes;
    m_result.answer.toFetch = m_plan.fetch.size();
    const WholeBecause why =
        WhetherEntriesPay(206, true, m_total, m_item.dwSize != 0 ? m_item.dwSize : m_total,
                          listed != nullptr ? &listedSize : nullptr, m_plan);
    if (why != WholeBecause::None) return Whole(why);
    m_result.answer.why = WholeBecause::None;
    if (planOnly) return Wait(WaitReason::None);
    if (!FetchRanges()) {
        DropParts();
        return m_result;
    }

    // The copy: the tail at the archive's end, each range at its place, zeros between.
    const std::string copyName = m_c.pieces.Reserve(), tailName = m_c.pieces.Reserve();
    char copy[kPathSize], tail[kPathSize];
    bool placed = m_c.pieces.PathOf(copyName, copy) && m_c.pieces.PathOf(tailName, tail);
    if (placed) {
        m_c.io.Delete(copy);
        placed = m_c.io.WriteText(tail, m_tail) &&
                 m_c.io.Place(tail, m_tail.size(), copy, m_total - m_tail.size());
        m_c.io.Delete(tail);
    }
    for (const Part& part : m_parts) {
        char path[kPathSize];
        placed = placed && m_c.pieces.PathOf(part.file, path) &&
                 m_c.io.Place(path, part.range.last + 1 - part.range.first, copy,
                              part.range.first);
    }
    DropParts();
    m_c.pieces.Release(tailName);
    const bool checked = placed ? CheckFetched(copy) : (Wait(WhyNotWritten(m_c.io, copy,
                                                                          WaitReason::DiskFull)),
                                                        false);
    if (checked && !m_c.io.Move(copy, m_paths.download))
        Wait(WhyNotWritten(m_c.io, m_paths.download, WaitReason::InUse));
    else if (checked) {
        m_by->fetched = m_plan.bytes;
        m_result.byEntries = m_by;
        m_result.step = EntryStep::Fetched;
    }
    if (m_result.step != EntryStep::Fetched) m_c.io.Delete(copy);
    m_c.pieces.Release(copyName);
    return m_result;
}

}  // namespace

RangeVerdict JudgeRange(const ByteRange& asked, ULONGLONG total, const std::string& validator,
                        const DownloadFacts& f) {
    if (f.httpStatus == 0) return RangeVerdict::NoAnswer;
    if (f.httpStatus != 206)
        return f.httpStatus >= 400 && f.httpStatus != 416 ? RangeVerdict::ErrorAnswer
                                                         : RangeVerdict::Changed;
    // If-Range asked for this version only; a validator that differs all the same is another.
    if (!f.rangeGiven || f.rangeFirst != asked.first || f.rangeLast != asked.last ||
        f.rangeTotal != total || f.encoded || (!f.validator.empty() && f.validator != validator))
        return RangeVerdict::Changed;
    const ULONGLONG length = asked.last + 1 - asked.first;
    if (f.receivedBytes > length) return RangeVerdict::Changed;
    if (!f.fileExists || f.fileSize < f.receivedBytes) return RangeVerdict::NotStored;
    if (f.receivedBytes < length) return RangeVerdict::CutShort;
    return f.fileSize == length ? RangeVerdict::Whole : RangeVerdict::NotStored;
}

bool IsTailAnswer(const DownloadFacts& facts) {
    return facts.httpStatus == 206 && !(facts.rangeGiven && facts.rangeFirst == 0);
}

bool SettleKeptEntries(const ByEntries& byEntries, UpdateIo& io,
                       std::vector<EntryVerdict>& verdicts) {
    verdicts.assign(static_cast<size_t>(byEntries.count), EntryVerdict::NotWritten);
    for (const KeptEntry& kept : byEntries.kept) {
        const char* target = kept.target.c_str();
        if (kept.verdict == EntryVerdict::Written && kept.folder) {
            if (!IsFolderAttributes(io.Attributes(target))) return false;
        } else if (kept.verdict == EntryVerdict::Written) {
            // Fetched ahead, the archive was compared before the items in between were
            // installed: one of them may have replaced the file, or something written it,
            // since. Only the very file read then, never written since, is taken; an entry
            // without a time leaves the file's as extraction does.
            if (!io.SettleFile(target, kept.identity, kept.attributes, kept.time)) return false;
        }
        verdicts[static_cast<size_t>(kept.index)] = kept.verdict;
    }
    return true;
}

EntryResult FetchByEntries(const FetchContext& context, const ItemPaths& paths,
                           const UpdateItem& item, const char* tailPath,
                           const DownloadFacts& tailFacts, bool planOnly) {
    return EntryFetch(context, paths, item).Run(tailPath, tailFacts, planOnly);
}

EntryAnswer AskByEntries(const FetchContext& context, const ItemPaths& paths,
                         const UpdateItem& item) {
    const std::string name = context.pieces.Reserve();
    char path[kPathSize];
    EntryAnswer answer;
    answer.why = WholeBecause::TooSmall;
    const uint64_t tailBytes = TailToAsk(item.dwSize);
    if (tailBytes != 0 && context.pieces.PathOf(name, path)) {
        context.io.Delete(path);
        PartAsked tail;
        tail.suffix = true;
        tail.first = tailBytes;
        tail.onlyPart = true;
        const DownloadFacts facts =
            FetchOnce(context, paths.url, path, nullptr, kNoLimit, nullptr, &tail);
        if (IsTailAnswer(facts)) {
            answer = FetchByEntries(context, paths, item, path, facts, true).answer;
        } else {
            answer.answered = facts.httpStatus != 0;
            answer.archiveBytes = facts.rangeTotal;
            // A small archive comes whole in the directory's answer.
            answer.why = facts.httpStatus == 0     ? WholeBecause::NoAnswer
                         : facts.httpStatus == 206 ? WholeBecause::TooMuch
                                                   : WholeBecause::NoRanges;
        }
        context.io.Delete(path);
    }
    context.pieces.Release(name);
    return answer;
}
