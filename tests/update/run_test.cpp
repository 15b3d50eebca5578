// The run's step without a network or a disk: a scripted world answers its downloads,
// moves, archives and records, and each row checks what the step made of the answers.
// Wine ignores the read-only bit when it runs as root, so the bits a replacement must lift
// are refused here, as Windows refuses them.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "UpdateRun.h"

namespace {

// One archive entry as the scripted archive answers it.
struct FakeEntry {
    const char* name;
    ZipResult record;                 // what Entry answers
    std::vector<ZipResult> extracts;  // what Extract answers, one per call (last repeats)
    bool pastDamage = false;          // a failed record lies past the directory's damage
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
    bool stopAtDownload = false;  // ... or while the download runs (and still ends whole)
    UpdateRun* run = nullptr;

    int downloads = 0, moved = 0, recorded = 0;
    std::vector<DWORD> pauses;
    std::vector<std::string> waitLines;  // the status line during each pause
    std::vector<std::string> extracted, deleted;
    std::set<std::string> files;

    DownloadFacts Download(const char*, const char* path, DownloadStatusCallback&) override {
        ++downloads;
        if (stopAtDownload) run->RequestStop();
        DownloadFacts f;
        f.result = S_OK;
        f.fileExists = true;
        f.fileSize = f.receivedBytes = 10;
        f.httpStatus = Next(statuses, DWORD{200});
        files.insert(path);
        return f;
    }
    void Pause(DWORD ms, HANDLE) override {
        pauses.push_back(ms);
        char line[kStatusLineSize];
        run->GetStatusLine(line);
        waitLines.push_back(run->RetryAt() != 0 ? line : "no retry time kept");
    }
    bool FileExists(const char* path) override { return files.count(path) != 0; }
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
    bool Move(const char* from, const char* to) override {
        // As Windows: no rename over a read-only file or a folder.
        if (Attributes(to) != INVALID_FILE_ATTRIBUTES &&
            (Attributes(to) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
            return false;
        const bool ok = Next(moves, true);
        if (ok) {
            ++moved;
            files.erase(from);
        }
        return ok;
    }
    void Delete(const char* path) override {
        deleted.push_back(path);
        files.erase(path);
    }
    bool WriteRecord(const UpdateItem&) override {
        ++recorded;
        const DWORD a = Attributes(kRecordFile);
        return (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_READONLY) == 0) &&
               Next(records, true);
    }
    std::unique_ptr<UpdateArchive> OpenArchive(const char*, ZipResult* why) override;
};

class ScriptedArchive : public UpdateArchive {
public:
    explicit ScriptedArchive(ScriptedWorld& world) : m_world(world) {}
    int32_t Count() override { return static_cast<int32_t>(m_world.entries.size()); }
    ZipResult Entry(int32_t i, ZipEntry* entry) override {
        const FakeEntry& e = m_world.entries[static_cast<size_t>(i)];
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

std::unique_ptr<UpdateArchive> ScriptedWorld::OpenArchive(const char*, ZipResult* why) {
    *why = Next(opens, ZipOk);
    if (*why != ZipOk) return nullptr;
    return std::unique_ptr<UpdateArchive>(new ScriptedArchive(*this));
}

// Runs a one-item list named name for at most steps steps; true when it completed.
bool RunOne(ScriptedWorld& world, const char* name, int steps = 10) {
    UpdateRun run(&world);
    world.run = &run;
    HandOverHeader header = {};
    header.wCount = 1;
    std::strcpy(header.szServerUrl, "http://127.0.0.1/");
    UpdateItem* items = new UpdateItem[1]();
    std::strcpy(items[0].szName, name);
    run.SetList(header, items);
    run.SetInstallDir("C:\\Game");
    for (int i = 0; i < steps && !run.IsStopping(); ++i) run.DownloadNextItem();
    char line[kStatusLineSize];
    run.GetStatusLine(line);
    world.waitLines.push_back(std::string("after: ") + line);
    return run.IsRunComplete() && items[0].bDone == 1;
}

const DWORD kReadOnly = FILE_ATTRIBUTE_READONLY, kFolder = FILE_ATTRIBUTE_DIRECTORY;

TEST(UpdateRunStep, APlainFileIsDoneOnlyWhenMovedIntoPlace) {
    struct Case {
        const char* fault;
        const char* name;
        std::vector<DWORD> statuses;
        std::vector<bool> moves;
        std::map<std::string, DWORD> attributes;
        int downloads, moved;
        std::vector<DWORD> pauses;
    } cases[] = {
        {"whole and moved", "a.txt", {}, {}, {}, 1, 1, {}},
        {"error answer: fetched again after a pause", "a.txt", {503, 200}, {}, {}, 2, 1, {1000}},
        {"pauses double", "a.txt", {0, 404, 500, 200}, {}, {}, 4, 1, {1000, 2000, 4000}},
        {"refused move: the download is kept and moved later",
         "a.txt",
         {},
         {false, true},
         {},
         1,
         1,
         {1000}},
        {"a read-only, hidden target is lifted and replaced",
         "a.txt",
         {},
         {},
         {{"C:\\Game\\a.txt", kReadOnly | FILE_ATTRIBUTE_HIDDEN}},
         1,
         1,
         {}},
        {"the updater's own file stays in DownLoad", "Update.exe", {}, {}, {}, 1, 0, {}},
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.statuses = c.statuses;
        world.moves = c.moves;
        world.attributes = c.attributes;
        EXPECT_TRUE(RunOne(world, c.name)) << c.fault;
        EXPECT_EQ(c.downloads, world.downloads) << c.fault;
        EXPECT_EQ(c.moved, world.moved) << c.fault;
        EXPECT_EQ(c.pauses, world.pauses) << c.fault;
    }
    ScriptedWorld failing;
    failing.statuses = {503};
    EXPECT_FALSE(RunOne(failing, "a.txt", 6)) << "a file that never comes never completes";
    EXPECT_EQ((std::vector<std::string>(6, "C:\\Game\\DownLoad\\a.txt")), failing.deleted)
        << "every failed download is thrown away";
}

TEST(UpdateRunStep, AnArchiveIsRecordedOnlyWhenEveryEntryIsInPlace) {
    const ZipResult ok = ZipOk, inUse = ZipOpenFailed, full = ZipWriteFailed, bad = ZipCorrupt;
    struct Case {
        const char* fault;
        std::vector<ZipResult> opens;
        std::vector<FakeEntry> entries;
        std::vector<bool> records;
        std::map<std::string, DWORD> attributes;
        bool complete;
        int downloads, recorded;
        std::vector<std::string> extracted;
    } cases[] = {
        {"every entry written",
         {},
         {{"maps/", ok, {}}, {"maps/a", ok, {}}},
         {},
         {},
         true,
         1,
         1,
         {"maps/", "maps/a"}},
        {"an entry in use is tried again alone, from the kept download",
         {},
         {{"a", ok, {}}, {"b", ok, {inUse, ok}}},
         {},
         {{"C:\\Game", kFolder}},
         true,
         1,
         1,
         {"a", "b", "b"}},
        {"a full disk likewise", {}, {{"a", ok, {full, ok}}}, {}, {}, true, 1, 1, {"a", "a"}},
        {"a damaged directory ends the walk: what came before stays, dropped unrecorded",
         {},
         {{"a", ok, {}}, {"b", bad, {}, true}, {"c", ok, {}}},
         {},
         {},
         true,
         1,
         0,
         {"a"}},
        {"an entry refused on its own is skipped, the rest lands, dropped unrecorded",
         {},
         {{"a", bad, {}}, {"b", ok, {}}},
         {},
         {},
         true,
         1,
         0,
         {"b"}},
        {"damaged data: skipped, never tried again, the rest lands",
         {},
         {{"a", ok, {bad, ok}}, {"b", ok, {}}},
         {},
         {},
         true,
         1,
         0,
         {"a", "b"}},
        {"damage waits for the rest to be in place",
         {},
         {{"a", ok, {bad}}, {"b", ok, {full, ok}}},
         {},
         {},
         true,
         1,
         0,
         {"a", "b", "b"}},
        {"no archive at all: dropped unrecorded", {ZipNoEndRecord}, {}, {}, {}, true, 1, 0, {}},
        {"an archive of no entries is recorded", {}, {}, {}, {}, true, 1, 1, {}},
        {"held by another program: waits", {inUse, ok}, {{"a", ok, {}}}, {}, {}, true, 1, 1, {"a"}},
        {"a file whose folder nothing makes is skipped",
         {},
         {{"gone/a", ok, {inUse}}},
         {},
         {{"C:\\Game", kFolder}},
         true,
         1,
         1,
         {"gone/a"}},
        {"a file whose folder entry failed waits for it",
         {},
         {{"d/", ok, {inUse, ok}}, {"d/a", ok, {inUse, ok}}},
         {},
         {},
         true,
         1,
         1,
         {"d/", "d/a", "d/", "d/a"}},
        {"unsafe names are skipped unwritten",
         {},
         {{"../x", ok, {}}, {"C:/x", ok, {}}},
         {},
         {},
         true,
         1,
         1,
         {}},
        {"a record that was not written is written again",
         {},
         {{"a", ok, {}}},
         {false, true},
         {},
         true,
         1,
         2,
         {"a"}},
        {"a read-only record is lifted and written",
         {},
         {{"a", ok, {}}},
         {},
         {{kRecordFile, kReadOnly}},
         true,
         1,
         1,
         {"a"}},
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.opens = c.opens;
        world.entries = c.entries;
        world.records = c.records;
        world.attributes = c.attributes;
        EXPECT_EQ(c.complete, RunOne(world, "pack.zip", 4)) << c.fault;
        EXPECT_EQ(c.downloads, world.downloads) << c.fault;
        EXPECT_EQ(c.recorded, world.recorded) << c.fault;
        EXPECT_EQ(c.extracted, world.extracted) << c.fault;
        EXPECT_TRUE(world.files.empty()) << c.fault << ": the download was not thrown away";
    }
}

// While the run waits, the window's status line says for what and for which file, and the
// run keeps when it tries again; once the file is in place the usual line is back.
TEST(UpdateRunStep, AWaitingRunSaysWhatItWaitsFor) {
    struct Case {
        const char* name;
        std::vector<DWORD> statuses;
        std::vector<FakeEntry> entries;
        std::map<std::string, DWORD> attributes;
        std::vector<bool> records;
        std::vector<std::string> lines;
    } cases[] = {
        {"a.txt",
         {503, 0},
         {},
         {},
         {},
         {"服务器错误 503 a.txt", "服务器无响应 a.txt", "after: 正在下载文件 a.txt"}},
        {"a.txt",
         {},
         {},
         {{"C:\\Game\\a.txt", kFolder}},
         {},
         {"同名文件夹阻挡 a.txt", "同名文件夹阻挡 a.txt", "after: 同名文件夹阻挡 a.txt"}},
        {"p.zip",
         {},
         {{"m/", ZipOk, {}}, {"m/b.map", ZipOk, {ZipOpenFailed, ZipWriteFailed, ZipOk}}},
         {{"C:\\Game\\m", kFolder}},
         {},
         {"文件被占用 b.map", "磁盘空间不足 b.map", "after: 正在下载文件 p.zip"}},
        {"p.zip",
         {},
         {},
         {},
         {false},
         {"文件被占用 UpdateClient.txt", "文件被占用 UpdateClient.txt",
          "after: 文件被占用 UpdateClient.txt"}},
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.statuses = c.statuses;
        world.entries = c.entries;
        world.attributes = c.attributes;
        world.records = c.records;
        RunOne(world, c.name, 3);
        EXPECT_EQ(c.lines, world.waitLines) << c.name;
    }
}

TEST(UpdateRunStep, AStopEndsTheRunUnrecordedAndUninstalled) {
    ScriptedWorld world;
    world.entries = {{"a", ZipOk, {}}, {"b", ZipOk, {}}, {"c", ZipOk, {}}};
    world.stopAtExtract = 1;
    EXPECT_FALSE(RunOne(world, "pack.zip"));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), world.extracted);
    EXPECT_EQ(0, world.recorded);
    EXPECT_TRUE(world.deleted.empty()) << "nothing is thrown away on a stop";
    ScriptedWorld late;
    late.stopAtDownload = true;
    EXPECT_FALSE(RunOne(late, "a.txt"));
    EXPECT_EQ(0, late.moved) << "a download that ended after the stop was installed";
}

TEST(UpdateRunStep, AnUnplaceableNameEndsTheRunIncomplete) {
    for (const char* name : {"..\\x.txt", "C:\\x.txt", "\\x.txt"}) {
        ScriptedWorld world;
        EXPECT_FALSE(RunOne(world, name)) << name;
        EXPECT_EQ(0, world.downloads) << name;
    }
}

}  // namespace
