// Numbered message texts (1 to 69) with overrides from the settings file.
#pragma once
#include <stddef.h>

// Writes message number into buf (cap bytes including the NUL). An entry
// "Msg<number>" in section [Language] of the settings file replaces the
// built-in text, with each "|" standing for CR LF; the expanded text is cut
// to fit the buffer.
void LoadMessage(int number, char *buf, size_t cap);
