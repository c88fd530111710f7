// In-process fixture for the wizard's tests: an inventory built by hand, the
// wizard created on this thread, clicks sent as the dialog manager would.
#pragma once
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "kvtest.h"
#include "base/state.h"
#include "base/text.h"
#include "log/inventory.h"
#include "resources/resource.h"
#include "ui/dialogs.h"
#include "ui/lists.h"
#include "ui/messages.h"
#include "ui/wizard.h"

class WizardTest : public testing::Test {
protected:
    HWND dlg = NULL;
    HWND owner = NULL;

    void SetUp() override
    {
        ASSERT_EQ(0, CreateInventory());
        WizardPage = PAGE_WELCOME;
        UninstallMethod = 0;
        Rollback = FinishPressed = Cancelled = 0;
        ProgressStarted = ProgressDone = 0;
        ProgressTotal = 1;
        Ctl3dActive = 0;
        HaveBackups = 0;
        CopyText(ProductTitle, sizeof ProductTitle, "Orders");
        WizardWindow = NULL;
        MainWindow = NULL;
        SettingsPath[0] = 0;
    }
    void TearDown() override
    {
        StopAnswering();
        if (dlg && IsWindow(dlg))
            DestroyWindow(dlg);
        dlg = WizardWindow = NULL;
        if (owner)
            DestroyWindow(owner);
        owner = MainWindow = NULL;
        PumpFor(20);
        FreeInventory();
        ProgressStarted = 0;
    }
    // A plain captioned window standing in for the background window.
    void MakeOwner(const char *caption)
    {
        owner = CreateWindowExA(0, "Static", caption, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                NULL, NULL, GetModuleHandleA(NULL), NULL);
        ASSERT_TRUE(owner != NULL);
        MainWindow = owner;
    }
    void Open()
    {
        dlg = CreateWizard();
        ASSERT_TRUE(dlg != NULL);
        PumpFor(20);
    }
    void Click(int id)
    {
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dlg, id));
    }
    std::string Text(int id)
    {
        char buf[2048] = "";
        GetDlgItemTextA(dlg, id, buf, sizeof buf);
        return buf;
    }
    static std::string Message(int n)
    {
        char buf[1024];
        LoadMessage(n, buf, sizeof buf);
        return buf;
    }
    static std::string MessageWithTitle(int n)
    {
        char text[1024];
        FormatOneString(text, sizeof text, Message(n).c_str(), ProductTitle);
        return text;
    }
    bool Shown(int id)
    {
        HWND c = GetDlgItem(dlg, id);
        return IsWindowVisible(c) && IsWindowEnabled(c);
    }
    std::vector<std::string> Lines()
    {
        std::vector<std::string> out;
        HWND list = GetDlgItem(dlg, IDC_LIST);
        int n = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (int i = 0; i < n; i++) {
            std::vector<char> buf(SendMessageA(list, LB_GETTEXTLEN, i, 0) + 1);
            SendMessageA(list, LB_GETTEXT, i, (LPARAM)buf.data());
            out.push_back(buf.data());
        }
        return out;
    }
    std::vector<int> Selections()
    {
        std::vector<int> out;
        HWND list = GetDlgItem(dlg, IDC_LIST);
        int n = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (int i = 0; i < n; i++)
            out.push_back(SendMessageA(list, LB_GETSEL, i, 0) > 0 ? 1 : 0);
        return out;
    }
    void SetLineSelected(int line, bool on)
    {
        SendDlgItemMessageA(dlg, IDC_LIST, LB_SETSEL, on, line);
    }

    template <class T> static T *Add(EntryList &list)
    {
        T *e = nullptr;
        NewEntry(&e);
        EXPECT_TRUE(e != NULL);
        EXPECT_EQ(0, ListAppend(&list, e));
        return e;
    }
    static FileEntry *AddFile(EntryList &list, const char *path, int selected = 0)
    {
        FileEntry *e = Add<FileEntry>(list);
        StoreText(&e->Path, path, INV_PATH_CAP);
        e->Selected = selected;
        return e;
    }
    static IconEntry *AddIcon(const char *name, int selected = 0)
    {
        IconEntry *e = Add<IconEntry>(IconList);
        StoreText(&e->Group, "Orders", NAME_CAP);
        StoreText(&e->Name, name, NAME_CAP);
        e->Selected = selected;
        return e;
    }
    static ServiceEntry *AddService(const char *name, int selected = 0)
    {
        ServiceEntry *e = Add<ServiceEntry>(ServiceList);
        StoreText(&e->Name, name, NAME_CAP);
        e->Selected = selected;
        return e;
    }
    static ProgramEntry *AddProgram(const char *name, const char *command, int selected = 0)
    {
        ProgramEntry *e = Add<ProgramEntry>(ProgramList);
        StoreText(&e->Name, name, NAME_CAP);
        StoreText(&e->CommandLine, command, INV_PATH_CAP);
        e->Selected = selected;
        return e;
    }
    static void SetSubSystem(const char *name)
    {
        free(SubSystemName);
        SubSystemName = _strdup(name);
    }
};
