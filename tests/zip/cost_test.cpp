// What a pass over a large archive costs, counted in bytes read from the archive source.
#include <gtest/gtest.h>

#include <cstdio>

#include "ZipInternal.h"
#include "ZipTestSupport.h"

namespace {

constexpr int kEntries = 2000;
// Headers are read a second time (the walk, then the record), the rest once; a walk that
// started from the first entry for every entry would read the directory ~1000 times over.
constexpr double kMostReadsPerArchiveByte = 3.0;
// minizip asks for headers a field or a byte at a time; handed to the system one by one,
// that is dozens of ReadFile calls per entry. Served from the source's windows, a pass over
// all entries needs a small fraction of one call per entry.
constexpr double kMostReadCallsPerEntry = 0.25;

TEST(Cost, ExtractingEveryEntryInIndexOrderReadsTheArchiveAboutOnce) {
    std::vector<EntrySpec> entries;
    for (int i = 0; i < kEntries; ++i) {
        char name[32], data[64];
        std::snprintf(name, sizeof name, "folder/file%04d.txt", i);
        std::snprintf(data, sizeof data, "content of entry %d, content of entry %d", i, i);
        entries.emplace_back(name, data, i % 2 == 0 ? 8 : 0);
    }
    ScratchFolder folder;
    Bytes archive = BuildArchive(entries);
    std::string path = folder / "many.zip";
    ASSERT_TRUE(WriteBytes(path, archive));
    HANDLE out = CreateFileA((folder / "all.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, out);

    ZipHandle* zip = ZipOpen(path.c_str(), 0, ZipLocationFileName);
    ASSERT_NE(nullptr, zip);
    ZipEntry entry;
    ASSERT_EQ(ZipOk, ZipGetEntry(zip, -1, &entry));
    ASSERT_EQ(kEntries, entry.index);
    // Checked as it goes, so that a walk that costs too much fails early instead of slowly.
    const double budget = kMostReadsPerArchiveByte * static_cast<double>(archive.size());
    for (int32_t i = 0; i < kEntries; ++i) {
        ASSERT_EQ(ZipOk, ZipGetEntry(zip, i, &entry)) << i;
        ASSERT_EQ(ZipOk, ZipExtractEntry(zip, i, out, 0, ZipLocationHandle)) << i;
        ASSERT_LE(static_cast<double>(ZipBytesRead(zip)), budget) << "after entry " << i;
    }
    double perByte = static_cast<double>(ZipBytesRead(zip)) / static_cast<double>(archive.size());
    double callsPerEntry = static_cast<double>(ZipReadCalls(zip)) / kEntries;
    EXPECT_LE(callsPerEntry, kMostReadCallsPerEntry);
    ZipClose(zip);
    CloseHandle(out);
    std::printf("archive %zu bytes, read %.2f times over in %.3f ReadFile calls per entry\n",
                archive.size(), perByte, callsPerEntry);
}

}  // namespace
