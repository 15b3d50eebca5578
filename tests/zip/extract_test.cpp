// Writing entries out to paths: folders, replacement, attributes, times, and failures that
// must leave the target alone.
#include <gtest/gtest.h>

#include "ZipInternal.h"
#include "ZipTestSupport.h"

namespace {

const std::string kText =
    "Entry text that is written out, repeated. Entry text that is written out.";
constexpr DWORD kHidden = FILE_ATTRIBUTE_HIDDEN, kReadOnly = FILE_ATTRIBUTE_READONLY;

EntrySpec New() { return Unix(EntrySpec("x.txt", "new")); }
EntrySpec Folder(const std::string& name) { return Dos(EntrySpec(name, ""), 0x10); }

// root holds a.zip and the folder base, which is current while the archive is opened and
// written out. With old set, base\t.txt holds "old" with those attributes first.
struct Scene {
    ScratchFolder root;
    std::string base = root / "base";
    Scene(const Bytes& archive, DWORD old, const std::string& name = "t.txt") {
        CreateDirectoryA(base.c_str(), nullptr);
        EXPECT_TRUE(WriteBytes(root / "a.zip", archive));
        if (old == 0) return;
        EXPECT_TRUE(WriteBytes(base + "\\" + name, Bytes{'o', 'l', 'd'}));
        SetFileAttributesA((base + "\\" + name).c_str(), old);
    }
    // target is relative to the base, or an absolute path below root when "*" comes first.
    std::string Path(const std::string& target) const {
        return target[0] == '*' ? root / target.substr(1) : base + "\\" + target;
    }
    ZipResult Extract(const std::string& target) const {
        char saved[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, saved);
        SetCurrentDirectoryA(base.c_str());
        ZipHandle* zip = ZipOpen((root / "a.zip").c_str(), 0, ZipLocationFileName);
        EXPECT_NE(nullptr, zip);
        std::string where = target[0] == '*' ? Path(target) : target;
        ZipResult r = ZipExtractEntry(zip, 0, &where[0], 0, ZipLocationFileName);
        EXPECT_EQ(r, ZipLastResult);
        ZipClose(zip);
        SetCurrentDirectoryA(saved);
        return r;
    }
};

// A file's text, "|", then H and R for its hidden and read-only bits; "" for no file.
std::string Content(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || IsFolderAttributes(a)) return "";
    return ReadText(path) + "|" + ((a & kHidden) ? "H" : "") + ((a & kReadOnly) ? "R" : "");
}

struct PathCase {
    const char* name;
    EntrySpec entry;
    DWORD old;
    std::string target;
    ZipResult expected;
    const char* tree;     // of root afterwards
    const char* content;  // of the target afterwards, as Content gives it
};

void ExtractCase(const PathCase& c) {
    SCOPED_TRACE(c.name);
    Scene scene(BuildArchive({c.entry}), c.old);
    EXPECT_EQ(c.expected, scene.Extract(c.target));
    EXPECT_EQ(c.tree, Tree(scene.root.Path())) << "a temporary file left or a folder made";
    EXPECT_EQ(c.content, Content(scene.Path(c.target)));
}

const PathCase kPathCases[] = {
    {"FolderEntryMakesBaseFolderPlusItsName", Folder("made/deeper/"), 0, "ignored.txt", ZipOk,
     "a.zip base base\\made base\\made\\deeper", ""},
    {"RelativeTargetGetsItsFolderBelowTheBase", New(), 0, "sub\\t.txt", ZipOk,
     "a.zip base base\\sub base\\sub\\t.txt", "new|"},
    {"ClimbingTargetGetsNoFolderMade", New(), 0, "..\\made\\t.txt", ZipOpenFailed, "a.zip base",
     ""},
    {"ClimbingTargetIntoAnExistingFolderIsTheCallersChoice", New(), 0, "../t.txt", ZipOk,
     "a.zip base t.txt", "new|"},
    {"AbsoluteTargetInAMissingFolderGetsNoFolderMade", New(), 0, "*missing\\t.txt", ZipOpenFailed,
     "a.zip base", ""},
    {"ReadOnlyTargetReplacedAndHiddenEntryWrittenWritable", Dos(New(), 0x03), kReadOnly, "t.txt",
     ZipOk, "a.zip base base\\t.txt", "new|H"},
    {"HiddenTargetReplacedByAFileOfTheEntrysAttributes", New(), kHidden, "t.txt", ZipOk,
     "a.zip base base\\t.txt", "new|"},
    // In two parts: a part of 260 characters no file system takes anyway.
    {"TargetOf260CharactersRefused", New(), 0, std::string(130, 'L') + "\\" + std::string(129, 'L'),
     ZipOpenFailed, "a.zip base", ""},
    {"FolderEntryTooLongForAPathMakesNothing",
     Folder(std::string(220, 'f') + "/" + std::string(18, 'g') + "/"), 0, "x", ZipOpenFailed,
     "a.zip base", ""},
};

