#include "Skin.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "KitText.h"

namespace {

void CutSpeedLine(const char* full, char (&out)[kSpeedLineSize]) {
    std::memset(out, 0, sizeof out);
    std::memcpy(out, full, WholeKitCharacters(full, kSpeedLineSize - 1));
}

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
    char full[kSpeedLineSize + sizeof size];
    std::snprintf(full, sizeof full, "下载速度: %s/秒", size);
    CutSpeedLine(full, out);
}

void FormatRetryLine(DWORD retryAt, DWORD now, char (&out)[kSpeedLineSize]) {
    const DWORD left = retryAt - now;
    // Past the due tick the difference wraps to a huge value: nothing is left then.
    const DWORD seconds = left > 0x7FFFFFFFu ? 0 : (left + 999) / 1000;
    char full[kSpeedLineSize + 16];
    std::snprintf(full, sizeof full, "%lu秒后重试", static_cast<unsigned long>(seconds));
    CutSpeedLine(full, out);
}

HFONT CreateSkinFont() {
    LOGFONTW font = {};
    font.lfHeight = -12;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = GB2312_CHARSET;
    font.lfOutPrecision = OUT_STROKE_PRECIS;
    font.lfClipPrecision = CLIP_STROKE_PRECIS;
    font.lfQuality = DRAFT_QUALITY;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_DONTCARE;
    // The wide call: the narrow one would read the name in the system's code page.
    if (!WideFromKitText("宋体", font.lfFaceName, LF_FACESIZE)) return nullptr;
    return CreateFontIndirectW(&font);
}

bool SpeedClock::Sample(DWORD now, DWORD progress, DWORD speedBase, DWORD* rate) {
    // Also keeps the rate from dividing by zero.
    if (now == m_dwLastTick) return false;
    *rate = SpeedRate(progress, speedBase, now - m_dwLastTick);
    m_dwLastTick = now;
    return true;
}
