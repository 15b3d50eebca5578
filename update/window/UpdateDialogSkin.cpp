// The window side of the update dialog: painting, the redraw timer, dragging.
#include <cstring>

#include "Scoped.h"
#include "Skin.h"
#include "UpdateDialog.h"

void UpdateDialog::OnPaint() {
    CPaintDC dc(this);
    DrawSkin(&dc);
}

HCURSOR UpdateDialog::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

LRESULT UpdateDialog::OnNcHitTest(CPoint point) {
    CRect client;
    GetClientRect(&client);
    ClientToScreen(&client);
    // The window has no caption: every point of it drags the window as a caption would.
    if (client.PtInRect(point)) return HTCAPTION;
    return CDialog::OnNcHitTest(point);
}

void UpdateDialog::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kRedrawTimer) {
        CDC* dc = GetDC();
        if (dc != nullptr) {
            DrawSkin(dc);
            ReleaseDC(dc);
        }
    }
    CDialog::OnTimer(nIDEvent);
}

void UpdateDialog::DrawSkin(CDC* pDC, DWORD now) {
    const HDC target = pDC != nullptr ? pDC->GetSafeHdc() : nullptr;
    if (target == nullptr) return;

    // One reading of what the run received serves the rate and the new base, so that bytes
    // arriving during the pass count in the next sample instead of in neither. The rate is
    // the whole run's: the item in turn and those fetched ahead.
    const DWORD received = m_run.Received();
    const DWORD speedBase = m_run.SpeedBase();
    DWORD rate = 0;
    if (!m_speedClock.Sample(now, received, speedBase, &rate)) return;
    m_run.AdvanceSpeedBase(speedBase, received);
    const DWORD progress = m_run.Progress();

    // While the run waits to try again, the speed line counts down to the next try.
    char speedLine[kSpeedLineSize];
    const DWORD retryAt = m_run.RetryAt();
    if (retryAt != 0) {
        FormatRetryLine(retryAt, now, speedLine);
    } else {
        FormatSpeedLine(rate, speedLine);
    }
    char status[kStatusLineSize];
    m_run.GetStatusLine(status);
    const int barWidth = BarWidth(progress, m_run.ProgressMax());

    // Everything below is drawn off-screen and reaches the target in one copy, so the
    // window never shows half a picture. The owners are declared so that each selection
    // is undone before its object or DC goes, on every way out.
    ScopedDC frameDC(CreateCompatibleDC(target));
    ScopedGdiObj<HBITMAP> frame(CreateCompatibleBitmap(target, kSkinWidth, kSkinHeight));
    ScopedSelect pickFrame(frameDC, frame);
    if (!pickFrame.IsValid()) return;
    SetBkMode(frameDC, TRANSPARENT);
    SetTextColor(frameDC, kTextColour);
    ScopedSelect pickFont(frameDC, m_font.GetSafeHandle());

    // A DC that cannot be made ends the pass before anything reaches the target: the
    // window keeps its last picture rather than show one without background or bar. A
    // bitmap that failed to load is only left out.
    ScopedDC backDC(CreateCompatibleDC(frameDC));
    ScopedDC barDC(CreateCompatibleDC(frameDC));
    if (!backDC.IsValid() || !barDC.IsValid()) return;
    ScopedSelect pickBack(backDC, m_bmpBack.GetSafeHandle());
    ScopedSelect pickBar(barDC, m_bmpBar.GetSafeHandle());
    if (pickBack.IsValid()) {
        BitBlt(frameDC, 0, 0, kSkinWidth, kSkinHeight, backDC, 0, 0, SRCCOPY);
    }
    if (pickBar.IsValid() && barWidth > 0) {
        BitBlt(frameDC, kBarLeft, kBarTop, barWidth, kBarHeight, barDC, 0, 0, SRCCOPY);
    }
    TextOutA(frameDC, kStatusLeft, kStatusTop, status, static_cast<int>(std::strlen(status)));
    TextOutA(frameDC, kSpeedLeft, kSpeedTop, speedLine, static_cast<int>(std::strlen(speedLine)));

    BitBlt(target, 0, 0, kSkinWidth, kSkinHeight, frameDC, 0, 0, SRCCOPY);
}
