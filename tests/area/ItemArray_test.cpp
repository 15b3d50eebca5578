// The row array's growth rule, and what it keeps past its size. Copies, failed allocations
// and order are tested through the tables that hold it.
#include <windows.h>
#include <gtest/gtest.h>

#include <climits>

#include "ItemArray.h"

namespace {

TEST(ItemArray, NewCapacity) {
    const struct {
        const char* fault;
        int newSize, count, growBy;
        int expected;
    } cases[] = {
        {"the first row reserves the minimum step of 4 beyond it", 1, 0, 0, 5},
        {"the step is count / 8 from 40 rows on", 41, 40, 0, 46},
        {"the step uses the count before the append", 64, 63, 0, 71},
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

// Dropped rows come back as zero rows, and no index at or past the size is read.
TEST(ItemArray, ReadsOnlyItsRowsAndDroppedRowsComeBackZero) {
    CItemArray<WORD> array;
    for (WORD id = 1; id <= 3; ++id) array.Add(id);
    array.SetSize(1);
    array.SetSize(3);
    EXPECT_EQ(0, array.GetAt(2)) << "a dropped row came back";
    EXPECT_THROW(array.GetAt(3), CInvalidArgException*) << "the index equal to the size was read";
}

}  // namespace
