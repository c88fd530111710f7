// The progress bar: block geometry from the done and total counts, and the
// pixels that the wizard's painting leaves on screen.
#include "wizardtest.h"

namespace {

TEST(BarLayout, Blocks)
{
    struct Row {
        const char *name;
        RECT inner;
        int done, total;
        int step, filled, count;
    };
    const Row rows[] = {
        {"nothing done", {10, 20, 310, 41}, 0, 1, 14, 0, 0},
        {"all done", {10, 20, 310, 41}, 1, 1, 14, 300, 22},
        {"half", {10, 20, 310, 41}, 50, 100, 14, 150, 11},
        {"one of three, truncated", {0, 0, 100, 9}, 1, 3, 6, 33, 6},
        {"width a multiple of the step", {0, 0, 60, 9}, 7, 7, 6, 60, 10},
        {"more done than counted is full", {0, 0, 60, 9}, 9, 7, 6, 60, 10},
        {"negative done is nothing", {0, 0, 60, 9}, -2, 7, 6, 0, 0},
        {"no total", {0, 0, 60, 9}, 3, 0, 6, 0, 0},
        {"one pixel high: step 0, no blocks", {0, 0, 60, 1}, 1, 1, 0, 60, 0},
        {"no inside at all", {5, 5, 4, 4}, 1, 1, 0, 0, 0},
        {"step below the gap", {0, 0, 60, 3}, 1, 1, 2, 60, 30},
        {"large counts do not overflow", {0, 0, 400, 21}, 40000000, 50000000, 14, 320, 23},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        BarLayout l;
        LayoutBar(&r.inner, r.done, r.total, &l);
        EXPECT_EQ(r.step, l.Step);
        EXPECT_EQ(r.filled, l.Filled);
        EXPECT_EQ(r.count, l.Count);
        for (int i = 0; i < l.Count; i++) {
            RECT b;
            BarBlock(&r.inner, &l, i, &b);
            ASSERT_EQ(r.inner.left + i * l.Step, b.left) << "block " << i;
            ASSERT_EQ(b.left + l.Step - BAR_BLOCK_GAP, b.right) << "block " << i;
            ASSERT_EQ(r.inner.top + 1, b.top);
            ASSERT_EQ(r.inner.bottom - 1, b.bottom);
        }
        if (l.Count) {
            // ceil(filled / step) blocks: the last one starts inside the filled width.
            RECT last;
            BarBlock(&r.inner, &l, l.Count - 1, &last);
            EXPECT_LT(last.left, r.inner.left + l.Filled);
            EXPECT_GE(last.left + l.Step, r.inner.left + l.Filled);
        }
    }
}

TEST(BarLayout, FullBarReachesTheRightEdge)
{
    for (int height = 3; height <= 40; height++) {
        for (int width = 1; width <= 120; width += 7) {
            RECT inner = {7, 9, 7 + width, 9 + height};
            BarLayout l;
            LayoutBar(&inner, 5, 5, &l);
            ASSERT_EQ(width, l.Filled);
            RECT last;
            BarBlock(&inner, &l, l.Count - 1, &last);
            // Only the gap after the last block may stay empty.
            EXPECT_GE(last.right, inner.right - BAR_BLOCK_GAP) << width << "x" << height;
        }
    }
}

// Client-area pixels of a window, read back after painting.
struct Capture {
    std::vector<COLORREF> pixels;
    int width = 0, height = 0;
    COLORREF At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

Capture Grab(HWND w)
{
    Capture c;
    RECT rc;
    GetClientRect(w, &rc);
    c.width = rc.right;
    c.height = rc.bottom;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = c.width;
    bi.bmiHeader.biHeight = -c.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void *bits = NULL;
    HDC screen = GetDC(w);
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, c.width, c.height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD *p = (const DWORD *)bits;
    for (int i = 0; i < c.width * c.height; i++)
        c.pixels.push_back(RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF));
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
    ReleaseDC(w, screen);
    return c;
}

class BarPaint : public WizardTest {
protected:
    void SetUp() override
    {
        WizardTest::SetUp();
        WizardBitmap = LoadBitmapA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDB_WIZARD));
    }
    void TearDown() override
    {
        WizardTest::TearDown();
        if (WizardBitmap)
            DeleteObject(WizardBitmap);
        WizardBitmap = NULL;
        Ctl3dActive = 0;
    }
    // Repaints the whole dialog as it would be after being uncovered.
    Capture Repaint()
    {
        RedrawWindow(dlg, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        PumpFor(20);
        return Grab(dlg);
    }
    int Mid() const { return (BarRect.top + BarRect.bottom) / 2; }
};

