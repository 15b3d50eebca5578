// The items after the one in turn, fetched while it downloads and installs, so that a
// player's link does not pay a round trip before each file. Up to `ahead` of them are
// fetched at once, each at most once, each as any download of the run (ItemFetch.h);
// installing stays in list order: an item's turn takes what its fetch ahead left (a whole
// download, or a piece to go on from), and fetches it again when that failed.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "Scoped.h"

class FetchAhead;

// How many downloads may run at once for `ahead` (DownloadsAhead): twice that, at most 8.
unsigned MostAtOnce(unsigned ahead);

// What each of the `ahead` downloads may hold of the items fetched and not yet installed,
// and how far ahead of the one in turn small items go at most.
constexpr ULONGLONG kAheadShareBytes = 256 * 1024;
constexpr unsigned kMostItemsAhead = 64;

// An item's weight in those shares: its listed size, or one share when that is 0 (not
// known).
ULONGLONG AheadWeight(DWORD size);

// Whether the item at `position` after the one in turn (0: the next) starts being fetched
// while `running` fetches ahead run, the items from the next one through it weighing
// `weight`: not while MostAtOnce(ahead) run (none for 0); the first `ahead` items, and
// further ones up to kMostItemsAhead while their weight stays within `ahead` shares.
bool StartsAhead(unsigned position, ULONGLONG weight, unsigned running, unsigned ahead);

// Who fetches an item ahead of its turn: the run.
class AheadFetcher {
public:
    // Fetches item index; true when it left it whole at its download path.
    virtual bool FetchAheadOf(WORD index) = 0;

protected:
    ~AheadFetcher() = default;
};

// One fetch ahead, as workers are handed it.
struct AheadJob {
    FetchAhead* ahead;
    WORD index;
    void Run() const;
};

// Where fetches ahead run.
class AheadWorkers {
public:
    virtual ~AheadWorkers() = default;
    // Runs job on a worker.
    virtual void Post(const AheadJob& job) = 0;
    // Runs on the calling thread the jobs posted and not yet started, when this kind of
    // workers runs them there (a test's); threads of their own run theirs, and do nothing
    // here.
    virtual void Help() {}
};

// count threads of their own, each with COM initialised for the download moniker (or, when
// the system gives none, the poster's thread). The destructor lets every job posted finish,
// then ends the threads.
class AheadThreads : public AheadWorkers {
public:
    explicit AheadThreads(unsigned count);
    ~AheadThreads() override;
    AheadThreads(const AheadThreads&) = delete;
    AheadThreads& operator=(const AheadThreads&) = delete;
    void Post(const AheadJob& job) override;

private:
    static DWORD WINAPI Work(LPVOID self);

    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_posted = CONDITION_VARIABLE_INIT;
    std::vector<AheadJob> m_jobs;
    bool m_ending = false;
    std::unique_ptr<ScopedHandle[]> m_threads;
    unsigned m_count;
    unsigned m_running = 0;  // threads started
};

class FetchAhead {
public:
    // sizes: every item's listed size (StartsAhead), by index.
    FetchAhead(unsigned ahead, std::vector<DWORD> sizes, AheadWorkers& workers,
               AheadFetcher& fetcher);
    // Waits for every fetch started.
    ~FetchAhead();
    FetchAhead(const FetchAhead&) = delete;
    FetchAhead& operator=(const FetchAhead&) = delete;

    // Starts a fetch of each item from first on, below end, that StartsAhead lets start and
    // none was started for; again each time a fetch ends whole. None once Stop was called.
    void Plan(WORD first, WORD end);
    // Waits until no fetch of index runs; true when one left it whole (told once).
    bool Finish(WORD index);
    // Starts no fetch any more (a full disk); those running run on.
    void Stop();
    // Waits for every fetch running to end.
    void WaitAll();
    // WaitAll, then the items after `after` that were fetched whole, which are forgotten
    // (their downloads are the caller's to remove).
    std::vector<WORD> WholeAfter(WORD after);

private:
    friend struct AheadJob;
    struct Slot {
        WORD index;
        bool running;
        bool whole;
    };
    static constexpr DWORD kAll = 0x10000;
    void Ended(WORD index, bool whole);
    // The fetches to start now, noted as started (with m_lock held).
    std::vector<AheadJob> Fill();
    // Waits while a fetch of index (kAll: any) runs.
    void WaitWhileRunning(DWORD index);
    bool IsRunning(DWORD index) const;  // with m_lock held

    unsigned m_ahead;
    std::vector<DWORD> m_sizes;
    AheadWorkers& m_workers;
    AheadFetcher& m_fetcher;
    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_ended = CONDITION_VARIABLE_INIT;
    std::vector<Slot> m_slots;  // fetches not yet finished: at most MostAtOnce of them
    unsigned m_next = 0;        // the first item no fetch was considered for
    unsigned m_first = 0, m_end = 0;  // as Plan was last given them
    bool m_stopped = false;
};
