// The database engine sub-system: its machine-wide use count and, for the
// last user, its registry configuration.
#pragma once

enum { DB_GO_ON = 0, DB_ABORT = 1 };

// Lowers "UseCount"; the last user deletes the configuration after asking
// for the local server to be stopped. DB_ABORT when the user chose Abort.
// Given the sub-system's name, the release gets its SUBSYSTEM DECREMENT row
// (reason "COUNT n->n-1"; SKIPPED ALREADY-GONE when there was no use to
// release); an Abort gets none, its row being the caller's decision.
int RemoveDatabaseEngine(const char *rowName = 0);