TEST_F(BarPaint, BitmapAndBarPixels)
{
    ASSERT_TRUE(WizardBitmap != NULL);
    Open();
    Click(IDC_NEXT);    // the final page, where the run shows its progress
    ASSERT_EQ(PAGE_FINAL, (int)WizardPage);
    ProgressTotal = 4;
    ProgressDone = 0;
    Capture before = Repaint();
    // The picture at 12,12: compare a few of its pixels with the bitmap itself.
    HDC screen = GetDC(dlg);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, WizardBitmap);
    for (POINT p : {POINT{0, 0}, POINT{60, 100}, POINT{121, 261}, POINT{30, 200}})
        EXPECT_EQ(GetPixel(mem, p.x, p.y), before.At(12 + p.x, 12 + p.y)) << p.x << "," << p.y;
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(dlg, screen);

    // Before the run starts: no bar, no frame.
    int y = Mid();
    for (int x = BarRect.left - 1; x < BarRect.right + 1; x++)
        ASSERT_NE(BAR_COLOUR, before.At(x, y)) << "x " << x;
    COLORREF background = before.At(BarRect.left - 1, y);
    EXPECT_NE(RGB(0, 0, 0), background);

    // Started, nothing done: only the frame (the library is absent).
    ProgressStarted = 1;
    Capture zero = Repaint();
    EXPECT_EQ(RGB(0, 0, 0), zero.At(BarRect.left - 1, y));
    EXPECT_EQ(RGB(0, 0, 0), zero.At(BarRect.right, y));
    EXPECT_EQ(RGB(0, 0, 0), zero.At((BarRect.left + BarRect.right) / 2, BarRect.top - 1));
    for (int x = BarRect.left; x < BarRect.right; x++)
        ASSERT_NE(BAR_COLOUR, zero.At(x, y)) << "x " << x;

    // Half done: blocks with gaps up to the middle, nothing near the end.
    ProgressDone = 2;
    Capture half = Repaint();
    BarLayout l;
    LayoutBar(&BarRect, 2, 4, &l);
    ASSERT_GT(l.Count, 1);
    RECT first;
    BarBlock(&BarRect, &l, 0, &first);
    EXPECT_EQ(BAR_COLOUR, half.At(first.left, y));
    EXPECT_EQ(BAR_COLOUR, half.At(first.right - 1, y));
    EXPECT_NE(BAR_COLOUR, half.At(first.right, y)) << "gap between blocks";
    EXPECT_NE(BAR_COLOUR, half.At(first.left, BarRect.top)) << "one pixel above the blocks";
    EXPECT_EQ(BAR_COLOUR, half.At(first.left, BarRect.top + 1));
    EXPECT_NE(BAR_COLOUR, half.At(BarRect.right - 2, y));

    // All done: the last block reaches the right end.
    ProgressDone = 4;
    Capture full = Repaint();
    int coloured = 0;
    for (int x = BarRect.left; x < BarRect.right; x++)
        coloured += full.At(x, y) == BAR_COLOUR;
    EXPECT_GT(coloured, (BarRect.right - BarRect.left) * 3 / 5);
    bool nearEnd = false;
    for (int x = BarRect.right - 1 - BAR_BLOCK_GAP; x < BarRect.right; x++)
        nearEnd |= full.At(x, y) == BAR_COLOUR;
    EXPECT_TRUE(nearEnd);
}

TEST_F(BarPaint, WithTheLibraryTheShownFrameControlFramesTheBar)
{
    Open();
    Click(IDC_NEXT);
    Ctl3dActive = 1;
    ProgressStarted = 1;
    ProgressTotal = 1;
    ProgressDone = 0;
    Capture c = Repaint();
    EXPECT_NE(RGB(0, 0, 0), c.At(BarRect.left - 1, Mid())) << "the wizard draws no frame";
    // The run's start shows the frame control; it must not hide the blocks.
    ShowWindow(GetDlgItem(dlg, IDC_BAR_FRAME), SW_SHOW);
    ProgressDone = 1;
    Capture full = Repaint();
    EXPECT_EQ(RGB(0, 0, 0), full.At(BarRect.left - 1, Mid()));
    EXPECT_EQ(RGB(0, 0, 0), full.At(BarRect.right, Mid()));
    int coloured = 0;
    for (int x = BarRect.left; x < BarRect.right; x++)
        coloured += full.At(x, Mid()) == BAR_COLOUR;
    EXPECT_GT(coloured, (BarRect.right - BarRect.left) * 3 / 5) << "blocks hidden by the control";
    // A later progress update repaints only the bar area of the wizard.
    RECT r = BarRect;
    InvalidateRect(dlg, &r, FALSE);
    UpdateWindow(dlg);
    Capture again = Grab(dlg);
    EXPECT_EQ(BAR_COLOUR, again.At(BarRect.left, Mid()));
    EXPECT_EQ(RGB(0, 0, 0), again.At(BarRect.left - 1, Mid()));
}

TEST_F(BarPaint, SecondDialogKeepsTheFontAndTheWidening)
{
    Open();
    HFONT font = DialogFont;
    ASSERT_TRUE(font != NULL);
    RECT a;
    GetWindowRect(GetDlgItem(dlg, IDC_LIST), &a);
    DestroyWindow(dlg);
    Open();
    EXPECT_EQ(font, DialogFont);
    RECT b;
    GetWindowRect(GetDlgItem(dlg, IDC_LIST), &b);
    EXPECT_EQ(a.right - a.left, b.right - b.left);
}

} // namespace
