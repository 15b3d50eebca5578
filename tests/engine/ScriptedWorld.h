// The world a run acts on, scripted: its downloads, moves, archives and records answer as
// each test row says, and what the run did is kept for the row to check. Wine ignores the
// read-only bit when it runs as root, so the bits a replacement must lift are refused here,
// as Windows refuses them.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "UpdateRun.h"

DownloadFacts Answer(DWORD status, const wchar_t* headers, ULONGLONG onDisk, ULONGLONG counted,
                     DWORD record = 0);

// One archive entry as the scripted archive answers it.
struct FakeEntry {
    const char* name;
    ZipResult record = ZipOk;              // what Entry answers
    std::vector<ZipResult> extracts = {};  // what Extract answers, one per call (last repeats)
    bool pastDamage = false;               // a failed record lies past the directory's damage
    int unreadable = 0;                    // Entry fails to read this many times first
};

template <class T>
T Next(std::vector<T>& answers, T otherwise) {
    if (answers.empty()) return otherwise;
    T answer = answers.front();
    if (answers.size() > 1) answers.erase(answers.begin());
    return answer;
}

class ScriptedWorld : public UpdateIo {
public:
    std::vector<DWORD> statuses;  // per download: the answer's status (200 when none left)
    std::vector<bool> moves, records;
    std::vector<ZipResult> opens;
    std::vector<FakeEntry> entries;
    std::map<std::string, DWORD> attributes;  // of files and folders there are
    int stopAtExtract = -1;       // the run is told to stop when this entry is extracted
    int stopAtDownload = 0;       // ... or while this download (1, 2, ...) runs, ending as
                                  // scripted
    bool losePieces = false;      // every piece's file vanishes during each pause
    UpdateRun* run = nullptr;
    std::string base;             // the folder the last archive was opened to unpack below
    std::vector<std::string> arrivals;  // where each download arrived
    // A signed release: the manifest's texts served at its URL in turn, the last repeating
    // (404 for "" or none), the digest a
    // hash gives when the script says the file is the signed one (one answer a hash, the
    // last repeating; signed when none), another digest otherwise, and the clock.
    std::vector<std::string> manifests;
    uint8_t signedDigest[kSha256Bytes] = {};
    std::vector<bool> hashes;
    ULONGLONG now = 0;
    // What the installation holds of its key, read in turn (the last repeating), and the
    // serials pinned.
    std::vector<InstalledKey> keys;
    std::vector<DWORD> pins;
    ULONGLONG appendOnMove = 0;
    std::vector<std::string> denied;  // paths the run may not write (nothing moves there)  // appended to a download once moved into DownLoad

    // Runs inside every download but the manifest's once its request is in asked, as other
    // threads would meanwhile.
    std::function<void()> during;

    int downloads = 0, moved = 0, recorded = 0, aborted = 0;
    std::vector<DWORD> pauses;
    std::vector<std::string> waitLines;  // the status line during each pause
    std::vector<std::string> extracted, deleted;
    std::map<std::string, ULONGLONG> files;  // and their sizes
    std::map<std::string, std::string> texts;
    // Answers to hand out in turn instead of statuses (their bytes land at the path), what
    // each request asked for beyond the whole file, and the bar halfway through each.
    std::vector<DownloadFacts> answers;
    std::vector<std::string> asked, bars;
    // Answers by the name asked for, before answers and statuses; and where each file went
    // into the installation folder, in order.
    std::map<std::string, std::vector<DownloadFacts>> answersFor;
    std::vector<std::string> installed;

