#pragma once
// What the job window shows when a secure rip ends: one line per track the job asked for,
// saying how it ended, and the disc's CTDB verdict. Built from the session's records;
// a track the session has no record of could not be ripped at all.
//
// Pure functions; no threads, no Qt.
#include "cd/RipLog.h"

#include <string>
#include <vector>

namespace cd {

// A track the job asked for, under the name the job gave its output.
struct RipSummaryItem {
    int number = 0;
    std::string name;
};

struct RipSummaryRow {
    int number = 0;
    std::string name;
    std::string result; // "verified (confidence 3)", "damaged (2 sectors uncorrectable)", ...
};

// The result of one track; `record` is null when the session has none.
std::string TrackResultText(const RipLogTrack* record);
// One row per item, in the order given.
std::vector<RipSummaryRow> SummarizeRip(const std::vector<RipSummaryItem>& items,
                                        const std::vector<RipLogTrack>& records);
// "CTDB: verified (confidence 7 of 10)", "CTDB: not in database", ...
std::string DiscResultText(const RipLogCtdb& ctdb);

} // namespace cd
