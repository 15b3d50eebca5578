// Area.dll as the lobby uses it: linked through its import library, tables built by the
// library, names looked up with GetID. What needs a combo box is in AreaWindow_test.cpp.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Area.h"

namespace {

struct IdCase {
    const char* fault;
    const wchar_t* name;
    WORD expected;
};

const IdCase kAreaIdCases[] = {
    {"province 北京 must win over its city of the same name", L"北京", 2},
    {"上海 province before its district", L"上海", 500},
    {"天津 province before its district", L"天津", 501},
    {"重庆 province before its district", L"重庆", 502},
    {"the district 河北 under 天津 comes before the province", L"河北", 49},
    {"朝阳 under 北京 comes before 朝阳 under 辽宁", L"朝阳", 7},
    {"the province 吉林 comes before its city", L"吉林", 507},
    {"the province 海南 comes before the city under 青海", L"海南", 520},
    {"香港 province before its district", L"香港", 530},
    {"澳门 province before its district", L"澳门", 531},
    {"the root", L"中国", 1},
    {"the last row", L"嘉义", 416},
    {"延边 keeps the shared identifier", L"延边", 134},
    {"哈尔滨 shares 134 with 延边", L"哈尔滨", 134},
    {"齐齐哈尔 follows the shared identifier", L"齐齐哈尔", 135},
    {"the city name with the 市 suffix", L"肇庆市", 283},
    {"the name as written in the table (虹挢)", L"虹挢", 51},
    {"a name not in the table", L"伦敦", 0},
    {"a prefix of a name is not the name", L"北", 0},
    {"a trailing space is not ignored", L"北京 ", 0},
    {"the empty name", L"", 0},
    {"a null name", nullptr, 0},
};

TEST(AreaGetID, FindsTheFirstRowWithTheName) {
    CAreaData area;
    for (const IdCase& c : kAreaIdCases) EXPECT_EQ(c.expected, area.GetID(c.name)) << c.fault;
}

const IdCase kDegreeIdCases[] = {
    {"the highest level is 1", L"博士", 1},
    {"研究生", L"研究生", 2},
    {"本科", L"本科", 3},
    {"大中专", L"大中专", 4},
    {"高中", L"高中", 5},
    {"初中", L"初中", 6},
    {"the lowest level is 7", L"小学及以下", 7},
    {"a name not in the list", L"硕士", 0},
    {"an area name is not a level", L"北京", 0},
    {"a null name", nullptr, 0},
};

TEST(DegreeGetID, FindsTheLevel) {
    CDegreeData degree;
    for (const IdCase& c : kDegreeIdCases) EXPECT_EQ(c.expected, degree.GetID(c.name)) << c.fault;
}

// Names as they are stored: cut to 19 characters, whole characters only.
struct NameCase {
    const char* fault;
    std::wstring added;
    std::wstring stored;     // what GetID finds it by
    std::wstring notStored;  // what it must not find it by (empty: no such check)
};

const std::wstring k25 = L"一二三四五六七八九十ABCDEFGHIJKLMNO";
const std::wstring kPair = L"\xD840\xDC00";  // one character outside the 16-bit range

const NameCase kNameCases[] = {
    {"a 25-character name keeps its first 19", k25, k25.substr(0, 19), k25},
    {"19 characters are kept whole", k25.substr(0, 19), k25.substr(0, 19), L""},
    {"a 20-character name loses its last", k25.substr(0, 20), k25.substr(0, 19), k25.substr(0, 20)},
    {"Latin letters keep their case", L"Abc", L"Abc", L"abc"},
    {"a character on the cut is dropped whole, not halved", k25.substr(0, 18) + kPair + L"Z",
     k25.substr(0, 18), k25.substr(0, 18) + kPair.substr(0, 1)},
    {"a character that ends on the cut is kept", k25.substr(0, 17) + kPair + L"Z",
     k25.substr(0, 17) + kPair, L""},
};

TEST(AreaNames, AreCutTo19Characters) {
    for (const NameCase& c : kNameCases) {
        CAreaData area;
        area.AddArea(9001, 9000, c.added.c_str());
        EXPECT_EQ(9001, area.GetID(c.stored.c_str())) << c.fault;
        if (!c.notStored.empty()) {
            EXPECT_EQ(0, area.GetID(c.notStored.c_str())) << c.fault;
        }

        CDegreeData degree;
        degree.AddDegree(91, c.added.c_str());
        EXPECT_EQ(91, degree.GetID(c.stored.c_str())) << c.fault;
        if (!c.notStored.empty()) {
            EXPECT_EQ(0, degree.GetID(c.notStored.c_str())) << c.fault;
        }
    }
}

TEST(AreaNames, NullNameIsStoredEmpty) {
    CAreaData area;
    area.AddArea(9001, 9000, nullptr);
    EXPECT_EQ(9001, area.GetID(L""));
    CDegreeData degree;
    degree.AddDegree(91, nullptr);
    EXPECT_EQ(91, degree.GetID(L""));
}

TEST(AreaRepeats, AreStoredAndTheFirstRowWins) {
    CAreaData area;
    area.AddArea(2, 9000, L"重复");    // identifier already used
    area.AddArea(600, 9000, L"重复");  // name just added
    area.AddArea(601, 1, L"上海");     // name of a province
    EXPECT_EQ(2, area.GetID(L"重复"));
    EXPECT_EQ(500, area.GetID(L"上海"));
    EXPECT_EQ(2, area.GetID(L"北京"));

    CDegreeData degree;
    degree.AddDegree(3, L"重复");
    degree.AddDegree(8, L"本科");
    EXPECT_EQ(3, degree.GetID(L"重复"));
    EXPECT_EQ(3, degree.GetID(L"本科"));
}

// A 16-bit row counter would wrap at 65,536 and never end the walk.
TEST(AreaLargeTables, LookupsReachRowsPast65535) {
    const int kRows = 65536 + 10;
    CAreaData area;
    for (int i = 450; i < kRows; ++i) area.AddArea(7, 9000, L"填充");
    area.AddArea(4242, 9001, L"远端");
    EXPECT_EQ(4242, area.GetID(L"远端"));
    EXPECT_EQ(0, area.GetID(L"不在"));

    CDegreeData degree;
    for (int i = 7; i < kRows; ++i) degree.AddDegree(7, L"填充");
    degree.AddDegree(4242, L"远端");
    EXPECT_EQ(4242, degree.GetID(L"远端"));
    EXPECT_EQ(0, degree.GetID(L"不在"));
}

// Copies own their rows: each side adds and is destroyed on its own.
TEST(AreaCopies, AreIndependentOfTheirSource) {
    auto source = std::make_unique<CAreaData>();
    source->AddArea(9001, 9000, L"源");
    CAreaData copy(*source);
    CAreaData assigned;
    assigned.AddArea(9002, 9000, L"旧");
    assigned = *source;

    source->AddArea(9003, 9000, L"源后");
    copy.AddArea(9004, 9000, L"副本");
    EXPECT_EQ(9001, copy.GetID(L"源"));
    EXPECT_EQ(0, copy.GetID(L"源后"));
    EXPECT_EQ(0, source->GetID(L"副本"));
    EXPECT_EQ(9001, assigned.GetID(L"源"));
    EXPECT_EQ(0, assigned.GetID(L"旧")) << "assignment replaces the rows";

    source.reset();
    EXPECT_EQ(532, copy.GetID(L"台湾"));
    EXPECT_EQ(9004, copy.GetID(L"副本"));
    for (int i = 0; i < 100; ++i) copy.AddArea(9005, 9000, L"再加");
    EXPECT_EQ(9005, copy.GetID(L"再加"));
    EXPECT_EQ(532, assigned.GetID(L"台湾"));

    CAreaData& self = assigned;
    assigned = self;
    EXPECT_EQ(9001, assigned.GetID(L"源")) << "self-assignment keeps the rows";
}

TEST(DegreeCopies, AreIndependentOfTheirSource) {
    auto source = std::make_unique<CDegreeData>();
    CDegreeData copy(*source);
    CDegreeData assigned;
    assigned.AddDegree(92, L"旧");
    assigned = *source;
    source->AddDegree(90, L"源后");
    source.reset();
    copy.AddDegree(91, L"副本");
    EXPECT_EQ(0, copy.GetID(L"源后"));
    EXPECT_EQ(91, copy.GetID(L"副本"));
    EXPECT_EQ(0, assigned.GetID(L"旧"));
    EXPECT_EQ(3, assigned.GetID(L"本科"));
}

std::wstring AreaDllPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"Area.dll"), path, MAX_PATH);
    return path;
}

