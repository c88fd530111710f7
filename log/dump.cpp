#include "dump.h"
#include "inventory.h"
#include "../base/refusals.h"
#include "../base/text.h"
#include <string.h>

enum { DUMP_LINE_CAP = 2 * OLD_DATA_CAP + 1024 };

// A NUL-separated string list closed by an empty string, as ["a","b"].
static void AppendStringList(char *line, size_t cap, const char *data, size_t size)
{
    AppendText(line, cap, "[");
    size_t pos = 0;
    int first = 1;
    while (pos < size && data[pos]) {
        if (!first)
            AppendText(line, cap, ",");
        AppendText(line, cap, "\"");
        AppendText(line, cap, data + pos);
        AppendText(line, cap, "\"");
        pos += strnlen(data + pos, size - pos) + 1;
        first = 0;
    }
    AppendText(line, cap, "]");
}

void DumpInventory(DumpSink sink, void *context)
{
    static char line[DUMP_LINE_CAP];
    FormatText(line, sizeof line, "Installs %u LastInstallOffset %ld AnsiLog %d HaveBackups %d",
               (unsigned)InstallCount, LastInstallOffset, AnsiLog, HaveBackups);
    sink(context, line);
    FormatText(line, sizeof line, "Title \"%s\"", ProductTitle);
    sink(context, line);
    FormatText(line, sizeof line, "Header mif=\"%s\" manufacturer=\"%s\" product=\"%s\" version=\"%s\" serial=\"%s\"",
               MifFileName, Manufacturer, ProductName, VersionNumber, SerialNumber);
    sink(context, line);
    if (SubSystemName) {
        FormatText(line, sizeof line, "SubSystem \"%s\" sel=%d", SubSystemName, SubSystemSelected);
        sink(context, line);
    }
    const EntryList *fileLists[2] = {&AppFileList, &SysFileList};
    const char *fileNames[2] = {"AppFile", "SysFile"};
    for (int k = 0; k < 2; k++)
        for (int i = 0; i < fileLists[k]->Count; i++) {
            const FileEntry *e = ENTRY_AT(FileEntry, *fileLists[k], i);
            FormatText(line, sizeof line,
                       "%s \"%s\" backup=\"%s\" sel=%d created=%d register=%u device=%u copy=%u backupno=%u shared=%u",
                       fileNames[k], e->Path, e->BackupPath, e->Selected, e->Created, e->RegisterInstall,
                       e->DeviceInstall, e->CopyInstall, e->BackupInstall, e->SharedInstall);
            sink(context, line);
        }
    for (int i = 0; i < EditFileList.Count; i++) {
        const EditEntry *e = ENTRY_AT(EditEntry, EditFileList, i);
        FormatText(line, sizeof line, "Edit \"%s\" backup=\"%s\" no=%u", e->Path, e->BackupPath, e->InstallNo);
        sink(context, line);
    }
    for (int i = 0; i < DirList.Count; i++) {
        const DirEntry *e = ENTRY_AT(DirEntry, DirList, i);
        FormatText(line, sizeof line, "Dir \"%s\" sel=%d tree=%u made=%u", e->Path, e->Selected, e->TreeInstall,
                   e->MadeInstall);
        sink(context, line);
    }
    for (int i = 0; i < NewIniList.Count; i++) {
        const NewIniEntry *e = ENTRY_AT(NewIniEntry, NewIniList, i);
        FormatText(line, sizeof line, "NewIni \"%s\" sel=%d no=%u", e->Path, e->Selected, e->InstallNo);
        sink(context, line);
    }
    for (int i = 0; i < IniEntryList.Count; i++) {
        const IniEntry *e = ENTRY_AT(IniEntry, IniEntryList, i);
        FormatText(line, sizeof line, "Ini \"%s\" [%s] %s old=\"%s\" lastold=\"%s\" sel=%d no=%u", e->File,
                   e->Section, e->Item, e->OldValue, e->LastOldValue, e->Selected, e->InstallNo);
        sink(context, line);
    }
    for (int i = 0; i < RegKeyList.Count; i++) {
        const RegKeyEntry *e = ENTRY_AT(RegKeyEntry, RegKeyList, i);
        FormatText(line, sizeof line, "RegKey %d \"%s\" name=\"%s\" sel=%d no=%u", e->Root, e->Key, e->ValueName,
                   e->Selected, e->InstallNo);
        sink(context, line);
    }
    for (int i = 0; i < RegTreeList.Count; i++) {
        const RegTreeEntry *e = ENTRY_AT(RegTreeEntry, RegTreeList, i);
        FormatText(line, sizeof line, "RegTree %d \"%s\" sel=%d no=%u", e->Root, e->Key, e->Selected, e->InstallNo);
        sink(context, line);
    }
    for (int i = 0; i < RegValueList.Count; i++) {
        const RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, i);
        FormatText(line, sizeof line, "RegValue %d \"%s\" name=\"%s\" type=%d old=", e->Root, e->Key, e->ValueName,
                   e->Type);
        AppendStringList(line, sizeof line, e->OldData, (size_t)e->OldDataSize);
        AppendText(line, sizeof line, " lastold=");
        AppendStringList(line, sizeof line, e->LastOldData, (size_t)e->LastOldDataSize);
        char tail[64];
        FormatText(tail, sizeof tail, " sel=%d no=%u", e->Selected, e->InstallNo);
        AppendText(line, sizeof line, tail);
        sink(context, line);
    }
    for (int i = 0; i < IconList.Count; i++) {
        const IconEntry *e = ENTRY_AT(IconEntry, IconList, i);
        FormatText(line, sizeof line, "Icon \"%s\" \"%s\" cmd=\"%s\" sel=%d no=%u", e->Group, e->Name, e->Command,
                   e->Selected, e->InstallNo);
        sink(context, line);
    }
    for (int i = 0; i < ProgramList.Count; i++) {
        const ProgramEntry *e = ENTRY_AT(ProgramEntry, ProgramList, i);
        FormatText(line, sizeof line, "Program \"%s\" name=\"%s\" sel=%d no=%u", e->CommandLine, e->Name,
                   e->Selected, e->InstallNo);
        sink(context, line);
    }
    for (int i = 0; i < ServiceList.Count; i++) {
        const ServiceEntry *e = ENTRY_AT(ServiceEntry, ServiceList, i);
        FormatText(line, sizeof line, "Service \"%s\" sel=%d no=%u", e->Name, e->Selected, e->InstallNo);
        sink(context, line);
    }
    for (int i = 0; i < RefusalCount(); i++) {
        const RefusalEntry *e = RefusalAt(i);
        FormatText(line, sizeof line, "Refused %s \"%s\" reason=%s no=%u", e->Kind, e->Target, e->Reason,
                   e->InstallNo);
        sink(context, line);
    }
}

static void WriteLine(void *context, const char *line)
{
    fputs(line, (FILE *)context);
    fputc('\n', (FILE *)context);
}

void DumpInventoryToFile(FILE *out)
{
    DumpInventory(WriteLine, out);
}
