// The zip layer: reads ZIP archives (stored and deflated entries) and writes their entries
// to files, into handles or into memory. Every operation returns a ZipResult and stores it
// in ZipLastResult; nothing is ever shown or logged. Strings are ANSI (the process code
// page). One thread at a time: ZipLastResult and a ZipHandle have no lock.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Result codes. -1 and -103 are two further values a failed ZipOpen can leave (see there).
typedef uint32_t ZipResult;
constexpr ZipResult ZipOk = 0x00000000;
constexpr ZipResult ZipDuplicateFailed = 0x00000100;
constexpr ZipResult ZipOpenFailed = 0x00000200;
constexpr ZipResult ZipOutOfMemory = 0x00000300;
constexpr ZipResult ZipWriteFailed = 0x00000400;
constexpr ZipResult ZipEntryNotFound = 0x00000500;
constexpr ZipResult ZipMoreData = 0x00000600;
constexpr ZipResult ZipCorrupt = 0x00000700;
constexpr ZipResult ZipReadFailed = 0x00000800;
constexpr ZipResult ZipBadArguments = 0x00010000;
constexpr ZipResult ZipNotMemoryArchive = 0x00020000;
constexpr ZipResult ZipMemoryTooSmall = 0x00030000;
constexpr ZipResult ZipEarlierFailure = 0x00040000;
constexpr ZipResult ZipAdditionsEnded = 0x00050000;
constexpr ZipResult ZipSizeMismatch = 0x00060000;
constexpr ZipResult ZipPartlyExtracted = 0x00070000;
constexpr ZipResult ZipModeMixed = 0x00080000;
constexpr ZipResult ZipNotInitialised = 0x01000000;
constexpr ZipResult ZipUnseekable = 0x02000000;
constexpr ZipResult ZipNoChange = 0x04000000;
constexpr ZipResult ZipInflateError = 0x05000000;
// Not a result: given to ZipFormatMessage, it stands for ZipLastResult.
constexpr ZipResult ZipRecent = 0x00000001;
// What a failed ZipOpen leaves when the end-of-central-directory record is missing or
// unreadable (-1), or present but inconsistent (-103). Neither has a message of its own.
constexpr ZipResult ZipNoEndRecord = 0xFFFFFFFFu;
constexpr ZipResult ZipBadEndRecord = 0xFFFFFF99u;

// The result of the most recent ZipOpen, ZipGetEntry, ZipFindEntry, ZipExtractEntry,
// ZipClose or ZipReadTailDirectory (argument errors included); ZipOk before the first.
// Process-wide.
extern ZipResult ZipLastResult;

// What the "where" argument of ZipOpen and the target of ZipExtractEntry is.
typedef int32_t ZipLocation;
constexpr ZipLocation ZipLocationHandle = 1;    // an open Win32 HANDLE
constexpr ZipLocation ZipLocationFileName = 2;  // a NUL-terminated ANSI path
constexpr ZipLocation ZipLocationMemory = 3;    // a pointer plus a length in bytes

// The description of one entry. Field order and widths are fixed (the same in 32- and
// 64-bit programs).
struct ZipEntry {
    int32_t index;        // 0 to count-1; in the answer to index -1, the number of entries
    char name[260];       // as stored (separators as stored), NUL-ended; see ZipGetEntry
    uint32_t attributes;  // Windows file attributes
    FILETIME accessTime;
    FILETIME creationTime;
    FILETIME writeTime;
    uint32_t compressedSize;
    uint32_t uncompressedSize;
};
static_assert(sizeof(ZipEntry) == 300, "ZipEntry layout is part of the interface");

struct ZipReader;

// What callers hold between ZipOpen and ZipClose. Only the layer touches the fields.
struct ZipHandle {
    int32_t kind;  // 1: reading handle, the only kind this layer makes
    ZipReader* reader;
};

