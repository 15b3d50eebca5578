// Entry records: attributes, times, the checks on each entry, the cache, lookup by name.
#include <gtest/gtest.h>

#include <cstring>

#include "ZipInternal.h"
#include "ZipTestSupport.h"

namespace {

constexpr int32_t kWrite = 1600000000;  // 2020-09-13 12:26:40 UTC
constexpr int32_t kAccess = 1600000100;
constexpr int32_t kCreation = 1500000000;  // 2017-07-14 02:40:00 UTC
constexpr int64_t kDos = -1;               // in Times: the DOS time stays

using Check = std::function<void(const ZipEntry&)>;

Check Attributes(uint32_t expected) {
    return [expected](const ZipEntry& e) { EXPECT_EQ(expected, e.attributes) << std::hex; };
}

// Each time as seconds since 1970, or kDos for the sample DOS time taken as it stands.
Check Times(int64_t write, int64_t access, int64_t creation) {
    return [=](const ZipEntry& e) {
        auto expected = [](int64_t t) {
            return Ticks(t == kDos ? SampleDosTime() : FromUnixTime(t));
        };
        EXPECT_EQ(expected(write), Ticks(e.writeTime));
        EXPECT_EQ(expected(access), Ticks(e.accessTime));
        EXPECT_EQ(expected(creation), Ticks(e.creationTime));
    };
}

EntrySpec File(const std::string& name = "a.txt") { return EntrySpec(name, "data"); }
EntrySpec Utf8(const std::string& name) {
    EntrySpec e = File(name);
    e.flags = 0x800;
    return e;
}
Check Name(const std::string& expected) {
    return [expected](const ZipEntry& e) { EXPECT_EQ(expected, e.name); };
}
EntrySpec Timed(const std::string& extra) { return Extra(File(), extra); }

// The entry asked for is followed by two more, for the rows that damage the way there.
struct RecordCase {
    const char* name;
    EntrySpec entry;
    Patch patch;
    Check check;  // null: the entry is refused as corrupt
    int32_t index = 0;
};

const RecordCase kRecordCases[] = {
    {"DosFileCarriesArchiveAndReadOnly", Dos(File(), 0x20), nullptr, Attributes(0xA1)},
    {"DosDirectoryBitWithoutSlash", Dos(File("dir"), 0x10), nullptr, Attributes(0x91)},
    {"DosHiddenAndSystemKept", Dos(File(), 0x06), nullptr, Attributes(0x87)},
    {"UnixOwnerWriteIsWritable", Unix(File(), kUnixFile644), nullptr, Attributes(0x80)},
    {"UnixWithoutOwnerWriteIsReadOnly", Unix(File(), kUnixFile444), nullptr, Attributes(0x81)},
    {"UnixFolderTypeWithoutSlash", Unix(File("d"), kUnixFolder755), nullptr, Attributes(0x90)},
    {"FolderMarkedOnlyByItsSlash", Unix(EntrySpec("d/", "")), nullptr, Attributes(0x90)},
    // The trail byte of a code page 936 character can be 0x5C, which is no separator.
    {"TrailByteBackslashIsNoFolder", Unix(File("\x95\\")), nullptr, Attributes(0x80)},
    {"DosTimeInAllThree", File(), nullptr, Times(kDos, kDos, kDos)},
    {"TimestampFlags3SetWriteAndAccess", Timed(TimestampBlock(3, {kWrite, kAccess})), nullptr,
     Times(kWrite, kAccess, kDos)},
    // The skip must use the block's 16-bit size; one not a multiple of 4 is not walked into.
    {"BlockOf301BytesBeforeTimestampSkippedWhole",
     Timed(ExtraBlock(1, std::string(301, 'U')) + TimestampBlock(7, {kWrite, kAccess, kCreation})),
     nullptr, Times(kWrite, kAccess, kCreation)},
    // The block's own size ends it, even where the field goes on.
    {"TimestampAnnouncingMoreThanItHolds",
     Timed(TimestampBlock(7, {kWrite}) + ExtraBlock(1, std::string(8, 'U'))), nullptr,
     Times(kWrite, kDos, kDos)},
    // "UT", size 13, flags 7, then the field ends after the first time.
    {"TimestampRunningPastTheField",
     Timed(std::string("\x55\x54\x0d\x00\x07", 5) + TimestampBlock(1, {kWrite}).substr(5)), nullptr,
     Times(kWrite, kDos, kDos)},
    {"OnlyTheFirstTimestampCounts",
     Timed(TimestampBlock(1, {kWrite}) + TimestampBlock(1, {kCreation})), nullptr,
     Times(kWrite, kDos, kDos)},
    {"TimeBefore1970KeepsTheDosTime", Timed(TimestampBlock(1, {-86400})), nullptr,
     Times(kDos, kDos, kDos)},
    {"NameOf259BytesKept", File(std::string(259, 'n')), nullptr, Name(std::string(259, 'n'))},
    // A name flagged as UTF-8 comes in the process code page (936 here), exactly or with
    // "?" (which the name rule refuses) for what the code page cannot spell.
    {"Utf8NameConverted", Utf8("\xE5\x8C\xBA\xE5\x9F\x9F/\xE7\x9C\x81\xE4\xBB\xBD.txt"), nullptr,
     Name("\xC7\xF8\xD3\xF2/\xCA\xA1\xB7\xDD.txt")},
    {"Utf8CharacterNotInTheCodePage", Utf8("\xF0\x9F\x98\x80.txt"), nullptr, Name("??.txt")},
    {"Utf8FlagOnBytesThatAreNoUtf8", Utf8("\xC7\xF8.txt"), nullptr, Name("??.txt")},
    {"UnflaggedNameAsStored", File("\xC7\xF8.txt"), nullptr, Name("\xC7\xF8.txt")},
    // minizip hands method 12 out as raw bytes and encrypted data as if it were plain.
    {"Method12", File(), SetMethod(12), nullptr},
    {"Encrypted", File(), SetFlags(1), nullptr},
    {"NameOf260Bytes", File(std::string(260, 'n')), nullptr, nullptr},
    {"DamagedLocalHeader", File(), [](Bytes& a, const Layout& l) { Put32(a, l.local[0], 1); },
     nullptr},
    {"LocalNameOfOtherLength", File(),
     [](Bytes& a, const Layout& l) { Put16(a, l.local[0] + kLocalNameLength, 4); }, nullptr},
    {"EntryCountedByTheEndRecordButMissing", File(),
     [](Bytes& a, const Layout& l) { Put32(a, l.endRecord + kEndEntriesHere, 0x00040004); },
     nullptr, 3},
};

TEST(Records, DescribeOrRefuseTheEntry) {
    for (const RecordCase& c : kRecordCases) {
        SCOPED_TRACE(c.name);
        Bytes archive = BuildPatched({c.entry, File("b"), File("c")}, c.patch);
        ZipHandle* zip = OpenInMemory(archive);
        ASSERT_NE(nullptr, zip);
        ZipEntry entry;
        std::memset(&entry, 0xAB, sizeof entry);
        ZipResult expected = c.check ? ZipOk : ZipCorrupt;
        EXPECT_EQ(expected, ZipGetEntry(zip, c.index, &entry));
        EXPECT_EQ(expected, ZipLastResult);
        if (c.check) {
            EXPECT_EQ(c.index, entry.index);
            c.check(entry);
        } else {
            EXPECT_EQ(static_cast<int32_t>(0xABABABAB), entry.index) << "record touched";
        }
        ZipClose(zip);
    }
}

// A damaged header fails its index and every later one at once, without reading; entries
// before it stay reachable; the count and refused indexes leave the cached record alone.
TEST(Records, WalkCacheAndCount) {
    Bytes archive = BuildPatched({File("a"), File("b"), File("c"), File("d")},
                                 [](Bytes& a, const Layout& l) { Put32(a, l.central[2], 0); });
    ZipHandle* zip = OpenInMemory(archive);
    ASSERT_NE(nullptr, zip);
    ZipEntry b, count, again;
    EXPECT_EQ(ZipCorrupt, ZipGetEntry(zip, 2, &b));
    const uint64_t damagedAt = ZipBytesRead(zip);
    EXPECT_EQ(ZipCorrupt, ZipGetEntry(zip, 3, &b));
    EXPECT_EQ(ZipCorrupt, ZipGetEntry(zip, 2, &b));
    EXPECT_EQ(damagedAt, ZipBytesRead(zip)) << "an index past the damage was read for";
    ASSERT_EQ(ZipOk, ZipGetEntry(zip, 1, &b));
    EXPECT_STREQ("b", b.name);
    ASSERT_EQ(ZipOk, ZipGetEntry(zip, 0, &again));
    EXPECT_STREQ("a", again.name);
    ASSERT_EQ(ZipOk, ZipGetEntry(zip, 1, &b));
    uint64_t before = ZipBytesRead(zip);

    std::memset(&count, 0xAB, sizeof count);
    ASSERT_EQ(ZipOk, ZipGetEntry(zip, -1, &count));
    EXPECT_EQ(4, count.index);
    EXPECT_STREQ("", count.name);
    EXPECT_EQ(0u, count.attributes + Ticks(count.writeTime) + count.uncompressedSize);
    std::memset(&again, 0xAB, sizeof again);
    EXPECT_EQ(ZipBadArguments, ZipGetEntry(zip, 4, &again));
    EXPECT_EQ(ZipBadArguments, ZipGetEntry(zip, -2, &again));
    EXPECT_EQ(static_cast<int32_t>(0xABABABAB), again.index);
    ZipLastResult = ZipOk;
    EXPECT_EQ(ZipBadArguments, ZipGetEntry(zip, 0, nullptr));
    EXPECT_EQ(ZipBadArguments, ZipLastResult);

    ASSERT_EQ(ZipOk, ZipGetEntry(zip, 1, &again));
    EXPECT_EQ(before, ZipBytesRead(zip)) << "the record of entry 1 was built again";
    EXPECT_EQ(0, std::memcmp(&b, &again, sizeof b));
    ZipClose(zip);
}

// With ignoreCase only ASCII letters fold, never a trail byte: "\x81\x41" and "\x81\x61" are
// two characters of code page 936 whose trail bytes are "A" and "a". Every name a record
// holds is found, the longest too.
TEST(Records, FindFoldsOnlyAsciiLettersAndFindsWhatTheWalkReaches) {
    const std::string longest(259, 'n');
    const Bytes archive = BuildArchive(
        {File("Readme.TXT"), File("\x81\x41.txt"), File("\x81\x61.txt"), File(longest)});
    ZipHandle* zip = OpenInMemory(archive);
    ASSERT_NE(nullptr, zip);
    const struct {
        std::string name;
        bool ignoreCase;
        int32_t index;  // -1: not found
    } cases[] = {{"README.txt", true, 0},
                 {"README.txt", false, -1},
                 {"\x81\x61.txt", true, 2},
                 {longest, false, 3},
                 {longest + "n", false, -1}};
    for (const auto& c : cases) {
        int32_t index = 99;
        EXPECT_EQ(c.index < 0 ? ZipEntryNotFound : ZipOk,
                  ZipFindEntry(zip, c.name.c_str(), c.ignoreCase, &index, nullptr)) << c.name;
        EXPECT_EQ(c.index, index) << c.name;
    }
    ZipClose(zip);
}

// A disk that fails to read is no damage: every access path says so, none marks the
// directory damaged, and once the disk reads again every entry answers.
TEST(Records, AFailedReadIsNoDamage) {
    ScratchFolder folder;
    const std::string path = folder / "a.zip";
    ASSERT_TRUE(WriteBytes(path, BuildArchive({File("a"), File("b"), File("c")})));
    ZipHandle* zip = ZipOpen(path.c_str(), 0, ZipLocationFileName);
    ASSERT_NE(nullptr, zip);
    ZipSource& source = zip->reader->source;
    HANDLE readable = nullptr;
    DuplicateHandle(GetCurrentProcess(), source.handle, GetCurrentProcess(), &readable, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    source.handle.Reset(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    for (SourceWindow& window : source.windows) window.length = 0;
    ZipEntry e;
    std::string target = folder / "out.txt";
    EXPECT_EQ(ZipReadFailed, ZipGetEntry(zip, 1, &e));
    EXPECT_EQ(ZipReadFailed, ZipFindEntry(zip, "c", false, nullptr, nullptr));
    EXPECT_EQ(ZipReadFailed, ZipExtractEntry(zip, 2, &target[0], 0, ZipLocationFileName));
    for (int32_t i = 0; i < 3; ++i) EXPECT_FALSE(ZipIsPastDamage(zip, i)) << i;
    source.handle.Reset(readable);
    EXPECT_EQ(ZipOk, ZipGetEntry(zip, 1, &e));
    EXPECT_EQ(ZipOk, ZipFindEntry(zip, "c", false, nullptr, nullptr));
    EXPECT_EQ(ZipOk, ZipExtractEntry(zip, 2, &target[0], 0, ZipLocationFileName));
    ZipClose(zip);
}

}  // namespace
