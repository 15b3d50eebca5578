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
};

const OpenCase kOpenCases[] = {
    {"HandlePositionedInsideLargerFile", kByHandle,
     [] { return Concat(std::string(777, 'x'), SmallArchive()); }, ZipOk, 2, 777},
    {"ProgramStubInFront", kByName,
     [] { return Concat("MZ" + std::string(4094, '\x90'), SmallArchive()); }, ZipOk, 2},
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
            file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
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
