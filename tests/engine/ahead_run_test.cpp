// Fetching ahead: while the item in turn downloads and installs, the next items are fetched;
// installing stays in list order, a fetch ahead that failed is fetched again in turn, a stop
// leaves only pieces a next run can use, and a full disk stops fetching ahead.
#include <gtest/gtest.h>

#include "ScriptedWorld.h"

namespace {

const std::vector<const char*> kList = {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"};

std::vector<std::string> Targets(const std::vector<const char*>& names) {
    std::vector<std::string> targets;
    for (const char* name : names) targets.push_back(std::string("C:\\Game\\") + name);
    return targets;
}

TEST(FetchAhead, InstallsInListOrderWhateverOrderTheDownloadsFinishIn) {
    const DownloadFacts lost = Answer(200, L"Content-Length: 10", 4, 10),
                        busy = Answer(503, L"", 0, 0);
    struct Case {
        const char* fault;
        unsigned ahead;
        std::map<std::string, std::vector<DownloadFacts>> answers;
        int downloads;
        std::vector<DWORD> pauses;
    } cases[] = {
        // clang-format off
        {"one at a time", 0, {}, 5, {}},
        {"three ahead, finishing last first", 3, {}, 5, {}},
        {"a failed fetch ahead is fetched again in turn, with no pause", 3, {{"c.txt", {busy}}},
         6, {}},
        {"a full disk for the item in turn: what lies ahead goes, and fetching ahead stops", 2,
         {{"a.txt", {lost}}}, 8, {1000}},
        {"a full disk ahead stops fetching ahead; the items come in turn", 2, {{"c.txt", {lost}}},
         6, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        ScriptedWorkers workers;
        world.answersFor = c.answers;
        EXPECT_TRUE(RunList(world, kList, 12,
                            [&](UpdateRun& run) { run.SetDownloadsAhead(c.ahead, &workers); }))
            << c.fault;
        EXPECT_EQ(Targets(kList), world.installed) << c.fault;
        EXPECT_EQ(c.downloads, world.downloads) << c.fault;
        EXPECT_EQ(c.pauses, world.pauses) << c.fault;
        EXPECT_EQ(c.ahead == 0 ? 0 : 1, workers.posted != 0) << c.fault;
        EXPECT_TRUE(world.texts.empty()) << c.fault << ": a piece left behind";
    }
}

TEST(FetchAhead, SmallItemsStartWhileTheirBytesStayWithinTheShares) {
    constexpr ULONGLONG kShare = kAheadShareBytes;
    struct Case {
        const char* what;
        unsigned position;
        ULONGLONG weight;
        unsigned running, ahead;
        bool starts;
    } cases[] = {
        {"nothing ahead", 0, 1, 0, 0, false},
        {"the first ahead, whatever they weigh", 3, 100 * kShare, 3, 4, true},
        {"past ahead, over its shares", 4, 4 * kShare + 1, 0, 4, false},
        {"past ahead, within its shares", 20, 4 * kShare, 7, 4, true},
        {"twice ahead running", 1, 1, 8, 4, false},
        {"never more than eight", 1, 1, 8, 8, false},
        {"one ahead: two small ones at once", 5, 1000, 1, 1, true},
        {"one ahead: not three", 5, 1000, 2, 1, false},
        {"not past the farthest", kMostItemsAhead, 1, 0, 4, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.starts, StartsAhead(c.position, c.weight, c.running, c.ahead)) << c.what;
}

// Esc while fetches ahead run: each keeps what it received as a piece of the index, and
// the next run asks for the rests.
TEST(FetchAhead, AStopLeavesPiecesTheNextRunGoesOnFrom) {
    const wchar_t* v = L"Content-Length: 100\r\nETag: \"v\"";
    const DownloadFacts cut = Answer(200, v, 40, 40);
    const auto rest = Answer(206, L"Content-Range: bytes 40-99/100\r\nETag: \"v\"", 60, 60);
    ScriptedWorld world;
    ScriptedWorkers workers;
    world.answersFor = {{"b.txt", {cut, rest}}, {"c.txt", {cut, rest}}};
    world.stopAtDownload = 2;
    const auto ahead = [&](UpdateRun& run) { run.SetDownloadsAhead(2, &workers); };
    EXPECT_FALSE(RunList(world, {"a.txt", "b.txt", "c.txt"}, 5, ahead));
    EXPECT_TRUE(world.installed.empty());
    size_t pieces = 0;
    for (const auto& file : world.files) {
        if (file.first.find("~updater-piece") == std::string::npos) continue;
        ++pieces;
        const std::string name = file.first.substr(file.first.rfind('\\') + 1);
        EXPECT_NE(std::string::npos, world.texts.begin()->second.find(name)) << name;
    }
    EXPECT_LE(1u, pieces) << "what came was kept";
    world.stopAtDownload = 0;
    world.asked.clear();
    EXPECT_TRUE(RunList(world, {"a.txt", "b.txt", "c.txt"}, 8, ahead));
    EXPECT_EQ(Targets({"a.txt", "b.txt", "c.txt"}), world.installed);
    EXPECT_EQ(pieces, static_cast<size_t>(std::count(world.asked.begin(), world.asked.end(),
                                                     "Range: bytes=40-\r\nIf-Range: \"v\"\r\n")));
    EXPECT_TRUE(world.texts.empty());
}

// A name listed twice, a piece of it kept: while one download asks for the piece's rest,
// nothing else may fetch that name or join that piece, or bytes would land in the file
// after it was hashed.
TEST(FetchAhead, ANameListedTwiceHasOneDownloadAtATime) {
    const wchar_t* v = L"Content-Length: 100\r\nETag: \"v\"";
    const auto rest = Answer(206, L"Content-Range: bytes 40-99/100\r\nETag: \"v\"", 60, 60);
    ScriptedWorld world;
    world.answersFor = {{"b.txt", {Answer(200, v, 40, 40)}}};
    EXPECT_FALSE(RunList(world, {"b.txt"}, 1));
    // The jobs ahead run in list order, the later ones while a rest is asked for.
    struct InOrder : AheadWorkers {
        std::vector<AheadJob> jobs;
        void Post(const AheadJob& job) override { jobs.push_back(job); }
        void Help() override {
            while (!jobs.empty()) {
                const AheadJob job = jobs.front();
                jobs.erase(jobs.begin());
                job.Run();
            }
        }
    } workers;
    world.answersFor = {{"b.txt", {rest}}};
    world.asked.clear();
    world.during = [&] {
        if (world.asked.back().find("Range") != std::string::npos) workers.Help();
    };
    EXPECT_TRUE(RunList(world, {"a.txt", "b.txt", "c.txt", "b.txt"}, 8,
                        [&](UpdateRun& run) { run.SetDownloadsAhead(3, &workers); }));
    EXPECT_EQ(1, std::count_if(world.asked.begin(), world.asked.end(), [](const std::string& a) {
                  return a.find("Range") != std::string::npos;
              }));
    EXPECT_EQ(Targets({"a.txt", "b.txt", "c.txt", "b.txt"}), world.installed);
}

}  // namespace
