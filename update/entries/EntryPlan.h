// Fetching an archive entry by entry: which of its entries the installation lacks, which
// byte ranges of the archive carry them, and whether fetching them pays against fetching
// the archive whole. The archive's central directory, read from its tail, says for every
// entry its size, its CRC-32 and where its local record lies; an entry already in place
// costs nothing, one that differs costs its local record (header, name, extra field, data
// and descriptor), fetched with Range from the same file the operator publishes. Plain
// decisions over what was read and measured: nothing here touches the network or the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One entry of the central directory, as read from the archive's tail.
struct DirectoryEntry {
    std::string name;  // as stored
    bool folder = false;
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;         // uncompressed
    uint64_t localOffset = 0;  // where its local record starts in the archive
};

// What lies at an entry's target in the installation.
struct InstalledFile {
    bool exists = false;
    uint64_t size = 0;
    uint32_t crc32 = 0;           // of its content, when exists
    bool hashed = false;          // sha256 holds the SHA-256 of its content
    uint8_t sha256[32] = {};
};

// Whether the file at an entry's target already is the entry: it exists with the entry's
// size and, without a key (signedSha256 null), the entry's CRC-32; with one, the SHA-256 the
// signed manifest lists for the entry. A folder entry is never fetched (the walk makes it).
bool IsEntryInPlace(const DirectoryEntry& entry, const InstalledFile& installed,
                    const uint8_t* signedSha256);

// An inclusive byte range of the archive, as a Range header names one.
struct ByteRange {
    uint64_t first = 0;
    uint64_t last = 0;
};

// Why an archive is fetched whole rather than by entries.
enum class WholeBecause {
    None,              // fetching by entries pays
    NoRanges,          // the directory's range was not answered with 206
    NoValidator,       // ... nor with a strong ETag or a Last-Modified to ask If-Range with
    SizeDisagrees,     // the archive's length is not the record's (or the manifest's)
    DirectoryDamaged,  // entries whose records overlap, lie past the directory, or repeat
    TooMuch,           // the bytes to fetch are more than the bound
    NotAnArchive,      // no end record where the archive's tail should hold one
    NoEntryHashes,     // signed, but the manifest lists no hash for an entry of the archive
    Changed,           // the archive changed on the server, or a range came back whole
    CutShort,          // a range came short twice
    Damaged,           // a fetched entry did not check out (CRC-32, or the signed hash)
    NoAnswer,          // the directory's request got no answer at all
    TooSmall,          // smaller than kEntriesFrom: it is not asked about
};

// The first request for an archive's directory asks for at most this many of its last
// bytes: the end record with the longest comment, and the directory of a few hundred entries.
constexpr uint64_t kFirstTailBytes = 64 * 1024;
// An archive smaller than this comes whole at once: what fetching it by entries could save
// is worth less than the round trip its directory costs.
constexpr uint64_t kEntriesFrom = 256 * 1024;

// How many of an archive's last bytes to ask for first, by its listed size (0: unknown): 0
// below kEntriesFrom; otherwise a 64th of it, at least 16 KiB and at most kFirstTailBytes, so
// that an archive where everything differs costs little more than its whole download (a
// longer directory is asked for again).
uint64_t TailToAsk(uint64_t listedSize);

// The reason in a few plain words, for an operator.
const char* WholeBecauseText(WholeBecause why);

// What fetching by entries comes to.
struct EntryPlan {
    WholeBecause whole = WholeBecause::None;
    std::vector<size_t> fetch;      // the entries to fetch, by index in the directory
    std::vector<ByteRange> ranges;  // their local records, neighbours merged, in order
    uint64_t bytes = 0;             // what the ranges carry
};

// Neighbouring records closer than this are fetched in one range: a round trip costs more
// than the gap's bytes on a player's line.
constexpr uint64_t kMergeGap = 64 * 1024;
// Fetching by entries pays while it carries at most this share of the archive.
constexpr unsigned kPaysPercent = 50;

// The local records of the entries marked in fetch (one flag per entry of entries): each
// from its local offset to the next record's start (or directoryOffset for the last), with
// ranges whose gap is at most kMergeGap merged. DirectoryDamaged when two entries share an
// offset, a record would start at or past directoryOffset, or a record's span is too short
// for its header, name and data.
EntryPlan PlanRanges(const std::vector<DirectoryEntry>& entries, const std::vector<bool>& fetch,
                     uint64_t directoryOffset);

// What the answer to the directory's range says of fetching by entries: None when it was
// a 206 with a validator, the archive's length (from its Content-Range) is the record's and,
// with a manifest, the manifest's, and plan carries at most kPaysPercent of the archive.
WholeBecause WhetherEntriesPay(unsigned httpStatus, bool haveValidator, uint64_t archiveLength,
                               uint64_t recordSize, const uint64_t* manifestSize,
                               const EntryPlan& plan);
