// The log reader's current line and its tests (readstate.h).
#include "readstate.h"
#include "linereader.h"
#include "../base/refusals.h"
#include "../base/text.h"
#include <string.h>

char Line[LINE_CAP];
int LineDamaged;
static int LogEnded;        // the last line has been read
static long LineOffset;
static HFILE From = HFILE_ERROR;

void BeginLines(HFILE file)
{
    From = file;
    LogEnded = 0;
    Line[0] = 0;
    LineDamaged = 0;
    ResetLineReader();
}

long CurrentLineOffset(void)
{
    return LineOffset;
}


int ReadNext(void)
{
    if (LogEnded) {
        Line[0] = 0;
        LineDamaged = 0;
        return 0;
    }
    int more = ReadLogLine(From, Line, sizeof Line, 0, &LineDamaged);
    if (LastLineHadNul())
        LineDamaged = 1;
    LineOffset = LastLineOffset();
    if (!more) {
        // A last line without a line end still counts.
        LogEnded = 1;
        if (!Line[0] && !LineDamaged)
            return 0;
    }
    return 1;
}

int IsBlockHeader(void)
{
    return StartsWithNoCase(Line, "*** ");
}

void RefuseLine(void)
{
    RecordRefusal("LINE", Line, "BAD-LINE", InstallCount);
}

int LineIs(const char *tag, const char **value)
{
    if (!StartsWithNoCase(Line, tag))
        return TAG_OTHER;
    if (LineDamaged) {
        RefuseLine();           // its group is dropped (or, for a name, left out)
        return TAG_TOO_LONG;
    }
    *value = Line + strlen(tag);
    return TAG_FOUND;
}

int Follow(const char *tag, const char **value)
{
    if (!ReadNext())
        return TAG_END;
    return LineIs(tag, value);
}

int AfterGroup(int found)
{
    return found == TAG_OTHER ? LINE_HANDED_BACK : LINE_USED;
}

int IsMarker(const char *marker)
{
    return !LineDamaged && TextEqualNoCase(Line, marker);
}

