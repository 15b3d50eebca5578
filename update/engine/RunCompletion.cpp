#include "RunCompletion.h"

#include "LobbyLaunch.h"
#include "Scoped.h"

const char kVersionKey[] = "Software\\Kestro\\Halvora\\FileVersion";

bool CompleteRun(const HandOverHeader& header) {
    HKEY raw = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kVersionKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    ScopedRegKey key(raw);
    const DWORD version1 = header.dwFileVersion1;
    const DWORD version2 = header.dwFileVersion2;
    RegSetValueExA(key, "FileVersion1", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version1),
                   sizeof version1);
    RegSetValueExA(key, "FileVersion2", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version2),
                   sizeof version2);
    LaunchLobby(kConfigFile, StartWithShell);
    return true;
}
