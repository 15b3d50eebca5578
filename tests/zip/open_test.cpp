// Opening archives from every kind of source, and the result texts.
#include <gtest/gtest.h>

#include <cstring>

#include "ZipInternal.h"
#include "ZipTestSupport.h"

namespace {

const std::string kContent = "the first entry's content, long enough to be deflated well";

Bytes SmallArchive(const std::string& comment = "") {
    return BuildArchive({{"first.txt", kContent}, {"second.txt", "two", 0}}, comment);
}

Bytes Concat(const std::string& front, const Bytes& archive) {
    Bytes out(front.begin(), front.end());
    out.insert(out.end(), archive.begin(), archive.end());
    return out;
}

Bytes Patched(size_t at, uint32_t value) {
    Bytes a = SmallArchive();
    Put32(a, ReadLayout(a).endRecord + at, value);
    return a;
}

enum Source { kByName, kByHandle, kFromMemory };

struct OpenCase {
    const char* name;
    Source source;
    Bytes (*archive)();  // null: there is no file
    ZipResult expected;
    int32_t count;    // when opened
    size_t skip = 0;  // where the archive begins in the handle's file
    DWORD access = GENERIC_READ;  // of the handle
};

const OpenCase kOpenCases[] = {
    {"HandlePositionedInsideLargerFile", kByHandle,
     [] { return Concat(std::string(777, 'x'), SmallArchive()); }, ZipOk, 2, 777},
    {"ProgramStubInFront", kByName,
     [] { return Concat("MZ" + std::string(4094, '\x90'), SmallArchive()); }, ZipOk, 2},
    // minizip allows for the stub in the classic records only.
    {"Zip64RecordsBehindAStub", kByName, [] { return Concat("MZ", Zip64(SmallArchive())); }, ZipOk,
     2},
    {"CommentOf65535BytesBeyondTheReadersOwnSearch", kByName,
     [] { return SmallArchive(std::string(65535, 'c')); }, ZipOk, 2},
    {"CommentOf65513BytesWithinTheReadersSearch", kFromMemory,
     [] { return SmallArchive(std::string(65513, 'c')); }, ZipOk, 2},
    {"EmptyArchiveOfOnlyAnEndRecord", kFromMemory, [] { return BuildArchive({}); }, ZipOk, 0},
    {"NoEndRecordGivesMinusOne", kByName, [] { return Patched(0, 0x12345678); }, ZipNoEndRecord, 0},
    {"TooShortForAnEndRecordGivesMinusOne", kFromMemory, [] { return Bytes(10, 'P'); },
     ZipNoEndRecord, 0},
    // 65535 claimed: the count is cut to what the archive can hold; the rest are corrupt.
    {"CountBeyondWhatTheArchiveCanHoldIsCut", kFromMemory,
     [] { return Patched(kEndEntriesHere, ~0u); }, ZipOk,
     static_cast<int32_t>(SmallArchive().size() / 46)},
    {"InconsistentEntryCountsGiveMinus103", kFromMemory, [] { return Patched(kEndEntriesHere, 7); },
     ZipBadEndRecord, 0},
    {"DirectoryOverlappingTheEndRecordGivesMinus103", kByHandle,
     [] { return Patched(kEndDirectoryOffset, static_cast<uint32_t>(SmallArchive().size() - 22)); },
     ZipBadEndRecord, 0},
    {"MissingFile", kByName, nullptr, ZipOpenFailed, 0},
    // A disk that fails to read says nothing of the archive: the open may pass later.
    {"AFailedReadIsNoDamage", kByHandle, [] { return SmallArchive(); }, ZipReadFailed, 0, 0,
     GENERIC_WRITE},
};

// Opening by name keeps others from deleting the file; the caller's handle stays the
// caller's; after ZipClose, or a failed open, nothing of the layer holds the file.
TEST(Open, OpensOrSaysWhyNotAndLeavesNothingOpen) {
    for (const OpenCase& c : kOpenCases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        const std::string path = folder / "a.zip";
        const Bytes archive = c.archive ? c.archive() : Bytes();
        ASSERT_TRUE(!c.archive || c.source == kFromMemory || WriteBytes(path, archive));
        HANDLE file = INVALID_HANDLE_VALUE;
        ZipLastResult = ZipCorrupt;
        ZipHandle* zip = nullptr;
        if (c.source == kFromMemory) zip = OpenInMemory(archive);
        if (c.source == kByName) zip = ZipOpen(path.c_str(), 0, ZipLocationFileName);
        if (c.source == kByHandle) {
            file = CreateFileA(path.c_str(), c.access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
            SetFilePointer(file, static_cast<LONG>(c.skip), nullptr, FILE_BEGIN);
            zip = ZipOpen(file, 0, ZipLocationHandle);
        }
        EXPECT_EQ(c.expected, ZipLastResult);
        EXPECT_EQ(c.expected == ZipOk, zip != nullptr);
        const bool onDisk = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (zip != nullptr) {
            ZipEntry count;
            ASSERT_EQ(ZipOk, ZipGetEntry(zip, -1, &count));
            EXPECT_EQ(c.count, count.index);
            for (int pass = 0; pass < 2 && c.count > 0; ++pass) {  // any call in between starts over
                char buffer[256] = {};
                EXPECT_EQ(ZipMoreData, ZipExtractEntry(zip, 0, buffer, 255, ZipLocationMemory));
                EXPECT_EQ(kContent, buffer);
                EXPECT_EQ(ZipOk, ZipGetEntry(zip, 1, &count));
            }
            EXPECT_TRUE(!onDisk || !DeleteFileA(path.c_str())) << "deleted while open";
            EXPECT_EQ(ZipOk, ZipClose(zip));
        } else {  // what a caller that skips the check passes on, and a forged kind
            ZipEntry e;
            char target[] = "x";
            ZipHandle other{2, nullptr};
            EXPECT_EQ(ZipModeMixed, ZipGetEntry(&other, 0, &e));
            EXPECT_EQ(ZipBadArguments, ZipGetEntry(zip, 0, &e));
            EXPECT_EQ(ZipBadArguments, ZipFindEntry(zip, "a", false, nullptr, nullptr));
            EXPECT_EQ(ZipBadArguments, ZipExtractEntry(zip, 0, &e, 4, ZipLocationMemory));
            EXPECT_EQ(ZipBadArguments, ZipExtractEntry(zip, 0, target, 0, ZipLocationFileName));
            EXPECT_EQ(ZipBadArguments, ZipClose(zip));
            EXPECT_EQ(ZipBadArguments, ZipLastResult);
        }
        if (file != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_DISK), GetFileType(file)) << "handle closed";
            CloseHandle(file);
        }
        EXPECT_TRUE(!onDisk || DeleteFileA(path.c_str())) << "the archive is still open";
    }
}

