// The run's step without a network or a disk: a scripted world answers its downloads,
// moves, archives and records, and each row checks what the step made of the answers.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
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
    std::set<std::string> folders;
    int stopAtExtract = -1;  // the run is told to stop when this entry is extracted
    bool stopAtDownload = false;  // ... or while the download runs (and still ends whole)
    UpdateRun* run = nullptr;

    int downloads = 0, moved = 0, recorded = 0;
    std::vector<DWORD> pauses;
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
    void Pause(DWORD ms, HANDLE) override { pauses.push_back(ms); }
    bool FileExists(const char* path) override { return files.count(path) != 0; }
    bool FolderExists(const char* path) override { return folders.count(path) != 0; }
    void MakeFolder(const char*) override {}
    void StampTimes(const char*, const FILETIME&) override {}
    bool Move(const char* from, const char*) override {
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
        return Next(records, true);
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
    return run.IsRunComplete() && items[0].bDone == 1;
}

TEST(UpdateRunStep, APlainFileIsDoneOnlyWhenMovedIntoPlace) {
    struct Case {
        const char* fault;
        const char* name;
        std::vector<DWORD> statuses;
        std::vector<bool> moves;
        int downloads, moved;
        std::vector<DWORD> pauses;
    } cases[] = {
        {"whole and moved", "a.txt", {}, {}, 1, 1, {}},
        {"error answer: fetched again after a pause", "a.txt", {503, 200}, {}, 2, 1, {1000}},
        {"pauses double", "a.txt", {0, 404, 500, 200}, {}, 4, 1, {1000, 2000, 4000}},
        {"refused move: the download is kept and moved later", "a.txt", {}, {false, true}, 1,
         1, {1000}},
        {"the updater's own file stays in DownLoad", "Update.exe", {}, {}, 1, 0, {}},
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.statuses = c.statuses;
        world.moves = c.moves;
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
    const ZipResult ok = ZipOk, inUse = ZipOpenFailed, full = ZipWriteFailed;
    struct Case {
        const char* fault;
        std::vector<ZipResult> opens;
        std::vector<FakeEntry> entries;
        std::vector<bool> records;
        std::set<std::string> folders;
        bool complete;
        int downloads, recorded;
        std::vector<std::string> extracted;
    } cases[] = {
        {"every entry written", {}, {{"maps/", ok, {}}, {"maps/a", ok, {}}}, {}, {}, true, 1, 1,
         {"maps/", "maps/a"}},
        {"an entry in use is tried again alone, from the kept download", {},
         {{"a", ok, {}}, {"b", ok, {inUse, ok}}}, {}, {"C:\\Game"}, true, 1, 1, {"a", "b", "b"}},
        {"a full disk likewise", {}, {{"a", ok, {full, ok}}}, {}, {}, true, 1, 1, {"a", "a"}},
        {"a damaged record ends the walk: what came before stays, dropped unrecorded", {},
         {{"a", ok, {}}, {"b", ZipCorrupt, {}}, {"c", ok, {}}}, {}, {}, true, 1, 0, {"a"}},
        {"damaged data: dropped unrecorded", {}, {{"a", ok, {ZipCorrupt, ok}}, {"b", ok, {}}},
         {}, {}, true, 1, 0, {"a"}},
        {"no archive at all: dropped unrecorded", {ZipNoEndRecord}, {}, {}, {}, true, 1, 0, {}},
        {"an archive of no entries is recorded", {}, {}, {}, {}, true, 1, 1, {}},
        {"held by another program: waits", {inUse, ok}, {{"a", ok, {}}}, {}, {}, true, 1, 1,
         {"a"}},
        {"a file whose folder nothing makes is skipped", {}, {{"gone/a", ok, {inUse}}}, {},
         {"C:\\Game"}, true, 1, 1, {"gone/a"}},
        {"a file whose folder entry failed waits for it", {},
         {{"d/", ok, {inUse, ok}}, {"d/a", ok, {inUse, ok}}}, {}, {}, true, 1, 1,
         {"d/", "d/a", "d/", "d/a"}},
        {"unsafe names are skipped unwritten", {}, {{"../x", ok, {}}, {"C:/x", ok, {}}}, {}, {},
         true, 1, 1, {}},
        {"a record that was not written is written again", {}, {{"a", ok, {}}}, {false, true},
         {}, true, 1, 2, {"a"}},
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.opens = c.opens;
        world.entries = c.entries;
        world.records = c.records;
        world.folders = c.folders;
        EXPECT_EQ(c.complete, RunOne(world, "pack.zip", 4)) << c.fault;
        EXPECT_EQ(c.downloads, world.downloads) << c.fault;
        EXPECT_EQ(c.recorded, world.recorded) << c.fault;
        EXPECT_EQ(c.extracted, world.extracted) << c.fault;
        EXPECT_TRUE(world.files.empty()) << c.fault << ": the download was not thrown away";
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
