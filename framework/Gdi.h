// GDI objects and the device contexts a window paints through. The paint pass makes its
// own memory DCs and bitmaps with the owners of Scoped.h; these classes are the members
// and parameters the dialog's design names.
//
// A CGdiObject owns the object it holds and deletes it when destroyed. A CDC only wraps a
// DC it does not own; CPaintDC gives its window's DC back when destroyed. None can be
// copied. An object must not be destroyed while it is selected into a DC.
#pragma once

#include <windows.h>

#include "Wnd.h"

class CGdiObject {
public:
    CGdiObject() = default;
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    // Takes ownership of hObject. FALSE when hObject is null or the object already holds
    // one (nothing changes then).
    BOOL Attach(HGDIOBJ hObject);
    // Gives up the object held (null when none) without deleting it.
    HGDIOBJ Detach();
    // Deletes the object held. FALSE when none is held or DeleteObject fails (the object
    // is still selected into a DC: it is then given up all the same).
    BOOL DeleteObject();
    HGDIOBJ GetSafeHandle() const { return m_hObject; }

    HGDIOBJ m_hObject = nullptr;
};

class CBitmap : public CGdiObject {
public:
    // Loads bitmap nIDResource from AfxGetResourceHandle(). FALSE when it is missing or
    // the object already holds a bitmap.
    BOOL LoadBitmap(UINT nIDResource);
};

// A font, made elsewhere and handed over with Attach.
class CFont : public CGdiObject {};

class CDC {
public:
    CDC() = default;
    virtual ~CDC() = default;  // the DC belongs to whoever handed it over
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // Wraps hDC without owning it. FALSE when hDC is null or a DC is already held.
    BOOL Attach(HDC hDC);
    // Gives up the DC held (null when none).
    HDC Detach();
    HDC GetSafeHdc() const { return m_hDC; }

    HDC m_hDC = nullptr;
};

// The DC of a WM_PAINT: BeginPaint on construction, EndPaint on destruction. m_hDC is
// null when the window is missing.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps = {};

protected:
    HWND m_hWnd = nullptr;
};
