// Services, virtual-device lines in SYSTEM.INI and self-registered servers.
#pragma once

// Result non-zero when the service was marked for deletion (in a preview:
// when it is there); else the last error says why.
int DeleteServiceByName(const char *name);
enum { DEVICE_DONE = 0, DEVICE_NO_LINE = 1, DEVICE_FAILED = 2 };
int RemoveDeviceLine(const char *path);
// mode 0 unregisters the server, 1 registers it again; prefix is the
// progress text shown before the path. Result non-zero when the server was
// found and called (in a preview: when it is there to be called).
int SelfRegisterFile(const char *prefix, const char *path, int mode);
