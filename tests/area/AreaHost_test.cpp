// Area.dll as the lobby uses it: linked through its import library, tables built by the
// library, names looked up with GetID. What needs a combo box is in AreaWindow_test.cpp.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Area.h"

namespace {

// Each name is looked up in both tables; a name of one is never found in the other.
TEST(GetID, FindsTheFirstRowWithTheName) {
    const struct {
        const char* fault;
        const wchar_t* name;
        WORD area, degree;
    } cases[] = {
        {"the province 北京 must win over its district of the same name", L"北京", 2, 0},
        {"the district 河北 under 天津 comes before the province", L"河北", 49, 0},
        {"朝阳 under 北京 comes before 朝阳 under 辽宁", L"朝阳", 7, 0},
        {"the root", L"中国", 1, 0},
        {"the last row", L"嘉义", 416, 0},
        {"the highest level", L"博士", 0, 1},
        {"the lowest level", L"小学及以下", 0, 7},
        {"a name in neither table", L"硕士", 0, 0},
        {"a prefix of a name is not the name", L"北", 0, 0},
        {"a trailing space is not ignored", L"北京 ", 0, 0},
        {"the empty name", L"", 0, 0},
        {"a null name", nullptr, 0, 0},
    };
    CAreaData area;
    CDegreeData degree;
    for (const auto& c : cases) {
        EXPECT_EQ(c.area, area.GetID(c.name)) << c.fault;
        EXPECT_EQ(c.degree, degree.GetID(c.name)) << c.fault;
    }
}

// Names as both tables store them: cut to 19 characters, whole characters only.
TEST(GetID, FindsNamesAsStored) {
    const std::wstring k25 = L"一二三四五六七八九十ABCDEFGHIJKLMNO";
    const std::wstring kPair = L"\xD840\xDC00";  // one character outside the 16-bit range
    const struct {
        const char* fault;
        std::wstring added;
        std::wstring stored;     // what GetID finds it by
        std::wstring notStored;  // what it must not find it by (empty: no such check)
    } cases[] = {
        {"a 25-character name keeps its first 19", k25, k25.substr(0, 19), k25},
        {"a 20-character name loses its last", k25.substr(0, 20), k25.substr(0, 19),
         k25.substr(0, 20)},
        {"Latin letters keep their case", L"Abc", L"Abc", L"abc"},
        {"a character on the cut is dropped whole, not halved", k25.substr(0, 18) + kPair + L"Z",
         k25.substr(0, 18), k25.substr(0, 18) + kPair.substr(0, 1)},
        {"a character that ends on the cut is kept", k25.substr(0, 17) + kPair + L"Z",
         k25.substr(0, 17) + kPair, L""},
    };
    for (const auto& c : cases) {
        CAreaData area;
        area.AddArea(9001, 9000, c.added.c_str());
        CDegreeData degree;
        degree.AddDegree(91, c.added.c_str());
        EXPECT_EQ(9001, area.GetID(c.stored.c_str())) << c.fault;
        EXPECT_EQ(91, degree.GetID(c.stored.c_str())) << c.fault;
        if (!c.notStored.empty()) {
            EXPECT_EQ(0, area.GetID(c.notStored.c_str())) << c.fault;
            EXPECT_EQ(0, degree.GetID(c.notStored.c_str())) << c.fault;
        }
    }
    CAreaData area;
    area.AddArea(9001, 9000, nullptr);
    EXPECT_EQ(9001, area.GetID(L"")) << "a null name is stored empty";
    CDegreeData degree;
    degree.AddDegree(91, nullptr);
    EXPECT_EQ(91, degree.GetID(L"")) << "a null name is stored empty";
}

// Copies own their rows, in the same order: each side adds and is destroyed on its own.
TEST(AreaCopies, AreIndependentOfTheirSource) {
    auto source = std::make_unique<CAreaData>();
    source->AddArea(9001, 9000, L"源");
    CAreaData copy(*source);
    CAreaData assigned;
    assigned.AddArea(9002, 9000, L"旧");
    assigned = *source;
    source->AddArea(9003, 9000, L"源后");
    copy.AddArea(9004, 9000, L"副本");
    EXPECT_EQ(0, source->GetID(L"副本"));
    source.reset();
    for (CAreaData* table : {&copy, &assigned}) {
        EXPECT_EQ(2, table->GetID(L"北京")) << "rows out of order";
        EXPECT_EQ(532, table->GetID(L"台湾"));
        EXPECT_EQ(9001, table->GetID(L"源"));
        EXPECT_EQ(0, table->GetID(L"源后"));
    }
    EXPECT_EQ(9004, copy.GetID(L"副本"));
    EXPECT_EQ(0, assigned.GetID(L"旧")) << "assignment keeps the old rows";
    CAreaData& self = assigned;
    assigned = self;
    EXPECT_EQ(9001, assigned.GetID(L"源")) << "self-assignment lost the rows";
}

}  // namespace
