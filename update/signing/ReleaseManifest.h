// The release manifest: the files of a release folder as the operator signed them, fetched
// by a run before anything of the release is installed (from the base URL + "Torvel\" +
// kReleaseManifestName, as any listed file). Text an operator can read, in bytes:
//
//   update-kit release manifest 2
//   serial 2026120701
//   versions 3 17
//   expires 2027-01-06T00:00:00Z
//   file 0 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 data\x 1.dat
//   file 12345 <64 hex digits: the SHA-256> maps.zip
//   entry 3000 <64 hex digits: the SHA-256 of the entry's content> maps.zip:maps/a.map
//   signature <128 hex digits: r then s>
//
// - Every line ends in LF; no other byte below 0x20 (no CR, no NUL, no tab) stands anywhere.
//   Hex digits are lower-case; numbers are decimal without a sign or a leading zero.
// - The first line names the format and its version, exactly as above.
// - serial: 0 to 4294967295. Releases only raise it (a release's second version number, or
//   a date YYYYMMDDNN); a run accepts no serial lower than the highest it accepted before.
// - versions: the two version numbers of the hand-over file that announces the release
//   (FileVersion1 and FileVersion2), each 0 to 4294967295: a run accepts the manifest only
//   for a hand-over file that carries exactly these, so that no other signed release can
//   stand in for the one the lobby asked for.
// - expires: optional; UTC, to the second. From that moment on the manifest is refused.
// - file: one line per file, at least one: its size (0 to 4294967295, as a hand-over record
//   holds it), its SHA-256, and its name, last on the line so that it may hold spaces: the
//   bytes a hand-over record holds (the system's ANSI code page, 1 to 35 bytes, passing
//   IsSafeRelativeName; "\" between folders), each name once, in ascending order of their
//   bytes (as strcmp orders them).
// - entry: optional, after the file lines: one line per file entry of a listed archive,
//   for fetching an archive entry by entry: the entry's size and the SHA-256 of its
//   content, then the archive's listed name, ":" (which no listed name holds) and the
//   entry's name as ZipGetEntry gives it (1 to 259 bytes), in ascending order of archive
//   then entry name (strcmp), each pair once. An archive without entry lines is only ever
//   fetched whole.
// - signature: the last line, nothing after it: the release key's signature (ReleaseKey.h)
//   over every byte before the line. SignManifest (ReleaseSigning.h) writes the whole text.
//
// A manifest without files is refused: signing an empty folder is a mistake (the wrong
// folder), and accepting one would install nothing yet move the installation's serial.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ReleaseKey.h"
#include "Sha256.h"

// "~updater-release-manifest-signed-by-the-operator.txt": longer than any name a hand-over
// record holds, so no listed file can be the manifest.
extern const char kReleaseManifestName[];
extern const char kReleaseManifestTitle[];  // the first line, without its LF

constexpr size_t kMaxManifestBytes = 16 * 1024 * 1024;
constexpr size_t kMaxListedNameBytes = 35;  // as a hand-over record holds it

struct ManifestFile {
    char name[kMaxListedNameBytes + 1];  // zero-terminated
    DWORD size;
    uint8_t sha256[kSha256Bytes];
};

constexpr size_t kMaxEntryNameBytes = 259;  // as a ZipEntry holds it

struct ManifestEntry {
    char archive[kMaxListedNameBytes + 1];  // a listed file's name
    std::string name;                       // as ZipGetEntry gives it
    DWORD size;
    uint8_t sha256[kSha256Bytes];
};

struct ReleaseManifest {
    DWORD serial = 0;
    DWORD version1 = 0, version2 = 0;
    bool expires = false;
    ULONGLONG expiresUtc = 0;         // a FILETIME's value, when expires
    std::vector<ManifestFile> files;  // in the manifest's order: ascending by name
    std::vector<ManifestEntry> entries;  // ascending by archive, then name
    size_t signedBytes = 0;           // the length of the text the signature covers
    uint8_t signature[kSignatureBytes] = {};
};

// Why a manifest is refused: TooLarge before all; then the first of Malformed, UnsafeName
// and DuplicateName met from the start of the text; then the others in this order.
enum class ManifestFault {
    None,
    TooLarge,       // longer than kMaxManifestBytes
    Malformed,      // not the format above: a line missing, out of place, not ended by LF or
                    // holding a control byte, a number past 32 bits, bad digits, a bad
                    // time, names out of order, an entry of an archive not listed, anything
                    // after the signature line
    UnsafeName,     // a name longer than 35 bytes, or one IsSafeRelativeName refuses
    DuplicateName,  // the same name twice (or the same entry of an archive)
    NoFiles,        // no file line
    BadSignature,   // the signature does not hold with the key (or CNG could not check it)
    OtherVersions,  // signed for other version numbers than the hand-over file's
    OlderSerial,    // a serial lower than the highest accepted before
    Expired,        // expired by the given clock
};

// Reads text as a manifest into out without checking its signature. faultLine (may be
// null): the 1-based line of the fault (for DuplicateName the second of the two, 0 for
// TooLarge, NoFiles and None). out is unspecified unless None is returned.
ManifestFault ParseManifest(const std::string& text, ReleaseManifest* out,
                            size_t* faultLine = nullptr);

// What a manifest is accepted against.
struct ReleaseExpected {
    DWORD highestSerial;       // the highest serial accepted before (0: none)
    DWORD version1, version2;  // the hand-over file's
    ULONGLONG nowUtc;          // a FILETIME's value, UTC
};

// ParseManifest, then: the signature must hold with key, the versions must be the expected
// ones, the serial must not be lower than the highest accepted before, and the time must be
// before the expiry. None only when all of that holds.
ManifestFault VerifyManifest(const std::string& text, const PublicKey& key,
                             const ReleaseExpected& expected, ReleaseManifest* out,
                             size_t* faultLine = nullptr);

// The file listed under exactly name's bytes; null when none is.
const ManifestFile* FindInManifest(const ReleaseManifest& manifest, const char* name);
// The entry listed for archive under exactly name's bytes; null when none is.
const ManifestEntry* FindEntryInManifest(const ReleaseManifest& manifest, const char* archive,
                                         const char* name);

// Whether a download of the listed item name is the file the manifest lists.
enum class ItemMatch {
    Matches,
    NotInManifest,  // no file of that exact name: never installed
    SizeDiffers,
    HashDiffers,
};
ItemMatch MatchManifest(const ReleaseManifest& manifest, const char* name, ULONGLONG size,
                        const uint8_t (&sha256)[kSha256Bytes]);

// A UTC time "YYYY-MM-DDTHH:MM:SSZ" (exactly length bytes at text) as a FILETIME's value;
// false for any other text, or a date or time that does not exist.
bool ParseUtcTime(const char* text, size_t length, ULONGLONG* utc);
// The system clock, UTC, as a FILETIME's value.
ULONGLONG NowUtc();
