// The window side of the update dialog: painting, the redraw timer, dragging.
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
    if (client.PtInRect(point)) return HTCAPTION;
    return CDialog::OnNcHitTest(point);
}

void UpdateDialog::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == 100) {
        CDC* dc = GetDC();
        if (dc != nullptr) {
            DrawSkin(dc);
            ReleaseDC(dc);
        }
    }
    CDialog::OnTimer(nIDEvent);
}

void UpdateDialog::DrawSkin(CDC* pDC) {
    char status[kStatusLineSize];
    GetStatusLine(status);
    pDC->TextOut(17, 10, status, static_cast<int>(strlen(status)));
}
