// The row array on its own: the growth rule, size changes, checked reads. Copies, failed
// allocations and order are tested through the tables that hold it.
#include <windows.h>
#include <gtest/gtest.h>

#include <climits>

#include "ItemArray.h"

namespace {

struct Row {
    WORD wID;
    WCHAR szName[20];
};

TEST(ItemArray, NewCapacity) {
    const struct {
        const char* fault;
        int newSize, count, growBy;
        int expected;
    } cases[] = {
        {"the first row reserves the minimum step of 4 beyond it", 1, 0, 0, 5},
        {"the step is count / 8 from 40 rows on", 41, 40, 0, 46},
        {"the step uses the count before the append", 60, 59, 0, 67},
        {"count / 8 is rounded down", 455, 450, 0, 455 + 56},
        {"the step stops at 1024", 20001, 20000, 0, 21025},
        {"a size change far past the count uses the count's step", 1000, 0, 0, 1004},
        {"an explicit step replaces the automatic one", 11, 10, 3, 14},
        {"an explicit step may exceed 1024", 2, 1, 5000, 5002},
        {"the capacity never overflows", INT_MAX - 10, 100, 0, INT_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, ItemArrayNewCapacity(c.newSize, c.count, c.growBy)) << c.fault;
    }
}

// Slots past the size must read as zero rows whenever they come back into use: stale rows
// would reappear in the tables.
TEST(ItemArray, SizeChangesKeepUnusedSlotsZero) {
    CItemArray<Row> array;
    for (WORD id = 1; id <= 8; ++id) array.Add(Row{id, {L'A'}});
    int capacity = array.GetCapacity();
    array.SetSize(3);
    EXPECT_EQ(capacity, array.GetCapacity()) << "shrinking keeps the storage";
    array.SetSize(capacity + 1);
    EXPECT_EQ(3, array.GetAt(2).wID);
    for (int i = 3; i <= capacity; ++i) {
        EXPECT_EQ(0, array.GetAt(i).wID) << "row " << i;
        EXPECT_EQ(0, array.GetAt(i).szName[0]) << "row " << i;
    }
    int grown = array.GetCapacity();
    array.RemoveAll();
    EXPECT_EQ(0, array.GetSize());
    EXPECT_EQ(grown, array.GetCapacity());
    array.SetSize(2);
    EXPECT_EQ(0, array.GetAt(0).wID) << "cleared rows come back";
}

TEST(ItemArray, InvalidSizesAndIndexesThrow) {
    CItemArray<Row> three;
    for (WORD id = 1; id <= 3; ++id) three.Add(Row{id, {}});
    const struct {
        const char* fault;
        void (*call)(CItemArray<Row>& a);
    } cases[] = {
        {"negative size", [](CItemArray<Row>& a) { a.SetSize(-1); }},
        {"negative index", [](CItemArray<Row>& a) { a.GetAt(-1); }},
        {"index equal to the size", [](CItemArray<Row>& a) { a.GetAt(3); }},
        {"index far past the end", [](CItemArray<Row>& a) { a.GetAt(INT_MAX); }},
    };
    for (const auto& c : cases) {
        bool thrown = false;
        try {
            c.call(three);
        } catch (CInvalidArgException* e) {
            e->Delete();
            thrown = true;
        }
        EXPECT_TRUE(thrown) << c.fault;
    }
    EXPECT_EQ(3, three.GetSize()) << "a refused size changed the array";
    EXPECT_EQ(3, three.GetAt(2).wID);
}

}  // namespace