TEST(ExtractToPath, WritesTheEntryOrLeavesTheTargetAlone) {
    for (const PathCase& c : kPathCases) ExtractCase(c);
}

// Folder entries go below the base the caller sets, wherever the current folder is.
TEST(ExtractToPath, FolderEntriesFollowTheBaseTheCallerSets) {
    Scene scene(BuildArchive({Folder("made/")}), 0);
    ZipHandle* zip = ZipOpen((scene.root / "a.zip").c_str(), 0, ZipLocationFileName);
    ASSERT_EQ(ZipOk, ZipSetBaseFolder(zip, scene.base.c_str()));
    char unused[] = "x";
    EXPECT_EQ(ZipOk, ZipExtractEntry(zip, 0, unused, 0, ZipLocationFileName));
    ZipClose(zip);
    EXPECT_EQ("a.zip base base\\made", Tree(scene.root.Path()));
}

TEST(ExtractToPath, FolderEntriesThatWouldLeaveTheBaseMakeNothing) {
    for (const char* name : {"../escape/", "..\\escape\\", "/rooted/", "\\rooted\\", "c:drive/",
                             "a/../../up/", "ok/.. ./", "ok/.../", "a\\..", "name:stream/"}) {
        ExtractCase({name, Folder(name), 0, "x", ZipOpenFailed, "a.zip base", ""});
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\rooted"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\drive"));
}

// The same entry data, good or damaged. The updater extracts only to paths; the handle and
// memory forms are the fuzz test's.
struct DataCase {
    const char* name;
    EntrySpec entry;
    Patch patch;
    ZipResult toPath;
    const char* target = "t.txt";
};

const DataCase kDataCases[] = {
    {"PlainEntryWithItsDosTime", New(), nullptr, ZipOk},
    // The file's times come from the entry's creationTime, not its write time.
    {"TimestampCreationTimeStampsTheFile",
     Extra(New(), TimestampBlock(7, {1600000000, 1600000000, 1500000000})), nullptr, ZipOk},
    {"DataDescriptorEntryWrittenWhole", New(), UseDataDescriptor(), ZipOk},
    {"InflateFailure", New(), BreakDeflate(), ZipCorrupt},
    {"CrcMismatch", New(), FlipCrc(), ZipCorrupt},
    {"DataShorterThanTheDirectorySays", EntrySpec("x.txt", kText, 0), PromiseMore(), ZipCorrupt},
    // An entry may be named as the layer names its temporary files.
    {"TargetNamedLikeATemporaryFile", EntrySpec("x.txt", kText, 0), PromiseMore(), ZipCorrupt,
     "~zp00000000.tmp"},
};

// Written files get the entry's creationTime, read as local time, as all three times.
TEST(ExtractToPath, WritesGoodDataAndNeverPassesDamagedDataOff) {
    for (const DataCase& c : kDataCases) {
        SCOPED_TRACE(c.name);
        Bytes archive = BuildPatched({c.entry, Folder("f/")}, c.patch);
        const bool ok = c.toPath == ZipOk;
        ZipHandle* zip = OpenInMemory(archive);
        ASSERT_NE(nullptr, zip);
        ZipEntry record{};
        ZipGetEntry(zip, 0, &record);
        const uint64_t time = Ticks(LocalToUtc(record.creationTime));
        // An existing target must survive a failure whole, bits included; no file may
        // appear where there was none.
        const std::string target = c.target;
        for (DWORD old : {DWORD{0}, kHidden | kReadOnly}) {
            Scene scene(archive, old, c.target);
            EXPECT_EQ(c.toPath, scene.Extract(c.target));
            EXPECT_EQ(ok || old != 0 ? "a.zip base base\\" + target : "a.zip base",
                      Tree(scene.root.Path()));
            EXPECT_EQ(ok         ? c.entry.data + "|"
                      : old != 0 ? "old|HR"
                                 : "",
                      Content(scene.base + "\\" + target));
            EXPECT_TRUE(!ok || time == Ticks(WriteTimeOf(scene.base + "\\" + target)));
        }
        ZipClose(zip);
    }
}

}  // namespace