// Opens an archive of up to 4 GiB, with classic or zip64 end records. location
// ZipLocationHandle: "where" is a HANDLE of a disk file; it is duplicated (the caller's stays
// open and the caller's; the two share the file position, which reading moves) and read from
// its current position on, as if the archive began there. ZipLocationFileName: "where" is a
// path opened for reading. ZipLocationMemory: "where" points to length bytes that must
// outlive the handle. The folder current at this call becomes the base below which folder
// entries are made (ZipSetBaseFolder changes it). Returns the handle, or null with
// ZipLastResult set to:
//   ZipBadArguments     null "where", an invalid handle, an unknown location;
//   ZipOutOfMemory      no memory for the handle;
//   ZipUnseekable       the handle or the named file is not a disk file (a pipe, a device);
//   ZipDuplicateFailed  the handle could not be duplicated;
//   ZipOpenFailed       the named file could not be opened;
//   ZipReadFailed       the archive could not be read (a failing disk, a file locked in
//                       part): nothing is known of its contents, and a later open may pass;
//   ZipNoEndRecord (-1) no end-of-central-directory record in the last 65557 bytes;
//   ZipBadEndRecord (-103) the end record (or the directory it describes) is inconsistent.
// A failed open leaves nothing open.
ZipHandle* ZipOpen(const void* where, uint32_t length, ZipLocation location);

// Index -1: fills entry with index = number of entries, an empty name and zeros elsewhere,
// leaving the one-record cache alone. The number is the count of the end record, cut to
// what the archive can hold at 46 bytes a central header (a larger claim is damage: the
// records that exist are served, the rest are corrupt as below). Index 0 to
// count-1: fills entry with that entry's record (name, attributes, sizes, times; see below).
// Any open memory extraction is abandoned first. Every central header passed is remembered,
// so an entry reached once is reached again with one header read, and a pass over all
// entries in any order reads the central directory once; the last record is cached, so
// asking again for the same index reads nothing.
// Damage: the first central header that cannot be reached from the one before it (its own
// or an earlier record damaged, or a count larger than the directory holds) makes that
// index and every later one ZipCorrupt, at once and without reading, for the rest of the
// handle's life; entries before it are served as usual. A forward walk over n entries
// thus reads O(n) headers however damaged the archive.
// One answer per entry: an entry gets the same result and the same record whatever the
// source (name, handle or memory, given the same bytes), the order of the calls before it
// and the cache, and the same result from ZipFindEntry and ZipExtractEntry when those fail
// on the record.
// Name: the stored bytes as they stand (the archive's code page is taken to be the process
// code page), or, for an entry that says its name is UTF-8 (general-purpose flag bit 11),
// that name in the process code page. A character the code page cannot spell exactly
// (no best-fit substitute is taken) and a byte sequence that is no UTF-8 become "?", which
// IsSafeRelativeName refuses, so such an entry is never written under a garbled name.
// Attributes: 0x80, plus 0x10 for a folder (Unix directory type, MS-DOS directory bit, or
// a name ending in "/" or "\"), 0x20/0x02/0x04 for the MS-DOS archive/hidden/system bits,
// 0x01 when the MS-DOS read-only bit is set or the Unix owner-write bit is missing.
// Times: the DOS date/time (local time) in all three; then the first "UT" block of the
// local extra field overrides write, access and creation time (UTC) as its flags say.
// Results: ZipOk;
//   ZipBadArguments  null handle, null entry, index below -1 or not below count;
//   ZipModeMixed     a handle of another kind;
//   ZipCorrupt       a damaged central or local header (or local extra field) on the way
//                    or at the entry (ZipIsPastDamage tells the two apart), a stored or
//                    converted name of 260 bytes or more, a method other than stored or
//                    deflated, an encrypted entry, a size beyond 32 bits;
//   ZipReadFailed    the archive could not be read on the way or at the entry: no damage,
//                    and the entry and those after it may be read by a later call.
// On failure entry and the cache are left as they were.
ZipResult ZipGetEntry(ZipHandle* handle, int32_t index, ZipEntry* entry);

