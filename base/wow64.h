// A 32-bit program on 64-bit Windows (WoW64): the system shows it SysWOW64
// under the System folder's name. A path it hands to the 64-bit system (a
// rename at the restart) must name the folder the file really is in.
#pragma once
#include <stddef.h>

// Whether this process runs under WoW64 (asked once; 0 where the system
// cannot tell, as on 95, 98 and NT 4.0).
int RunsUnderWow64(void);
// Copies path into out, with a leading System folder (long or short
// spelling, any case) replaced by the SysWOW64 folder when this process runs
// under WoW64 and the system redirects that place for it. 0 = copied as it
// is, 1 = rewritten, -1 = does not fit (out is then empty: never act on a
// cut path).
int NativeSystemPath(char *out, size_t cap, const char *path);
