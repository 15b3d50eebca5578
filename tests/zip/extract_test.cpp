// Writing entries out: to paths (folders, replacement, attributes, times, failures that
// must leave the target alone), into handles, and piecewise into memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "Zip.h"
#include "ZipInternal.h"
#include "ZipTestSupport.h"

namespace {

const std::string kText =
    "Entry text that is written out, repeated. Entry text that is written out.";
constexpr int32_t kCreation = 1500000000;

// The scene of one extraction: root holds the archive and the base folder, which is the
// current folder while the archive is opened and written out.
struct Scene {
    ScratchFolder root;
    std::string base = root / "base";
    Scene() { CreateDirectoryA(base.c_str(), nullptr); }
    std::string InBase(const std::string& name) const { return base + "\\" + name; }
};

using Patch = std::function<void(Bytes&, const Layout&)>;
using SceneStep = std::function<void(const Scene&)>;
using TargetOf = std::function<std::string(const Scene&)>;

void NoPatch(Bytes&, const Layout&) {}
void NoSetup(const Scene&) {}

TargetOf Relative(const std::string& target) {
    return [target](const Scene&) { return target; };
}
TargetOf UnderRoot(const std::string& name) {
    return [name](const Scene& s) { return s.root / name; };
}

void MakeFile(const std::string& path, const std::string& text, DWORD attributes) {
    ASSERT_TRUE(WriteBytes(path, Bytes(text.begin(), text.end())));
    SetFileAttributesA(path.c_str(), attributes);
}

// Names left in a folder other than those expected: a temporary file left behind shows.
void ExpectOnly(const std::string& folder, std::vector<std::string> expected) {
    std::vector<std::string> found = ListFolder(folder);
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, found) << "in " << folder;
}

EntrySpec Dos(const std::string& name, uint32_t external, const std::string& data = kText) {
    EntrySpec e(name, data);
    e.external = external;
    return e;
}

EntrySpec Writable(const std::string& name) {
    EntrySpec e(name, kText);
    e.madeBy = kMadeByUnix;
    e.external = kUnixFile644;
    return e;
}

void BreakCrc(Bytes& a, const Layout& l) {
    Put32(a, l.local[0] + kLocalCrc, Get32(a, l.local[0] + kLocalCrc) ^ 1);
    Put32(a, l.central[0] + kCentralCrc, Get32(a, l.central[0] + kCentralCrc) ^ 1);
}

// A first byte of 0xFF starts a deflate block of the reserved type 3.
void BreakDeflate(Bytes& a, const Layout& l) { a.at(DataOffset(a, l, 0)) = 0xFF; }

// The directory promises five bytes more than the stored data holds.
void PromiseMore(Bytes& a, const Layout& l) {
    Put32(a, l.local[0] + kLocalUncompressed, Get32(a, l.local[0] + kLocalUncompressed) + 5);
    Put32(a, l.central[0] + kCentralUncompressed,
          Get32(a, l.central[0] + kCentralUncompressed) + 5);
}

struct PathCase {
    const char* name;
    std::vector<EntrySpec> entries;
    Patch patch;
    SceneStep setup;
    TargetOf target;
    ZipResult expected;
    SceneStep check;
};

