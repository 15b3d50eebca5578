// The paint pass against real pixels in a memory DC, and its ownership of what it creates,
// checked by exhausting Wine's GDI table (GetGuiResources returns 0 there). No window and
// no display are needed.
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
const COLORREF kUpperBottom = RGB(47, 139, 190);
const COLORREF kLowerTop = RGB(25, 114, 174);
const COLORREF kLowerBottom = RGB(14, 191, 223);
const COLORREF kTroughMiddle = RGB(212, 208, 200);
const COLORREF kBarHighlight = RGB(160, 214, 164);  // second row of the bar
const COLORREF kBarLast = RGB(79, 180, 87);
const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kUntouched = RGB(255, 0, 255);  // never in the artwork

// What the sample clock held when the process started, before any test moved it.
const DWORD g_lastTickAtStart = LastSampleTick();

DWORD g_now = 0;
DWORD TestTick() { return g_now; }

// A window-sized 32-bit top-down DIB selected into its own memory DC: a target whose
// pixels can be read straight from memory.
class Canvas {
public:
    Canvas()
        : m_bitmap(MakeDib(&m_bits)), m_dc(CreateCompatibleDC(nullptr)), m_pick(m_dc, m_bitmap) {
        Fill(kUntouched);
    }

    HDC dc() const { return m_dc; }
    bool IsValid() const { return m_pick.IsValid() && m_bits != nullptr; }

    void Fill(COLORREF colour) {
        GdiFlush();
        const DWORD value =
            (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
        for (int i = 0; i < kSkinWidth * kSkinHeight; ++i) m_bits[i] = value;
    }

    COLORREF At(int x, int y) const {
        GdiFlush();
        const DWORD v = m_bits[y * kSkinWidth + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }

    // Pixels of colour within [left, right) x [top, bottom).
    int Count(RECT r, COLORREF colour) const {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) n += At(x, y) == colour;
        return n;
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
        dialog.DrawSkin(&target);
        target.Detach();
    }

private:
    static HBITMAP MakeDib(DWORD** bits) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kSkinWidth;
        info.bmiHeader.biHeight = -kSkinHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
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

bool Greenish(COLORREF c) {
    return GetGValue(c) > GetRValue(c) + 10 && GetGValue(c) > GetBValue(c) + 10;
}

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

// The upper band right of the status line, where the speed line stands.
const RECT kSpeedArea = {kSpeedLeft, 0, kSkinWidth, kBarTop - 2};

class DrawSkinTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTickSource(TestTick);
        SetLastSampleTick(0);
        g_now = 1000;
        ASSERT_TRUE(m_canvas.IsValid());
    }
    void TearDown() override {
        SetTickSource(nullptr);
        SetLastSampleTick(0);
    }

    // One pass at a tick of its own.
    void Pass() {
        g_now += 300;
        m_canvas.Draw(m_dialog);
    }
    void SetStatus(const char* name) {
        char line[kStatusLineSize] = {};
        if (name != nullptr) FormatStatusLine(name, line);
        m_dialog.SetStatusLine(line);
    }

    UpdateDialog m_dialog;
    Canvas m_canvas;
};

TEST_F(DrawSkinTest, BackgroundBandsAndTroughAsDrawn) {
    m_dialog.SetProgress(0, 0, 0);
    Pass();
    struct Case {
        const char* fault;
        int x, y;
        COLORREF colour;
    } cases[] = {
        {"top row of the upper band", 5, 0, kUpperTop},
        {"last row of the upper band", 5, 23, kUpperBottom},
        {"first row of the lower band", 5, 24, kLowerTop},
        {"bottom row of the lower band", 5, 56, kLowerBottom},
        {"right column, top", kSkinWidth - 1, 0, kUpperTop},
        {"right column, bottom", kSkinWidth - 1, kSkinHeight - 1, kLowerBottom},
        {"trough inside starts at x 17", 17, 41, kTroughMiddle},
        {"trough middle", 180, 40, kTroughMiddle},
        {"trough inside ends at x 342", 342, 41, kTroughMiddle},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(c.colour, m_canvas.At(c.x, c.y));
    }
}

