// One owner per Win32 handle kind. Each type releases what it holds when it goes out of
// scope, on every path; none can be copied or moved, and each converts to the raw handle
// where a call needs it.
//
//   ScopedDC mem(CreateCompatibleDC(target));
//   ScopedGdiObj<HBITMAP> frame(CreateCompatibleBitmap(target, kWidth, kHeight));
//   ScopedSelect pick(mem, frame);
#pragma once

#include <windows.h>

#include <utility>

namespace scoped_detail {

// Traits: Empty() is the value of an empty owner, IsEmpty() says whether a value counts
// as empty, Free() releases a non-empty one.
template <class H, class Traits>
class Owner {
public:
    Owner() noexcept : m_h(Traits::Empty()) {}
    explicit Owner(H h) noexcept : m_h(h) {}
    ~Owner() { Reset(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    // The handle held (the empty value when none); the owner keeps it.
    H Get() const noexcept { return m_h; }
    operator H() const noexcept { return m_h; }
    // TRUE when a handle is held.
    BOOL IsValid() const noexcept { return !Traits::IsEmpty(m_h); }
    // Releases the handle held, if any, and takes h.
    void Reset(H h = Traits::Empty()) noexcept {
        H old = std::exchange(m_h, h);
        if (!Traits::IsEmpty(old)) Traits::Free(old);
    }

private:
    H m_h;
};

struct KernelHandleTraits {
    static HANDLE Empty() { return nullptr; }
    // Win32 returns either value for "no handle", depending on the call.
    static bool IsEmpty(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { ::CloseHandle(h); }
};

template <class T>
struct GdiObjTraits {
    static T Empty() { return nullptr; }
    static bool IsEmpty(T h) { return h == nullptr; }
    static void Free(T h) { ::DeleteObject(h); }
};

struct MemoryDCTraits {
    static HDC Empty() { return nullptr; }
    static bool IsEmpty(HDC h) { return h == nullptr; }
    static void Free(HDC h) { ::DeleteDC(h); }
};

struct RegKeyTraits {
    static HKEY Empty() { return nullptr; }
    static bool IsEmpty(HKEY h) { return h == nullptr; }
    static void Free(HKEY h) { ::RegCloseKey(h); }
};

}  // namespace scoped_detail

// A kernel handle (file, event, thread, process...), closed with CloseHandle. Both null
// and INVALID_HANDLE_VALUE count as empty and are never passed to CloseHandle.
using ScopedHandle = scoped_detail::Owner<HANDLE, scoped_detail::KernelHandleTraits>;

// A GDI object (HBITMAP, HFONT, HBRUSH, HPEN, HRGN...), deleted with DeleteObject. Do not
// let it go while the object is still selected into a DC: DeleteObject then fails and
// the object leaks. Declare the ScopedSelect after it, so that it is undone first.
template <class T>
using ScopedGdiObj = scoped_detail::Owner<T, scoped_detail::GdiObjTraits<T>>;

// A DC made with CreateCompatibleDC or CreateDC, deleted with DeleteDC. Not for DCs from
// GetDC or BeginPaint: those are given back (CWnd::ReleaseDC, CPaintDC).
using ScopedDC = scoped_detail::Owner<HDC, scoped_detail::MemoryDCTraits>;

// A registry key opened or created by RegOpenKeyEx/RegCreateKeyEx, closed with
// RegCloseKey. Never hand it one of the predefined roots (HKEY_CURRENT_USER...).
using ScopedRegKey = scoped_detail::Owner<HKEY, scoped_detail::RegKeyTraits>;

// Holds an SRW lock exclusively for its scope. The lock must outlive it; a condition
// variable may sleep on the lock while it is held.
class ScopedSrwLock {
public:
    explicit ScopedSrwLock(SRWLOCK& lock) noexcept : m_lock(lock) { ::AcquireSRWLockExclusive(&m_lock); }
    ~ScopedSrwLock() { ::ReleaseSRWLockExclusive(&m_lock); }
    ScopedSrwLock(const ScopedSrwLock&) = delete;
    ScopedSrwLock& operator=(const ScopedSrwLock&) = delete;

private:
    SRWLOCK& m_lock;
};

// Selects a GDI object into a DC and selects the one it replaced back when it goes out
// of scope. IsValid() is FALSE when the selection failed (null DC or object, a bitmap
// already selected elsewhere); nothing is restored then. The DC must outlive it.
class ScopedSelect {
public:
    ScopedSelect(HDC hDC, HGDIOBJ hObj) noexcept
        : m_hDC(hDC), m_hPrev(hDC && hObj ? ::SelectObject(hDC, hObj) : nullptr) {
        if (m_hPrev == HGDI_ERROR) m_hPrev = nullptr;
    }
    ~ScopedSelect() {
        if (m_hPrev) ::SelectObject(m_hDC, m_hPrev);
    }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

    BOOL IsValid() const noexcept { return m_hPrev != nullptr; }

private:
    HDC m_hDC;
    HGDIOBJ m_hPrev;
};
