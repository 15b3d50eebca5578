#include "StatusLine.h"

#include <cstdio>
#include <cstring>

void FormatStatusLine(const char* name, char (&out)[kStatusLineSize]) {
    char full[kStatusLineSize + 64];
    std::snprintf(full, sizeof full, "正在下载文件 %s", name);
    size_t length = 0;
    while (full[length] != '\0') {
        const bool lead = IsDBCSLeadByte(static_cast<BYTE>(full[length])) && full[length + 1];
        const size_t step = lead ? 2 : 1;
        if (length + step > kStatusLineSize - 1) break;
        length += step;
    }
    std::memset(out, 0, sizeof out);
    std::memcpy(out, full, length);
}
