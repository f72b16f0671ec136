// The CTDB pieces on their own: joining CRCs, which samples a track gives the disc
// checksum, the lookup's TOC parameter, and the reading of its XML reply.
#include "cd/CtdbCrc.h"
#include "cd/CtdbLookup.h"
#include "cd/DiscToc.h"
#include "cd/TrackSums.h"

#include <gtest/gtest.h>

#include <libdeflate.h>

#include <random>

namespace {

using namespace cd;

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

std::uint32_t Crc(const std::uint8_t* data, std::size_t size) {
    return libdeflate_crc32(0, data, size);
}

TEST(CtdbCrcParts, TwoJoinedCrcsEqualTheCrcOfBothPartsInOrder) {
    const auto bytes = RandomBytes(70001, 3);
    for (const std::size_t split : {std::size_t{0}, std::size_t{1}, std::size_t{7},
                                    std::size_t{4096}, bytes.size() - 1, bytes.size()}) {
        const std::uint32_t a = Crc(bytes.data(), split);
        const std::uint32_t b = Crc(bytes.data() + split, bytes.size() - split);
        EXPECT_EQ(CtdbCrc::Combine(a, b, bytes.size() - split), Crc(bytes.data(), bytes.size()))
            << "split at " << split;
    }
    // Three parts joined one after the other, as the disc's tracks are.
    const std::vector<CtdbPart> parts = {{Crc(bytes.data(), 100), 100},
                                         {Crc(bytes.data() + 100, 0), 0},
                                         {Crc(bytes.data() + 100, 69901), 69901}};
    EXPECT_EQ(CtdbCrc::DiscCrc(parts), Crc(bytes.data(), bytes.size()));
}

TEST(CtdbCrcParts, ATrackLeavesOutOnlyTheDiscsEdges) {
    struct Case {
        const char* name;
        std::uint64_t disc, start, length; // samples
        std::uint64_t head, tail;
    };
    // A disc of 82 frames (48216 samples) leaves out 5880 samples at the start and
    // 5880 + 48216 mod 5880 = 7056 at the end.
    const std::vector<Case> cases = {
        {"first track", 48216, 0, 23520, 5880, 0},
        {"inner track", 48216, 23520, 7056, 0, 0},
        {"last track", 48216, 30576, 17640, 0, 7056},
        {"only track", 48216, 0, 48216, 5880, 7056},
        // A short first track leaves the rest of the head to the next one.
        {"short first track", 300000, 0, 2940, 2940, 0},
        {"its successor", 300000, 2940, 10000, 2940, 0},
        // 57 frames: the tail (9996 samples) is longer than the last track.
        {"short last track", 33516, 30576, 2940, 0, 2940},
        {"the one before it", 33516, 23520, 7056, 0, 7056},
        {"and before that", 33516, 0, 23520, 5880, 0},
    };
    for (const Case& c : cases) {
        const CtdbRange r = CtdbCrc::RangeOf(c.disc, c.start, c.length);
        EXPECT_EQ(r.skipHead, c.head) << c.name;
        EXPECT_EQ(r.skipTail, c.tail) << c.name;
    }
}

// The database's layout of a disc read from its TOC puts the first track's index 0 at
// sector 0 and takes the tail's length (5880 + length mod 5880 samples) from the audio's
// length counted from there, while the sums start at the first track's start.
TEST(CtdbCrcParts, APregapBeforeTheFirstTrackCountsInTheTailButNotInTheSums) {
    struct Case {
        const char* name;
        std::vector<RipLogTocEntry> toc;
        std::uint32_t leadOut;
        int track;
        std::uint32_t frames;
        std::uint64_t head, tail;
    };
    const auto toc = [](std::uint32_t first, bool dataFirst) {
        std::vector<RipLogTocEntry> t;
        if (dataFirst) {
            t.push_back({1, 0, first, true});
        }
        const int n = dataFirst ? 2 : 1;
        t.push_back({n, first, 40, false});
        t.push_back({n + 1, first + 40, 42, false});
        return t;
    };
    // 82 frames of audio: from sector 0, the tail is 5880 + 48216 mod 5880 = 7056.
    // From sector 33 on, the length from sector 0 is 115 frames: 5880 + 2940 = 8820.
    // From sector 30: 112 frames, 5880 + 1176 = 7056 again.
    const std::vector<Case> cases = {
        {"no pregap, last track", toc(0, false), 82, 2, 42, 0, 7056},
        {"pregap of 33, last track", toc(33, false), 115, 2, 42, 0, 8820},
        {"pregap of 33, first track", toc(33, false), 115, 1, 40, 5880, 0},
        {"pregap of 30, last track", toc(30, false), 112, 2, 42, 0, 7056},
        // A data track first: the audio's length counts from its first audio track.
        {"data track first", toc(33, true), 115, 3, 42, 0, 7056},
    };
    for (const Case& c : cases) {
        RipDisc disc;
        disc.toc = c.toc;
        disc.leadOut = c.leadOut;
        const CtdbRange r = CtdbRangeIn(disc, c.track, std::uint64_t{c.frames} * 588);
        EXPECT_EQ(r.skipHead, c.head) << c.name;
        EXPECT_EQ(r.skipTail, c.tail) << c.name;
    }
}

TEST(CtdbCrcParts, ATrackSumsItsCountedSamplesWhateverTheBlockSizes) {
    const auto track = RandomBytes(4 * 20000, 5);
    struct Case {
        CtdbRange range;
        std::size_t block;
    };
    const std::vector<Case> cases = {
        {{5880, 0}, 2352 * 10}, {{0, 7056}, 4}, {{5880, 7056}, 1000}, {{20000, 0}, 2352},
        {{0, 0}, 333},          {{3, 5}, 1},    {{0, 20000}, 4096},   {{7000, 13000}, 23520},
    };
    for (const Case& c : cases) {
        CtdbCrc sum(20000, c.range);
        TrackSums sums;
        sums.SumForCtdb(20000, c.range);
        for (std::size_t at = 0; at < track.size(); at += c.block) {
            const std::size_t n = std::min(c.block, track.size() - at);
            sum.Add({track.data() + at, n});
            sums.Add({track.data() + at, n});
        }
        const std::size_t from = 4 * c.range.skipHead;
        const std::size_t to =
            track.size() - 4 * std::min<std::uint64_t>(c.range.skipTail, 20000 - c.range.skipHead);
        EXPECT_EQ(sum.Part().crc, Crc(track.data() + from, to - from)) << c.range.skipHead;
        EXPECT_EQ(sum.Part().bytes, to - from) << c.range.skipHead;
        ASSERT_TRUE(sums.Ctdb());
        EXPECT_EQ(sums.Ctdb()->crc, sum.Part().crc);
        EXPECT_EQ(sums.Ctdb()->bytes, sum.Part().bytes);
        // The share is summed apart from the edges; the track's CRC still covers them all.
        EXPECT_EQ(sums.Crc(), Crc(track.data(), track.size())) << c.range.skipHead;
    }
    EXPECT_FALSE(TrackSums().Ctdb()) << "asked for no share, gives none";
}

std::vector<RipLogTocEntry> Toc(const std::vector<std::pair<std::uint32_t, bool>>& tracks) {
    std::vector<RipLogTocEntry> toc;
    for (const auto& [start, data] : tracks) {
        toc.push_back({static_cast<int>(toc.size()) + 1, start, 0, data});
    }
    return toc;
}

TEST(CtdbLookupParts, TheLookupNamesTheDiscByItsTracksStartsAndLeadOut) {
    struct Case {
        std::vector<RipLogTocEntry> toc;
        std::uint32_t leadOut;
        std::string parameter;
    };
    const std::vector<Case> cases = {
        {Toc({{0, false}, {11413, false}, {25024, false}, {45713, false}}), 55220,
         "0:11413:25024:45713:55220"},
        // A data track after the audio (CD-Extra) and before it (data first).
        {Toc({{0, false}, {15047, false}, {30797, false}, {220352, true}}), 332850,
         "0:15047:30797:-220352:332850"},
        {Toc({{0, true}, {4500, false}, {21000, false}}), 40000, "-0:4500:21000:40000"},
        {Toc({{32, false}}), 18000, "32:18000"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CtdbLookup::TocParameter(c.toc, c.leadOut), c.parameter);
    }
    const auto toc = Toc({{0, false}, {40, false}});
    for (const std::string server :
         {"http://db.example", "http://db.example/", "http://db.example//"}) {
        EXPECT_EQ(CtdbLookup::Url(server, toc, 82),
                  "http://db.example/lookup2.php?version=3&ctdb=1&fuzzy=1&toc=0:40:82")
            << server;
    }
}

TEST(CtdbLookupParts, RepliesAreReadIntoEntriesAndAnythingElseIsRefused) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<ctdb xmlns=\"http://db.cuetools.net/ns/mmd-1.0#\">\n";
    const std::string two =
        head +
        "  <entry id=\"1\" crc32=\"0a1b2c3d\" confidence=\"12\" npar=\"8\" stride=\"5880\" "
        "toc=\"0:40:82\" trackcrcs=\"deadbeef 00000001\" />\n"
        "  <entry crc32='FFFFFFFF'\n confidence = '3' toc='0:40:83'/>\n"
        "  <musicbrainz artist=\"A\" album=\"B\"><track name=\"x\"/></musicbrainz>\n</ctdb>\n";
    const auto parsed = CtdbLookup::ParseReply(two);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->size(), 2u);
    EXPECT_EQ(parsed->at(0).crc, 0x0a1b2c3du);
    EXPECT_EQ(parsed->at(0).confidence, 12);
    EXPECT_EQ(parsed->at(0).toc, "0:40:82");
    EXPECT_EQ(parsed->at(0).trackCrcs, (std::vector<std::uint32_t>{0xdeadbeef, 1}));
    EXPECT_EQ(parsed->at(1).crc, 0xffffffffu);
    EXPECT_EQ(parsed->at(1).confidence, 3);
    EXPECT_TRUE(parsed->at(1).trackCrcs.empty());

    struct Case {
        const char* name;
        std::string text;
        std::optional<std::size_t> entries; // nothing: refused
    };
    const std::vector<Case> cases = {
        {"no entries", head + "</ctdb>\n", 0},
        {"empty root", "<?xml version=\"1.0\"?>\n<ctdb xmlns=\"x\"/>\n", 0},
        {"web page", "<!DOCTYPE html>\n<html><body>Not here</body></html>\n", std::nullopt},
        {"cut short", head + "  <entry crc32=\"0a1b2c3d\" confidence=\"1\" />\n", std::nullopt},
        {"bad checksum", head + "<entry crc32=\"xyz\" confidence=\"1\"/></ctdb>", std::nullopt},
        {"too long checksum", head + "<entry crc32=\"123456789\" confidence=\"1\"/></ctdb>",
         std::nullopt},
        {"negative confidence", head + "<entry crc32=\"1\" confidence=\"-4\"/></ctdb>",
         std::nullopt},
        {"no confidence", head + "<entry crc32=\"1\"/></ctdb>", std::nullopt},
        {"a look-alike attribute", head + "<entry xcrc32=\"1\" confidence=\"1\"/></ctdb>",
         std::nullopt},
        {"bad track list", head + "<entry crc32=\"1\" confidence=\"1\" trackcrcs=\"1 g\"/></ctdb>",
         std::nullopt},
        {"another root", "<ctdbx><entry crc32=\"1\" confidence=\"1\"/></ctdbx>", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto result = CtdbLookup::ParseReply(c.text);
        ASSERT_EQ(result.has_value(), c.entries.has_value()) << c.name;
        if (result) {
            EXPECT_EQ(result->size(), *c.entries) << c.name;
        }
    }
}

TEST(CtdbLookupParts, TheDiscChecksumCountsTheConfidenceOfTheEntriesThatHoldIt) {
    const std::vector<CtdbEntry> entries = {
        {0x11, 5, "", {}}, {0x22, 3, "", {}}, {0x11, 2, "", {}}};
    struct Case {
        std::uint32_t crc;
        int confidence;
        int total;
    };
    for (const Case& c : std::vector<Case>{{0x11, 7, 10}, {0x22, 3, 10}, {0x33, 0, 10}}) {
        const CtdbMatch m = CtdbLookup::Match(entries, c.crc);
        EXPECT_EQ(m.confidence, c.confidence) << c.crc;
        EXPECT_EQ(m.total, c.total) << c.crc;
    }
    EXPECT_EQ(CtdbLookup::Match({}, 0x11).total, 0);
}

} // namespace
