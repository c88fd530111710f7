// INI files: created files removed, items written back or deleted, a
// missing file never created, and the items of one file written together.
#include <gtest/gtest.h>
#include <map>
#include <set>
#include "support/kvtest.h"
#include "base/rows.h"
#include "base/state.h"
#include "engine/inifiles.h"
#include "engine/uninstall.h"
#include "base/text.h"
#include "machine/preview.h"
#include "ui/progress.h"

namespace {

std::string Read(const std::string &file, const char *section, const char *key)
{
    char buf[512];
    GetPrivateProfileStringA(section, key, "\x7f", buf, sizeof buf, file.c_str());
    return buf;
}

IniEntry Entry(const std::string &file, const char *section, const char *item,
               const char *oldValue, const char *lastOldValue)
{
    IniEntry e;
    ClearEntry(&e);
    StoreText(&e.File, file.c_str(), INV_PATH_CAP);
    StoreText(&e.Section, section, NAME_CAP);
    StoreText(&e.Item, item, NAME_CAP);
    StoreText(&e.OldValue, oldValue, INI_VALUE_CAP);
    StoreText(&e.LastOldValue, lastOldValue, INI_VALUE_CAP);
    return e;
}

class Ini : public ::testing::Test {
protected:
    void SetUp() override
    {
        Rollback = 0;
        dir = ScratchDir("ini");
        file = dir + "\\app.ini";
    }
    void TearDown() override
    {
        Rollback = 0;
        RemoveTreeForTest(dir);
    }
    std::string dir, file;
};

TEST_F(Ini, ItemsRestoredOrDeleted)
{
    ASSERT_TRUE(WriteFileBytes(file, "[Main]\r\nAdded=new\r\nChanged=new\r\nOther=keep\r\n"
                                     "[Lone]\r\nOnly=new\r\n"));
    struct Row { const char *section, *item, *oldValue, *lastOld; int rollback; const char *want; };
    const Row rows[] = {
        {"Main", "Added", "", "ignored", 0, "\x7f"},
        {"Main", "Changed", "first", "last", 0, "first"},
        {"Main", "Changed", "first", "last", 1, "last"},
        {"Main", "Changed", "first", "", 1, "\x7f"},
        {"Lone", "Only", "", "", 0, "\x7f"},
    };
    for (const Row &r : rows) {
        WritePrivateProfileStringA(r.section, r.item, "new", file.c_str());
        IniEntry e = Entry(file, r.section, r.item, r.oldValue, r.lastOld);
        Rollback = r.rollback;
        EXPECT_EQ(1, RestoreIniItem(&e)) << r.item;
        EXPECT_EQ(r.want, Read(file, r.section, r.item))
            << r.section << "/" << r.item << " rollback " << r.rollback;
    }
    EXPECT_EQ("keep", Read(file, "Main", "Other"));
    // The emptied section keeps its header.
    EXPECT_NE(std::string::npos, ReadFileBytes(file).find("[Lone]"));
}

TEST_F(Ini, MissingFileIsNeverCreated)
{
    IniEntry changed = Entry(file, "Main", "Item", "old", "old");
    IniEntry added = Entry(file, "Main", "Item", "", "");
    EXPECT_EQ(0, RestoreIniItem(&changed));
    EXPECT_EQ(0, RestoreIniItem(&added));
    EXPECT_FALSE(PathExists(file));
}

TEST_F(Ini, CreatedFileRemovedEvenWhenReadOnly)
{
    ASSERT_TRUE(WriteFileBytes(file, "[A]\r\nB=C\r\n"));
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
    NewIniEntry e;
    ClearEntry(&e);
    StoreText(&e.Path, file.c_str(), INV_PATH_CAP);
    RemoveIniFile(&e);
    EXPECT_FALSE(PathExists(file));
    RemoveIniFile(&e);      // already gone: quietly nothing
    EXPECT_FALSE(PathExists(file));
}

// --- the INI phase of a run ------------------------------------------------

// Every INI step of the run: the step's text, and each file's content then.
struct Step {
    std::string text;
    std::map<std::string, std::string> files;
};
std::vector<Step> Steps;
std::vector<std::string> Watched;
int CancelAtStep;   // 1-based; 0: never

void WatchStep(const char *text)
{
    Step s;
    s.text = text ? text : "";
    for (const std::string &f : Watched)
        s.files[f] = ReadFileBytes(f);
    Steps.push_back(s);
    if ((int)Steps.size() == CancelAtStep)
        Cancelled = 1;
}

// The items of two files, in the order a log may give them: interleaved.
class IniPhase : public ::testing::Test {
protected:
    std::string dir, a, b;
    void SetUp() override
    {
        ASSERT_EQ(0, CreateInventory());
        UninstallMethod = METHOD_AUTOMATIC;
        Rollback = Cancelled = WorkLeft = 0;
        InstallCount = 1;
        LastInstallOffset = 0;
        WizardWindow = NULL;
        RowsWanted = 1;
        dir = ScratchDir("ini_phase");
        a = dir + "\\A.INI";
        b = dir + "\\B.INI";
        ASSERT_TRUE(WriteFileBytes(a, "[Main]\r\nMine=keep\r\nA1=new\r\nA2=new\r\nA3=new\r\n"));
        ASSERT_TRUE(WriteFileBytes(b, "[Main]\r\nB1=new\r\nB2=new\r\n[User]\r\nOwn=keep\r\n"));
        const char *order[][3] = {{"A", "A1", "old1"}, {"B", "B1", ""}, {"A", "A2", ""}, {"B", "B2", "old2"},
                                  {"A", "A3", "old3"}};
        for (auto &o : order) {
            IniEntry *e = nullptr;
            ASSERT_EQ(0, NewEntry(&e));
            StoreText(&e->File, (o[0][0] == 'A' ? a : b).c_str(), INV_PATH_CAP);
            StoreText(&e->Section, "Main", NAME_CAP);
            StoreText(&e->Item, o[1], NAME_CAP);
            StoreText(&e->OldValue, o[2], INI_VALUE_CAP);
            e->InstallNo = 1;
            ASSERT_EQ(0, ListAppend(&IniEntryList, e));
        }
        Steps.clear();
        Watched = {a, b};
        CancelAtStep = 0;
        ProgressObserver = WatchStep;
    }
    void TearDown() override
    {
        ProgressObserver = NULL;
        FreeInventory();
        FreeRows();
        RowsWanted = 0;
        Rollback = Cancelled = WorkLeft = 0;
        RemoveTreeForTest(dir);
    }
    // "item OUTCOME" of every INI row, in row order.
    std::vector<std::string> IniRows()
    {
        std::vector<std::string> out;
        for (int i = 0; i < RowCount(); i++) {
            const ReportRow *r = RowAt(i);
            if (strcmp(r->Kind, "INI") != 0)
                continue;
            // "[Main] A1" for an item acted on, "A1" for one skipped.
            std::string detail = r->Detail;
            std::string item = detail.substr(detail.find(' ') == std::string::npos ? 0 : detail.find(' ') + 1);
            out.push_back(item + " " + r->Outcome + (r->Reason[0] ? " " : "") + r->Reason);
        }
        return out;
    }
    void Run() { RunUninstall((dir + "\\INSTALL.LOG").c_str()); }
    // One run, preview or real, from a fresh report; its INI rows.
    std::vector<std::string> RunFor(bool preview)
    {
        FreeRows();
        ForgetPlannedGone();
        Preview = preview;
        Run();
        Preview = 0;
        ForgetPlannedGone();
        return IniRows();
    }
};

// A file's bytes and its last write time, to tell an untouched file.
std::string Stamp(const std::string &file)
{
    WIN32_FILE_ATTRIBUTE_DATA d = {};
    GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &d);
    return ReadFileBytes(file) + "@" + std::to_string(d.ftLastWriteTime.dwLowDateTime) + "." +
           std::to_string(d.ftLastWriteTime.dwHighDateTime);
}