// Looks an entry up by name (as ZipGetEntry gives it) in directory order; the first equal
// name wins, and every entry a walk by index reaches is found. With ignoreCase the ASCII
// letters compare without case (bytes of double-byte characters never fold).
// Any open memory extraction is abandoned first. The found entry's record is built as by
// ZipGetEntry, whether or not recordOut is given, and its result is returned: on ZipOk
// indexOut (if given) gets the index and recordOut (if given) the record.
// On every failure indexOut (if given) is -1 and recordOut (if given) is cleared with
// index -1.
// Results: ZipOk; ZipBadArguments (null handle or name), ZipModeMixed;
//   ZipEntryNotFound  no match, or a name of 260 bytes or more (no record holds one);
//   ZipCorrupt        the directory's damage (ZipIsPastDamage) ended the search before a
//                     match; a record damaged on its own is passed over;
//   ZipReadFailed     the archive could not be read on the way;
//   the failures of ZipGetEntry for the found entry (ZipCorrupt, ZipReadFailed).
ZipResult ZipFindEntry(ZipHandle* handle, const char* name, bool ignoreCase, int32_t* indexOut,
                       ZipEntry* recordOut);

// Writes entry index out.
// ZipLocationFileName: target is a path (length unused). A target that does not exist yet
//   is created under its own name and removed again on any failure. An existing target is
//   replaced only whole: the data goes to a temporary file in the target's folder first
//   ("~zp" + 8 hex digits + ".tmp"), and only when every byte was read, inflated and
//   written and the CRC-32 and size match does it replace the target (which loses its
//   read-only, hidden and system bits first); on failure the temporary file is deleted and
//   the target stays as it was, whatever it is called. When it closes, a handle removes from
//   every folder it wrote into the leftover temporary files and work folders of that pattern
//   (what a killed run left), except the targets it was asked to write, which may be named
//   so. The file then carries the entry's
//   attributes without read-only, and its creation, access and write times are the entry's
//   creationTime read as local time. A relative target's folders are made below the base
//   folder first when its folder part is a safe name (IsSafeRelativeName); absolute
//   targets are used as given and get no folders made; the file name itself is the
//   caller's choice. A folder entry makes base folder + its name instead (the target is
//   not used).
// ZipLocationHandle: target is a HANDLE written at its position and left open; a disk file
//   also gets the times. A pipe gets the data only. Folder entries write nothing.
// ZipLocationMemory: target is a buffer of length bytes, filled as far as the entry goes.
//   ZipMoreData: bytes were delivered and the entry stays open; call again with the same
//   index for the next part. ZipOk: nothing was left (nothing written). Any other
//   operation on the handle abandons the entry; the next call starts from its first byte.
// Results: ZipOk;
//   ZipBadArguments  null handle, index outside 0 to count-1, null target (or an empty
//                    path, an invalid handle), length 0 for memory, an unknown location;
//   ZipModeMixed     a handle of another kind;
//   ZipOpenFailed    the target (or its temporary file) cannot be created or put in place;
//                    a target of 260 characters or more; a folder entry whose name is
//                    not a safe name (see EnsureDirectory) or cannot be made;
//   ZipWriteFailed   file or handle form: a write failed (a full disk, a broken pipe);
//   ZipReadFailed    file or handle form: the archive itself could not be read;
//   ZipOutOfMemory   file or handle form: no memory for the inflation;
//   ZipInflateError  memory form: entry data cannot be opened, read or inflated;
//   ZipCorrupt       the archive is at fault: the entry's data does not inflate, or its
//                    CRC-32 or length differs from the directory's; and every failure of
//                    ZipGetEntry for the entry (an unknown method, encryption, ...).
//                    Trying again cannot mend it; any other failure may pass.
ZipResult ZipExtractEntry(ZipHandle* handle, int32_t index, void* target, uint32_t length,
                          ZipLocation location);

// Makes folder the base below which folder entries and the folders of relative targets are
// made from now on, in place of the folder current at ZipOpen (a separator is added when
// folder has none at its end). Results: ZipOk; ZipModeMixed; ZipBadArguments for a null
// handle or folder, and for an empty folder or one of 258 characters or more, which leaves
// the handle with no base: no folder is made for it any more.
ZipResult ZipSetBaseFolder(ZipHandle* handle, const char* folder);

// Closes the archive and frees the handle, which is invalid afterwards.
// Results: ZipOk; ZipBadArguments (null handle), ZipModeMixed (another kind).
ZipResult ZipClose(ZipHandle* handle);

