// Entry records: attributes, times, the checks on each entry, the cache, lookup by name.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "Zip.h"
#include "ZipInternal.h"
#include "ZipTestSupport.h"

namespace {

constexpr int32_t kWrite = 1600000000;  // 2020-09-13 12:26:40 UTC
constexpr int32_t kAccess = 1600000100;
constexpr int32_t kCreation = 1500000000;  // 2017-07-14 02:40:00 UTC

// The sample DOS time as the record holds it: local time, no zone applied.
FILETIME SampleDosTime() {
    SYSTEMTIME st{};
    st.wYear = 2021;
    st.wMonth = 6;
    st.wDay = 15;
    st.wHour = 12;
    st.wMinute = 34;
    st.wSecond = 56;
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

using Patch = std::function<void(Bytes&, const Layout&)>;
using Check = std::function<void(const ZipEntry&)>;

void NoPatch(Bytes&, const Layout&) {}

struct RecordCase {
    const char* name;
    std::vector<EntrySpec> entries;
    Patch patch;
    int32_t index;
    ZipResult expected;
    Check check;
};

Check Attributes(uint32_t expected) {
    return [expected](const ZipEntry& e) { EXPECT_EQ(expected, e.attributes) << std::hex; };
}

Check Times(FILETIME write, FILETIME access, FILETIME creation) {
    return [=](const ZipEntry& e) {
        EXPECT_EQ(Ticks(write), Ticks(e.writeTime));
        EXPECT_EQ(Ticks(access), Ticks(e.accessTime));
        EXPECT_EQ(Ticks(creation), Ticks(e.creationTime));
    };
}

EntrySpec WithExtra(const std::string& extra) {
    EntrySpec e{"timed.txt", "data"};
    e.localExtra = extra;
    return e;
}

EntrySpec Unix(const std::string& name, uint32_t external) {
    EntrySpec e{name, name.back() == '/' ? "" : "data"};
    e.madeBy = kMadeByUnix;
    e.external = external;
    return e;
}

EntrySpec Dos(const std::string& name, uint32_t external) {
    EntrySpec e{name, name.back() == '/' ? "" : "data"};
    e.external = external;
    return e;
}

void SetMethod(Bytes& a, const Layout& l, uint16_t method) {
    Put16(a, l.local[0] + kLocalMethod, method);
    Put16(a, l.central[0] + kCentralMethod, method);
}

void SetFlag(Bytes& a, const Layout& l, uint16_t bit) {
    Put16(a, l.local[0] + kLocalFlags, Get16(a, l.local[0] + kLocalFlags) | bit);
    Put16(a, l.central[0] + kCentralFlags, Get16(a, l.central[0] + kCentralFlags) | bit);
}

const FILETIME kDos = SampleDosTime();

const RecordCase kRecordCases[] = {
    {"DosMadeFileCarriesNormalArchiveAndReadOnly",
     {Dos("a.txt", 0x20)},
     NoPatch,
     0,
     ZipOk,
     Attributes(0x80 | 0x20 | 0x01)},
    {"DosMadeFolderAlsoCarriesDirectory",
     {Dos("dir/", 0x10)},
     NoPatch,
     0,
     ZipOk,
     Attributes(0x80 | 0x10 | 0x01)},
    {"DosHiddenAndSystemKept",
     {Dos("h.sys", 0x06)},
     NoPatch,
     0,
     ZipOk,
     Attributes(0x80 | 0x02 | 0x04 | 0x01)},
    {"UnixFileWithOwnerWriteIsWritable",
     {Unix("w.txt", kUnixFile644)},
     NoPatch,
     0,
     ZipOk,
     Attributes(0x80)},
    {"UnixFileWithoutOwnerWriteIsReadOnly",
     {Unix("r.txt", kUnixFile444)},
     NoPatch,
     0,
     ZipOk,
     Attributes(0x80 | 0x01)},
    {"UnixFolderIsDirectory",
     {Unix("d/", kUnixFolder755)},
     NoPatch,
     0,
     ZipOk,
     Attributes(0x80 | 0x10)},
    {"FolderMarkedOnlyByItsTrailingSlash",
     {Unix("d/", kUnixFile644)},
     NoPatch,
     0,
     ZipOk,
     Attributes(0x80 | 0x10)},
    {"DosTimeInAllThreeWithoutExtendedTimestamp",
     {{"t.txt", "data"}},
     NoPatch,
     0,
     ZipOk,
     Times(kDos, kDos, kDos)},
    {"TimestampFlags3SetWriteAndAccessOnly",
     {WithExtra(TimestampBlock(3, {kWrite, kAccess}))},
     NoPatch,
     0,
     ZipOk,
     Times(FromUnixTime(kWrite), FromUnixTime(kAccess), kDos)},
    {"TimestampFlags7SetAllThree",
     {WithExtra(TimestampBlock(7, {kWrite, kAccess, kCreation}))},
     NoPatch,
     0,
     ZipOk,
     Times(FromUnixTime(kWrite), FromUnixTime(kAccess), FromUnixTime(kCreation))},
    {"BlockOf300BytesBeforeTimestampSkippedWhole",
     {WithExtra(ExtraBlock(0x1234, std::string(300, 'U')) +
                TimestampBlock(7, {kWrite, kAccess, kCreation}))},
     NoPatch,
     0,
     ZipOk,
     Times(FromUnixTime(kWrite), FromUnixTime(kAccess), FromUnixTime(kCreation))},
    {"TimestampAnnouncingMoreThanItHoldsReadsOnlyWhatItHolds",
     {WithExtra(TimestampBlock(7, {kWrite}))},
     NoPatch,
     0,
     ZipOk,
     Times(FromUnixTime(kWrite), kDos, kDos)},
    {"TimestampRunningPastTheFieldReadsOnlyTheField",
     // "UT", size 13, flags 7, then the field ends after the first time.
     {WithExtra(std::string("\x55\x54\x0d\x00\x07", 5) + TimestampBlock(1, {kWrite}).substr(5))},
     NoPatch,
     0,
     ZipOk,
     Times(FromUnixTime(kWrite), kDos, kDos)},
    {"OnlyTheFirstTimestampBlockCounts",
     {WithExtra(TimestampBlock(1, {kWrite}) + TimestampBlock(1, {kCreation}))},
     NoPatch,
     0,
     ZipOk,
     Times(FromUnixTime(kWrite), kDos, kDos)},
    {"TimeBefore1970KeepsTheDosTime",
     {WithExtra(TimestampBlock(1, {-86400}))},
     NoPatch,
     0,
     ZipOk,
     Times(kDos, kDos, kDos)},
    {"Method12IsCorrupt",
     {{"b.bz2", "data", 0}},
     [](Bytes& a, const Layout& l) { SetMethod(a, l, 12); },
     0,
     ZipCorrupt,
     nullptr},
    {"Method99IsCorrupt",
     {{"aes.bin", "data", 0}},
     [](Bytes& a, const Layout& l) { SetMethod(a, l, 99); },
     0,
     ZipCorrupt,
     nullptr},
    {"EncryptedEntryIsCorrupt",
     {{"secret.txt", "data", 0}},
     [](Bytes& a, const Layout& l) { SetFlag(a, l, 1); },
     0,
     ZipCorrupt,
     nullptr},
    {"DataDescriptorEntryTakesSizesFromTheDirectory",
     {{"dd.txt", "twelve bytes", 8}},
     [](Bytes& a, const Layout& l) {
         SetFlag(a, l, 8);
         Put32(a, l.local[0] + kLocalCrc, 0);
         Put32(a, l.local[0] + kLocalCompressed, 0);
         Put32(a, l.local[0] + kLocalUncompressed, 0);
     },
     0,
     ZipOk,
     [](const ZipEntry& e) { EXPECT_EQ(12u, e.uncompressedSize); }},
    {"NameOf259BytesKept",
     {{std::string(259, 'n'), "data"}},
     NoPatch,
     0,
     ZipOk,
     [](const ZipEntry& e) { EXPECT_EQ(std::string(259, 'n'), e.name); }},
    {"NameOf260BytesRefused", {{std::string(260, 'n'), "data"}}, NoPatch, 0, ZipCorrupt, nullptr},
    {"DamagedLocalHeaderIsCorrupt",
     {{"a.txt", "data"}},
     [](Bytes& a, const Layout& l) { Put32(a, l.local[0], 0x01020304); },
     0,
     ZipCorrupt,
     nullptr},
    {"LocalNameOfOtherLengthIsCorrupt",
     {{"a.txt", "data"}},
     [](Bytes& a, const Layout& l) { Put16(a, l.local[0] + kLocalNameLength, 4); },
     0,
     ZipCorrupt,
     nullptr},
    {"DamagedCentralHeaderBeforeTheEntryEndsTheWalk",
     {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}},
     [](Bytes& a, const Layout& l) { Put32(a, l.central[1], 0x01020304); },
     2,
     ZipCorrupt,
     nullptr},
    {"EntryCountedByTheEndRecordButMissingIsCorrupt",
     {{"a.txt", "a"}},
     [](Bytes& a, const Layout& l) {
         Put16(a, l.endRecord + kEndEntriesHere, 2);
         Put16(a, l.endRecord + kEndEntries, 2);
     },
     1,
     ZipCorrupt,
     nullptr},
};

class RecordTest : public testing::TestWithParam<RecordCase> {};

TEST_P(RecordTest, DescribesOrRefusesTheEntry) {
    const RecordCase& c = GetParam();
    Bytes archive = BuildArchive(c.entries);
    c.patch(archive, ReadLayout(archive));
    ZipHandle* zip =
        ZipOpen(archive.data(), static_cast<uint32_t>(archive.size()), ZipLocationMemory);
    ASSERT_NE(nullptr, zip);
    ZipEntry entry;
    std::memset(&entry, 0xAB, sizeof entry);
    EXPECT_EQ(c.expected, ZipGetEntry(zip, c.index, &entry));
    EXPECT_EQ(c.expected, ZipLastResult);
    if (c.expected == ZipOk) {
        EXPECT_EQ(c.index, entry.index);
        if (c.check) c.check(entry);
    } else {
        EXPECT_EQ(static_cast<int32_t>(0xABABABAB), entry.index) << "record touched on failure";
    }
    ZipClose(zip);
}

INSTANTIATE_TEST_SUITE_P(Entries, RecordTest, testing::ValuesIn(kRecordCases),
                         [](const testing::TestParamInfo<RecordCase>& info) {
                             return info.param.name;
                         });

// An archive of three entries held open in memory.
class ThreeEntries : public testing::Test {
protected:
    void SetUp() override {
        m_archive = BuildArchive({{"a.txt", "alpha"}, {"b.txt", "beta"}, {"c.txt", "gamma"}});
        m_zip =
            ZipOpen(m_archive.data(), static_cast<uint32_t>(m_archive.size()), ZipLocationMemory);
        ASSERT_NE(nullptr, m_zip);
    }
    void TearDown() override {
        if (m_zip != nullptr) ZipClose(m_zip);
    }
    Bytes m_archive;
    ZipHandle* m_zip = nullptr;
};

TEST_F(ThreeEntries, CountLeavesTheCachedRecordAlone) {
    ZipEntry b;
    ASSERT_EQ(ZipOk, ZipGetEntry(m_zip, 1, &b));
    uint64_t before = ZipBytesRead(m_zip);

    ZipEntry count;
    std::memset(&count, 0xAB, sizeof count);
    ASSERT_EQ(ZipOk, ZipGetEntry(m_zip, -1, &count));
    EXPECT_EQ(3, count.index);
    EXPECT_STREQ("", count.name);
    EXPECT_EQ(0u, count.attributes);
    EXPECT_EQ(0u, Ticks(count.writeTime));
    EXPECT_EQ(0u, count.uncompressedSize);

    ZipEntry again;
    ASSERT_EQ(ZipOk, ZipGetEntry(m_zip, 1, &again));
    EXPECT_EQ(before, ZipBytesRead(m_zip)) << "the record of entry 1 was built again";
    EXPECT_EQ(0, std::memcmp(&b, &again, sizeof b));
}

TEST_F(ThreeEntries, IndexOutOfRangeAndNullRecordAreBadArguments) {
    ZipEntry e;
    std::memset(&e, 0xAB, sizeof e);
    EXPECT_EQ(ZipBadArguments, ZipGetEntry(m_zip, 3, &e));
    EXPECT_EQ(ZipBadArguments, ZipGetEntry(m_zip, -2, &e));
    EXPECT_EQ(ZipBadArguments, ZipLastResult);
    EXPECT_EQ(static_cast<int32_t>(0xABABABAB), e.index);
    EXPECT_EQ(ZipBadArguments, ZipGetEntry(m_zip, 0, nullptr));
}

TEST_F(ThreeEntries, WalkingBackwardsStartsAgainFromTheFirstEntry) {
    ZipEntry e;
    ASSERT_EQ(ZipOk, ZipGetEntry(m_zip, 2, &e));
    EXPECT_STREQ("c.txt", e.name);
    ASSERT_EQ(ZipOk, ZipGetEntry(m_zip, 0, &e));
    EXPECT_STREQ("a.txt", e.name);
    ASSERT_EQ(ZipOk, ZipGetEntry(m_zip, 1, &e));
    EXPECT_STREQ("b.txt", e.name);
}

TEST(RecordWalk, EntriesBeforeADamagedHeaderStayReadable) {
    Bytes archive = BuildArchive({{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    Put32(archive, ReadLayout(archive).central[2], 0);
    ZipHandle* zip =
        ZipOpen(archive.data(), static_cast<uint32_t>(archive.size()), ZipLocationMemory);
    ASSERT_NE(nullptr, zip);
    ZipEntry e;
    EXPECT_EQ(ZipCorrupt, ZipGetEntry(zip, 2, &e));
    ASSERT_EQ(ZipOk, ZipGetEntry(zip, 1, &e));
    EXPECT_STREQ("b.txt", e.name);
    ZipClose(zip);
}

// Lookup by name: "\x81\x41" and "\x81\x61" are two different characters of code page 936
// whose trail bytes happen to be "A" and "a".
const std::vector<EntrySpec> kNamed = {
    {"Readme.TXT", "readme"},  {"docs/Guide.txt", "guide"},  {"\x81\x41.txt", "upper trail"},
    {"\x81\x61.txt", "lower"}, {"docs/guide.txt", "second"}, {"broken.bz2", "x", 0},
};

struct FindCase {
    const char* name;
    std::string search;
    bool ignoreCase;
    ZipResult expected;
    int32_t index;
};

const FindCase kFindCases[] = {
    {"ExactNameFound", "Readme.TXT", false, ZipOk, 0},
    {"OtherCaseNotFoundWithoutFolding", "readme.txt", false, ZipEntryNotFound, -1},
    {"OtherCaseFoundWithFolding", "README.txt", true, ZipOk, 0},
    {"FirstOfTwoFoldedEqualNamesWins", "DOCS/GUIDE.TXT", true, ZipOk, 1},
    {"ExactMatchOfTheSecondSpelling", "docs/guide.txt", false, ZipOk, 4},
    {"TrailByteOfDoubleByteCharacterNeverFolds", "\x81\x61.txt", true, ZipOk, 3},
    {"SeparatorsAreNotInterchangeable", "docs\\Guide.txt", true, ZipEntryNotFound, -1},
    {"NameOf256BytesNotFound", std::string(256, 'R'), true, ZipEntryNotFound, -1},
    {"EmptyNameNotFound", "", false, ZipEntryNotFound, -1},
};

class FindTest : public testing::TestWithParam<FindCase> {};

TEST_P(FindTest, FindsTheFirstEqualName) {
    const FindCase& c = GetParam();
    Bytes archive = BuildArchive(kNamed);
    ZipHandle* zip =
        ZipOpen(archive.data(), static_cast<uint32_t>(archive.size()), ZipLocationMemory);
    ASSERT_NE(nullptr, zip);
    int32_t index = 99;
    ZipEntry record;
    std::memset(&record, 0xAB, sizeof record);
    EXPECT_EQ(c.expected, ZipFindEntry(zip, c.search.c_str(), c.ignoreCase, &index, &record));
    EXPECT_EQ(c.expected, ZipLastResult);
    EXPECT_EQ(c.index, index);
    EXPECT_EQ(c.index, record.index);
    if (c.expected == ZipOk) {
        EXPECT_STREQ(kNamed[c.index].name.c_str(), record.name);
    } else {
        EXPECT_STREQ("", record.name);
        EXPECT_EQ(0u, record.uncompressedSize);
    }
    ZipClose(zip);
}

INSTANTIATE_TEST_SUITE_P(Names, FindTest, testing::ValuesIn(kFindCases),
                         [](const testing::TestParamInfo<FindCase>& info) {
                             return info.param.name;
                         });

TEST(FindRecord, FailureOfTheFoundEntrysRecordIsReturnedWithItsIndex) {
    Bytes archive = BuildArchive(kNamed);
    Layout layout = ReadLayout(archive);
    Put16(archive, layout.local[5] + kLocalMethod, 12);
    Put16(archive, layout.central[5] + kCentralMethod, 12);
    ZipHandle* zip =
        ZipOpen(archive.data(), static_cast<uint32_t>(archive.size()), ZipLocationMemory);
    ASSERT_NE(nullptr, zip);
    int32_t index = -1;
    ZipEntry record;
    EXPECT_EQ(ZipCorrupt, ZipFindEntry(zip, "broken.bz2", false, &index, &record));
    EXPECT_EQ(5, index);
    EXPECT_EQ(ZipOk, ZipFindEntry(zip, "broken.bz2", false, &index, nullptr));
    EXPECT_EQ(ZipOk, ZipFindEntry(zip, "Readme.TXT", false, nullptr, nullptr));
    ZipClose(zip);
}

}  // namespace
