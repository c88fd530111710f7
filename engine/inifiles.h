// INI file restore and removal: created INI files deleted, changed items
// written back or deleted. Never creates a file.
#pragma once
#include "../log/inventory.h"

void RemoveIniFile(NewIniEntry *entry);
// Result 1 when the file existed and the item was written back or deleted.
int RestoreIniItem(IniEntry *entry);