const PathCase kPathCases[] = {
    {"FolderEntryMakesBaseFolderPlusItsName",
     {Dos("made/deeper/", 0x10, "")},
     NoPatch,
     NoSetup,
     Relative("ignored.txt"),
     ZipOk,
     [](const Scene& s) {
         EXPECT_TRUE(IsFolder(s.InBase("made\\deeper")));
         ExpectOnly(s.base, {"made"});
     }},
    {"RelativeTargetGetsItsFolderBelowTheBase",
     {Writable("x.txt")},
     NoPatch,
     NoSetup,
     Relative("sub\\file.txt"),
     ZipOk,
     [](const Scene& s) { EXPECT_EQ(kText, ReadText(s.InBase("sub\\file.txt"))); }},
    {"TargetWithoutFolderIsWrittenInTheCurrentFolder",
     {Writable("x.txt")},
     NoPatch,
     NoSetup,
     Relative("plain.txt"),
     ZipOk,
     [](const Scene& s) { ExpectOnly(s.base, {"plain.txt"}); }},
    {"ClimbingTargetGetsNoFolderMade",
     {Writable("x.txt")},
     NoPatch,
     NoSetup,
     Relative("..\\made\\x.txt"),
     ZipOpenFailed,
     [](const Scene& s) {
         ExpectOnly(s.root.Path(), {"a.zip", "base"});
         ExpectOnly(s.base, {});
     }},
    {"ClimbingTargetIntoAnExistingFolderIsTheCallersChoice",
     {Writable("x.txt")},
     NoPatch,
     NoSetup,
     Relative("../up.txt"),
     ZipOk,
     [](const Scene& s) { EXPECT_EQ(kText, ReadText(s.root / "up.txt")); }},
    {"AbsoluteTargetInAMissingFolderFailsAndMakesNothing",
     {Writable("x.txt")},
     NoPatch,
     NoSetup,
     UnderRoot("missing\\x.txt"),
     ZipOpenFailed,
     [](const Scene& s) {
         ExpectOnly(s.root.Path(), {"a.zip", "base"});
         ExpectOnly(s.base, {});
     }},
    {"ReadOnlyTargetReplacedAndTheNewFileWritable",
     {Dos("x.txt", 0x01)},
     NoPatch,
     [](const Scene& s) { MakeFile(s.InBase("t.txt"), "old", FILE_ATTRIBUTE_READONLY); },
     Relative("t.txt"),
     ZipOk,
     [](const Scene& s) {
         EXPECT_EQ(kText, ReadText(s.InBase("t.txt")));
         EXPECT_EQ(0u, GetFileAttributesA(s.InBase("t.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
     }},
    {"HiddenTargetReplacedByAFileOfTheEntrysAttributes",
     {Writable("x.txt")},
     NoPatch,
     [](const Scene& s) { MakeFile(s.InBase("t.txt"), "old", FILE_ATTRIBUTE_HIDDEN); },
     Relative("t.txt"),
     ZipOk,
     [](const Scene& s) {
         EXPECT_EQ(kText, ReadText(s.InBase("t.txt")));
         DWORD a = GetFileAttributesA(s.InBase("t.txt").c_str());
         EXPECT_EQ(0u, a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY)) << std::hex << a;
     }},
    {"HiddenEntryWrittenHiddenButWritable",
     {Dos("x.txt", 0x03)},
     NoPatch,
     NoSetup,
     Relative("h.txt"),
     ZipOk,
     [](const Scene& s) {
         DWORD a = GetFileAttributesA(s.InBase("h.txt").c_str());
         EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN),
                   a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY))
             << std::hex << a;
     }},
    {"DosTimeIsLocalTime",
     {Writable("x.txt")},
     NoPatch,
     NoSetup,
     Relative("t.txt"),
     ZipOk,
     [](const Scene& s) {
         EXPECT_EQ(Ticks(FromDosLocal(kSampleDosTime)), Ticks(WriteTimeOf(s.InBase("t.txt"))));
     }},
    {"TimestampCreationTimeStampsTheFile",
     {[] {
         EntrySpec e = Writable("x.txt");
         e.localExtra = TimestampBlock(7, {1600000000, 1600000000, kCreation});
         return e;
     }()},
     NoPatch,
     NoSetup,
     Relative("t.txt"),
     ZipOk,
     [](const Scene& s) {
         FILETIME asLocal = FromUnixTime(kCreation), utc{};
         LocalFileTimeToFileTime(&asLocal, &utc);
         EXPECT_EQ(Ticks(utc), Ticks(WriteTimeOf(s.InBase("t.txt"))));
     }},
    {"TimestampWithoutCreationTimeLeavesTheDosTime",
     {[] {
         EntrySpec e = Writable("x.txt");
         e.localExtra = TimestampBlock(3, {1600000000, 1600000000});
         return e;
     }()},
     NoPatch,
     NoSetup,
     Relative("t.txt"),
     ZipOk,
     [](const Scene& s) {
         EXPECT_EQ(Ticks(FromDosLocal(kSampleDosTime)), Ticks(WriteTimeOf(s.InBase("t.txt"))));
     }},
    {"DataDescriptorEntryWrittenWhole",
     {Writable("x.txt")},
     [](Bytes& a, const Layout& l) {
         Put16(a, l.local[0] + kLocalFlags, 8);
         Put16(a, l.central[0] + kCentralFlags, 8);
         Put32(a, l.local[0] + kLocalCrc, 0);
         Put32(a, l.local[0] + kLocalCompressed, 0);
         Put32(a, l.local[0] + kLocalUncompressed, 0);
     },
     NoSetup,
     Relative("t.txt"),
     ZipOk,
     [](const Scene& s) { EXPECT_EQ(kText, ReadText(s.InBase("t.txt"))); }},
    {"InflateFailureIsWriteFailedAndTheOldTargetStays",
     {Writable("x.txt")},
     BreakDeflate,
     [](const Scene& s) { MakeFile(s.InBase("t.txt"), "old", FILE_ATTRIBUTE_READONLY); },
     Relative("t.txt"),
     ZipWriteFailed,
     [](const Scene& s) {
         EXPECT_EQ("old", ReadText(s.InBase("t.txt")));
         EXPECT_NE(0u, GetFileAttributesA(s.InBase("t.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
         ExpectOnly(s.base, {"t.txt"});
     }},
    {"CrcMismatchIsCorruptAndTheOldTargetStays",
     {Writable("x.txt")},
     BreakCrc,
     [](const Scene& s) { MakeFile(s.InBase("t.txt"), "old", FILE_ATTRIBUTE_HIDDEN); },
     Relative("t.txt"),
     ZipCorrupt,
     [](const Scene& s) {
         EXPECT_EQ("old", ReadText(s.InBase("t.txt")));
         EXPECT_NE(0u, GetFileAttributesA(s.InBase("t.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
         ExpectOnly(s.base, {"t.txt"});
     }},
    {"CrcMismatchLeavesNoFileWhereThereWasNone",
     {Writable("x.txt")},
     BreakCrc,
     NoSetup,
     Relative("t.txt"),
     ZipCorrupt,
     [](const Scene& s) { ExpectOnly(s.base, {}); }},
    {"DataShorterThanTheDirectorySaysIsCorrupt",
     {EntrySpec("x.txt", kText, 0)},
     PromiseMore,
     NoSetup,
     Relative("t.txt"),
     ZipCorrupt,
     [](const Scene& s) { ExpectOnly(s.base, {}); }},
    {"UnsupportedMethodWritesNothing",
     {EntrySpec("x.txt", kText, 0)},
     [](Bytes& a, const Layout& l) {
         Put16(a, l.local[0] + kLocalMethod, 12);
         Put16(a, l.central[0] + kCentralMethod, 12);
     },
     NoSetup,
     Relative("t.txt"),
     ZipCorrupt,
     [](const Scene& s) { ExpectOnly(s.base, {}); }},
    {"TargetOf260CharactersRefused",
     {Writable("x.txt")},
     NoPatch,
     NoSetup,
     Relative(std::string(260, 'L')),
     ZipOpenFailed,
     [](const Scene& s) { ExpectOnly(s.base, {}); }},
    {"FolderEntryTooLongForAPathMakesNothing",
     {Dos(std::string(220, 'f') + "/" + std::string(18, 'g') + "/", 0x10, "")},
     NoPatch,
     NoSetup,
     Relative("x"),
     ZipOpenFailed,
     [](const Scene& s) { ExpectOnly(s.base, {}); }},
};

class PathExtractTest : public testing::TestWithParam<PathCase> {};

TEST_P(PathExtractTest, WritesTheEntryOrLeavesTheTargetAlone) {
    const PathCase& c = GetParam();
    Scene scene;
    Bytes archive = BuildArchive(c.entries);
    c.patch(archive, ReadLayout(archive));
    ASSERT_TRUE(WriteBytes(scene.root / "a.zip", archive));
    c.setup(scene);
    CurrentFolder inBase(scene.base);
    ZipHandle* zip = ZipOpen((scene.root / "a.zip").c_str(), 0, ZipLocationFileName);
    ASSERT_NE(nullptr, zip);
    std::string target = c.target(scene);
    EXPECT_EQ(c.expected,
              ZipExtractEntry(zip, 0, const_cast<char*>(target.c_str()), 0, ZipLocationFileName));
    EXPECT_EQ(c.expected, ZipLastResult);
    ZipClose(zip);
    c.check(scene);
}

INSTANTIATE_TEST_SUITE_P(Targets, PathExtractTest, testing::ValuesIn(kPathCases),
                         [](const testing::TestParamInfo<PathCase>& info) {
                             return info.param.name;
                         });

// Folder entries whose names would reach outside the base folder.
const char* const kEscapingFolderNames[] = {
    "../escape/",  "..\\escape\\", "/rooted/", "\\rooted\\", "c:drive/",
    "a/../../up/", "ok/.. ./",     "ok/.../",  "a\\..",      "name:stream/",
};

class EscapingFolderTest : public testing::TestWithParam<const char*> {};

TEST_P(EscapingFolderTest, MakesNothingAndFails) {
    Scene scene;
    Bytes archive = BuildArchive({Dos(GetParam(), 0x10, "")});
    ASSERT_TRUE(WriteBytes(scene.root / "a.zip", archive));
    CurrentFolder inBase(scene.base);
    ZipHandle* zip = ZipOpen((scene.root / "a.zip").c_str(), 0, ZipLocationFileName);
    ASSERT_NE(nullptr, zip);
    EXPECT_EQ(ZipOpenFailed,
              ZipExtractEntry(zip, 0, const_cast<char*>("x"), 0, ZipLocationFileName));
    ZipClose(zip);
    ExpectOnly(scene.root.Path(), {"a.zip", "base"});
    ExpectOnly(scene.base, {});
    EXPECT_FALSE(Exists("C:\\rooted"));
    EXPECT_FALSE(Exists("C:\\drive"));
}

INSTANTIATE_TEST_SUITE_P(Names, EscapingFolderTest, testing::ValuesIn(kEscapingFolderNames));

// An archive of two entries, opened from memory, for the handle and memory forms.
class TwoEntries : public testing::Test {
protected:
    void Open(const Patch& patch = NoPatch) {
        m_archive = BuildArchive({Writable("first.txt"), EntrySpec("second.txt", kText + "!", 0),
                                  Dos("folder/", 0x10, "")});
        patch(m_archive, ReadLayout(m_archive));
        m_zip =
            ZipOpen(m_archive.data(), static_cast<uint32_t>(m_archive.size()), ZipLocationMemory);
        ASSERT_NE(nullptr, m_zip);
    }
    void TearDown() override {
        if (m_zip != nullptr) ZipClose(m_zip);
    }
    // The next part of entry index, as a string, with the call's result.
    std::string Part(int32_t index, uint32_t size, ZipResult* result) {
        std::string part(size, '\0');
        *result = ZipExtractEntry(m_zip, index, &part[0], size, ZipLocationMemory);
        return *result == ZipMoreData ? part : std::string();
    }
    Bytes m_archive;
    ZipHandle* m_zip = nullptr;
};

TEST_F(TwoEntries, MemoryFormDeliversInPartsThenOk) {
    Bytes archive = BuildArchive({EntrySpec("25.txt", "abcdefghijklmnopqrstuvwxy")});
    ZipHandle* zip =
        ZipOpen(archive.data(), static_cast<uint32_t>(archive.size()), ZipLocationMemory);
    ASSERT_NE(nullptr, zip);
    const char* expected[] = {"abcdefghij", "klmnopqrst", "uvwxy"};
    for (const char* part : expected) {
        char buffer[11] = {};
        ASSERT_EQ(ZipMoreData, ZipExtractEntry(zip, 0, buffer, 10, ZipLocationMemory));
        EXPECT_STREQ(part, buffer);
    }
    char untouched[10];
    std::memset(untouched, '#', sizeof untouched);
    EXPECT_EQ(ZipOk, ZipExtractEntry(zip, 0, untouched, 10, ZipLocationMemory));
    EXPECT_EQ('#', untouched[0]);
    ZipClose(zip);
}

// Operations that abandon a memory extraction in progress.
struct Interruption {
    const char* name;
    std::function<void(ZipHandle*)> interrupt;
};

const Interruption kInterruptions[] = {
    {"GetEntryOfTheSameIndex",
     [](ZipHandle* z) {
         ZipEntry e;
         ZipGetEntry(z, 0, &e);
     }},
    {"GetEntryCount",
     [](ZipHandle* z) {
         ZipEntry e;
         ZipGetEntry(z, -1, &e);
     }},
    {"FindEntry", [](ZipHandle* z) { ZipFindEntry(z, "second.txt", false, nullptr, nullptr); }},
    {"MemoryFormOfAnotherEntry",
     [](ZipHandle* z) {
         char b[4];
         ZipExtractEntry(z, 1, b, sizeof b, ZipLocationMemory);
     }},
    {"MemoryFormWithAnIndexOutOfRange",
     [](ZipHandle* z) {
         char b[4];
         EXPECT_EQ(ZipBadArguments, ZipExtractEntry(z, 9, b, sizeof b, ZipLocationMemory));
     }},
    {"ExtractionIntoAHandle",
     [](ZipHandle* z) {
         ScratchFolder folder;
         HANDLE out = CreateFileA((folder / "o").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  0, nullptr);
         EXPECT_EQ(ZipOk, ZipExtractEntry(z, 1, out, 0, ZipLocationHandle));
         CloseHandle(out);
     }},
};

class MemoryRestartTest : public TwoEntries, public testing::WithParamInterface<Interruption> {};

TEST_P(MemoryRestartTest, NextCallStartsFromTheFirstByte) {
    Open();
    ZipResult r;
    EXPECT_EQ(kText.substr(0, 10), Part(0, 10, &r));
    GetParam().interrupt(m_zip);
    EXPECT_EQ(kText.substr(0, 10), Part(0, 10, &r));
    EXPECT_EQ(ZipMoreData, r);
    EXPECT_EQ(kText.substr(10, 10), Part(0, 10, &r));
}

INSTANTIATE_TEST_SUITE_P(Operations, MemoryRestartTest, testing::ValuesIn(kInterruptions),
                         [](const testing::TestParamInfo<Interruption>& info) {
                             return info.param.name;
                         });

TEST_F(TwoEntries, MemoryFormInflateFailureIsInflateError) {
    Open(BreakDeflate);
    ZipResult r;
    Part(0, 10, &r);
    EXPECT_EQ(ZipInflateError, r);
    Part(0, 10, &r);
    EXPECT_EQ(ZipInflateError, r) << "the failed entry was left open";
}

TEST_F(TwoEntries, MemoryFormCrcMismatchIsCorruptAtTheEnd) {
    Open(BreakCrc);
    ZipResult r;
    EXPECT_EQ(kText, Part(0, static_cast<uint32_t>(kText.size()), &r));
    EXPECT_EQ(ZipMoreData, r);
    Part(0, 10, &r);
    EXPECT_EQ(ZipCorrupt, r);
}

TEST_F(TwoEntries, MemoryFormShortDataIsCorrupt) {
    Open([](Bytes& a, const Layout& l) {
        Layout second = l;
        second.local.erase(second.local.begin());
        second.central.erase(second.central.begin());
        PromiseMore(a, second);
    });
    ZipResult r;
    std::string all = Part(1, 1000, &r);
    EXPECT_EQ(kText + "!", all.substr(0, kText.size() + 1));
    Part(1, 1000, &r);
    EXPECT_EQ(ZipCorrupt, r);
}

TEST_F(TwoEntries, MemoryFormRefusesNoBufferAndAnEmptyOne) {
    Open();
    char b[4];
    EXPECT_EQ(ZipBadArguments, ZipExtractEntry(m_zip, 0, nullptr, 4, ZipLocationMemory));
    EXPECT_EQ(ZipBadArguments, ZipExtractEntry(m_zip, 0, b, 0, ZipLocationMemory));
    EXPECT_EQ(ZipBadArguments, ZipExtractEntry(m_zip, 0, b, 4, 0));
    EXPECT_EQ(ZipBadArguments, ZipExtractEntry(m_zip, 2, nullptr, 0, ZipLocationFileName));
}

TEST_F(TwoEntries, DiskHandleGetsTheDataAndTheTimesAndStaysOpen) {
    Open();
    ScratchFolder folder;
    std::string path = folder / "out.bin";
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, out);
    EXPECT_EQ(ZipOk, ZipExtractEntry(m_zip, 0, out, 0, ZipLocationHandle));
    EXPECT_EQ(ZipOk, ZipExtractEntry(m_zip, 2, out, 0, ZipLocationHandle));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(out, "+", 1, &written, nullptr));
    CloseHandle(out);
    EXPECT_EQ(kText + "+", ReadText(path));
}

TEST_F(TwoEntries, DiskHandleGetsTheEntrysTime) {
    Open();
    ScratchFolder folder;
    std::string path = folder / "out.bin";
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_EQ(ZipOk, ZipExtractEntry(m_zip, 1, out, 0, ZipLocationHandle));
    CloseHandle(out);
    EXPECT_EQ(Ticks(FromDosLocal(kSampleDosTime)), Ticks(WriteTimeOf(path)));
}

TEST_F(TwoEntries, PipeGetsTheDataOnly) {
    Open();
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 65536));
    EXPECT_EQ(ZipOk, ZipExtractEntry(m_zip, 1, writeEnd, 0, ZipLocationHandle));
    CloseHandle(writeEnd);
    std::string got(kText.size() + 10, '\0');
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(readEnd, &got[0], static_cast<DWORD>(got.size()), &read, nullptr));
    got.resize(read);
    EXPECT_EQ(kText + "!", got);
    CloseHandle(readEnd);
}

