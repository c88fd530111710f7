// The buffered line reader: the log, and SYSTEM.INI when device lines are
// disabled. CR ends a line, LF is dropped wherever it stands.
#include "linereader.h"
#include "../base/state.h"
#include <string.h>

long LogBufferBase;
int LogBufferPos, LogBufferLen;
static long LineStart;
static int LineNul;         // the line just read held a NUL byte

void ResetLineReader(void)
{
    ZeroMemory(LogBuffer, sizeof LogBuffer);
    LogBufferPos = LogBufferLen = 0;
    LogBufferBase = 0;
    LineStart = 0;
}

// Reads the next block when the buffer is used up. 0 at the end of the file.
static int Refill(HFILE file)
{
    if (LogBufferLen > 0)
        LogBufferBase += LogBufferLen;
    LogBufferLen = (int)_lread(file, LogBuffer, sizeof LogBuffer);
    LogBufferPos = 0;
    if (LogBufferLen <= 0 || LogBufferLen == (int)HFILE_ERROR) {
        LogBufferLen = 0;
        return 0;
    }
    return 1;
}

int ReadLogLine(HFILE file, char *line, size_t cap, int keepEmpty, int *tooLong)
{
    if (tooLong)
        *tooLong = 0;
    for (;;) {
        size_t len = 0;
        int started = 0, ended = 0;
        LineNul = 0;
        // The buffer is scanned in place, a block at a time.
        while (!ended && (LogBufferPos < LogBufferLen || Refill(file))) {
            const unsigned char *buf = (const unsigned char *)LogBuffer;
            int pos = LogBufferPos, end = LogBufferLen;
            while (pos < end) {
                unsigned char c = buf[pos++];
                if (c == '\r') {
                    ended = 1;
                    break;
                }
                if (c == '\n')
                    continue;
                if (!started) {
                    LineStart = LogBufferBase + pos - 1;
                    started = 1;
                }
                if (c == 0)
                    LineNul = 1;
                if (len + 1 < cap)
                    line[len++] = (char)c;
                else if (tooLong)
                    *tooLong = 1;
            }
            LogBufferPos = pos;
        }
        if (cap)
            line[len] = 0;
        if (!ended)
            return 0;
        if (started || keepEmpty) {
            if (!started)
                LineStart = LogBufferBase + LogBufferPos - 1;
            return 1;
        }
    }
}

long LastLineOffset(void)
{
    return LineStart;
}

int LastLineHadNul(void)
{
    return LineNul;
}
