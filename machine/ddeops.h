// Program Manager's items and groups deleted over a DDE conversation that
// the engine opened. Each call adds its row with what it saw; a preview
// sends nothing and expects every command to be taken.
#pragma once
#include <windows.h>
#include <ddeml.h>

// Sends one execute command. Result non-zero unless Program Manager
// refused it (a command not answered in time may still be carried out).
int SendProgmanCommand(DWORD instance, HCONV conversation, const char *command);
// Shows group (as the user would see it change) and deletes its item, with
// the ICON DELETE row. Result as SendProgmanCommand's for the deletion.
// line: the item's description line, kept first for an undo (recovery.h).
int DeleteProgmanItem(DWORD instance, HCONV conversation, const char *group, const char *item, const char *line,
                      unsigned short installNo);
// Deletes the group, with the GROUP DELETE row.
// line: the description's first line, kept first for an undo.
int DeleteProgmanGroup(DWORD instance, HCONV conversation, const char *group, const char *line,
                       unsigned short installNo);

// --- an undo (rows as recovery.h's undo calls give them) ---
enum { PROGMAN_FIELDS = 9, PROGMAN_FIELD_CAP = 32 };
// Makes the group again.
int AddProgmanGroupBack(DWORD instance, HCONV conversation, const char *group);
// Adds the item again to group (made when missing) from its description's
// fields: name and command (count 2), or all nine.
int AddProgmanItemBack(DWORD instance, HCONV conversation, const char *group, const char *const *fields, int count);
