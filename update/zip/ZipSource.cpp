// The archive source: the I/O table minizip reads through, over a file handle or memory.
#include <new>
#include <cstring>

#include "LittleEndian.h"
#include "ZipInternal.h"

namespace {

constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint64_t kEndSearch = kEndRecordSize + 0xFFFF;  // the record and its longest comment
constexpr uint32_t kLocatorSize = 20;
constexpr uint32_t kLocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSize = 56;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
// How far before its locator a zip64 end record may begin: its fixed part and an extensible
// data of up to 64 KiB. Bounds what an open reads however the locator lies.
constexpr uint64_t kZip64Reach = kZip64EndSize + 0xFFFF;

uint64_t Get64(const uint8_t* p) { return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32; }

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
        *end = source->memoryStart + source->length;
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
        // A tail holds nothing before memoryStart, which reads as zeros: minizip looks for the
        // end records in blocks that may reach there, and zeros hold no record.
        const uint64_t end = source->memoryStart + source->length;
        const uint64_t left = source->position < end ? end - source->position : 0;
        got = size < left ? size : static_cast<uLong>(left);
        uLong missing = 0;
        if (source->position < source->memoryStart) {
            const uint64_t before = source->memoryStart - source->position;
            missing = before < got ? static_cast<uLong>(before) : got;
        }
        std::memset(buffer, 0, missing);
        if (got > missing) {
            std::memcpy(static_cast<uint8_t*>(buffer) + missing,
                        source->base + (source->position + missing - source->memoryStart),
                        got - missing);
        }
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
    const uint64_t end =
        source->isHandle ? source->handleLength : source->memoryStart + source->length;
    if (offset > end - from) return -1;
    (source->isHandle ? source->cursor : source->position) = from + offset;
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
        if (offset < source->memoryStart) return false;
        const uint64_t at = offset - source->memoryStart;
        if (at > source->length || source->length - at < size) return false;
        std::memcpy(buffer, source->base + at, size);
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

void ShiftSource(ZipSource* source, uint64_t prefix) {
    if (source->isHandle) {
        source->initialOffset += prefix;
        source->handleLength -= prefix;
        source->cursor = 0;
        for (SourceWindow& window : source->windows) window.length = 0;
        return;
    }
    if (source->memoryStart < prefix) {
        const uint64_t skipped = prefix - source->memoryStart;
        source->base += skipped;
        source->length -= static_cast<uint32_t>(skipped);
        source->memoryStart = prefix;
    }
    source->memoryStart -= prefix;
    source->position = 0;
}

EndRecordCheck CheckEndRecord(const uint8_t* tail, size_t tailLength, uint64_t archiveLength) {
    EndRecordCheck check{ZipNoEndRecord, 0, 0, false, 0, 0, 0, 0};
    if (tailLength > archiveLength) return check;
    const uint64_t start = archiveLength - tailLength;
    // Whether the bytes [at, at + size) lie in tail; when they lie before it, they are what
    // to ask for next.
    auto inTail = [&](uint64_t at, uint64_t size) {
        if (at >= start && at - start + size <= tailLength) return true;
        if (at < start) check.needed = archiveLength - at;
        return false;
    };
    auto more = [](uint64_t needed) {
        return EndRecordCheck{ZipMoreData, needed, 0, false, 0, 0, 0, 0};
    };
    size_t i = tailLength < kEndRecordSize ? 0 : tailLength - kEndRecordSize + 1;
    for (; i > 0; --i) {
        if (Get32(tail + i - 1) == kEndSignature) break;
    }
    if (i-- == 0) {
        const uint64_t searched = archiveLength < kEndSearch ? archiveLength : kEndSearch;
        return tailLength < searched ? more(searched) : check;
    }
    const uint8_t* record = tail + i;
    check.position = start + i;
    check.result = ZipBadEndRecord;
    check.entryCount = Get16(record + 10);
    check.directorySize = Get32(record + 12);
    check.directoryOffset = Get32(record + 16);
    uint64_t directoryEnd = check.position;

    // minizip takes the zip64 records only from a locator on one disk of one; so does this.
    const uint64_t locator = check.position - kLocatorSize;
    if (check.position >= kLocatorSize) {
        if (!inTail(locator, kLocatorSize)) return more(check.needed + kZip64EndSize);
        const uint8_t* l = tail + (locator - start);
        check.zip64 = Get32(l) == kLocatorSignature && Get32(l + 4) == 0 && Get32(l + 16) == 1;
    }
    // With zip64 records, a classic field may say "see there" by its largest value.
    auto fits = [&](uint64_t classic, uint64_t value, uint64_t largest) {
        return classic == value || (check.zip64 && classic == largest);
    };
    bool consistent = fits(Get16(record + 4), 0, 0xFFFF) && fits(Get16(record + 6), 0, 0xFFFF) &&
                      Get16(record + 8) == check.entryCount;
    if (check.zip64) {
        // An archive behind bytes its offsets leave out has the record right before the
        // locator, not where the locator says.
        const uint64_t claimed = Get64(tail + (locator - start) + 8);
        if (locator < kZip64EndSize) return check;
        uint64_t at = locator - kZip64EndSize;
        if (!inTail(at, kZip64EndSize)) return more(check.needed);
        if (Get32(tail + (at - start)) != kZip64EndSignature) {
            at = claimed;
            if (at > locator - kZip64EndSize || locator - at > kZip64Reach) return check;
            if (!inTail(at, kZip64EndSize)) return more(check.needed);
            if (Get32(tail + (at - start)) != kZip64EndSignature) return check;
        }
        const uint8_t* z = tail + (at - start);
        const uint64_t entries = Get64(z + 32), size = Get64(z + 40), offset = Get64(z + 48);
        consistent = consistent && Get32(z + 16) == 0 && Get32(z + 20) == 0 &&
                     Get64(z + 24) == entries && fits(check.entryCount, entries, 0xFFFF) &&
                     fits(check.directorySize, size, 0xFFFFFFFF) &&
                     fits(check.directoryOffset, offset, 0xFFFFFFFF) && claimed == offset + size;
        check.entryCount = entries;
        check.directorySize = size;
        check.directoryOffset = offset;
        directoryEnd = at;
    }
    if (!consistent || check.directorySize > directoryEnd ||
        check.directoryOffset > directoryEnd - check.directorySize)
        return check;
    check.prefix = directoryEnd - (check.directoryOffset + check.directorySize);
    check.directoryOffset += check.prefix;
    check.result = ZipOk;
    return check;
}