TEST(AreaModule, CarriesVersion1200) {
    std::wstring path = AreaDllPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_NE(0u, size) << "no version resource";
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(MAKELONG(2, 1), static_cast<LONG>(fixed->dwFileVersionMS));
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(2, 1), static_cast<LONG>(fixed->dwProductVersionMS));
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
}

// A second copy of the library is a module of its own: its entry point runs on load and
// unload, and it can be loaded again after an unload.
TEST(AreaModule, LoadsAndUnloadsRepeatedly) {
    wchar_t dir[MAX_PATH] = {};
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, dir));
    std::wstring copy =
        std::wstring(dir) + L"AreaSecond-" + std::to_wstring(GetCurrentProcessId()) + L".dll";
    ASSERT_TRUE(CopyFileW(AreaDllPath().c_str(), copy.c_str(), FALSE));
    for (int round = 0; round < 2; ++round) {
        HMODULE module = LoadLibraryW(copy.c_str());
        ASSERT_NE(nullptr, module) << "round " << round << ", error " << GetLastError();
        EXPECT_NE(GetModuleHandleW(L"Area.dll"), module);
        EXPECT_TRUE(FreeLibrary(module));
        EXPECT_EQ(nullptr, GetModuleHandleW(copy.c_str())) << "still loaded after round " << round;
    }
    DeleteFileW(copy.c_str());
}

}  // namespace
