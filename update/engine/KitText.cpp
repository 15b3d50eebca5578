#include "KitText.h"

size_t WholeKitCharacters(const char* text, size_t maxBytes) {
    size_t length = 0;
    while (text[length] != '\0') {
        const bool pair =
            IsDBCSLeadByteEx(kKitCodePage, static_cast<BYTE>(text[length])) && text[length + 1];
        const size_t step = pair ? 2 : 1;
        if (length + step > maxBytes) break;
        length += step;
    }
    return length;
}

bool WideFromKitText(const char* text, wchar_t* out, int outChars) {
    if (outChars <= 0) return false;
    if (MultiByteToWideChar(kKitCodePage, MB_ERR_INVALID_CHARS, text, -1, out, outChars) > 0)
        return true;
    out[0] = L'\0';
    return false;
}
