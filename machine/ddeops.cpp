// Program Manager commands (see ddeops.h).
#include "ddeops.h"
#include "recoverline.h"
#include "recovery.h"
#include "../base/oscalls.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../log/inventory.h"
#include <string.h>

enum {
    EXECUTE_TIMEOUT = 1000,
    COMMAND_CAP = NAME_CAP + 32     // a name and the longest command frame
};

int SendProgmanCommand(DWORD instance, HCONV conversation, const char *command)
{
    if (Preview)
        return 1;
    if (!conversation)
        return 0;
    HDDEDATA data = DdeCreateDataHandle(instance, (LPBYTE)command, (DWORD)strlen(command) + 1, 0, 0, 0, 0);
    if (!data)
        return 0;
    if (DdeClientTransaction((LPBYTE)data, (DWORD)-1, conversation, 0, 0, XTYP_EXECUTE, EXECUTE_TIMEOUT, NULL))
        return 1;
    // Only a refusal is a failure: a slow Program Manager may still carry
    // out a command whose answer came too late. The call that tells is
    // looked up, as the imports hold only calls known on every system.
    typedef UINT(WINAPI * LastErrorProc)(DWORD);
    LastErrorProc lastError =
        (LastErrorProc)(void *)Os.GetProcAddress(GetModuleHandleA("USER32.DLL"), "DdeGetLastError");
    return !lastError || lastError(instance) != DMLERR_NOTPROCESSED;
}

static int SendNamed(DWORD instance, HCONV conversation, const char *format, const char *name)
{
    char command[COMMAND_CAP];
    return FormatOneString(command, sizeof command, format, name) == TEXT_FIT &&
           SendProgmanCommand(instance, conversation, command);
}

// The failure reason of a refused command.
static const unsigned long REFUSED = ERROR_NOT_SUPPORTED;

int DeleteProgmanItem(DWORD instance, HCONV conversation, const char *group, const char *item, const char *line,
                      unsigned short installNo)
{
    if (!Preview && !KeepProgmanLine("ICON", group, line)) {
        AddResultRow("ICON", installNo, item, ACT_DELETE, 0, GetLastError(), group);
        return 0;
    }
    SendNamed(instance, conversation, "[ShowGroup(\"%s\",2)]", group);
    SendNamed(instance, conversation, "[ShowGroup(\"%s\",1)]", group);
    int done = SendNamed(instance, conversation, "[DeleteItem(\"%s\")]", item);
    AddResultRow("ICON", installNo, item, ACT_DELETE, done, REFUSED, group);
    return done;
}

int DeleteProgmanGroup(DWORD instance, HCONV conversation, const char *group, const char *line,
                       unsigned short installNo)
{
    if (!Preview && !KeepProgmanLine("GROUP", group, line)) {
        AddResultRow("GROUP", installNo, group, ACT_DELETE, 0, GetLastError(), NULL);
        return 0;
    }
    int done = SendNamed(instance, conversation, "[DeleteGroup(\"%s\")]", group);
    AddResultRow("GROUP", installNo, group, ACT_DELETE, done, REFUSED, NULL);
    return done;
}

int AddProgmanGroupBack(DWORD instance, HCONV conversation, const char *group)
{
    if (!Preview && !SendNamed(instance, conversation, "[CreateGroup(\"%s\")]", group)) {
        SetLastError(REFUSED);
        return UndoRow("GROUP", group, UNDO_FAILED, NULL);
    }
    return UndoRow("GROUP", group, UNDO_DONE, NULL);
}

int AddProgmanItemBack(DWORD instance, HCONV conversation, const char *group, const char *const *fields, int count)
{
    // The description's order is name, command, folder, icon, x, y, icon
    // index, hot key, minimised; AddItem takes command, name, icon, index,
    // x, y, folder, hot key, minimised.
    char command[3 * NAME_CAP + 6 * PROGMAN_FIELD_CAP + 64];
    int fit = FormatText(command, sizeof command, "[CreateGroup(\"%s\")][ShowGroup(\"%s\",1)]", group, group) == TEXT_FIT;
    if (count == 2)
        fit = fit && FormatText(command + strlen(command), sizeof command - strlen(command), "[AddItem(\"%s\",\"%s\")]",
                                fields[1], fields[0]) == TEXT_FIT;
    else
        fit = fit && FormatText(command + strlen(command), sizeof command - strlen(command),
                                "[AddItem(\"%s\",\"%s\",\"%s\",%s,%s,%s,\"%s\",%s,%s)]", fields[1], fields[0],
                                fields[3], fields[6], fields[4], fields[5], fields[2], fields[7], fields[8]) == TEXT_FIT;
    if (!fit || (!Preview && !SendProgmanCommand(instance, conversation, command))) {
        SetLastError(fit ? REFUSED : ERROR_BUFFER_OVERFLOW);
        return UndoRow("ICON", fields[0], UNDO_FAILED, group);
    }
    return UndoRow("ICON", fields[0], UNDO_DONE, group);
}
