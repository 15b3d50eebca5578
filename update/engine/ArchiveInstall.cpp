#include "ArchiveInstall.h"

#include <cstring>

#include "InstallPaths.h"
#include "PathWalk.h"

namespace {

// What a failed entry waits for.
WaitReason WaitFor(ZipResult result, const char* target, UpdateIo& io) {
    if (result == ZipWriteFailed) return WaitReason::DiskFull;
    if (result == ZipOpenFailed) return WhyNotWritten(io, target, WaitReason::InUse);
    return WaitReason::InUse;
}

}  // namespace

EntryVerdict JudgeEntry(ZipResult result, bool folderMissing, bool earlierFoldersInPlace) {
    if (result == ZipOk) return EntryVerdict::Written;
    if (result == ZipCorrupt) return EntryVerdict::Damaged;
    // A file whose folder nothing makes is never written; but when a folder entry before it
    // failed, that folder may be the one it needs.
    if (result == ZipOpenFailed && folderMissing && earlierFoldersInPlace)
        return EntryVerdict::NoFolder;
    return EntryVerdict::NotWritten;
}

bool IsEntryFolderMissing(const char* target, bool folderEntry,
                          const std::function<bool(const char*)>& folderExists) {
    char parent[kPathSize];
    return !folderEntry && FolderPart(target, parent) && !folderExists(parent);
}

bool IsNoArchive(ZipResult openResult) {
    return openResult == ZipNoEndRecord || openResult == ZipBadEndRecord ||
           openResult == ZipCorrupt;
}

ArchiveVerdict JudgeArchive(const std::vector<EntryVerdict>& entries) {
    bool damaged = false;
    for (EntryVerdict e : entries) {
        if (e == EntryVerdict::NotWritten) return ArchiveVerdict::Waiting;
        damaged = damaged || e == EntryVerdict::Damaged || e == EntryVerdict::DirectoryDamaged;
    }
    return damaged ? ArchiveVerdict::Dropped : ArchiveVerdict::InPlace;
}

bool InstallEntries(UpdateArchive& archive, const char* installDir, UpdateIo& io,
                    std::vector<EntryVerdict>& verdicts, const std::function<bool()>& stopping,
                    const std::function<void(const EntryReport&)>& report) {
    const int32_t count = archive.Count();
    verdicts.resize(static_cast<size_t>(count), EntryVerdict::NotWritten);
    const auto folderExists = [&io](const char* path) {
        return IsFolderAttributes(io.Attributes(path));
    };
    bool foldersInPlace = true;
    for (int32_t i = 0; i < count; ++i) {
        EntryVerdict& verdict = verdicts[static_cast<size_t>(i)];
        if (verdict != EntryVerdict::NotWritten) continue;
        if (stopping()) return false;
        EntryReport said{
            i, "", false, EntryVerdict::NotWritten, ZipOk, NameFault::None, WaitReason::None};
        ZipEntry entry;
        std::memset(&entry, 0, sizeof entry);
        said.result = archive.Entry(i, &entry);
        if (said.result != ZipOk) {
            // Past the directory's damage nothing more can be read; an entry refused on its
            // own leaves the ones after it readable.
            if (archive.PastDamage(i)) {
                for (size_t k = static_cast<size_t>(i); k < verdicts.size(); ++k)
                    verdicts[k] = EntryVerdict::DirectoryDamaged;
                said.verdict = EntryVerdict::DirectoryDamaged;
                report(said);
                return true;
            }
            // A record the disk could not read waits, as any entry not written.
            verdict = said.verdict = JudgeEntry(said.result, false, foldersInPlace);
            if (verdict == EntryVerdict::NotWritten) said.wait = WaitReason::InUse;
            report(said);
            continue;
        }
        said.name = entry.name;
        const bool folder = said.folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        char target[kPathSize];
        said.fault = WhyUnsafe(entry.name);
        if (said.fault != NameFault::None || !BuildEntryTarget(installDir, entry.name, target)) {
            verdict = said.verdict =
                said.fault != NameFault::None ? EntryVerdict::UnsafeName : EntryVerdict::TooLong;
            report(said);
            continue;
        }
        said.result = archive.Extract(i, target);
        // Only a failed file needs the look at its folder.
        const bool folderMissing =
            said.result == ZipOpenFailed && IsEntryFolderMissing(target, folder, folderExists);
        verdict = said.verdict = JudgeEntry(said.result, folderMissing, foldersInPlace);
        if (verdict == EntryVerdict::NotWritten) {
            said.wait = WaitFor(said.result, target, io);
            if (folder) foldersInPlace = false;
        }
        report(said);
    }
    return true;
}
