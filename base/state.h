// Run-wide state. One instance for the life of the process; every variable
// names the one module that owns it (sets it, or allocates and frees it).
#pragma once
#include <windows.h>

// Buffer sizes, in bytes including the terminating NUL.
enum {
    PATH_CAP = 256,          // command text, LogPath, names, most paths
    INV_PATH_CAP = 260,      // inventory paths, SystemDir
    SCRATCH_CAP = 16384,
    DIALOG_TEXT_CAP = 1024,
    LOG_BUFFER_CAP = 32768,  // the line reader reads in large blocks
    HEADER_CAP = 128,        // the log's header values
    GROUP_SLOTS = 128        // Program Manager group-name table
};

enum { PLATFORM_NT = 1, PLATFORM_OTHER = 2 };
enum { METHOD_AUTOMATIC = 1000, METHOD_CUSTOM = 1001 };
enum { PAGE_WELCOME = 0, PAGE_FINAL = 11, PAGE_ROLLBACK = 12 };

// --- app/runflow (start-up and run flow) ---
extern int PlatformKind;        // 1 = Windows NT, 2 = any other Win32 platform
extern int Version4OrLater;     // major version >= 4
extern int Automatic;           // /A or /S
extern int Silent;              // /S
extern int CleanupMode;         // /z: this run is the clean-up run
extern int Preview;             // /N: decide everything, change nothing
extern int UndoWanted;          // /U: undo an uninstall from its recovery store
extern int ReportWanted;        // /V: write the per-item report
extern int ExitCodeWanted;      // /E: the exit code tells the result
extern int InPlace;             // no temporary copy was made
extern char ProgramPath[PATH_CAP];   // own path, long-name form
extern char SettingsPath[PATH_CAP];  // own path with "INI" for its last 3 chars
extern char WindowTitle[PATH_CAP];   // caption from the command line; empty = none
extern char LogPath[PATH_CAP];
extern char InstallRootDir[PATH_CAP]; // filled by the log reader
extern char CommandText[PATH_CAP];   // command line after the program name
extern HINSTANCE ProgramInstance;
extern char ScratchBuffer[SCRATCH_CAP];  // used by the status file and Program Manager
extern char ProductTitle[PATH_CAP];      // filled by the log reader
extern char LogBuffer[LOG_BUFFER_CAP];   // the line reader's buffer
extern char PageTitle[PATH_CAP];         // wizard page title
extern char DialogText[DIALOG_TEXT_CAP]; // wizard page text, progress text, shared-file question
extern char SystemDir[INV_PATH_CAP];     // filled by the log reader
extern char *GroupNames[GROUP_SLOTS];    // Program Manager groups; slots owned here, filled there
extern HBITMAP WizardBitmap;
// CTL3D32.DLL entry points; null when the library or the name is missing.
typedef BOOL(WINAPI *Ctl3dProc)(HINSTANCE);
typedef BOOL(WINAPI *Ctl3dDlgProc)(HWND, DWORD);
extern Ctl3dProc Ctl3dRegisterFn, Ctl3dUnregisterFn, Ctl3dAutoSubclassFn;
extern Ctl3dDlgProc Ctl3dSubclassDlgExFn;
extern int Ctl3dActive;         // Ctl3dRegister was found and returned non-zero

// --- ui/wizard ---
extern int Rollback;            // also set by /R (runflow) and cleared by the engine
extern int Cancelled;
extern int FinishPressed;
extern int UninstallMethod;     // also preset by runflow for /A and /S
extern unsigned char WizardPage; // also preset by runflow for /A and /S
extern HWND WizardWindow;

// --- app/background ---
extern HWND MainWindow;
extern volatile int TimerWait;  // cleared by the main window's timer message
extern HFONT TitleFont;
extern HPALETTE BackgroundPalette;
extern int FontCharSet;
extern int ScreenWidth, ScreenHeight;

// --- machine/pending (pending file operations) ---
extern int RestartNeeded;       // cleared by runflow when the user declines
extern unsigned short TempNameCounter;

// --- app/relocate (self-relocation) ---
extern char TempCopyPath[PATH_CAP];

// --- engine/files ---
extern int DeletingSelf;
// A change the log records could not be made now (a backup or an INI file
// held by another program) and was not staged: the log is then kept, so
// that a later run finishes the job. Also set by engine/inifiles.
extern int WorkLeft;

// --- ui/progress ---
extern int ProgressStarted, ProgressDone, ProgressTotal;
extern HFONT DialogFont;

// Timer id of every timed wait on MainWindow.
enum { WAIT_TIMER_ID = 8298 };