// The items as a run with room leaves them.
void ExpectWrittenA(const std::string &a)
{
    EXPECT_EQ("old1", IniRead(a, "Main", "A1"));
    EXPECT_EQ("<none>", IniRead(a, "Main", "A2"));
    EXPECT_EQ("old3", IniRead(a, "Main", "A3"));
    EXPECT_EQ("keep", IniRead(a, "Main", "Mine"));
}

void ExpectWrittenB(const std::string &b)
{
    EXPECT_EQ("<none>", IniRead(b, "Main", "B1"));
    EXPECT_EQ("old2", IniRead(b, "Main", "B2"));
    EXPECT_EQ("keep", IniRead(b, "User", "Own"));
}

// Each file is replaced once, with all its items, while every item keeps
// its own step and row.
TEST_F(IniPhase, EachFileIsWrittenOnceWithAllItsItems)
{
    Run();
    ExpectWrittenA(a);
    ExpectWrittenB(b);
    ASSERT_EQ(5u, Steps.size()) << "one step per item";
    for (const Step &s : Steps)
        EXPECT_EQ(0u, s.text.find("Editing INI File:")) << s.text;
    for (const std::string &f : {a, b}) {
        std::set<std::string> seen;
        for (const Step &s : Steps)
            seen.insert(s.files.at(f));
        seen.insert(ReadFileBytes(f));
        EXPECT_EQ(2u, seen.size()) << f << ": the file must go from its old content to its new one in one write";
    }
    // By the second step (file B's first) file A holds all of its items.
    std::string atB1 = Steps[1].files.at(a);
    EXPECT_NE(std::string::npos, atB1.find("A3=old3")) << atB1;
    EXPECT_EQ((std::vector<std::string>{"A1 DONE", "B1 DONE", "A2 DONE", "B2 DONE", "A3 DONE"}), IniRows());
    EXPECT_EQ(0, WorkLeft);
    EXPECT_FALSE(PathExists(a + ".~kv"));
    EXPECT_FALSE(PathExists(b + ".~kv"));
}

