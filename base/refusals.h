// Entries refused by the safety rules (a path that is not plain and
// absolute, a protected folder or key, a damaged line). A refused entry is
// skipped with nothing changed; it is kept here, in the order refused, so
// that the inventory dump shows it and a per-item report can list it.
#pragma once

// Kinds, as a report names them: "FILE", "SYSFILE", "DIR", "TREE", "INIFILE",
// "INI", "REGKEY", "REGVALUE", "REGTREE", "ICON", "GROUP", "SERVICE",
// "DEVICE", "SERVER", "SHARED", "SUBSYSTEM", "PROGRAM", or "LINE" for a log
// line refused whole. Reasons: "BAD-PATH", "PROTECTED", "LINK", "BAD-LINE",
// "NO-BACKUP".
struct RefusalEntry {
    const char *Kind;           // one of the texts above (static)
    const char *Reason;         // one of the texts above (static)
    char *Target;               // heap copy of what was refused (cut at 511 characters)
    unsigned short InstallNo;   // installation block it came from; 0 when not known
};

// Records one refusal (kept until FreeRefusals). Memory that is short drops
// the record, never the refusal itself.
void RecordRefusal(const char *kind, const char *target, const char *reason, unsigned short installNo);
int RefusalCount(void);
const RefusalEntry *RefusalAt(int i);
void FreeRefusals(void);
