// What the update window's paint pass decides, apart from any window: where things stand,
// how much of the bar is filled, the speed one sample shows and the clock samples are taken
// on. Every function here can be called without a window.
#pragma once

#include <windows.h>

// The window and its two bitmaps, in device pixels.
constexpr int kSkinWidth = 361;
constexpr int kSkinHeight = 57;
constexpr int kBarWidth = 326;
constexpr int kBarHeight = 8;
// Where the bar and the two text lines (top-left corners) are drawn.
constexpr int kBarLeft = 17;
constexpr int kBarTop = 37;
constexpr int kStatusLeft = 17;
constexpr int kStatusTop = 10;
constexpr int kSpeedLeft = 220;
constexpr int kSpeedTop = 10;
constexpr COLORREF kTextColour = RGB(255, 255, 255);
// The timer that redraws the window, and its period.
constexpr UINT_PTR kRedrawTimer = 100;
constexpr UINT kRedrawPeriodMs = 300;

constexpr size_t kSpeedLineSize = 32;

// Pixels of the bar bitmap to draw for progress bytes of progressMax: the whole percent
// (truncated) times 326 / 100, so 1 % gives 3, 50 % 163, 99 % (and 99.9 %) 322. 0 while
// progressMax is 0 (no report yet); 326 from 100 % on, however far progress runs past
// progressMax, so the bitmap is never read beyond its width. Always 0 to 326.
int BarWidth(DWORD progress, DWORD progressMax);

// Bytes per second from speedBase to progress over elapsedMs milliseconds, truncated. 0
// when progress is below speedBase (a new file has started since the last sample) or
// elapsedMs is 0. The product is formed in 64 bits; a rate above 0xFFFFFFFF gives
// 0xFFFFFFFF.
DWORD SpeedRate(DWORD progress, DWORD speedBase, DWORD elapsedMs);

// The speed line "下载速度: %s/秒" (code page 936) with rate formatted by StrFormatByteSizeA:
// at most 31 bytes and a terminator, the rest of out zeroed. A text that would not fit is
// cut before the character that crosses byte 31, never inside a double-byte character of
// code page 936 (WholeKitCharacters), whatever the system's code page.
void FormatSpeedLine(DWORD rate, char (&out)[kSpeedLineSize]);

// The speed line while the run waits to try again at tick retryAt: "%u秒后重试" with the
// whole seconds left from tick now, rounded up (0 once it is due; the difference is taken
// across the wrap of the counter), cut as FormatSpeedLine cuts.
void FormatRetryLine(DWORD retryAt, DWORD now, char (&out)[kSpeedLineSize]);

// The window's font: 12 pixels, GB2312 character set, face "宋体" as the kit wrote it
// (not read through the system's code page). Null when it cannot be created; the caller
// deletes it.
HFONT CreateSkinFont();

// The clock of the speed samples: the tick of the last one, 0 to start with, so that the
// first sample of a window measures from tick 0. For the window's thread only.
class SpeedClock {
public:
    // Takes a sample at tick now. False, with nothing changed, when now is the last
    // sample's tick (the pass then draws nothing). Otherwise *rate receives
    // SpeedRate(progress, speedBase, ticks since the last sample), the unsigned difference
    // staying right across the wrap of the counter, and now becomes the last sample's tick.
    bool Sample(DWORD now, DWORD progress, DWORD speedBase, DWORD* rate);
    DWORD LastTick() const { return m_dwLastTick; }

private:
    DWORD m_dwLastTick = 0;
};