// Past 2 GiB a position no longer fits a signed 32-bit offset; a hand-over record can list
// up to 4 GiB. The gap between the two entries is a hole in a sparse file.
TEST(Open, ArchivesPast2GiBOpenAndExtract) {
    Bytes archive = SmallArchive();
    const Layout at = ReadLayout(archive);
    constexpr uint32_t kGap = 0x88000000;
    Put32(archive, at.central[1] + 42, static_cast<uint32_t>(at.local[1]) + kGap);
    Put32(archive, at.endRecord + kEndDirectoryOffset,
          Get32(archive, at.endRecord + kEndDirectoryOffset) + kGap);
    ScratchFolder folder;
    const std::string path = folder / "large.zip";
    {
        ScopedHandle out(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        DWORD written = 0;
        LARGE_INTEGER beyond;
        beyond.QuadPart = static_cast<LONGLONG>(at.local[1]) + kGap;
        ASSERT_TRUE(WriteFile(out, archive.data(), static_cast<DWORD>(at.local[1]), &written, nullptr));
        ASSERT_TRUE(SetFilePointerEx(out, beyond, nullptr, FILE_BEGIN));
        ASSERT_TRUE(WriteFile(out, archive.data() + at.local[1],
                              static_cast<DWORD>(archive.size() - at.local[1]), &written, nullptr));
    }
    ZipHandle* zip = ZipOpen(path.c_str(), 0, ZipLocationFileName);
    ASSERT_NE(nullptr, zip) << std::hex << ZipLastResult;
    char buffer[16] = {};
    EXPECT_EQ(ZipMoreData, ZipExtractEntry(zip, 1, buffer, sizeof buffer - 1, ZipLocationMemory));
    EXPECT_STREQ("two", buffer);
    ZipClose(zip);
}

// The entries of dir are those a walk of file finds, and the local header at each offset has
// the entry's name and CRC-32.
void ExpectTheWalksEntries(const Bytes& file, const ZipTailDirectory& dir) {
    ZipHandle* zip = OpenInMemory(file);
    ASSERT_NE(nullptr, zip);
    ZipEntry e;
    ZipGetEntry(zip, -1, &e);
    ASSERT_EQ(static_cast<size_t>(e.index), dir.entries.size());
    for (const ZipTailEntry& t : dir.entries) {
        const size_t i = static_cast<size_t>(&t - dir.entries.data()), at = t.localHeaderOffset;
        const ZipResult walked = ZipGetEntry(zip, static_cast<int32_t>(i), &e);
        SCOPED_TRACE(t.storedName);
        EXPECT_TRUE(walked != ZipOk || (t.result == ZipOk && t.name == std::string(e.name) &&
                                        t.attributes == e.attributes &&
                                        t.compressedSize == e.compressedSize &&
                                        t.uncompressedSize == e.uncompressedSize));
        EXPECT_TRUE(t.result == ZipOk || walked != ZipOk);
        EXPECT_EQ(0x04034b50u, Get32(file, at));
        EXPECT_EQ(Ticks(e.writeTime), Ticks(t.dosTime));
        EXPECT_EQ(t.crc32, Get32(file, at + kLocalCrc));
        EXPECT_EQ(t.storedName, std::string(file.begin() + at + kLocalHeaderSize,
                                            file.begin() + at + kLocalHeaderSize + t.storedName.size()));
    }
    ZipClose(zip);
}

// Gives the last tail bytes of file, then as many as each ZipMoreData asks for.
ZipResult ReadTail(const Bytes& file, size_t tail, ZipTailDirectory* dir, int* rounds) {
    ZipResult result;
    for (*rounds = 0; (result = ZipReadTailDirectory(file.data() + file.size() - tail, tail,
                                                     file.size(), dir)) == ZipMoreData;
         ++*rounds) {
        EXPECT_GT(dir->needed, tail);
        if (dir->needed <= tail || dir->needed > file.size() || *rounds > 3) break;
        tail = static_cast<size_t>(dir->needed);
    }
    return result;
}

// The second entry's local header offset is at.
Bytes LocalAt(uint32_t at) {
    Bytes a = SmallArchive();
    Put32(a, ReadLayout(a).central[1] + 42, at ? at : static_cast<uint32_t>(ReadLayout(a).central[0]));
    return a;
}

// A field of Zip64(SmallArchive()), this far before its end, set to value.
Bytes Zip64Patched(size_t fromEnd, uint32_t value) {
    Bytes a = Zip64(SmallArchive());
    Put32(a, a.size() - fromEnd, value);
    return a;
}

struct TailCase {
    const char* name;
    Bytes (*archive)();
    size_t tail;  // the bytes first given from the end; 0: all
    ZipResult expected;
    int rounds;  // of ZipMoreData before it
};

const TailCase kTailCases[] = {
    {"Classic", [] { return SmallArchive(); }, 0, ZipOk, 0},
    {"CommentBeyondTheBytesFirstGiven", [] { return SmallArchive("a comment"); }, 22, ZipOk, 1},
    {"StubAheadLeftOutOfTheOffsets", [] { return Concat(std::string(5000, 'x'), SmallArchive()); },
     0, ZipOk, 0},
    {"Zip64", [] { return Zip64(SmallArchive()); }, 0, ZipOk, 0},
    // The end records ask for the zip64 records, which ask for the directory.
    {"Zip64BehindAStubGivenTheEndRecordOnly",
     [] { return Concat(std::string(70000, 'x'), Zip64(SmallArchive())); }, 22, ZipOk, 2},
    {"TailEndingInsideTheDirectory", [] { return SmallArchive(); }, 120, ZipOk, 1},
    {"TailShorterThanAnEndRecord", [] { return SmallArchive(); }, 21, ZipOk, 1},
    {"NotAnArchive", [] { return Bytes(70000, 'x'); }, 65557, ZipNoEndRecord, 0},
    {"TruncatedEndRecord", [] { Bytes a = SmallArchive(); a.resize(a.size() - 4); return a; }, 0,
     ZipNoEndRecord, 0},
    {"DirectoryOffsetPastTheArchive", [] { return Patched(kEndDirectoryOffset, 0x7FFFFFFF); }, 0,
     ZipBadEndRecord, 0},
    {"EntryCountsThatDisagree", [] { return Patched(kEndEntriesHere, 0x00020001); }, 0,
     ZipBadEndRecord, 0},
    {"MoreEntriesThanTheDirectoryHolds", [] { return Patched(kEndEntriesHere, 0x00030003); }, 0,
     ZipCorrupt, 0},
    {"FewerEntriesThanTheDirectoryHolds", [] { return Patched(kEndEntriesHere, 0x00010001); }, 0,
     ZipCorrupt, 0},
    {"LocalHeaderPastTheArchive", [] { return LocalAt(1u << 30); }, 0, ZipCorrupt, 0},
    {"LocalHeaderInsideTheDirectory", [] { return LocalAt(0); }, 0, ZipCorrupt, 0},
    {"Zip64CountOtherThanTheClassicOne", [] { return Zip64Patched(22 - 8, 0x00010001); }, 0,
     ZipBadEndRecord, 0},
    {"Zip64RecordWhereNoneIs", [] { return Zip64Patched(22 + 76, 0); }, 0, ZipBadEndRecord, 0},
};

TEST(Tail, ReadsTheWalksEntriesOrSaysWhatIsWrong) {
    for (const TailCase& c : kTailCases) {
        SCOPED_TRACE(c.name);
        const Bytes file = c.archive();
        ZipTailDirectory dir;
        int rounds = 0;
        EXPECT_EQ(c.expected, ReadTail(file, c.tail ? c.tail : file.size(), &dir, &rounds));
        EXPECT_EQ(c.expected, ZipLastResult);
        EXPECT_EQ(c.rounds, rounds);
        EXPECT_EQ(c.expected != ZipOk, dir.entries.empty());
        if (c.expected == ZipOk) ExpectTheWalksEntries(file, dir);
    }
}

// The corpus's zip64 records behind 14 bytes its offsets leave out: the entry is found, and
// whole (what the walk and the tail reader give of every archive, the fuzz campaign compares).
TEST(Tail, ArchivesOfOtherToolsAsTheWalkReadsThem) {
    if (GetFileAttributesA(KIT_ZIP_CORPUS "/zip2__zip64_demo.zip") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no " KIT_ZIP_CORPUS;
    const std::string text = ReadText(KIT_ZIP_CORPUS "/zip2__zip64_demo.zip");
    const Bytes demo(text.begin(), text.end());
    ZipHandle* zip = OpenInMemory(demo);
    char buffer[64] = {};
    EXPECT_EQ(ZipMoreData, ZipExtractEntry(zip, 0, buffer, sizeof buffer - 1, ZipLocationMemory));
    EXPECT_STREQ("Hello, world!\n", buffer);
    ZipClose(zip);
}

struct MessageCase {
    const char* name;
    ZipResult code;
    uint32_t bufferLength;
    const char* written;  // nullptr: no buffer is passed; "#": nothing may be written
    uint32_t returned;
};

const MessageCase kMessageCases[] = {
    {"CutToTheBufferWithTheFullLengthReturned", 0x700, 10, "Zipfile i", 35},
    {"NullBufferOnlyMeasures", 0x700, 64, nullptr, 35},
    {"ZeroLengthWritesNothing", ZipOk, 0, "#", 7},
    {"OneByteBufferGetsOnlyTheTerminator", ZipOk, 1, "", 7},
    {"SpellingOfDuplicateFailureKept", ZipDuplicateFailed, 64, "Culdn't duplicate handle", 24},
    {"SpellingOfInflateErrorKept", ZipInflateError, 64, "Zip-bug: an internal error during flation",
     41},
    {"RecentStandsForTheLastResult", ZipRecent, 64, "Error writing to file", 21},
    {"CodeOfNoTableRowIsUnknown", 0x900, 64, "unknown zip result code", 23},
};

TEST(Message, FormatsAndMeasuresWithoutChangingTheLastResult) {
    for (const MessageCase& c : kMessageCases) {
        SCOPED_TRACE(c.name);
        char buffer[65];
        std::memset(buffer, '#', sizeof buffer);
        buffer[64] = '\0';
        ZipLastResult = ZipWriteFailed;
        char* given = c.written == nullptr ? nullptr : buffer;
        EXPECT_EQ(c.returned, ZipFormatMessage(c.code, given, c.bufferLength));
        if (given == nullptr || std::strcmp(c.written, "#") == 0) {
            EXPECT_EQ('#', buffer[0]);
        } else {
            EXPECT_STREQ(c.written, buffer);
        }
        EXPECT_EQ(ZipWriteFailed, ZipLastResult);
    }
}

}  // namespace
