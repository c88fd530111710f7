#include "lists.h"
#include "../base/text.h"
#include "../log/inventory.h"
#include "../resources/resource.h"
#include <string.h>

int ShownCount;

// The inventory list shown by pages 1 to 9; page 10 combines three sources.
static EntryList *PageList(int page)
{
    switch (page) {
    case 1: return &AppFileList;
    case 2: return &SysFileList;
    case 3: return &DirList;
    case 4: return &NewIniList;
    case 5: return &IniEntryList;
    case 6: return &RegKeyList;
    case 7: return &RegTreeList;
    case 8: return &RegValueList;
    case 9: return &IconList;
    default: return NULL;
    }
}

int ListPageCount(int page)
{
    if (page == LAST_LIST_PAGE)
        return (SubSystemName ? 1 : 0) + ProgramList.Count + ServiceList.Count;
    EntryList *list = PageList(page);
    return list ? list->Count : 0;
}

// Where line i of page 10 points: -1 the sub-system, else a program (kind 0)
// or a service (kind 1) and its index.
static int SubSystemLine(int line, int *kind, int *index)
{
    int k = line;
    if (SubSystemName) {
        if (line == 0)
            return -1;
        k = line - 1;
    }
    if (k < ProgramList.Count) {
        *kind = 0;
        *index = k;
    } else {
        *kind = 1;
        *index = k - ProgramList.Count;
    }
    return 0;
}

void ListLineText(int page, int line, char *buf, size_t cap)
{
    if (cap == 0)
        return;
    buf[0] = 0;
    if (line < 0 || line >= ListPageCount(page))
        return;
    switch (page) {
    case 1:
    case 2:
        CopyText(buf, cap, ENTRY_AT(FileEntry, *PageList(page), line)->Path);
        break;
    case 3: {
        const char *path = ENTRY_AT(DirEntry, DirList, line)->Path;
        size_t n = strlen(path);
        // Shown without the trailing backslash that every directory entry has.
        if (n && path[n - 1] == '\\')
            n--;
        CopyTextN(buf, cap, path, n);
        break;
    }
    case 4:
        CopyText(buf, cap, ENTRY_AT(NewIniEntry, NewIniList, line)->Path);
        break;
    case 5: {
        const IniEntry *e = ENTRY_AT(IniEntry, IniEntryList, line);
        CopyText(buf, cap, e->File);
        AppendText(buf, cap, ": [");
        AppendText(buf, cap, e->Section);
        AppendText(buf, cap, "] ");
        AppendText(buf, cap, e->Item);
        AppendText(buf, cap, "=");
        AppendText(buf, cap, e->OldValue);
        break;
    }
    case 6: {
        const RegKeyEntry *e = ENTRY_AT(RegKeyEntry, RegKeyList, line);
        CopyText(buf, cap, e->Key);
        if (e->ValueName[0]) {
            AppendText(buf, cap, " Value Name: ");
            AppendText(buf, cap, e->ValueName);
        }
        break;
    }
    case 7:
        CopyText(buf, cap, ENTRY_AT(RegTreeEntry, RegTreeList, line)->Key);
        break;
    case 8: {
        const RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, line);
        CopyText(buf, cap, e->Key);
        // OldData holds NUL-separated strings: the line shows the first.
        if (e->ValueName[0]) {
            AppendText(buf, cap, " Value Name: ");
            AppendText(buf, cap, e->ValueName);
            AppendText(buf, cap, "=");
            char data[256];
            CopyText(data, sizeof data, e->OldData);
            AppendText(buf, cap, data);
        } else {
            AppendText(buf, cap, "=");
            char data[OLD_DATA_CAP];
            CopyText(data, sizeof data, e->OldData);
            AppendText(buf, cap, data);
        }
        break;
    }
    case 9:
        CopyText(buf, cap, ENTRY_AT(IconEntry, IconList, line)->Name);
        break;
    case 10: {
        int kind = 0, index = 0;
        if (SubSystemLine(line, &kind, &index) < 0) {
            CopyText(buf, cap, SubSystemName);
        } else if (kind == 0) {
            const ProgramEntry *p = ENTRY_AT(ProgramEntry, ProgramList, index);
            CopyText(buf, cap, p->Name[0] ? p->Name : p->CommandLine);
        } else {
            CopyText(buf, cap, ENTRY_AT(ServiceEntry, ServiceList, index)->Name);
        }
        break;
    }
    }
}

int *ListChoice(int page, int line)
{
    if (line < 0 || line >= ListPageCount(page))
        return NULL;
    switch (page) {
    case 1:
    case 2: return &ENTRY_AT(FileEntry, *PageList(page), line)->Selected;
    case 3: return &ENTRY_AT(DirEntry, DirList, line)->Selected;
    case 4: return &ENTRY_AT(NewIniEntry, NewIniList, line)->Selected;
    case 5: return &ENTRY_AT(IniEntry, IniEntryList, line)->Selected;
    case 6: return &ENTRY_AT(RegKeyEntry, RegKeyList, line)->Selected;
    case 7: return &ENTRY_AT(RegTreeEntry, RegTreeList, line)->Selected;
    case 8: return &ENTRY_AT(RegValueEntry, RegValueList, line)->Selected;
    case 9: return &ENTRY_AT(IconEntry, IconList, line)->Selected;
    case 10: {
        int kind = 0, index = 0;
        if (SubSystemLine(line, &kind, &index) < 0)
            return &SubSystemSelected;
        if (kind == 0)
            return &ENTRY_AT(ProgramEntry, ProgramList, index)->Selected;
        return &ENTRY_AT(ServiceEntry, ServiceList, index)->Selected;
    }
    default: return NULL;
    }
}

void FillList(HWND dialog, int page)
{
    HWND list = GetDlgItem(dialog, IDC_LIST);
    if (!list)
        return;
    // Measured in the wizard's own context: the width only sets the scroll range.
    HDC dc = GetDC(dialog);
    int widest = 0;
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    char line[LINE_CAP];
    for (int i = 0; i < ShownCount; i++) {
        ListLineText(page, i, line, sizeof line);
        SIZE size;
        if (dc && GetTextExtentPointA(dc, line, (int)strlen(line), &size) && size.cx > widest)
            widest = size.cx;
        LRESULT at = SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)line);
        if (at == LB_ERR || at == LB_ERRSPACE)
            break;
        const int *choice = ListChoice(page, i);
        if (choice && *choice)
            SendMessageA(list, LB_SETSEL, TRUE, at);
    }
    if (dc)
        ReleaseDC(dialog, dc);
    SendMessageA(list, LB_SETHORIZONTALEXTENT, (WPARAM)widest, 0);
    SendMessageA(list, LB_SETTOPINDEX, 0, 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, NULL, FALSE);
}

void StoreList(HWND dialog, int page)
{
    HWND list = GetDlgItem(dialog, IDC_LIST);
    if (!list)
        return;
    for (int i = 0; i < ShownCount; i++) {
        int *choice = ListChoice(page, i);
        LRESULT state = SendMessageA(list, LB_GETSEL, (WPARAM)i, 0);
        // A line the list box could not take keeps its entry's choice.
        if (!choice || state == LB_ERR)
            continue;
        *choice = state > 0 ? 1 : 0;
    }
}

void SelectAllLines(HWND dialog, int select)
{
    SendDlgItemMessageA(dialog, IDC_LIST, LB_SETSEL, select ? TRUE : FALSE, (LPARAM)-1);
}
