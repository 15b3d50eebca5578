// The paint pass against real pixels in a memory DC, and its ownership of what it creates,
// checked by counting the free slots of the process's GDI table (GetGuiResources returns 0
// under Wine): a pass that kept one object, on any way out, leaves one slot fewer.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Gdi.h"
#include "Scoped.h"
#include "Skin.h"
#include "StatusLine.h"
#include "UpdateDialog.h"
#include "resource.h"

namespace {

const COLORREF kUpperTop = RGB(86, 183, 220);
const COLORREF kLowerBottom = RGB(14, 191, 223);
const COLORREF kBarHighlight = RGB(160, 214, 164);  // second row of the bar
const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kUntouched = RGB(255, 0, 255);  // never in the artwork
const RECT kAll = {0, 0, kSkinWidth, kSkinHeight};
// The upper band right of the status line, where the speed line stands.
const RECT kSpeedArea = {kSpeedLeft, 0, kSkinWidth, kBarTop - 2};

DWORD g_now = 0;

bool Greenish(COLORREF c) {
    return GetGValue(c) > GetRValue(c) + 10 && GetGValue(c) > GetBValue(c) + 10;
}

// A window-sized 32-bit top-down DIB selected into its own memory DC: a target whose
// pixels can be read straight from memory.
class Canvas {
public:
    Canvas()
        : m_bitmap(MakeDib(&m_bits)), m_dc(CreateCompatibleDC(nullptr)), m_pick(m_dc, m_bitmap) {
        Clear();
    }
    HDC dc() const { return m_dc; }
    bool IsValid() const { return m_pick.IsValid() && m_bits != nullptr; }

    // Paints kUntouched everywhere, so that a pixel the pass left alone shows.
    void Clear() {
        GdiFlush();
        for (int i = 0; i < kSkinWidth * kSkinHeight; ++i) m_bits[i] = 0xFF00FF;
    }
    COLORREF At(int x, int y) const {
        GdiFlush();
        const DWORD v = m_bits[y * kSkinWidth + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    // Pixels within r that match.
    template <class Match>
    int Count(RECT r, Match match) const {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) n += match(At(x, y));
        return n;
    }
    int Count(RECT r, COLORREF colour) const {
        return Count(r, [colour](COLORREF c) { return c == colour; });
    }
    bool SameAs(const Canvas& other, RECT r) const {
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                if (At(x, y) != other.At(x, y)) return false;
        return true;
    }
    void Draw(UpdateDialog& dialog) {
        CDC target;
        target.Attach(m_dc);
        dialog.DrawSkin(&target, g_now);
        target.Detach();
    }

private:
    static HBITMAP MakeDib(DWORD** bits) {
        BITMAPINFO info = {};
        info.bmiHeader = {
            sizeof info.bmiHeader, kSkinWidth, -kSkinHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* p = nullptr;
        HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
        *bits = static_cast<DWORD*>(p);
        return bitmap;
    }

    DWORD* m_bits = nullptr;
    ScopedGdiObj<HBITMAP> m_bitmap;
    ScopedDC m_dc;
    ScopedSelect m_pick;
};

// The background with the speed line for rate in the DC's default font, as the pass must
// draw it when the dialog has no font of its own (no window, so no OnInitDialog).
void DrawSpeedReference(Canvas& canvas, DWORD rate) {
    ScopedGdiObj<HBITMAP> back(
        LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_BACKGROUND)));
    {
        ScopedDC source(CreateCompatibleDC(canvas.dc()));
        ScopedSelect pick(source, back);
        BitBlt(canvas.dc(), 0, 0, kSkinWidth, kSkinHeight, source, 0, 0, SRCCOPY);
    }
    char line[kSpeedLineSize];
    FormatSpeedLine(rate, line);
    SetBkMode(canvas.dc(), TRANSPARENT);
    SetTextColor(canvas.dc(), kWhite);
    TextOutA(canvas.dc(), kSpeedLeft, kSpeedTop, line, static_cast<int>(std::strlen(line)));
}

class DrawSkinTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 1000;
        ASSERT_TRUE(m_canvas.IsValid());
    }
    // One pass at a tick of its own.
    void Pass() {
        g_now += 300;
        m_canvas.Clear();
        m_canvas.Draw(m_dialog);
    }

    UpdateDialog m_dialog;
    Canvas m_canvas;
};

TEST_F(DrawSkinTest, BarFillsTheTroughFromTheLeft) {
    struct Case {
        const char* fault;
        DWORD progress, shownMax;
        int width;
    } cases[] = {
        {"half", 500, 1000, 163},
        {"the stand-in total of an unannounced length", 50000, 100000, 163},
    };
    // The bar's rows and one more above and below, across the whole window.
    const RECT band = {0, kBarTop - 1, kSkinWidth, kBarTop + kBarHeight + 1};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        m_dialog.Run().SetProgress(c.progress, c.shownMax);
        Pass();
        EXPECT_EQ(c.width * kBarHeight, m_canvas.Count(band, Greenish))
            << "all 8 rows of the bar, nothing of it beyond its width";
        const RECT highlight = {kBarLeft, kBarTop + 1, kBarLeft + c.width, kBarTop + 2};
        EXPECT_EQ(c.width, m_canvas.Count(highlight, kBarHighlight)) << "from (17, 37), no gap";
    }
}

