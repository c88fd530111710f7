#include "background.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../resources/resource.h"

static int GradientStart[3];
static int GradientDelta[3];
static int NoBackground;

static const char ClassName[] = "KVRSUninstall";

// A "Settings" value; the default also when there is no settings path
// (the module's own path did not fit).
static int SettingInt(const char *key, int fallback)
{
    if (!SettingsPath[0])
        return fallback;
    return (int)GetPrivateProfileIntA("Settings", key, fallback, SettingsPath);
}

void ReadBackgroundSettings(void)
{
    static const char *const StartKeys[3] = {"Start Red", "Start Green", "Start Blue"};
    static const char *const EndKeys[3] = {"End Red", "End Green", "End Blue"};
    static const int StartDefaults[3] = {0, 0, 255};
    for (int c = 0; c < 3; c++) {
        // Read as signed so that nonsense values clamp instead of wrapping.
        GradientStart[c] = SettingInt(StartKeys[c], StartDefaults[c]);
        GradientDelta[c] = SettingInt(EndKeys[c], 0) - GradientStart[c];
    }
    NoBackground = SettingInt("No Background", 0);
}

int BandColour(int band, int component)
{
    long long v = GradientStart[component] + (long long)GradientDelta[component] * band / (BAND_COUNT - 1);
    if (v < 0)
        return 0;
    if (v > 255)
        return 255;
    return (int)v;
}

static COLORREF BandRgb(int band)
{
    return RGB(BandColour(band, 0), BandColour(band, 1), BandColour(band, 2));
}

void PrepareBackground(void)
{
    HDC dc = GetDC(NULL);   // the main window does not exist yet: whole screen
    char face[256];
    CopyText(face, sizeof face, "Times New Roman");
    if (SettingsPath[0])
        GetPrivateProfileStringA("Settings", "Title Font", "Times New Roman", face, sizeof face, SettingsPath);
    FontCharSet = SettingInt("Font Character Set", 0) & 0xFF;
    int height = -MulDiv(16, GetDeviceCaps(dc, LOGPIXELSY), 72);
    if (TitleFont)
        DeleteObject(TitleFont);
    TitleFont = CreateFontA(height, 0, 0, 0, FW_BOLD, TRUE, FALSE, FALSE, (BYTE)FontCharSet,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            FF_ROMAN | DEFAULT_PITCH, face);
    short depth = (short)(GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES));
    ScreenWidth = GetDeviceCaps(dc, HORZRES);
    ScreenHeight = GetDeviceCaps(dc, VERTRES);
    if (depth >= 8) {
        HGLOBAL mem = GlobalAlloc(GHND, sizeof(LOGPALETTE) + BAND_COUNT * sizeof(PALETTEENTRY));
        LOGPALETTE *pal = mem ? (LOGPALETTE *)GlobalLock(mem) : NULL;
        if (pal) {
            pal->palVersion = 0x300;
            pal->palNumEntries = BAND_COUNT;
            for (int i = 0; i < BAND_COUNT; i++) {
                pal->palPalEntry[i].peRed = (BYTE)BandColour(i, 0);
                pal->palPalEntry[i].peGreen = (BYTE)BandColour(i, 1);
                pal->palPalEntry[i].peBlue = (BYTE)BandColour(i, 2);
                pal->palPalEntry[i].peFlags = 0;
            }
            if (BackgroundPalette)
                DeleteObject(BackgroundPalette);
            BackgroundPalette = CreatePalette(pal);
            GlobalUnlock(mem);
            if (BackgroundPalette) {
                SelectPalette(dc, BackgroundPalette, FALSE);
                RealizePalette(dc);
            }
        }
        if (mem)
            GlobalFree(mem);
    }
    ReleaseDC(NULL, dc);
}

int RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    wc.style = 0;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = ClassName;
    return RegisterClassA(&wc) != 0;
}

int CreateMainWindow(HINSTANCE instance, int showCommand)
{
    (void)showCommand;  // the window is shown maximized or not at all
    ProgramInstance = instance;
    MainWindow = CreateWindowExA(0, ClassName, " ",
                                 WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX,
                                 0, 0, 640, 480, NULL, NULL, instance, NULL);
    if (!MainWindow)
        return 0;
    if (WindowTitle[0])
        SetWindowTextA(MainWindow, WindowTitle);
    if (!Silent && !CleanupMode && !NoBackground)
        ShowWindow(MainWindow, SW_SHOWMAXIMIZED);
    UpdateWindow(MainWindow);
    return 1;
}

void DeleteBackgroundObjects(void)
{
    if (TitleFont)
        DeleteObject(TitleFont);
    TitleFont = NULL;
    if (BackgroundPalette)
        DeleteObject(BackgroundPalette);
    BackgroundPalette = NULL;
}

static void PaintGradient(HWND w)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    RECT rc;
    GetClientRect(w, &rc);
    HPALETTE oldPal = NULL;
    if (BackgroundPalette) {
        oldPal = SelectPalette(dc, BackgroundPalette, FALSE);
        RealizePalette(dc);
    }
    int previousBottom = -1;
    for (int i = 0; i < BAND_COUNT; i++) {
        int top = previousBottom;
        int bottom = (i + 1) * rc.bottom / BAND_COUNT;
        COLORREF colour = BackgroundPalette ? PALETTEINDEX(i) : BandRgb(i);
        HBRUSH brush = CreateSolidBrush(colour);
        HGDIOBJ old = SelectObject(dc, brush);
        PatBlt(dc, 0, top, rc.right, bottom - top, PATCOPY);
        SelectObject(dc, old);
        DeleteObject(brush);
        previousBottom = bottom;
    }
    if (oldPal)
        SelectPalette(dc, oldPal, FALSE);
    EndPaint(w, &ps);
}

static LRESULT RealizeForeground(HWND w)
{
    if (!BackgroundPalette)
        return 0;
    HDC dc = GetDC(w);
    HPALETTE old = SelectPalette(dc, BackgroundPalette, FALSE);
    UINT changed = RealizePalette(dc);
    if (changed && changed != GDI_ERROR)
        InvalidateRect(w, NULL, TRUE);
    SelectPalette(dc, old, TRUE);
    RealizePalette(dc);
    ReleaseDC(w, dc);
    return changed == GDI_ERROR ? 0 : (LRESULT)changed;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK MainWndProc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        PaintGradient(w);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        TimerWait = 0;
        return 0;
    case WM_PALETTECHANGED:
        if ((HWND)wp == w)
            return 0;
        return RealizeForeground(w);
    case WM_QUERYNEWPALETTE:
        return RealizeForeground(w);
    default:
        return DefWindowProcA(w, msg, wp, lp);
    }
}
