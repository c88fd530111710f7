// Services, virtual-device lines in SYSTEM.INI and self-registered servers.
#pragma once

void DeleteServiceByName(const char *name);
void RemoveDeviceLine(const char *path);
// mode 0 unregisters the server, 1 registers it again; prefix is the
// progress text shown before the path.
void SelfRegisterFile(const char *prefix, const char *path, int mode);
