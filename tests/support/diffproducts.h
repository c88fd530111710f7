// Products laid down on the machine for the difference tests: the sample
// product of scripts/demo.sh (two installations), and generated products of
// many kinds of entries, each with its log, and a holder of files in use.
#pragma once
#include <string>
#include <vector>
#include "kvtest.h"

struct Sample {
    std::string app, shortLog, winIni;      // winIni: win.ini as it was before
};
// The machine before the product, then installation 1.0 and the upgrade to
// 1.1 with backups, as scripts/demo.sh makes them.
Sample InstallSample(const std::string &win);
void RemoveSample(const Sample &s);

// Every generated product lies below this folder. Products are made and
// checked in batches: the products of a batch never share a name, a file or
// a value (the database engine's count is used by one of them at most).
extern const char GeneratedTop[];
enum { GENERATED_BATCH = 16 };

struct Generated {
    int n = 0;
    std::string root, log, logText;
    std::string report, status;             // in the Windows folder, named after the product
    bool rollback = false;
    std::vector<std::string> held;          // files another program holds open
    std::vector<std::string> iniFiles;      // INI files whose items the log names
    std::vector<std::string> sysFiles, sharedValues;
    std::string service;
    bool engine = false;
};
// The keys and folder that every generated product lies in.
void PrepareGenerated();
// Product n from the generator's state: its files, INI items, registry and
// services made, its log written.
Generated Generate(TestRng &rng, int n, const std::string &win);
// Removes whatever of the product is left.
void RemoveGenerated(const Generated &p);
void FinishGenerated();

// Holds files open without sharing, as another program would (kv_hold);
// with shareRead, others may still read (and so copy) them.
struct Holder {
    std::string release;
    PROCESS_INFORMATION pi = {};
    bool Start(const std::vector<std::string> &files, bool shareRead = false);
    void Stop();
    ~Holder() { Stop(); }
};

// Starts each command line, KV_DIFF_PARALLEL (3) at a time, and waits for
// all of them; those marked in restarts (a rollback that ends by restarting
// the machine) come last, one at a time.
void RunAll(const std::vector<std::string> &commands, const std::vector<bool> &restarts);

// The clean-up copy (KVRxxxx.EXE) removes the program's own files after the
// run: waits until it has ended.
void WaitForCleanupCopy();
