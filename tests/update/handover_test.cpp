#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "HandOver.h"

namespace {

struct Record {
    std::string name;
    DWORD size, date, time;
};

// Writes a hand-over file the way the lobby lays it out.
std::vector<unsigned char> MakeHandOver(WORD declared, const std::vector<Record>& records,
                                        const std::string& url = "http://127.0.0.1/") {
    HandOverHeader header;
    std::memset(&header, 0, sizeof header);
    header.wReserved = 0xBEEF;
    header.wCount = declared;
    header.dwFileVersion1 = 0x01020304;
    header.dwFileVersion2 = 0x80000001;
    std::memcpy(header.szServerUrl, url.c_str(), url.size() + 1);
    std::vector<unsigned char> out(reinterpret_cast<unsigned char*>(&header),
                                   reinterpret_cast<unsigned char*>(&header) + sizeof header);
    for (const Record& r : records) {
        HandOverRecord rec;
        std::memset(&rec, 0, sizeof rec);
        std::memcpy(rec.szName, r.name.c_str(), std::min<size_t>(r.name.size() + 1, 36));
        rec.dwSize = r.size;
        rec.dwDate = r.date;
        rec.dwTime = r.time;
        const auto* p = reinterpret_cast<unsigned char*>(&rec);
        out.insert(out.end(), p, p + sizeof rec);
    }
    return out;
}

struct ParseCase {
    const char* fault;
    std::vector<unsigned char> file;
    bool accepted;
    WORD count;
};

TEST(ParseHandOver, AcceptsOnlyWholeTerminatedFiles) {
    std::vector<unsigned char> unterminatedName = MakeHandOver(1, {{"a.zip", 1, 2, 3}});
    std::memset(unterminatedName.data() + 272, 'x', 36);
    std::vector<unsigned char> unterminatedUrl = MakeHandOver(0, {});
    std::memset(unterminatedUrl.data() + 12, 'h', 260);
    std::vector<unsigned char> exactly35 = MakeHandOver(1, {{std::string(35, 'n'), 1, 2, 3}});
    std::vector<unsigned char> truncated = MakeHandOver(2, {{"a.zip", 1, 2, 3}, {"b", 4, 5, 6}});
    truncated.pop_back();

    const ParseCase cases[] = {
        {"empty list runs at once", MakeHandOver(0, {}), true, 0},
        {"two records read in order", MakeHandOver(2, {{"a.zip", 1, 2, 3}, {"b", 4, 5, 6}}),
         true, 2},
        {"header cut short", std::vector<unsigned char>(271, 0), false, 0},
        {"fewer records than declared", MakeHandOver(3, {{"a", 1, 2, 3}}), false, 0},
        {"65535 declared, none present", MakeHandOver(0xFFFF, {}), false, 0},
        {"last record one byte short", truncated, false, 0},
        {"name without terminator", unterminatedName, false, 0},
        {"URL without terminator", unterminatedUrl, false, 0},
        {"35-byte name is the longest allowed", exactly35, true, 1},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.fault);
        HandOverHeader header;
        std::memset(&header, 0xCC, sizeof header);
        UpdateItem* items = reinterpret_cast<UpdateItem*>(1);
        const bool ok = ParseHandOver(c.file.data(), c.file.size(), header, items);
        EXPECT_EQ(c.accepted, ok);
        if (!ok) {
            EXPECT_EQ(nullptr, items);
            continue;
        }
        EXPECT_EQ(c.count, header.wCount);
        EXPECT_EQ(0x01020304u, header.dwFileVersion1);
        EXPECT_EQ(0x80000001u, header.dwFileVersion2);
        for (WORD i = 0; i < header.wCount; ++i) {
            EXPECT_EQ(0u, items[i].bDone);
            EXPECT_LT(std::strlen(items[i].szName), 36u);
        }
        delete[] items;
    }
}