TEST_F(TwoEntries, HandleFormCrcMismatchIsCorrupt) {
    Open(BreakCrc);
    ScratchFolder folder;
    HANDLE out =
        CreateFileA((folder / "o").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(ZipCorrupt, ZipExtractEntry(m_zip, 0, out, 0, ZipLocationHandle));
    CloseHandle(out);
}

struct RelativePathCase {
    const char* path;
    bool safe;
};

const RelativePathCase kRelativePaths[] = {
    {"a", true},         {"a/b/c/", true},   {"a\\b", true},     {".hidden/x", true},
    {"./a", true},       {"a..b/c", true},   {"..a/b", true},    {"", false},
    {"/a", false},       {"\\a", false},     {"c:a", false},     {"a/b:c", false},
    {"..", false},       {"../a", false},    {"a/..", false},    {"a\\..\\b", false},
    {"a/. ./b", false},  {"a/.../b", false}, {"a/.. /b", false}, {"\x95\\x/..", false},
    {"\x95\\/ok", true},
};

class RelativePathTest : public testing::TestWithParam<RelativePathCase> {};

TEST_P(RelativePathTest, StaysInsideItsBase) {
    EXPECT_EQ(GetParam().safe, IsSafeRelativePath(GetParam().path)) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Paths, RelativePathTest, testing::ValuesIn(kRelativePaths));

TEST(Separators, TrailByteThatLooksLikeABackslashIsNoSeparator) {
    EXPECT_EQ(-1, LastSeparator("\x95\\"));
    EXPECT_EQ(2, LastSeparator("\x95\\/x"));
    EXPECT_EQ(3, LastSeparator("a/b\\c"));
    EXPECT_EQ(-1, LastSeparator("abc"));
}

TEST(EnsureDirectoryTest, MakesEveryFolderOfANestedPath) {
    ScratchFolder root;
    std::string base = root.Path() + "\\";
    EXPECT_TRUE(EnsureDirectory(base.c_str(), "one/two\\three/"));
    EXPECT_TRUE(IsFolder(root / "one\\two\\three"));
    EXPECT_TRUE(EnsureDirectory(base.c_str(), "one/two")) << "an existing folder is no failure";
}

TEST(EnsureDirectoryTest, RefusesWhatItCannotMakeInsideTheBase) {
    ScratchFolder root;
    std::string base = root.Path() + "\\";
    EXPECT_FALSE(EnsureDirectory(base.c_str(), nullptr));
    EXPECT_FALSE(EnsureDirectory(base.c_str(), ""));
    EXPECT_FALSE(EnsureDirectory("", "a"));
    EXPECT_FALSE(EnsureDirectory(base.c_str(), "inside/../../outside"));
    std::string tooLong =
        std::string(10, 'x') + "/" + std::string(MAX_PATH - base.size() - 11, 'y');
    EXPECT_FALSE(EnsureDirectory(base.c_str(), tooLong.c_str()));
    ExpectOnly(root.Path(), {});
}

}  // namespace
