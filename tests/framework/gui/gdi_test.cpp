// GDI classes and GDI handle owners: real pixels through memory DCs, ownership of every
// object (after the owner is gone, GetObjectType says the handle is gone), and no leak
// over more create/destroy cycles than the process has GDI handles.
#include <windows.h>

#include <gtest/gtest.h>

#include "Gdi.h"
#include "Scoped.h"
#include "resource.h"

namespace {

// More cycles than a process can have GDI handles (65,536 under Wine, 10,000 by default
// on Windows): a pass that leaked one object would run out. GetGuiResources cannot tell,
// Wine answers 0.
constexpr int kCycles = 70000;

TEST(Gdi, LoadedBitmapBlitsIntoAMemoryBitmap) {
    CClientDC screen(nullptr);
    ASSERT_NE(nullptr, screen.m_hDC);
    CBitmap pattern, frame;
    ASSERT_TRUE(pattern.LoadBitmap(IDB_PATTERN));
    BITMAP info = {};
    ASSERT_EQ(static_cast<int>(sizeof info), pattern.GetBitmap(&info));
    EXPECT_EQ(4, info.bmWidth);
    EXPECT_EQ(2, info.bmHeight);
    CDC mem, source;
    ASSERT_TRUE(mem.CreateCompatibleDC(&screen));
    ASSERT_TRUE(frame.CreateCompatibleBitmap(&screen, 16, 8));
    HGDIOBJ oldFrame = mem.SelectObject(&frame);
    ASSERT_NE(nullptr, oldFrame);
    const COLORREF ground = RGB(10, 20, 30);
    mem.FillSolidRect(0, 0, 16, 8, ground);
    ASSERT_TRUE(source.CreateCompatibleDC(&mem));
    HGDIOBJ oldSource = source.SelectObject(&pattern);
    ASSERT_NE(nullptr, oldSource);
    ASSERT_TRUE(mem.BitBlt(5, 3, 4, 2, &source, 0, 0, SRCCOPY));
    ASSERT_TRUE(mem.BitBlt(10, 3, 2, 1, &source, 1, 1, SRCCOPY));  // part of the pattern

    const struct {
        int x, y;
        COLORREF color;
    } pixels[] = {
        // The whole pattern (see gui_tests.rc) at (5, 3).
        {5, 3, RGB(255, 0, 0)},
        {6, 3, RGB(0, 255, 0)},
        {7, 3, RGB(0, 0, 255)},
        {8, 3, RGB(255, 255, 255)},
        {5, 4, RGB(0, 0, 0)},
        {6, 4, RGB(255, 255, 0)},
        {7, 4, RGB(0, 255, 255)},
        {8, 4, RGB(128, 64, 32)},
        // Its bottom middle at (10, 3), and nothing beyond the width and height asked for.
        {10, 3, RGB(255, 255, 0)},
        {11, 3, RGB(0, 255, 255)},
        {12, 3, ground},
        {10, 4, ground},
        {4, 3, ground},
        {0, 0, ground},
    };
    for (const auto& p : pixels) EXPECT_EQ(p.color, mem.GetPixel(p.x, p.y)) << p.x << "," << p.y;
    source.SelectObject(oldSource);
    mem.SelectObject(oldFrame);
}

TEST(Gdi, FailuresAreResultsNotCrashes) {
    CBitmap missing, twice, b;
    EXPECT_FALSE(missing.LoadBitmap(IDD_MISSING));
    ASSERT_TRUE(twice.LoadBitmap(IDB_PATTERN));
    HGDIOBJ first = twice.m_hObject;
    EXPECT_FALSE(twice.LoadBitmap(IDB_PATTERN));
    EXPECT_EQ(first, twice.m_hObject) << "a second load replaced (and leaked) the first";
    CDC none, mem;
    EXPECT_FALSE(b.CreateCompatibleBitmap(&none, 4, 4));
    EXPECT_FALSE(b.CreateCompatibleBitmap(nullptr, 4, 4));
    EXPECT_EQ(nullptr, none.SelectObject(&b));
    EXPECT_FALSE(none.BitBlt(0, 0, 1, 1, &none, 0, 0, SRCCOPY));
    ASSERT_TRUE(mem.CreateCompatibleDC(nullptr));
    EXPECT_FALSE(mem.CreateCompatibleDC(nullptr)) << "a second DC replaced (and leaked) the first";
    EXPECT_FALSE(mem.BitBlt(0, 0, 1, 1, nullptr, 0, 0, SRCCOPY));
    EXPECT_TRUE(mem.BitBlt(0, 0, 1, 1, nullptr, 0, 0, BLACKNESS)) << "needs no source";
}

// What the leak cycles below cannot see: a handle deleted twice, or deleted by an object
// that does not own it.
TEST(Gdi, OnlyTheOwnerDeletesAndOnlyOnce) {
    ScopedGetDC screen(nullptr);
    CBitmap deleted, detached;
    ASSERT_TRUE(deleted.LoadBitmap(IDB_PATTERN));
    HGDIOBJ h = deleted.m_hObject;
    EXPECT_TRUE(deleted.DeleteObject());
    EXPECT_EQ(0u, GetObjectType(h));
    EXPECT_FALSE(deleted.DeleteObject());
    ASSERT_TRUE(detached.LoadBitmap(IDB_PATTERN));
    ScopedGdiObj<HGDIOBJ> kept(detached.Detach());
    HDC raw = CreateCompatibleDC(screen);
    {
        CDC attached;
        attached.Attach(raw);
    }
    EXPECT_EQ(static_cast<DWORD>(OBJ_MEMDC), GetObjectType(raw)) << "an attached DC was deleted";
    DeleteDC(raw);
    ASSERT_TRUE(kept.IsValid());
    EXPECT_EQ(static_cast<DWORD>(OBJ_BITMAP), GetObjectType(kept))
        << "a detached bitmap was deleted";

    // A failed selection has no previous object: it must report so and restore nothing.
    ScopedDC a(CreateCompatibleDC(screen)), b(CreateCompatibleDC(screen));
    ScopedGdiObj<HBITMAP> bmp(CreateCompatibleBitmap(screen, 4, 4));
    ScopedSelect first(a, bmp);
    ASSERT_TRUE(first.IsValid());
    HGDIOBJ stockB = GetCurrentObject(b, OBJ_BITMAP);
    EXPECT_FALSE(ScopedSelect(b, bmp).IsValid()) << "a bitmap can be in one DC only";
    EXPECT_EQ(stockB, GetCurrentObject(b, OBJ_BITMAP));
    EXPECT_FALSE(ScopedSelect(nullptr, bmp).IsValid());
}

// The updater's paint pass makes a memory DC and an off-screen bitmap each time, through
// the framework's classes and through the owners. An owner that did not delete
// its object, or a selection not undone before the delete, leaks one per pass.
TEST(Gdi, PaintObjectsLeakNothing) {
    CDC target;
    ASSERT_TRUE(target.CreateCompatibleDC(nullptr));
    for (int i = 0; i < kCycles; ++i) {
        CBitmap frame;
        CDC mem;  // declared last, so it goes first and frees the bitmap for deletion
        ASSERT_TRUE(mem.CreateCompatibleDC(&target)) << "cycle " << i;
        ASSERT_TRUE(frame.CreateCompatibleBitmap(&mem, 8, 8)) << "cycle " << i;
        ASSERT_NE(nullptr, mem.SelectObject(&frame)) << "cycle " << i;
    }
    for (int i = 0; i < kCycles; ++i) {
        ScopedDC mem(CreateCompatibleDC(target));
        ScopedGdiObj<HBITMAP> frame(CreateCompatibleBitmap(mem, 8, 8));
        ScopedSelect pick(mem, frame);
        ASSERT_TRUE(pick.IsValid()) << "cycle " << i;
    }
}

// Window DCs come from a cache: one that was never given back would be kept from it.
TEST(Gdi, WindowDcsAreGivenBack) {
    HWND wnd =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, wnd);
    CWnd owner;
    owner.Attach(wnd);
    for (int i = 0; i < kCycles; ++i) {
        ScopedGetDC dc(wnd);
        CClientDC client(&owner);
        CDC* pDC = owner.GetDC();
        ASSERT_TRUE(dc.IsValid() && client.m_hDC && pDC) << "cycle " << i;
        ASSERT_EQ(1, owner.ReleaseDC(pDC)) << "cycle " << i;
        ASSERT_EQ(0, owner.ReleaseDC(pDC)) << "given back twice, cycle " << i;
    }
    owner.Detach();
    DestroyWindow(wnd);
}

}  // namespace
