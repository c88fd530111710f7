// Program Manager groups and icons: which are removed (machine/ddeops
// sends the commands).
#pragma once

// Starts DDE, opens the "PROGMAN" conversation and reads the groups into
// GroupNames (state.h). Failure is silent: later calls then find nothing to do.
void ConnectProgman(void);
// Removes the items that match IconList entry index; deletes emptied groups.
void RemoveProgmanItem(int index);
// Closes the conversation (when one exists), repaints the progress bar, ends
// DDE and releases the group list text. Safe to call when nothing is open.
void CloseProgman(void);

// 1 when the group description has no item line left (it is then marked as
// gone with a leading "*"), else 0.
int MarkGroupIfEmpty(char *description);
// Releases the reply to the "GROUPS" request (CloseProgman does it too).
void FreeProgmanText(void);
// Undoes one kept Program Manager line (ConnectProgman first): a group made
// again, or an item added again (row SKIPPED UNCHANGED when it is there as it
// was, CONFLICT when an item of its name is there otherwise). Result 1 when
// it failed.
int UndoProgmanLine(int isGroup, const char *group, const char *line);