    DownloadFacts Download(const char* url, const char* path, DownloadStatusCallback& c) override {
        if (std::strstr(url, kReleaseManifestName) != nullptr) {
            const std::string manifest = Next(manifests, std::string());
            DownloadFacts f = Answer(manifest.empty() ? 404 : 200, L"", manifest.size(),
                                     manifest.size());
            if (!manifest.empty()) texts[path] = manifest;
            return f;
        }
        if (++downloads == stopAtDownload) run->RequestStop();
        arrivals.push_back(path);
        LPWSTR headers = nullptr;
        c.BeginningTransaction(L"", L"", 0, &headers);
        asked.push_back(headers != nullptr ? std::string(headers, headers + wcslen(headers)) : "");
        CoTaskMemFree(headers);
        if (during) during();
        DownloadFacts f;
        f.result = S_OK;
        f.fileExists = true;
        f.fileSize = f.receivedBytes = 10;
        f.httpStatus = Next(statuses, DWORD{200});
        std::vector<DownloadFacts>& named = answersFor[std::strrchr(url, '\\') + 1];
        std::vector<DownloadFacts>& script = named.empty() ? answers : named;
        if (!script.empty()) {
            f = script.front();
            script.erase(script.begin());
            // A download the callback aborts ends there, as the moniker ends it.
            if (c.OnProgress(static_cast<ULONG>(f.receivedBytes / 2),
                             f.lengthAnnounced ? f.announcedLength : 0,
                             BINDSTATUS_DOWNLOADINGDATA, L"") == E_ABORT) {
                f.result = E_ABORT;
                ++aborted;
            }
            bars.push_back(std::to_string(run->Progress()) + "/" +
                           std::to_string(run->ProgressMax()));
        }
        files[path] = f.fileSize;
        return f;
    }
    void Pause(DWORD ms, HANDLE) override {
        pauses.push_back(ms);
        for (auto f = files.begin(); losePieces && f != files.end();)
            f = f->first.find("~updater-piece") != std::string::npos ? files.erase(f) : ++f;
        char line[kStatusLineSize];
        run->GetStatusLine(line);
        waitLines.push_back(run->RetryAt() != 0 ? line : "no retry time kept");
    }
    bool FileSize(const char* path, ULONGLONG* size) override {
        const auto known = files.find(path);
        if (known == files.end()) return false;
        *size = known->second;
        return true;
    }
    bool Append(const char*, ULONGLONG length, const char* to) override {
        files[to] += length;
        return true;
    }
    bool Cut(const char* path, ULONGLONG length) override {
        files[path] = length;
        return true;
    }
    bool HashFile(const char* path, ULONGLONG* size, uint8_t (&digest)[kSha256Bytes]) override {
        if (!FileSize(path, size)) return false;
        std::memcpy(digest, signedDigest, sizeof digest);
        if (!Next(hashes, true)) digest[0] ^= 1;
        return true;
    }
    ULONGLONG UtcNow() override { return now; }
    bool ReadText(const char* path, std::string* text) override {
        const auto known = texts.find(path);
        if (known == texts.end()) return false;
        *text = known->second;
        return true;
    }
    bool WriteText(const char* path, const std::string& text) override {
        texts[path] = text;
        return true;
    }
    void MakeFolder(const char*) override {}
    void StampTimes(const char*, const FILETIME&) override {}
    DWORD Attributes(const char* path) override {
        const auto known = attributes.find(path);
        return known != attributes.end() ? known->second : INVALID_FILE_ATTRIBUTES;
    }
    bool SetAttributes(const char* path, DWORD value) override {
        attributes[path] = value;
        return true;
    }
    bool MayNotWrite(const char* path) override {
        return std::find(denied.begin(), denied.end(), path) != denied.end();
    }
    bool Move(const char* from, const char* to) override {
        if (MayNotWrite(to)) return false;
        // As Windows: no rename over a read-only file or a folder.
        if (Attributes(to) != INVALID_FILE_ATTRIBUTES &&
            (Attributes(to) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
            return false;
        // moves and moved script and count what goes into the installation folder.
        const bool install = std::strstr(to, "\\DownLoad\\") == nullptr;
        const bool ok = !install || Next(moves, true);
        if (ok) {
            moved += install;
            if (install) installed.push_back(to);
            files[to] = files[from] + (install ? 0 : appendOnMove);
            files.erase(from);
        }
        return ok;
    }
    void Delete(const char* path) override {
        if (files.erase(path) != 0 || texts.erase(path) != 0) deleted.push_back(path);
    }
    bool WriteRecord(const UpdateItem&) override {
        ++recorded;
        const DWORD a = Attributes(kRecordFile);
        return (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_READONLY) == 0) &&
               Next(records, true);
    }
    std::vector<std::string> FilesLike(const char* folder, const char* pattern) override {
        // Patterns of the form "prefix*".
        const std::string start = std::string(folder) + std::string(pattern, std::strcspn(pattern, "*"));
        std::vector<std::string> names;
        for (const auto& f : files) {
            if (f.first.compare(0, start.size(), start) == 0)
                names.push_back(f.first.substr(std::strlen(folder)));
        }
        return names;
    }
    std::unique_ptr<UpdateArchive> OpenArchive(const char*, const char*, ZipResult* why) override;
    InstalledKey ReadInstalledKey(const char*) override { return Next(keys, InstalledKey()); }
    bool PinRelease(const PublicKey&, DWORD serial) override {
        pins.push_back(serial);
        return true;
    }
    void ForgetPinnedRelease() override { pins.push_back(0); }
};

class ScriptedArchive : public UpdateArchive {
public:
    explicit ScriptedArchive(ScriptedWorld& world) : m_world(world) {}
    int32_t Count() override { return static_cast<int32_t>(m_world.entries.size()); }
    ZipResult Entry(int32_t i, ZipEntry* entry) override {
        FakeEntry& e = m_world.entries[static_cast<size_t>(i)];
        if (e.unreadable > 0 && e.unreadable--) return ZipReadFailed;
        if (e.record != ZipOk) return e.record;
        std::snprintf(entry->name, sizeof entry->name, "%s", e.name);
        const size_t n = std::strlen(e.name);
        entry->attributes = n > 0 && e.name[n - 1] == '/' ? FILE_ATTRIBUTE_DIRECTORY : 0x80;
        return ZipOk;
    }
    ZipResult Extract(int32_t i, const char*) override {
        if (i == m_world.stopAtExtract) m_world.run->RequestStop();
        FakeEntry& e = m_world.entries[static_cast<size_t>(i)];
        m_world.extracted.push_back(e.name);
        return Next(e.extracts, ZipOk);
    }
    bool PastDamage(int32_t i) override {
        for (int32_t k = 0; k <= i; ++k) {
            if (m_world.entries[static_cast<size_t>(k)].pastDamage) return true;
        }
        return false;
    }

private:
    ScriptedWorld& m_world;
};

inline std::unique_ptr<UpdateArchive> ScriptedWorld::OpenArchive(const char*, const char* folder,
                                                          ZipResult* why) {
    base = folder;
    *why = Next(opens, ZipOk);
    if (*why != ZipOk) return nullptr;
    return std::unique_ptr<UpdateArchive>(new ScriptedArchive(*this));
}

// Runs a list of names for at most steps steps; true when it completed. setUp sees the run
// before its first step, after once it ended.
inline bool RunList(ScriptedWorld& world, const std::vector<const char*>& names, int steps = 10,
                    const std::function<void(UpdateRun&)>& setUp = nullptr,
                    const std::function<void(UpdateRun&)>& after = nullptr) {
    UpdateRun run(&world);
    world.run = &run;
    if (setUp) setUp(run);
    HandOverHeader header = {};
    header.wCount = static_cast<WORD>(names.size());
    std::strcpy(header.szServerUrl, "http://127.0.0.1/");
    UpdateItem* items = new UpdateItem[names.size()]();
    for (size_t i = 0; i < names.size(); ++i) std::strcpy(items[i].szName, names[i]);
    run.SetList(header, items);
    run.SetInstallDir("C:\\Game");
    for (int i = 0; i < steps && !run.IsStopping(); ++i) run.DownloadNextItem();
    char line[kStatusLineSize];
    run.GetStatusLine(line);
    world.waitLines.push_back(std::string("after: ") + line);
    if (after) after(run);
    bool done = run.IsRunComplete();
    for (size_t i = 0; i < names.size(); ++i) done = done && items[i].bDone == 1;
    return done;
}

// Workers that run the fetches ahead on the test's own thread, when the run waits for one,
// the last posted first: downloads finish in another order than the list's.
class ScriptedWorkers : public AheadWorkers {
public:
    std::vector<AheadJob> jobs;
    int posted = 0;
    void Post(const AheadJob& job) override {
        ++posted;
        jobs.push_back(job);
    }
    void Help() override {
        std::vector<AheadJob> now;
        now.swap(jobs);
        for (auto job = now.rbegin(); job != now.rend(); ++job) job->Run();
    }
};
