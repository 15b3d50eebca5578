// What a complete run leaves behind: the hand-over's two version numbers under
// HKEY_CURRENT_USER, and the lobby started again.
#pragma once

#include <windows.h>

#include "HandOver.h"

// The key the versions are stored under.
extern const char kVersionKey[];  // "Software\Kestro\Halvora\FileVersion"

// Stores "FileVersion1" and "FileVersion2" and starts the lobby as "UpdateConfig.txt" says.
// False, with nothing written or started, when the key cannot be created or opened.
bool CompleteRun(const HandOverHeader& header);
