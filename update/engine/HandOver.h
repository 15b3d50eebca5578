// The hand-over file "~Update.tmp": what the lobby asks the updater to fetch.
// Layout (little-endian): a 272-byte header, then wCount records of 48 bytes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#pragma pack(push, 1)
struct HandOverHeader {
    WORD wReserved;         // not read
    WORD wCount;            // number of records that follow
    DWORD dwFileVersion1;   // stored as "FileVersion1" once the run is complete
    DWORD dwFileVersion2;   // stored as "FileVersion2"
    char szServerUrl[260];  // base URL; "Torvel\" and the file name are appended to it
};

struct HandOverRecord {
    char szName[36];  // file name relative to the server folder and the installation folder
    DWORD dwSize;     // size in bytes (recorded for archives)
    DWORD dwDate;     // high half of the file's FILETIME
    DWORD dwTime;     // low half of the file's FILETIME
};

// One entry of the update list.
struct UpdateItem {
    DWORD bDone;  // 1 once the entry has been processed
    char szName[36];
    DWORD dwSize;
    DWORD dwDate;
    DWORD dwTime;
};
#pragma pack(pop)

static_assert(sizeof(HandOverHeader) == 272, "hand-over header is 272 bytes");
static_assert(sizeof(HandOverRecord) == 48, "hand-over record is 48 bytes");
static_assert(sizeof(UpdateItem) == 52, "update item is 52 bytes");

extern const char kHandOverFileName[];  // "~Update.tmp"

// A hand-over file's bytes: header as it stands (its wCount too, whatever records holds),
// then records.
std::vector<unsigned char> FormatHandOver(const HandOverHeader& header,
                                          const std::vector<HandOverRecord>& records);
// Writes FormatHandOver's bytes as the file at path; false, with no file left, when they
// could not all be written.
bool WriteHandOver(const char* path, const HandOverHeader& header,
                   const std::vector<HandOverRecord>& records);

// Parses a whole hand-over file held in memory. On success fills header and returns the
// list, allocated with array new[] and zero-filled, with header.wCount entries (null for 0).
// Refuses (returns false, allocates nothing) a file shorter than 272 + 48 * wCount bytes,
// a server URL without a zero byte within its 260 bytes, and a record name without one
// within its 36 bytes: the format allows none of them, and cutting could fetch or install
// a file nobody listed.
bool ParseHandOver(const unsigned char* data, size_t size, HandOverHeader& header,
                   UpdateItem*& items);

// Reads and consumes the hand-over file at path: un-hides it (keeping every other attribute
// as it was, and writing nothing back when its attributes cannot be read), reads it, parses
// it with ParseHandOver and deletes it. Returns false when the file does not exist, cannot be
// opened or read, or is refused by ParseHandOver; a refused file is left in place.
// A read-only file is read but cannot be deleted, so the next start reads it again.
bool ReadHandOver(const char* path, HandOverHeader& header, UpdateItem*& items);

// The whole file at path; false when it cannot be opened or read.
bool ReadFileBytes(const char* path, std::vector<unsigned char>& bytes);
