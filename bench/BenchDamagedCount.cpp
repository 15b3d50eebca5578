// Figure 6: the update step's walk (the count, then every index) over archives whose entry
// counts are damaged: a count believed in full must not cost seconds.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "BenchFigures.h"
#include "BenchTiming.h"
#include "UnpackLoops.h"

namespace {

// One stored entry whose central header's extra field runs past the end, before an end
// record claiming 65535 entries; padding bytes of stored data make the archive large
// enough to hold that many central headers, so that the count is believed in full. With
// zip64, a zip64 end record claiming 0x7FFFFFFF entries comes before the end record.
std::string DamagedCountArchive(size_t padding, bool zip64) {
    std::string a;
    // Appends each value little-endian, in 2 bytes for a 16-bit field, else in 4.
    auto put = [&a](std::initializer_list<std::pair<uint32_t, int>> fields) {
        for (const auto& f : fields) {
            for (int i = 0; i < f.second; ++i) a += static_cast<char>(f.first >> (8 * i));
        }
    };
    // clang-format off
    const std::string name = "a.txt", data(padding + 1, 'x');
    const uint32_t length = static_cast<uint32_t>(data.size()), nameLength = 5;
    put({{0x04034b50, 4}, {10, 2}, {0, 2}, {0, 2}, {0, 4}, {0, 4}, {length, 4}, {length, 4},
         {nameLength, 2}, {0, 2}});
    a += name + data;
    const uint32_t directory = static_cast<uint32_t>(a.size());
    put({{0x02014b50, 4}, {20, 2}, {10, 2}, {0, 2}, {0, 2}, {0, 4}, {0, 4}, {length, 4},
         {length, 4}, {nameLength, 2}, {0xFFFF, 2}, {0, 2}, {0, 2}, {0, 2}, {0, 4}, {0, 4}});
    a += name;
    const uint32_t size = static_cast<uint32_t>(a.size()) - directory;
    if (zip64) {
        const uint32_t record = static_cast<uint32_t>(a.size());
        put({{0x06064b50, 4}, {44, 4}, {0, 4}, {45, 2}, {45, 2}, {0, 4}, {0, 4},
             {0x7FFFFFFF, 4}, {0, 4}, {0x7FFFFFFF, 4}, {0, 4}, {size, 4}, {0, 4},
             {directory, 4}, {0, 4}});
        put({{0x07064b50, 4}, {0, 4}, {record, 4}, {0, 4}, {1, 4}});
    }
    put({{0x06054b50, 4}, {0, 2}, {0, 2}, {0xFFFF, 2}, {0xFFFF, 2}, {size, 4}, {directory, 4},
         {0, 2}});
    // clang-format on
    return a;
}

// What the update step does with an archive: the count, then every index in turn.
bool WalkEveryIndex(const char* archive, int* count, int* failed) {
    ZipOwner zip(ZipOpen(archive, 0, ZipLocationFileName));
    ZipEntry entry = {};
    if (zip == nullptr || ZipGetEntry(zip, -1, &entry) != ZipOk) return false;
    *count = entry.index;
    *failed = 0;
    for (int32_t i = 0; i < *count; ++i) {
        if (ZipGetEntry(zip, i, &entry) != ZipOk) ++*failed;
    }
    return true;
}

}  // namespace

void BenchDamagedCount(const Options& o, Report& report) {
    const struct {
        const char* figure;
        size_t padding;
        bool zip64;
    } archives[] = {{"6 walk damaged count, 109 bytes", 0, false},
                    {"6 walk damaged count, 3 MB", 65535 * 46, false},
                    {"6 walk damaged count, zip64 2^31-1", 0, true}};
    for (const auto& a : archives) {
        const std::string path = Format("archives\\damaged%u%s.zip",
                                        static_cast<unsigned>(a.padding), a.zip64 ? "z" : "");
        if (!WriteWholeFile(path, DamagedCountArchive(a.padding, a.zip64))) {
            Fail("cannot write " + path);
        }
        RecordTouched(path);
        int count = 0, failed = 0;
        std::vector<double> ms;
        for (int r = 0; r < o.reps; ++r) {
            ms.push_back(Timed([&] { return WalkEveryIndex(path.c_str(), &count, &failed); }));
        }
        const double median = Median(ms);
        report.Row(a.figure, Format("%.1f ms: %d indexes, %d corrupt", median, count, failed), "-",
                   "-", "< 1000 ms");
        report.Verdict(
            "6 damaged count", median >= 0 && median < 1000,
            Format("%.1f ms for the walk, %s (goal below a second)", median, a.figure + 22));
    }
}
