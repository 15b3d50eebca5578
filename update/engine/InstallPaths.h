// Where a listed file comes from and goes to, and which names may be written at all.
// Paths are in the system's ANSI code page, as Windows gives them (GetModuleFileNameA, the
// lobby's hand-over file) and as the narrow file calls take them back, in MAX_PATH buffers
// joined with "\". They are not the kit's own text (KitText.h): a player's folder may be
// named in whatever code page the system has, and converting it would lose it.
#pragma once

#include <windows.h>

#include <initializer_list>

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

// Joins parts into out; false, with out unspecified, when the result does not fit with its
// terminator.
bool JoinPath(char (&out)[kPathSize], std::initializer_list<const char*> parts);

// The target of an archive entry: installDir, a "\" unless installDir already ends in one,
// and the entry's stored name. False when the name is not safe or the path does not fit.
bool BuildEntryTarget(const char* installDir, const char* entryName, char (&out)[kPathSize]);

// The last 4 bytes of name (the whole name when shorter) equal ".zip", case-sensitively.
bool IsZipName(const char* name);

// name is exactly "Update.exe": the updater's own new program file, left in DownLoad\.
bool IsUpdaterName(const char* name);

// The name part of path: what follows its last "\" or "/", or the whole path when it has
// none. A trail byte equal to "\" in a double-byte character of the ANSI code page is no
// separator.
const char* FileNamePart(const char* path);

// The folder that holds the program file at modulePath, without a trailing separator: the
// text before FileNamePart, or empty when there is no separator.
void InstallFolderOf(const char* modulePath, char (&out)[kPathSize]);
