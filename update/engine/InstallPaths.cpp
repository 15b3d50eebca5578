#include "InstallPaths.h"

#include <cstring>

#include "PathWalk.h"

bool JoinPath(char (&out)[kPathSize], std::initializer_list<const char*> parts) {
    size_t length = 0;
    for (const char* part : parts) {
        const size_t n = std::strlen(part);
        if (length + n >= kPathSize) return false;
        std::memcpy(out + length, part, n);
        length += n;
    }
    out[length] = '\0';
    return true;
}

bool BuildItemPaths(const char* installDir, const char* serverUrl, const char* name,
                    ItemPaths& out) {
    if (!IsSafeRelativeName(name)) return false;
    return JoinPath(out.downloadFolder, {installDir, "\\", "DownLoad\\"}) &&
           JoinPath(out.target, {installDir, "\\", name}) &&
           JoinPath(out.download, {out.downloadFolder, name}) &&
           JoinPath(out.url, {serverUrl, "Torvel\\", name});
}

bool BuildEntryTarget(const char* installDir, const char* entryName, char (&out)[kPathSize]) {
    if (!IsSafeRelativeName(entryName)) return false;
    const size_t n = std::strlen(installDir);
    const bool endsInSeparator = n > 0 && installDir[n - 1] == '\\';
    return JoinPath(out, {installDir, endsInSeparator ? "" : "\\", entryName});
}

bool IsZipName(const char* name) {
    const size_t n = std::strlen(name);
    const char* tail = n > 4 ? name + n - 4 : name;
    return std::strcmp(tail, ".zip") == 0;
}

bool IsUpdaterName(const char* name) { return std::strcmp(name, "Update.exe") == 0; }

const char* FileNamePart(const char* path) { return path + LastSeparator(path) + 1; }

void InstallFolderOf(const char* modulePath, char (&out)[kPathSize]) {
    char path[kPathSize] = {};
    std::strncpy(path, modulePath, kPathSize - 1);
    FolderPart(path, out);
}
