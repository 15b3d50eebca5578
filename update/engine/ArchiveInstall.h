// Installing an archive's entries into the installation folder, one attempt at a time: the
// one walk and the one verdict of the update run, which mkhandover --check runs too
// through a world of its own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "SafeName.h"
#include "StatusLine.h"
#include "UpdateIo.h"
#include "Zip.h"

// What became of one archive entry, and why.
enum class EntryVerdict : uint8_t {
    NotWritten,        // failed here (in use, disk full, ...): tried again later
    Written,           // in place
    UnsafeName,        // skipped by rule: the name breaks the name rule (NameFault says how)
    TooLong,           // skipped by rule: too long for the installation folder
    NoFolder,          // skipped by rule: a file whose folder neither exists nor is made by
                       // an earlier folder entry
    Damaged,           // the archive is at fault here (checksum, inflation, method,
                       // encryption, header): skipped, the old file stays
    DirectoryDamaged,  // the directory cannot be read from here on: never written
};

// The verdict on an entry that ZipExtractEntry answered with result. folderMissing: the
// folder the file goes to does not exist; earlierFoldersInPlace: every folder entry before
// it is in place (so none of them was meant to make that folder).
EntryVerdict JudgeEntry(ZipResult result, bool folderMissing, bool earlierFoldersInPlace);

// A file entry whose folder is missing: target (the entry's full path) has a folder part
// and folderExists says that folder does not exist. Never a folder entry, which makes its
// own folder when extracted.
bool IsEntryFolderMissing(const char* target, bool folderEntry,
                          const std::function<bool(const char*)>& folderExists);

// Whether ZipOpen failed with result because the download is no archive (no end record, or a
// damaged one): trying again cannot mend it. Any other failure (the file held or unreadable
// for now, no memory) says nothing of the archive, and the item waits.
bool IsNoArchive(ZipResult openResult);

enum class ArchiveVerdict {
    InPlace,  // every entry written or skipped by rule (an archive of none too): record it
    Waiting,  // an entry is still to be written: try again later, from the kept download
    Dropped,  // the rest is in place but the archive is damaged: delete it unrecorded
};
ArchiveVerdict JudgeArchive(const std::vector<EntryVerdict>& entries);

// What the walk tells of one entry it judged.
struct EntryReport {
    int32_t index;
    const char* name;  // as the record gives it; "" when the record could not be read
    bool folder;       // a folder entry
    EntryVerdict verdict;
    ZipResult result;  // the layer's answer the verdict rests on
    NameFault fault;   // for UnsafeName
    WaitReason wait;   // for NotWritten: what a next attempt waits for
};

// One attempt at archive, whose entries go below installDir. verdicts holds what earlier
// attempts left (it is sized to the archive's count, new entries NotWritten); settled
// entries (all but NotWritten) are passed over, the others are judged, and written when
// they should be, in index order. io answers what the walk looks at (folders, a target
// in the way). A record the layer cannot read past the directory's damage settles that
// entry and every later one as DirectoryDamaged and ends the walk. report hears every entry
// judged. False when stopping() said so between two entries, the rest left as they were.
bool InstallEntries(UpdateArchive& archive, const char* installDir, UpdateIo& io,
                    std::vector<EntryVerdict>& verdicts, const std::function<bool()>& stopping,
                    const std::function<void(const EntryReport&)>& report);