// The message of code (ZipRecent: of ZipLastResult); unknown codes, -1 and -103 give
// "unknown zip result code". Copies at most length-1 bytes and a NUL into buffer; writes
// nothing when buffer is null or length is 0. Returns the full message length without NUL.
// Does not change ZipLastResult.
uint32_t ZipFormatMessage(ZipResult code, char* buffer, uint32_t length);

// True for a null handle or a reading handle (kind 1).
bool ZipIsReadingHandle(const ZipHandle* handle);

// True when a walk found that the central directory cannot be followed to entry index (0
// to count-1): a damaged header at or before it, or a count larger than the directory
// holds. That entry and every later one are ZipCorrupt for the rest of the handle's life,
// whereas an entry refused on its own (its method, encryption, local header or data) leaves
// the later ones readable. False for a null or foreign handle, an index outside 0 to
// count-1, before the damage, or not yet walked to.
bool ZipIsPastDamage(const ZipHandle* handle, int32_t index);

// Makes the folder base + relative and each folder above it that lies inside relative.
// Makes nothing and returns false when base is null or empty, relative is not a safe name
// (IsSafeRelativeName of SafeName.h: the one rule for every name written below a folder),
// or base + relative is longer than 259 characters. Otherwise returns whether the folder
// exists afterwards (existing folders are no failure).
bool EnsureDirectory(const char* base, const char* relative);

// One entry of a central directory read from an archive's last bytes, as the central header
// states it (sizes and offset from its zip64 extra field where the header says so).
struct ZipTailEntry {
    // ZipOk, or the ZipCorrupt ZipGetEntry answers for this entry from its central header
    // alone (a name of 260 bytes or more, a method other than stored or deflated, an
    // encrypted entry, a size beyond 32 bits). ZipGetEntry may still refuse an entry that is
    // ZipOk here, for what only its local header and data show.
    ZipResult result;
    std::string storedName;  // the bytes as stored
    char name[260];          // as ZipGetEntry gives it; "" unless result is ZipOk
    uint16_t flags;          // general-purpose bits
    uint16_t method;
    uint32_t crc32;
    uint64_t compressedSize;
    uint64_t uncompressedSize;
    uint32_t attributes;  // as ZipGetEntry derives them (from name)
    // The DOS date and time, as in all three times of ZipGetEntry, which a "UT" block of the
    // local extra field then overrides (the local header is not among the last bytes).
    FILETIME dosTime;
    // The central header's "UT" block says the local one holds a creation time: the times
    // extraction gives are then known only from the local header.
    bool localCreationTime;
    uint64_t localHeaderOffset;  // from the start of the file, bytes ahead of the archive included
};

struct ZipTailDirectory {
    // ZipMoreData: how many bytes from the end are needed (at least; the records found in
    // them may ask for more again). Otherwise 0.
    uint64_t needed;
    uint64_t archiveStart;       // bytes ahead of the archive that its offsets leave out
    uint64_t directoryOffset;    // from the start of the file
    uint64_t directorySize;
    std::vector<ZipTailEntry> entries;  // in directory order
};

// Reads the central directory from tail, the last tailLength bytes of an archive of
// archiveLength bytes: the end record (with a comment, and the zip64 end record behind its
// locator) and, when the whole directory lies in tail, every entry, as a walk with ZipOpen
// and ZipGetEntry reads them from the same bytes. When the records say the archive's offsets
// leave out bytes ahead of it (a program in front), offsets here include them. Reads nothing
// outside tail. Results (also in ZipLastResult); out holds entries only on ZipOk:
//   ZipOk;
//   ZipBadArguments  null out, null tail with a length, tailLength above archiveLength;
//   ZipMoreData      tail is too short for the end records or the directory they describe
//                    (out->needed says how much to give);
//   ZipNoEndRecord   not an archive: no end record in the last 65557 bytes;
//   ZipBadEndRecord  the end records lie: counts that disagree, more than one disk, a
//                    directory past its end record, a zip64 record where neither the
//                    locator says nor right before it;
//   ZipCorrupt       the directory lies: a central header that cannot be read, entries that
//                    do not end where the directory does (more or fewer than counted), a
//                    local header offset not before the directory.
ZipResult ZipReadTailDirectory(const void* tail, size_t tailLength, uint64_t archiveLength,
                               ZipTailDirectory* out);
