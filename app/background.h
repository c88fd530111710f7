// The background window: a full-screen vertical gradient behind the wizard,
// owner of every dialog and target of the wait timer.
#pragma once
#include <windows.h>

enum { BAND_COUNT = 96 };

// Reads the six colour settings and "No Background" from the settings file.
void ReadBackgroundSettings(void);
// Colour component c (0 red, 1 green, 2 blue) of band i, clamped to 0..255.
int BandColour(int band, int component);
// Title font, character set, screen size and palette; before the window exists.
void PrepareBackground(void);
int RegisterMainClass(HINSTANCE instance);
// Result 1, or 0 when the window cannot be created.
int CreateMainWindow(HINSTANCE instance, int showCommand);
// Deletes the title font and the palette when they exist.
void DeleteBackgroundObjects(void);
extern "C" __declspec(dllexport) LRESULT CALLBACK MainWndProc(HWND, UINT, WPARAM, LPARAM);
