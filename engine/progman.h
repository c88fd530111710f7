// Program Manager groups and icons, removed over DDE.
#pragma once

// Starts DDE, opens the "PROGMAN" conversation and reads the groups.
// Failure is silent: later calls then find nothing to do.
void ConnectProgman(void);
// Removes the items that match IconList entry index; deletes emptied groups.
void RemoveProgmanItem(int index);
// Closes the conversation, repaints the progress bar and ends DDE.
void CloseProgman(void);
