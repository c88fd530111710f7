// Numbered message texts (1 to 69) with overrides from the settings file,
// and the message boxes that show them.
#pragma once
#include <windows.h>
#include <stddef.h>

// Writes message number into buf (cap bytes including the NUL). An entry
// "Msg<number>" in section [Language] of the settings file replaces the
// built-in text, with each "|" standing for CR LF; the expanded text is cut
// to fit the buffer.
void LoadMessage(int number, char *buf, size_t cap);
// Shows message textNumber under caption captionNumber in a message box
// owned by owner; the result is the box's.
int ShowMessage(HWND owner, int captionNumber, int textNumber, UINT flags);
