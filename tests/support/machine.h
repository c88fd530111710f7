// The whole machine as a text (for "nothing changed" checks) and the
// per-item report read back, for the end-to-end tests of /N, /V and /E.
#pragma once
#include <map>
#include <string>
#include <vector>

// Every file of drive C: with its attributes, size and time (and, below
// one of the folders given, its content), then HKCU's and HKLM's software
// keys and the services. The files and folders in skip are left out (the
// report itself, a test double's own records).
std::string Machine(const std::vector<std::string> &skip, const std::vector<std::string> &contentUnder);
// The first line where two machine texts differ, for a failure message.
std::string FirstDifference(const std::string &a, const std::string &b);

struct Report {
    std::map<std::string, std::string> head;        // "#MODE" -> "PREVIEW"
    std::vector<std::vector<std::string>> rows, left;
    std::string result;                             // after "#RESULT="
};
Report ReadReport(const std::string &path);
// The first row of kind and target (columns: seq, install, kind, target,
// action, outcome, reason, detail); empty when there is none.
std::vector<std::string> RowOf(const Report &r, const std::string &kind, const std::string &target);
// The real run planned what the preview planned: the same rows, each with
// the same sequence, installation, kind, target and action.
void ExpectSamePlan(const Report &preview, const Report &real);
// "OUTCOME REASON" of that row, or "<no row>".
std::string Outcome(const Report &r, const std::string &kind, const std::string &target);
