// Writing entries out: to a file path (through a temporary file), into a handle, or
// piecewise into memory; and the folders a file path needs.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ZipInternal.h"

namespace {

constexpr unsigned kPortion = 16384;
// unzReadCurrentFile answers in an int; larger memory reads go in parts of this size.
constexpr uint32_t kLargestRead = 0x40000000;
const char kTemporaryPrefix[] = "~zp";
constexpr int kTemporaryAttempts = 100;

// Deletes what found is when it is one of this layer's temporary files or work folders (their
// contents first), unless it is one of keep.
void RemoveLeftover(const char* folder, const WIN32_FIND_DATAA& found,
                    const std::vector<std::string>& keep) {
    if (!IsTemporaryName(found.cFileName)) return;
    for (const std::string& name : keep) {
        if (name == found.cFileName) return;
    }
    char path[MAX_PATH];
    if (std::snprintf(path, sizeof path, "%s%s", folder, found.cFileName) >=
        static_cast<int>(sizeof path))
        return;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (!IsFolderAttributes(found.dwFileAttributes)) {
        DeleteFileA(path);
        return;
    }
    char inside[MAX_PATH];
    if (std::snprintf(inside, sizeof inside, "%s\\", path) >= static_cast<int>(sizeof inside))
        return;
    char pattern[MAX_PATH];
    if (std::snprintf(pattern, sizeof pattern, "%s*", inside) < static_cast<int>(sizeof pattern)) {
        WIN32_FIND_DATAA item;
        HANDLE search = FindFirstFileA(pattern, &item);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!IsFolderAttributes(item.dwFileAttributes)) RemoveLeftover(inside, item, {});
            } while (FindNextFileA(search, &item));
            FindClose(search);
        }
    }
    RemoveDirectoryA(path);
}

// A run killed in the middle of an entry leaves its temporary file (or work folder) behind;
// a handle that wrote into a folder removes what it finds there when it closes. An entry may
// itself be named like a temporary file: what the handle was asked to write is never swept,
// so a target stays as it was whenever its extraction fails.
void SweepLeftovers(const ZipReader::TargetFolder& target) {
    char pattern[MAX_PATH];
    if (std::snprintf(pattern, sizeof pattern, "%s%s*.tmp", target.folder.c_str(),
                      kTemporaryPrefix) >= static_cast<int>(sizeof pattern))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        RemoveLeftover(target.folder.c_str(), found, target.ownNames);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

ZipReader::TargetFolder& TargetFolderOf(ZipReader* reader, const char* folder) {
    for (auto& known : reader->targetFolders) {
        if (known.folder == folder) return known;
    }
    reader->targetFolders.push_back({folder, std::string(), false, false, {}});
    return reader->targetFolders.back();
}

// The work folder of a target folder: made on first use, inside it so that the rename out of
// it stays on one volume. Wine reads a whole folder to look up a name that is not there, so
// a new temporary name beside hundreds of files costs as much as writing the entry; inside
// a folder of its own it costs nothing. "" when none can be made.
const std::string& WorkFolderOf(ZipReader::TargetFolder& target) {
    if (target.workTried) return target.work;
    target.workTried = true;
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        char path[MAX_PATH];
        // The folder holds the entries' temporary files, whose names are as long again.
        if (!NextTemporaryPath(target.folder.c_str(), path) || std::strlen(path) + 16 > sizeof path)
            break;
        if (CreateDirectoryA(path, nullptr)) {
            target.work = path;
            break;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return target.work;
}

bool IsFileTimeZero(const FILETIME& t) { return t.dwLowDateTime == 0 && t.dwHighDateTime == 0; }

// The entry's times are its creationTime read as local time, set as all three.
void SetEntryTimes(HANDLE out, const ZipEntry& record) {
    if (IsFileTimeZero(record.creationTime)) return;
    FILETIME utc;
    if (!LocalFileTimeToFileTime(&record.creationTime, &utc)) return;
    SetFileTime(out, &utc, &utc, &utc);
}

// What a failed read of entry data means: the archive could not be read, memory ran out,
// or (anything else minizip or zlib reports) the data itself is damaged.
ZipResult ReadFailure(const ZipReader* reader, int status) {
    if (reader->source.readError) return ZipReadFailed;
    if (status == Z_MEM_ERROR) return ZipOutOfMemory;
    return ZipCorrupt;
}

// Copies the data of the archive's current entry into out in portions.
ZipResult CopyEntryData(ZipReader* reader, const ZipEntry& record, HANDLE out) {
    unzFile archive = reader->archive.Get();
    reader->source.readError = false;
    OpenEntryData data(archive);
    if (!data.IsOpen()) return ReadFailure(reader, UNZ_BADZIPFILE);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kPortion]);
    if (!buffer) return ZipOutOfMemory;
    uint64_t total = 0;
    for (;;) {
        int n = unzReadCurrentFile(archive, buffer.get(), kPortion);
        if (n < 0) return ReadFailure(reader, n);
        if (n == 0) break;
        DWORD written = 0;
        if (!WriteFile(out, buffer.get(), static_cast<DWORD>(n), &written, nullptr) ||
            written != static_cast<DWORD>(n)) {
            return ZipWriteFailed;
        }
        total += static_cast<unsigned>(n);
    }
    // minizip checks the CRC-32 only when the directory's size was reached; a stream that
    // ends early is caught by the count.
    if (data.Close() == UNZ_CRCERROR || total != record.uncompressedSize) return ZipCorrupt;
    return ZipOk;
}

