// The machine's state as a set of named things (files with their content,
// folders, registry keys and values, INI items, services), the difference of
// two such states, and the check that a report names exactly that
// difference: every change by a DONE or STAGED row, and every DONE row by a
// change.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>
#include "machine.h"

// Identities, upper-cased (Windows compares them without case):
//   "F|C:\PATH"  a file (state: its content's hash and size)
//   "D|C:\PATH"  a folder
//   "K|HKLM\SOFTWARE\KEY"  a registry key
//   "V|HKLM\SOFTWARE\KEY" \1 "NAME"  a value (state: type and data)
//   "I|C:\PATH\FILE.INI" \1 "SECTION" \1 "ITEM"  an INI item (state: its value)
//   "S|NAME"  a service
struct MachineState {
    std::map<std::string, std::string> items;
};

struct StateScope {
    std::vector<std::string> trees;         // folders taken whole, with content
    std::vector<std::string> flatFolders;   // folders whose files only are taken
    std::vector<std::string> iniFiles;      // INI files taken item by item
    std::vector<std::string> skip;          // files and folders left out
};

// HKCU\Software and HKLM\Software (without Classes and Wow6432Node), the
// services, and the files of the scope.
MachineState TakeState(const StateScope &scope);

struct Change {
    std::string id;
    std::string before, after;      // "" when absent
    bool added() const { return before.empty(); }
    bool removed() const { return after.empty(); }
};
std::vector<Change> Differences(const MachineState &before, const MachineState &after);
std::string Describe(const Change &c);

// The report's text fields with their %XX escapes undone.
std::string Unescape(const std::string &field);
std::string UpperText(std::string s);

// Whether the row (seq, install, kind, target, action, outcome, reason,
// detail) names the change.
bool RowNames(const std::vector<std::string> &row, const Change &c);

// The failures of "the report is exactly the machine's difference": a change
// no DONE or STAGED row names (unless its id is in exempt, or under an
// exempt folder), and a DONE row that names no change. Empty when it holds.
std::vector<std::string> DifferenceFailures(const Report &report, const std::vector<Change> &changes,
                                            const std::set<std::string> &exempt);

// The failures of the report's last line: each count once, equal to the rows
// of its outcome; LEFT= equal to the #LEFT lines.
std::vector<std::string> ResultLineFailures(const Report &report);

// The failures of a preview against the real run that followed it on an
// unchanged machine: the same rows, each outcome and reason predicted.
std::vector<std::string> PredictionFailures(const Report &preview, const Report &real);
