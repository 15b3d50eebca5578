#include "Check.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DownloadCheck.h"
#include "DownloadStatusCallback.h"
#include "HandOver.h"
#include "InstallPaths.h"
#include "PathWalk.h"
#include "UpdateIo.h"
#include "UpdateRun.h"
#include "Zip.h"
#include "ZipRecords.h"

namespace {

// Without --install the paths are judged under a short folder of this length's kind; a
// player's real folder may be longer.
const char kBareInstallDir[] = "C:\\Quillon";
constexpr DWORD kProgressEveryMs = 2000;
constexpr DWORD kProgressLookMs = 100;

struct Row {
    std::string name;
    bool fetched = false;
    DownloadFacts facts;
    bool whole = false;              // installed whole by the updater
    std::string why;                 // why not, when not
    std::vector<std::string> notes;  // what the operator should know either way
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// A folder of its own under the temporary folder for the downloads, removed with what is
// left in it.
class ScratchFolder {
public:
    ScratchFolder() {
        char temp[kPathSize];
        const DWORD n = GetTempPathA(sizeof temp, temp);
        if (n == 0 || n >= sizeof temp) return;
        m_path = Format("%smkhandover-check-%lu", temp, GetCurrentProcessId());
        if (!CreateDirectoryA(m_path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            m_path.clear();
    }
    ~ScratchFolder() {
        if (m_path.empty()) return;
        DeleteFileA(File("download").c_str());
        DeleteFileA(File("entry").c_str());
        RemoveDirectoryA(m_path.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool IsValid() const { return !m_path.empty(); }
    std::string File(const char* name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

// Prints the running download's progress every few seconds while it lives.
class ProgressLines {
public:
    ProgressLines(const UpdateRun& run, const std::string& label) : m_run(run), m_label(label) {
        m_thread = std::thread([this] { Print(); });
    }
    ~ProgressLines() {
        m_done = true;
        m_thread.join();
    }
    ProgressLines(const ProgressLines&) = delete;
    ProgressLines& operator=(const ProgressLines&) = delete;

private:
    void Print() {
        DWORD waited = 0;
        while (!m_done) {
            Sleep(kProgressLookMs);
            waited += kProgressLookMs;
            if (waited < kProgressEveryMs) continue;
            waited = 0;
            const DWORD max = m_run.ProgressMax();
            if (max == kUnknownDownloadSize) {
                std::fprintf(stderr, "%s: %lu bytes so far\n", m_label.c_str(),
                             static_cast<unsigned long>(m_run.Progress()));
            } else {
                std::fprintf(stderr, "%s: %lu of %lu bytes\n", m_label.c_str(),
                             static_cast<unsigned long>(m_run.Progress()),
                             static_cast<unsigned long>(max));
            }
        }
    }

    const UpdateRun& m_run;
    std::string m_label;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Folder paths compared as Windows does: either separator, ASCII letters without case
// (never inside a double-byte character), no trailing separator.
std::string FolderKey(const char* path) {
    std::string key;
    for (const char* p = path; *p != '\0'; p += CharacterBytes(p)) {
        if (CharacterBytes(p) == 2) {
            key.append(p, 2);
        } else if (IsPathSeparator(*p)) {
            key += '\\';
        } else {
            key += (*p >= 'A' && *p <= 'Z') ? static_cast<char>(*p - 'A' + 'a') : *p;
        }
    }
    while (!key.empty() && key.back() == '\\') key.pop_back();
    return key;
}

// The folders an archive's unpacking would find: the installation folder, what exists in a
// real one, and what the archive's earlier folder entries make.
class Folders {
public:
    Folders(const char* installDir, bool real) : m_root(FolderKey(installDir)), m_real(real) {}

    bool Exists(const char* path) const {
        const std::string key = FolderKey(path);
        if (key == m_root || m_made.count(key) != 0) return true;
        if (!m_real) return false;
        const DWORD attributes = GetFileAttributesA(path);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    // A folder entry makes its folder and every folder above it inside the installation.
    void Make(const char* target) {
        const std::string key = FolderKey(target);
        for (size_t at = m_root.size() + 1; at < key.size(); ++at) {
            if (key[at] == '\\') m_made.insert(key.substr(0, at));
        }
        m_made.insert(key);
    }

private:
    std::string m_root;
    bool m_real;
    std::set<std::string> m_made;
};

bool EndsInZipAnyCase(const char* name) {
    const size_t n = std::strlen(name);
    return n >= 4 && lstrcmpiA(name + n - 4, ".zip") == 0;
}

// Which fact made IsWholeDownload say no, in the operator's words.
std::string DownloadFault(const DownloadFacts& f) {
    if (f.httpStatus == 0) return "no answer from the server";
    if (f.httpStatus < 200 || f.httpStatus > 299)
        return Format("error answer %lu", static_cast<unsigned long>(f.httpStatus));
    if (f.result != S_OK)
        return Format("download failed (0x%08lX)", static_cast<unsigned long>(f.result));
    if (!f.fileExists) return "nothing was stored";
    if (f.fileSize != f.receivedBytes) return "bytes were lost on the way to the disk";
    if (f.lengthAnnounced)
        return Format("cut short: %llu of %lu announced bytes", f.fileSize,
                      static_cast<unsigned long>(f.announcedLength));
    return Format(
        "%llu bytes arrived without an announced length (compressed, chunked or "
        "closed) but the record says %lu",
        f.fileSize, static_cast<unsigned long>(f.recordSize));
}

// What the updater would do with the archive at path, entry by entry, in its own order.
void InspectArchive(const char* path, const std::string& scratchEntry, const char* installDir,
                    bool realInstall, Row& row) {
    SystemUpdateIo io;
    ZipResult why = ZipOk;
    std::unique_ptr<UpdateArchive> zip = io.OpenArchive(path, &why);
    if (!zip) {
        row.why = why == ZipOpenFailed ? "the download cannot be opened"
                                       : "not an archive: deleted unrecorded, nothing unpacked";
        return;
    }
    Folders folders(installDir, realInstall);
    const auto folderExists = [&folders](const char* folder) { return folders.Exists(folder); };
    const int32_t count = zip->Count();
    unsigned files = 0, made = 0, skipped = 0;
    for (int32_t i = 0; i < count; ++i) {
        ZipEntry entry;
        std::memset(&entry, 0, sizeof entry);
        if (zip->Entry(i, &entry) != ZipOk) {
            row.notes.push_back(Format("entry %ld: %s", static_cast<long>(i),
                                       DescribeRefusedRecord(path, i).c_str()));
            row.why = "damaged archive: the rest of it is never written, never recorded";
            return;
        }
        const bool folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        char target[kPathSize];
        if (!BuildEntryTarget(installDir, entry.name, target)) {
            ++skipped;
            row.notes.push_back(Format("skipped %s: %s", entry.name,
                                       IsSafeRelativeName(entry.name)
                                           ? "name too long for the installation folder"
                                           : "unsafe name (absolute or climbing with \"..\")"));
            continue;
        }
        if (folder) {
            folders.Make(target);
            ++made;
            continue;
        }
        const bool missing = IsEntryFolderMissing(target, false, folderExists);
        const ZipResult result = missing ? ZipOpenFailed : zip->Extract(i, scratchEntry.c_str());
        DeleteFileA(scratchEntry.c_str());
        switch (JudgeEntry(result, missing, true)) {
            case EntryOutcome::Written:
                ++files;
                break;
            case EntryOutcome::SkippedByRule:
                ++skipped;
                row.notes.push_back(
                    Format("skipped %s: no earlier folder entry makes its folder%s", entry.name,
                           realInstall ? " and it does not exist in the installation" : ""));
                break;
            case EntryOutcome::Damaged:
                row.notes.push_back(
                    Format("entry %s: damaged data (checksum or length)", entry.name));
                row.why = "damaged archive: the rest of it is never written, never recorded";
                return;
            case EntryOutcome::NotWritten:
                row.notes.push_back(Format("entry %s: data cannot be unpacked", entry.name));
                row.why = "an entry is never written: retried for ever, never recorded";
                return;
        }
    }
    row.notes.push_back(Format("writes %u file(s) and %u folder(s), skips %u entr%s", files, made,
                               skipped, skipped == 1 ? "y" : "ies"));
    if (skipped != 0) {
        row.why = Format("%u entr%s skipped", skipped, skipped == 1 ? "y" : "ies");
        return;
    }
    row.whole = true;
}

// The updater's verdict on one record, fetched through run into the scratch folder.
void CheckRecord(UpdateRun& run, const HandOverHeader& header, const UpdateItem& item,
                 const char* installDir, bool realInstall, const ScratchFolder& scratch,
                 const std::string& label, Row& row) {
    ItemPaths paths;
    if (!BuildItemPaths(installDir, header.szServerUrl, item.szName, paths)) {
        row.why = "unsafe name or path too long: the run stops here, nothing after it";
        return;
    }
    const auto realFolder = [realInstall](const char* folder) {
        const DWORD a = GetFileAttributesA(folder);
        return realInstall && a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    };
    const std::string download = scratch.File("download");
    std::fprintf(stderr, "%s: fetching %s\n", label.c_str(), paths.url);
    {
        ProgressLines progress(run, label);
        row.facts = run.Fetch(paths.url, download.c_str());
    }
    row.facts.recordSize = item.dwSize;
    row.fetched = true;
    const bool whole = IsWholeDownload(row.facts);
    std::fprintf(stderr, "%s: %llu bytes, %s\n", label.c_str(), row.facts.fileSize,
                 whole ? "whole" : "not whole");
    if (!whole) {
        row.why = DownloadFault(row.facts);
    } else if (IsZipName(item.szName)) {
        InspectArchive(download.c_str(), scratch.File("entry"), installDir, realInstall, row);
    } else if (EndsInZipAnyCase(item.szName)) {
        row.why = "moved as a plain file, not unpacked: only \".zip\" in lower case is an archive";
    } else if (FileNamePart(item.szName) != item.szName &&
               (IsEntryFolderMissing(paths.download, false, realFolder) ||
                IsEntryFolderMissing(paths.target, false, realFolder))) {
        row.why = "a folder part: the updater makes only DownLoad\\ itself, so it fails for ever";
    } else {
        if (IsUpdaterName(item.szName)) row.notes.push_back("waits in DownLoad\\ for the lobby");
        row.whole = true;
    }
    DeleteFileA(download.c_str());
}

std::string Number(bool known, unsigned long long value) {
    return known ? Format("%llu", value) : "-";
}

void PrintTable(const std::vector<Row>& rows) {
    std::printf("%-4s %-35s %6s %10s %10s %10s %-8s %s\n", "#", "name", "status", "announced",
                "received", "record", "installs", "why not");
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const DownloadFacts& f = r.facts;
        std::printf("%-4u %-35s %6s %10s %10s %10lu %-8s %s\n", static_cast<unsigned>(i),
                    r.name.c_str(), Number(r.fetched && f.httpStatus != 0, f.httpStatus).c_str(),
                    Number(r.fetched && f.lengthAnnounced, f.announcedLength).c_str(),
                    Number(r.fetched && f.fileExists, f.fileSize).c_str(),
                    static_cast<unsigned long>(f.recordSize), r.whole ? "yes" : "NO",
                    r.why.c_str());
    }
    for (const Row& r : rows) {
        if (r.notes.empty()) continue;
        std::printf("\n%s:\n", r.name.c_str());
        for (const std::string& note : r.notes) std::printf("  %s\n", note.c_str());
    }
}

}  // namespace

bool LoadHandOver(const char* path, HandOverHeader& header, std::unique_ptr<UpdateItem[]>& items) {
    std::vector<unsigned char> bytes;
    FILE* in = std::fopen(path, "rb");
    bool read = in != nullptr;
    if (read) {
        unsigned char chunk[4096];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + got);
        read = std::ferror(in) == 0;
        std::fclose(in);
    }
    if (!read) {
        std::fprintf(stderr, "mkhandover: %s: cannot read\n", path);
        return false;
    }
    UpdateItem* parsed = nullptr;
    if (!ParseHandOver(bytes.data(), bytes.size(), header, parsed)) {
        std::fprintf(stderr,
                     "mkhandover: %s: not a valid hand-over file (%u bytes; the updater would "
                     "refuse it)\n",
                     path, static_cast<unsigned>(bytes.size()));
        return false;
    }
    items.reset(parsed);
    return true;
}

int CheckHandOver(const char* handOverPath, const char* installDir) {
    HandOverHeader header;
    std::unique_ptr<UpdateItem[]> items;
    if (!LoadHandOver(handOverPath, header, items)) return 2;
    const bool realInstall = installDir != nullptr;
    if (realInstall) {
        const DWORD attributes = GetFileAttributesA(installDir);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            std::fprintf(stderr, "mkhandover: %s: no such folder\n", installDir);
            return 2;
        }
    } else {
        installDir = kBareInstallDir;
    }
    ScratchFolder scratch;
    if (!scratch.IsValid()) {
        std::fprintf(stderr, "mkhandover: cannot make a temporary folder\n");
        return 1;
    }

    std::printf("server URL %s\n", header.szServerUrl);
    SystemUpdateIo io;
    UpdateRun run(&io);
    std::vector<Row> rows(header.wCount);
    bool stopped = false;
    for (WORD i = 0; i < header.wCount; ++i) {
        Row& row = rows[i];
        row.name = items[i].szName;
        row.facts.recordSize = items[i].dwSize;
        if (stopped) {
            row.why = "never reached: the run stops at an earlier file";
            continue;
        }
        const std::string label = Format("[%u/%u] %s", i + 1u, header.wCount, items[i].szName);
        CheckRecord(run, header, items[i], installDir, realInstall, scratch, label, row);
        stopped = !row.fetched && !row.whole;
    }
    std::fflush(stderr);
    PrintTable(rows);
    for (const Row& r : rows) {
        if (!r.whole) return 1;
    }
    return 0;
}
