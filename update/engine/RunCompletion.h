// What a complete run leaves behind: the hand-over's two version numbers under
// HKEY_CURRENT_USER (and, for a signed release, its serial beside them, where no release can
// write), and the lobby started again.
#pragma once

#include <windows.h>

#include "HandOver.h"
#include "ReleaseKey.h"

// The key the versions are stored under.
extern const char kVersionKey[];  // "Software\Kestro\Halvora\FileVersion"

// Stores "FileVersion1" and "FileVersion2", and "ReleaseSerial" when releaseSerial is given,
// and starts the lobby as "UpdateConfig.txt" says. False, with nothing written or started,
// when the key cannot be created or opened.
bool CompleteRun(const HandOverHeader& header, const DWORD* releaseSerial = nullptr);

// The highest release serial this installation accepted ("ReleaseSerial"); false, and 0,
// when none was stored.
bool AcceptedReleaseSerial(DWORD* serial);

// The release key pinned beside the versions ("ReleaseKey", REG_BINARY: the public point's
// X and Y as ReleaseKey.h holds them). False when none is pinned; *readable false when a
// value is there but is no key's length.
bool PinnedReleaseKey(PublicKey* key, bool* readable);
// Pins key and serial at once, so that no later manifest of a lower serial is taken even if
// this run never completes. False when either could not be written.
bool PinRelease(const PublicKey& key, DWORD serial);
// The operator turned signing off: the pin and the serial go.
void ForgetPinnedRelease();
