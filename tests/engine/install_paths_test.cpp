#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "InstallPaths.h"

namespace {

// The one name rule of the hand-over, the archive entries and mkhandover. Code page 936
// (the tests run with it): "\x81\x5C" and "\x95\x5C" end in "\", "\x81\x7C" in "|"; no
// trail byte lies below 0x40.
TEST(IsSafeRelativeName, RefusesEveryNameWindowsCouldReadAsAnother) {
    const auto expect = [](NameFault fault, std::initializer_list<const char*> names) {
        for (const char* name : names) {
            EXPECT_EQ(fault, WhyUnsafe(name)) << name;
            EXPECT_EQ(fault == NameFault::None, IsSafeRelativeName(name)) << name;
        }
    };
    const NameFault safe = NameFault::None;
    expect(safe, {"Game.exe", "data\\maps/a.map", "a/b/"});  // either separator, also last
    expect(safe, {"a..b\\..c\\.hidden"});                    // inner dots are no climb
    expect(safe, {"CONSOLE.txt\\COM10\\LPT\\nul1"});         // device look-alikes
    expect(safe, {"\x95\\x", "\x81\x7C.txt"});               // trail bytes "\" and "|"
    expect(NameFault::Rooted, {"", "\\Windows\\win.ini", "/etc/passwd"});
    expect(NameFault::DriveOrStream, {"C:\\boot.ini", "x.txt:ads"});
    expect(NameFault::DotsOrSpaces, {"..", "data/../../up.dll", "a/.. /b", "./a", "a/ /b"});
    expect(NameFault::TrailingDotOrSpace, {"readme.", "dir /x"});
    expect(NameFault::Device,
           {"CON", "data\\nUl.txt", "aux .log", "com9", "COM0.txt", "LPT1\\x", "CONIN$"});
    expect(NameFault::ReservedCharacter, {"a<b", "a>b", "a\"b", "a|b", "a?b", "*.txt", "a\tb"});
    expect(NameFault::BrokenDoubleByte, {"abc\x81", "\x81/x"});
    expect(NameFault::DotsOrSpaces, {"\x81\\\\..\\x"});  // a climb after a trail "\"
}

TEST(BuildItemPaths, RefusesWhatDoesNotFitOrEscapes) {
    struct Case {
        const char* fault;
        std::string dir, url, name;
        bool ok;
    } cases[] = {
        {"download path exactly 259", std::string(259 - 10 - 5, 'd'), "u", "a.zip", true},
        {"download path 260", std::string(260 - 10 - 5, 'd'), "u", "a.zip", false},
        {"URL exactly 259", "C:", std::string(259 - 7 - 5, 'u'), "a.zip", true},
        {"URL 260", "C:", std::string(260 - 7 - 5, 'u'), "a.zip", false},
        {"climbing name", "C:\\G", "u", "..\\a", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ItemPaths p;
        EXPECT_EQ(c.ok, BuildItemPaths(c.dir.c_str(), c.url.c_str(), c.name.c_str(), p));
    }
}

TEST(BuildEntryTarget, AddsOneSeparatorAndRefusesEscapes) {
    char out[kPathSize];
    ASSERT_TRUE(BuildEntryTarget("C:\\Game", "data/a.txt", out));
    EXPECT_STREQ("C:\\Game\\data/a.txt", out);
    ASSERT_TRUE(BuildEntryTarget("C:\\", "a.txt", out));
    EXPECT_STREQ("C:\\a.txt", out);
    EXPECT_FALSE(BuildEntryTarget("C:\\Game", "../evil.dll", out));
    EXPECT_FALSE(BuildEntryTarget("C:\\Game", std::string(300, 'n').c_str(), out));
}

TEST(NameRules, ArchiveAndUpdaterNamesAreCaseSensitive) {
    struct Case {
        const char* name;
        bool zip, updater;
    } cases[] = {
        {"a.zip", true, false},       {"a.ZIP", false, false},         {".zip", true, false},
        {"zip", false, false},        {"a.zipx", false, false},        {"Update.exe", false, true},
        {"update.exe", false, false}, {"x\\Update.exe", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.zip, IsZipName(c.name)) << c.name;
        EXPECT_EQ(c.updater, IsUpdaterName(c.name)) << c.name;
    }
}

TEST(InstallFolderOf, CutsAtTheLastRealSeparator) {
    struct Case {
        const char* module;
        const char* folder;
        const char* name;
    } cases[] = {
        {"C:\\Games\\Lobby\\Update.exe", "C:\\Games\\Lobby", "Update.exe"},
        {"Update.exe", "", "Update.exe"},
        {"\\Update.exe", "", "Update.exe"},
        {"release/a.zip", "release", "a.zip"},
        // "\x81\\" is one double-byte character: the folder ends before "\\Update.exe".
        {"C:\\\x81\\x\\Update.exe", "C:\\\x81\\x", "Update.exe"},
        {"C:\\a\x81\\Update.exe", "C:", "a\x81\\Update.exe"},
    };
    for (const auto& c : cases) {
        char out[kPathSize];
        InstallFolderOf(c.module, out);
        EXPECT_STREQ(c.folder, out) << c.module;
        EXPECT_STREQ(c.name, FileNamePart(c.module)) << c.module;
    }
}

}  // namespace
