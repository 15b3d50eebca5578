#include "StatusLine.h"

#include <cstdio>
#include <cstring>

#include "KitText.h"

void FormatStatusLine(const char* name, char (&out)[kStatusLineSize]) {
    char full[kStatusLineSize + 64];
    std::snprintf(full, sizeof full, "正在下载文件 %s", name);
    // The name is cut as kit text too: the line is drawn with the window's GB2312 font,
    // which reads every byte of it as code page 936.
    const size_t length = WholeKitCharacters(full, kStatusLineSize - 1);
    std::memset(out, 0, sizeof out);
    std::memcpy(out, full, length);
}
