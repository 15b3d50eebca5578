// Fetching by entries: an entry is taken as in place only by its size and checksum (or the
// signed hash), the ranges carry exactly the records that differ, and anything doubtful
// sends the archive whole.
#include <gtest/gtest.h>

#include <cstring>

#include "EntryPlan.h"

namespace {

DirectoryEntry Entry(const char* name, uint64_t offset, uint64_t compressed) {
    DirectoryEntry e;
    e.name = name;
    e.localOffset = offset;
    e.compressedSize = compressed;
    e.size = 100;
    e.crc32 = 7;
    e.folder = name[std::strlen(name) - 1] == '/';
    return e;
}

TEST(EntryPlan, AnEntryIsInPlaceOnlyWhenItsFileIsIt) {
    const uint8_t hash[32] = {9};
    // size, crc, first byte of the file's SHA-256 (0: not hashed); with the signed hash or not
    const struct {
        const char* fault;
        const char* name;
        bool exists;
        uint64_t size;
        uint32_t crc;
        uint8_t sha;
        bool keyed, inPlace;
    } cases[] = {
        {"the same file is fetched again", "a", true, 100, 7, 0, false, true},
        {"a missing file is taken as in place", "a", false, 100, 7, 0, false, false},
        {"a file of another size is taken", "a", true, 101, 7, 0, false, false},
        {"a file of another checksum is taken", "a", true, 100, 8, 0, false, false},
        {"with a key, a checksum stands for the hash", "a", true, 100, 7, 8, true, false},
        {"with a key, the signed file is fetched again", "a", true, 100, 7, 9, true, true},
        {"a folder entry is fetched", "m/", false, 0, 0, 0, false, true},
    };
    for (const auto& c : cases) {
        InstalledFile f;
        f.exists = c.exists;
        f.size = c.size;
        f.crc32 = c.crc;
        f.hashed = c.sha != 0;
        f.sha256[0] = c.sha;
        EXPECT_EQ(c.inPlace, IsEntryInPlace(Entry(c.name, 0, 1), f, c.keyed ? hash : nullptr))
            << c.fault;
    }
}

TEST(EntryPlan, RangesCarryTheRecordsThatDifferAndDoubtSendsTheArchiveWhole) {
    // Records at 0, 1000, 2000 and 200000, listed out of file order; the directory at 300000.
    const std::vector<DirectoryEntry> entries = {Entry("d", 200000, 100), Entry("a", 0, 100),
                                                 Entry("b", 1000, 100), Entry("c", 2000, 100)};
    const uint64_t whole = 400000, other = 399999;
    const struct {
        const char* fault;
        std::vector<DirectoryEntry> entries;
        std::vector<bool> fetch;
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        WholeBecause why;
        unsigned status = 206;
        bool validator = true;
        const uint64_t* manifest = nullptr;
    } cases[] = {
        // clang-format off
        {"nothing changed: something asked for", entries, {false, false, false, false}, {}, WholeBecause::None},
        {"a record runs to the next one's start", entries, {false, true, false, false}, {{0, 999}}, WholeBecause::None},
        {"the last runs to the directory", entries, {true, false, false, false}, {{200000, 299999}}, WholeBecause::None},
        {"neighbours closer than the bound fetched apart", entries, {false, true, false, true}, {{0, 199999}}, WholeBecause::None},
        {"records far apart merged", entries, {true, true, false, false}, {{0, 999}, {200000, 299999}}, WholeBecause::None},
        {"a 200 to the range", entries, {false, true, false, false}, {{0, 999}}, WholeBecause::NoRanges, 200},
        {"no validator to ask If-Range with", entries, {false, true, false, false}, {{0, 999}}, WholeBecause::NoValidator, 206, false},
        {"the manifest lists another size", entries, {false, true, false, false}, {{0, 999}}, WholeBecause::SizeDisagrees, 206, true, &other},
        {"more than half the archive", entries, {true, true, true, true}, {{0, 299999}}, WholeBecause::TooMuch},
        {"two entries at one offset", {Entry("a", 0, 10), Entry("b", 0, 10)}, {true, true}, {}, WholeBecause::DirectoryDamaged},
        {"a record past the directory", {Entry("a", 300000, 10)}, {true}, {}, WholeBecause::DirectoryDamaged},
        {"data longer than its record", {Entry("a", 0, 90), Entry("b", 100, 10)}, {true, true}, {}, WholeBecause::DirectoryDamaged},
        // clang-format on
    };
    for (const auto& c : cases) {
        const EntryPlan plan = PlanRanges(c.entries, c.fetch, 300000);
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        uint64_t bytes = 0;
        for (const ByteRange& r : plan.ranges) {
            ranges.push_back({r.first, r.last});
            bytes += r.last + 1 - r.first;
        }
        EXPECT_EQ(c.ranges, ranges) << c.fault;
        EXPECT_EQ(bytes, plan.bytes) << c.fault;
        EXPECT_EQ(c.why, WhetherEntriesPay(c.status, c.validator, whole, whole, c.manifest, plan))
            << c.fault;
    }
    EXPECT_EQ(WholeBecause::SizeDisagrees,
              WhetherEntriesPay(206, true, whole, other, nullptr, PlanRanges(entries, {}, 300000)))
        << "the archive is not the record's size";
}

TEST(EntryPlan, SmallArchivesComeWholeAndTheTailGrowsWithTheArchive) {
    // listed size, bytes asked for first
    const uint64_t rows[][2] = {{0, 65536},          {256 * 1024 - 1, 0}, {256 * 1024, 16384},
                                {2 << 20, 32768},    {64 << 20, 65536}};
    for (const auto& row : rows) EXPECT_EQ(row[1], TailToAsk(row[0])) << row[0];
}

}  // namespace