// Renames the open file over target, replacing it; false when that is refused (the caller
// then falls back to ReplaceLiftingBits, which also deals with a target's bits).
bool RenameOver(HANDLE file, const char* target) {
    wchar_t wide[MAX_PATH];
    const int length = MultiByteToWideChar(CP_ACP, 0, target, -1, wide, MAX_PATH);
    if (length <= 1) return false;
    const size_t bytes = sizeof(FILE_RENAME_INFO) + static_cast<size_t>(length) * sizeof(wchar_t);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes]());
    if (!buffer) return false;
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>((length - 1) * sizeof(wchar_t));
    std::memcpy(info->FileName, wide, static_cast<size_t>(length) * sizeof(wchar_t));
    return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(bytes)) !=
           FALSE;
}

ZipResult ExtractToPath(ZipReader* reader, const ZipEntry& record, const char* target) {
    size_t length = std::strlen(target);
    if (length == 0) return ZipBadArguments;
    if (length >= MAX_PATH) return ZipOpenFailed;

    // The folder part, and the same with its separator, which the names below are joined to.
    char directory[MAX_PATH];
    char folder[MAX_PATH] = "";
    if (FolderPart(target, directory))
        std::snprintf(folder, sizeof folder, "%s%c", directory, target[std::strlen(directory)]);

    DWORD attributes = record.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    ZipReader::TargetFolder& where = TargetFolderOf(reader, folder);
    const char* name = target + std::strlen(folder);
    if (IsTemporaryName(name)) where.ownNames.emplace_back(name);
    // The folders are made only when a file finds none: entries mostly land in folders that
    // already exist. Absolute and climbing targets are the caller's business: no folders.
    const auto makeFolders = [&] {
        return GetLastError() == ERROR_PATH_NOT_FOUND && directory[0] != '\0' &&
               IsSafeRelativeName(directory) && EnsureDirectory(reader->baseFolder, directory);
    };

    // A target that does not exist yet is written under its own name: there is nothing to
    // replace, and the name is looked up once (Wine reads the whole folder to look up a
    // name that is not there). It is removed again on any failure; a run killed in the
    // middle leaves a partial file where there was none, which the next one replaces.
    // CREATE_NEW fails at once, without that read, when the target is there; in a folder
    // whose last target was there, the next one is taken to be there too and not tried.
    if (!where.targetsExist) {
        ScopedHandle direct(
            CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
        if (!direct.IsValid() && makeFolders()) {
            direct.Reset(
                CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
        }
        if (direct.IsValid()) {
            ZipResult result = CopyEntryData(reader, record, direct);
            if (result == ZipOk) SetEntryTimes(direct, record);
            direct.Reset();
            if (result != ZipOk) DeleteFileA(target);
            return result;
        }
        where.targetsExist = GetLastError() == ERROR_FILE_EXISTS;
    }

    // An existing target is only ever replaced whole: the data goes to a temporary file in
    // the work folder beside it first.
    const std::string& work = WorkFolderOf(where);
    const std::string workFolder = work.empty() ? std::string(folder) : work + "\\";
    TemporaryFile temporary;
    ScopedHandle out(temporary.Create(workFolder.c_str(), attributes));
    if (!out.IsValid() && makeFolders()) out.Reset(temporary.Create(folder, attributes));
    if (!out.IsValid()) return ZipOpenFailed;
    ZipResult result = CopyEntryData(reader, record, out);
    if (result != ZipOk) return result;
    SetEntryTimes(out, record);
    // Renamed through the handle it was written with: no second open of the file by name.
    if (!RenameOver(out, target)) {
        out.Reset();
        if (!ReplaceLiftingBits(SystemReplaceCalls(), temporary.Path(), target))
            return ZipOpenFailed;
    }
    temporary.Keep();
    return ZipOk;
}

ZipResult ExtractOut(ZipReader* reader, int32_t index, void* target, ZipLocation location) {
    CloseOpenEntry(reader);
    if (index < 0 || index >= reader->count) return ZipBadArguments;
    if (target == nullptr || (location == ZipLocationHandle && target == INVALID_HANDLE_VALUE))
        return ZipBadArguments;
    ZipEntry record;
    ZipResult result = GetEntryRecord(reader, index, &record);
    if (result != ZipOk) return result;
    record.attributes &= ~static_cast<uint32_t>(FILE_ATTRIBUTE_READONLY);

    if ((record.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (location == ZipLocationHandle) return ZipOk;
        return EnsureDirectory(reader->baseFolder, record.name) ? ZipOk : ZipOpenFailed;
    }
    // A cached record does not move minizip; the data must come from this entry.
    result = GoToEntry(reader, index);
    if (result != ZipOk) return result;
    if (location == ZipLocationFileName)
        return ExtractToPath(reader, record, static_cast<const char*>(target));

    HANDLE out = static_cast<HANDLE>(target);
    result = CopyEntryData(reader, record, out);
    if (result == ZipOk && GetFileType(out) == FILE_TYPE_DISK) SetEntryTimes(out, record);
    return result;
}

ZipResult ExtractToMemory(ZipReader* reader, int32_t index, uint8_t* buffer, uint32_t length) {
    if (buffer == nullptr || length == 0) return ZipBadArguments;
    unzFile archive = reader->archive.Get();
    if (index != reader->openEntry) {
        CloseOpenEntry(reader);
        if (index < 0 || index >= reader->count) return ZipBadArguments;
        // The record first, so that the entry fails here as it does from ZipGetEntry.
        ZipEntry record;
        ZipResult result = GetEntryRecord(reader, index, &record);
        if (result == ZipOk) result = GoToEntry(reader, index);
        if (result != ZipOk) return result;
        if (unzOpenCurrentFile(archive) != UNZ_OK) return ZipInflateError;
        reader->openEntry = index;
        reader->openDelivered = 0;
        reader->openExpected = record.uncompressedSize;
    }

    uint64_t delivered = 0;
    while (length > 0) {
        uint32_t part = length < kLargestRead ? length : kLargestRead;
        int n = unzReadCurrentFile(archive, buffer, part);
        if (n < 0) {
            CloseOpenEntry(reader);
            return ZipInflateError;
        }
        if (n == 0) break;
        buffer += n;
        length -= static_cast<uint32_t>(n);
        delivered += static_cast<uint32_t>(n);
    }
    if (delivered > 0) {
        reader->openDelivered += delivered;
        return ZipMoreData;
    }
    int closed = unzCloseCurrentFile(archive);
    reader->openEntry = -1;
    if (closed == UNZ_CRCERROR || reader->openDelivered != reader->openExpected) return ZipCorrupt;
    return ZipOk;
}

}  // namespace

ZipReader::~ZipReader() {
    for (const auto& known : targetFolders) {
        if (!known.work.empty()) RemoveDirectoryA(known.work.c_str());
        SweepLeftovers(known);
    }
}

bool IsTemporaryName(const char* name) {
    const size_t prefix = sizeof kTemporaryPrefix - 1;
    if (std::strlen(name) != prefix + 12 || std::strncmp(name, kTemporaryPrefix, prefix) != 0)
        return false;
    for (size_t i = prefix; i < prefix + 8; ++i) {
        if (std::strchr("0123456789ABCDEF", name[i]) == nullptr) return false;
    }
    return std::strcmp(name + prefix + 8, ".tmp") == 0;
}

bool NextTemporaryPath(const char* folder, char (&out)[MAX_PATH]) {
    // A counter shared by the process and started from the clock, so that two runs rarely
    // try the same names.
    static std::atomic<uint32_t> counter{GetTickCount() * 2654435761u ^ GetCurrentProcessId()};
    const int n = std::snprintf(out, sizeof out, "%s%s%08lX.tmp", folder, kTemporaryPrefix,
                                static_cast<unsigned long>(counter.fetch_add(1)));
    return n > 0 && n < static_cast<int>(sizeof out);
}

HANDLE TemporaryFile::Create(const char* folder, DWORD attributes) {
    m_path[0] = '\0';
    // A name that is taken is passed over.
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        char path[MAX_PATH];
        if (!NextTemporaryPath(folder, path)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return INVALID_HANDLE_VALUE;
        }
        HANDLE file =
            CreateFileA(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, attributes, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::memcpy(m_path, path, sizeof path);
            return file;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

bool EnsureDirectory(const char* base, const char* relative) {
    if (base == nullptr || base[0] == '\0' || !IsSafeRelativeName(relative)) return false;
    size_t baseLength = std::strlen(base);
    size_t relativeLength = std::strlen(relative);
    if (baseLength + relativeLength >= MAX_PATH) return false;

    char path[MAX_PATH];
    std::memcpy(path, base, baseLength);
    ForEachSeparator(relative, [&](size_t i) {
        if (i == 0) return;
        std::memcpy(path + baseLength, relative, i);
        path[baseLength + i] = '\0';
        CreateDirectoryA(path, nullptr);
    });
    std::memcpy(path + baseLength, relative, relativeLength + 1);
    CreateDirectoryA(path, nullptr);
    return IsFolderAttributes(GetFileAttributesA(path));
}

ZipResult ZipExtractEntry(ZipHandle* handle, int32_t index, void* target, uint32_t length,
                          ZipLocation location) {
    ZipResult result = CheckHandle(handle);
    if (result != ZipOk) return Finish(result);
    switch (location) {
        case ZipLocationHandle:
        case ZipLocationFileName:
            return Finish(ExtractOut(handle->reader, index, target, location));
        case ZipLocationMemory:
            return Finish(
                ExtractToMemory(handle->reader, index, static_cast<uint8_t*>(target), length));
        default:
            return Finish(ZipBadArguments);
    }
}
