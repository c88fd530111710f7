#include "mif.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../machine/runend.h"
#include "../log/inventory.h"
#include <string.h>

// 69 lines, 1,510 bytes.
static const char StatusTemplate[] =
    "START COMPONENT\r\n"
    "  NAME = \"WORKSTATION\"\r\n"
    "  START GROUP\r\n"
    "    NAME = \"ComponentID\"\r\n"
    "    ID = 1\r\n"
    "    CLASS = \"DMTF|ComponentID|1.0\"\r\n"
    "    START ATTRIBUTE\r\n"
    "      NAME = \"Manufacturer\"\r\n"
    "      ID = 1\r\n"
    "      ACCESS = READ-ONLY\r\n"
    "      STORAGE = SPECIFIC\r\n"
    "      TYPE = STRING(255)\r\n"
    "      VALUE = \"%1%\"\r\n"
    "    END ATTRIBUTE\r\n"
    "    START ATTRIBUTE\r\n"
    "      NAME = \"Product\"\r\n"
    "      ID = 2\r\n"
    "      ACCESS = READ-ONLY\r\n"
    "      STORAGE = SPECIFIC\r\n"
    "      TYPE = STRING(255)\r\n"
    "      VALUE = \"%2%\"\r\n"
    "    END ATTRIBUTE\r\n"
    "    START ATTRIBUTE\r\n"
    "      NAME = \"Version\"\r\n"
    "      ID = 3\r\n"
    "      ACCESS = READ-ONLY\r\n"
    "      STORAGE = SPECIFIC\r\n"
    "      TYPE = STRING(255)\r\n"
    "      VALUE = \"%3%\"\r\n"
    "    END ATTRIBUTE\r\n"
    "    START ATTRIBUTE\r\n"
    "      NAME = \"Serial Number\"\r\n"
    "      ID = 4\r\n"
    "      ACCESS = READ-ONLY\r\n"
    "      STORAGE = SPECIFIC\r\n"
    "      TYPE = STRING(255)\r\n"
    "      VALUE = \"%4%\"\r\n"
    "    END ATTRIBUTE\r\n"
    "    START ATTRIBUTE\r\n"
    "      NAME = \"%5%\"\r\n"
    "      ID = 5\r\n"
    "      ACCESS = READ-ONLY\r\n"
    "      STORAGE = SPECIFIC\r\n"
    "      TYPE = STRING(255)\r\n"
    "      VALUE = \"%6%\"\r\n"
    "    END ATTRIBUTE\r\n"
    "  END GROUP\r\n"
    "  START GROUP\r\n"
    "    NAME = \"%5%Status\"\r\n"
    "    ID = 2\r\n"
    "    CLASS = \"MICROSOFT|JOBSTATUS|1.0\"\r\n"
    "    START ATTRIBUTE\r\n"
    "      NAME = \"Status\"\r\n"
    "      ID = 1\r\n"
    "      ACCESS = READ-ONLY\r\n"
    "      STORAGE = SPECIFIC\r\n"
    "      TYPE = STRING(255)\r\n"
    "      VALUE = \"%7%\"\r\n"
    "    END ATTRIBUTE\r\n"
    "    START ATTRIBUTE\r\n"
    "      NAME = \"Description\"\r\n"
    "      ID = 2\r\n"
    "      ACCESS = READ-ONLY\r\n"
    "      STORAGE = SPECIFIC\r\n"
    "      TYPE = STRING(255)\r\n"
    "      VALUE = \"%8%\"\r\n"
    "    END ATTRIBUTE\r\n"
    "  END GROUP\r\n"
    "END COMPONENT\r\n";

static_assert(sizeof StatusTemplate - 1 == 1510, "status template is 1,510 bytes");

void FormatStatusTime(const SYSTEMTIME *t, char *buf, size_t cap)
{
    FormatText(buf, cap, "%02d/%02d/%02d %d:%02d", t->wMonth, t->wDay, t->wYear % 100, t->wHour, t->wMinute);
}

void FormatStatusDate(char *buf, size_t cap)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    FormatStatusTime(&t, buf, cap);
}

// The text of placeholder %digit%.
static const char *PlaceholderValue(char digit, const char *date)
{
    switch (digit) {
    case '1': return Manufacturer;
    case '2': return ProductName;
    case '3': return VersionNumber;
    case '4': return SerialNumber;
    case '5': return Rollback ? "Rollback" : "Uninstall";
    case '6': return date;
    case '7': return Cancelled ? "Failed" : "Success";
    case '8': return Cancelled ? "Canceled by user" : "";
    }
    return "";
}

// Copies at most the room left; the text stops where the buffer is full.
static size_t Put(size_t at, const char *text, size_t len)
{
    size_t room = SCRATCH_CAP - 1 - at;
    if (len > room)
        len = room;
    memcpy(ScratchBuffer + at, text, len);
    return at + len;
}

// Puts a placeholder's value. The values stand between double quotes in the
// template, and those from the log must not end that text or the line: a
// double quote becomes a single one and a control character a blank.
static size_t PutValue(size_t at, const char *value)
{
    for (const char *v = value; *v && at < SCRATCH_CAP - 1; v++) {
        char c = *v;
        if (c == '"')
            c = '\'';
        else if ((unsigned char)c < 0x20 || c == 0x7F)
            c = ' ';
        at = Put(at, &c, 1);
    }
    return at;
}

size_t BuildStatusText(const char *date)
{
    // The template is read into a work copy, then written into
    // ScratchBuffer with "^" and the placeholders expanded in one pass
    // each, so an inserted value is never scanned again and the text
    // never grows beyond the buffer.
    static char source[SCRATCH_CAP];
    source[0] = 0;
    int overridden = 0;
    if (SettingsPath[0]) {
        GetPrivateProfileStringA("Language", "Msg1000", "\x7f", source, sizeof source, SettingsPath);
        overridden = strcmp(source, "\x7f") != 0;
    }
    size_t len = 0;
    if (!overridden) {
        CopyText(source, sizeof source, StatusTemplate);
    } else {
        for (const char *p = source; *p && len < SCRATCH_CAP - 1; p++)
            len = *p == '^' ? Put(len, "\r\n", 2) : Put(len, p, 1);
        ScratchBuffer[len] = 0;
        CopyText(source, sizeof source, ScratchBuffer);
    }

    len = 0;
    for (const char *p = source; *p && len < SCRATCH_CAP - 1;) {
        if (p[0] == '%' && p[1] >= '1' && p[1] <= '8' && p[2] == '%') {
            len = PutValue(len, PlaceholderValue(p[1], date));
            p += 3;
        } else {
            len = Put(len, p, 1);
            p++;
        }
    }
    ScratchBuffer[len] = 0;
    return len;
}

void WriteStatusFile(void)
{
    if (!MifFileName[0])
        return;
    char path[MAX_PATH + HEADER_CAP];
    UINT n = GetWindowsDirectoryA(path, PATH_CAP);
    if (n == 0 || n >= PATH_CAP)
        return;
    if (path[n - 1] != '\\' && AppendText(path, sizeof path, "\\") != TEXT_FIT)
        return;
    if (AppendText(path, sizeof path, MifFileName) != TEXT_FIT)
        return;
    char date[64];
    FormatStatusDate(date, sizeof date);
    size_t len = BuildStatusText(date);
    // Written beside itself and swapped in: never half-written. One held by
    // another program gets its new text at the next restart.
    WriteStatusText(path, ScratchBuffer, len);
}