TEST_F(DrawSkinTest, TextLinesStandWhereTheyBelong) {
    struct Case {
        const char* fault;
        bool status;  // false: no status line yet
        RECT area;
        bool white;
    } cases[] = {
        {"status line from (17, 10)", true, {kStatusLeft, kStatusTop, kSpeedLeft, 30}, true},
        {"nothing left of the status line", true, {0, 0, kStatusLeft, kSkinHeight}, false},
        {"nothing above the lines", true, {0, 0, kSkinWidth, kStatusTop}, false},
        {"nothing on the trough or the lower band", true, {0, 30, kSkinWidth, kSkinHeight}, false},
        {"an empty status line draws nothing", false, {0, 0, kSpeedLeft, kSkinHeight}, false},
        {"the speed line stands from (220, 10) before any report", false, kSpeedArea, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        char line[kStatusLineSize] = {};
        if (c.status) FormatStatusLine("a.zip", line);
        m_dialog.Run().SetStatusLine(line);
        Pass();
        EXPECT_EQ(c.white, m_canvas.Count(c.area, kWhite) > 0);
    }
}

// 3000 bytes since the last pass, 300 ms ago: 10000 a second.
TEST_F(DrawSkinTest, SpeedLineShowsTheRateSinceTheBase) {
    Canvas zero, expected;
    DrawSpeedReference(zero, 0);
    DrawSpeedReference(expected, 10000);
    ASSERT_FALSE(zero.SameAs(expected, kSpeedArea)) << "the area tells rates apart";
    m_dialog.Run().SetProgress(10000, 0);
    Pass();
    ASSERT_EQ(10000u, m_dialog.Run().SpeedBase());
    m_dialog.Run().SetProgress(13000, 0);
    Pass();
    EXPECT_TRUE(m_canvas.SameAs(expected, kSpeedArea));
    EXPECT_EQ(13000u, m_dialog.Run().SpeedBase()) << "the sample becomes the new base";
}

// A pass that draws nothing leaves the sample alone: the bytes it saw count in the next
// rate shown instead of in none.
TEST_F(DrawSkinTest, PassThatDrawsNothingTakesNoSample) {
    m_dialog.Run().SetProgress(100, 1000);
    Pass();
    m_dialog.Run().SetProgress(900, 1000);
    g_now -= 300;
    Pass();
    EXPECT_EQ(kSkinWidth * kSkinHeight, m_canvas.Count(kAll, kUntouched)) << "same tick";
    g_now += 300;
    m_dialog.DrawSkin(nullptr, g_now);
    CDC empty;
    m_dialog.DrawSkin(&empty, g_now);
    EXPECT_EQ(100u, m_dialog.Run().SpeedBase()) << "a pass with no DC takes no sample";
    Pass();
    EXPECT_EQ(kUpperTop, m_canvas.At(5, 0)) << "the next tick draws again";
    EXPECT_EQ(900u, m_dialog.Run().SpeedBase());
}

// --- ownership --------------------------------------------------------------------------

// Takes every free slot of the process's GDI table but `spare`, and gives them back when
// it goes.
class GdiFiller {
public:
    explicit GdiFiller(size_t spare) {
        for (HRGN r; (r = CreateRectRgn(0, 0, 1, 1)) != nullptr;) m_held.push_back(r);
        for (size_t i = 0; i < spare && !m_held.empty(); ++i) {
            DeleteObject(m_held.back());
            m_held.pop_back();
        }
    }
    ~GdiFiller() {
        for (HRGN r : m_held) DeleteObject(r);
    }
    GdiFiller(const GdiFiller&) = delete;
    GdiFiller& operator=(const GdiFiller&) = delete;
    size_t Held() const { return m_held.size(); }

private:
    std::vector<HRGN> m_held;
};

size_t FreeGdiSlots() { return GdiFiller(0).Held(); }

TEST_F(DrawSkinTest, FailedCreationLeavesNothingBehind) {
    m_dialog.Run().SetProgress(500, 1000);
    const size_t free = FreeGdiSlots();
    ASSERT_GT(free, 1000u);
    // The pass makes the frame's DC, the frame, the background's DC and the bar's DC, in
    // this order: each spare count below lets a different one of them fail.
    const char* fault[] = {"frame DC fails", "frame bitmap fails after its DC",
                           "background DC fails after the frame",
                           "bar DC fails after the background", "everything made"};
    for (size_t spare = 0; spare < 5; ++spare) {
        SCOPED_TRACE(fault[spare]);
        {
            GdiFiller filler(spare);
            Pass();
        }
        EXPECT_EQ(free, FreeGdiSlots()) << "every object of the pass is gone";
        EXPECT_EQ(spare == 4 ? kUpperTop : kUntouched, m_canvas.At(5, 0))
            << "a pass either draws the whole picture or nothing";
        EXPECT_EQ(spare == 4 ? kLowerBottom : kUntouched,
                  m_canvas.At(kSkinWidth - 1, kSkinHeight - 1))
            << "the background, to its corner";
    }
}

}  // namespace
