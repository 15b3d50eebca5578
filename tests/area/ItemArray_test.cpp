// The row array on its own: the growth rule, size changes, checked reads. Copies are
// tested through the tables that hold it.
#include <windows.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "ItemArray.h"

namespace {

struct Row {
    WORD wID;
    WCHAR szName[20];
};

Row MakeRow(WORD id) {
    Row row = {};
    row.wID = id;
    row.szName[0] = L'A' + id % 26;
    return row;
}

bool IsZero(const Row& row) {
    Row zero = {};
    return std::memcmp(&row, &zero, sizeof(Row)) == 0;
}

struct CapacityCase {
    const char* fault;
    int newSize, count, growBy;
    int expected;
};

const CapacityCase kCapacityCases[] = {
    {"the first row reserves the minimum step of 4 beyond it", 1, 0, 0, 5},
    {"a small count still grows by 4", 11, 10, 0, 15},
    {"the step is count / 8 from 40 rows on", 41, 40, 0, 46},
    {"the step uses the count before the append", 60, 59, 0, 67},
    {"count / 8 is rounded down", 455, 450, 0, 455 + 56},
    {"the step stops at 1024", 20001, 20000, 0, 21025},
    {"a size change far past the count uses the count's step", 1000, 0, 0, 1004},
    {"an explicit step replaces the automatic one", 11, 10, 3, 14},
    {"an explicit step may exceed 1024", 2, 1, 5000, 5002},
    {"the capacity never overflows", INT_MAX - 10, 100, 0, INT_MAX},
    {"the largest size is its own capacity", INT_MAX, 0, 0, INT_MAX},
};

TEST(ItemArrayGrowth, NewCapacity) {
    for (const CapacityCase& c : kCapacityCases) {
        EXPECT_EQ(c.expected, ItemArrayNewCapacity(c.newSize, c.count, c.growBy)) << c.fault;
    }
}

// The capacities an array passes through while rows are appended one by one.
std::vector<int> CapacitiesWhileAppending(int rows) {
    CItemArray<Row> array;
    std::vector<int> seen;
    for (int i = 0; i < rows; ++i) {
        array.Add(MakeRow(static_cast<WORD>(i)));
        if (seen.empty() || seen.back() != array.GetCapacity()) seen.push_back(array.GetCapacity());
    }
    return seen;
}

TEST(ItemArrayGrowth, AreaTableTakes28AllocationsEndingAt465) {
    std::vector<int> seen = CapacitiesWhileAppending(450);
    std::vector<int> first(seen.begin(), seen.begin() + 12);
    EXPECT_EQ((std::vector<int>{5, 10, 15, 20, 25, 30, 35, 40, 46, 52, 59, 67}), first);
    EXPECT_EQ(28u, seen.size());
    EXPECT_EQ(465, seen.back());
}

TEST(ItemArrayGrowth, DegreeListTakesTwoAllocations) {
    EXPECT_EQ((std::vector<int>{5, 10}), CapacitiesWhileAppending(7));
}

TEST(ItemArray, AppendKeepsOrderAndReturnsTheIndex) {
    CItemArray<Row> array;
    for (WORD id = 0; id < 100; ++id) EXPECT_EQ(id, array.Add(MakeRow(id)));
    ASSERT_EQ(100, array.GetSize());
    for (int i = 0; i < 100; ++i) EXPECT_EQ(i, array.GetAt(i).wID);
}

TEST(ItemArray, SizeChangesKeepUnusedSlotsZero) {
    CItemArray<Row> array;
    for (WORD id = 1; id <= 8; ++id) array.Add(MakeRow(id));
    int capacity = array.GetCapacity();

    array.SetSize(3);
    EXPECT_EQ(3, array.GetSize());
    EXPECT_EQ(capacity, array.GetCapacity()) << "shrinking keeps the storage";
    array.SetSize(8);
    EXPECT_EQ(3, array.GetAt(2).wID);
    for (int i = 3; i < 8; ++i) EXPECT_TRUE(IsZero(array.GetAt(i))) << "dropped row " << i;

    array.SetSize(capacity + 1);
    for (int i = 8; i < capacity + 1; ++i) EXPECT_TRUE(IsZero(array.GetAt(i))) << "new row " << i;
    EXPECT_EQ(1, array.GetAt(0).wID);

    int grown = array.GetCapacity();
    array.RemoveAll();
    EXPECT_EQ(0, array.GetSize());
    EXPECT_EQ(grown, array.GetCapacity());
    array.SetSize(2);
    EXPECT_TRUE(IsZero(array.GetAt(0))) << "cleared rows come back zero";
}

// Runs f; true when it threw the framework's invalid-argument exception.
template <class F>
bool ThrowsInvalidArg(F f) {
    try {
        f();
    } catch (CInvalidArgException* e) {
        e->Delete();
        return true;
    }
    return false;
}

TEST(ItemArray, InvalidSizesAndIndexesThrow) {
    CItemArray<Row> empty;
    CItemArray<Row> three;
    for (WORD id = 1; id <= 3; ++id) three.Add(MakeRow(id));
    struct {
        const char* fault;
        bool thrown;
    } cases[] = {
        {"negative size", ThrowsInvalidArg([&] { three.SetSize(-1); })},
        {"most negative size", ThrowsInvalidArg([&] { three.SetSize(INT_MIN); })},
        {"negative index", ThrowsInvalidArg([&] { three.GetAt(-1); })},
        {"index equal to the size", ThrowsInvalidArg([&] { three.GetAt(3); })},
        {"index far past the end", ThrowsInvalidArg([&] { three.GetAt(INT_MAX); })},
        {"any index of an empty array", ThrowsInvalidArg([&] { empty.GetAt(0); })},
    };
    for (const auto& c : cases) EXPECT_TRUE(c.thrown) << c.fault;
    EXPECT_EQ(3, three.GetSize()) << "a refused size changes nothing";
    EXPECT_EQ(3, three.GetAt(2).wID);
}

struct Huge {
    BYTE bytes[1 << 20];
};

// The allocation fails (too large for any address space): the memory exception, and
// the rows stay as they were.
TEST(ItemArray, FailedGrowthThrowsAndKeepsTheRows) {
    CItemArray<Huge> array;
    array.SetSize(2);
    bool caught = false;
    try {
        array.SetSize(INT_MAX / 2);
    } catch (CMemoryException* e) {
        caught = true;
        e->Delete();
    }
    EXPECT_TRUE(caught);
    EXPECT_EQ(2, array.GetSize());
    EXPECT_LT(array.GetCapacity(), 100);
}

}  // namespace
