// Times WriteReport on 10,000, 30,000 and 100,000 rows of a large product
// where half the rows are left in place (each left row is checked for a
// later row of the same target), and prints the time per row: a report
// whose cost grows with the square of its rows shows here.
// Run: scripts/wine-run.sh build/wine-template build/bin/bench_report.exe
#include <windows.h>
#include <stdio.h>
#include "base/rows.h"
#include "base/state.h"
#include "base/text.h"
#include "log/inventory.h"
#include "report/report.h"

static double Now(void)
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / (double)f.QuadPart;
}

// Rows as a large uninstall gives them: files done, values that could not
// be restored, INI items not selected, keys done, and every 50th value
// reported twice (the later row says what became of it).
static void AddRows(int count)
{
    char target[128], detail[32];
    for (int i = 0; i < count; i++) {
        unsigned short no = (unsigned short)(1 + i % 3);
        switch (i % 4) {
        case 0:
            FormatText(target, sizeof target, "C:\\kvbench\\Product\\Dir %03d\\file_%06d.dat", i / 1000, i);
            AddRow("FILE", no, target, ACT_DELETE, OUT_DONE, NULL, NULL);
            break;
        case 1:
            FormatText(target, sizeof target, "HKLM\\Software\\KvBench\\Component %05d", i / 20);
            FormatText(detail, sizeof detail, "Value%06d", i);
            AddRow("REGVALUE", no, target, ACT_RESTORE_VALUE, OUT_FAILED, "ERROR=5", detail);
            if (i % 50 == 1)
                AddRow("REGVALUE", no, target, ACT_RESTORE_VALUE, OUT_DONE, NULL, detail);
            break;
        case 2:
            FormatText(target, sizeof target, "C:\\kvbench\\Product\\settings%03d.ini", i / 500);
            FormatText(detail, sizeof detail, "[Settings] Item%06d", i);
            AddRow("INI", no, target, ACT_NONE, OUT_SKIPPED, "NOT-SELECTED", detail);
            break;
        default:
            FormatText(target, sizeof target, "HKCU\\Software\\KvBench\\Key %06d", i);
            AddRow("REGKEY", no, target, ACT_DELETE, OUT_DONE, NULL, NULL);
            break;
        }
    }
}

int main(void)
{
    RowsWanted = 1;
    InstallCount = 3;
    CopyText(LogPath, sizeof LogPath, "C:\\kvbench\\Product\\INSTALL.LOG");
    CopyText(ProductTitle, sizeof ProductTitle, "Report Bench");
    char path[MAX_PATH];
    if (ReportPath(path, sizeof path)) {
        printf("no report path\n");
        return 1;
    }
    static const int sizes[] = {10000, 30000, 100000};
    printf("WriteReport, half the rows left in place (best of the rounds):\n");
    for (int s = 0; s < 3; s++) {
        int rounds = sizes[s] >= 100000 ? 1 : 3;
        double best = 0;
        int rows = 0;
        for (int r = 0; r < rounds; r++) {
            FreeRows();
            AddRows(sizes[s]);
            rows = RowCount();
            RunEnd end = {1, 0, 0};
            double t0 = Now();
            int failed = WriteReport(&end);
            double t = Now() - t0;
            if (failed) {
                printf("the report could not be written to %s\n", path);
                return 1;
            }
            if (r == 0 || t < best)
                best = t;
        }
        printf("%7d rows: %8.3f s, %6.2f us per row\n", rows, best, best * 1e6 / rows);
    }
    FreeRows();
    DeleteFileA(path);
    return 0;
}
