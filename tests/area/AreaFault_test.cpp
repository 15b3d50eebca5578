// Allocation failures inside Area.dll must reach the host as the framework's memory
// exception, leave no rows behind and leave a changed object as it was. The failures
// are injected by patching Area.dll's imports of array new and delete.
#include <windows.h>
#include <gtest/gtest.h>

#include <new>

#include "Area.h"
#include "ImportPatch.h"

namespace {

using NewArrayFn = void* (*)(size_t);
using DeleteArrayFn = void (*)(void*);

// What Area.dll's array new and delete do while a FailingHeap is installed.
struct HeapState {
    NewArrayFn realNew = nullptr;
    DeleteArrayFn realDelete = nullptr;
    int calls = 0;   // array news asked for
    int failAt = 0;  // from this call on every array new throws; 0: none does
    int live = 0;    // blocks handed out minus blocks given back
};
HeapState g_heap;

void* FailingNewArray(size_t size) {
    ++g_heap.calls;
    if (g_heap.failAt != 0 && g_heap.calls >= g_heap.failAt) throw std::bad_alloc();
    void* p = g_heap.realNew(size);
    ++g_heap.live;
    return p;
}

void CountingDeleteArray(void* p) {
    if (p != nullptr) --g_heap.live;
    g_heap.realDelete(p);
}

const char* const kStdCxxDll = "libstdc++-6.dll";
const char* const kNewArray = sizeof(size_t) == 8 ? "_Znay" : "_Znaj";
const char* const kDeleteArray = "_ZdaPv";

class FailingHeap {
public:
    explicit FailingHeap(int failAt)
        : m_new(GetModuleHandleW(L"Area.dll"), kStdCxxDll, kNewArray,
                reinterpret_cast<void*>(&FailingNewArray)),
          m_delete(GetModuleHandleW(L"Area.dll"), kStdCxxDll, kDeleteArray,
                   reinterpret_cast<void*>(&CountingDeleteArray)) {
        g_heap = HeapState();
        g_heap.realNew = reinterpret_cast<NewArrayFn>(m_new.Original());
        g_heap.realDelete = reinterpret_cast<DeleteArrayFn>(m_delete.Original());
        g_heap.failAt = failAt;
    }
    FailingHeap(const FailingHeap&) = delete;
    FailingHeap& operator=(const FailingHeap&) = delete;

    bool Installed() const { return m_new.Active() && m_delete.Active(); }
    int Calls() const { return g_heap.calls; }
    int Live() const { return g_heap.live; }

private:
    ImportPatch m_new;
    ImportPatch m_delete;
};

// Runs f; true when it threw the framework's memory exception (which it then releases).
template <class F>
bool ThrowsMemoryException(F f) {
    try {
        f();
    } catch (CMemoryException* e) {
        e->Delete();
        return true;
    }
    return false;
}

const int kAreaAllocations = 28;  // 450 rows: capacity 5, 10, ... 465
const int kAreaCapacity = 465;
const int kDegreeAllocations = 2;  // 7 rows: capacity 5, 10
const int kDegreeCapacity = 10;

TEST(AreaMemory, InjectionReachesTheLibrary) {
    FailingHeap heap(0);
    ASSERT_TRUE(heap.Installed()) << "Area.dll no longer imports " << kNewArray << " and "
                                  << kDeleteArray << " from " << kStdCxxDll;
}

TEST(AreaMemory, ConstructorsAllocateByTheGrowthRuleAndFreeEverything) {
    {
        FailingHeap heap(0);
        { CAreaData area; }
        EXPECT_EQ(kAreaAllocations, heap.Calls());
        EXPECT_EQ(0, heap.Live());
    }
    {
        FailingHeap heap(0);
        { CDegreeData degree; }
        EXPECT_EQ(kDegreeAllocations, heap.Calls());
        EXPECT_EQ(0, heap.Live());
    }
}

// Every allocation of the constructors fails once: the exception reaches this host and
// the rows built up to then are released.
TEST(AreaMemory, FailedConstructionThrowsAndLeaksNothing) {
    for (int failAt = 1; failAt <= kAreaAllocations; ++failAt) {
        FailingHeap heap(failAt);
        EXPECT_TRUE(ThrowsMemoryException([] { CAreaData area; })) << "area, call " << failAt;
        EXPECT_EQ(0, heap.Live()) << "area, call " << failAt;
    }
    for (int failAt = 1; failAt <= kDegreeAllocations; ++failAt) {
        FailingHeap heap(failAt);
        EXPECT_TRUE(ThrowsMemoryException([] { CDegreeData degree; })) << "degree, call " << failAt;
        EXPECT_EQ(0, heap.Live()) << "degree, call " << failAt;
    }
}

TEST(AreaMemory, CatchableAsTheBaseException) {
    FailingHeap heap(1);
    bool caught = false;
    try {
        CDegreeData degree;
    } catch (CException* e) {
        caught = true;
        e->Delete();
    }
    EXPECT_TRUE(caught);
}

TEST(AreaMemory, FailedAddAreaKeepsTheTable) {
    CAreaData area;
    for (int i = 450; i < kAreaCapacity; ++i) area.AddArea(1000, 9000, L"填充");
    {
        FailingHeap heap(1);
        EXPECT_TRUE(ThrowsMemoryException([&] { area.AddArea(2000, 9000, L"溢出"); }));
        EXPECT_EQ(1, heap.Calls()) << "the row past the capacity must be the one that grows";
    }
    EXPECT_EQ(0, area.GetID(L"溢出"));
    EXPECT_EQ(532, area.GetID(L"台湾"));
    EXPECT_EQ(1000, area.GetID(L"填充"));
    area.AddArea(2000, 9000, L"溢出");
    EXPECT_EQ(2000, area.GetID(L"溢出"));
}

TEST(AreaMemory, FailedAddDegreeKeepsTheList) {
    CDegreeData degree;
    for (int i = 7; i < kDegreeCapacity; ++i) degree.AddDegree(100, L"填充");
    {
        FailingHeap heap(1);
        EXPECT_TRUE(ThrowsMemoryException([&] { degree.AddDegree(200, L"溢出"); }));
        EXPECT_EQ(1, heap.Calls());
    }
    EXPECT_EQ(0, degree.GetID(L"溢出"));
    EXPECT_EQ(7, degree.GetID(L"小学及以下"));
    degree.AddDegree(200, L"溢出");
    EXPECT_EQ(200, degree.GetID(L"溢出"));
}

TEST(AreaMemory, FailedCopyLeaksNothingAndAssignmentKeepsTheTarget) {
    CAreaData source;
    CAreaData target;
    target.AddArea(3000, 9000, L"保留");
    CDegreeData degreeSource;
    CDegreeData degreeTarget;
    degreeTarget.AddDegree(300, L"保留");
    {
        FailingHeap heap(1);
        EXPECT_TRUE(ThrowsMemoryException([&] { CAreaData copy(source); }));
        EXPECT_TRUE(ThrowsMemoryException([&] { target = source; }));
        EXPECT_TRUE(ThrowsMemoryException([&] { CDegreeData copy(degreeSource); }));
        EXPECT_TRUE(ThrowsMemoryException([&] { degreeTarget = degreeSource; }));
        EXPECT_EQ(0, heap.Live());
    }
    EXPECT_EQ(3000, target.GetID(L"保留"));
    EXPECT_EQ(300, degreeTarget.GetID(L"保留"));
}

}  // namespace
