// The one archive writer of the tests, the fuzz campaign and the benchmark: minizip's
// zip.c, entry by entry from memory, with the fields the tests vary. Not test code: the
// benchmark and the campaign use it too.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// 2021-06-15 12:34:56 as a DOS date (high word) and time (low word).
constexpr uint32_t kSampleDosTime =
    ((2021 - 1980) << 25) | (6 << 21) | (15 << 16) | (12 << 11) | (34 << 5) | (56 / 2);
constexpr uint16_t kMadeByDos = 20;  // host 0, version 2.0

struct ArchiveEntry {
    ArchiveEntry(std::string entryName, std::string entryData, int entryMethod = 8)
        : name(std::move(entryName)), data(std::move(entryData)), method(entryMethod) {}
    std::string name;
    std::string data;
    int method = 8;  // 0 stored, 8 deflated
    uint32_t external = 0;
    uint16_t madeBy = kMadeByDos;
    std::string localExtra;
    uint32_t dosDate = kSampleDosTime;
    uint16_t flags = 0;  // general-purpose bits to set (bit 11: the name is UTF-8)
};

// Writes entries, in order, and comment (none when empty) as a new archive at path.
// False when the file cannot be made or any entry cannot be written.
bool WriteArchive(const std::string& path, const std::vector<ArchiveEntry>& entries,
                  const std::string& comment = "");
