#include "LobbyLaunch.h"

#include <shellapi.h>

#include <string>

const char kConfigFile[] = "./UpdateConfig.txt";

namespace {
constexpr INT_PTR kFileNotFound = 2;  // SE_ERR_FNF
}

INT_PTR StartWithShell(const char* path) {
    return reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL));
}

int LaunchLobby(const char* configFile, StartProgramFn start) {
    if (GetPrivateProfileIntA("Setting", "bRunAppOnUpdate", 1, configFile) == 0) return 0;

    char game[128] = {};
    GetPrivateProfileStringA("Setting", "AppGameName", "", game, sizeof game, configFile);
    int attempts = 0;
    if (game[0] != '\0') {
        ++attempts;
        if (start((std::string(".\\") + game).c_str()) != kFileNotFound) return attempts;
    }
    ++attempts;
    if (start(".\\Quillon.exe") != kFileNotFound) return attempts;
    ++attempts;
    start(".\\Quillon.exe.lnk");
    return attempts;
}
