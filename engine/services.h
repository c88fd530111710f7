// Self-registering servers, services and virtual-device lines: the engine
// decides, machine/sysops makes the change and writes its row.
#pragma once
#include "../machine/sysops.h"

// mode 0 unregisters the server, 1 registers it again; prefix is the
// progress text shown before the path. Result non-zero when the server was
// found and called (in a preview: when it is there to be called).
int SelfRegisterFile(const char *prefix, const char *path, int mode, unsigned short installNo = 0);
