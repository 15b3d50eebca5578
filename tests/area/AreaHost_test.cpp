// Area.dll as the lobby uses it: linked through its import library, tables built by the
// library, names looked up with GetID. What needs a combo box is in AreaWindow_test.cpp.
#include <windows.h>
#include <gtest/gtest.h>

#include "Area.h"

namespace {

// Each name is looked up in both tables; a name of one is never found in the other.
TEST(GetID, FindsTheFirstRowWithTheName) {
    const struct {
        const char* fault;
        const wchar_t* name;
        WORD area, degree;
    } cases[] = {
        {"the first row of a name wins: the province 北京 over its district", L"北京", 2, 0},
        {"the district 河北 under 天津 comes before the province", L"河北", 49, 0},
        {"the root", L"中国", 1, 0},
        {"the last row", L"嘉义", 416, 0},
        {"the highest level", L"博士", 0, 1},
        {"the lowest level", L"小学及以下", 0, 7},
        {"a name in neither table, a prefix of one", L"北", 0, 0},
        {"a trailing space is not ignored", L"北京 ", 0, 0},
        {"the empty name", L"", 0, 0},
        {"a null name", nullptr, 0, 0},
        {"an added name is kept to 19 characters", L"abcdefghijklmnopqrs", 600, 8},
        {"and found only so", L"abcdefghijklmnopqrstuvwxyz", 0, 0},
    };
    CAreaData area;
    CDegreeData degree;
    area.AddArea(600, 1, L"abcdefghijklmnopqrstuvwxyz");
    degree.AddDegree(8, L"abcdefghijklmnopqrstuvwxyz");
    for (const auto& c : cases) {
        EXPECT_EQ(c.area, area.GetID(c.name)) << c.fault;
        EXPECT_EQ(c.degree, degree.GetID(c.name)) << c.fault;
    }
}

}  // namespace
