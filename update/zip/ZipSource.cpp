// The archive source: the I/O table minizip reads through, over a file handle or memory.
#include <new>
#include <cstring>

#include "LittleEndian.h"
#include "ZipInternal.h"

namespace {

constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kEndSignature = 0x06054b50;

ZipSource* AsSource(voidpf stream) { return static_cast<ZipSource*>(stream); }

// One ReadFile at offset (from where the archive begins); read is what arrived.
bool ReadHandleAt(ZipSource* source, uint64_t offset, void* buffer, uint32_t size, DWORD* read) {
    *read = 0;
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(source->initialOffset + offset);
    ++source->readCalls;
    return SetFilePointerEx(source->handle, to, nullptr, FILE_BEGIN) &&
           ReadFile(source->handle, buffer, size, read, nullptr);
}

// The window holding the source's position, or null.
SourceWindow* WindowAtCursor(ZipSource* source) {
    for (SourceWindow& window : source->windows) {
        if (window.length != 0 && source->cursor >= window.start &&
            source->cursor - window.start < window.length) {
            return &window;
        }
    }
    return nullptr;
}

// Fills the window used least recently from the source's position. Null when there is
// nothing more to read, or on failure (readError then tells which).
SourceWindow* RefillWindow(ZipSource* source) {
    SourceWindow* window = &source->windows[0];
    if (source->windows[1].lastUse < window->lastUse) window = &source->windows[1];
    if (!window->bytes) {
        window->bytes.reset(new (std::nothrow) uint8_t[SourceWindow::kSize]);
        if (!window->bytes) return nullptr;
    }
    window->length = 0;
    DWORD read = 0;
    if (!ReadHandleAt(source, source->cursor, window->bytes.get(), SourceWindow::kSize, &read)) {
        source->readError = true;
        return nullptr;
    }
    if (read == 0) return nullptr;
    window->start = source->cursor;
    window->length = read;
    return window;
}

uLong ReadFromHandle(ZipSource* source, uint8_t* out, uLong size) {
    uLong got = 0;
    while (got < size) {
        // A damaged length makes minizip read on past the end a byte or a field at a time,
        // tens of thousands of times; past the length taken at opening there is nothing to
        // ask the system for.
        if (source->cursor >= source->handleLength) break;
        SourceWindow* window = WindowAtCursor(source);
        const uLong left = size - got;
        if (window == nullptr && left < SourceWindow::kSize) {
            window = RefillWindow(source);
            if (window == nullptr && source->readError) break;
        }
        if (window == nullptr) {
            // A large read, or no memory for a window: straight into the caller's buffer.
            DWORD read = 0;
            if (!ReadHandleAt(source, source->cursor, out + got, left, &read)) {
                source->readError = true;
            }
            got += read;
            source->cursor += read;
            break;
        }
        window->lastUse = ++source->uses;
        const uint32_t offset = static_cast<uint32_t>(source->cursor - window->start);
        uLong part = window->length - offset;
        if (part > left) part = left;
        std::memcpy(out + got, window->bytes.get() + offset, part);
        got += part;
        source->cursor += part;
    }
    return got;
}

// The archive's end as minizip sees it, relative to where the archive begins.
bool SourceEnd(ZipSource* source, uint64_t* end) {
    if (source->endLimit != 0) {
        *end = source->endLimit;
        return true;
    }
    if (!source->isHandle) {
        *end = source->length;
        return true;
    }
    *end = source->handleLength;
    return true;
}

// The source is the caller's ZipSource; minizip's "open" only hands it back.
voidpf ZCALLBACK OpenSource(voidpf opaque, const void*, int) { return opaque; }

uLong ZCALLBACK ReadSource(voidpf, voidpf stream, void* buffer, uLong size) {
    ZipSource* source = AsSource(stream);
    uLong got = 0;
    if (source->isHandle) {
        got = ReadFromHandle(source, static_cast<uint8_t*>(buffer), size);
    } else {
        uint32_t left = source->position < source->length ? source->length - source->position : 0;
        got = size < left ? size : left;
        if (got != 0) std::memcpy(buffer, source->base + source->position, got);
        source->position += got;
    }
    source->bytesRead += got;
    return got;
}

uLong ZCALLBACK WriteSource(voidpf, voidpf, const void*, uLong) { return 0; }

// The 64-bit table: positions past 2 GiB (an archive may be as large as a hand-over record
// can state, 4 GiB) and the zip64 records come with it.
ZPOS64_T ZCALLBACK TellSource(voidpf, voidpf stream) {
    ZipSource* source = AsSource(stream);
    if (!source->isHandle) return source->position;
    return source->canSeek ? source->cursor : 0;
}

long ZCALLBACK SeekSource(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    ZipSource* source = AsSource(stream);
    if (!source->canSeek) return -1;
    uint64_t from = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            from = source->isHandle ? source->cursor : source->position;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            if (!SourceEnd(source, &from)) return -1;
            break;
        default:
            return -1;
    }
    // A position beyond the source can only come from a damaged offset; refused alike for
    // memory and handles, so that it fails the same way from either.
    const uint64_t end = source->isHandle ? source->handleLength : source->length;
    if (offset > end - from) return -1;
    const uint64_t target = from + offset;
    if (source->isHandle) {
        source->cursor = target;
    } else {
        source->position = static_cast<uint32_t>(target);
    }
    return 0;
}

