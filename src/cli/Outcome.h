#pragma once
// How a command's items ended, the exit code that follows from it, and the summary printed
// at the end (plain lines or JSON).
#include <string>
#include <vector>

namespace cli {

// How an item of a job ended.
struct TItemResult {
    int track = 0;                  // a rip's track number; 0 for a file
    std::string input;              // the file converted, or the track's title
    std::string output;             // the output's path, when it was made
    std::string status = "stopped"; // ok, damaged, failed, not verified, stopped, ...
    std::string detail;             // a verdict ("verified (confidence 3)")
};

struct TJobOutcome {
    std::vector<TItemResult> items;
    bool interrupted = false;
    std::string log;  // a secure rip's log
    std::string disc; // the disc's CTDB verdict, when there is one
};

// 130 when interrupted, 1 when any item is not "ok", else 0.
int ExitCodeOf(const TJobOutcome& outcome);
// {"command": ..., "exitCode": ..., "interrupted": ..., "items": [...], ...} on one line.
std::string OutcomeJson(const std::string& command, const TJobOutcome& outcome);
// "N of M ok" and the log's and the disc's lines, for a person.
std::string OutcomeText(const TJobOutcome& outcome);

} // namespace cli
