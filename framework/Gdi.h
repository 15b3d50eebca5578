// GDI objects and device contexts.
//
// A CGdiObject owns the object it holds and deletes it when destroyed; a CDC deletes a
// DC only when it created it (CreateCompatibleDC). CPaintDC and CClientDC give their
// window's DC back when destroyed. None can be copied. An object must not be destroyed
// while it is selected into a DC: select the previous object back first (SelectObject
// returns it), or delete the DC first.
#pragma once

#include <windows.h>

#include "String.h"
#include "Wnd.h"

class CDC;

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
    operator HGDIOBJ() const { return m_hObject; }
    // GetObject on the object held: bytes written to lpObject, 0 on failure.
    int GetObject(int nCount, LPVOID lpObject) const;

    HGDIOBJ m_hObject = nullptr;
};

class CBitmap : public CGdiObject {
public:
    // Loads bitmap nIDResource from AfxGetResourceHandle(). FALSE when it is missing or
    // the object already holds a bitmap.
    BOOL LoadBitmap(UINT nIDResource);
    // A bitmap of nWidth x nHeight pixels in pDC's format. FALSE when pDC holds no DC,
    // the object already holds a bitmap, or GDI refuses.
    BOOL CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight);
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
    // Fills *pBitMap; bytes written, 0 on failure.
    int GetBitmap(BITMAP* pBitMap) const { return GetObject(sizeof(BITMAP), pBitMap); }
};

// A font, made elsewhere and handed over with Attach.
class CFont : public CGdiObject {
public:
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

class CDC {
public:
    CDC() = default;
    virtual ~CDC();  // deletes the DC if CreateCompatibleDC made it
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // Wraps hDC without owning it. FALSE when hDC is null or a DC is already held.
    BOOL Attach(HDC hDC);
    // Gives up the DC held (null when none) without deleting it.
    HDC Detach();
    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

    // A memory DC compatible with pDC (null: with the screen); the object owns it.
    // FALSE when a DC is already held or GDI refuses.
    BOOL CreateCompatibleDC(CDC* pDC);
    // Deletes the DC held, whoever made it (use only on DCs from CreateCompatibleDC or
    // CreateDC). FALSE when none is held.
    BOOL DeleteDC();

    // Select an object; return the one it replaces (null on failure, or when pObject
    // holds nothing). Select the returned object back before destroying pObject.
    HGDIOBJ SelectObject(CBitmap* pBitmap);
    HGDIOBJ SelectObject(HGDIOBJ hObject);

    // CLR_INVALID on failure.
    COLORREF GetPixel(int x, int y) const;
    // Copies nWidth x nHeight pixels from (xSrc, ySrc) of pSrcDC to (x, y); FALSE on
    // failure or when either DC is missing.
    BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                DWORD dwRop);
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF clr);

    HDC m_hDC = nullptr;

private:
    bool m_bOwned = false;
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

// A window's client-area DC (the screen's for a null pWnd): GetDC on construction,
// ReleaseDC on destruction. m_hDC is null when GetDC failed.
class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* pWnd);
    ~CClientDC() override;

protected:
    HWND m_hWnd = nullptr;
};
