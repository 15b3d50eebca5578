// Opening archives from every kind of source, the handle checks, the result texts.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "Zip.h"
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

std::string FirstEntryData(ZipHandle* zip) {
    char buffer[256];
    std::memset(buffer, 0, sizeof buffer);
    ZipResult r = ZipExtractEntry(zip, 0, buffer, sizeof buffer, ZipLocationMemory);
    if (r != ZipMoreData) return "<result " + std::to_string(r) + ">";
    return buffer;
}

// Everything a row needs to open its archive; the scratch folder outlives the handle.
struct Opened {
    ScratchFolder folder;
    Bytes memory;
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE pipeWrite = nullptr;
    ~Opened() {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (pipeWrite != nullptr) CloseHandle(pipeWrite);
    }
};

using Opener = std::function<ZipHandle*(Opened&)>;

Opener ByName(std::function<Bytes()> make) {
    return [make](Opened& o) {
        std::string path = o.folder / "a.zip";
        EXPECT_TRUE(WriteBytes(path, make()));
        return ZipOpen(path.c_str(), 0, ZipLocationFileName);
    };
}

Opener FromMemory(std::function<Bytes()> make) {
    return [make](Opened& o) {
        o.memory = make();
        return ZipOpen(o.memory.data(), static_cast<uint32_t>(o.memory.size()), ZipLocationMemory);
    };
}

// The archive starts skip bytes into the file; the handle is placed there.
Opener ByHandle(std::function<Bytes()> make, size_t skip) {
    return [make, skip](Opened& o) {
        std::string path = o.folder / "a.bin";
        EXPECT_TRUE(WriteBytes(path, make()));
        o.file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        SetFilePointer(o.file, static_cast<LONG>(skip), nullptr, FILE_BEGIN);
        return ZipOpen(o.file, 0, ZipLocationHandle);
    };
}

struct OpenCase {
    const char* name;
    Opener open;
    ZipResult expected;
    int32_t count;  // when opened
};

const OpenCase kOpenCases[] = {
    {"ByName", ByName([] { return SmallArchive(); }), ZipOk, 2},
    {"ByHandle", ByHandle([] { return SmallArchive(); }, 0), ZipOk, 2},
    {"HandlePositionedInsideLargerFile",
     ByHandle([] { return Concat(std::string(777, 'x'), SmallArchive()); }, 777), ZipOk, 2},
    {"FromMemory", FromMemory([] { return SmallArchive(); }), ZipOk, 2},
    {"ProgramStubInFront",
     ByName([] { return Concat("MZ" + std::string(4094, '\x90'), SmallArchive()); }), ZipOk, 2},
    {"CommentOf65535BytesBeyondTheReadersOwnSearch",
     ByName([] { return SmallArchive(std::string(65535, 'c')); }), ZipOk, 2},
    {"CommentOf65513BytesWithinTheReadersSearch",
     FromMemory([] { return SmallArchive(std::string(65513, 'c')); }), ZipOk, 2},
    {"EmptyArchiveOfOnlyAnEndRecord", FromMemory([] { return BuildArchive({}); }), ZipOk, 0},
    {"NoEndRecordGivesMinusOne", ByName([] {
         Bytes a = SmallArchive();
         Put32(a, ReadLayout(a).endRecord, 0x12345678);
         return a;
     }),
     ZipNoEndRecord, 0},
    {"TooShortForAnEndRecordGivesMinusOne", FromMemory([] { return Bytes(10, 'P'); }),
     ZipNoEndRecord, 0},
    {"InconsistentEntryCountsGiveMinus103", FromMemory([] {
         Bytes a = SmallArchive();
         Put16(a, ReadLayout(a).endRecord + kEndEntriesHere, 7);
         return a;
     }),
     ZipBadEndRecord, 0},
    {"DirectoryOverlappingTheEndRecordGivesMinus103", ByName([] {
         Bytes a = SmallArchive();
         size_t end = ReadLayout(a).endRecord;
         Put32(a, end + 16, static_cast<uint32_t>(end));
         return a;
     }),
     ZipBadEndRecord, 0},
    {"MissingFile",
     [](Opened& o) { return ZipOpen((o.folder / "none.zip").c_str(), 0, ZipLocationFileName); },
     ZipOpenFailed, 0},
    {"PipeIsUnseekable",
     [](Opened& o) {
         HANDLE readEnd = nullptr;
         EXPECT_TRUE(CreatePipe(&readEnd, &o.pipeWrite, nullptr, 0));
         o.file = readEnd;
         return ZipOpen(readEnd, 0, ZipLocationHandle);
     },
     ZipUnseekable, 0},
    {"NullWhere", [](Opened&) { return ZipOpen(nullptr, 0, ZipLocationFileName); }, ZipBadArguments,
     0},
    {"UnknownLocation", [](Opened& o) { return ZipOpen(&o, 0, 7); }, ZipBadArguments, 0},
};

