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

std::wstring WideFromKitText(const char* text) {
    const int n = MultiByteToWideChar(kKitCodePage, 0, text, -1, nullptr, 0);
    if (n <= 1) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(kKitCodePage, 0, text, -1, &wide[0], n) != n) return std::wstring();
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}
