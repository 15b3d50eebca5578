// What the zip layer's tests share: archives built at run time with minizip's writer, the
// byte patches that damage them, and scratch folders and files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kMadeByDos = 20;                // host 0, version 2.0
constexpr uint16_t kMadeByUnix = (3 << 8) | 20;    // host 3, version 2.0
constexpr uint32_t kUnixFile644 = 0100644u << 16;  // regular file, owner may write
constexpr uint32_t kUnixFile444 = 0100444u << 16;  // regular file, read-only for all
constexpr uint32_t kUnixFolder755 = 040755u << 16;
// 2021-06-15 12:34:56 as a DOS date (high word) and time (low word).
constexpr uint32_t kSampleDosTime =
    ((2021 - 1980) << 25) | (6 << 21) | (15 << 16) | (12 << 11) | (34 << 5) | (56 / 2);

struct EntrySpec {
    EntrySpec(std::string entryName, std::string entryData, int entryMethod = 8)
        : name(std::move(entryName)), data(std::move(entryData)), method(entryMethod) {}
    std::string name;
    std::string data;
    int method = 8;  // 0 stored, 8 deflated
    uint32_t external = 0;
    uint16_t madeBy = kMadeByDos;
    uint32_t dosTime = kSampleDosTime;
    std::string localExtra;
};

// An archive with these entries and this comment, as minizip's writer makes it.
Bytes BuildArchive(const std::vector<EntrySpec>& entries, const std::string& comment = "");

// Where the records of an archive lie (offsets into its bytes).
struct Layout {
    size_t endRecord = 0;
    std::vector<size_t> central;
    std::vector<size_t> local;
};
Layout ReadLayout(const Bytes& archive);

void Put16(Bytes& bytes, size_t at, uint16_t value);
void Put32(Bytes& bytes, size_t at, uint32_t value);
uint16_t Get16(const Bytes& bytes, size_t at);
uint32_t Get32(const Bytes& bytes, size_t at);

// Offsets inside the headers.
constexpr size_t kLocalFlags = 6, kLocalMethod = 8, kLocalCrc = 14, kLocalCompressed = 18,
                 kLocalUncompressed = 22, kLocalNameLength = 26, kLocalHeaderSize = 30;
constexpr size_t kCentralFlags = 8, kCentralMethod = 10, kCentralCrc = 16, kCentralCompressed = 20,
                 kCentralUncompressed = 24;
constexpr size_t kEndEntriesHere = 8, kEndEntries = 10;

// The offset of entry k's data.
size_t DataOffset(const Bytes& archive, const Layout& layout, size_t k);

// An extra-field block: 2-byte id, 2-byte size, data.
std::string ExtraBlock(uint16_t id, const std::string& data);
// A "UT" block with these flags and times (little-endian 32-bit each, in order).
std::string TimestampBlock(uint8_t flags, const std::vector<int32_t>& times);

// A folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    // path + "\" + name
    std::string operator/(const std::string& name) const;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Makes folder the current folder while it lives.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::string& folder);
    ~CurrentFolder();
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    char m_saved[MAX_PATH];
};

bool WriteBytes(const std::string& path, const Bytes& bytes);
bool ReadBytes(const std::string& path, Bytes* bytes);
std::string ReadText(const std::string& path);
bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
// Names in folder (files and folders, without "." and "..").
std::vector<std::string> ListFolder(const std::string& folder);
FILETIME WriteTimeOf(const std::string& path);
// A FILETIME as one number, for comparisons.
uint64_t Ticks(const FILETIME& t);
// A Unix time as a FILETIME, worked out independently of the layer.
FILETIME FromUnixTime(int64_t seconds);
// A DOS date/time read as local time, turned into UTC as the file system keeps it.
FILETIME FromDosLocal(uint32_t dosTime);
