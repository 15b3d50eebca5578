// How the tables fill real combo boxes: the whole built-in data set province by province,
// which items, in which order, with which data.
#include <windows.h>
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "Area.h"

namespace {

struct BoxItem {
    std::wstring text;
    LRESULT data;
    bool operator==(const BoxItem& other) const { return text == other.text && data == other.data; }
};

void PrintTo(const BoxItem& item, std::ostream* os) {
    *os << "{";
    for (wchar_t c : item.text) *os << "\\x" << std::hex << static_cast<unsigned>(c) << std::dec;
    *os << ", " << item.data << "}";
}

// An empty COMBOBOX (CBS_SORT in extraStyle for a sorted one) in a hidden top-level
// window, and what it shows.
class TestBox {
public:
    explicit TestBox(DWORD extraStyle = 0)
        : m_frame(CreateWindowExW(0, L"STATIC", L"area test", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300,
                                  nullptr, nullptr, nullptr, nullptr)) {
        m_box.Attach(CreateWindowExW(0, L"COMBOBOX", nullptr,
                                     WS_CHILD | WS_VSCROLL | CBS_DROPDOWNLIST | extraStyle, 10, 10,
                                     200, 200, m_frame, nullptr, nullptr, nullptr));
    }
    ~TestBox() { DestroyWindow(m_frame); }
    TestBox(const TestBox&) = delete;
    TestBox& operator=(const TestBox&) = delete;

