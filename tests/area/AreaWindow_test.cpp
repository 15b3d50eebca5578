// How the tables fill real combo boxes of a Unicode host: the whole built-in data set province
// by province, which items, in which order, with which data.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Area.h"
#include "Dialog.h"

namespace {

struct BoxItem {
    std::wstring text;
    LRESULT data;
    bool operator==(const BoxItem& other) const { return text == other.text && data == other.data; }
};

// An empty COMBOBOX (CBS_SORT in extraStyle for a sorted one) in a hidden top-level
// window, bound as a host's dialog binds it (DDX_Control), and what it shows.
class TestBox {
public:
    explicit TestBox(DWORD extraStyle = 0) {
        m_frame.Attach(CreateWindowExW(0, L"STATIC", L"area test", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                                       300, nullptr, nullptr, nullptr, nullptr));
        CreateWindowExW(0, L"COMBOBOX", nullptr,
                        WS_CHILD | WS_VSCROLL | CBS_DROPDOWNLIST | extraStyle, 10, 10, 200, 200,
                        m_frame, reinterpret_cast<HMENU>(UINT_PTR{kBoxId}), nullptr, nullptr);
        CDataExchange dx(&m_frame, FALSE);
        DDX_Control(&dx, kBoxId, m_box);
    }
    ~TestBox() { DestroyWindow(m_frame); }
    TestBox(const TestBox&) = delete;
    TestBox& operator=(const TestBox&) = delete;

    CComboBox* Box() { return &m_box; }
    std::vector<BoxItem> Items() const {
        std::vector<BoxItem> items;
        const int count = static_cast<int>(SendMessageW(m_box, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            WPARAM index = static_cast<WPARAM>(i);
            std::wstring text(static_cast<size_t>(SendMessageW(m_box, CB_GETLBTEXTLEN, index, 0)),
                              L'\0');
            SendMessageW(m_box, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
            items.push_back({text, SendMessageW(m_box, CB_GETITEMDATA, index, 0)});
        }
        return items;
    }

private:
    static const int kBoxId = 100;
    CWnd m_frame;
    CComboBox m_box;  // the window goes with its parent
};

// The built-in set's shape: the root, 34 provinces under it (2, then 500 to 532), and
// under each its cities, numbered on from where the previous province's ended, from 3 to
// 416; 134 is both the last city of 吉林 and the first of 黑龙江.
TEST(AreaDataSet, EveryProvinceAndCity) {
    CAreaData area;
    TestBox root, provinces, cityChildren;
    area.GetArea(0, root.Box());
    EXPECT_EQ((std::vector<BoxItem>{{L"中国", 1}}), root.Items()) << "the root is not alone";
    area.GetArea(1, provinces.Box());
    const std::vector<BoxItem> items = provinces.Items();
    ASSERT_EQ(34u, items.size());
    EXPECT_EQ((BoxItem{L"北京", 2}), items.front());
    EXPECT_EQ((BoxItem{L"台湾", 532}), items.back());

    LRESULT next = 3;  // the first city identifier not seen yet
    int shared = 0;
    for (size_t p = 0; p < items.size(); ++p) {
        SCOPED_TRACE(testing::Message() << "province " << items[p].data);
        EXPECT_EQ(p == 0 ? 2 : static_cast<LRESULT>(499 + p), items[p].data);
        EXPECT_NE(0, area.GetID(items[p].text.c_str())) << "a name came back broken";
        TestBox box;
        area.GetArea(static_cast<WORD>(items[p].data), box.Box());
        const std::vector<BoxItem> cities = box.Items();
        ASSERT_FALSE(cities.empty());
        if (cities.front().data == next - 1) {
            ++shared;
        } else {
            EXPECT_EQ(next, cities.front().data);
        }
        for (size_t i = 0; i < cities.size(); ++i) {
            EXPECT_EQ(cities.front().data + static_cast<LRESULT>(i), cities[i].data) << i;
            EXPECT_NE(0, area.GetID(cities[i].text.c_str())) << i << ": a name came back broken";
        }
        next = cities.back().data + 1;
    }
    EXPECT_EQ(1, shared) << "only 134 is shared";
    EXPECT_EQ(417, next) << "the last city is 416";
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
    const struct {
        const char* fault;
        std::vector<WORD> parents;  // GetArea calls on one box, in this order
        std::vector<BoxItem> expected;
    } cases[] = {
        {"an identifier no row names", {0xFFFF}, {}},
        {"the children in table order; a second fill appends", {2, 2}, kBeijing + kBeijing},
        {"a childless fill after a fill leaves the box as it was", {2, 19, 0xFFFF}, kBeijing},
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
    degree.GetDegree(box.Box());
    EXPECT_EQ(kDegrees + kDegrees, box.Items()) << "the levels in order, each fill appending";
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

// A host's box object may go while a later subclasser (a skin, a tooltip library) sits over
// it, here by deleting itself in a message sent from inside another of its messages: that
// subclasser must stay, the box keep working, and neither message touch the object after it
// went. Its storage outlives it, so that such a write shows.
alignas(16) char g_box[sizeof(CComboBox)];
struct SelfDeletingBox : CComboBox {
    static void* operator new(size_t) { return g_box; }
    static void operator delete(void* p, size_t size) { std::memset(p, 0x5A, size); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message != WM_APP) return CComboBox::WindowProc(message, wParam, lParam);
        if (wParam == 0) return SendMessage(WM_APP, 1);  // the outer message
        delete this;
        return 0;
    }
};

LRESULT CALLBACK PassOn(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(reinterpret_cast<WNDPROC>(GetPropW(hWnd, L"Test.Next")), hWnd, message,
                           wParam, lParam);
}

TEST(AreaFill, BoxObjectGoesInANestedMessageUnderALaterSubclasser) {
    TestBox frame;
    HWND hBox = frame.Box()->UnsubclassWindow();
    ASSERT_TRUE((new SelfDeletingBox)->SubclassWindow(hBox));
    SetPropW(hBox, L"Test.Next", reinterpret_cast<HANDLE>(GetWindowLongPtrW(hBox, GWLP_WNDPROC)));
    SetWindowLongPtrW(hBox, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PassOn));
    SendMessageW(hBox, WM_APP, 0, 0);
    EXPECT_EQ(std::string(sizeof g_box, 0x5A), std::string(g_box, sizeof g_box))
        << "the outer message wrote to the deleted object";
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&PassOn), GetWindowLongPtrW(hBox, GWLP_WNDPROC));
    frame.Box()->Attach(hBox);
    CAreaData().GetArea(2, frame.Box());
    EXPECT_EQ(kBeijing, frame.Items());
}

}  // namespace