TEST_F(DrawSkinTest, BarWidthFollowsProgress) {
    struct Case {
        const char* fault;
        DWORD progress, progressMax;
        int width;
    } cases[] = {
        {"before the first report the bar is empty", 0, 0, 0},
        {"0 %", 0, 1000, 0},
        {"1 %", 10, 1000, 3},
        {"50 %", 500, 1000, 163},
        {"99 %", 990, 1000, 322},
        {"99.9 % is still 99 %", 999, 1000, 322},
        {"100 %", 1000, 1000, 326},
        {"past the substitute size: full, not past the bitmap", 250000, 100000, 326},
        {"far past", 0xFFFFFFFF, 100000, 326},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        m_dialog.SetProgress(c.progress, c.progressMax, c.progressMax);
        m_canvas.Fill(kUntouched);
        Pass();
        const int highlightRow = kBarTop + 1;
        EXPECT_EQ(c.width,
                  m_canvas.Count({kBarLeft, highlightRow, kBarLeft + c.width, highlightRow + 1},
                                 kBarHighlight))
            << "the bar starts at x 17 without a gap";
        EXPECT_EQ(c.width,
                  m_canvas.Count({0, highlightRow, kSkinWidth, highlightRow + 1}, kBarHighlight))
            << "and nothing of it lies beyond its width";
        if (c.width > 2) {
            EXPECT_EQ(kBarLast, m_canvas.At(kBarLeft + c.width / 2, kBarTop + kBarHeight - 1));
        }
        EXPECT_FALSE(Greenish(m_canvas.At(kBarLeft + c.width, kBarTop + 3)))
            << "the first pixel past the bar is trough or outline";
    }
}

TEST_F(DrawSkinTest, FullBarCoversExactlyTheInsideOfTheTrough) {
    m_dialog.SetProgress(4096, 4096, 4096);
    Pass();
    int green = 0;
    for (int y = kBarTop; y < kBarTop + kBarHeight; ++y)
        for (int x = kBarLeft; x < kBarLeft + kBarWidth; ++x) green += Greenish(m_canvas.At(x, y));
    EXPECT_EQ(kBarWidth * kBarHeight, green);
    for (int x = kBarLeft - 1; x <= kBarLeft + kBarWidth; ++x) {
        EXPECT_FALSE(Greenish(m_canvas.At(x, kBarTop - 1))) << x;
        EXPECT_FALSE(Greenish(m_canvas.At(x, kBarTop + kBarHeight))) << x;
    }
    for (int y = kBarTop; y < kBarTop + kBarHeight; ++y) {
        EXPECT_FALSE(Greenish(m_canvas.At(kBarLeft - 1, y))) << y;
        EXPECT_FALSE(Greenish(m_canvas.At(kBarLeft + kBarWidth, y))) << y;
    }
}

