// Opening and closing archives, the handle check, the entry walk and the result texts.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "ZipInternal.h"

ZipResult ZipLastResult = ZipOk;

namespace {

constexpr int32_t kReadingHandle = 1;
// minizip looks for the end record only this far back from the end, which misses the
// record of an archive whose comment is longer than 65513 bytes.
constexpr uint64_t kReaderSearchWindow = 0xFFFF;
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kLongestComment = 0xFFFF;
constexpr uint64_t kSmallestCentralHeader = 46;

struct Message {
    ZipResult code;
    const char* text;
};

const Message kMessages[] = {
    {ZipOk, "Success"},
    {ZipDuplicateFailed, "Culdn't duplicate handle"},
    {ZipOpenFailed, "Couldn't create/open file"},
    {ZipOutOfMemory, "Failed to allocate memory"},
    {ZipWriteFailed, "Error writing to file"},
    {ZipEntryNotFound, "File not found in the zipfile"},
    {ZipMoreData, "Still more data to unzip"},
    {ZipCorrupt, "Zipfile is corrupt or not a zipfile"},
    {ZipReadFailed, "Error reading file"},
    {ZipBadArguments, "Caller: faulty arguments"},
    {ZipNotMemoryArchive, "Caller: can only get memory of a memory zipfile"},
    {ZipMemoryTooSmall, "Caller: not enough space allocated for memory zipfile"},
    {ZipEarlierFailure, "Caller: there was a previous error"},
    {ZipAdditionsEnded, "Caller: additions to the zip have already been ended"},
    {ZipSizeMismatch, "Zip-bug: the anticipated size turned out wrong"},
    {ZipPartlyExtracted, "Caller: the file had already been partially unzipped"},
    {ZipModeMixed, "Caller: mixing creation and opening of zip"},
    {ZipNotInitialised, "Zip-bug: internal initialisation not completed"},
    {ZipUnseekable, "Zip-bug: trying to seek the unseekable"},
    {ZipNoChange, "Zip-bug: tried to change mind, but not allowed"},
    {ZipInflateError, "Zip-bug: an internal error during flation"},
};
const char kUnknownMessage[] = "unknown zip result code";

// folder with a separator at its end as the base; false (and no base, so that no folder is
// ever made) when that does not fit a path.
bool SetBaseFolder(const char* folder, char (&base)[MAX_PATH]) {
    base[0] = '\0';
    const size_t n = std::strlen(folder);
    if (n == 0 || n >= MAX_PATH - 1) return false;
    std::memcpy(base, folder, n + 1);
    if (!IsPathSeparator(base[n - 1])) {
        base[n] = '\\';
        base[n + 1] = '\0';
    }
    return true;
}

ZipResult OpenSource(ZipSource* source, const void* where, uint32_t length, ZipLocation location) {
    if (where == nullptr) return ZipBadArguments;
    switch (location) {
        case ZipLocationHandle: {
            HANDLE given = const_cast<HANDLE>(where);
            if (given == INVALID_HANDLE_VALUE) return ZipBadArguments;
            if (GetFileType(given) != FILE_TYPE_DISK) return ZipUnseekable;
            HANDLE copy = nullptr;
            if (!DuplicateHandle(GetCurrentProcess(), given, GetCurrentProcess(), &copy, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS)) {
                return ZipDuplicateFailed;
            }
            source->handle.Reset(copy);
            break;
        }
        case ZipLocationFileName: {
            HANDLE file =
                CreateFileA(static_cast<const char*>(where), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) return ZipOpenFailed;
            source->handle.Reset(file);
            if (GetFileType(file) != FILE_TYPE_DISK) return ZipUnseekable;
            break;
        }
        case ZipLocationMemory:
            source->base = static_cast<const uint8_t*>(where);
            source->length = length;
            source->canSeek = true;
            return ZipOk;
        default:
            return ZipBadArguments;
    }
    source->isHandle = true;
    source->canSeek = true;
    LARGE_INTEGER zero{}, now{};
    if (!SetFilePointerEx(source->handle, zero, &now, FILE_CURRENT)) return ZipUnseekable;
    source->initialOffset = static_cast<uint64_t>(now.QuadPart);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(source->handle, &size)) return ZipUnseekable;
    const uint64_t fileLength = static_cast<uint64_t>(size.QuadPart);
    source->handleLength =
        fileLength > source->initialOffset ? fileLength - source->initialOffset : 0;
    return ZipOk;
}

