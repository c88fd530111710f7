// The per-item report (/V, and every preview): what the run did, kept and
// left, one tab-separated row per entry and operation, with the run's result.
// Also the result's exit code (/E).
#pragma once

enum { RESULT_SUCCESS, RESULT_PARTIAL, RESULT_RESTART, RESULT_CANCELLED, RESULT_FAILED };

struct RunEnd {
    int LogRead;            // the log was read into the inventory
    int Cancelled;          // by the user, or at the database-server question
    int RestartStarted;     // the program restarts the machine now
};

// The run's result from its rows and its end.
int RunResult(const RunEnd *end);
// Whether no row found anything of the log's on the machine.
int NothingPresent(void);
// The exit code a deployment tool understands: 0, 1 (items left), 1602,
// 1603, 1605, 1641 or 3010.
int ResultExitCode(const RunEnd *end);
// Writes the report to its place (see ReportPath). Result 0, or 1 when it
// could not be written (no room, a file there that is not a report).
int WriteReport(const RunEnd *end);
// The report's path: the settings file's [Settings] "Report File" (a plain
// absolute path, or a bare name in the Windows directory), else the status
// file's name with ".RPT" in the Windows directory, else UNINSTAL.RPT there.
// Result 0, or 1 when no path fits.
int ReportPath(char *buf, unsigned long cap);
// Appends text to a growing buffer with every byte that could break a row
// (control characters, '%', bytes above 127) written as %XX.
struct TextBuf {
    char *Data;
    unsigned long Len, Cap;
    int Failed;             // memory was short: the text is incomplete
};
void PutEscaped(TextBuf *b, const char *text);
void PutText(TextBuf *b, const char *text);
