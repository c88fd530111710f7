#include "dialogs.h"
#include "../base/state.h"
#include "../resources/resource.h"

RECT BarRect;
static WNDPROC StaticProc;     // the frame control's own procedure

// One sixth wider, measured from the origin of the coordinates given.
static int Widen(int x)
{
    return x + x / 6;
}

static BOOL CALLBACK ScaleChild(HWND child, LPARAM)
{
    RECT r;
    if (!GetWindowRect(child, &r))
        return TRUE;
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    HWND parent = GetParent(child);
    ScreenToClient(parent, &corners[0]);
    ScreenToClient(parent, &corners[1]);
    int left = Widen(corners[0].x);
    int right = Widen(corners[1].x);
    MoveWindow(child, left, corners[0].y, right - left, corners[1].y - corners[0].y, FALSE);
    SendMessageA(child, WM_SETFONT, (WPARAM)DialogFont, FALSE);
    return TRUE;
}

void ScaleDialog(HWND dialog)
{
    RECT r;
    if (GetWindowRect(dialog, &r)) {
        int left = Widen(r.left);
        int right = Widen(r.right);
        MoveWindow(dialog, left, r.top, right - left, r.bottom - r.top, FALSE);
    }
    if (Version4OrLater && Ctl3dSubclassDlgExFn)
        Ctl3dSubclassDlgExFn(dialog, 0x38);     // combo boxes, static texts and frames
    if (!DialogFont) {
        HFONT font = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
        LOGFONTA description;
        if (font && GetObjectA(font, sizeof description, &description) == sizeof description) {
            description.lfWeight = 300;
            description.lfCharSet = (BYTE)FontCharSet;
            DialogFont = CreateFontIndirectA(&description);
        }
    }
    // Without the light font the controls keep their template layout and font.
    if (DialogFont)
        EnumChildWindows(dialog, ScaleChild, 0);
}

void RecordBarRect(HWND wizard)
{
    RECT r;
    HWND frame = GetDlgItem(wizard, IDC_BAR_FRAME);
    if (!frame || !GetWindowRect(frame, &r)) {
        SetRectEmpty(&BarRect);
        return;
    }
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    ScreenToClient(wizard, &corners[0]);
    ScreenToClient(wizard, &corners[1]);
    BarRect.left = corners[0].x + 1;
    BarRect.top = corners[0].y + 1;
    BarRect.right = corners[1].x - 1;
    BarRect.bottom = corners[1].y - 1;
}

// A size as the bar's 16-bit arithmetic sees it; a frame too small to have
// an inside counts as empty instead of wrapping to a huge width.
static unsigned Extent(LONG from, LONG to)
{
    if (to <= from)
        return 0;
    return (unsigned)(to - from) & 0xFFFF;
}

void LayoutBar(const RECT *inner, int done, int total, BarLayout *layout)
{
    layout->Step = (int)(Extent(inner->top, inner->bottom) * 2 / 3);
    layout->Filled = 0;
    layout->Count = 0;
    if (total <= 0)
        return;
    // More done than counted would draw past the frame.
    if (done > total)
        done = total;
    if (done < 0)
        done = 0;
    unsigned long long width = Extent(inner->left, inner->right);
    layout->Filled = (int)((width * (unsigned)done / (unsigned)total) & 0xFFFF);
    // A zero step would never advance across the filled width: no blocks.
    if (layout->Filled > 0 && layout->Step > 0)
        layout->Count = (layout->Filled + layout->Step - 1) / layout->Step;
}

void BarBlock(const RECT *inner, const BarLayout *layout, int i, RECT *block)
{
    block->left = inner->left + i * layout->Step;
    block->right = block->left + layout->Step - BAR_BLOCK_GAP;
    block->top = inner->top + 1;
    block->bottom = inner->bottom - 1;
}

void PaintBar(HDC dc)
{
    BarLayout layout;
    LayoutBar(&BarRect, ProgressDone, ProgressTotal, &layout);
    COLORREF oldColour = SetBkColor(dc, BAR_COLOUR);
    for (int i = 0; i < layout.Count; i++) {
        RECT block;
        BarBlock(&BarRect, &layout, i, &block);
        ExtTextOutA(dc, 0, 0, ETO_OPAQUE | ETO_CLIPPED, &block, "", 0, NULL);
    }
    SetBkColor(dc, oldColour);
    if (!Ctl3dActive) {
        // The frame control stays hidden without the library: draw its outline.
        RECT frame = {BarRect.left - 1, BarRect.top - 1, BarRect.right + 1, BarRect.bottom + 1};
        HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
        if (black) {
            FrameRect(dc, &frame, black);
            DeleteObject(black);
        }
    }
}

// The frame control is a black rectangle in the template; shown as it is it
// would hide the bar that the wizard paints beneath it. The library it is
// shown for draws no frame of its own on every platform (Wine's stand-in
// draws nothing), so the control draws its one-pixel outline itself.
static LRESULT CALLBACK HollowFrameProc(HWND control, UINT message, WPARAM wp, LPARAM lp)
{
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(control, &ps);
        if (dc) {
            RECT r;
            GetClientRect(control, &r);
            HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
            if (black) {
                FrameRect(dc, &r, black);
                DeleteObject(black);
            }
            EndPaint(control, &ps);
        }
        return 0;
    }
    default:
        return CallWindowProcA(StaticProc, control, message, wp, lp);
    }
}

void MakeBarFrameHollow(HWND wizard)
{
    HWND frame = GetDlgItem(wizard, IDC_BAR_FRAME);
    if (!frame)
        return;
    WNDPROC previous = (WNDPROC)GetWindowLongPtrA(frame, GWLP_WNDPROC);
    if (previous == HollowFrameProc)
        return;
    StaticProc = previous;
    SetWindowLongPtrA(frame, GWLP_WNDPROC, (LONG_PTR)HollowFrameProc);
}