// The end records are read here before minizip opens the archive: to give a reason where
// minizip fails without one, and to find where the archive begins when bytes ahead of it are
// left out of its offsets (minizip allows for them in the classic records only: the zip64
// locator's offset it takes as it stands).
ZipResult OpenArchive(ZipReader* reader) {
    ZipSource& source = reader->source;
    source.readError = false;
    uint64_t length = 0;
    if (!SourceLength(&source, &length)) return ZipNoEndRecord;
    std::vector<uint8_t> tail;
    uint64_t tailLength = kEndRecordSize + kLongestComment;
    EndRecordCheck end{};
    for (;;) {
        if (tailLength > length) tailLength = length;
        tail.resize(static_cast<size_t>(tailLength));
        if (tailLength < kEndRecordSize ||
            !ReadSourceAt(&source, length - tailLength, tail.data(), static_cast<uint32_t>(tailLength)))
            return source.readError ? ZipReadFailed : ZipNoEndRecord;
        end = CheckEndRecord(tail.data(), tail.size(), length);
        if (end.result != ZipMoreData || end.needed <= tailLength || tailLength == length) break;
        tailLength = end.needed;
    }
    if (end.result == ZipMoreData) return ZipNoEndRecord;
    if (end.result != ZipOk) return end.result;
    return OpenAtEnd(reader, end);
}

}  // namespace

// minizip takes a record at position 0 for "not found", which is where the record of an
// archive of no entries lies, and sees the archive end at the record when its comment puts
// the record beyond minizip's search window.
ZipResult OpenAtEnd(ZipReader* reader, const EndRecordCheck& end) {
    ZipSource& source = reader->source;
    ShiftSource(&source, end.prefix);
    zlib_filefunc64_def functions;
    FillSourceFunctions(&functions, &source);
    source.readError = false;
    reader->archive.Reset(unzOpen2_64("", &functions));
    const uint64_t position = end.position - end.prefix;
    uint64_t length = 0;
    SourceLength(&source, &length);
    if (!reader->archive && !source.readError && length - position > kReaderSearchWindow) {
        source.endLimit = position + kEndRecordSize;
        reader->archive.Reset(unzOpen2_64("", &functions));
    }
    if (!reader->archive) {
        if (source.readError) return ZipReadFailed;
        return end.entryCount == 0 && position == 0 ? ZipOk : ZipBadEndRecord;
    }
    unz_global_info64 global;
    if (unzGetGlobalInfo64(reader->archive.Get(), &global) != UNZ_OK ||
        global.number_entry > 0x7FFFFFFF)
        return ZipBadEndRecord;
    reader->count = BelievedEntryCount(global.number_entry, length);
    reader->damagedFrom = reader->count;
    return ZipOk;
}

int32_t BelievedEntryCount(uint64_t claimed, uint64_t archiveLength) {
    const uint64_t room = archiveLength / kSmallestCentralHeader;
    return static_cast<int32_t>(claimed < room ? claimed : room);
}

ZipResult Finish(ZipResult result) {
    ZipLastResult = result;
    return result;
}

ZipResult CheckHandle(const ZipHandle* handle) {
    if (handle == nullptr) return ZipBadArguments;
    if (handle->kind != kReadingHandle) return ZipModeMixed;
    if (handle->reader == nullptr) return ZipBadArguments;
    return ZipOk;
}

void CloseOpenEntry(ZipReader* reader) {
    if (reader->openEntry == -1) return;
    unzCloseCurrentFile(reader->archive.Get());
    reader->openEntry = -1;
}

ZipResult GoToEntry(ZipReader* reader, int32_t index) {
    unzFile archive = reader->archive.Get();
    if (archive == nullptr || index < 0 || index >= reader->damagedFrom) return ZipCorrupt;
    if (index == reader->current) return ZipOk;
    reader->source.readError = false;
    // A header the disk could not read is no damage: the next call reads it again.
    const auto failed = [reader] { return reader->source.readError ? ZipReadFailed : ZipCorrupt; };
    auto standOn = [&](int32_t known) {
        reader->current = -1;
        ++reader->directorySteps;
        if (unzSetOffset64(archive, reader->offsets[known]) != UNZ_OK) return failed();
        reader->current = known;
        return ZipOk;
    };
    // A damaged header ends the walk for good: minizip would answer every later step with
    // "end of list", and walking there again from the first entry costs the whole directory
    // for each index a damaged count makes the caller ask for.
    auto damaged = [&](int32_t at) {
        reader->current = -1;
        if (reader->source.readError) return ZipReadFailed;
        reader->damagedFrom = at;
        return ZipCorrupt;
    };
    const int32_t known = static_cast<int32_t>(reader->offsets.size());
    if (index < known) return standOn(index);
    if (known == 0) {
        ++reader->directorySteps;
        if (unzGoToFirstFile(archive) != UNZ_OK) return damaged(0);
        reader->offsets.push_back(unzGetOffset64(archive));
        reader->current = 0;
    } else if (reader->current != known - 1) {
        const ZipResult result = standOn(known - 1);
        if (result != ZipOk) return result;
    }
    while (reader->current < index) {
        ++reader->directorySteps;
        if (unzGoToNextFile(archive) != UNZ_OK) return damaged(reader->current + 1);
        reader->offsets.push_back(unzGetOffset64(archive));
        ++reader->current;
    }
    return ZipOk;
}

