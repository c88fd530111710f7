// A preview changes nothing, so later phases would find every file still
// there. The paths a preview would delete are kept in a set, and its
// look-ups take them as gone: a folder that the real run empties first then
// counts as empty, and the report judges what is left as the run would.
#pragma once

// Whether path is in the set (case-insensitive).
int PlannedGone(const char *path);
void MarkPlannedGone(const char *path);
// Counts path as deleted, in a preview only (the log that the run would delete).
void MarkGoneInPlan(const char *path);
// Whether nothing is at path now (in a preview: or it would be deleted).
int PathGoneNow(const char *path);
// An undo's preview: the state it has planned for a thing ("F" a file: the
// kept copy it comes from, "" gone; "D" a folder made; "K" a key made; "V"
// a value under name, detail its name: its state), so that a later line on
// the same thing sees it as the undo would have left it. Nothing outside a
// preview; PlannedUndo gives null for a thing not planned.
void PlanUndo(char kind, const char *name, const char *detail, const char *state);
const char *PlannedUndo(char kind, const char *name, const char *detail);
// Empties the set and the undo's plan (the end of the run).
void ForgetPlannedGone(void);
// Whether DeleteFileA would succeed now: the file is there and nobody holds
// it in a way that stops the deletion (without delete sharing on NT, at all
// on 95 and 98); then it joins the set. The last error is set
// as the call would set it.
int WouldDeleteFile(const char *path);
// Whether RemoveDirectoryA would succeed after the deletions counted: every
// entry inside is in the set; then the folder joins it.
int WouldRemoveDirectory(const char *path);
