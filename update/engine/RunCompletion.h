// What a complete run leaves behind: the hand-over's two version numbers under
// HKEY_CURRENT_USER (and, for a signed release, its serial beside them, where no release can
// write), and the lobby started again.
#pragma once

#include <windows.h>

#include "HandOver.h"

// The key the versions are stored under.
extern const char kVersionKey[];  // "Software\Kestro\Halvora\FileVersion"

// Stores "FileVersion1" and "FileVersion2", and "ReleaseSerial" when releaseSerial is given,
// and starts the lobby as "UpdateConfig.txt" says. False, with nothing written or started,
// when the key cannot be created or opened.
bool CompleteRun(const HandOverHeader& header, const DWORD* releaseSerial = nullptr);

// The highest release serial this installation accepted ("ReleaseSerial"); 0 when none was
// stored.
DWORD AcceptedReleaseSerial();
