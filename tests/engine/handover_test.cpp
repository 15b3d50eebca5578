#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>
#include <cstring>
#include <string>
#include <vector>

#include "HandOver.h"

namespace {

struct Record {
    std::string name;
    DWORD size, date, time;
};
using Bytes = std::vector<unsigned char>;

// Writes a hand-over file the way the lobby lays it out.
Bytes MakeHandOver(WORD declared, const std::vector<Record>& records) {
    const HandOverHeader header = {0xBEEF, declared, 0x01020304, 0x80000001, "http://127.0.0.1/"};
    std::vector<HandOverRecord> laid;
    for (const Record& r : records) {
        laid.push_back({{}, r.size, r.date, r.time});
        std::memcpy(laid.back().szName, r.name.c_str(), std::min<size_t>(r.name.size() + 1, 36));
    }
    return FormatHandOver(header, laid);
}

// Index of the first item that differs from its record, or -1.
int FirstMismatch(const UpdateItem* items, const std::vector<Record>& records) {
    for (size_t i = 0; i < records.size(); ++i) {
        const UpdateItem& it = items[i];
        if (it.bDone != 0 || records[i].name != it.szName || records[i].size != it.dwSize ||
            records[i].date != it.dwDate || records[i].time != it.dwTime)
            return static_cast<int>(i);
    }
    return -1;
}

TEST(ParseHandOver, AcceptsOnlyWholeTerminatedFiles) {
    const std::vector<Record> two = {{"a.zip", 1, 0x01D00000, 0xFFFFFFF0}, {"b", 4, 5, 6}};
    std::vector<Record> all(0xFFFF, Record{"x.zip", 1, 2, 3});
    all.back() = {"last.zip", 7, 8, 9};
    const std::vector<Record> longest = {{std::string(35, 'n'), 1, 2, 3}};
    Bytes unterminatedName = MakeHandOver(1, {{"a.zip", 1, 2, 3}});
    std::memset(unterminatedName.data() + 272, 'x', 36);
    Bytes unterminatedUrl = MakeHandOver(0, {});
    std::memset(unterminatedUrl.data() + 12, 'h', 260);
    Bytes truncated = MakeHandOver(2, two);
    truncated.pop_back();

    struct Case {
        const char* fault;
        Bytes file;
        std::vector<Record> accepted;  // empty: refused, unless the list is empty
        bool ok;
    } cases[] = {
        {"empty list runs at once", MakeHandOver(0, {}), {}, true},
        {"every field of two records, in order", MakeHandOver(2, two), two, true},
        {"65535 records: the count is unsigned", MakeHandOver(0xFFFF, all), all, true},
        {"35-byte name is the longest allowed", MakeHandOver(1, longest), longest, true},
        {"header cut short", Bytes(271, 0), {}, false},
        {"fewer records than declared", MakeHandOver(3, {{"a", 1, 2, 3}}), {}, false},
        {"65535 declared, none present", MakeHandOver(0xFFFF, {}), {}, false},
        {"last record one byte short", truncated, {}, false},
        {"name without terminator", unterminatedName, {}, false},
        {"URL without terminator", unterminatedUrl, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        HandOverHeader header;
        std::memset(&header, 0xCC, sizeof header);
        UpdateItem* items = reinterpret_cast<UpdateItem*>(1);
        const bool ok = ParseHandOver(c.file.data(), c.file.size(), header, items);
        EXPECT_EQ(c.ok, ok);
        if (!ok) {
            EXPECT_EQ(nullptr, items);
            continue;
        }
        EXPECT_EQ(0, std::memcmp(&header, c.file.data(), sizeof header)) << "header as written";
        EXPECT_EQ(-1, FirstMismatch(items, c.accepted));
        delete[] items;
    }
}

TEST(ReadHandOver, ConsumesOnlyAnAcceptedFile) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    const std::string path = dir + ("handover_test_" + std::to_string(GetCurrentProcessId()));
    auto remove = [&] {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    };
    const DWORD kReadOnly = FILE_ATTRIBUTE_READONLY, kHidden = FILE_ATTRIBUTE_HIDDEN;
    struct Case {
        const char* fault;
        bool exists;
        WORD declared;  // 1 record is written: 2 declared is refused
        DWORD attributes;
        bool ok;
        DWORD remaining;  // read-only, hidden and system after the read; INVALID_...: deleted
    } cases[] = {
        {"missing file", false, 1, 0, false, INVALID_FILE_ATTRIBUTES},
        {"plain file is deleted", true, 1, FILE_ATTRIBUTE_NORMAL, true, INVALID_FILE_ATTRIBUTES},
        {"read-only file is read and stays", true, 1, kReadOnly, true, kReadOnly},
        {"hidden read-only keeps read-only only", true, 1, kReadOnly | kHidden, true, kReadOnly},
        {"a refused file is left for the operator", true, 2, kHidden, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        if (c.exists) {
            const Bytes bytes = MakeHandOver(c.declared, {{"a.zip", 1, 2, 3}});
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            SetFileAttributesA(path.c_str(), c.attributes);
        }
        HandOverHeader header;
        UpdateItem* items = reinterpret_cast<UpdateItem*>(1);
        EXPECT_EQ(c.ok, ReadHandOver(path.c_str(), header, items));
        if (c.ok) {
            ASSERT_NE(nullptr, items);
            EXPECT_STREQ("a.zip", items[0].szName);
            delete[] items;
        } else {
            EXPECT_EQ(nullptr, items);
        }
        const DWORD left = GetFileAttributesA(path.c_str());
        EXPECT_EQ(c.remaining, left == INVALID_FILE_ATTRIBUTES ? left : left & 0x7);
        remove();
    }
}

}  // namespace
