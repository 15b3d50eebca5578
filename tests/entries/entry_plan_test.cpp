// Fetching by entries: an entry is taken as in place only by its size and checksum (or the
// signed hash), the ranges carry exactly the records that differ, and anything doubtful
// sends the archive whole.
#include <gtest/gtest.h>

#include "EntryPlan.h"

namespace {

DirectoryEntry Entry(const char* name, uint64_t offset, uint64_t compressed, uint32_t crc = 7) {
    DirectoryEntry e;
    e.name = name;
    e.localOffset = offset;
    e.compressedSize = compressed;
    e.size = compressed * 2;
    e.crc32 = crc;
    return e;
}

TEST(EntryPlan, AnEntryIsInPlaceOnlyWhenItsFileIsIt) {
    const DirectoryEntry entry = Entry("a.txt", 0, 50);
    DirectoryEntry folder = Entry("m/", 0, 0);
    folder.folder = true;
    const uint8_t signedHash[32] = {9};
    InstalledFile same;
    same.exists = same.hashed = true;
    same.size = 100;
    same.crc32 = 7;
    same.sha256[0] = 9;
    InstalledFile missing, longer = same, otherCrc = same, otherHash = same;
    longer.size = 101;
    otherCrc.crc32 = 8;
    otherHash.sha256[0] = 8;
    const struct {
        const char* fault;
        const DirectoryEntry& entry;
        const InstalledFile& file;
        const uint8_t* sha;
        bool inPlace;
    } cases[] = {
        {"the same file is fetched again", entry, same, nullptr, true},
        {"a missing file is taken as in place", entry, missing, nullptr, false},
        {"a file of another size is taken", entry, longer, nullptr, false},
        {"a file of another checksum is taken", entry, otherCrc, nullptr, false},
        {"with a key, a checksum stands for the signed hash", entry, otherHash, signedHash, false},
        {"with a key, the signed file is fetched again", entry, same, signedHash, true},
        {"a folder entry is fetched", folder, missing, nullptr, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.inPlace, IsEntryInPlace(c.entry, c.file, c.sha)) << c.fault;
    }
}

TEST(EntryPlan, RangesCarryTheRecordsThatDiffer) {
    // Records at 0, 1000, 2000 and 200000 (listed out of file order), the directory at
    // 300000.
    const std::vector<DirectoryEntry> entries = {Entry("d", 200000, 100), Entry("a", 0, 100),
                                                 Entry("b", 1000, 100), Entry("c", 2000, 100)};
    const uint64_t directory = 300000;
    const struct {
        const char* fault;
        std::vector<bool> fetch;
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        uint64_t bytes;
    } cases[] = {
        {"nothing changed: something asked for", {false, false, false, false}, {}, 0},
        {"a record runs to the next one's start", {false, true, false, false}, {{0, 999}}, 1000},
        {"the last runs to the directory", {true, false, false, false}, {{200000, 299999}}, 100000},
        {"neighbours closer than the bound in one range", {false, true, false, true},
         {{0, 199999}}, 200000},
        {"touching records in one range", {false, false, true, true}, {{1000, 199999}}, 199000},
        {"records far apart in two ranges", {true, true, false, false}, {{0, 999}, {200000, 299999}},
         101000},
    };
    for (const auto& c : cases) {
        const EntryPlan plan = PlanRanges(entries, c.fetch, directory);
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        for (const ByteRange& r : plan.ranges) ranges.push_back({r.first, r.last});
        EXPECT_EQ(WholeBecause::None, plan.whole) << c.fault;
        EXPECT_EQ(c.bytes, plan.bytes) << c.fault;
        EXPECT_EQ(c.ranges, ranges) << c.fault;
    }
}

TEST(EntryPlan, AnythingDoubtfulFetchesTheArchiveWhole) {
    const std::vector<bool> all = {true, true};
    const EntryPlan fine = PlanRanges({Entry("a", 0, 10), Entry("b", 100, 10)}, {true, false}, 1000);
    const uint64_t size = 1000, other = 999;
    const struct {
        const char* fault;
        EntryPlan plan;
        unsigned status;
        bool validator;
        const uint64_t* manifest;
        WholeBecause why;
    } cases[] = {
        {"by entries", fine, 206, true, &size, WholeBecause::None},
        {"a 200 to the range", fine, 200, true, nullptr, WholeBecause::NoRanges},
        {"no validator to ask If-Range with", fine, 206, false, nullptr, WholeBecause::NoValidator},
        {"the manifest lists another size", fine, 206, true, &other, WholeBecause::SizeDisagrees},
        {"two entries at one offset",
         PlanRanges({Entry("a", 0, 10), Entry("b", 0, 10)}, all, 1000), 206, true, nullptr,
         WholeBecause::DirectoryDamaged},
        {"a record past the directory",
         PlanRanges({Entry("a", 0, 10), Entry("b", 1000, 10)}, all, 1000), 206, true, nullptr,
         WholeBecause::DirectoryDamaged},
        {"data longer than its record",
         PlanRanges({Entry("a", 0, 90), Entry("b", 100, 10)}, all, 1000), 206, true, nullptr,
         WholeBecause::DirectoryDamaged},
        {"more than half the archive", PlanRanges({Entry("a", 0, 10), Entry("b", 100, 10)},
                                                  {false, true}, 900),
         206, true, nullptr, WholeBecause::TooMuch},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.why, WhetherEntriesPay(c.status, c.validator, size, size, c.manifest, c.plan))
            << c.fault;
    }
    EXPECT_EQ(WholeBecause::SizeDisagrees, WhetherEntriesPay(206, true, size, other, nullptr, fine))
        << "the archive is not the record's size";
}

}  // namespace
