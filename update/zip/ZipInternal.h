// Inside the zip layer: the archive source under minizip, the reader behind a ZipHandle,
// the owners of what the layer opens, and the decisions kept in plain functions. Not for
// the updater, which goes through Zip.h; the layer's tests, its fuzz campaign and
// benchmark, and mkhandover's account of refused records include it to reach those
// functions and the read and step counts.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <unzip.h>

#include "PathWalk.h"
#include "Replace.h"
#include "SafeName.h"
#include "Scoped.h"
#include "Zip.h"

// ---- Owners -----------------------------------------------------------------------------

// An archive opened by minizip, closed with unzClose.
class ScopedArchive {
public:
    ScopedArchive() = default;
    ~ScopedArchive() { Reset(); }
    ScopedArchive(const ScopedArchive&) = delete;
    ScopedArchive& operator=(const ScopedArchive&) = delete;

    unzFile Get() const { return m_file; }
    explicit operator bool() const { return m_file != nullptr; }
    void Reset(unzFile file = nullptr) {
        if (m_file != nullptr) unzClose(m_file);
        m_file = file;
    }

private:
    unzFile m_file = nullptr;
};

// The data of the archive's current entry while it is open for reading; closed with
// unzCloseCurrentFile unless Close was called.
class OpenEntryData {
public:
    explicit OpenEntryData(unzFile file) : m_file(file) {
        m_open = unzOpenCurrentFile(file) == UNZ_OK;
    }
    ~OpenEntryData() { Close(); }
    OpenEntryData(const OpenEntryData&) = delete;
    OpenEntryData& operator=(const OpenEntryData&) = delete;

    bool IsOpen() const { return m_open; }
    // The reader's status: UNZ_CRCERROR when all data was read and the CRC-32 differs.
    int Close() {
        if (!m_open) return UNZ_OK;
        m_open = false;
        return unzCloseCurrentFile(m_file);
    }

private:
    unzFile m_file;
    bool m_open;
};

