// GDI classes and GDI handle owners: real pixels through memory DCs, ownership of every
// object (after the owner is gone, GetObjectType says the handle is gone), and no leak
// over more create/destroy cycles than the process has GDI handles.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>

#include <utility>

#include "Gdi.h"
#include "Scoped.h"
#include "resource.h"

namespace {

// More cycles than a process can have GDI handles (65,536 under Wine, 10,000 by default
// on Windows): a pass that leaked one object would run out. GetGuiResources cannot tell,
// Wine answers 0.
constexpr int kCycles = 70000;
// "宋体" in code page 936.
const char kSongTi[] = "\xcb\xce\xcc\xe5";

struct PatternPixel {
    int x, y;
    COLORREF color;
} const kPattern[] = {
    {0, 0, RGB(255, 0, 0)},     {1, 0, RGB(0, 255, 0)},   {2, 0, RGB(0, 0, 255)},
    {3, 0, RGB(255, 255, 255)}, {0, 1, RGB(0, 0, 0)},     {1, 1, RGB(255, 255, 0)},
    {2, 1, RGB(0, 255, 255)},   {3, 1, RGB(128, 64, 32)},
};

class Gdi : public testing::Test {
protected:
    CClientDC screen{nullptr};
};

TEST_F(Gdi, ScreenDcIsThere) { ASSERT_NE(nullptr, screen.m_hDC); }

TEST_F(Gdi, LoadedBitmapBlitsIntoAMemoryBitmap) {
    CBitmap pattern;
    ASSERT_TRUE(pattern.LoadBitmap(IDB_PATTERN));
    BITMAP info = {};
    ASSERT_EQ(static_cast<int>(sizeof info), pattern.GetBitmap(&info));
    EXPECT_EQ(4, info.bmWidth);
    EXPECT_EQ(2, info.bmHeight);

    CBitmap frame;
    CDC mem;
    ASSERT_TRUE(mem.CreateCompatibleDC(&screen));
    ASSERT_TRUE(frame.CreateCompatibleBitmap(&screen, 16, 8));
    HGDIOBJ oldFrame = mem.SelectObject(&frame);
    ASSERT_NE(nullptr, oldFrame);
    const COLORREF ground = RGB(10, 20, 30);
    mem.FillSolidRect(0, 0, 16, 8, ground);

    CDC source;
    ASSERT_TRUE(source.CreateCompatibleDC(&mem));
    HGDIOBJ oldSource = source.SelectObject(&pattern);
    ASSERT_NE(nullptr, oldSource);
    ASSERT_TRUE(mem.BitBlt(5, 3, 4, 2, &source, 0, 0, SRCCOPY));
    // Only part of the pattern: the blit must respect the width.
    ASSERT_TRUE(mem.BitBlt(10, 3, 2, 1, &source, 1, 1, SRCCOPY));

    for (const PatternPixel& p : kPattern)
        EXPECT_EQ(p.color, mem.GetPixel(5 + p.x, 3 + p.y)) << p.x << "," << p.y;
    EXPECT_EQ(RGB(255, 255, 0), mem.GetPixel(10, 3));
    EXPECT_EQ(RGB(0, 255, 255), mem.GetPixel(11, 3));
    EXPECT_EQ(ground, mem.GetPixel(12, 3));
    EXPECT_EQ(ground, mem.GetPixel(10, 4));
    EXPECT_EQ(ground, mem.GetPixel(4, 3));
    EXPECT_EQ(ground, mem.GetPixel(0, 0));

    source.SelectObject(oldSource);
    mem.SelectObject(oldFrame);
}

TEST_F(Gdi, TransparentWhiteTextInTheUpdatersFont) {
    CFont font;
    ASSERT_TRUE(font.CreateFont(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                                OUT_STROKE_PRECIS, CLIP_STROKE_PRECIS, DRAFT_QUALITY,
                                VARIABLE_PITCH | FF_DONTCARE, kSongTi));
    EXPECT_FALSE(font.CreateFont(-12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "x"));  // holds one

    CBitmap frame;
    CDC mem;
    ASSERT_TRUE(mem.CreateCompatibleDC(&screen));
    ASSERT_TRUE(frame.CreateCompatibleBitmap(&screen, 40, 20));
    HGDIOBJ oldFrame = mem.SelectObject(&frame);
    HGDIOBJ oldFont = mem.SelectObject(&font);
    ASSERT_NE(nullptr, oldFont);
    const COLORREF ground = RGB(0, 0, 128);
    mem.FillSolidRect(0, 0, 40, 20, ground);
    EXPECT_EQ(OPAQUE, mem.SetBkMode(TRANSPARENT));
    EXPECT_EQ(RGB(0, 0, 0), mem.SetTextColor(RGB(255, 255, 255)));
    ASSERT_TRUE(mem.TextOut(2, 2, CString("WM")));

    // The glyphs' edges are smoothed, so count every pixel the text changed.
    int drawn = 0;
    int brightest = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 40; ++x) {
            COLORREF c = mem.GetPixel(x, y);
            if (c != ground) ++drawn;
            if (GetRValue(c) > brightest) brightest = GetRValue(c);
        }
    }
    EXPECT_GT(drawn, 10) << "no text drawn";
    EXPECT_GT(brightest, 200) << "the text is not white";
    EXPECT_EQ(ground, mem.GetPixel(39, 19)) << "the background was painted over";
    EXPECT_TRUE(mem.TextOut(0, 0, "", 0));
    EXPECT_FALSE(mem.TextOut(0, 0, nullptr, 3));

    mem.SelectObject(oldFont);
    mem.SelectObject(oldFrame);
}

