// The MIF status file written at the end of every run that read its log.
#pragma once
#include <stddef.h>

void WriteStatusFile(void);
// The local date and time as "%02d/%02d/%02d %d:%02d" (month, day, year, hour, minute).
void FormatStatusDate(char *buf, size_t cap);