TEST_F(DrawSkinTest, TextLinesStandWhereTheyBelong) {
    struct Case {
        const char* fault;
        const char* name;  // null: no status line yet
        RECT area;
        bool white;
    } cases[] = {
        {"status line drawn from (17, 10)",
         "a.zip",
         {kStatusLeft, kStatusTop, kSpeedLeft, 30},
         true},
        {"nothing left of the status line", "a.zip", {0, 0, kStatusLeft, kSkinHeight}, false},
        {"nothing above the lines", "a.zip", {0, 0, kSkinWidth, kStatusTop}, false},
        {"nothing on the trough or the lower band",
         "a.zip",
         {0, 30, kSkinWidth, kSkinHeight},
         false},
        {"speed line drawn from (220, 10)", "a.zip", {kSpeedLeft, kSpeedTop, kSkinWidth, 30}, true},
        {"an empty status line draws nothing", nullptr, {0, 0, kSpeedLeft, kSkinHeight}, false},
        {"the speed line stands before the first report",
         nullptr,
         {kSpeedLeft, kSpeedTop, kSkinWidth, 30},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        SetStatus(c.name);
        m_dialog.SetProgress(0, 0, 0);
        Pass();
        EXPECT_EQ(c.white, m_canvas.Count(c.area, kWhite) > 0);
    }
}

TEST_F(DrawSkinTest, SpeedLineShowsTheSampledRate) {
    EXPECT_EQ(0u, g_lastTickAtStart) << "the process starts with the last sample at tick 0";
    struct Case {
        const char* fault;
        bool earlierSample;  // a pass at progress `base` came first
        DWORD base, lastTick, now, progress;
        DWORD rate;
    } cases[] = {
        {"first pass measures from tick 0", false, 0, 0, 4000, 8000, 2000},
        {"300 ms of bytes scaled to a second", true, 10000, 1000, 1300, 13000, 10000},
        {"new file below the last sample shows 0", true, 50000, 1000, 1300, 1000, 0},
        {"tick counter wrapped", true, 100, 0xFFFFFF00, 0x100, 612, 1000},
        {"large counts do not overflow 32 bits", true, 0, 1000, 2000, 0x20000000, 0x20000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        if (c.earlierSample) {
            m_dialog.SetProgress(c.base, 0, 0);
            Pass();
            ASSERT_EQ(c.base, m_dialog.SpeedBase());
        }
        SetLastSampleTick(c.lastTick);
        g_now = c.now;
        m_dialog.SetProgress(c.progress, 0, 0);
        m_canvas.Fill(kUntouched);
        m_canvas.Draw(m_dialog);

        Canvas expected;
        DrawSpeedReference(expected, c.rate);
        EXPECT_TRUE(m_canvas.SameAs(expected, kSpeedArea));
        Canvas other;
        DrawSpeedReference(other, c.rate * 3 + 1000);
        ASSERT_FALSE(other.SameAs(expected, kSpeedArea)) << "the area tells rates apart";

        EXPECT_EQ(c.progress, m_dialog.SpeedBase()) << "the sample becomes the new base";
        EXPECT_EQ(c.now, LastSampleTick());
    }
}

TEST_F(DrawSkinTest, PassInTheSameTickDrawsNothing) {
    m_dialog.SetProgress(100, 1000, 1000);
    Pass();
    m_dialog.SetProgress(900, 1000, 1000);
    m_canvas.Fill(kUntouched);
    m_canvas.Draw(m_dialog);  // g_now unchanged
    EXPECT_EQ(kSkinWidth * kSkinHeight,
              m_canvas.Count({0, 0, kSkinWidth, kSkinHeight}, kUntouched));
    EXPECT_EQ(100u, m_dialog.SpeedBase()) << "no sample was taken";

    Pass();
    EXPECT_EQ(kUpperTop, m_canvas.At(5, 0)) << "the next tick draws again";
    EXPECT_EQ(900u, m_dialog.SpeedBase());
}

TEST_F(DrawSkinTest, NoTargetNoSample) {
    const DWORD before = LastSampleTick();
    g_now += 300;
    m_dialog.DrawSkin(nullptr);
    CDC empty;
    m_dialog.DrawSkin(&empty);
    EXPECT_EQ(before, LastSampleTick());
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
    m_dialog.SetProgress(500, 1000, 1000);
    const size_t free = FreeGdiSlots();
    ASSERT_GT(free, 1000u);
    // The pass makes the frame's DC, the frame, the background's DC and the bar's DC, in
    // this order: each spare count below lets a different one of them fail.
    struct Case {
        const char* fault;
        size_t spare;
        bool draws;
    } cases[] = {
        {"frame DC fails", 0, false},
        {"frame bitmap fails after its DC", 1, false},
        {"background DC fails after the frame", 2, false},
        {"bar DC fails after the background", 3, false},
        {"everything made", 4, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        m_canvas.Fill(kUntouched);
        {
            GdiFiller filler(c.spare);
            Pass();
        }
        EXPECT_EQ(free, FreeGdiSlots()) << "every object of the pass is gone";
        EXPECT_EQ(c.draws ? kUpperTop : kUntouched, m_canvas.At(5, 0))
            << "a pass either draws the whole picture or nothing";
    }
}

TEST_F(DrawSkinTest, SeventyThousandPassesLeakNothing) {
    // Wine's GDI table holds about 65,000 objects: one object kept per pass would run
    // it dry long before the end.
    for (DWORD i = 0; i < 70000; ++i) {
        m_dialog.SetProgress(i % 1000, 1000, 1000);
        Pass();
    }
    m_dialog.SetProgress(500, 1000, 1000);
    m_canvas.Fill(kUntouched);
    Pass();
    EXPECT_EQ(kUpperTop, m_canvas.At(5, 0));
    EXPECT_EQ(kLowerBottom, m_canvas.At(5, kSkinHeight - 1));
    EXPECT_EQ(163, m_canvas.Count({0, kBarTop + 1, kSkinWidth, kBarTop + 2}, kBarHighlight));
}

}  // namespace
