#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "LobbyLaunch.h"

namespace {

// A shell stand-in: what it was asked to start, and what each start returns.
std::vector<std::string> g_started;
std::map<std::string, INT_PTR> g_results;

INT_PTR FakeStart(const char* path) {
    g_started.push_back(path);
    auto it = g_results.find(path);
    return it == g_results.end() ? 42 : it->second;
}

TEST(LaunchLobby, OnlyFileNotFoundMovesOn) {
    struct Case {
        const char* fault;
        const char* config;  // null: no config file
        std::map<std::string, INT_PTR> results;
        std::vector<std::string> expected;
    } cases[] = {
        // clang-format off
        {"no config starts Quillon.exe", nullptr, {}, {".\\Quillon.exe"}},
        {"bRunAppOnUpdate=0 starts nothing", "[Setting]\nbRunAppOnUpdate=0\n", {}, {}},
        {"named game that exists", "[Setting]\nAppGameName=Game.exe\n", {}, {".\\Game.exe"}},
        {"named game missing falls back", "[Setting]\nAppGameName=Gone.exe\n",
         {{".\\Gone.exe", 2}}, {".\\Gone.exe", ".\\Quillon.exe"}},
        {"named game failing otherwise does not fall back", "[Setting]\nAppGameName=Odd.dat\n",
         {{".\\Odd.dat", 31}}, {".\\Odd.dat"}},
        {"everything missing ends at the link", "[Setting]\nAppGameName=Gone.exe\n",
         {{".\\Gone.exe", 2}, {".\\Quillon.exe", 2}, {".\\Quillon.exe.lnk", 2}},
         {".\\Gone.exe", ".\\Quillon.exe", ".\\Quillon.exe.lnk"}},
        {"other failure of Quillon.exe ends the chain", nullptr, {{".\\Quillon.exe", 5}},
         {".\\Quillon.exe"}},
        // clang-format on
    };
    const std::string config = "launch_test_" + std::to_string(GetCurrentProcessId()) + ".txt";
    const std::string configPath = ".\\" + config;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        DeleteFileA(config.c_str());
        if (c.config != nullptr) std::ofstream(config) << c.config;
        g_started.clear();
        g_results = c.results;
        EXPECT_EQ(static_cast<int>(c.expected.size()), LaunchLobby(configPath.c_str(), FakeStart));
        EXPECT_EQ(c.expected, g_started);
    }
    DeleteFileA(config.c_str());
}

}  // namespace
