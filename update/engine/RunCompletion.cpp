#include "RunCompletion.h"

#include <cstring>

#include "LobbyLaunch.h"
#include "Scoped.h"

const char kVersionKey[] = "Software\\Kestro\\Halvora\\FileVersion";

namespace {

const char kSerialValue[] = "ReleaseSerial";
const char kKeyValue[] = "ReleaseKey";

void StoreDword(HKEY key, const char* name, DWORD value) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

}  // namespace

bool AcceptedReleaseSerial(DWORD* serial) {
    DWORD size = sizeof *serial;
    if (RegGetValueA(HKEY_CURRENT_USER, kVersionKey, kSerialValue, RRF_RT_REG_DWORD, nullptr,
                     serial, &size) == ERROR_SUCCESS)
        return true;
    *serial = 0;
    return false;
}

bool PinnedReleaseKey(PublicKey* key, bool* readable) {
    BYTE value[sizeof key->xy + 1];
    DWORD size = sizeof value;
    const LSTATUS read = RegGetValueA(HKEY_CURRENT_USER, kVersionKey, kKeyValue, RRF_RT_ANY,
                                      nullptr, value, &size);
    if (read == ERROR_FILE_NOT_FOUND || read == ERROR_PATH_NOT_FOUND) return false;
    *readable = read == ERROR_SUCCESS && size == sizeof key->xy;
    if (*readable) std::memcpy(key->xy, value, sizeof key->xy);
    return true;
}

bool PinRelease(const PublicKey& key, DWORD serial) {
    HKEY raw = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kVersionKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &raw, nullptr) != ERROR_SUCCESS)
        return false;
    ScopedRegKey hold(raw);
    // The serial first: a pin without its serial would let an older release in.
    return RegSetValueExA(hold, kSerialValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&serial),
                          sizeof serial) == ERROR_SUCCESS &&
           RegSetValueExA(hold, kKeyValue, 0, REG_BINARY, key.xy, sizeof key.xy) == ERROR_SUCCESS;
}

void ForgetPinnedRelease() {
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kVersionKey, kKeyValue);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kVersionKey, kSerialValue);
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
