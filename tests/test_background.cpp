// The background window: band colours, the painted gradient, caption,
// visibility and the wait timer.
#include <gtest/gtest.h>
#include "kvtest.h"
#include "app/background.h"
#include "app/runflow.h"
#include "base/state.h"
#include "base/text.h"

namespace {

class Background : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = ScratchDir("background");
        CopyText(SettingsPath, sizeof SettingsPath, (dir + "\\UNINSTAL.INI").c_str());
        Silent = CleanupMode = 0;
        WindowTitle[0] = 0;
    }
    void TearDown() override
    {
        if (MainWindow)
            DestroyWindow(MainWindow);
        MainWindow = NULL;
        PumpFor(20);
        DeleteBackgroundObjects();
        SettingsPath[0] = 0;
        WindowTitle[0] = 0;
        Silent = 0;
        RemoveTreeForTest(dir);
    }
    void Settings(const char *key, const char *value)
    {
        WritePrivateProfileStringA("Settings", key, value, SettingsPath);
    }
    void MakeWindow()
    {
        ReadBackgroundSettings();
        PrepareBackground();
        static bool registered = false;
        if (!registered)
            registered = RegisterMainClass(GetModuleHandleA(NULL)) != 0;
        ASSERT_TRUE(registered);
        ASSERT_EQ(1, CreateMainWindow(GetModuleHandleA(NULL), SW_SHOWNORMAL));
        PumpFor(50);
    }
};

TEST_F(Background, BandColours)
{
    struct Row { const char *startRed, *endRed, *startBlue, *endBlue; int band, red, blue; };
    const Row rows[] = {
        {nullptr, nullptr, nullptr, nullptr, 0, 0, 255},     // defaults: blue to black
        {nullptr, nullptr, nullptr, nullptr, 95, 0, 0},
        {nullptr, nullptr, nullptr, nullptr, 47, 0, 129},    // 255 - 255*47/95, truncated
        {"300", "0", nullptr, nullptr, 0, 255, 255},         // clamped above
        {"300", "0", nullptr, nullptr, 10, 255, 229},        // 300 - 31 = 269, clamped
        {"300", "0", nullptr, nullptr, 50, 143, 121},        // 300 - 157
        {"-50", "100", "0", "0", 0, 0, 0},                   // clamped below
        {"-50", "100", "0", "0", 95, 100, 0},
        {"-50", "100", "0", "0", 30, 0, 0},                  // -50 + 47 = -3
        {"-50", "100", "0", "0", 40, 13, 0},                 // -50 + 63
    };
    for (const Row &r : rows) {
        DeleteFileA(SettingsPath);
        if (r.startRed) Settings("Start Red", r.startRed);
        if (r.endRed) Settings("End Red", r.endRed);
        if (r.startBlue) Settings("Start Blue", r.startBlue);
        if (r.endBlue) Settings("End Blue", r.endBlue);
        ReadBackgroundSettings();
        SCOPED_TRACE(testing::Message() << "band " << r.band << " start red "
                                        << (r.startRed ? r.startRed : "default"));
        EXPECT_EQ(r.red, BandColour(r.band, 0));
        EXPECT_EQ(0, BandColour(r.band, 1));
        EXPECT_EQ(r.blue, BandColour(r.band, 2));
    }
}

// Reads the painted client area back through a DIB section.
static std::vector<DWORD> CaptureClient(HWND w, int *width, int *height)
{
    RECT rc;
    GetClientRect(w, &rc);
    *width = rc.right;
    *height = rc.bottom;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = rc.right;
    bi.bmiHeader.biHeight = -rc.bottom;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void *bits = NULL;
    HDC wdc = GetDC(w);
    HDC mem = CreateCompatibleDC(wdc);
    HBITMAP dib = CreateDIBSection(wdc, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, rc.right, rc.bottom, wdc, 0, 0, SRCCOPY);
    std::vector<DWORD> px((DWORD *)bits, (DWORD *)bits + rc.right * rc.bottom);
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(w, wdc);
    return px;
}

TEST_F(Background, PaintsNinetySixBandsOverTheClientArea)
{
    Settings("Start Red", "300");
    MakeWindow();
    RedrawWindow(MainWindow, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
    int w = 0, h = 0;
    std::vector<DWORD> px = CaptureClient(MainWindow, &w, &h);
    ASSERT_GT(h, 96);
    for (int band : {0, 1, 20, 47, 94, 95}) {
        int top = band * h / 96, bottom = (band + 1) * h / 96;
        int y = (top + bottom) / 2;
        DWORD p = px[y * w + w / 2];
        int red = (p >> 16) & 0xFF, green = (p >> 8) & 0xFF, blue = p & 0xFF;
        SCOPED_TRACE(testing::Message() << "band " << band << " row " << y);
        EXPECT_EQ(BandColour(band, 0), red);
        EXPECT_EQ(BandColour(band, 1), green);
        EXPECT_EQ(BandColour(band, 2), blue);
    }
    // The whole width is filled: the last column has the colour of the first.
    EXPECT_EQ(px[(h / 2) * w], px[(h / 2) * w + w - 1]);
}

TEST_F(Background, CaptionAndVisibility)
{
    MakeWindow();
    char caption[64];
    GetWindowTextA(MainWindow, caption, sizeof caption);
    EXPECT_STREQ(" ", caption);
    EXPECT_TRUE(IsWindowVisible(MainWindow));
    EXPECT_TRUE(IsZoomed(MainWindow));
    DestroyWindow(MainWindow);
    PumpFor(20);

    CopyText(WindowTitle, sizeof WindowTitle, "Orders 2.0 Setup");
    Silent = 1;
    MakeWindow();
    GetWindowTextA(MainWindow, caption, sizeof caption);
    EXPECT_STREQ("Orders 2.0 Setup", caption);
    EXPECT_FALSE(IsWindowVisible(MainWindow)) << "silent runs never show it";
    DestroyWindow(MainWindow);
    PumpFor(20);

    Silent = 0;
    Settings("No Background", "1");
    MakeWindow();
    EXPECT_FALSE(IsWindowVisible(MainWindow));
}

TEST_F(Background, TimerMessageEndsTheWait)
{
    MakeWindow();
    TimerWait = 1;
    ASSERT_NE(0u, SetTimer(MainWindow, WAIT_TIMER_ID, 20, NULL));
    MSG msg;
    DWORD start = GetTickCount();
    while (TimerWait && GetTickCount() - start < 5000) {
        if (GetMessageA(&msg, NULL, 0, 0) <= 0)
            break;
        DispatchMessageA(&msg);
    }
    KillTimer(MainWindow, WAIT_TIMER_ID);
    EXPECT_EQ(0, TimerWait);
}

TEST_F(Background, TitleFontFromSettings)
{
    Settings("Title Font", "Arial");
    Settings("Font Character Set", "494");   // only the low 8 bits count
    PrepareBackground();
    ASSERT_NE((HFONT)NULL, TitleFont);
    LOGFONTA lf;
    ASSERT_EQ((int)sizeof lf, GetObjectA(TitleFont, sizeof lf, &lf));
    EXPECT_STREQ("Arial", lf.lfFaceName);
    EXPECT_EQ(700, lf.lfWeight);
    EXPECT_TRUE(lf.lfItalic);
    EXPECT_EQ(494 & 0xFF, FontCharSet);
    EXPECT_EQ(494 & 0xFF, lf.lfCharSet);
    EXPECT_EQ(FF_ROMAN | DEFAULT_PITCH, lf.lfPitchAndFamily);
    EXPECT_LT(lf.lfHeight, 0);
}

} // namespace
