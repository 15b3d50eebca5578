// Entry records: going to an entry, its attributes and times, the cache, lookup by name.
#include <cstring>
#include <vector>

#include "LittleEndian.h"
#include "ZipInternal.h"

namespace {

constexpr uint32_t kUnixDirectory = 0x40000000;
constexpr uint32_t kUnixOwnerWrite = 0x00800000;
constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosHidden = 0x02;
constexpr uint32_t kDosSystem = 0x04;
constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kDosArchive = 0x20;
constexpr uint16_t kUtf8NameFlag = 0x0800;
constexpr uint16_t kExtendedTimestampId = 0x5455;  // "UT"
constexpr uint8_t kHasWriteTime = 1;
constexpr uint8_t kHasAccessTime = 2;
constexpr uint8_t kHasCreationTime = 4;
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
constexpr uint64_t kFileTimeTicksPerSecond = 10000000ull;

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Builds the record of entry index from the central directory and the local header.
ZipResult BuildRecord(ZipReader* reader, int32_t index, ZipEntry* out) {
    ZipResult result = GoToEntry(reader, index);
    if (result != ZipOk) return result;
    EntryInfo entry;
    result = ReadEntryInfo(reader, &entry);
    if (result != ZipOk) return result;

    // Opening the data makes minizip check the local header against the central one and
    // tells where the local extra field lies.
    unzFile archive = reader->archive.Get();
    OpenEntryData data(archive);
    if (!data.IsOpen()) return reader->source.readError ? ZipReadFailed : ZipCorrupt;
    int extraLength = unzGetLocalExtrafield(archive, nullptr, 0);
    if (extraLength < 0) return reader->source.readError ? ZipReadFailed : ZipCorrupt;
    std::vector<uint8_t> extra(static_cast<size_t>(extraLength));
    if (extraLength > 0 &&
        unzGetLocalExtrafield(archive, extra.data(), static_cast<unsigned>(extraLength)) !=
            extraLength) {
        return reader->source.readError ? ZipReadFailed : ZipCorrupt;
    }
    data.Close();

    const unz_file_info64& info = entry.info;
    std::memset(out, 0, sizeof *out);
    out->index = index;
    std::memcpy(out->name, entry.name, std::strlen(entry.name) + 1);
    out->attributes = DeriveAttributes(static_cast<uint32_t>(info.external_fa), out->name);
    out->compressedSize = static_cast<uint32_t>(info.compressed_size);
    out->uncompressedSize = static_cast<uint32_t>(info.uncompressed_size);
    out->writeTime = out->accessTime = out->creationTime =
        DosTimeOf(static_cast<uint32_t>(info.dosDate));
    ApplyExtendedTimestamp(extra.data(), extra.size(), &out->writeTime, &out->accessTime,
                           &out->creationTime);
    return ZipOk;
}

ZipResult GetEntry(ZipReader* reader, int32_t index, ZipEntry* entry) {
    if (index < -1 || index >= reader->count) return ZipBadArguments;
    CloseOpenEntry(reader);
    if (index != -1 && index == reader->cachedIndex) {
        *entry = reader->cachedEntry;
        return ZipOk;
    }
    if (index == -1) {
        std::memset(entry, 0, sizeof *entry);
        entry->index = reader->count;
        return ZipOk;
    }
    ZipEntry record;
    ZipResult result = BuildRecord(reader, index, &record);
    if (result != ZipOk) return result;
    reader->cachedEntry = record;
    reader->cachedIndex = index;
    *entry = record;
    return ZipOk;
}

}  // namespace

