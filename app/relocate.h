// Self-relocation: the temporary copy of the program, the removal of the
// program's own file at the end, and the clean-up run of that copy.
#pragma once

void MakeTempCopy(void);
void RemoveSelf(void);
// The clean-up run; text = the command text after "/z".
void RunCleanup(const char *text);
