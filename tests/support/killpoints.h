// Kill runs at exact moments: the program runs with this test as its
// debugger, a breakpoint on each system call that can change the machine
// (files, folders, the registry, profile writes, every WriteFile and flush);
// the run is ended just before the Nth such call. A kill at a random moment
// of the clock mostly lands in the progress display's pauses; this one lands
// between any two steps of a change (between a journal line and its change,
// between the copy and the deletion of a move...).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct CallKill {
    bool started = false;
    bool armed = false;        // every breakpoint placed
    bool killed = false;       // ended before call number `at`
    bool timedOut = false;
    unsigned calls = 0;        // calls counted, the one it was ended at included
    // Each counted call in order: its function and its arguments as
    // killpoints.cpp shows them, after tabs ("MoveFileA<tab>C:\FROM<tab>C:\TO",
    // "WriteFile<tab>h=1c<tab>FILE.C:\"); the last is the one it was ended at.
    std::vector<std::string> trace;
};

// Runs program with args (the command line after its name), ended before
// its call number `at` (from 1). at 0: the run goes to its end, and calls
// says how many calls it made.
CallKill RunKilledAtCall(const std::string &program, const std::string &args, unsigned at,
                         DWORD timeoutMs = 120000);
