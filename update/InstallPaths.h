// Where a listed file comes from and goes to, and which names may be written at all.
// Paths are ANSI (the lobby's code page) in MAX_PATH buffers, joined with "\".
#pragma once

#include <windows.h>

#include "SafeName.h"

constexpr size_t kPathSize = MAX_PATH;  // 259 characters and the terminator

// The three paths of one update-list entry.
struct ItemPaths {
    char downloadFolder[kPathSize];  // installDir + "\DownLoad\"
    char target[kPathSize];          // installDir + "\" + name
    char download[kPathSize];        // installDir + "\DownLoad\" + name
    char url[kPathSize];             // serverUrl + "Torvel\" + name
};

// Builds the paths of one entry. False when the name is not safe (IsSafeRelativeName) or
// any of the paths does not fit in kPathSize bytes with its terminator; out is then
// unspecified and must not be used.
bool BuildItemPaths(const char* installDir, const char* serverUrl, const char* name,
                    ItemPaths& out);

// The target of an archive entry: installDir, a "\" unless installDir already ends in one,
// and the entry's stored name. False when the name is not safe or the path does not fit.
bool BuildEntryTarget(const char* installDir, const char* entryName, char (&out)[kPathSize]);

// The last 4 bytes of name (the whole name when shorter) equal ".zip", case-sensitively.
bool IsZipName(const char* name);

// name is exactly "Update.exe": the updater's own new program file, left in DownLoad\.
bool IsUpdaterName(const char* name);

// The folder that holds the program file at modulePath, without a trailing "\": the text
// before its last "\", or empty when there is none.
void InstallFolderOf(const char* modulePath, char (&out)[kPathSize]);
