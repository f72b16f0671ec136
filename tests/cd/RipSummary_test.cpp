// The end-of-rip summary: each asked-for track says how it ended, damage before any
// database verdict, and a track the session never heard of is a failure.
#include "cd/RipStatus.h"
#include "cd/RipSummary.h"

#include <gtest/gtest.h>

namespace {

using namespace cd;

RipLogTrack Record(int number, std::int32_t status, ArVerdict ar, int confidence = 0,
                   std::uint32_t uncorrectable = 0) {
    RipLogTrack t;
    t.number = number;
    t.status = status;
    t.ar = ar;
    t.arConfidence = confidence;
    t.uncorrectableFrames = uncorrectable;
    return t;
}

TEST(RipSummary, EachTrackEndsWithOneResult) {
    struct Case {
        const char* name;
        RipLogTrack record;
        const char* expected;
    };
    const Case cases[] = {
        {"matched", Record(1, RipStatusOk, ArVerdict::Match, 8), "verified (confidence 8)"},
        {"not found", Record(1, RipStatusOk, ArVerdict::NotInDatabase), "not in database"},
        {"mismatch", Record(1, RipStatusOk, ArVerdict::Mismatch), "mismatch"},
        {"damaged, several sectors", Record(1, RipStatusUncorrectable, ArVerdict::Mismatch, 0, 3),
         "damaged (3 sectors uncorrectable)"},
        {"damaged, one sector", Record(1, RipStatusUncorrectable, ArVerdict::Mismatch, 0, 1),
         "damaged (1 sector uncorrectable)"},
        // Even a match does not hide that frames were guessed.
        {"damaged but matching", Record(1, RipStatusUncorrectable, ArVerdict::Match, 4, 2),
         "damaged (2 sectors uncorrectable)"},
        {"copies differ", Record(1, RipStatusUncorrectable, ArVerdict::Mismatch),
         "damaged (the test and copy checksums differ)"},
        {"normalize failed counts as ripped",
         Record(1, RipStatusNormalizeFailed, ArVerdict::Match, 2), "verified (confidence 2)"},
        {"read failed", Record(1, RipStatusReadFailed, ArVerdict::NotVerified), "failed"},
        {"file failed", Record(1, RipStatusFileFailed, ArVerdict::Match, 5), "failed"},
        {"lookup off", Record(1, RipStatusOk, ArVerdict::Off), "not checked (AccurateRip is off)"},
        {"partial", Record(1, RipStatusOk, ArVerdict::Partial),
         "not verified (only part of the track was ripped)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TrackResultText(&c.record), c.expected) << c.name;
    }
    EXPECT_EQ(TrackResultText(nullptr), "failed");
}

TEST(RipSummary, RowsFollowTheJobsTracksNotTheSessionsRecords) {
    // The session's records come in any order, may lack a track and may hold one the job
    // did not ask for.
    const std::vector<RipLogTrack> records = {
        Record(3, RipStatusOk, ArVerdict::Match, 5),
        Record(1, RipStatusOk, ArVerdict::NotInDatabase),
        Record(7, RipStatusOk, ArVerdict::Match, 1),
    };
    const auto rows = SummarizeRip({{1, "a.wav"}, {2, "b.wav"}, {3, "c.wav"}}, records);
    ASSERT_EQ(rows.size(), 3U);
    const struct {
        int number;
        const char* name;
        const char* result;
    } expected[] = {{1, "a.wav", "not in database"},
                    {2, "b.wav", "failed"},
                    {3, "c.wav", "verified (confidence 5)"}};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].number, expected[i].number) << i;
        EXPECT_EQ(rows[i].name, expected[i].name) << i;
        EXPECT_EQ(rows[i].result, expected[i].result) << i;
    }
    EXPECT_TRUE(SummarizeRip({}, records).empty());
}

TEST(RipSummary, TheDiscLineGivesTheCtdbVerdict) {
    struct Case {
        CtdbVerdict verdict;
        int confidence;
        int total;
        const char* expected;
    };
    const Case cases[] = {
        {CtdbVerdict::Match, 7, 10, "CTDB: verified (confidence 7 of 10)"},
        {CtdbVerdict::Mismatch, 0, 6, "CTDB: mismatch (confidence 0 of 6)"},
        {CtdbVerdict::NotInDatabase, 0, 0, "CTDB: not in database"},
        {CtdbVerdict::Off, 0, 0, "CTDB: not checked (CTDB is off)"},
        {CtdbVerdict::Incomplete, 0, 0,
         "CTDB: not verified (it needs every track of the disc, ripped whole)"},
    };
    for (const Case& c : cases) {
        RipLogCtdb ctdb;
        ctdb.verdict = c.verdict;
        ctdb.confidence = c.confidence;
        ctdb.total = c.total;
        EXPECT_EQ(DiscResultText(ctdb), c.expected);
    }
}

} // namespace
