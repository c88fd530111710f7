// Numbered message texts, with the settings file's overrides, and the
// message boxes that show them.
#include "messages.h"
#include "../base/state.h"
#include "../base/text.h"
#include <stdlib.h>
#include <string.h>

static const char NotOverridden[] = "\x7f";

void LoadMessage(int number, char *buf, size_t cap)
{
    if (cap == 0)
        return;
    buf[0] = 0;
    if (SettingsPath[0]) {
        char key[16];
        FormatText(key, sizeof key, "Msg%d", number);
        GetPrivateProfileStringA("Language", key, NotOverridden, buf, (DWORD)cap, SettingsPath);
        if (strcmp(buf, NotOverridden) != 0) {
            // "|" stands for a line break; the longer text stays within cap,
            // and a break that no longer fits whole is dropped.
            char *src = _strdup(buf);
            if (!src)
                return;
            size_t o = 0;
            for (const char *p = src; *p; p++) {
                size_t need = *p == '|' ? 2 : 1;
                if (o + need > cap - 1)
                    break;
                if (*p == '|') {
                    buf[o++] = '\r';
                    buf[o++] = '\n';
                } else {
                    buf[o++] = *p;
                }
            }
            buf[o] = 0;
            free(src);
            return;
        }
    }
    HINSTANCE inst = ProgramInstance ? ProgramInstance : GetModuleHandleA(NULL);
    if (LoadStringA(inst, (UINT)number, buf, (int)cap) <= 0)
        buf[0] = 0;
}

int ShowMessage(HWND owner, int captionNumber, int textNumber, UINT flags)
{
    char caption[PATH_CAP], text[DIALOG_TEXT_CAP];
    LoadMessage(captionNumber, caption, sizeof caption);
    LoadMessage(textNumber, text, sizeof text);
    return MessageBoxA(owner, text, caption, flags);
}
