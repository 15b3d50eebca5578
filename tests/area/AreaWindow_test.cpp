// How the tables fill real combo boxes: which items, in which order, with which data.
#include <windows.h>
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "Area.h"
#include "TestBox.h"

namespace {

const std::vector<BoxItem> kBeijing = {
    {L"北京", 3},  {L"东城", 4},    {L"崇文", 5},  {L"宣武", 6},  {L"朝阳", 7},  {L"丰台", 8},
    {L"海淀", 9},  {L"门头沟", 10}, {L"房山", 11}, {L"通州", 12}, {L"顺义", 13}, {L"昌平", 14},
    {L"大兴", 15}, {L"平谷", 16},   {L"怀柔", 17}, {L"密云", 18}, {L"延庆", 19},
};

const std::vector<BoxItem> kDegrees = {
    {L"博士", 1}, {L"研究生", 2}, {L"本科", 3},       {L"大中专", 4},
    {L"高中", 5}, {L"初中", 6},   {L"小学及以下", 7},
};

std::vector<BoxItem> Twice(std::vector<BoxItem> items) {
    std::vector<BoxItem> twice = items;
    twice.insert(twice.end(), items.begin(), items.end());
    return twice;
}

struct FillCase {
    const char* fault;
    std::vector<WORD> parents;  // GetArea calls on one box, in this order
    std::vector<BoxItem> expected;
};

TEST(AreaFill, ShowsTheChildrenOfOneParent) {
    const FillCase cases[] = {
        {"the cities of 北京, in table order, with their identifiers", {2}, kBeijing},
        {"the single district of 澳门", {531}, {{L"澳门", 409}}},
        {"a city has no children", {7}, {}},
        {"the shared identifier 134 has no children", {134}, {}},
        {"an identifier no row names", {0xFFFF}, {}},
        {"a second fill appends: the box is never emptied", {2, 2}, Twice(kBeijing)},
        {"a childless fill after a fill leaves the box as it was", {2, 19, 0xFFFF}, kBeijing},
    };
    CAreaData area;
    for (const FillCase& c : cases) {
        TestBox box;
        for (WORD parent : c.parents) area.GetArea(parent, box.Box());
        EXPECT_EQ(c.expected, box.Items()) << c.fault;
        EXPECT_EQ(CB_ERR, box.Box()->GetCurSel()) << c.fault << ": nothing is selected";
    }
}

// In a sorted box the items move; each must keep its own identifier.
TEST(AreaFill, SortedBoxKeepsDataWithItsText) {
    CAreaData area;
    TestBox box(CBS_SORT);
    area.GetArea(1, box.Box());
    TestBox unsorted;
    area.GetArea(1, unsorted.Box());
    std::map<std::wstring, LRESULT> provinces;
    for (const BoxItem& item : unsorted.Items()) provinces[item.text] = item.data;

    std::vector<BoxItem> items = box.Items();
    ASSERT_EQ(34u, items.size());
    for (const BoxItem& item : items) EXPECT_EQ(provinces[item.text], item.data);
    EXPECT_NE(unsorted.Items(), items) << "the box did not sort: the test proves nothing";

    TestBox degrees(CBS_SORT);
    CDegreeData degree;
    degree.GetDegree(degrees.Box());
    std::vector<BoxItem> sorted = degrees.Items();
    ASSERT_EQ(7u, sorted.size());
    for (const BoxItem& item : sorted) EXPECT_EQ(degree.GetID(item.text.c_str()), item.data);
}

TEST(AreaFill, AddedRowsShowUnderTheirParent) {
    CAreaData area;
    area.AddArea(9001, 9000, L"一二三四五六七八九十ABCDEFGHIJKLMNO");
    area.AddArea(2, 9000, L"重复");
    area.AddArea(2, 9000, L"重复");
    area.AddArea(9002, 1, L"新省");
    TestBox box;
    area.GetArea(9000, box.Box());
    EXPECT_EQ((std::vector<BoxItem>{
                  {L"一二三四五六七八九十ABCDEFGHI", 9001}, {L"重复", 2}, {L"重复", 2}}),
              box.Items());
    TestBox provinces;
    area.GetArea(1, provinces.Box());
    ASSERT_EQ(35u, provinces.Items().size());
    EXPECT_EQ((BoxItem{L"新省", 9002}), provinces.Items().back());
}

TEST(AreaFill, CopyShowsTheSameRowsInTheSameOrder) {
    CAreaData source;
    source.AddArea(9001, 2, L"新区");
    CAreaData copy(source);
    CAreaData assigned;
    assigned = source;
    source.AddArea(9002, 2, L"后加");
    std::vector<BoxItem> expected = kBeijing;
    expected.push_back({L"新区", 9001});
    for (CAreaData* table : {&copy, &assigned}) {
        TestBox box;
        table->GetArea(2, box.Box());
        EXPECT_EQ(expected, box.Items());
    }
}

// A 16-bit row counter would wrap at 65,536: the walk would never end.
TEST(AreaFill, ReachesRowsPast65535) {
    CAreaData area;
    for (int i = 450; i < 65536 + 10; ++i) area.AddArea(7, 9000, L"填充");
    area.AddArea(4242, 9001, L"远端");
    TestBox box;
    area.GetArea(9001, box.Box());
    EXPECT_EQ((std::vector<BoxItem>{{L"远端", 4242}}), box.Items());
}

TEST(AreaFill, NoBoxOrNoWindowIsIgnored) {
    CAreaData area;
    CDegreeData degree;
    CComboBox unbound;
    area.GetArea(1, nullptr);
    area.GetArea(1, &unbound);
    degree.GetDegree(nullptr);
    degree.GetDegree(&unbound);
    SUCCEED();
}

TEST(DegreeFill, ShowsTheSevenLevelsInOrder) {
    CDegreeData degree;
    TestBox box;
    degree.GetDegree(box.Box());
    EXPECT_EQ(kDegrees, box.Items());
    degree.GetDegree(box.Box());
    EXPECT_EQ(Twice(kDegrees), box.Items()) << "a second fill appends";
    EXPECT_EQ(CB_ERR, box.Box()->GetCurSel());
}

TEST(DegreeFill, RepeatsAreListed) {
    CDegreeData degree;
    degree.AddDegree(3, L"本科");
    degree.AddDegree(8, L"本科");
    TestBox box;
    degree.GetDegree(box.Box());
    std::vector<BoxItem> expected = kDegrees;
    expected.push_back({L"本科", 3});
    expected.push_back({L"本科", 8});
    EXPECT_EQ(expected, box.Items());
}

// A box that refuses an item answers CB_ADDSTRING with a negative index; as the index of
// CB_SETITEMDATA, -1 would address every item.
WNDPROC g_boxProc = nullptr;
std::vector<WPARAM> g_dataIndexes;
LRESULT CALLBACK RefusingBoxProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == CB_ADDSTRING && lstrcmpW(reinterpret_cast<LPCWSTR>(lParam), L"重庆") == 0) {
        return CB_ERRSPACE;
    }
    if (message == CB_SETITEMDATA) g_dataIndexes.push_back(wParam);
    return CallWindowProcW(g_boxProc, hWnd, message, wParam, lParam);
}

TEST(AreaFill, RefusedItemGetsNoData) {
    CAreaData area;
    TestBox box;
    HWND hBox = box.Box()->GetSafeHwnd();
    g_dataIndexes.clear();
    g_boxProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hBox, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RefusingBoxProc)));
    area.GetArea(1, box.Box());
    SetWindowLongPtrW(hBox, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_boxProc));

    EXPECT_EQ(33u, g_dataIndexes.size());
    for (WPARAM index : g_dataIndexes) EXPECT_LT(index, 33u) << "data sent for a refused item";
    std::vector<BoxItem> items = box.Items();
    ASSERT_EQ(33u, items.size());
    EXPECT_EQ((BoxItem{L"天津", 501}), items[2]);
    EXPECT_EQ((BoxItem{L"河北", 503}), items[3]);
}

}  // namespace
