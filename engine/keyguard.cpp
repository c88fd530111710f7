// The table of protected registry keys. A key is protected when it is
//  - a root's direct child (any single name under HKCU, HKLM, HKU, HKCC, and
//    under HKU also a user's own root such as .DEFAULT or a SID);
//  - Software, Software\Wow6432Node or Software\Classes under a machine or
//    user root, or one of the shared keys of SoftwareTable below them;
//  - under HKLM or HKCC, SYSTEM\CurrentControlSet (or ControlSetNNN) and the
//    keys of ControlSetTable below it, or a key of MachineTable;
//  - under a user root, a key of UserTable;
//  - a class key of ClassesTable, under HKCR, under Software\Classes of any
//    root, or under HKU\<user>_Classes; or one of the shell keys' shared
//    children (ShellKeyTable with ShellChildTable).
// Keys below these (a product's own Software\Vendor\Product, a ProgID such as
// Vendor.Document, a CLSID\{...} of its own) are not protected.
#include "keyguard.h"
#include "../base/text.h"
#include <string.h>

static const char *const SoftwareTable[] = {
    "Microsoft", "Microsoft\\Windows", "Microsoft\\Windows\\CurrentVersion",
    "Microsoft\\Windows\\CurrentVersion\\App Paths",
    "Microsoft\\Windows\\CurrentVersion\\Controls Folder",
    "Microsoft\\Windows\\CurrentVersion\\Explorer",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers",
    "Microsoft\\Windows\\CurrentVersion\\Fonts",
    "Microsoft\\Windows\\CurrentVersion\\Installer",
    "Microsoft\\Windows\\CurrentVersion\\Internet Settings",
    "Microsoft\\Windows\\CurrentVersion\\Policies",
    "Microsoft\\Windows\\CurrentVersion\\Run", "Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
    "Microsoft\\Windows\\CurrentVersion\\RunServices",
    "Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
    "Microsoft\\Windows\\CurrentVersion\\Setup",
    "Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "Microsoft\\Windows\\CurrentVersion\\Shell Extensions",
    "Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
    "Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "Microsoft\\Windows NT", "Microsoft\\Windows NT\\CurrentVersion",
    "Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    "Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
    "Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    "Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    "Microsoft\\Windows NT\\CurrentVersion\\Windows",
    "Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
    "Microsoft\\Active Setup", "Microsoft\\Active Setup\\Installed Components",
    "Microsoft\\Command Processor", "Microsoft\\Cryptography", "Microsoft\\Internet Explorer",
    "Microsoft\\.NETFramework", "Microsoft\\Shared Tools", "Microsoft\\SystemCertificates",
    "Policies", "Policies\\Microsoft", "Policies\\Microsoft\\Windows",
    "Clients", "RegisteredApplications",
    "ODBC", "ODBC\\ODBC.INI", "ODBC\\ODBC.INI\\ODBC Data Sources", "ODBC\\ODBCINST.INI",
    "ODBC\\ODBCINST.INI\\ODBC Drivers",
};

static const char *const ControlSetTable[] = {
    "Services", "Control", "Enum", "Hardware Profiles", "Services\\Eventlog",
    "Services\\Eventlog\\Application", "Services\\Eventlog\\System", "Control\\Class",
    "Control\\Print", "Control\\Session Manager", "Control\\Session Manager\\Environment",
    "Control\\Lsa", "Control\\Network", "Control\\SafeBoot",
};

static const char *const MachineTable[] = {
    "SYSTEM\\Select", "SYSTEM\\Setup", "SYSTEM\\MountedDevices",
    "HARDWARE\\DESCRIPTION", "HARDWARE\\DEVICEMAP",
};

static const char *const UserTable[] = {
    "Control Panel\\Desktop", "Control Panel\\International", "Control Panel\\Colors",
    "AppEvents\\Schemes", "AppEvents\\Schemes\\Apps", "AppEvents\\EventLabels",
};

// Class keys that Windows owns: the COM registrations, the shell's
// namespace keys, the extensions and file types of the system.
static const char *const ClassesTable[] = {
    "CLSID", "Interface", "TypeLib", "AppID", "Component Categories", "Installer",
    "*", "Directory", "Directory\\Background", "Folder", "Drive", "AllFilesystemObjects",
    "Network", "Unknown", "Applications", "SystemFileAssociations", "MIME", "MIME\\Database",
    "MIME\\Database\\Content Type", "Protocols", "Protocols\\Handler", "Protocols\\Filter",
    "http", "https", "ftp", "mailto", "file", "InternetShortcut",
    ".bat", ".bmp", ".chm", ".cmd", ".com", ".cpl", ".dll", ".drv", ".exe", ".fon", ".gif",
    ".hlp", ".htm", ".html", ".ico", ".inf", ".ini", ".jpg", ".js", ".lnk", ".log", ".msi",
    ".ocx", ".pif", ".png", ".reg", ".rtf", ".scr", ".sys", ".ttf", ".txt", ".url", ".vbs",
    ".wav", ".wri", ".xml", ".zip",
    "batfile", "chm.file", "cmdfile", "comfile", "cplfile", "dllfile", "drvfile", "exefile",
    "fonfile", "giffile", "hlpfile", "htmlfile", "icofile", "inffile", "inifile", "jpegfile",
    "JSFile", "lnkfile", "Msi.Package", "ocxfile", "Paint.Picture", "piffile", "pngfile",
    "regfile", "rtffile", "scrfile", "SoundRec", "sysfile", "ttffile", "txtfile", "VBSFile",
    "wrifile", "xmlfile", "CompressedFolder",
};

