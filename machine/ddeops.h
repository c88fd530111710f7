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
int DeleteProgmanItem(DWORD instance, HCONV conversation, const char *group, const char *item,
                      unsigned short installNo);
// Deletes the group, with the GROUP DELETE row.
int DeleteProgmanGroup(DWORD instance, HCONV conversation, const char *group, unsigned short installNo);
