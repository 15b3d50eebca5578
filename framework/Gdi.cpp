#include "Gdi.h"

#include "WinApp.h"

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
    if (hObject == nullptr || m_hObject != nullptr) return FALSE;
    m_hObject = hObject;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    return h;
}

BOOL CGdiObject::DeleteObject() {
    if (m_hObject == nullptr) return FALSE;
    return ::DeleteObject(Detach());
}

int CGdiObject::GetObject(int nCount, LPVOID lpObject) const {
    return m_hObject ? ::GetObjectA(m_hObject, nCount, lpObject) : 0;
}

BOOL CBitmap::LoadBitmap(UINT nIDResource) {
    if (m_hObject != nullptr) return FALSE;
    return Attach(::LoadBitmapA(AfxGetResourceHandle(), MAKEINTRESOURCEA(nIDResource)));
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight) {
    if (m_hObject != nullptr || pDC == nullptr || pDC->m_hDC == nullptr) return FALSE;
    return Attach(::CreateCompatibleBitmap(pDC->m_hDC, nWidth, nHeight));
}

CDC::~CDC() {
    if (m_bOwned && m_hDC != nullptr) ::DeleteDC(m_hDC);
}

BOOL CDC::Attach(HDC hDC) {
    if (hDC == nullptr || m_hDC != nullptr) return FALSE;
    m_hDC = hDC;
    m_bOwned = false;
    return TRUE;
}

HDC CDC::Detach() {
    HDC h = m_hDC;
    m_hDC = nullptr;
    m_bOwned = false;
    return h;
}

BOOL CDC::CreateCompatibleDC(CDC* pDC) {
    if (m_hDC != nullptr) return FALSE;
    HDC h = ::CreateCompatibleDC(pDC ? pDC->m_hDC : nullptr);
    if (h == nullptr) return FALSE;
    m_hDC = h;
    m_bOwned = true;
    return TRUE;
}

BOOL CDC::DeleteDC() {
    if (m_hDC == nullptr) return FALSE;
    return ::DeleteDC(Detach());
}

HGDIOBJ CDC::SelectObject(CBitmap* pBitmap) {
    return SelectObject(pBitmap ? pBitmap->m_hObject : nullptr);
}

HGDIOBJ CDC::SelectObject(HGDIOBJ hObject) {
    if (m_hDC == nullptr || hObject == nullptr) return nullptr;
    HGDIOBJ prev = ::SelectObject(m_hDC, hObject);
    return prev == HGDI_ERROR ? nullptr : prev;
}

COLORREF CDC::GetPixel(int x, int y) const { return m_hDC ? ::GetPixel(m_hDC, x, y) : CLR_INVALID; }

BOOL CDC::BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                 DWORD dwRop) {
    if (m_hDC == nullptr) return FALSE;
    HDC src = pSrcDC ? pSrcDC->m_hDC : nullptr;
    // Raster operations that read no source (PATCOPY, BLACKNESS...) take a null one.
    bool needsSource = ((dwRop >> 2) ^ dwRop) & 0x330000;
    if (src == nullptr && needsSource) return FALSE;
    return ::BitBlt(m_hDC, x, y, nWidth, nHeight, src, xSrc, ySrc, dwRop);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF clr) {
    if (m_hDC == nullptr) return;
    COLORREF old = ::SetBkColor(m_hDC, clr);
    RECT r = {x, y, x + cx, y + cy};
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, old);
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->GetSafeHwnd() : nullptr) {
    if (m_hWnd != nullptr) Attach(::BeginPaint(m_hWnd, &m_ps));
}

CPaintDC::~CPaintDC() {
    if (m_hWnd != nullptr && m_hDC != nullptr) {
        Detach();
        ::EndPaint(m_hWnd, &m_ps);
    }
}

CClientDC::CClientDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->GetSafeHwnd() : nullptr) {
    Attach(::GetDC(m_hWnd));
}

CClientDC::~CClientDC() {
    if (m_hDC != nullptr) ::ReleaseDC(m_hWnd, Detach());
}