TEST(ParseHandOver, CopiesEveryFieldOfEveryRecord) {
    std::vector<Record> records;
    for (int i = 0; i < 300; ++i) {
        records.push_back({"f" + std::to_string(i) + ".zip", DWORD(i), DWORD(0x01D00000 + i),
                           DWORD(0xFFFFFFF0 - i)});
    }
    const auto file = MakeHandOver(300, records, "http://host/base/");
    HandOverHeader header;
    UpdateItem* items = nullptr;
    ASSERT_TRUE(ParseHandOver(file.data(), file.size(), header, items));
    EXPECT_STREQ("http://host/base/", header.szServerUrl);
    for (int i = 0; i < 300; ++i) {
        EXPECT_STREQ(records[i].name.c_str(), items[i].szName);
        EXPECT_EQ(records[i].size, items[i].dwSize);
        EXPECT_EQ(records[i].date, items[i].dwDate);
        EXPECT_EQ(records[i].time, items[i].dwTime);
    }
    delete[] items;
}

TEST(ParseHandOver, CountIsUnsigned) {
    std::vector<Record> records(0xFFFF, Record{"x.zip", 1, 2, 3});
    records.back().name = "last.zip";
    const auto file = MakeHandOver(0xFFFF, records);
    HandOverHeader header;
    UpdateItem* items = nullptr;
    ASSERT_TRUE(ParseHandOver(file.data(), file.size(), header, items));
    EXPECT_EQ(65535, header.wCount);
    EXPECT_STREQ("last.zip", items[65534].szName);
    delete[] items;
}

class ReadHandOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        path_ = std::string(dir) + "handover_test_" + std::to_string(GetCurrentProcessId()) +
                ".tmp";
    }
    void TearDown() override {
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path_.c_str());
    }
    void Write(const std::vector<unsigned char>& bytes, DWORD attributes) {
        FILE* f = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(nullptr, f);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        SetFileAttributesA(path_.c_str(), attributes);
    }
    bool Exists() const { return GetFileAttributesA(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::string path_;
};

TEST_F(ReadHandOverTest, ConsumesTheFileOnceByAttributes) {
    struct Case {
        const char* fault;
        DWORD attributes;
        bool remains;         // a read-only file cannot be deleted
        DWORD remainingAttrs;  // hidden cleared, everything else as it was
    } cases[] = {
        {"plain file is deleted", FILE_ATTRIBUTE_NORMAL, false, 0},
        {"hidden file is un-hidden, read, deleted", FILE_ATTRIBUTE_HIDDEN, false, 0},
        {"read-only file is read and stays", FILE_ATTRIBUTE_READONLY, true,
         FILE_ATTRIBUTE_READONLY},
        {"hidden read-only keeps read-only only",
         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, true, FILE_ATTRIBUTE_READONLY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Write(MakeHandOver(1, {{"a.zip", 1, 2, 3}}), c.attributes);
        HandOverHeader header;
        UpdateItem* items = nullptr;
        ASSERT_TRUE(ReadHandOver(path_.c_str(), header, items));
        ASSERT_NE(nullptr, items);
        EXPECT_STREQ("a.zip", items[0].szName);
        delete[] items;
        EXPECT_EQ(c.remains, Exists());
        if (c.remains) {
            EXPECT_EQ(c.remainingAttrs, GetFileAttributesA(path_.c_str()) & 0x7);
        }
        TearDown();
    }
}

TEST_F(ReadHandOverTest, MissingOrRefusedFileIsNotConsumed) {
    HandOverHeader header;
    UpdateItem* items = nullptr;
    EXPECT_FALSE(ReadHandOver(path_.c_str(), header, items));

    Write(MakeHandOver(2, {{"a.zip", 1, 2, 3}}), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(ReadHandOver(path_.c_str(), header, items));
    EXPECT_EQ(nullptr, items);
    EXPECT_TRUE(Exists()) << "a refused file is left for the operator to look at";
}

}  // namespace
