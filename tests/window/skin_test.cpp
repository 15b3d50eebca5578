// The window's decisions without a window: bar width, speed sample, speed line, and the
// artwork as it arrives in the program's resources.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "Scoped.h"
#include "Skin.h"
#include "resource.h"

namespace {

TEST(BarWidth, WholePercentStepsWithinTheBitmap) {
    struct Case {
        const char* fault;
        DWORD progress, progressMax;
        int width;
    } cases[] = {
        {"no report yet draws an empty bar", 0, 0, 0},
        {"bytes before the first report of a size", 5000, 0, 0},
        {"nothing received", 0, 100000, 0},
        {"1 % is 3 pixels", 1000, 100000, 3},
        {"half", 50000, 100000, 163},
        {"99 %", 99000, 100000, 322},
        {"99.9 % truncates to 99 %, not rounds to 100", 999, 1000, 322},
        {"just below 100 % of the largest size", 0xFFFFFFFE, 0xFFFFFFFF, 322},
        {"exactly complete", 100000, 100000, 326},
        {"complete at the largest size", 0xFFFFFFFF, 0xFFFFFFFF, 326},
        {"past the substitute size stays full, never wider", 150000, 100000, 326},
        {"far past: the percent would overflow an int", 0xFFFFFFFF, 1, 326},
        {"percent from doubles, not 32-bit products", 0x50000000, 0xA0000000, 163},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(c.width, BarWidth(c.progress, c.progressMax));
    }
}

TEST(SpeedRate, BytesPerSecondWithoutOverflow) {
    struct Case {
        const char* fault;
        DWORD progress, base, elapsed;
        DWORD rate;
    } cases[] = {
        {"300 ms scaled to a second", 3000, 0, 300, 10000},
        {"only bytes since the base count", 13000, 10000, 300, 10000},
        {"division truncates", 1, 0, 3, 333},
        {"product above 32 bits", 0x10000000, 0, 1000, 0x10000000},
        {"4 GB received within a second", 0xFFFFFFFF, 0, 1000, 0xFFFFFFFF},
        {"rate above 32 bits saturates instead of wrapping", 0xFFFFFFFF, 0, 1, 0xFFFFFFFF},
        {"new file below the last sample shows 0, not gigabytes", 100, 50000, 300, 0},
        {"no time elapsed", 5000, 0, 0, 0},
        {"no progress", 7000, 7000, 300, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(c.rate, SpeedRate(c.progress, c.base, c.elapsed));
    }
}

DWORD g_now = 0;
DWORD TestTick() { return g_now; }

class SpeedSampleTest : public ::testing::Test {
protected:
    void SetUp() override { SetTickSource(TestTick); }
    void TearDown() override {
        SetTickSource(nullptr);
        SetLastSampleTick(0);
    }
};

TEST_F(SpeedSampleTest, MeasuresFromTheLastSampleAcrossTheWrap) {
    struct Case {
        const char* fault;
        DWORD last, now, progress, base;
        bool sampled;
        DWORD rate;
    } cases[] = {
        {"first sample of the process measures from tick 0", 0, 4000, 8000, 0, true, 2000},
        {"ordinary 300 ms", 1000, 1300, 3000, 0, true, 10000},
        {"tick counter wrapped between samples", 0xFFFFFF00, 0x100, 512, 0, true, 1000},
        {"same tick: no sample, no division by zero", 5000, 5000, 3000, 0, false, 0},
        {"new file below the base", 1000, 1300, 10, 40000, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        SetLastSampleTick(c.last);
        g_now = c.now;
        DWORD rate = 0xDEADBEEF;
        EXPECT_EQ(c.sampled, SampleSpeed(c.progress, c.base, &rate));
        if (c.sampled) {
            EXPECT_EQ(c.rate, rate);
            EXPECT_EQ(c.now, LastSampleTick()) << "the sample moves the clock";
        } else {
            EXPECT_EQ(0xDEADBEEFu, rate);
            EXPECT_EQ(c.last, LastSampleTick()) << "a skipped pass leaves the clock alone";
        }
    }
}

TEST(SpeedSource, DefaultsToTheSystemTick) {
    SetTickSource(nullptr);
    const DWORD before = GetTickCount();
    const DWORD tick = SkinTickCount();
    const DWORD after = GetTickCount();
    EXPECT_LE(tick - before, after - before);
}

TEST(FormatSpeedLine, PrefixSizeTextSuffixInCodePage936) {
    // "下载速度: " and "/秒" as code page 936 bytes, independent of how this file is compiled.
    const std::string prefix = "\xCF\xC2\xD4\xD8\xCB\xD9\xB6\xC8: ";
    const std::string suffix = "/\xC3\xEB";
    struct Case {
        const char* fault;
        DWORD rate;
    } cases[] = {
        {"zero rate", 0},
        {"bytes", 999},
        {"kilobytes", 10000},
        {"largest rate still fits 31 bytes", 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        char size[32] = {};
        ASSERT_NE(nullptr, StrFormatByteSizeA(c.rate, size, sizeof size));
        char line[kSpeedLineSize];
        std::memset(line, 'Z', sizeof line);
        FormatSpeedLine(c.rate, line);
        EXPECT_EQ(prefix + size + suffix, std::string(line));
        for (size_t i = std::strlen(line); i < sizeof line; ++i) EXPECT_EQ('\0', line[i]);
    }
}

// --- the artwork in the resources ---------------------------------------------------------

TEST(Artwork, BitmapsHaveTheirSizeAndDepth) {
    struct Case {
        const char* fault;
        UINT id;
        int width, height;
    } cases[] = {
        {"background", IDB_BACKGROUND, kSkinWidth, kSkinHeight},
        {"bar", IDB_BAR, kBarWidth, kBarHeight},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ScopedGdiObj<HBITMAP> bitmap(
            static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(c.id),
                                            IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        ASSERT_TRUE(bitmap.IsValid());
        DIBSECTION dib = {};
        ASSERT_EQ(static_cast<int>(sizeof dib), GetObjectA(bitmap, sizeof dib, &dib));
        EXPECT_EQ(c.width, dib.dsBm.bmWidth);
        EXPECT_EQ(c.height, dib.dsBm.bmHeight);
        EXPECT_EQ(24, dib.dsBmih.biBitCount);
    }
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE bWidth, bHeight, bColorCount, bReserved;
    WORD wPlanes, wBitCount;
    DWORD dwBytesInRes;
    WORD nId;
};
#pragma pack(pop)

TEST(Artwork, IconGroupHoldsNineImages) {
    const HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceExA(self, MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */,
                                  MAKEINTRESOURCEA(IDR_MAINFRAME),
                                  MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    ASSERT_NE(nullptr, found) << "icon group 128 in language 2052";
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(self, found)));
    ASSERT_NE(nullptr, data);
    WORD header[3];
    std::memcpy(header, data, sizeof header);
    ASSERT_EQ(1, header[1]) << "an icon group";
    ASSERT_EQ(9, header[2]);

    std::set<std::pair<int, int>> images;
    for (int i = 0; i < header[2]; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, data + 6 + i * sizeof entry, sizeof entry);
        const int size = entry.bWidth == 0 ? 256 : entry.bWidth;
        images.insert({size, entry.wBitCount});
        SCOPED_TRACE(testing::Message() << size << " px, " << entry.wBitCount << " bpp");
        HRSRC image = FindResourceA(self, MAKEINTRESOURCEA(entry.nId), MAKEINTRESOURCEA(3));
        ASSERT_NE(nullptr, image);
        HICON icon =
            CreateIconFromResourceEx(static_cast<BYTE*>(LockResource(LoadResource(self, image))),
                                     SizeofResource(self, image), TRUE, 0x00030000, size, size, 0);
        ASSERT_NE(nullptr, icon) << "each image is a usable icon";
        DestroyIcon(icon);
    }
    const std::set<std::pair<int, int>> expected = {{48, 4},  {48, 8}, {48, 24}, {32, 4}, {32, 8},
                                                    {32, 24}, {16, 4}, {16, 8},  {16, 24}};
    EXPECT_EQ(expected, images);
}

}  // namespace