class OpenTest : public testing::TestWithParam<OpenCase> {};

TEST_P(OpenTest, OpensOrSaysWhyNot) {
    const OpenCase& c = GetParam();
    Opened opened;
    ZipLastResult = ZipCorrupt;
    ZipHandle* zip = c.open(opened);
    EXPECT_EQ(c.expected, ZipLastResult);
    if (c.expected != ZipOk) {
        EXPECT_EQ(nullptr, zip);
        return;
    }
    ASSERT_NE(nullptr, zip);
    ZipEntry count;
    ASSERT_EQ(ZipOk, ZipGetEntry(zip, -1, &count));
    EXPECT_EQ(c.count, count.index);
    if (c.count > 0) {
        EXPECT_EQ(kContent, FirstEntryData(zip));
    }
    EXPECT_EQ(ZipOk, ZipClose(zip));
}

INSTANTIATE_TEST_SUITE_P(Sources, OpenTest, testing::ValuesIn(kOpenCases),
                         [](const testing::TestParamInfo<OpenCase>& info) {
                             return info.param.name;
                         });

TEST(OpenOwnership, CallersHandleStaysOpenAndTheDuplicateGoesWithClose) {
    ScratchFolder folder;
    std::string path = folder / "a.zip";
    ASSERT_TRUE(WriteBytes(path, SmallArchive()));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    ZipHandle* zip = ZipOpen(file, 0, ZipLocationHandle);
    ASSERT_NE(nullptr, zip);
    EXPECT_EQ(ZipOk, ZipClose(zip));
    EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_DISK), GetFileType(file));
    char byte = 0;
    DWORD read = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    EXPECT_TRUE(ReadFile(file, &byte, 1, &read, nullptr));
    EXPECT_EQ('P', byte);
    CloseHandle(file);
}

