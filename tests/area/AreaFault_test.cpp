// Allocation failures inside Area.dll must reach the host as the framework's memory
// exception and leave no rows behind. The failures
// are injected by patching Area.dll's imports of array new and delete.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "Area.h"

namespace {

// Points Area.dll's import slot of one function from importedDll to a replacement for the
// life of the object, then back. Original() is null when the library does not import it.
class ImportPatch {
public:
    ImportPatch(const char* importedDll, const char* function, void* replacement) {
        BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(L"Area.dll"));
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const DWORD imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
             imports != 0 && desc->Name != 0 && m_slot == nullptr; ++desc) {
            if (lstrcmpiA(reinterpret_cast<char*>(base + desc->Name), importedDll) != 0) continue;
            // The name table stays as linked; the address table holds what the loader bound.
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
            for (; names->u1.AddressOfData != 0 && m_slot == nullptr; ++names, ++slots) {
                if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                    std::strcmp(
                        reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)
                            ->Name,
                        function) == 0)
                    m_slot = reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
            }
        }
        if (m_slot != nullptr) m_original = Write(reinterpret_cast<ULONG_PTR>(replacement));
    }
    ~ImportPatch() {
        if (m_slot != nullptr) Write(reinterpret_cast<ULONG_PTR>(m_original));
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    void* Original() const { return m_original; }

private:
    void* Write(ULONG_PTR value) {
        const ULONG_PTR old = *m_slot;
        DWORD protect = 0;
        VirtualProtect(m_slot, sizeof(*m_slot), PAGE_READWRITE, &protect);
        *m_slot = value;
        VirtualProtect(m_slot, sizeof(*m_slot), protect, &protect);
        return reinterpret_cast<void*>(old);
    }

    ULONG_PTR* m_slot = nullptr;
    void* m_original = nullptr;
};

// What Area.dll's array new and delete do while a FailingHeap is installed.
struct HeapState {
    void* (*realNew)(size_t) = nullptr;
    void (*realDelete)(void*) = nullptr;
    int calls = 0;   // array news asked for
    int failAt = 0;  // from this call on every array new throws; 0: none does
    int live = 0;    // blocks handed out minus blocks given back
} g_heap;

void* FailingNewArray(size_t size) {
    ++g_heap.calls;
    if (g_heap.failAt != 0 && g_heap.calls >= g_heap.failAt) throw std::bad_alloc();
    ++g_heap.live;
    return g_heap.realNew(size);
}

void CountingDeleteArray(void* p) {
    if (p != nullptr) --g_heap.live;
    g_heap.realDelete(p);
}

const char* const kNewArray = sizeof(size_t) == 8 ? "_Znay" : "_Znaj";

class FailingHeap {
public:
    explicit FailingHeap(int failAt)
        : m_new("libstdc++-6.dll", kNewArray, reinterpret_cast<void*>(&FailingNewArray)),
          m_delete("libstdc++-6.dll", "_ZdaPv", reinterpret_cast<void*>(&CountingDeleteArray)) {
        g_heap = HeapState();
        g_heap.realNew = reinterpret_cast<void* (*)(size_t)>(m_new.Original());
        g_heap.realDelete = reinterpret_cast<void (*)(void*)>(m_delete.Original());
        g_heap.failAt = failAt;
    }
    bool Installed() const { return m_new.Original() != nullptr && m_delete.Original() != nullptr; }
    int Calls() const { return g_heap.calls; }
    int Live() const { return g_heap.live; }

private:
    ImportPatch m_new;
    ImportPatch m_delete;
};

// Runs f; true when it threw the framework's memory exception (which it then releases).
// Caught as the base class, as a host catches whatever the framework throws: the type
// information must hold across the library boundary.
template <class F>
bool ThrowsMemoryException(F f) {
    try {
        f();
    } catch (CException* e) {
        bool memory = dynamic_cast<CMemoryException*>(e) != nullptr;
        e->Delete();
        return memory;
    }
    return false;
}

// With no failure, 28 allocations for 450 rows (5, 10, ... 465) and not one per row; then
// every one of them fails once: the exception reaches this host and the rows built up to
// then are released.
TEST(AreaMemory, ConstructionAllocatesByTheGrowthRuleAndLeaksNothingWhenItFails) {
    const struct {
        const char* table;
        int allocations;
        void (*construct)();
    } cases[] = {
        {"area", 28, [] { CAreaData area; }},
        {"degree", 2, [] { CDegreeData degree; }},
    };
    for (const auto& c : cases) {
        for (int failAt = 0; failAt <= c.allocations; ++failAt) {
            SCOPED_TRACE(testing::Message() << c.table << ", failing call " << failAt);
            FailingHeap heap(failAt);
            ASSERT_TRUE(heap.Installed())
                << "Area.dll no longer imports " << kNewArray << " and _ZdaPv from libstdc++-6.dll";
            EXPECT_EQ(failAt != 0, ThrowsMemoryException(c.construct));
            EXPECT_EQ(0, heap.Live());
            if (failAt == 0) {
                EXPECT_EQ(c.allocations, heap.Calls());
            }
        }
    }
}

}  // namespace
