// The window's decisions without a window: bar width, speed sample, speed line, font.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Skin.h"

namespace {

TEST(BarWidth, WholePercentStepsWithinTheBitmap) {
    struct Case {
        const char* fault;
        DWORD progress, progressMax;
        int width;
    } cases[] = {
        {"bytes before the first report of a size: no division by 0", 5000, 0, 0},
        {"1 % is 3 pixels", 1000, 100000, 3},
        {"half", 50000, 100000, 163},
        {"99.9 % truncates to 99 %, not rounds, not exact pixels", 999, 1000, 322},
        {"percent from doubles, not a 32-bit product", 0xFFFFFFFE, 0xFFFFFFFF, 322},
        {"exactly complete", 100000, 100000, 326},
        {"far past: clamped before the percent is made an int", 0xFFFFFFFF, 1, 326},
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
        {"only bytes since the base, scaled to a second", 13000, 10000, 300, 10000},
        {"division truncates", 1, 0, 3, 333},
        {"product above 32 bits", 0x10000000, 0, 1000, 0x10000000},
        {"rate above 32 bits saturates instead of wrapping", 0xFFFFFFFF, 0, 1, 0xFFFFFFFF},
        {"new file below the last sample shows 0, not gigabytes", 100, 50000, 300, 0},
        {"no time elapsed: no division by 0", 5000, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(c.rate, SpeedRate(c.progress, c.base, c.elapsed));
    }
}

TEST(SpeedClock, MeasuresFromTheLastSampleAcrossTheWrap) {
    EXPECT_EQ(0u, SpeedClock().LastTick()) << "the first sample measures from tick 0";
    struct Case {
        const char* fault;
        DWORD last, now, progress;
        bool sampled;
        DWORD rate;
    } cases[] = {
        {"ordinary 4 s", 1, 4001, 8000, true, 2000},
        {"tick counter wrapped between samples", 0xFFFFFF00, 0x100, 512, true, 1000},
        {"same tick: no sample, no division by zero", 5000, 5000, 3000, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        SpeedClock clock;
        DWORD rate = 0xDEADBEEF;
        ASSERT_TRUE(clock.Sample(c.last, 0, 0, &rate));
        rate = 0xDEADBEEF;
        EXPECT_EQ(c.sampled, clock.Sample(c.now, c.progress, 0, &rate));
        EXPECT_EQ(c.sampled ? c.rate : 0xDEADBEEFu, rate);
        EXPECT_EQ(c.sampled ? c.now : c.last, clock.LastTick()) << "only a sample moves the clock";
    }
}

TEST(FormatSpeedLine, PrefixSizeTextSuffixInCodePage936) {
    // "下载速度: " and "/秒" as code page 936 bytes, independent of how this file is compiled.
    const std::string prefix = "\xCF\xC2\xD4\xD8\xCB\xD9\xB6\xC8: ", suffix = "/\xC3\xEB";
    // The size between them is the system's own text: a number and a unit.
    struct Case {
        DWORD rate;
        const char* size;
    } cases[] = {{0, "0"}, {10000, "9.76 KB"}, {0xFFFFFFFFu, "3.99 GB"}};  // the last fits 31
    for (const auto& c : cases) {
        char line[kSpeedLineSize];
        std::memset(line, 'Z', sizeof line);
        FormatSpeedLine(c.rate, line);
        const std::string text(line);
        EXPECT_EQ(prefix, text.substr(0, prefix.size())) << c.rate;
        EXPECT_EQ(suffix, text.substr(text.size() - suffix.size())) << c.rate;
        EXPECT_NE(std::string::npos, text.find(c.size, prefix.size())) << text;
        for (size_t i = text.size(); i < sizeof line; ++i) EXPECT_EQ('\0', line[i]);
    }
}

TEST(FormatRetryLine, WholeSecondsLeftRoundedUp) {
    const std::string suffix = "\xC3\xEB\xBA\xF3\xD6\xD8\xCA\xD4";  // "秒后重试"
    struct Case {
        DWORD retryAt, now;
        const char* seconds;
    } cases[] = {{6000, 5000, "1"}, {6001, 5000, "2"},        {5000, 5000, "0"},
                 {4000, 5000, "0"}, {0x100, 0xFFFFFF00, "1"}, {35000, 5000, "30"}};
    for (const auto& c : cases) {
        char line[kSpeedLineSize];
        FormatRetryLine(c.retryAt, c.now, line);
        EXPECT_EQ(c.seconds + suffix, std::string(line)) << c.retryAt << " at " << c.now;
    }
}

// Also run under code page 1252, where the narrow call would garble the face name.
TEST(SkinFont, FaceNameArrivesAsWritten) {
    HFONT font = CreateSkinFont();
    LOGFONTW seen = {};
    ASSERT_EQ(static_cast<int>(sizeof seen), GetObjectW(font, sizeof seen, &seen));
    DeleteObject(font);
    EXPECT_EQ(std::wstring(L"\u5B8B\u4F53"), seen.lfFaceName);
    EXPECT_EQ(GB2312_CHARSET, seen.lfCharSet);
}

}  // namespace