    CComboBox* Box() { return &m_box; }
    std::vector<BoxItem> Items() const {
        std::vector<BoxItem> items;
        for (int i = 0; i < m_box.GetCount(); ++i) {
            WPARAM index = static_cast<WPARAM>(i);
            std::wstring text(static_cast<size_t>(SendMessageW(m_box, CB_GETLBTEXTLEN, index, 0)),
                              L'\0');
            SendMessageW(m_box, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
            items.push_back({text, SendMessageW(m_box, CB_GETITEMDATA, index, 0)});
        }
        return items;
    }

private:
    HWND m_frame;
    CComboBox m_box;  // the window goes with its parent
};

struct City {
    WORD id;
    const wchar_t* name;
};

struct Province {
    WORD id;
    const wchar_t* name;
    int cities;
    City first;
    City last;
};

// In table order. Within a province the city identifiers run without a gap from first to
// last, and each province continues where the previous one ended: together they cover
// 3 to 416, 134 twice.
// clang-format off
const Province kProvinces[] = {
    {2, L"北京", 17, {3, L"北京"}, {19, L"延庆"}},
    {500, L"上海", 20, {20, L"上海"}, {39, L"崇明"}},
    {501, L"天津", 20, {40, L"天津"}, {59, L"大邱庄"}},
    {502, L"重庆", 20, {60, L"重庆"}, {79, L"南川"}},
    {503, L"河北", 11, {80, L"石家庄"}, {90, L"衡水"}},
    {504, L"山西", 11, {91, L"太原"}, {101, L"运城"}},
    {505, L"内蒙古", 10, {102, L"呼和浩特"}, {111, L"鄂尔多斯"}},
    {506, L"辽宁", 14, {112, L"沈阳"}, {125, L"葫芦岛"}},
    {507, L"吉林", 9, {126, L"长春"}, {134, L"延边"}},
    {508, L"黑龙江", 13, {134, L"哈尔滨"}, {146, L"大兴安岭"}},
    {509, L"江苏", 13, {147, L"南京"}, {159, L"宿迁"}},
    {510, L"浙江", 11, {160, L"杭州"}, {170, L"丽水"}},
    {511, L"安徽", 18, {171, L"合肥"}, {188, L"宣城"}},
    {512, L"福建", 10, {189, L"福州"}, {198, L"平潭"}},
    {513, L"江西", 11, {199, L"南昌"}, {209, L"抚州"}},
    {514, L"山东", 17, {210, L"济南"}, {226, L"莱芜"}},
    {515, L"河南", 18, {227, L"郑州"}, {244, L"济源"}},
    {516, L"湖北", 17, {245, L"武汉"}, {261, L"神农架"}},
    {517, L"湖南", 14, {262, L"长沙"}, {275, L"湘西"}},
    {518, L"广东", 21, {276, L"广州"}, {296, L"云浮"}},
    {519, L"广西", 14, {297, L"南宁"}, {310, L"崇左"}},
    {520, L"海南", 3, {311, L"海口"}, {313, L"三沙"}},
    {521, L"四川", 18, {314, L"成都"}, {331, L"资阳"}},
    {522, L"贵州", 9, {332, L"贵阳"}, {340, L"黔南"}},
    {523, L"云南", 8, {341, L"昆明"}, {348, L"临沧"}},
    {524, L"西藏", 7, {349, L"拉萨"}, {355, L"阿里"}},
    {525, L"陕西", 10, {356, L"西安"}, {365, L"商洛"}},
    {526, L"甘肃", 14, {366, L"兰州"}, {379, L"甘南"}},
    {527, L"宁夏", 5, {380, L"银川"}, {384, L"中卫"}},
    {528, L"青海", 8, {385, L"西宁"}, {392, L"海西"}},
    {529, L"新疆", 13, {393, L"乌鲁木齐"}, {405, L"伊犁"}},
    {530, L"香港", 3, {406, L"香港"}, {408, L"新界"}},
    {531, L"澳门", 1, {409, L"澳门"}, {409, L"澳门"}},
    {532, L"台湾", 7, {410, L"台北"}, {416, L"嘉义"}},
};
// clang-format on

const WORD kSharedCityID = 134;  // 延边 (last of 吉林) and 哈尔滨 (first of 黑龙江)

TEST(AreaDataSet, EveryProvinceAndCity) {
    CAreaData area;
    TestBox root, provinces, cityChildren;
    area.GetArea(0, root.Box());
    EXPECT_EQ((std::vector<BoxItem>{{L"中国", 1}}), root.Items()) << "the root is not alone";
    area.GetArea(1, provinces.Box());
    std::vector<BoxItem> expected;
    for (const Province& p : kProvinces) expected.push_back({p.name, p.id});
    EXPECT_EQ(expected, provinces.Items());

    int total = 0;
    WORD previousLast = 2;
    for (const Province& p : kProvinces) {
        SCOPED_TRACE(testing::Message() << "province " << p.id);
        TestBox box;
        area.GetArea(p.id, box.Box());
        std::vector<BoxItem> items = box.Items();
        ASSERT_EQ(static_cast<size_t>(p.cities), items.size());
        EXPECT_EQ((BoxItem{p.first.name, p.first.id}), items.front());
        EXPECT_EQ((BoxItem{p.last.name, p.last.id}), items.back());
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(static_cast<LRESULT>(p.first.id + i), items[i].data) << "city " << i;
            EXPECT_GE(items[i].text.size(), 2u);
            EXPECT_LE(items[i].text.size(), 4u);
        }
        EXPECT_EQ(p.first.id == kSharedCityID ? previousLast : previousLast + 1, p.first.id);
        previousLast = p.last.id;
        total += static_cast<int>(items.size());
    }
    EXPECT_EQ(415, total);
    for (WORD id = 3; id <= 416; ++id) area.GetArea(id, cityChildren.Box());
    EXPECT_TRUE(cityChildren.Items().empty()) << "a city has children";
}

const std::vector<BoxItem> kBeijing = {
    {L"北京", 3},  {L"东城", 4},    {L"崇文", 5},  {L"宣武", 6},  {L"朝阳", 7},  {L"丰台", 8},
    {L"海淀", 9},  {L"门头沟", 10}, {L"房山", 11}, {L"通州", 12}, {L"顺义", 13}, {L"昌平", 14},
    {L"大兴", 15}, {L"平谷", 16},   {L"怀柔", 17}, {L"密云", 18}, {L"延庆", 19},
};

std::vector<BoxItem> operator+(std::vector<BoxItem> a, const std::vector<BoxItem>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(AreaFill, ShowsTheChildrenOfOneParent) {
    CAreaData area;
    area.AddArea(9001, 9000, L"一二三四五六七八九十ABCDEFGHIJKLMNO");
    area.AddArea(2, 9000, L"重复");
    area.AddArea(2, 9000, L"重复");
    area.AddArea(9002, 2, L"新区");
    const std::vector<BoxItem> kBeijingNow = kBeijing + std::vector<BoxItem>{{L"新区", 9002}};
    const struct {
        const char* fault;
        std::vector<WORD> parents;  // GetArea calls on one box, in this order
        std::vector<BoxItem> expected;
    } cases[] = {
        {"added rows come after the built-in ones", {2}, kBeijingNow},
        {"added rows are cut, and repeats are listed",
         {9000},
         {{L"一二三四五六七八九十ABCDEFGHI", 9001}, {L"重复", 2}, {L"重复", 2}}},
        {"an identifier no row names", {0xFFFF}, {}},
        {"a second fill appends: the box is never emptied", {2, 2}, kBeijingNow + kBeijingNow},
        {"a childless fill after a fill leaves the box as it was", {2, 19, 0xFFFF}, kBeijingNow},
    };
    for (const auto& c : cases) {
        TestBox box;
        for (WORD parent : c.parents) area.GetArea(parent, box.Box());
        EXPECT_EQ(c.expected, box.Items()) << c.fault;
        EXPECT_EQ(CB_ERR, box.Box()->GetCurSel()) << c.fault << ": something was selected";
    }
}

// In a sorted box the items move; each must keep its own identifier.
TEST(AreaFill, SortedBoxKeepsDataWithItsText) {
    CAreaData area;
    TestBox sorted(CBS_SORT), unsorted;
    area.GetArea(1, sorted.Box());
    area.GetArea(1, unsorted.Box());
    std::map<std::wstring, LRESULT> provinces;
    for (const BoxItem& item : unsorted.Items()) provinces[item.text] = item.data;
    std::vector<BoxItem> items = sorted.Items();
    ASSERT_EQ(34u, items.size());
    for (const BoxItem& item : items) EXPECT_EQ(provinces[item.text], item.data);
    EXPECT_NE(unsorted.Items(), items) << "the box did not sort: the test proves nothing";
}

// A 16-bit row counter would wrap at 65,536: the walk would never end.
TEST(AreaFill, ReachesRowsPast65535) {
    CAreaData area;
    for (int i = 450; i < 65536 + 10; ++i) area.AddArea(7, 9000, L"填充");
    area.AddArea(4242, 9001, L"远端");
    TestBox box;
    area.GetArea(9001, box.Box());
    EXPECT_EQ((std::vector<BoxItem>{{L"远端", 4242}}), box.Items());
    EXPECT_EQ(4242, area.GetID(L"远端"));
    EXPECT_EQ(0, area.GetID(L"不在"));
}

TEST(DegreeFill, ShowsTheSevenLevelsInOrder) {
    const std::vector<BoxItem> kDegrees = {
        {L"博士", 1}, {L"研究生", 2}, {L"本科", 3},       {L"大中专", 4},
        {L"高中", 5}, {L"初中", 6},   {L"小学及以下", 7},
    };
    CDegreeData degree;
    TestBox box;
    // A null box is ignored by both tables, as their header says; a crash ends the test.
    degree.GetDegree(nullptr);
    CAreaData().GetArea(1, nullptr);
    degree.GetDegree(box.Box());
    EXPECT_EQ(kDegrees, box.Items());
    degree.GetDegree(box.Box());
    EXPECT_EQ(kDegrees + kDegrees, box.Items()) << "a second fill emptied the box";
    EXPECT_EQ(CB_ERR, box.Box()->GetCurSel()) << "something was selected";
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
