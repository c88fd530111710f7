// The table of protected registry keys: every spelling of a protected key
// is caught, a product's own keys pass.
#include <gtest/gtest.h>
#include "engine/keyguard.h"

namespace {

struct Row {
    int root;
    const char *key;
    int isProtected;
};

TEST(KeyGuard, ProtectedKeysAndTheirSpellings)
{
    const Row rows[] = {
        // A root's direct child, under every root but HKCR.
        {1, "Software", 1}, {2, "SOFTWARE", 1}, {2, "SYSTEM", 1}, {2, "HARDWARE", 1},
        {1, "Environment", 1}, {1, "KvVendorTop", 1}, {4, "Software", 1}, {3, ".DEFAULT", 1},
        {3, "S-1-5-21-1-2-3-1000", 1}, {3, "S-1-5-21-1-2-3-1000_Classes", 1},
        // Spellings: case, blanks, leading, trailing and doubled backslashes.
        {1, "software", 1}, {1, "\\Software", 1}, {1, "Software\\", 1}, {1, "Software\\\\", 1},
        {1, " Software ", 1}, {2, "Software\\\\Microsoft", 1}, {2, "\\\\software\\microsoft\\", 1},
        {2, "Software\\ \\Microsoft", 1},
        // The root itself, and roots outside the table.
        {1, "", 1}, {1, "\\", 1}, {1, "\\\\\\", 1}, {5, "Software\\Vendor\\Product", 1},
        {-1, "Software\\Vendor\\Product", 1},
        // Shared keys under Software, in both views and under users.
        {2, "Software\\Microsoft", 1}, {1, "Software\\Microsoft\\Windows", 1},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion", 1},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 1},
        {1, "software\\microsoft\\windows\\currentversion\\runonce", 1},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 1},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", 1},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 1},
        {1, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 1},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies", 1},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved", 1},
        {2, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", 1},
        {2, "Software\\Wow6432Node", 1}, {2, "Software\\Wow6432Node\\Microsoft", 1},
        {2, "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 1},
        {2, "Software\\Classes", 1}, {1, "Software\\Classes", 1}, {2, "Software\\Policies", 1},
        {1, "Software\\Policies\\Microsoft", 1}, {2, "Software\\ODBC\\ODBCINST.INI", 1},
        {3, ".DEFAULT\\Software", 1}, {3, ".DEFAULT\\Software\\Microsoft", 1},
        {3, "S-1-5-21-1-2-3-1000\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", 1},
        {3, "S-1-5-21-1-2-3-1000\\Control Panel", 1},
        {1, "Control Panel\\Desktop", 1},
        // The control sets.
        {2, "SYSTEM\\CurrentControlSet", 1}, {2, "System\\CurrentControlSet\\Services", 1},
        {2, "SYSTEM\\CurrentControlSet\\Control", 1}, {2, "SYSTEM\\CurrentControlSet\\Enum", 1},
        {2, "SYSTEM\\ControlSet001\\Services", 1},
        {2, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 1},
        {2, "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application", 1},
        {4, "System\\CurrentControlSet", 1},
        // Classes, under HKCR and wherever they are merged from.
        {0, "CLSID", 1}, {0, "Interface", 1}, {0, "TypeLib", 1}, {0, "AppID", 1}, {0, "*", 1},
        {0, "Directory", 1}, {0, "Folder", 1}, {0, "Drive", 1}, {0, "AllFilesystemObjects", 1},
        {0, ".txt", 1}, {0, ".EXE", 1}, {0, "exefile", 1}, {0, "txtfile", 1}, {0, "batfile", 1},
        {0, "cmdfile", 1}, {0, "comfile", 1}, {0, "dllfile", 1}, {0, "inifile", 1},
        {0, "lnkfile", 1}, {0, "regfile", 1}, {0, "Unknown", 1}, {0, "\\clsid\\", 1},
        {0, "*\\shellex", 1}, {0, "*\\shellex\\ContextMenuHandlers", 1},
        {0, "Directory\\Background\\shellex\\ContextMenuHandlers", 1},
        {0, "Folder\\shell", 1}, {0, "exefile\\shell", 1}, {0, "Wow6432Node", 1},
        {0, "Wow6432Node\\CLSID", 1},
        {1, "Software\\Classes\\CLSID", 1}, {2, "Software\\Classes\\*", 1},
        {2, "Software\\Classes\\.txt", 1}, {2, "Software\\Wow6432Node\\Classes\\TypeLib", 1},
        {3, "S-1-5-21-1-2-3-1000_Classes\\CLSID", 1},
        {3, "S-1-5-21-1-2-3-1000\\Software\\Classes\\Interface", 1},
        // A product's own keys pass.
        {1, "Software\\Vendor", 0}, {1, "Software\\Vendor\\Product", 0},
        {2, "Software\\Vendor\\Product\\1.0", 0}, {2, "Software\\Wow6432Node\\Vendor\\Product", 0},
        {2, "Software\\Borland\\Database Engine", 0}, {2, "Software\\Borland", 0},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Product", 0},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PRODUCT.EXE", 0},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Sub", 0},
        {2, "Software\\Microsoft\\Vendor Tool", 0},
        {2, "SYSTEM\\CurrentControlSet\\Services\\KvService", 0},
        {2, "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\KvApp", 0},
        {3, ".DEFAULT\\Software\\Vendor\\Product", 0},
        {0, "Vendor.Document", 0}, {0, "Vendor.Document.1", 0}, {0, ".kvx", 0},
        {0, "CLSID\\{12345678-1234-1234-1234-123456789012}", 0},
        {0, "*\\shellex\\ContextMenuHandlers\\VendorMenu", 0}, {0, "kvxfile", 0},
        {0, "Wow6432Node\\Vendor.Document", 0}, {0, "exefile2", 0}, {0, ".txt2", 0},
        {2, "Software\\Classes\\Vendor.Document", 0},
        {1, "Software\\Classes\\CLSID\\{12345678-1234-1234-1234-123456789012}", 0},
        {3, "S-1-5-21-1-2-3-1000_Classes\\Vendor.Document", 0},
        {1, "Software\\Vendor\\Product\\a\\b\\c\\d\\e\\f\\g\\h\\i\\j\\k\\l\\m\\n\\o\\p\\q", 0},
    };
    for (const Row &r : rows)
        EXPECT_EQ(r.isProtected, IsProtectedKey(r.root, r.key))
            << "root " << r.root << " key \"" << r.key << "\"";
}

TEST(KeyGuard, PlainSpelling)
{
    struct Plain { const char *key; int plain; };
    const Plain rows[] = {
        {"Software\\Vendor\\Product", 1}, {"Vendor.Document", 1}, {"*", 1},
        {"Software\\Vendor Name\\Product 2", 1},
        {"", 0}, {"\\Software\\Vendor", 0}, {"Software\\Vendor\\", 0},
        {"Software\\\\Vendor", 0}, {"Software\\Ven\tdor", 0}, {"Software\\Vendor\r\n", 0},
    };
    for (const Plain &r : rows)
        EXPECT_EQ(r.plain, IsPlainKey(r.key)) << "\"" << r.key << "\"";
}

}  // namespace
