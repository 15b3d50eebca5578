// Fetching a listed archive entry by entry. Its last bytes (a suffix range) hold the end
// record and the central directory; the files installed where its entries go are compared
// with them (size and CRC-32, or with a key the SHA-256 the signed manifest lists); and when
// that pays (EntryPlan.h), only the local records of the entries that differ are fetched,
// by Range under If-Range with the directory's validator, several at once, and placed with
// the tail into a copy of the archive at the item's download path whose other bytes read as
// zeros. Every fetched entry is read back through the zip layer's checks (and with a key its
// signed hash) before the copy is handed on. The walk then writes only those entries; the
// others are settled from what the fetch found (SettleKeptEntries). Whatever is doubtful
// sends the archive whole, as before: only the directory's bytes are spent on it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ArchiveInstall.h"
#include "EntryPlan.h"
#include "InstallPaths.h"
#include "ItemFetch.h"

// An entry of an archive fetched by entries that was not fetched, and what the walk takes it
// for.
struct KeptEntry {
    int32_t index = 0;
    EntryVerdict verdict = EntryVerdict::Written;  // or UnsafeName, TooLong: by the name rule
    bool folder = false;
    std::string target;     // where it goes, for Written
    FileIdentity identity;  // of the installed file found to be the entry
    DWORD attributes = 0;  // as extracting the entry would leave them
    FILETIME time = {};    // all three times as extracting would set them, UTC
};

struct ByEntries {
    int32_t count = 0;  // the archive's entries
    std::vector<KeptEntry> kept;
    uint64_t fetched = 0;  // the bytes of the ranges fetched
};

// Settles the kept entries in verdicts (sized to count): a file that is still the very file
// the fetch read (its identity) gets the entry's attributes and times and is Written, a
// folder that still exists is Written, the others take their verdict. False when a file or
// folder is not as found any more (another item replaced it meanwhile, something wrote it):
// the archive must then come whole.
bool SettleKeptEntries(const ByEntries& byEntries, UpdateIo& io,
                       std::vector<EntryVerdict>& verdicts);

// What to make of the answer to a range asked (one rule for the directory's further parts
// and for the entries).
enum class RangeVerdict {
    Whole,        // a 206 of exactly the bytes asked, of the archive's total, the same version
                  // (its validator, when it gives one), unencoded, every byte counted on disk
    CutShort,     // that, but fewer bytes than asked arrived (at least the counted ones lie
                  // on disk): the rest may be asked for
    Changed,      // anything else that is an answer of the server's (a 200: the archive
                  // changed or ranges are not served; a 416; another range, total or version)
    NoAnswer,     // no answer at all, or the server fell silent
    ErrorAnswer,  // an error answer (4xx other than 416, 5xx): the server's for now
    NotStored,    // the answer came but is not on disk as counted (a full disk)
};
RangeVerdict JudgeRange(const ByteRange& asked, ULONGLONG total, const std::string& validator,
                        const DownloadFacts& facts);

// Whether the answer to the directory's request is a part that is not the whole archive
// (a 206 whose range does not start at its first byte): only such an answer is gone on from
// by entries; any other is what a request for the whole file would have brought.
bool IsTailAnswer(const DownloadFacts& facts);

// What fetching an archive by entries comes to.
struct EntryAnswer {
    WholeBecause why = WholeBecause::NoAnswer;  // None: it is (or would be) fetched by entries
    bool answered = false;      // the directory's request got an answer at all
    uint64_t archiveBytes = 0;  // the archive's length the answer gave
    uint64_t tailBytes = 0;     // the bytes fetched for the directory
    uint64_t fetchBytes = 0;    // what the ranges carry
    size_t entries = 0, toFetch = 0;
};

enum class EntryStep {
    Fetched,  // the copy lies at the download path; byEntries says the rest
    Whole,    // fetch the archive whole (answer.why says why)
    Wait,     // the attempt failed for now (why): try again later
};
struct EntryResult {
    EntryStep step = EntryStep::Whole;
    WaitReason why = WaitReason::None;
    DWORD status = 0;
    EntryAnswer answer;
    std::shared_ptr<const ByEntries> byEntries;
};

// Goes on by entries from the answer to the directory's request for item (tailFacts, its
// bytes at tailPath, which stays the caller's): reads the directory (asking for more of the
// tail when it is longer), compares, plans and, unless planOnly, fetches and checks the
// ranges and moves the copy to paths.download. Stops early when the context's listener is
// stopping (Wait with WaitReason::None).
EntryResult FetchByEntries(const FetchContext& context, const ItemPaths& paths,
                           const UpdateItem& item, const char* tailPath,
                           const DownloadFacts& tailFacts, bool planOnly);

// Asks the server for item's directory and plans against the installation in
// context.installDir, fetching no entry: what the run would do for it.
EntryAnswer AskByEntries(const FetchContext& context, const ItemPaths& paths,
                         const UpdateItem& item);