TEST(OpenOwnership, ClosingReleasesTheNamedFile) {
    ScratchFolder folder;
    std::string path = folder / "a.zip";
    ASSERT_TRUE(WriteBytes(path, SmallArchive()));
    ZipHandle* zip = ZipOpen(path.c_str(), 0, ZipLocationFileName);
    ASSERT_NE(nullptr, zip);
    // Opened without delete sharing, the file cannot go while the archive is open.
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    ZipClose(zip);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST(OpenOwnership, FailedOpenLeavesNothingOpen) {
    ScratchFolder folder;
    std::string path = folder / "a.zip";
    Bytes broken = SmallArchive();
    Put32(broken, ReadLayout(broken).endRecord, 0);
    ASSERT_TRUE(WriteBytes(path, broken));
    EXPECT_EQ(nullptr, ZipOpen(path.c_str(), 0, ZipLocationFileName));
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

// Each operation given a handle that is null or of another kind.
struct HandleCheckCase {
    const char* name;
    std::function<ZipResult(ZipHandle*)> call;
};

const HandleCheckCase kHandleChecks[] = {
    {"GetEntry",
     [](ZipHandle* h) {
         ZipEntry e;
         return ZipGetEntry(h, 0, &e);
     }},
    {"FindEntry", [](ZipHandle* h) { return ZipFindEntry(h, "a", false, nullptr, nullptr); }},
    {"ExtractToMemory",
     [](ZipHandle* h) {
         char b[4];
         return ZipExtractEntry(h, 0, b, sizeof b, ZipLocationMemory);
     }},
    {"ExtractToPath",
     [](ZipHandle* h) {
         return ZipExtractEntry(h, 0, const_cast<char*>("x"), 0, ZipLocationFileName);
     }},
    {"Close", [](ZipHandle* h) { return ZipClose(h); }},
};

class HandleCheckTest : public testing::TestWithParam<HandleCheckCase> {};

TEST_P(HandleCheckTest, NullHandleIsBadArgumentsAndIsStored) {
    ZipLastResult = ZipOk;
    EXPECT_EQ(ZipBadArguments, GetParam().call(nullptr));
    EXPECT_EQ(ZipBadArguments, ZipLastResult);
}

TEST_P(HandleCheckTest, HandleOfAnotherKindIsModeMixed) {
    ZipHandle other{2, nullptr};
    ZipLastResult = ZipOk;
    EXPECT_EQ(ZipModeMixed, GetParam().call(&other));
    EXPECT_EQ(ZipModeMixed, ZipLastResult);
}

INSTANTIATE_TEST_SUITE_P(Operations, HandleCheckTest, testing::ValuesIn(kHandleChecks),
                         [](const testing::TestParamInfo<HandleCheckCase>& info) {
                             return info.param.name;
                         });

TEST(HandleKind, OnlyNullAndReadingHandlesAreReading) {
    ZipHandle reading{1, nullptr}, other{2, nullptr};
    EXPECT_TRUE(ZipIsReadingHandle(nullptr));
    EXPECT_TRUE(ZipIsReadingHandle(&reading));
    EXPECT_FALSE(ZipIsReadingHandle(&other));
}

struct MessageCase {
    const char* name;
    ZipResult code;
    uint32_t bufferLength;  // 0: no buffer at all
    const char* written;    // nullptr: nothing may be written
    uint32_t returned;
};

const MessageCase kMessageCases[] = {
    {"CutToTheBufferWithTheFullLengthReturned", 0x700, 10, "Zipfile i", 35},
    {"NullBufferOnlyMeasures", 0x700, 0, nullptr, 35},
    {"SpellingOfDuplicateFailureKept", ZipDuplicateFailed, 64, "Culdn't duplicate handle", 24},
    {"SpellingOfInflateErrorKept", ZipInflateError, 64, "Zip-bug: an internal error during flation",
     41},
    {"OneByteBufferGetsOnlyTheTerminator", ZipOk, 1, "", 7},
    {"Minus103IsUnknown", ZipBadEndRecord, 64, "unknown zip result code", 23},
    {"MinusOneIsUnknown", ZipNoEndRecord, 64, "unknown zip result code", 23},
    {"CodeOfNoTableRowIsUnknown", 0x900, 64, "unknown zip result code", 23},
};

class MessageTest : public testing::TestWithParam<MessageCase> {};

TEST_P(MessageTest, FormatsAndMeasures) {
    const MessageCase& c = GetParam();
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    ZipLastResult = ZipWriteFailed;
    uint32_t n = ZipFormatMessage(c.code, c.bufferLength == 0 ? nullptr : buffer, c.bufferLength);
    EXPECT_EQ(c.returned, n);
    if (c.written == nullptr) {
        EXPECT_EQ('#', buffer[0]);
    } else {
        EXPECT_STREQ(c.written, buffer);
    }
    EXPECT_EQ(ZipWriteFailed, ZipLastResult);
}

INSTANTIATE_TEST_SUITE_P(Codes, MessageTest, testing::ValuesIn(kMessageCases),
                         [](const testing::TestParamInfo<MessageCase>& info) {
                             return info.param.name;
                         });

TEST(MessageRecent, StandsForTheLastResult) {
    ZipEntry e;
    ZipGetEntry(nullptr, 0, &e);
    char buffer[64];
    EXPECT_EQ(24u, ZipFormatMessage(ZipRecent, buffer, sizeof buffer));
    EXPECT_STREQ("Caller: faulty arguments", buffer);
}

TEST(MessageLength, ZeroLengthWritesNothing) {
    char buffer[4] = "abc";
    EXPECT_EQ(7u, ZipFormatMessage(ZipOk, buffer, 0));
    EXPECT_STREQ("abc", buffer);
}

}  // namespace
