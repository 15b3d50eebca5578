#include "SafeName.h"

#include <windows.h>

#include <cstring>

#include "PathWalk.h"

namespace {

constexpr unsigned char kLowestTrailByte = 0x40;

bool IsRefusedCharacter(char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::strchr("<>\"|?*", c) != nullptr;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsUpper(const char* text, size_t length, const char* upper) {
    if (std::strlen(upper) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (Upper(text[i]) != upper[i]) return false;
    }
    return true;
}

// Windows opens the device whatever extension follows, and drops the spaces before it.
bool IsDeviceName(const char* component, size_t length) {
    size_t base = 0;
    while (base < length && component[base] != '.') ++base;
    while (base > 0 && component[base - 1] == ' ') --base;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (EqualsUpper(component, base, device)) return true;
    }
    if (base != 4) return false;
    const bool numbered = EqualsUpper(component, 3, "COM") || EqualsUpper(component, 3, "LPT");
    // Windows also takes the superscripts 1, 2 and 3 of code page 1252 for the digit.
    const unsigned char digit = static_cast<unsigned char>(component[3]);
    return numbered &&
           ((digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

NameFault ComponentFault(const char* component, size_t length) {
    if (length == 0) return NameFault::None;
    bool onlyDotsAndSpaces = true;
    for (size_t i = 0; i < length; ++i) {
        if (component[i] != '.' && component[i] != ' ') onlyDotsAndSpaces = false;
    }
    if (onlyDotsAndSpaces) return NameFault::DotsOrSpaces;
    const char last = component[length - 1];
    if (last == '.' || last == ' ') return NameFault::TrailingDotOrSpace;
    return IsDeviceName(component, length) ? NameFault::Device : NameFault::None;
}

}  // namespace

NameFault WhyUnsafe(const char* name) {
    if (name == nullptr || name[0] == '\0' || IsPathSeparator(name[0])) return NameFault::Rooted;
    const char* component = name;
    for (const char* p = name;; p += CharacterBytes(p)) {
        if (IsLeadByte(*p)) {
            if (static_cast<unsigned char>(p[1]) < kLowestTrailByte)
                return NameFault::BrokenDoubleByte;
            continue;
        }
        if (*p == '\0' || IsPathSeparator(*p)) {
            const NameFault fault = ComponentFault(component, static_cast<size_t>(p - component));
            if (fault != NameFault::None || *p == '\0') return fault;
            component = p + 1;
        } else if (*p == ':') {
            return NameFault::DriveOrStream;
        } else if (IsRefusedCharacter(*p)) {
            return NameFault::ReservedCharacter;
        }
    }
}

bool IsSafeRelativeName(const char* name) { return WhyUnsafe(name) == NameFault::None; }
