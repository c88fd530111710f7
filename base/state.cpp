// Definitions of the run-wide state declared in state.h.
#include "state.h"

int PlatformKind = PLATFORM_OTHER;
int Version4OrLater;
int Automatic;
int Silent;
int CleanupMode;
int Preview;
int UndoWanted;
int ReportWanted;
int ExitCodeWanted;
int InPlace;
char ProgramPath[PATH_CAP];
char SettingsPath[PATH_CAP];
char WindowTitle[PATH_CAP];
char LogPath[PATH_CAP];
char InstallRootDir[PATH_CAP];
char CommandText[PATH_CAP];
HINSTANCE ProgramInstance;
char ScratchBuffer[SCRATCH_CAP];
char ProductTitle[PATH_CAP];
char LogBuffer[LOG_BUFFER_CAP];
char PageTitle[PATH_CAP];
char DialogText[DIALOG_TEXT_CAP];
char SystemDir[INV_PATH_CAP];
char *GroupNames[GROUP_SLOTS];
HBITMAP WizardBitmap;
Ctl3dProc Ctl3dRegisterFn, Ctl3dUnregisterFn, Ctl3dAutoSubclassFn;
Ctl3dDlgProc Ctl3dSubclassDlgExFn;
int Ctl3dActive;

int Rollback;
int Cancelled;
int FinishPressed;
int UninstallMethod;
unsigned char WizardPage;
HWND WizardWindow;

HWND MainWindow;
volatile int TimerWait;
HFONT TitleFont;
HPALETTE BackgroundPalette;
int FontCharSet;
int ScreenWidth, ScreenHeight;

int RestartNeeded;
unsigned short TempNameCounter;

char TempCopyPath[PATH_CAP];

int DeletingSelf;
int WorkLeft;

int ProgressStarted, ProgressDone, ProgressTotal;
HFONT DialogFont;
