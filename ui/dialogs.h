// Dialog helpers shared by the wizard and the shared-file question, and the
// progress bar that the wizard paints during the run.
#pragma once
#include <windows.h>

// Widens a dialog and its controls by about a sixth and gives the controls
// the light dialog font; first step of both dialogs' initialisation.
void ScaleDialog(HWND dialog);

enum { BAR_BLOCK_GAP = 3 };
#define BAR_COLOUR RGB(0, 0, 127)

// Inner rectangle of the progress bar in the wizard's client area: the bar
// frame control (3830) inset by one pixel. Recorded at wizard initialisation.
extern RECT BarRect;
void RecordBarRect(HWND wizard);

// Where the blocks of a bar go: step between block starts, filled width and
// number of blocks. Count is 0 when nothing is filled or the bar is too
// small for a positive step.
struct BarLayout {
    int Step;
    int Filled;
    int Count;
};
void LayoutBar(const RECT *inner, int done, int total, BarLayout *layout);
// Rectangle of block i (0 <= i < layout->Count).
void BarBlock(const RECT *inner, const BarLayout *layout, int i, RECT *block);

// Paints the blocks for ProgressDone of ProgressTotal into BarRect, and the
// bar's frame when the three-dimensional control library is not active.
void PaintBar(HDC dc);

// Makes the bar frame control (3830) of the wizard draw only its outline,
// so that, once shown, it frames the bar instead of covering it.
void MakeBarFrameHollow(HWND wizard);