TEST_F(Gdi, FailuresAreResultsNotCrashes) {
    CBitmap missing;
    EXPECT_FALSE(missing.LoadBitmap(IDD_MISSING));
    EXPECT_EQ(nullptr, missing.m_hObject);
    CBitmap twice;
    ASSERT_TRUE(twice.LoadBitmap(IDB_PATTERN));
    HGDIOBJ first = twice.m_hObject;
    EXPECT_FALSE(twice.LoadBitmap(IDB_PATTERN));
    EXPECT_EQ(first, twice.m_hObject);
    CDC none;
    CBitmap b;
    EXPECT_FALSE(b.CreateCompatibleBitmap(&none, 4, 4));
    EXPECT_FALSE(b.CreateCompatibleBitmap(nullptr, 4, 4));
    EXPECT_EQ(nullptr, none.SelectObject(&b));
    EXPECT_FALSE(none.BitBlt(0, 0, 1, 1, &none, 0, 0, SRCCOPY));
    CDC mem;
    ASSERT_TRUE(mem.CreateCompatibleDC(nullptr));
    EXPECT_FALSE(mem.CreateCompatibleDC(nullptr));  // already holds one
    EXPECT_FALSE(mem.BitBlt(0, 0, 1, 1, nullptr, 0, 0, SRCCOPY));
    EXPECT_TRUE(mem.BitBlt(0, 0, 1, 1, nullptr, 0, 0, BLACKNESS));
    EXPECT_EQ(nullptr, mem.SelectObject(static_cast<HGDIOBJ>(nullptr)));
}

// Each row makes an object through its owner, lets the owner go and says whether the
// handle must be gone (GetObjectType 0) or still there.
struct OwnerCase {
    const char* fault;
    HGDIOBJ (*run)(HDC screen);
    bool gone;
};

void PrintTo(const OwnerCase& c, std::ostream* os) { *os << c.fault; }

class Ownership : public testing::TestWithParam<OwnerCase> {};