uint32_t DeriveAttributes(uint32_t external, const char* name) {
    uint32_t attributes = FILE_ATTRIBUTE_NORMAL;
    if ((external & kUnixDirectory) != 0 || (external & kDosDirectory) != 0)
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    // Some writers (java's jar among them) mark folders only by the trailing separator.
    size_t length = name != nullptr ? std::strlen(name) : 0;
    if (length != 0 && LastSeparator(name) == static_cast<int>(length) - 1)
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((external & kDosArchive) != 0) attributes |= FILE_ATTRIBUTE_ARCHIVE;
    if ((external & kDosHidden) != 0) attributes |= FILE_ATTRIBUTE_HIDDEN;
    if ((external & kDosReadOnly) != 0 || (external & kUnixOwnerWrite) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    if ((external & kDosSystem) != 0) attributes |= FILE_ATTRIBUTE_SYSTEM;
    return attributes;
}

FILETIME DosTimeOf(uint32_t dos) {
    FILETIME time{};
    if (!DosDateTimeToFileTime(HIWORD(dos), LOWORD(dos), &time)) time = FILETIME{};
    return time;
}

bool UnixTimeToFileTime(int64_t seconds, FILETIME* out) {
    if (seconds < 0) return false;
    uint64_t ticks =
        static_cast<uint64_t>(seconds) * kFileTimeTicksPerSecond + kUnixEpochAsFileTime;
    out->dwLowDateTime = static_cast<DWORD>(ticks);
    out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

void ApplyExtendedTimestamp(const uint8_t* extra, size_t length, FILETIME* writeTime,
                            FILETIME* accessTime, FILETIME* creationTime) {
    size_t position = 0;
    while (extra != nullptr && position + 4 <= length) {
        uint16_t id = Get16(extra + position);
        size_t size = Get16(extra + position + 2);
        const uint8_t* data = extra + position + 4;
        size_t available = length - position - 4;
        if (id != kExtendedTimestampId) {
            position += 4 + size;
            continue;
        }
        // The block is trusted only as far as both its own size and the field reach.
        size_t blockSize = size < available ? size : available;
        if (blockSize == 0) return;
        uint8_t flags = data[0];
        size_t offset = 1;
        FILETIME* targets[] = {writeTime, accessTime, creationTime};
        const uint8_t bits[] = {kHasWriteTime, kHasAccessTime, kHasCreationTime};
        for (int i = 0; i < 3; ++i) {
            if ((flags & bits[i]) == 0) continue;
            if (offset + 4 > blockSize) return;
            FILETIME time;
            // Before 1970 the system cannot convert the value; the DOS time stays.
            if (UnixTimeToFileTime(static_cast<int32_t>(Get32(data + offset)), &time))
                *targets[i] = time;
            offset += 4;
        }
        return;
    }
}

bool HasLocalCreationTime(const uint8_t* extra, size_t length) {
    for (size_t position = 0; extra != nullptr && position + 4 <= length;) {
        const size_t size = Get16(extra + position + 2);
        if (Get16(extra + position) == kExtendedTimestampId)
            return size != 0 && position + 5 <= length &&
                   (extra[position + 4] & kHasCreationTime) != 0;
        position += 4 + size;
    }
    return false;
}

bool EntryName(const char* stored, uint16_t flags, char (&out)[MAX_PATH]) {
    const int length = static_cast<int>(std::strlen(stored));
    if ((flags & kUtf8NameFlag) == 0 || GetACP() == CP_UTF8 || length == 0) {
        if (length >= static_cast<int>(sizeof out)) return false;
        std::memcpy(out, stored, static_cast<size_t>(length) + 1);
        return true;
    }
    // UTF-8 never takes fewer bytes than UTF-16 units, nor more than any ANSI code page
    // takes for the same text, so both buffers are large enough. Lengths are given rather
    // than terminators: a sequence cut short by the end may swallow the terminator.
    wchar_t wide[MAX_PATH];
    int units =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, stored, length, wide, MAX_PATH - 1);
    if (units == 0) {
        // Not UTF-8 after all: each bad sequence becomes U+FFFD, spelt "?" below like any
        // character the code page lacks.
        units = MultiByteToWideChar(CP_UTF8, 0, stored, length, wide, MAX_PATH - 1);
        for (int i = 0; i < units; ++i) {
            if (wide[i] == 0xFFFD) wide[i] = L'?';
        }
    }
    BOOL defaulted = FALSE;
    const int bytes = units == 0 ? 0
                                 : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, units,
                                                       out, sizeof out - 1, "?", &defaulted);
    if (bytes <= 0) return false;
    out[bytes] = '\0';
    return true;
}

bool NamesEqual(const char* a, const char* b, bool ignoreCase) {
    if (!ignoreCase) return std::strcmp(a, b) == 0;
    while (*a != '\0' && *b != '\0') {
        // A trail byte can look like an ASCII letter; it belongs to its character.
        const size_t n = CharacterBytes(a);
        if (n != CharacterBytes(b)) return false;
        if (n == 2 ? a[0] != b[0] || a[1] != b[1] : FoldAscii(*a) != FoldAscii(*b)) return false;
        a += n;
        b += n;
    }
    return *a == *b;
}

ZipResult ZipGetEntry(ZipHandle* handle, int32_t index, ZipEntry* entry) {
    ZipResult result = CheckHandle(handle);
    if (result != ZipOk) return Finish(result);
    if (entry == nullptr) return Finish(ZipBadArguments);
    return Finish(GetEntry(handle->reader, index, entry));
}

ZipResult GetEntryRecord(ZipReader* reader, int32_t index, ZipEntry* entry) {
    return GetEntry(reader, index, entry);
}

ZipResult ZipFindEntry(ZipHandle* handle, const char* name, bool ignoreCase, int32_t* indexOut,
                       ZipEntry* recordOut) {
    auto fail = [&](ZipResult why) {
        if (indexOut != nullptr) *indexOut = -1;
        if (recordOut != nullptr) {
            std::memset(recordOut, 0, sizeof *recordOut);
            recordOut->index = -1;
        }
        return Finish(why);
    };
    ZipResult result = CheckHandle(handle);
    if (result != ZipOk) return fail(result);
    if (name == nullptr) return fail(ZipBadArguments);
    ZipReader* reader = handle->reader;
    CloseOpenEntry(reader);
    // No record holds a longer name (ReadEntryInfo).
    if (std::strlen(name) >= MAX_PATH) return fail(ZipEntryNotFound);

    for (int32_t i = 0; i < reader->count; ++i) {
        // Past the directory's damage nothing more can be read; a record damaged on its own
        // is passed over, as a walk by index passes it, so that every entry a walk reaches
        // is found too.
        result = GoToEntry(reader, i);
        if (result != ZipOk) return fail(result);
        unz_file_info64 info;
        char stored[MAX_PATH];
        if (unzGetCurrentFileInfo64(reader->archive.Get(), &info, stored, sizeof stored, nullptr, 0,
                                    nullptr, 0) != UNZ_OK) {
            if (reader->source.readError) return fail(ZipReadFailed);
            continue;
        }
        // Longer stored names are refused by ReadEntryInfo, and do not fit stored.
        if (info.size_filename >= sizeof stored) continue;
        stored[info.size_filename] = '\0';
        char known[MAX_PATH];
        if (!EntryName(stored, static_cast<uint16_t>(info.flag), known)) continue;
        if (!NamesEqual(known, name, ignoreCase)) continue;
        // The record is built whether or not the caller wants it, so that the entry gets the
        // same answer as from ZipGetEntry.
        ZipEntry record;
        result = GetEntry(reader, i, &record);
        if (result != ZipOk) return fail(result);
        if (indexOut != nullptr) *indexOut = i;
        if (recordOut != nullptr) *recordOut = record;
        return Finish(ZipOk);
    }
    return fail(ZipEntryNotFound);
}
