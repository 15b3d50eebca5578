// What the zip layer's tests share: archives built at run time with minizip's writer, the
// byte patches that damage them, and scratch folders and files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ArchiveWriter.h"
#include "LittleEndian.h"
#include "Zip.h"

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kMadeByUnix = (3 << 8) | 20;    // host 3, version 2.0
constexpr uint32_t kUnixFile644 = 0100644u << 16;  // regular file, owner may write
constexpr uint32_t kUnixFile444 = 0100444u << 16;  // regular file, read-only for all
constexpr uint32_t kUnixFolder755 = 040755u << 16;

// Entries are ArchiveEntry (made on a DOS host with the sample DOS time); copies of e with
// other external attributes made by a DOS or a Unix host, or with this local extra field.
using EntrySpec = ArchiveEntry;
EntrySpec Dos(EntrySpec e, uint32_t attributes);
EntrySpec Unix(EntrySpec e, uint32_t mode = kUnixFile644);
EntrySpec Extra(EntrySpec e, std::string local);

// An archive with these entries and this comment, as minizip's writer makes it.
Bytes BuildArchive(const std::vector<EntrySpec>& entries, const std::string& comment = "");
// Opens archive (which must outlive the handle) from memory.
ZipHandle* OpenInMemory(const Bytes& archive);

// Where the records of an archive lie (offsets into its bytes).
struct Layout {
    size_t endRecord = 0;
    std::vector<size_t> central;
    std::vector<size_t> local;
};
Layout ReadLayout(const Bytes& archive);
// archive with zip64 end records ahead of its end record, whose fields say "see there".
Bytes Zip64(Bytes archive);
// A change of an archive's bytes; null for none.
using Patch = std::function<void(Bytes&, const Layout&)>;
Bytes BuildPatched(const std::vector<EntrySpec>& entries, const Patch& patch);

// Little-endian fields of an archive's bytes; out of range throws.
inline uint16_t Get16(const Bytes& b, size_t at) { return ::Get16(&b.at(at + 1) - 1); }
inline uint32_t Get32(const Bytes& b, size_t at) { return ::Get32(&b.at(at + 3) - 3); }
inline void Put16(Bytes& b, size_t at, uint16_t v) { ::Put16(&b.at(at + 1) - 1, v); }
inline void Put32(Bytes& b, size_t at, uint32_t v) { ::Put32(&b.at(at + 3) - 3, v); }

// Offsets inside the headers.
constexpr size_t kLocalFlags = 6, kLocalMethod = 8, kLocalCrc = 14, kLocalCompressed = 18,
                 kLocalUncompressed = 22, kLocalNameLength = 26, kLocalHeaderSize = 30;
constexpr size_t kCentralFlags = 8, kCentralMethod = 10, kCentralCrc = 16,
                 kCentralUncompressed = 24;
constexpr size_t kEndEntriesHere = 8, kEndEntries = 10, kEndDirectoryOffset = 16;

// Patches of entry k, in its local and its central header alike.
Patch SetMethod(uint16_t method, size_t k = 0);
Patch SetFlags(uint16_t bits, size_t k = 0);
Patch FlipCrc(size_t k = 0);
// The directory promises five bytes more than the stored data holds.
Patch PromiseMore(size_t k = 0);
// Entry k's sizes and CRC-32 move to a data descriptor; the local header holds zeros.
Patch UseDataDescriptor(size_t k = 0);
// A first data byte of 0xFF starts a deflate block of the reserved type 3.
Patch BreakDeflate(size_t k = 0);

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
    std::string operator/(const std::string& name) const { return m_path + "\\" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

bool WriteBytes(const std::string& path, const Bytes& bytes);
// The file's bytes as text; "" when it cannot be read.
std::string ReadText(const std::string& path);
// Everything below folder, folders included, as sorted relative paths joined by spaces.
std::string Tree(const std::string& folder);
FILETIME WriteTimeOf(const std::string& path);
// A FILETIME as one number, for comparisons.
uint64_t Ticks(const FILETIME& t);
// A Unix time as a FILETIME, worked out independently of the layer.
FILETIME FromUnixTime(int64_t seconds);
// kSampleDosTime as the record holds it: a local time taken as it stands.
FILETIME SampleDosTime();
// A local time as the file system keeps it (UTC).
FILETIME LocalToUtc(FILETIME local);