// A file that is deleted when the owner goes, unless Keep was called.
class TemporaryFile {
public:
    TemporaryFile() { m_path[0] = '\0'; }
    ~TemporaryFile() {
        if (m_path[0] != '\0') DeleteFileA(m_path);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates an empty file with a unique name in folder (ending in a separator, or "" for
    // the current one) and attributes, and returns it open for writing, or
    // INVALID_HANDLE_VALUE (GetLastError tells why). Close the handle before the owner goes.
    HANDLE Create(const char* folder, DWORD attributes);
    const char* Path() const { return m_path; }
    void Keep() { m_path[0] = '\0'; }

private:
    char m_path[MAX_PATH];
};

// "~zp", 8 hexadecimal digits and ".tmp": a temporary file or work folder of this layer.
bool IsTemporaryName(const char* name);
// folder (ending in a separator, or "") and the next temporary name; false when that does
// not fit in out.
bool NextTemporaryPath(const char* folder, char (&out)[MAX_PATH]);

// ---- The archive source -----------------------------------------------------------------

// A copy of part of a file source, kept for minizip's small reads.
struct SourceWindow {
    static constexpr uint32_t kSize = 16384;
    std::unique_ptr<uint8_t[]> bytes;
    uint64_t start = 0;    // relative to where the archive begins
    uint32_t length = 0;   // 0: holds nothing
    uint64_t lastUse = 0;  // for choosing the window to refill
};

// What minizip reads through: a seekable file handle (duplicated or opened by name) or a
// caller's memory block, which may hold only the archive's last bytes (a tail). Positions are
// relative to where the archive begins: past the bytes ahead of it (ShiftSource).
// minizip reads headers a field or a byte at a time and every ReadFile is a system call, so
// reads from a handle smaller than a window are served from two windows: one tends to stay
// on the central directory, the other follows the local headers and data. Reads of a
// window's size or more go to the file directly. The source keeps its own position; the
// file pointer it shares with the caller's handle is set before every read.
struct ZipSource {
    bool isHandle = false;
    bool canSeek = false;
    ScopedHandle handle;
    bool readError = false;
    uint64_t initialOffset = 0;  // the handle's position when the source was opened
    uint64_t handleLength = 0;   // the file's length from initialOffset on, taken at opening
    uint64_t cursor = 0;         // a handle source's position for minizip
    SourceWindow windows[2];
    uint64_t uses = 0;
    const uint8_t* base = nullptr;
    uint32_t length = 0;
    uint64_t memoryStart = 0;  // where base[0] lies; a tail holds nothing before it
    uint64_t position = 0;
    // When not 0, the source ends there for minizip (see ZipOpen).
    uint64_t endLimit = 0;
    // Every byte handed to minizip, and the ReadFile calls made for them, for the fuzz
    // campaign's cost bound and the benchmark's walk rows.
    uint64_t bytesRead = 0;
    uint64_t readCalls = 0;
};

// The I/O table that makes minizip read from source (the source must outlive the archive).
void FillSourceFunctions(zlib_filefunc64_def* functions, ZipSource* source);
// Reads size bytes at offset (from where the archive begins), as minizip would; a failed
// read (not a short one) also sets readError.
bool ReadSourceAt(ZipSource* source, uint64_t offset, void* buffer, uint32_t size);
// The source's length from where the archive begins; false when it cannot be learnt.
bool SourceLength(ZipSource* source, uint64_t* length);
// Makes the archive begin prefix bytes further on, where its offsets count from.
void ShiftSource(ZipSource* source, uint64_t prefix);

// What the end of an archive holds, as far as its end records tell.
struct EndRecordCheck {
    ZipResult result;          // ZipOk, ZipNoEndRecord, ZipBadEndRecord or ZipMoreData
    uint64_t needed;           // ZipMoreData: bytes from the end that hold the records looked for
    uint64_t position;         // of the end-of-central-directory record, when one was found
    bool zip64;                // the counts, size and offset come from the zip64 end record
    uint64_t entryCount;       // what the records say, when found
    uint64_t prefix;           // bytes ahead of the archive that its offsets leave out
    uint64_t directoryOffset;  // where the central directory begins, prefix included
    uint64_t directorySize;
};
// tail is the last bytes of an archive of archiveLength bytes (tail ends where the archive
// ends). Finds the last end record signature whose 22 bytes lie in tail and, when the zip64
// locator stands right before it, the zip64 end record (where the locator says or right
// before the locator), and checks them: one disk, equal entry counts, a classic field either
// saturated or equal to its zip64 one, the directory ending where the zip64 record (else the
// end record) begins, give or take a prefix: the bytes between where the records say the
// directory ends and where it does end. ZipMoreData when the end record may lie before tail
// (no signature, and tail shorter than the last 65557 bytes), or the zip64 records do; then
// needed is what to look at next.
EndRecordCheck CheckEndRecord(const uint8_t* tail, size_t tailLength, uint64_t archiveLength);

// minizip's answer, added by UnzipLocal.c: the current entry's local header offset as its
// central header states it (zip64 extra included), from where the archive begins.
extern "C" int unzGetLocalHeaderOffset64(unzFile file, ZPOS64_T* offset);

// ---- The reader behind a handle ---------------------------------------------------------

struct ZipReader {
    ZipSource source;
    ScopedArchive archive;  // empty for an archive of no entries minizip cannot open
    int32_t count = 0;
    int32_t current = -1;  // the entry minizip stands on; -1 when unknown
    // Where each entry reached so far starts in the central directory (minizip's offsets):
    // an entry passed once is one header read away, whatever the order of the calls.
    std::vector<uint64_t> offsets;
    // The first entry whose central header cannot be reached from the one before: it and
    // every later entry are corrupt without another read. count while none is known.
    int32_t damagedFrom = 0;
    uint64_t directorySteps = 0;  // central headers minizip was moved to, for the cost bound
    int32_t openEntry = -1;       // the entry whose data is open for the memory form, or -1
    uint64_t openDelivered = 0;   // bytes of openEntry handed out so far
    uint64_t openExpected = 0;    // its size in the central directory
    ZipEntry cachedEntry{};
    int32_t cachedIndex = -1;
    char baseFolder[MAX_PATH] = "";
    // What the layer learnt of each target folder (ending in a separator) it wrote into.
    struct TargetFolder {
        std::string folder;
        std::string work;           // where replacements are written first; "" while none
        bool workTried = false;     // whether making work was tried
        bool targetsExist = false;  // the last target met there already existed
        std::vector<std::string> ownNames;  // targets there named like temporary files
    };
    std::vector<TargetFolder> targetFolders;
    ZipReader() = default;
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;
    // Removes the work folders (empty by then: every temporary file is renamed or deleted)
    // and what runs killed earlier left in the folders written into.
    ~ZipReader();
};

// Entry facts from the central directory that the layer checks before it trusts an entry.
struct EntryInfo {
    unz_file_info64 info;
    char name[MAX_PATH];
};

// Opens minizip over reader's source once end (CheckEndRecord of its last bytes, ZipOk) is
// known: moves the source's start past the prefix and sets the count. ZipOk (an archive of no
// entries may have no minizip archive), ZipReadFailed or ZipBadEndRecord.
ZipResult OpenAtEnd(ZipReader* reader, const EndRecordCheck& end);
// The handle check of every operation: ZipOk, ZipBadArguments or ZipModeMixed.
ZipResult CheckHandle(const ZipHandle* handle);
// Abandons the memory form's open entry, if any.
void CloseOpenEntry(ZipReader* reader);
// Moves minizip to entry index (0 to count-1): straight to an entry reached before, else
// forward from the last one reached. ZipCorrupt when a central header on the way cannot be
// read, and at once for every index from the first such header on.
ZipResult GoToEntry(ZipReader* reader, int32_t index);
// Reads and checks the central facts of the current entry, its name as EntryName gives it:
// ZipCorrupt for a name of 260 bytes or more (stored or converted), a method other than 0
// or 8, encryption, or sizes beyond 32 bits.
ZipResult ReadEntryInfo(ZipReader* reader, EntryInfo* out);
// The checks of ReadEntryInfo on facts read already; stored is the stored name, terminated.
ZipResult JudgeEntryInfo(const unz_file_info64& info, const char* stored, char (&name)[MAX_PATH]);
// A DOS date (high word) and time as the three times of a record start; zero when the
// system rejects it (month 0, day 0, ...), which the extraction takes for "no time to set".
FILETIME DosTimeOf(uint32_t dos);
// ZipGetEntry without the handle check and ZipLastResult.
ZipResult GetEntryRecord(ZipReader* reader, int32_t index, ZipEntry* entry);
// The bytes minizip has read from the source of an open handle, and the ReadFile calls
// made for them (0 for a memory source).
uint64_t ZipBytesRead(const ZipHandle* handle);
uint64_t ZipReadCalls(const ZipHandle* handle);
// The central headers the walk has moved minizip to so far (first, next or by offset).
uint64_t ZipDirectorySteps(const ZipHandle* handle);
// Stores result in ZipLastResult and returns it.
ZipResult Finish(ZipResult result);

// ---- Decisions --------------------------------------------------------------------------

// The entry count an archive of archiveLength bytes is believed to hold when its end record
// claims claimed (at most 0x7FFFFFFF): no more than the archive can hold at 46 bytes a
// central header, however much more the record claims.
int32_t BelievedEntryCount(uint64_t claimed, uint64_t archiveLength);

// Windows attributes from the central header's external attributes and the stored name.
uint32_t DeriveAttributes(uint32_t external, const char* name);
// A Unix time (seconds since 1970, UTC) as a FILETIME; false before 1970.
bool UnixTimeToFileTime(int64_t seconds, FILETIME* out);
// Applies the first "UT" block of a local extra field: each time its flags announce and
// its own length holds replaces the matching output. Blocks are read only within extra.
// Whether a central header's extra field (length bytes at extra) has a "UT" block whose flags
// say the local one holds a creation time: a time only the local header tells, which the
// file written from the entry then carries.
bool HasLocalCreationTime(const uint8_t* extra, size_t length);
void ApplyExtendedTimestamp(const uint8_t* extra, size_t length, FILETIME* writeTime,
                            FILETIME* accessTime, FILETIME* creationTime);
// The name an entry is known by, from its stored name (terminated) and general-purpose
// flags: as stored, or, with the UTF-8 flag (bit 11), converted from UTF-8 to the process
// code page with "?" for every character the code page cannot spell exactly and for bytes
// that are no UTF-8. False when the result does not fit out.
bool EntryName(const char* stored, uint16_t flags, char (&out)[MAX_PATH]);
// Equal names; with ignoreCase, ASCII letters outside double-byte characters fold.
bool NamesEqual(const char* a, const char* b, bool ignoreCase);
