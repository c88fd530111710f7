// The MIF status file written at the end of every run that read its log.
#pragma once
#include <windows.h>
#include <stddef.h>

// Writes the status file named by the log's "Uninstall MIF: " line into the
// Windows directory; nothing when the log named none or it cannot be made.
void WriteStatusFile(void);
// The local date and time as "%02d/%02d/%02d %d:%02d" (month, day, year, hour, minute).
void FormatStatusDate(char *buf, size_t cap);
void FormatStatusTime(const SYSTEMTIME *time, char *buf, size_t cap);
// Fills ScratchBuffer with the status text: the template (or the settings
// file's "Msg1000") with its placeholders replaced; date is the %6% text.
// Result: the length of the text.
size_t BuildStatusText(const char *date);
