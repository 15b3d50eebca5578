// The central directory read from an archive's last bytes, for fetching entries by range.
#include <cstring>

#include "ZipInternal.h"

namespace {

constexpr uint64_t kSmallestCentralHeader = 46;
constexpr uint64_t kLocalHeaderSize = 30;

// The walk's own reader over the bytes given: minizip reads the records through a source
// that holds only tail, and every header passes the checks of ZipGetEntry.
ZipResult ReadDirectory(const uint8_t* tail, size_t tailLength, uint64_t archiveLength,
                        ZipTailDirectory* out) {
    const EndRecordCheck end = CheckEndRecord(tail, tailLength, archiveLength);
    out->needed = end.result == ZipMoreData ? end.needed : 0;
    if (end.result != ZipOk) return end.result;
    out->archiveStart = end.prefix;
    out->directoryOffset = end.directoryOffset;
    out->directorySize = end.directorySize;
    if (end.directoryOffset < archiveLength - tailLength) {
        out->needed = archiveLength - end.directoryOffset;
        return ZipMoreData;
    }
    // A count the directory cannot hold is refused before a single header is read.
    if (end.entryCount > end.directorySize / kSmallestCentralHeader) return ZipCorrupt;

    ZipReader reader;
    reader.source.base = tail;
    reader.source.length = static_cast<uint32_t>(tailLength);
    reader.source.memoryStart = archiveLength - tailLength;
    reader.source.canSeek = true;
    const ZipResult opened = OpenAtEnd(&reader, end);
    if (opened != ZipOk) return opened;
    if (static_cast<uint64_t>(reader.count) != end.entryCount) return ZipCorrupt;

    // From here on in the archive's own terms, as minizip reads them.
    const uint64_t directory = end.directoryOffset - end.prefix;
    uint64_t headerEnd = directory;
    std::vector<ZipTailEntry> entries(static_cast<size_t>(reader.count));
    for (int32_t i = 0; i < reader.count; ++i) {
        unzFile archive = reader.archive.Get();
        unz_file_info64 info;
        ZPOS64_T local = 0;
        if (GoToEntry(&reader, i) != ZipOk ||
            unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
            unzGetLocalHeaderOffset64(archive, &local) != UNZ_OK)
            return ZipCorrupt;
        ZipTailEntry& e = entries[static_cast<size_t>(i)];
        e.storedName.assign(info.size_filename, '\0');
        // The name is asked for with room for minizip's terminator.
        std::vector<char> stored(info.size_filename + 1);
        std::vector<uint8_t> extra(info.size_file_extra + 1);
        if (unzGetCurrentFileInfo64(archive, &info, stored.data(), info.size_filename + 1,
                                    extra.data(), info.size_file_extra, nullptr, 0) != UNZ_OK)
            return ZipCorrupt;
        e.localCreationTime = HasLocalCreationTime(extra.data(), info.size_file_extra);
        std::memcpy(&e.storedName[0], stored.data(), info.size_filename);
        if (local > directory || directory - local < kLocalHeaderSize) return ZipCorrupt;
        headerEnd = reader.offsets[static_cast<size_t>(i)] + kSmallestCentralHeader +
                    info.size_filename + info.size_file_extra + info.size_file_comment;

        e.result = JudgeEntryInfo(info, stored.data(), e.name);
        if (e.result != ZipOk) e.name[0] = '\0';
        e.flags = static_cast<uint16_t>(info.flag);
        e.method = static_cast<uint16_t>(info.compression_method);
        e.crc32 = static_cast<uint32_t>(info.crc);
        e.compressedSize = info.compressed_size;
        e.uncompressedSize = info.uncompressed_size;
        e.attributes = DeriveAttributes(static_cast<uint32_t>(info.external_fa), e.name);
        e.dosTime = DosTimeOf(static_cast<uint32_t>(info.dosDate));
        e.localHeaderOffset = local + end.prefix;
    }
    // The count and the directory's size must tell the same story.
    if (headerEnd != directory + end.directorySize) return ZipCorrupt;
    out->entries.swap(entries);
    return ZipOk;
}

}  // namespace

ZipResult ZipReadTailDirectory(const void* tail, size_t tailLength, uint64_t archiveLength,
                               ZipTailDirectory* out) {
    if (out == nullptr) return Finish(ZipBadArguments);
    out->entries.clear();
    out->needed = out->archiveStart = out->directoryOffset = out->directorySize = 0;
    if ((tail == nullptr && tailLength != 0) || tailLength > archiveLength)
        return Finish(ZipBadArguments);
    return Finish(
        ReadDirectory(static_cast<const uint8_t*>(tail), tailLength, archiveLength, out));
}
