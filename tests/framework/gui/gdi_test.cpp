// GDI classes and GDI handle owners: ownership of every object (after the owner is gone,
// GetObjectType says the handle is gone), and no leak over more create/destroy cycles
// than the process has GDI handles.
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

TEST(Gdi, FailedLoadsAreResults) {
    CBitmap missing, twice;
    EXPECT_FALSE(missing.LoadBitmap(IDD_MISSING));
    ASSERT_TRUE(twice.LoadBitmap(IDB_PATTERN));
    HGDIOBJ first = twice.m_hObject;
    EXPECT_FALSE(twice.LoadBitmap(IDB_PATTERN));
    EXPECT_EQ(first, twice.m_hObject) << "a second load replaced (and leaked) the first";
}

// What the leak cycles below cannot see: a handle deleted twice, or deleted by an object
// that does not own it.
TEST(Gdi, OnlyTheOwnerDeletesAndOnlyOnce) {
    ScopedDC screen(CreateCompatibleDC(nullptr));
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

// The updater's paint pass makes a memory DC and an off-screen bitmap each time through
// the owners. An owner that did not delete its object, or a selection not undone before
// the delete, leaks one per pass.
TEST(Gdi, PaintObjectsLeakNothing) {
    ScopedDC target(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(target.IsValid());
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
        CDC* pDC = owner.GetDC();
        ASSERT_TRUE(pDC != nullptr && pDC->GetSafeHdc() != nullptr) << "cycle " << i;
        ASSERT_EQ(1, owner.ReleaseDC(pDC)) << "cycle " << i;
        ASSERT_EQ(0, owner.ReleaseDC(pDC)) << "given back twice, cycle " << i;
    }
    owner.Detach();
    DestroyWindow(wnd);
}

}  // namespace
