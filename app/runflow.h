// Start-up and run flow: the program's spine from the entry to the exit.
#pragma once
#include <windows.h>
#include <stddef.h>

// Sets PlatformKind and Version4OrLater from the version query.
void DetectPlatform(void);
// ProgramPath (long form) and SettingsPath from the module's own path.
void FindProgramPaths(void);
// When text is empty and an "INSTALL.LOG" lies beside the program, text
// becomes that log's short-form path.
void ChooseDefaultLog(char *text, size_t cap);
// Takes the options off the command text: sets Automatic, Silent, Rollback,
// CleanupMode, Preview, ReportWanted, ExitCodeWanted and WindowTitle, and copies the rest (the log path, or in a
// clean-up run everything after the options) into rest.
void ParseOptions(const char *text, char *rest, size_t restCap);
// Asks for the log with the open-file dialog: LogPath becomes the file
// chosen, or empty.
void AskForLog(void);
// Reads the log into the inventory (the lists must exist) and makes the
// checks it asks for, telling the user why when the run cannot go on: 0 =
// go on, 1 = the run ends. installRootDir (PATH_CAP bytes) is filled.
int LoadInstallLog(const char *logPath, char *installRootDir);
// The whole program; the result is the exit code: 0, or with /E the
// run's result as deployment tools read it.
int RunProgram(HINSTANCE instance, const char *commandLine);
