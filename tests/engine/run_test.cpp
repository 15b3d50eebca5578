// The run's step without a network or a disk: a scripted world answers its downloads,
// moves, archives and records, and each row checks what the step made of the answers.
#include <gtest/gtest.h>

#include "ScriptedWorld.h"

namespace {

const DWORD kReadOnly = FILE_ATTRIBUTE_READONLY, kFolder = FILE_ATTRIBUTE_DIRECTORY;

TEST(UpdateRunStep, APlainFileIsDoneOnlyWhenMovedIntoPlace) {
    struct Case {
        const char* fault;
        std::vector<DWORD> statuses;
        int downloads, moved;
        std::vector<DWORD> pauses;
        std::vector<bool> moves = {};
        std::map<std::string, DWORD> attributes = {};
        const char* name = "a.txt";
    } cases[] = {
        // clang-format off
        {"whole and moved", {}, 1, 1, {}},
        {"error answer: fetched again after a pause", {503, 200}, 2, 1, {1000}},
        {"pauses double", {0, 404, 500, 200}, 4, 1, {1000, 2000, 4000}},
        {"refused move: the download is kept and moved later", {}, 1, 1, {1000}, {false, true}},
        {"a read-only, hidden target is lifted and replaced", {}, 1, 1, {}, {},
         {{"C:\\Game\\a.txt", kReadOnly | FILE_ATTRIBUTE_HIDDEN}}},
        {"the updater's own file stays in DownLoad", {}, 1, 0, {}, {}, {}, "Update.exe"},
        // clang-format on
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.statuses = c.statuses;
        world.moves = c.moves;
        world.attributes = c.attributes;
        EXPECT_TRUE(RunList(world, {c.name})) << c.fault;
        EXPECT_EQ(c.downloads, world.downloads) << c.fault;
        EXPECT_EQ(c.moved, world.moved) << c.fault;
        EXPECT_EQ(c.pauses, world.pauses) << c.fault;
    }
    ScriptedWorld failing;
    failing.statuses = {503};
    EXPECT_FALSE(RunList(failing, {"a.txt"}, 6)) << "a file that never comes never completes";
    EXPECT_EQ((std::vector<std::string>(6, "C:\\Game\\DownLoad\\" + PieceFileName(0))),
              failing.deleted)
        << "every failed download is thrown away";
}

// Every row's run completes after one download; what differs is what it wrote and recorded.
TEST(UpdateRunStep, AnArchiveIsRecordedOnlyWhenEveryEntryIsInPlace) {
    const ZipResult ok = ZipOk, inUse = ZipOpenFailed, full = ZipWriteFailed, bad = ZipCorrupt;
    const std::map<std::string, DWORD> game = {{"C:\\Game", kFolder}};
    struct Case {
        const char* fault;
        std::vector<FakeEntry> entries;
        int recorded;
        std::vector<std::string> extracted;
        std::map<std::string, DWORD> attributes = {};
        std::vector<ZipResult> opens = {};
        std::vector<bool> records = {};
    } cases[] = {
        // clang-format off
        {"every entry written", {{"maps/"}, {"maps/a"}}, 1, {"maps/", "maps/a"}},
        {"an entry in use is tried again alone, from the kept download",
         {{"a"}, {"b", ok, {inUse, ok}}}, 1, {"a", "b", "b"}, game},
        {"a full disk likewise", {{"a", ok, {full, ok}}}, 1, {"a", "a"}},
        {"a damaged directory ends the walk: what came before stays, dropped unrecorded",
         {{"a"}, {"b", bad, {}, true}, {"c"}}, 0, {"a"}},
        {"an entry refused on its own is skipped, the rest lands, dropped unrecorded",
         {{"a", bad}, {"b"}}, 0, {"b"}},
        {"damaged data: skipped, never tried again, the rest lands",
         {{"a", ok, {bad, ok}}, {"b"}}, 0, {"a", "b"}},
        {"damage waits for the rest to be in place",
         {{"a", ok, {bad}}, {"b", ok, {full, ok}}}, 0, {"a", "b", "b"}},
        {"no archive at all: dropped unrecorded", {}, 0, {}, {}, {ZipNoEndRecord}},
        {"an archive the disk failed to read, or no memory to open it: waits", {{"a"}}, 1, {"a"},
         {}, {ZipReadFailed, ZipOutOfMemory, ok}},
        {"a record the disk failed to read: waits, then lands", {{"a", ok, {}, false, 1}, {"b"}},
         1, {"b", "a"}},
        {"an archive of no entries is recorded", {}, 1, {}},
        {"held by another program: waits", {{"a"}}, 1, {"a"}, {}, {inUse, ok}},
        {"a file whose folder nothing makes is skipped", {{"gone/a", ok, {inUse}}}, 1, {"gone/a"},
         game},
        {"a file whose folder entry failed waits for it",
         {{"d/", ok, {inUse, ok}}, {"d/a", ok, {inUse, ok}}}, 1, {"d/", "d/a", "d/", "d/a"}},
        {"unsafe names are skipped unwritten", {{"../x"}, {"C:/x"}}, 1, {}},
        {"a record that was not written is written again", {{"a"}}, 2, {"a"}, {}, {},
         {false, true}},
        {"a read-only record is lifted and written", {{"a"}}, 1, {"a"}, {{kRecordFile, kReadOnly}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.opens = c.opens;
        world.entries = c.entries;
        world.records = c.records;
        world.attributes = c.attributes;
        EXPECT_TRUE(RunList(world, {"pack.zip"}, 4)) << c.fault;
        EXPECT_EQ(1, world.downloads) << c.fault;
        EXPECT_EQ(c.recorded, world.recorded) << c.fault;
        EXPECT_EQ(c.extracted, world.extracted) << c.fault;
        EXPECT_TRUE(world.files.empty()) << c.fault << ": the download was not thrown away";
        if (!world.base.empty()) {
            EXPECT_EQ("C:\\Game", world.base) << "folders go where files go";
        }
    }
}

// While the run waits, the window's status line says for what and for which file, and the
// run keeps when it tries again; once the file is in place the usual line is back.
TEST(UpdateRunStep, AWaitingRunSaysWhatItWaitsFor) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        std::vector<DWORD> statuses = {};
        std::vector<FakeEntry> entries = {};
        std::map<std::string, DWORD> attributes = {};
        std::vector<bool> records = {};
        std::vector<std::string> denied = {};
    } cases[] = {
        // clang-format off
        {"a.txt", {"无权写入 a.txt", "无权写入 a.txt", "after: 无权写入 a.txt"}, {}, {}, {}, {},
         {"C:\\Game\\a.txt"}},
        {"p.zip", {"无权写入 b.map", "无权写入 b.map", "after: 无权写入 b.map"}, {},
         {{"b.map", ZipOk, {ZipOpenFailed}}}, {{"C:\\Game", kFolder}}, {}, {"C:\\Game\\b.map"}},
        {"p.zip", {"无权写入 UpdateClient.txt", "无权写入 UpdateClient.txt",
                   "after: 无权写入 UpdateClient.txt"}, {}, {}, {}, {false}, {kRecordFile}},
        {"a.txt", {"服务器错误 503 a.txt", "服务器无响应 a.txt", "after: 正在下载文件 a.txt"},
         {503, 0}},
        {"a.txt", {"同名文件夹阻挡 a.txt", "同名文件夹阻挡 a.txt", "after: 同名文件夹阻挡 a.txt"},
         {}, {}, {{"C:\\Game\\a.txt", kFolder}}},
        {"a.txt", {"同名文件夹阻挡 a.txt", "同名文件夹阻挡 a.txt", "after: 正在下载文件 a.txt"},
         {}, {}, {{"C:\\Game\\DownLoad\\a.txt", kFolder}}},
        {"p.zip", {"文件被占用 b.map", "磁盘空间不足 b.map", "after: 正在下载文件 p.zip"},
         {}, {{"m/"}, {"m/b.map", ZipOk, {ZipOpenFailed, ZipWriteFailed, ZipOk}}},
         {{"C:\\Game\\m", kFolder}}},
        {"p.zip", {"文件被占用 UpdateClient.txt", "文件被占用 UpdateClient.txt",
                   "after: 文件被占用 UpdateClient.txt"}, {}, {}, {}, {false}},
        // clang-format on
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.statuses = c.statuses;
        world.entries = c.entries;
        world.attributes = c.attributes;
        world.records = c.records;
        world.denied = c.denied;
        RunList(world, {c.name}, 3);
        EXPECT_EQ(c.lines, world.waitLines) << c.name;
    }
}

// A download cut short is kept and the next attempt asks for the rest, from this run or
// the next one; the bar stands for the whole file.
TEST(UpdateRunStep, ADownloadCutShortGoesOnFromWhereItStopped) {
    const wchar_t* v = L"Content-Length: 100\r\nETag: \"v\"";
    const DownloadFacts cut = Answer(200, v, 40, 40), whole = Answer(200, v, 100, 100);
    // The rest of the file from byte 40 (70), length bytes of it.
    auto restFrom = [](const wchar_t* range, ULONGLONG length) {
        return Answer(
            206, (std::wstring(L"Content-Range: bytes ") + range + L"/100\r\nETag: \"v\"").c_str(),
            length, length);
    };
    const DownloadFacts rest = restFrom(L"40-99", 60);
    const std::string from40 = "Range: bytes=40-\r\nIf-Range: \"v\"\r\n";
    DownloadFacts zipped =
        Answer(200, L"Content-Length: 100\r\nContent-Encoding: gzip\r\nETag: \"v\"", 40, 40);
    zipped.result = E_ABORT;  // broken off
    DownloadFacts nothing = restFrom(L"40-99", 0);
    nothing.fileExists = false;
    struct Case {
        const char* fault;
        std::vector<DownloadFacts> answers;
        std::vector<std::string> asked;
        std::vector<DWORD> pauses;
        std::vector<std::string> bars;
        bool losePieces = false;
    } cases[] = {
        // clang-format off
        {"cut, then the rest", {cut, rest}, {"", from40}, {1000}, {"20/100", "70/100"}},
        {"an abort between two reports: only the counted bytes are kept",
         {Answer(200, v, 50, 40), rest}, {"", from40}, {1000}, {"20/100", "70/100"}},
        {"the rest itself cut: every piece that grew waits the shortest pause",
         {cut, restFrom(L"40-99", 30), restFrom(L"70-99", 30)},
         {"", from40, "Range: bytes=70-\r\nIf-Range: \"v\"\r\n"}, {1000, 1000},
         {"20/100", "55/100", "85/100"}},
        {"the server sends the file anew",
         {cut, Answer(200, L"Content-Length: 100\r\nETag: \"w\"", 100, 100)}, {"", from40}, {1000},
         {"20/100", "90/100"}},
        {"a range that starts elsewhere is refused: from zero again",
         {cut, restFrom(L"0-59", 60), whole}, {"", from40, ""}, {1000, 2000},
         {"20/100", "70/100", "50/100"}},
        {"no answer keeps the piece", {cut, Answer(0, L"", 0, 0), rest}, {"", from40, from40},
         {1000, 2000}, {"20/100", "40/100", "70/100"}},
        {"a compressed answer is never continued", {zipped, whole}, {"", ""}, {1000},
         {"20/100000", "50/100"}},
        {"a piece whose file vanished is no piece: fetched afresh", {cut, whole}, {"", ""}, {1000},
         {"20/100", "50/100"}, true},
        {"a 206 that brought no byte keeps the piece", {cut, nothing, rest},
         {"", from40, from40}, {1000, 2000}, {"20/100", "40/100", "70/100"}},
        {"a server busy for a while keeps the piece", {cut, Answer(503, L"", 0, 0), rest},
         {"", from40, from40}, {1000, 2000}, {"20/100", "40/100", "70/100"}},
        // clang-format on
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.answers = c.answers;
        world.losePieces = c.losePieces;
        EXPECT_TRUE(RunList(world, {"a.txt"})) << c.fault;
        for (const std::string& path : world.arrivals)
            EXPECT_NE("C:\\Game\\DownLoad\\a.txt", path) << c.fault << ": arrived under its name";
        EXPECT_EQ(c.asked, world.asked) << c.fault;
        EXPECT_EQ(c.pauses, world.pauses) << c.fault;
        EXPECT_EQ(c.bars, world.bars) << c.fault;
        EXPECT_TRUE(world.texts.empty()) << c.fault << ": a piece left behind";
        EXPECT_EQ(1u, world.files.size()) << c.fault << ": a file left in DownLoad";
    }

    // A piece an earlier run kept is gone on from; one of an item no longer listed goes.
    ScriptedWorld world;
    const std::string folder = "C:\\Game\\DownLoad\\";
    PieceRecord listed;
    listed.name = "a.txt";
    listed.file = PieceFileName(0);
    listed.url = "http://127.0.0.1/Torvel\\a.txt";
    listed.piece = PieceOf(cut);
    PieceRecord gone = listed;
    gone.name = "gone.bin";
    gone.file = PieceFileName(1);
    world.texts[folder + kPieceIndexName] = FormatPieceIndex({listed, gone});
    // Files of ours the index does not list (a refused line's, a killed run's download) go too.
    world.files = {{folder + listed.file, 40}, {folder + gone.file, 40},
                   {folder + PieceFileName(7), 5}, {folder + "~updater-the-rest.tmp", 3}};
    world.answers = {rest};
    EXPECT_TRUE(RunList(world, {"a.txt"}));
    EXPECT_EQ(std::vector<std::string>{from40}, world.asked);
    EXPECT_EQ((std::map<std::string, ULONGLONG>{{"C:\\Game\\a.txt", 100}}), world.files)
        << "the pieces went, the joined file was moved into place";
    EXPECT_TRUE(world.texts.empty());

    // A stop as the last rest completes keeps the whole file as a piece: the next run takes it
    // without asking again.
    ScriptedWorld stopped;
    stopped.answers = {cut, rest};
    stopped.stopAtDownload = 2;
    EXPECT_FALSE(RunList(stopped, {"a.txt"}));
    EXPECT_TRUE(RunList(stopped, {"a.txt"}));
    EXPECT_EQ(2, stopped.downloads);
    EXPECT_EQ((std::map<std::string, ULONGLONG>{{"C:\\Game\\a.txt", 100}}), stopped.files);

    ScriptedWorld refused;  // a refused range drops its piece's file at once, even on a stop
    refused.answers = {cut, restFrom(L"0-59", 60)};
    refused.stopAtDownload = 2;
    EXPECT_FALSE(RunList(refused, {"a.txt"}));
    EXPECT_TRUE(refused.files.empty()) << "the piece's file was left behind";
}

TEST(UpdateRunStep, AStopEndsTheRunUnrecordedAndUninstalled) {
    ScriptedWorld world;
    world.entries = {{"a", ZipOk, {}}, {"b", ZipOk, {}}, {"c", ZipOk, {}}};
    world.stopAtExtract = 1;
    EXPECT_FALSE(RunList(world, {"pack.zip"}));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), world.extracted);
    EXPECT_EQ(0, world.recorded);
    EXPECT_TRUE(world.deleted.empty()) << "nothing is thrown away on a stop";
    ScriptedWorld late;
    late.stopAtDownload = 1;
    EXPECT_FALSE(RunList(late, {"a.txt"}));
    EXPECT_EQ(0, late.moved) << "a download that ended after the stop was installed";
}

}  // namespace