// Shell keys whose handler lists every product shares.
static const char *const ShellKeyTable[] = {
    "*", "Directory", "Directory\\Background", "Folder", "Drive", "AllFilesystemObjects",
    "exefile", "lnkfile", "Unknown",
};
static const char *const ShellChildTable[] = {
    "shell", "shellex", "shellex\\ContextMenuHandlers", "shellex\\PropertySheetHandlers",
    "shellex\\DragDropHandlers", "shellex\\CopyHookHandlers", "shellex\\IconHandler",
    "DefaultIcon",
};

#define COUNT_OF(a) (sizeof(a) / sizeof((a)[0]))

// The names of a key, blanks around each trimmed, empty ones (from leading,
// trailing or doubled backslashes) dropped. Protected keys lie at most a few
// names deep; a key with more names than held is deeper than all of them.
enum { MAX_PARTS = 16 };
struct KeyParts {
    const char *at[MAX_PARTS];
    size_t len[MAX_PARTS];
    int count;          // may exceed MAX_PARTS
};

static void SplitKey(const char *key, KeyParts *p)
{
    p->count = 0;
    while (*key) {
        while (*key == '\\' || *key == ' ' || *key == '\t')
            key++;
        if (!*key)
            break;
        const char *start = key;
        while (*key && *key != '\\')
            key++;
        const char *end = key;
        while (end > start && (end[-1] == ' ' || end[-1] == '\t'))
            end--;
        if (p->count < MAX_PARTS) {
            p->at[p->count] = start;
            p->len[p->count] = (size_t)(end - start);
        }
        p->count++;
    }
}

static int PartIs(const KeyParts *p, int i, const char *name)
{
    return i < p->count && strlen(name) == p->len[i] && TextEqualNoCaseN(p->at[i], name, p->len[i]);
}

// Whether the names from..to-1 are exactly those of path.
static int SpanIs(const KeyParts *p, int from, int to, const char *path)
{
    int i = from;
    while (*path) {
        const char *slash = strchr(path, '\\');
        size_t n = slash ? (size_t)(slash - path) : strlen(path);
        if (i >= to || n != p->len[i] || !TextEqualNoCaseN(p->at[i], path, n))
            return 0;
        i++;
        path += n + (slash ? 1 : 0);
    }
    return i == to;
}

static int InTable(const char *const *table, size_t n, const KeyParts *p, int from, int to)
{
    for (size_t i = 0; i < n; i++)
        if (SpanIs(p, from, to, table[i]))
            return 1;
    return 0;
}
#define IN_TABLE(t, p, from, to) InTable(t, COUNT_OF(t), p, from, to)

static int ClassesProtected(const KeyParts *p, int from)
{
    if (PartIs(p, from, "Wow6432Node"))
        from++;         // the 32-bit view of the same classes
    if (from >= p->count)
        return 1;
    if (IN_TABLE(ClassesTable, p, from, p->count))
        return 1;
    for (int split = from + 1; split < p->count; split++)
        if (IN_TABLE(ShellKeyTable, p, from, split) && IN_TABLE(ShellChildTable, p, split, p->count))
            return 1;
    return 0;
}

// from: the first name after "Software".
static int SoftwareProtected(const KeyParts *p, int from)
{
    if (PartIs(p, from, "Wow6432Node"))
        from++;
    if (from >= p->count)
        return 1;
    if (PartIs(p, from, "Classes"))
        return ClassesProtected(p, from + 1);
    return IN_TABLE(SoftwareTable, p, from, p->count);
}

static int IsControlSet(const KeyParts *p, int i)
{
    if (PartIs(p, i, "CurrentControlSet"))
        return 1;
    if (i >= p->count || p->len[i] != 13 || !TextEqualNoCaseN(p->at[i], "ControlSet", 10))
        return 0;
    for (int d = 10; d < 13; d++)
        if (p->at[i][d] < '0' || p->at[i][d] > '9')
            return 0;
    return 1;
}

static int MachineProtected(const KeyParts *p)
{
    if (p->count == 1)
        return 1;
    if (PartIs(p, 0, "Software"))
        return SoftwareProtected(p, 1);
    if (PartIs(p, 0, "SYSTEM") && IsControlSet(p, 1))
        return p->count == 2 || IN_TABLE(ControlSetTable, p, 2, p->count);
    return IN_TABLE(MachineTable, p, 0, p->count);
}

// A user's root: HKCU, or a user's key under HKU (from 1).
static int UserProtected(const KeyParts *p, int from)
{
    if (p->count - from == 1)
        return 1;
    if (PartIs(p, from, "Software"))
        return SoftwareProtected(p, from + 1);
    return IN_TABLE(UserTable, p, from, p->count);
}

static int EndsWithNoCase(const char *s, size_t n, const char *tail)
{
    size_t t = strlen(tail);
    return n >= t && TextEqualNoCaseN(s + n - t, tail, t);
}

int IsProtectedKey(int root, const char *key)
{
    if (!key || root < 0 || root > 4)
        return 1;
    KeyParts p;
    SplitKey(key, &p);
    if (p.count == 0)
        return 1;
    if (p.count > MAX_PARTS)
        return 0;
    switch (root) {
    case 0:
        return ClassesProtected(&p, 0);
    case 1:
        return UserProtected(&p, 0);
    case 3:
        if (p.count == 1)
            return 1;
        if (EndsWithNoCase(p.at[0], p.len[0], "_Classes"))
            return ClassesProtected(&p, 1);
        return UserProtected(&p, 1);
    default:    // HKLM, HKCC
        return MachineProtected(&p);
    }
}

int IsPlainKey(const char *key)
{
    if (!key || !*key || key[0] == '\\')
        return 0;
    for (const char *c = key; *c; c++) {
        if ((unsigned char)*c < 0x20 || *c == 0x7F)
            return 0;
        if (*c == '\\' && (c[1] == '\\' || c[1] == 0))
            return 0;
    }
    return 1;
}
