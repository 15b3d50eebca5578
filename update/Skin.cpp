#include "Skin.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstring>

namespace {

TickSource g_tickSource = nullptr;
// Process-wide: there is one window per process, and only its thread samples.
DWORD s_dwLastTick = 0;

}  // namespace

int BarWidth(DWORD progress, DWORD progressMax) {
    if (progressMax == 0) return 0;
    const double percent = progress * 100.0 / progressMax;
    // Checked in double: past 100 % the percent may not even fit an int.
    if (percent >= 100.0) return kBarWidth;
    return static_cast<int>(percent) * kBarWidth / 100;
}

DWORD SpeedRate(DWORD progress, DWORD speedBase, DWORD elapsedMs) {
    // The base is reset only after a file is installed, so a new file's first reports can
    // lie below it; that difference would wrap to some gigabytes per second.
    if (elapsedMs == 0 || progress < speedBase) return 0;
    const unsigned long long rate =
        static_cast<unsigned long long>(progress - speedBase) * 1000u / elapsedMs;
    return rate > MAXDWORD ? MAXDWORD : static_cast<DWORD>(rate);
}

void FormatSpeedLine(DWORD rate, char (&out)[kSpeedLineSize]) {
    char size[32] = {};
    if (StrFormatByteSizeA(rate, size, sizeof size) == nullptr) size[0] = '\0';
    std::memset(out, 0, sizeof out);
    std::snprintf(out, sizeof out, "下载速度: %s/秒", size);
    // snprintf cuts at a byte; drop a lead byte whose second half was cut off.
    size_t at = 0;
    while (out[at] != '\0') {
        if (IsDBCSLeadByte(static_cast<BYTE>(out[at]))) {
            if (out[at + 1] == '\0') {
                out[at] = '\0';
                break;
            }
            ++at;
        }
        ++at;
    }
}

void SetTickSource(TickSource source) { g_tickSource = source; }

DWORD SkinTickCount() { return g_tickSource != nullptr ? g_tickSource() : GetTickCount(); }

bool SampleSpeed(DWORD progress, DWORD speedBase, DWORD* rate) {
    const DWORD now = SkinTickCount();
    // Also keeps the rate from dividing by zero.
    if (now == s_dwLastTick) return false;
    *rate = SpeedRate(progress, speedBase, now - s_dwLastTick);
    s_dwLastTick = now;
    return true;
}

DWORD LastSampleTick() { return s_dwLastTick; }

void SetLastSampleTick(DWORD tick) { s_dwLastTick = tick; }
