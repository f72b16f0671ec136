#include "cd/RipSummary.h"

#include "cd/RipStatus.h"

#include <algorithm>

namespace cd {

namespace {

std::string Damaged(const RipLogTrack& t) {
    if (t.uncorrectableFrames == 0) {
        // Every sector was read, but the two copies of a test and copy rip differ.
        return "damaged (the test and copy checksums differ)";
    }
    return "damaged (" + std::to_string(t.uncorrectableFrames) + " sector" +
           (t.uncorrectableFrames == 1 ? "" : "s") + " uncorrectable)";
}

} // namespace

std::string TrackResultText(const RipLogTrack* record) {
    if (record == nullptr) {
        return "failed";
    }
    const RipLogTrack& t = *record;
    if (t.status != RipStatusOk && t.status != RipStatusNormalizeFailed &&
        t.status != RipStatusUncorrectable) {
        return "failed";
    }
    // Damage comes first: its checksums cannot match, and the user must know why.
    if (t.status == RipStatusUncorrectable) {
        return Damaged(t);
    }
    switch (t.ar) {
    case ArVerdict::Match:
        return "verified (confidence " + std::to_string(t.arConfidence) + ")";
    case ArVerdict::NotInDatabase:
        return "not in database";
    case ArVerdict::Mismatch:
        return "mismatch";
    default:
        return ArVerdictText(t);
    }
}

std::vector<RipSummaryRow> SummarizeRip(const std::vector<RipSummaryItem>& items,
                                        const std::vector<RipLogTrack>& records) {
    std::vector<RipSummaryRow> rows;
    rows.reserve(items.size());
    for (const RipSummaryItem& item : items) {
        const int number = item.number;
        const auto found =
            std::find_if(records.begin(), records.end(),
                         [number](const RipLogTrack& t) { return t.number == number; });
        const RipLogTrack* record = found != records.end() ? &*found : nullptr;
        rows.push_back({number, item.name, TrackResultText(record)});
    }
    return rows;
}

std::string DiscResultText(const RipLogCtdb& ctdb) {
    if (ctdb.verdict == CtdbVerdict::Match) {
        return "CTDB: verified (confidence " + std::to_string(ctdb.confidence) + " of " +
               std::to_string(ctdb.total) + ")";
    }
    return "CTDB: " + CtdbVerdictText(ctdb);
}

} // namespace cd