ZipResult ReadEntryInfo(ZipReader* reader, EntryInfo* out) {
    char stored[MAX_PATH];
    if (unzGetCurrentFileInfo64(reader->archive.Get(), &out->info, stored, sizeof stored, nullptr,
                                0, nullptr, 0) != UNZ_OK) {
        return reader->source.readError ? ZipReadFailed : ZipCorrupt;
    }
    // minizip fills the whole buffer without a terminator when the name does not fit.
    if (out->info.size_filename >= sizeof stored) return ZipCorrupt;
    stored[out->info.size_filename] = '\0';
    return JudgeEntryInfo(out->info, stored, out->name);
}

ZipResult JudgeEntryInfo(const unz_file_info64& info, const char* stored, char (&name)[MAX_PATH]) {
    if (info.size_filename >= MAX_PATH) return ZipCorrupt;
    if (!EntryName(stored, static_cast<uint16_t>(info.flag), name)) return ZipCorrupt;
    // minizip passes method 12 through as raw bytes when built without bzip2, and reads
    // encrypted data as if it were plain when built without decryption.
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) return ZipCorrupt;
    if ((info.flag & 1) != 0) return ZipCorrupt;
    if (info.compressed_size > 0xFFFFFFFFu || info.uncompressed_size > 0xFFFFFFFFu)
        return ZipCorrupt;
    return ZipOk;
}

uint64_t ZipBytesRead(const ZipHandle* handle) {
    return CheckHandle(handle) == ZipOk ? handle->reader->source.bytesRead : 0;
}

uint64_t ZipDirectorySteps(const ZipHandle* handle) {
    return CheckHandle(handle) == ZipOk ? handle->reader->directorySteps : 0;
}

uint64_t ZipReadCalls(const ZipHandle* handle) {
    return CheckHandle(handle) == ZipOk ? handle->reader->source.readCalls : 0;
}

ZipHandle* ZipOpen(const void* where, uint32_t length, ZipLocation location) {
    std::unique_ptr<ZipReader> reader(new (std::nothrow) ZipReader);
    std::unique_ptr<ZipHandle> handle(new (std::nothrow) ZipHandle);
    if (!reader || !handle) {
        Finish(ZipOutOfMemory);
        return nullptr;
    }
    char current[MAX_PATH];
    const DWORD n = GetCurrentDirectoryA(MAX_PATH, current);
    if (n != 0 && n < MAX_PATH) SetBaseFolder(current, reader->baseFolder);

    ZipResult result = OpenSource(&reader->source, where, length, location);
    if (result == ZipOk) result = OpenArchive(reader.get());
    if (result != ZipOk) {
        Finish(result);
        return nullptr;
    }
    handle->kind = kReadingHandle;
    handle->reader = reader.release();
    Finish(ZipOk);
    return handle.release();
}

ZipResult ZipClose(ZipHandle* handle) {
    ZipResult result = CheckHandle(handle);
    if (result != ZipOk) return Finish(result);
    CloseOpenEntry(handle->reader);
    delete handle->reader;
    handle->reader = nullptr;
    handle->kind = 0;
    delete handle;
    return Finish(ZipOk);
}

uint32_t ZipFormatMessage(ZipResult code, char* buffer, uint32_t length) {
    if (code == ZipRecent) code = ZipLastResult;
    const char* text = kUnknownMessage;
    for (const Message& m : kMessages) {
        if (m.code == code) {
            text = m.text;
            break;
        }
    }
    uint32_t n = static_cast<uint32_t>(std::strlen(text));
    if (buffer == nullptr || length == 0) return n;
    uint32_t copied = n < length - 1 ? n : length - 1;
    std::memcpy(buffer, text, copied);
    buffer[copied] = '\0';
    return n;
}

ZipResult ZipSetBaseFolder(ZipHandle* handle, const char* folder) {
    ZipResult result = CheckHandle(handle);
    if (result != ZipOk) return Finish(result);
    if (folder == nullptr || !SetBaseFolder(folder, handle->reader->baseFolder))
        return Finish(ZipBadArguments);
    return Finish(ZipOk);
}

bool ZipIsReadingHandle(const ZipHandle* handle) {
    return handle == nullptr || handle->kind == kReadingHandle;
}

bool ZipIsPastDamage(const ZipHandle* handle, int32_t index) {
    return CheckHandle(handle) == ZipOk && index >= handle->reader->damagedFrom &&
           index < handle->reader->count;
}
