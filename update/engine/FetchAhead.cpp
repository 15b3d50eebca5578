#include "FetchAhead.h"

#include <objbase.h>

#include <utility>

namespace {

constexpr DWORD kLookMs = 50;

}  // namespace

unsigned MostAtOnce(unsigned ahead) { return ahead < 4 ? 2 * ahead : 8; }

ULONGLONG AheadWeight(DWORD size) { return size != 0 ? size : kAheadShareBytes; }

bool StartsAhead(unsigned position, ULONGLONG weight, unsigned running, unsigned ahead) {
    // A count alone leaves a player's line idle over small files: their bytes come in less
    // time than the round trip before the next answer.
    return running < MostAtOnce(ahead) &&
           (position < ahead || (position < kMostItemsAhead && weight <= ahead * kAheadShareBytes));
}

void AheadJob::Run() const { ahead->Ended(index, ahead->m_fetcher.FetchAheadOf(index)); }

AheadThreads::AheadThreads(unsigned count) : m_threads(new ScopedHandle[count]), m_count(count) {
    for (unsigned i = 0; i < count; ++i) {
        m_threads[i].Reset(CreateThread(nullptr, 0, &Work, this, 0, nullptr));
        if (m_threads[i].IsValid()) ++m_running;
    }
}

AheadThreads::~AheadThreads() {
    {
        ScopedSrwLock hold(m_lock);
        m_ending = true;
    }
    WakeAllConditionVariable(&m_posted);
    for (unsigned i = 0; i < m_count; ++i) {
        if (m_threads[i].IsValid()) WaitForSingleObject(m_threads[i], INFINITE);
    }
}

void AheadThreads::Post(const AheadJob& job) {
    // Without a thread of its own (the system had none to give) the job runs here.
    if (m_running == 0) {
        job.Run();
        return;
    }
    {
        ScopedSrwLock hold(m_lock);
        m_jobs.push_back(job);
    }
    WakeConditionVariable(&m_posted);
}

DWORD WINAPI AheadThreads::Work(LPVOID self) {
    auto* threads = static_cast<AheadThreads*>(self);
    // The download moniker wants COM on the thread that calls it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (;;) {
        AheadJob job{};
        {
            ScopedSrwLock hold(threads->m_lock);
            while (!threads->m_ending && threads->m_jobs.empty())
                SleepConditionVariableSRW(&threads->m_posted, &threads->m_lock, INFINITE, 0);
            if (threads->m_jobs.empty()) break;
            job = threads->m_jobs.front();
            threads->m_jobs.erase(threads->m_jobs.begin());
        }
        job.Run();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

FetchAhead::FetchAhead(unsigned ahead, std::vector<DWORD> sizes, AheadWorkers& workers,
                       AheadFetcher& fetcher)
    : m_ahead(ahead), m_sizes(std::move(sizes)), m_workers(workers), m_fetcher(fetcher) {}

FetchAhead::~FetchAhead() { WaitAll(); }

void FetchAhead::WaitAll() { WaitWhileRunning(kAll); }

void FetchAhead::Plan(WORD first, WORD end) {
    std::vector<AheadJob> start;
    {
        ScopedSrwLock hold(m_lock);
        m_first = first;
        m_end = end < m_sizes.size() ? end : static_cast<unsigned>(m_sizes.size());
        start = Fill();
    }
    for (const AheadJob& job : start) m_workers.Post(job);
}

std::vector<AheadJob> FetchAhead::Fill() {
    std::vector<AheadJob> start;
    if (m_stopped) return start;
    unsigned running = 0;
    for (const Slot& slot : m_slots) running += slot.running ? 1 : 0;
    ULONGLONG weight = 0;
    for (unsigned index = m_first; index < m_end; ++index) {
        weight += AheadWeight(m_sizes[index]);
        if (index < m_next) continue;
        if (!StartsAhead(index - m_first, weight, running, m_ahead)) break;
        m_slots.push_back({static_cast<WORD>(index), true, false});
        start.push_back({this, static_cast<WORD>(index)});
        ++running;
        m_next = index + 1;
    }
    return start;
}

bool FetchAhead::Finish(WORD index) {
    WaitWhileRunning(index);
    ScopedSrwLock hold(m_lock);
    for (auto slot = m_slots.begin(); slot != m_slots.end(); ++slot) {
        if (slot->index != index) continue;
        const bool whole = slot->whole;
        m_slots.erase(slot);
        return whole;
    }
    return false;
}

void FetchAhead::Stop() {
    ScopedSrwLock hold(m_lock);
    m_stopped = true;
}

std::vector<WORD> FetchAhead::WholeAfter(WORD after) {
    WaitAll();
    ScopedSrwLock hold(m_lock);
    std::vector<WORD> whole;
    for (auto slot = m_slots.begin(); slot != m_slots.end();) {
        if (slot->index > after && slot->whole) {
            whole.push_back(slot->index);
            slot = m_slots.erase(slot);
        } else {
            ++slot;
        }
    }
    return whole;
}

void FetchAhead::Ended(WORD index, bool whole) {
    std::vector<AheadJob> start;
    {
        ScopedSrwLock hold(m_lock);
        for (Slot& slot : m_slots) {
            if (slot.index != index) continue;
            slot.running = false;
            slot.whole = whole;
        }
        // The next fetch starts as soon as one ends, not when the item in turn is installed:
        // downloads that share a line end together, and would all wait out the next round
        // trip together. A fetch that failed (a stop, a full disk) starts none.
        if (whole) start = Fill();
    }
    WakeAllConditionVariable(&m_ended);
    for (const AheadJob& job : start) m_workers.Post(job);
}

bool FetchAhead::IsRunning(DWORD index) const {
    for (const Slot& slot : m_slots) {
        if (slot.running && (index == kAll || slot.index == index)) return true;
    }
    return false;
}

void FetchAhead::WaitWhileRunning(DWORD index) {
    for (;;) {
        // Workers that run their jobs on the caller's thread run them here, outside the lock
        // the jobs take when they end.
        m_workers.Help();
        ScopedSrwLock hold(m_lock);
        if (!IsRunning(index)) return;
        SleepConditionVariableSRW(&m_ended, &m_lock, kLookMs, 0);
        if (!IsRunning(index)) return;
    }
}
