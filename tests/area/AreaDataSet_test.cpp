// The built-in data set, province by province, as a new CAreaData shows it in real boxes.
#include <windows.h>
#include <gtest/gtest.h>

#include <set>

#include "Area.h"
#include "TestBox.h"

namespace {

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
// last, and each province continues where the previous one ended.
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

const int kCities = 415;
const WORD kSharedCityID = 134;  // 延边 (last of 吉林) and 哈尔滨 (first of 黑龙江)

TEST(AreaDataSet, RootIsTheOnlyChildOfZero) {
    CAreaData area;
    TestBox box;
    area.GetArea(0, box.Box());
    EXPECT_EQ((std::vector<BoxItem>{{L"中国", 1}}), box.Items());
}

TEST(AreaDataSet, ProvincesInTableOrder) {
    CAreaData area;
    TestBox box;
    area.GetArea(1, box.Box());
    std::vector<BoxItem> expected;
    for (const Province& p : kProvinces) expected.push_back({p.name, p.id});
    EXPECT_EQ(expected, box.Items());
}

TEST(AreaDataSet, CitiesOfEveryProvince) {
    CAreaData area;
    int total = 0;
    WORD previousLast = 2;
    std::set<WORD> used;
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
            used.insert(static_cast<WORD>(items[i].data));
        }
        WORD expectedFirst = p.first.id == kSharedCityID ? previousLast : previousLast + 1;
        EXPECT_EQ(expectedFirst, p.first.id);
        previousLast = p.last.id;
        total += static_cast<int>(items.size());
    }
    EXPECT_EQ(kCities, total);
    EXPECT_EQ(static_cast<size_t>(kCities - 1), used.size());
    EXPECT_EQ(3, *used.begin());
    EXPECT_EQ(416, *used.rbegin());
}

TEST(AreaDataSet, CitiesHaveNoChildren) {
    CAreaData area;
    TestBox box;
    for (WORD id = 3; id <= 416; ++id) area.GetArea(id, box.Box());
    EXPECT_TRUE(box.Items().empty());
}

}  // namespace
