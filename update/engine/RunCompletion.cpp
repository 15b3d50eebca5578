#include "RunCompletion.h"

#include "LobbyLaunch.h"
#include "Scoped.h"

const char kVersionKey[] = "Software\\Kestro\\Halvora\\FileVersion";

namespace {

const char kSerialValue[] = "ReleaseSerial";

void StoreDword(HKEY key, const char* name, DWORD value) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

}  // namespace

DWORD AcceptedReleaseSerial() {
    DWORD serial = 0, size = sizeof serial;
    if (RegGetValueA(HKEY_CURRENT_USER, kVersionKey, kSerialValue, RRF_RT_REG_DWORD, nullptr,
                     &serial, &size) != ERROR_SUCCESS)
        return 0;
    return serial;
}

bool CompleteRun(const HandOverHeader& header, const DWORD* releaseSerial) {
    HKEY raw = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kVersionKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    ScopedRegKey key(raw);
    StoreDword(key, "FileVersion1", header.dwFileVersion1);
    StoreDword(key, "FileVersion2", header.dwFileVersion2);
    if (releaseSerial != nullptr) StoreDword(key, kSerialValue, *releaseSerial);
    LaunchLobby(kConfigFile, StartWithShell);
    return true;
}
