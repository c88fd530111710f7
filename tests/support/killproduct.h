// The product of the kill runs: two installations of a few hundred files
// (made folders, a copied tree, backups), registry values with old data, a
// tree, INI items and a device line in SYSTEM.INI, and the log that records
// them; and the runs that start the uninstaller and end it at some moment.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

extern const char KillRegKey[];         // under HKCU

struct KillProduct {
    std::string top;            // the product's folder ("C:\KVKILL", or on another drive)
    std::string win;            // the Windows folder
    std::string sysIniBase;     // SYSTEM.INI as it was before the product
    // Files of the two installations; a third as many in the copied tree, a
    // quarter overwritten with backups, a sixth as many registry values and
    // a twelfth as many INI items (at least 4).
    int files = 120;
};

// The product at top, with the Windows folder and its SYSTEM.INI as now.
KillProduct KillProductAt(const std::string &top, int files = 120);
// Lays both installations down (after removing what is left of them); the
// log's path.
std::string InstallKillProduct(const KillProduct &p);
// The product's part of the machine as text: files with content, registry,
// WIN.INI's item, SYSTEM.INI, the status file without its date line.
std::string KillSnapshot(const KillProduct &p);
// Removes the product and puts SYSTEM.INI and WIN.INI back.
void RemoveKillProduct(const KillProduct &p);
// The text cut at each line end.
std::vector<std::string> TextLines(const std::string &text);
// The first lines where two snapshots differ, "got" and "want".
std::string SnapshotDiff(const std::string &got, const std::string &want);

// Starts the program and kills it after ms milliseconds (if it still runs).
void RunAndKill(const std::string &program, const std::string &args, DWORD ms);
// Runs the program to its end (the test fails when it does not end); the
// milliseconds it took.
DWORD RunWhole(const std::string &program, const std::string &args);