// The reader owns the handle and closes it with the handle itself, so that a failed open
// can look at the source again.
int ZCALLBACK CloseSource(voidpf, voidpf) { return 0; }

int ZCALLBACK SourceError(voidpf, voidpf stream) {
    ZipSource* source = AsSource(stream);
    return source->isHandle && source->readError ? 1 : 0;
}

}  // namespace

void FillSourceFunctions(zlib_filefunc64_def* functions, ZipSource* source) {
    functions->zopen64_file = OpenSource;
    functions->zread_file = ReadSource;
    functions->zwrite_file = WriteSource;
    functions->ztell64_file = TellSource;
    functions->zseek64_file = SeekSource;
    functions->zclose_file = CloseSource;
    functions->zerror_file = SourceError;
    functions->opaque = source;
}

bool SourceLength(ZipSource* source, uint64_t* length) {
    uint64_t saved = source->endLimit;
    source->endLimit = 0;
    bool ok = SourceEnd(source, length);
    source->endLimit = saved;
    return ok;
}

bool ReadSourceAt(ZipSource* source, uint64_t offset, void* buffer, uint32_t size) {
    if (!source->isHandle) {
        if (offset > source->length || source->length - offset < size) return false;
        std::memcpy(buffer, source->base + offset, size);
        return true;
    }
    if (!source->canSeek) return false;
    DWORD read = 0;
    if (!ReadHandleAt(source, offset, buffer, size, &read)) {
        source->readError = true;
        return false;
    }
    return read == size;
}

EndRecordCheck CheckEndRecord(const uint8_t* tail, size_t tailLength, uint64_t archiveLength) {
    EndRecordCheck check{ZipNoEndRecord, 0, 0, 0, 0};
    if (tailLength < kEndRecordSize || tailLength > archiveLength) return check;
    for (size_t i = tailLength - kEndRecordSize + 1; i-- > 0;) {
        const uint8_t* record = tail + i;
        if (Get32(record) != kEndSignature) continue;
        uint64_t position = archiveLength - tailLength + i;
        uint16_t disk = Get16(record + 4);
        uint16_t directoryDisk = Get16(record + 6);
        uint16_t entriesHere = Get16(record + 8);
        uint16_t entries = Get16(record + 10);
        uint64_t directorySize = Get32(record + 12);
        uint64_t directoryOffset = Get32(record + 16);
        bool consistent = disk == 0 && directoryDisk == 0 && entriesHere == entries &&
                          directoryOffset + directorySize <= position;
        check.result = consistent ? ZipOk : ZipBadEndRecord;
        check.position = position;
        check.entryCount = entries;
        check.directoryOffset = static_cast<uint32_t>(directoryOffset);
        check.directorySize = static_cast<uint32_t>(directorySize);
        return check;
    }
    return check;
}