TEST_P(Ownership, HandleFollowsItsOwner) {
    const OwnerCase& c = GetParam();
    ScopedGetDC screen(nullptr);
    ASSERT_TRUE(screen.IsValid());
    HGDIOBJ h = c.run(screen);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(c.gone, GetObjectType(h) == 0);
    if (!c.gone) {
        if (GetObjectType(h) == OBJ_MEMDC)
            DeleteDC(static_cast<HDC>(h));
        else
            DeleteObject(h);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gdi, Ownership,
    testing::Values(OwnerCase{"CBitmapDeletesIts",
                              [](HDC) -> HGDIOBJ {
                                  CBitmap b;
                                  b.LoadBitmap(IDB_PATTERN);
                                  return b.m_hObject;
                              },
                              true},
                    OwnerCase{"CFontDeletesIts",
                              [](HDC) -> HGDIOBJ {
                                  CFont f;
                                  f.CreateFont(-12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Arial");
                                  return f.m_hObject;
                              },
                              true},
                    OwnerCase{"DeleteObjectDeletesEarly",
                              [](HDC) -> HGDIOBJ {
                                  CBitmap b;
                                  b.LoadBitmap(IDB_PATTERN);
                                  HGDIOBJ h = b.m_hObject;
                                  EXPECT_TRUE(b.DeleteObject());
                                  EXPECT_FALSE(b.DeleteObject());
                                  EXPECT_EQ(0u, GetObjectType(h));
                                  return h;
                              },
                              true},
                    OwnerCase{"DetachedObjectSurvives",
                              [](HDC) -> HGDIOBJ {
                                  CBitmap b;
                                  b.LoadBitmap(IDB_PATTERN);
                                  return b.Detach();
                              },
                              false},
                    OwnerCase{"CreatedDcDeleted",
                              [](HDC screen) -> HGDIOBJ {
                                  CDC parent;
                                  parent.Attach(screen);
                                  CDC dc;
                                  dc.CreateCompatibleDC(&parent);
                                  parent.Detach();
                                  return dc.m_hDC;
                              },
                              true},
                    OwnerCase{"AttachedDcLeftAlone",
                              [](HDC screen) -> HGDIOBJ {
                                  HDC raw = CreateCompatibleDC(screen);
                                  CDC dc;
                                  dc.Attach(raw);
                                  return raw;
                              },
                              false},
                    OwnerCase{"ScopedGdiObjDeletes",
                              [](HDC) -> HGDIOBJ {
                                  ScopedGdiObj<HBRUSH> brush(CreateSolidBrush(RGB(1, 2, 3)));
                                  return brush.Get();
                              },
                              true},
                    OwnerCase{"ScopedGdiObjMovedDeletesOnce",
                              [](HDC) -> HGDIOBJ {
                                  ScopedGdiObj<HBRUSH> a(CreateSolidBrush(RGB(1, 2, 3)));
                                  ScopedGdiObj<HBRUSH> b(std::move(a));
                                  EXPECT_FALSE(a.IsValid());
                                  return b.Get();
                              },
                              true},
                    OwnerCase{"ScopedGdiObjReleased",
                              [](HDC) -> HGDIOBJ {
                                  ScopedGdiObj<HBRUSH> brush(CreateSolidBrush(RGB(1, 2, 3)));
                                  return brush.Release();
                              },
                              false},
                    OwnerCase{"ScopedDcDeletes",
                              [](HDC screen) -> HGDIOBJ {
                                  ScopedDC dc(CreateCompatibleDC(screen));
                                  return dc.Get();
                              },
                              true},
                    OwnerCase{"ScopedSelectLetsTheObjectGo",
                              [](HDC screen) -> HGDIOBJ {
                                  ScopedDC dc(CreateCompatibleDC(screen));
                                  ScopedGdiObj<HBITMAP> bmp(CreateCompatibleBitmap(screen, 4, 4));
                                  HGDIOBJ stock = GetCurrentObject(dc, OBJ_BITMAP);
                                  {
                                      ScopedSelect pick(dc, bmp);
                                      EXPECT_TRUE(pick.IsValid());
                                      EXPECT_EQ(stock, pick.Previous());
                                      EXPECT_EQ(bmp.Get(), GetCurrentObject(dc, OBJ_BITMAP));
                                  }
                                  EXPECT_EQ(stock, GetCurrentObject(dc, OBJ_BITMAP));
                                  return bmp.Get();  // deselected, so its owner can delete it
                              },
                              true}),
    [](const testing::TestParamInfo<OwnerCase>& info) { return std::string(info.param.fault); });

TEST(GdiScoped, FailedSelectRestoresNothing) {
    ScopedGetDC screen(nullptr);
    ScopedDC a(CreateCompatibleDC(screen));
    ScopedDC b(CreateCompatibleDC(screen));
    ScopedGdiObj<HBITMAP> bmp(CreateCompatibleBitmap(screen, 4, 4));
    ScopedSelect first(a, bmp);
    ASSERT_TRUE(first.IsValid());
    HGDIOBJ stockB = GetCurrentObject(b, OBJ_BITMAP);
    {
        ScopedSelect second(b, bmp);  // a bitmap can be in one DC only
        EXPECT_FALSE(second.IsValid());
    }
    EXPECT_EQ(stockB, GetCurrentObject(b, OBJ_BITMAP));
    EXPECT_EQ(bmp.Get(), GetCurrentObject(a, OBJ_BITMAP));
    ScopedSelect none(nullptr, bmp);
    EXPECT_FALSE(none.IsValid());
}

// Every object kind the updater's paint pass makes (memory DC, off-screen bitmap, font)
// through the framework's classes. The blit itself is left to the pixel tests: it costs
// time here and creates nothing.
TEST(GdiCycles, FrameworkObjectsLeakNothing) {
    CDC target;
    ASSERT_TRUE(target.CreateCompatibleDC(nullptr));
    for (int i = 0; i < kCycles; ++i) {
        CFont font;
        CBitmap frame;
        CDC mem;
        ASSERT_TRUE(mem.CreateCompatibleDC(&target)) << "cycle " << i;
        ASSERT_TRUE(frame.CreateCompatibleBitmap(&mem, 8, 8)) << "cycle " << i;
        ASSERT_TRUE(
            font.CreateFont(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, GB2312_CHARSET, 0, 0, 0, 0, kSongTi))
            << "cycle " << i;
        ASSERT_NE(nullptr, mem.SelectObject(&frame)) << "cycle " << i;
        ASSERT_NE(nullptr, mem.SelectObject(&font)) << "cycle " << i;
        // The DC goes first (declared last), which frees bitmap and font for deletion.
    }
}

TEST(GdiCycles, ScopedOwnersLeakNothing) {
    ScopedGetDC screen(nullptr);
    ASSERT_TRUE(screen.IsValid());
    for (int i = 0; i < kCycles; ++i) {
        ScopedDC mem(CreateCompatibleDC(screen));
        ASSERT_TRUE(mem.IsValid()) << "cycle " << i;
        ScopedGdiObj<HBITMAP> frame(CreateCompatibleBitmap(mem, 8, 8));
        ASSERT_TRUE(frame.IsValid()) << "cycle " << i;
        ScopedSelect pick(mem, frame);
        ASSERT_TRUE(pick.IsValid()) << "cycle " << i;
        ScopedGdiObj<HBRUSH> brush(CreateSolidBrush(RGB(i & 0xff, 0, 0)));
        ASSERT_TRUE(brush.IsValid()) << "cycle " << i;
    }
}

// Window DCs come from a cache: one that was never given back would be kept from it.
TEST(GdiCycles, WindowDcsAreGivenBack) {
    HWND wnd =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, wnd);
    CWnd owner;
    owner.Attach(wnd);
    for (int i = 0; i < kCycles; ++i) {
        ScopedGetDC dc(wnd);
        ASSERT_TRUE(dc.IsValid()) << "cycle " << i;
        CClientDC client(&owner);
        ASSERT_NE(nullptr, client.m_hDC) << "cycle " << i;
        CDC* pDC = owner.GetDC();
        ASSERT_NE(nullptr, pDC) << "cycle " << i;
        ASSERT_EQ(1, owner.ReleaseDC(pDC)) << "cycle " << i;
    }
    owner.Detach();
    DestroyWindow(wnd);
}

}  // namespace
