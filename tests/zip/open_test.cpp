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
