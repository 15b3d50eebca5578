// Figure 4: the paint pass beside one window-sized BitBlt, then what the run keeps: files
// still held open and GDI objects not given back, after everything touched so far and a
// run of small downloads.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchFigures.h"
#include "Gdi.h"
#include "ListRun.h"
#include "Scoped.h"
#include "Skin.h"
#include "UpdateDialog.h"
#include "UpdateRun.h"

namespace {

DWORD g_tick = 0;
DWORD BenchTick() { return g_tick += 300; }

// Takes every free slot of the process's GDI table and gives them back: the count of free
// slots, which drops for good when something keeps an object.
size_t FreeGdiSlots() {
    std::vector<HRGN> held;
    for (HRGN r; (r = CreateRectRgn(0, 0, 1, 1)) != nullptr;) held.push_back(r);
    for (HRGN r : held) DeleteObject(r);
    return held.size();
}

HBITMAP MakeCanvasBitmap() {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kSkinWidth;
    info.bmiHeader.biHeight = -kSkinHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

}  // namespace

void BenchResources(const Options& o, Report& report) {
    UpdateDialog painter;
    painter.Run().SetProgress(500, 1000);
    ScopedGdiObj<HBITMAP> canvas(MakeCanvasBitmap());
    ScopedDC canvasDC(CreateCompatibleDC(nullptr));
    ScopedSelect pick(canvasDC, canvas);
    ScopedGdiObj<HBITMAP> source(MakeCanvasBitmap());
    ScopedDC sourceDC(CreateCompatibleDC(nullptr));
    ScopedSelect pickSource(sourceDC, source);
    if (!pick.IsValid() || !pickSource.IsValid()) {
        Fail("no canvas for the paint pass");
        return;
    }
    const size_t freeBefore = FreeGdiSlots();

    std::vector<double> passUs, copyUs;
    for (int r = 0; r < o.reps; ++r) {
        CDC target;
        target.Attach(canvasDC);
        double start = NowMs();
        for (int i = 0; i < o.passes; ++i) {
            painter.Run().SetProgress(static_cast<DWORD>(i % 1000), 1000);
            painter.DrawSkin(&target, BenchTick());
        }
        GdiFlush();
        passUs.push_back((NowMs() - start) * 1000 / o.passes);
        target.Detach();
        start = NowMs();
        for (int i = 0; i < o.passes; ++i) {
            BitBlt(canvasDC, 0, 0, kSkinWidth, kSkinHeight, sourceDC, 0, 0, SRCCOPY);
        }
        GdiFlush();
        copyUs.push_back((NowMs() - start) * 1000 / o.passes);
    }
    report.Row("4 DrawSkin pass", Format("%.0f us", Median(passUs)),
               Format("%.0f us one window-sized BitBlt", Median(copyUs)), "-",
               "context (redraw every 300 ms)");

    // The small downloads: plain files and, every tenth, an archive of two entries.
    int expectedDone = 0;
    std::vector<std::string> expectedFiles;
    if (o.port != 0 && o.downloads > 0) {
        const std::string dir = "res";
        std::vector<std::string> names;
        for (int i = 0; i < o.downloads; ++i) {
            const bool archive = i % 10 == 9;
            names.push_back(Format(archive ? "r%03d.zip" : "r%03d.bin", i));
            if (archive) {
                expectedFiles.push_back(Format("%s\\r%03d_a.txt", dir.c_str(), i));
                expectedFiles.push_back(Format("%s\\r%03d_b.txt", dir.c_str(), i));
            } else {
                expectedFiles.push_back(dir + "\\" + names.back());
            }
        }
        expectedFiles.push_back(dir + "\\UpdateClient.txt");
        if (!MakeFolders(dir) || !WriteHandOverFile(dir, o, names)) {
            Fail("cannot lay out the small downloads");
        } else {
            UpdateRun dialog;
            expectedDone = RunList(dialog, dir, o.downloads * 3, nullptr);
            if (expectedDone != o.downloads) {
                Fail(Format("%d of %d small downloads done", expectedDone, o.downloads));
            }
        }
    }
    const size_t freeAfter = FreeGdiSlots();

    int missing = 0, held = 0;
    std::vector<std::string> files = TouchedFiles();
    files.insert(files.end(), expectedFiles.begin(), expectedFiles.end());
    for (const std::string& path : files) {
        if (FileSizeOf(path) < 0) {
            ++missing;
        } else if (!OpensExclusively(path)) {
            if (held < 5) std::fprintf(stderr, "updatebench: still held: %s\n", path.c_str());
            ++held;
        }
    }
    if (missing > 0) Fail(Format("%d touched files missing", missing));
    const long gdiKept = static_cast<long>(freeBefore) - static_cast<long>(freeAfter);
    report.Row(Format("4 files held after the run (%d downloads)", expectedDone),
               Format("%d of %u", held, static_cast<unsigned>(files.size())), "0", "-", "0 held");
    report.Row(Format("4 GDI objects kept (%d passes x %d, downloads)", o.passes, o.reps),
               Format("%ld", gdiKept), "0", "-", "0 kept");
    report.Verdict(
        "4 resources", held == 0 && gdiKept == 0,
        Format("%d of %u touched files still held open, %ld GDI objects kept (goal 0, 0)", held,
               static_cast<unsigned>(files.size()), gdiKept));
}