// A cancel at file B's first step: file A, written at the step before with
// all its items, has them reported as done; B's first item is written, as
// its step had begun, and its later one is skipped.
TEST_F(IniPhase, ACancelReportsWhatWasWritten)
{
    CancelAtStep = 2;
    Run();
    ExpectWrittenA(a);
    EXPECT_EQ("<none>", IniRead(b, "Main", "B1"));
    EXPECT_EQ("new", IniRead(b, "Main", "B2"));
    EXPECT_EQ((std::vector<std::string>{"A1 DONE", "B1 DONE", "A2 DONE", "B2 SKIPPED CANCELLED", "A3 DONE"}),
              IniRows());
}

// A file held by another program keeps all its items for a later run (each
// item reported failed); the other file is written.
TEST_F(IniPhase, AHeldFileKeepsEveryItemForALaterRun)
{
    std::string oldA = ReadFileBytes(a);
    HANDLE held = CreateFileA(a.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    Run();
    CloseHandle(held);
    EXPECT_EQ(oldA, ReadFileBytes(a));
    ExpectWrittenB(b);
    std::vector<std::string> rows = IniRows();
    ASSERT_EQ(5u, rows.size());
    for (int i : {0, 2, 4})
        EXPECT_EQ(0u, rows[i].find("A" + std::to_string(i / 2 + 1) + " FAILED")) << rows[i];
    EXPECT_EQ("B1 DONE", rows[1]);
    EXPECT_EQ("B2 DONE", rows[3]);
    EXPECT_EQ(1, WorkLeft);
    EXPECT_FALSE(PathExists(a + ".~kv"));
}

// An item that already reads as the run would write it changes nothing: it
// is reported ALREADY-GONE, not DONE, and a file whose items all read so is
// not rewritten. The preview plans the same rows, and the real run then
// leaves every item as the log recorded it. (A1, A3 and B2 get old values
// back; A2 and B1 are deleted.)
TEST_F(IniPhase, ItemsAlreadyInPlaceAreLeftAndReportedAsGone)
{
    struct Row {
        const char *name, *a, *b;
        std::vector<std::string> want;
    };
    const Row rows[] = {
        {"all of A and part of B in place", "[Main]\r\nMine=keep\r\nA1=old1\r\nA3=old3\r\n",
         "[Main]\r\nB2=new\r\n[User]\r\nOwn=keep\r\n",
         {"A1 SKIPPED ALREADY-GONE", "B1 SKIPPED ALREADY-GONE", "A2 SKIPPED ALREADY-GONE", "B2 DONE",
          "A3 SKIPPED ALREADY-GONE"}},
        {"an empty value is not a missing item", "[Main]\r\nMine=keep\r\nA1=old1\r\nA2=\r\nA3=old3\r\n",
         "[Main]\r\nB1=\r\nB2=old2\r\n[User]\r\nOwn=keep\r\n",
         {"A1 SKIPPED ALREADY-GONE", "B1 DONE", "A2 DONE", "B2 SKIPPED ALREADY-GONE", "A3 SKIPPED ALREADY-GONE"}},
        {"values differing in case or length are written",
         "[Main]\r\nMine=keep\r\nA1=OLD1\r\nA3=old3x\r\n", "[Main]\r\nB2=old\r\n[User]\r\nOwn=keep\r\n",
         {"A1 DONE", "B1 SKIPPED ALREADY-GONE", "A2 SKIPPED ALREADY-GONE", "B2 DONE", "A3 DONE"}},
        {"the same item in another section is not it", "[Other]\r\nA1=old1\r\nA2=x\r\n[Main]\r\nMine=keep\r\n",
         "[Main]\r\nB1=new\r\nB2=new\r\n[User]\r\nOwn=keep\r\nB2=old2\r\n",
         {"A1 DONE", "B1 DONE", "A2 SKIPPED ALREADY-GONE", "B2 DONE", "A3 DONE"}},
    };
    for (const Row &r : rows) {
        ASSERT_TRUE(WriteFileBytes(a, r.a));
        ASSERT_TRUE(WriteFileBytes(b, r.b));
        Sleep(20);      // a rewrite would show in the write time
        std::string stampA = Stamp(a), stampB = Stamp(b);
        std::vector<std::string> planned = RunFor(true);
        EXPECT_EQ(stampA, Stamp(a)) << r.name << ": the preview wrote A";
        EXPECT_EQ(stampB, Stamp(b)) << r.name << ": the preview wrote B";
        EXPECT_EQ(r.want, planned) << r.name << " (preview)";
        EXPECT_EQ(r.want, RunFor(false)) << r.name;
        EXPECT_EQ("old1", IniRead(a, "Main", "A1")) << r.name;
        EXPECT_EQ("<none>", IniRead(a, "Main", "A2")) << r.name;
        EXPECT_EQ("old3", IniRead(a, "Main", "A3")) << r.name;
        EXPECT_EQ("<none>", IniRead(b, "Main", "B1")) << r.name;
        EXPECT_EQ("old2", IniRead(b, "Main", "B2")) << r.name;
        // A file none of whose items changed is left as it was.
        for (char file : {'A', 'B'}) {
            bool written = false;
            for (const std::string &row : r.want)
                written |= row[0] == file && row.find(" DONE") != std::string::npos;
            if (!written) {
                EXPECT_EQ(file == 'A' ? stampA : stampB, Stamp(file == 'A' ? a : b))
                    << r.name << ": " << file << " was rewritten";
            }
        }
        EXPECT_EQ(0, WorkLeft) << r.name;
    }
}

// Of two items with one name, the later decides what the file ends with:
// the earlier is not written over a later one that is already in place.
TEST_F(IniPhase, TheLaterOfTwoItemsWithOneNameDecides)
{
    FreeInventory();
    ASSERT_EQ(0, CreateInventory());
    struct Row { const char *file, *first, *second, *want0, *want1, *value; };
    const Row rows[] = {
        {"[Main]\r\nX=two\r\n", "one", "two", "X SKIPPED ALREADY-GONE", "X SKIPPED ALREADY-GONE", "two"},
        {"[Main]\r\nX=one\r\n", "one", "two", "X DONE", "X DONE", "two"},
        {"[Main]\r\nX=one\r\n", "one", "", "X DONE", "X DONE", "<none>"},
    };
    for (const char *v : {"first", "second"}) {
        IniEntry *e = nullptr;
        ASSERT_EQ(0, NewEntry(&e));
        StoreText(&e->File, a.c_str(), INV_PATH_CAP);
        StoreText(&e->Section, "Main", NAME_CAP);
        StoreText(&e->Item, "X", NAME_CAP);
        StoreText(&e->OldValue, v, INI_VALUE_CAP);
        e->InstallNo = 1;
        ASSERT_EQ(0, ListAppend(&IniEntryList, e));
    }
    for (const Row &r : rows) {
        StoreText(&ENTRY_AT(IniEntry, IniEntryList, 0)->OldValue, r.first, INI_VALUE_CAP);
        StoreText(&ENTRY_AT(IniEntry, IniEntryList, 1)->OldValue, r.second, INI_VALUE_CAP);
        ASSERT_TRUE(WriteFileBytes(a, r.file));
        std::vector<std::string> want = {r.want0, r.want1};
        EXPECT_EQ(want, RunFor(true)) << r.file << " (preview)";
        EXPECT_EQ(want, RunFor(false)) << r.file;
        EXPECT_EQ(r.value, IniRead(a, "Main", "X")) << r.file;
    }
}

// A preview expects a file held by another program to stay as it is, with
// the rows the real run then gives.
TEST_F(IniPhase, APreviewExpectsAHeldFileToFail)
{
    HANDLE held = CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    std::vector<std::string> planned = RunFor(true);
    std::vector<std::string> done = RunFor(false);
    CloseHandle(held);
    ASSERT_EQ(5u, planned.size());
    for (int i : {0, 2, 4})
        EXPECT_EQ(0u, planned[i].find("A" + std::to_string(i / 2 + 1) + " FAILED")) << planned[i];
    EXPECT_EQ(done, planned);
}

}  // namespace
