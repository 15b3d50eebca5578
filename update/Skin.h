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

// The tick source of the speed samples: returns milliseconds, as GetTickCount does.
using TickSource = DWORD (*)();
// Replaces the tick source; null restores GetTickCount. For tests.
void SetTickSource(TickSource source);
// The current tick of the tick source.
DWORD SkinTickCount();

// Takes a speed sample at the current tick. FALSE, with nothing changed, when the tick is
// that of the last sample (the pass then draws nothing). Otherwise *rate receives
// SpeedRate(progress, speedBase, ticks since the last sample) and the current tick becomes
// the last sample's; the unsigned difference stays right across the wrap of the counter.
// The process starts with the last sample at tick 0. For the main thread only.
bool SampleSpeed(DWORD progress, DWORD speedBase, DWORD* rate);
// The tick of the last sample, and a way to set it (tests start from a known clock).
DWORD LastSampleTick();
void SetLastSampleTick(DWORD tick);
