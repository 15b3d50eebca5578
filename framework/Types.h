// Plain value types over the Win32 geometry structures. They derive from the structures,
// so a CPoint or CRect goes wherever Win32 wants a POINT or RECT.
#pragma once

#include <windows.h>

class CPoint : public tagPOINT {
public:
    // From the lParam of a mouse or hit-test message: x in the low word, y in the high
    // word, both signed (points left of or above the primary monitor are negative).
    explicit CPoint(LPARAM dwPoint)
        : tagPOINT{static_cast<short>(LOWORD(dwPoint)), static_cast<short>(HIWORD(dwPoint))} {}
};

class CRect : public tagRECT {
public:
    CRect() : tagRECT{0, 0, 0, 0} {}
    CRect(const RECT& srcRect) : tagRECT(srcRect) {}

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    // TRUE when the point lies inside: left and top edges included, right and bottom
    // edges excluded, as Win32's PtInRect.
    BOOL PtInRect(POINT point) const { return ::PtInRect(this, point); }
};
